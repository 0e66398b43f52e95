// Delivery of published files by the administrator's command: retried until it succeeds,
// recorded attempt by attempt, never repeated after success, stopped at its time limit, ended
// at its exit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/export/delivery.h"
#include "server/export/files_report.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

std::string sha256sum(const std::filesystem::path& file) {
    std::string out;
    if (FILE* p = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r")) {
        char buf[128];
        while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
        ::pclose(p);
    }
    return out.substr(0, 64);
}

TEST(RunCommand, ExitStatusStderrHeadAndTimeLimit) {
    const struct {
        const char* command;
        int status;
        const char* head;
    } cases[] = {
        {"true", 0, ""},
        {"echo one >&2; echo two >&2; exit 5; :", 5, "one\ntwo\n"},
        {"for i in 1 2 3 4 5 6 7 8 9 10 11 12; do echo line$i >&2; done; false", 1,
         "line1\nline2\nline3\nline4\nline5\nline6\nline7\nline8\nline9\nline10\n"},
        {"test -n", 0, ""},  // the path arrives as the one argument
        {"kill -TERM $$; :", 128 + 15, ""},
    };
    for (const auto& c : cases) {
        const CommandOutcome o = runCommand(c.command, "/some path/EFT_US_0000000001.txt", std::chrono::seconds(10)).value();
        EXPECT_EQ(o.exitStatus, c.status) << c.command;
        EXPECT_EQ(o.stderrHead, c.head) << c.command;
    }
    // A command that outlives its limit is stopped, its children with it.
    const auto started = std::chrono::steady_clock::now();
    const CommandOutcome slow = runCommand("sleep 30 & wait; :", "/tmp/x", std::chrono::milliseconds(300)).value();
    EXPECT_EQ(slow.exitStatus, 124);
    EXPECT_NE(slow.stderrHead.find("time limit"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    // Stopping the server stops the command and records nothing.
    const std::atomic<bool> stop = true;
    EXPECT_FALSE(runCommand("sleep 30", "/tmp/x", std::chrono::seconds(60), &stop).has_value());
}

TEST(RunCommand, EndsAtTheCommandsExitThoughAChildHoldsItsStderr) {
    // Waiting for the child would take 15 s; the command itself takes milliseconds, well under a
    // second on a loaded machine.
    const auto started = std::chrono::steady_clock::now();
    const CommandOutcome o = runCommand("echo sent >&2; sleep 15 & exit 0; :", "/tmp/x", std::chrono::seconds(60)).value();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(o.exitStatus, 0);
    EXPECT_EQ(o.stderrHead, "sent\n");
}

class DeliveryTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (IsSkipped()) return;
        script = dir.path() / "deliver.sh";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "n=$(cat '" << (dir.path() / "tries").string() << "' 2>/dev/null || echo 0)\n"
                                 "n=$((n + 1)); echo $n > '" << (dir.path() / "tries").string() << "'\n"
                                 "if [ $n -le 2 ]; then echo \"bank refused try $n\" >&2; exit 3; fi\n"
                                 "cp \"$1\" '" << dir.path().string() << "/bank/'\n";
        std::filesystem::create_directory(dir.path() / "bank");
        service.reset();
        DeliveryOptions delivery{"sh '" + script.string() + "'", std::chrono::seconds(20), std::chrono::seconds(1),
                                 std::chrono::seconds(1)};
        service = std::make_unique<Service>(
            ServiceOptions{dbPath(), dir.path() / "export", fixedNow, {}, delivery, [this](std::string_view line) {
                               std::lock_guard lock(notesMutex);
                               notes.emplace_back(line);
                           }});
    }

    // Waits, within a generous bound, for the deliveries table to hold `rows` rows.
    void waitForAttempts(std::int64_t rows) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (count("SELECT COUNT(*) FROM deliveries") < rows && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    std::filesystem::path script;
    std::mutex notesMutex;
    std::vector<std::string> notes;
};

TEST_P(DeliveryTest, FailsTwiceThenSucceedsAndIsNeverRepeated) {
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    service->exportBatches(9, 2);
    waitForAttempts(3);
    Statement s = inspect->db().prepare("SELECT batch_no, attempt, exit_status, stderr FROM deliveries ORDER BY attempt");
    std::vector<std::string> rows;
    while (s.step())
        rows.push_back(std::to_string(s.integer(0)) + " " + std::to_string(s.integer(1)) + " " +
                       std::to_string(s.integer(2)) + " " + std::string(s.text(3)));
    EXPECT_EQ(rows, (std::vector<std::string>{"1 1 3 bank refused try 1\n", "1 2 3 bank refused try 2\n", "1 3 0 "}));
    const std::filesystem::path file = dir.path() / "export" / "EFT_US_0000000001.txt";
    EXPECT_EQ(fileText(dir.path() / "bank" / "EFT_US_0000000001.txt"), fileText(file));
    {
        std::lock_guard lock(notesMutex);
        ASSERT_EQ(notes.size(), 3u);
        EXPECT_EQ(notes[0].rfind("delivery: could not deliver EFT_US_0000000001.txt (attempt 1, exit status 3: bank "
                                 "refused try 1); next try in 1 s", 0), 0u) << notes[0];
        EXPECT_EQ(notes[2], "delivery: delivered EFT_US_0000000001.txt (attempt 3)");
    }

    // A later export (of nothing) and a restart wake the deliverer: a delivered file stays delivered.
    service->exportBatches(9, 2);
    service.reset();
    service = std::make_unique<Service>(ServiceOptions{dbPath(), dir.path() / "export", fixedNow, {},
                                                       {"sh '" + script.string() + "'"}, [](std::string_view) {}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    service.reset();
    EXPECT_EQ(count("SELECT COUNT(*) FROM deliveries"), 3);
    EXPECT_EQ(fileText(dir.path() / "tries"), "3\n");

    const std::string listing = filesReport(*inspect);
    EXPECT_EQ(listing.substr(0, listing.find('\n')), "file\tbatch\tcountry\tentries\tdebits\tcredits\tsha256\tpublished\tdelivered");
    const std::string line = listing.substr(listing.find('\n') + 1);
    EXPECT_EQ(line.rfind("EFT_US_0000000001.txt\t1\tUS\t1\t", 0), 0u) << line;
    EXPECT_NE(line.find("\t" + sha256sum(file) + "\t2011-03-05T10:20:30\t2011-03-05T10:20:30\n"), std::string::npos) << line;
}

TEST_P(DeliveryTest, FailedDeliveriesAreListed) {
    service.reset();
    service = std::make_unique<Service>(ServiceOptions{dbPath(), dir.path() / "export", fixedNow, {},
                                                       {"echo 'host unreachable' >&2; exit 7; :", std::chrono::seconds(5),
                                                        std::chrono::seconds(3600)},
                                                       [](std::string_view) {}});
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    service->exportBatches(9, 2);
    waitForAttempts(1);
    EXPECT_NE(filesReport(*inspect).find("\tfailed 1x, exit 7: host unreachable\n"), std::string::npos) << filesReport(*inspect);
}

INSTANTIATE_TEST_SUITE_P(On, DeliveryTest, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
