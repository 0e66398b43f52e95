// Floods against the real eft-server: thousands of idle connections, headers and bodies sent a
// byte a second, and many large bodies at once, from many loopback addresses, none past its
// cap of connections. A normal client must still be answered within a second, and the server
// must cut the floods off and keep its memory.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "net/pages.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The flood's i-th connection comes from one of many addresses, 200 each, none of them the
// normal client's 127.0.0.1.
std::string floodAddress(std::size_t i) {
    return "127.0." + std::to_string(1 + i / 200 / 250) + "." + std::to_string(1 + i / 200 % 250);
}

std::size_t openDescriptors(pid_t pid) {
    std::error_code ignored;
    std::size_t n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored);
         it != std::filesystem::directory_iterator(); it.increment(ignored))
        ++n;
    return n;
}

class FloodTest : public ::testing::Test {
protected:
    void SetUp() override {
        files = raiseOpenFileLimit();  // the server inherits it
        server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db=" + (dir.path() / "eft.db").string(), "--seed-demo"}, std::vector<std::string>{},
            dir.path());
        ASSERT_TRUE(server->started()) << server->log();
    }

    // A normal operator's request pairs, every 200 ms until `until`, which may move while they
    // run. A pair takes some milliseconds, and up to a second more when the kernel drops its
    // connection's first SYN while ten thousand others queue to be accepted; a server that
    // starved it would serve it only once the idle connections' 5 s header time ran out.
    static constexpr auto kPairBound = 3s;
    void normalRequestsUntil(const std::atomic<Clock::time_point>& until) {
        int i = 0;
        while (Clock::now() < until.load()) {
            const auto t0 = Clock::now();
            const Fetched list = fetch(pages::batchListAddress(server->base()), {.timeoutMs = 5000});
            const Fetched save = fetch(server->base() + "EFTMember.asp",
                                       {.method = "POST", .body = "RecordCount=0",
                                        .headers = {std::string(pages::kRequestHeader)}, .timeoutMs = 5000});
            EXPECT_EQ(list.status, 200) << i << ": " << list.error;
            EXPECT_EQ(save.status, 200) << i << ": " << save.error;
            EXPECT_LT(Clock::now() - t0, kPairBound) << "request pair " << i;
            ++i;
            std::this_thread::sleep_for(200ms);
        }
        EXPECT_GE(i, 2) << "the normal client had its turns during the flood";
    }

    TempDir dir;
    long files = 0;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(FloodTest, TenThousandIdleConnectionsLeaveRoomForANormalClient) {
    constexpr std::size_t kIdle = 10000;
    ASSERT_GE(files, static_cast<long>(kIdle + 256)) << "this test needs a hard open-file limit above " << kIdle;
    std::vector<std::unique_ptr<RawClient>> idle;
    idle.reserve(kIdle);
    const auto t0 = Clock::now();
    // The first connections are dropped 5 s after they opened; the normal client starts once
    // half are open, so it has its turns however long the opening takes.
    std::atomic<Clock::time_point> until = t0 + 4500ms;
    std::thread normal;
    for (std::size_t i = 0; i < kIdle; ++i) {
        if (i == kIdle / 2) normal = std::thread([&] { normalRequestsUntil(until); });
        idle.push_back(std::make_unique<RawClient>(server->port(), floodAddress(i).c_str()));
        if (!idle.back()->connected()) {
            until = t0;
            if (normal.joinable()) normal.join();
            FAIL() << "connection " << i << " was not opened";
        }
    }
    const auto opened = Clock::now();
    // Held by the server, not waiting in its listen queue (unless the first ones' time ran out).
    if (opened - t0 < 4s) {
        EXPECT_GE(openDescriptors(server->pid()), kIdle);
    }
    until = std::min(opened + 2s, t0 + 4500ms);
    normal.join();
    // Each is dropped when its header time runs out.
    std::this_thread::sleep_until(opened + 6s);
    std::size_t closed = 0;
    for (auto& c : idle) closed += c->closedByPeer() ? 1 : 0;
    EXPECT_EQ(closed, kIdle);
    EXPECT_LT(openDescriptors(server->pid()), 200u);
}

TEST_F(FloodTest, SlowHeadersAndTrickledBodiesAreCutOff) {
    const std::string slowHeader = "GET /eft/EFTMemberBatch.asp?TSQL=BatchList HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    const std::string slowBody = "POST /eft/EFTMember.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                 std::string(pages::kRequestHeader) + "\r\nContent-Length: 100000\r\n\r\nRecordCount=";
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 1000 + 64; ++i) {
        slow.push_back(std::make_unique<RawClient>(server->port(), floodAddress(i).c_str()));
        ASSERT_TRUE(slow.back()->send(i < 1000 ? slowHeader : slowBody)) << i;
    }
    const auto start = Clock::now();
    std::atomic<bool> done = false;
    std::thread trickle([&] {
        while (!done) {
            for (auto& c : slow) c->send("1");
            for (int t = 0; t < 10 && !done; ++t) std::this_thread::sleep_for(100ms);
        }
    });
    const std::atomic<Clock::time_point> until = start + 4s;
    normalRequestsUntil(until);
    // Headers are due 5 s after the first byte; a body at a byte a second falls behind the
    // minimum rate once its 5 s of grace are over, and is answered 408, then read for 2 s so
    // that the answer is not lost to a reset.
    std::this_thread::sleep_until(start + 9s);
    done = true;
    trickle.join();
    std::size_t headersOpen = 0, bodiesOpen = 0, bodiesTold = 0;
    for (std::size_t i = 0; i < slow.size(); ++i) {
        const std::string got = slow[i]->readAll(20ms);  // what came before the end
        (i < 1000 ? headersOpen : bodiesOpen) += slow[i]->closedByPeer() ? 0 : 1;
        if (i >= 1000) bodiesTold += got.starts_with("HTTP/1.1 408") ? 1 : 0;
    }
    EXPECT_EQ(headersOpen, 0u);
    EXPECT_EQ(bodiesOpen, 0u);
    EXPECT_EQ(bodiesTold, 64u);
    EXPECT_NE(server->logWith("the request body came too slowly").find("the request body came too slowly"),
              std::string::npos);
}

// Large bodies of one endless pair, and headers that never end: each is refused once past its
// cap, so the server's memory stays near what it needs anyway.
TEST_F(FloodTest, HugePairsAndEndlessHeadersHoldNoMemory) {
    const std::string head = "POST /eft/EFTMember.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + std::string(pages::kRequestHeader) +
                             "\r\nContent-Length: " + std::to_string(16u << 20) + "\r\n\r\nSQL1=";
    std::atomic<int> refused = 0, cutOff = 0;
    std::vector<std::thread> clients;
    for (int i = 0; i < 64 + 16; ++i) {
        clients.emplace_back([&, i] {
            RawClient c(server->port());
            const bool headers = i >= 64;
            const std::string piece = headers ? std::string(2048, 'a') + ": b\r\n" : std::string(64 * 1024, 'x');
            if (!c.send(headers ? "GET /health HTTP/1.1\r\n" : head)) return;
            for (std::size_t sent = 0; sent < (16u << 20); sent += piece.size()) {
                if (!c.send(piece)) break;
                if (c.answered()) break;
            }
            const std::string reply = c.readAll(3s);
            if (!headers && reply.find("A pair is over 64 KiB") != std::string::npos) ++refused;
            if (headers && reply.starts_with("HTTP/1.1 431")) ++cutOff;
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(refused.load(), 64);
    EXPECT_EQ(cutOff.load(), 16);
    const long peak = peakMemoryKiB(server->pid());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 256 * 1024) << "peak resident memory in KiB";
}

}  // namespace
}  // namespace eft::server::testing
