// The GET's hand-over between the thread that receives and the reader: every byte arrives once
// and in order however the reply comes, and a reader that stops, throws or is gone ends the
// transfer at once, also while the receiving side is held up by a full queue.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/http.h"
#include "support/canned_server.h"
#include "ui/phrases.h"

namespace eft::test {
namespace {

// Bytes that tell any two offsets apart within a few bytes: a piece lost, doubled or swapped
// changes the whole.
std::string patterned(std::size_t n) {
    std::string s(n, '\0');
    unsigned x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>('a' + (x >> 16) % 26);
    }
    return s;
}

TEST(HttpGet, EveryByteArrivesOnceInOrderOnTheCallingThread) {
    const struct {
        const char* name;
        std::size_t bytes;
        std::size_t pace;  // bytes a chunk, 0: the body at once
    } cases[] = {
        {"largerThanTheQueue", std::size_t{6} << 20, 0},
        {"manySmallChunks", 200'000, 700},
        {"empty", 0, 0},
    };
    for (const auto& c : cases) {
        const std::string body = patterned(c.bytes);
        CannedServer server;
        server.on("big", {body, 200, std::chrono::milliseconds(0), false, "", c.pace, false, false, c.pace != 0});
        std::string got;
        std::size_t largest = 0;
        bool elsewhere = false;
        const auto caller = std::this_thread::get_id();
        TransferWait wait;
        int turns = 0;
        wait.turn = [&] { ++turns; };
        const FetchResult r = httpGet(server.base() + "big", HttpLimits{}, [&](std::string_view piece) {
            elsewhere = elsewhere || std::this_thread::get_id() != caller;
            largest = std::max(largest, piece.size());
            got.append(piece);
            return true;
        }, wait);
        EXPECT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(got.size(), body.size()) << c.name;
        EXPECT_TRUE(got == body) << c.name;
        EXPECT_FALSE(elsewhere) << c.name;
        EXPECT_LE(largest, std::size_t{512} * 1024) << c.name;
    }
}

TEST(HttpGet, AReaderThatStopsEndsTheTransferAndIsNotCalledAgain) {
    enum class How { Refuses, Throws, Leaves };
    const struct {
        const char* name;
        How how;
    } cases[] = {{"refuses", How::Refuses}, {"throws", How::Throws}, {"leaves", How::Leaves}};
    // Far more than the queue and the socket buffers hold: the receiving side is held up
    // when the reader stops.
    const std::string body = patterned(std::size_t{48} << 20);
    CannedServer server;
    server.on("big", {body});
    for (const auto& c : cases) {
        int calls = 0;
        bool gone = false;
        TransferWait wait;
        wait.turn = [] {};
        wait.cancelled = [&] { return gone; };
        const auto read = [&](std::string_view) {
            ++calls;
            if (calls < 2) return true;
            // Held long enough for the queue behind it to fill.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (c.how == How::Throws) throw std::runtime_error("the reader's own failure");
            if (c.how == How::Leaves) gone = true;
            return c.how != How::Refuses;
        };
        if (c.how == How::Throws) {
            EXPECT_THROW(httpGet(server.base() + "big", HttpLimits{}, read, wait), std::runtime_error) << c.name;
        } else {
            const FetchResult r = httpGet(server.base() + "big", HttpLimits{}, read, wait);
            EXPECT_FALSE(r.ok) << c.name;
            EXPECT_EQ(r.error, ui::phrase::kReaderStopped) << c.name;
        }
        EXPECT_EQ(calls, 2) << c.name;
    }
}

}  // namespace
}  // namespace eft::test
