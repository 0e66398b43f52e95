// The real eft-server killed (SIGKILL) at different moments of a large save: the database
// always opens whole afterwards and holds either every posted record saved or none of them.
#include <gtest/gtest.h>
#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/pages.h"
#include "server/pages/save_record.h"
#include "server/store/seed.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kCharges = 40000;
constexpr std::size_t kPosted = 30000;
constexpr int kSaved = 14;

struct Reply {
    bool answered = false;
    int status = 0;
    std::string body;
    std::chrono::milliseconds saveTime{0};
};

// When the server is killed: a delay after the whole body has been sent, or once it has replied.
// `ofSaveTime` (when above 0) replaces the fixed delay by that share of the time the server
// took to answer the same save, measured on the first point, so that some kills land inside the
// save on a fast machine as on a slow one.
struct KillPoint {
    const char* name;
    std::chrono::milliseconds afterSent;
    bool afterReply;
    double ofSaveTime = 0;
};

enum class Outcome { None, All };

class KillDuringSave : public ::testing::Test {
protected:
    void SetUp() override {
        pristine = dir.path() / "pristine.db";
        work = dir.path() / "work.db";
        Store store(pristine);
        seedSynthetic(store, kCharges, 1);
        ASSERT_EQ(store.countSweepRows(1), static_cast<std::int64_t>(kCharges));
        body = controlSaveBody(store, 1, kPosted, 7, 2);
    }

    // A fresh copy of the seeded database, with no journal of any earlier run beside it.
    void resetWork() {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            fs::remove(fs::path(work.string() + suffix));
            const fs::path from(pristine.string() + suffix);
            if (suffix != std::string("-shm") && fs::exists(from)) fs::copy_file(from, fs::path(work.string() + suffix));
        }
    }

    // Starts the server on the work copy, posts the save and kills the server at `at`.
    // `replyBody` is set when the server answered before it was killed.
    void postAndKill(const KillPoint& at, std::optional<std::string>& replyBody) {
        const std::chrono::milliseconds delay =
            at.ofSaveTime > 0 ? std::chrono::milliseconds(static_cast<std::int64_t>(at.ofSaveTime * saveTime.count()))
                              : at.afterSent;
        std::promise<void> sentPromise;
        std::future<void> sent = sentPromise.get_future();
        std::promise<Reply> replyPromise;
        std::future<Reply> reply = replyPromise.get_future();
        std::atomic<bool> fullySent{false};
        // Declared before the server so that the server is killed before the poster is joined.
        std::jthread poster;
        ServerProcess server({"--db=" + work.string(), "--export-dir=" + (dir.path() / "export").string()}, {},
                             dir.path());
        ASSERT_TRUE(server.started()) << server.log();
        const std::string host = "127.0.0.1";
        const int port = server.port();
        const std::string path = server.base().substr(server.origin().size()) + std::string(pages::kMemberPage);

        poster = std::jthread([&, host, port, path] {
            // A write to the killed server must fail with EPIPE, not end the test process.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            httplib::Client client(host, port);
            client.set_default_headers({{std::string(pages::kRequestHeaderName), std::string(pages::kRequestHeaderValue)}});
            client.set_connection_timeout(5);
            client.set_write_timeout(30);
            client.set_read_timeout(60);
            bool told = false;
            auto res = client.Post(
                path.c_str(), body.size(),
                [&](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::size_t n = std::min<std::size_t>(length, 64 * 1024);
                    if (!sink.write(body.data() + offset, n)) return false;
                    if (offset + n == body.size() && !told) {
                        fullySent = true;
                        told = true;
                        sentPromise.set_value();
                    }
                    return true;
                },
                "application/x-www-form-urlencoded");
            if (!told) sentPromise.set_value();
            Reply r;
            if (res) {
                r.answered = true;
                r.status = res->status;
                r.body = res->body;
            }
            replyPromise.set_value(std::move(r));
        });

        ASSERT_EQ(sent.wait_for(60s), std::future_status::ready) << "the body was never sent";
        ASSERT_TRUE(fullySent) << "the post failed before its whole body was sent";
        const auto sentAt = std::chrono::steady_clock::now();
        if (at.afterReply) {
            ASSERT_EQ(reply.wait_for(60s), std::future_status::ready) << "no reply to the save";
            saveTime = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sentAt);
        } else {
            std::this_thread::sleep_for(delay);
        }
        ASSERT_EQ(::kill(server.pid(), SIGKILL), 0);
        ASSERT_EQ(server.wait(10s), 128 + SIGKILL) << "the server had ended on its own before the kill";
        poster.join();
        const Reply r = reply.get();
        if (r.answered) {
            EXPECT_EQ(r.status, 200) << r.body;
            replyBody = r.body;
        }
    }

    // Opens the killed server's database and checks it is whole and all-or-none saved.
    void checkAfterKill(Outcome& outcome) {
        Store store(work);
        std::vector<std::string> integrity;
        Statement check = store.db().prepare("PRAGMA integrity_check");
        while (check.step()) integrity.emplace_back(check.text(0));
        ASSERT_EQ(integrity, std::vector<std::string>{"ok"});

        auto scalar = [&](const char* sql) {
            Statement s = store.db().prepare(sql);
            EXPECT_TRUE(s.step()) << sql;
            return s.integer(0);
        };
        const std::int64_t saved = scalar("SELECT COUNT(*) FROM charges WHERE state = 14");
        const std::int64_t inSweep = store.countSweepRows(1);
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM charges"), static_cast<std::int64_t>(kCharges));
        EXPECT_EQ(saved + inSweep, static_cast<std::int64_t>(kCharges)) << "saved " << saved;
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM charges WHERE state = 14 AND saved_by = 7 AND saved_by_type = 2"),
                  saved);
        ASSERT_TRUE(saved == 0 || saved == static_cast<std::int64_t>(kPosted))
            << saved << " of the " << kPosted << " posted records are saved";
        outcome = saved == 0 ? Outcome::None : Outcome::All;
    }

    TempDir dir;
    fs::path pristine;
    fs::path work;
    std::string body;
    std::chrono::milliseconds saveTime{0};
};

TEST_F(KillDuringSave, TheDatabaseHoldsAllOrNoneOfTheSave) {
    static_assert(kSaved == static_cast<int>(ChargeState::Saved));
    const KillPoint points[] = {
        {"after the reply", 0ms, true},
        {"0 ms after the body was sent", 0ms, false},
        {"20 ms after the body was sent", 20ms, false},
        {"60 ms after the body was sent", 60ms, false},
        {"150 ms after the body was sent", 150ms, false},
        {"a quarter of the save time after the body was sent", 0ms, false, 0.25},
        {"half the save time after the body was sent", 0ms, false, 0.5},
        {"three quarters of the save time after the body was sent", 0ms, false, 0.75},
        {"nine tenths of the save time after the body was sent", 0ms, false, 0.9},
    };
    for (const KillPoint& at : points) {
        SCOPED_TRACE(at.name);
        resetWork();
        std::optional<std::string> replyBody;
        postAndKill(at, replyBody);
        if (HasFatalFailure()) return;
        Outcome outcome = Outcome::None;
        checkAfterKill(outcome);
        if (HasFatalFailure()) return;
        if (at.afterReply) {
            ASSERT_TRUE(replyBody.has_value());
            EXPECT_EQ(*replyBody, "") << "the save was refused";
            EXPECT_EQ(outcome, Outcome::All) << "a save the server answered as done was lost";
        }
        // A reply saying done promises the whole save is kept.
        if (replyBody && replyBody->empty()) {
            EXPECT_EQ(outcome, Outcome::All);
        }
        std::cout << "[   kill   ] " << at.name << ": " << (outcome == Outcome::All ? "all" : "none") << " saved"
                  << (replyBody ? " (answered)" : "") << " [save time " << saveTime.count() << " ms]" << std::endl;
    }
}

}  // namespace
}  // namespace eft::server::testing
