// Delivery of published files by the administrator's command: retried until it succeeds,
// recorded attempt by attempt, never repeated after success, stopped at its time limit, ended
// at its exit; and only ever the export folder's own files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/export/delivery.h"
#include "server/export/files_report.h"
#include "server/export/own_file.h"
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

TEST(BankFileName, OnlyTheExportsOwnPlainNamesAreOurs) {
    const struct {
        std::string name;
        std::int32_t batch;
    } cases[] = {
        {"EFT_US_0000000001.txt", 1},
        {"EFT_CA_2147483647.txt", 2147483647},
        {"EFT_US_2147483648.txt", 0},  // past any batch number
        {"EFT_US_0000000000.txt", 0},
        {"EFT_MX_0000000001.txt", 0},
        {"eft_us_0000000001.txt", 0},
        {"EFT_US_000000001.txt", 0},
        {"EFT_US_00000000001.txt", 0},
        {"EFT_US_00000000-1.txt", 0},
        {"EFT_US_0000000001.txt.tmp", 0},
        {".EFT_US_0000000001.txt.0123456789abcdef01234567.tmp", 0},
        {"../EFT_US_0000000001.txt", 0},
        {"/tmp/EFT_US_0000000001.txt", 0},
        {"x/EFT_US_0000000001.txt", 0},
        {"EFT_US_00000/../1.txt", 0},
        {std::string("EFT_US_000000000\0.txt", 21), 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(batchOfFileName(c.name), c.batch) << c.name;
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
        deliverWith("sh '" + script.string() + "'");
    }

    // The service's notes go to this fixture's list, gone before the service otherwise.
    void TearDown() override { service.reset(); }

    // Waits, within a generous bound, for `sql` to count `rows`.
    void waitForCount(const char* sql, std::int64_t rows) {
        waitUntil([&] { return count(sql) >= rows; });
    }
    // An attempt is recorded before its command runs: these are the ones that ended.
    void waitForAttempts(std::int64_t rows) {
        waitForCount("SELECT COUNT(*) FROM deliveries WHERE exit_status IS NOT NULL", rows);
    }

    // Exports what is saved through a service that delivers nothing, and stops it.
    void exportWithoutDelivery() {
        service.reset();
        service = std::make_unique<Service>(ServiceOptions{dbPath(), dir.path() / "export", fixedNow});
        service->exportBatches(9, 2);
        service.reset();
    }

    // A service over the fixture's database that delivers with `command`, first try again after 1 s.
    void deliverWith(const std::string& command) {
        service.reset();
        ServiceOptions o{dbPath(), dir.path() / "export", fixedNow};
        o.delivery = {command, std::chrono::seconds(20), std::chrono::seconds(1), std::chrono::seconds(1)};
        o.note = notes.sink();
        service = std::make_unique<Service>(std::move(o));
    }

    std::filesystem::path script;
    Notes notes;
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
    const std::vector<std::string> said = notes.lines();
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0], "error delivery: could not deliver EFT_US_0000000001.txt (attempt 1), exit status 3: bank "
                       "refused try 1; next try in 1 s");
    EXPECT_EQ(said[2], "info delivery: delivered EFT_US_0000000001.txt (attempt 3)");

    // A later export (of nothing) and a restart wake the deliverer: a delivered file stays delivered.
    service->exportBatches(9, 2);
    deliverWith("sh '" + script.string() + "'");
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

// A name planted in the database is never a path: nothing is written outside the folder at
// start-up, and nothing is handed to the command.
TEST_P(DeliveryTest, APlantedNameIsNeitherPublishedNorDelivered) {
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    exportWithoutDelivery();
    const std::filesystem::path outside = dir.path() / "outside";
    std::filesystem::create_directories(outside / "nested");
    std::ofstream(outside / "EFT_US_0000000001.txt") << "PRIVATE KEY\n";
    const std::string planted[] = {
        "../outside/nested/EFT_US_0000000001.txt",
        (outside / "nested" / "EFT_US_0000000001.txt").string(),
        (outside / "EFT_US_0000000001.txt").string(),
        "../outside/EFT_US_0000000001.txt",
        "EFT_US_0000000002.txt",  // ours in form, but another batch's
    };
    const std::string runs = (dir.path() / "runs").string();
    for (const std::string& name : planted) {
        SCOPED_TRACE(name);
        for (const bool published : {false, true}) {
            Statement plant = inspect->db().prepare("UPDATE batch_files SET name = ?2, published = ?3 WHERE batch_no = ?1");
            plant.bind(1, 1).bind(2, name).bind(3, int{published}).run();
            notes.clear();
            deliverWith("echo >> '" + runs + "'");
            const std::string said = published ? "delivery: refused to deliver the file of batch 1: its name \"" + name +
                                                     "\" is not the export's name for it; nothing was run"
                                               : "export: refused to publish the file of batch 1: its name \"" + name +
                                                     "\" is not the export's name for it; nothing was written";
            EXPECT_TRUE(notes.waitFor(said)) << notes.all();
            service.reset();
            EXPECT_FALSE(std::filesystem::exists(runs));
            EXPECT_FALSE(std::filesystem::exists(outside / "nested" / "EFT_US_0000000001.txt"));
            EXPECT_EQ(fileText(outside / "EFT_US_0000000001.txt"), "PRIVATE KEY\n");
            EXPECT_EQ(count("SELECT COUNT(*) FROM deliveries"), 0);
            EXPECT_EQ(count("SELECT published FROM batch_files WHERE batch_no = 1"), published ? 1 : 0);
        }
    }
}

// The published file swapped for a link, or for other bytes, is refused just before the
// command would run, and delivered once it is the export's own again.
TEST_P(DeliveryTest, APublishedFileSwappedForALinkOrOtherBytesIsRefused) {
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    exportWithoutDelivery();
    const std::filesystem::path file = dir.path() / "export" / "EFT_US_0000000001.txt";
    const std::filesystem::path kept = dir.path() / "kept.txt";
    const std::filesystem::path secret = dir.path() / "secret.pem";
    std::ofstream(secret) << "PRIVATE KEY\n";
    std::filesystem::rename(file, kept);
    std::filesystem::create_symlink(secret, file);
    deliverWith("cp \"$1\" '" + (dir.path() / "bank").string() + "/'; :");
    const std::string linkNote = "delivery: refused to deliver EFT_US_0000000001.txt (attempt 1): EFT_US_0000000001.txt "
                                 "is a symbolic link, not the export's file; nothing was run; next try in 1 s";
    EXPECT_TRUE(notes.waitFor(linkNote)) << notes.all();
    std::filesystem::remove(file);
    std::filesystem::copy_file(secret, file);
    const std::string bytesNote = "delivery: refused to deliver EFT_US_0000000001.txt (attempt 2): EFT_US_0000000001.txt "
                                  "in the export folder is not the file the database holds for batch 1; nothing was run";
    EXPECT_TRUE(notes.waitFor(bytesNote)) << notes.all();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "bank"));
    EXPECT_NE(filesReport(*inspect).find("\tfailed 2x, exit 126: not run: EFT_US_0000000001.txt in the export folder "
                                         "is not the file"),
              std::string::npos)
        << filesReport(*inspect);
    std::filesystem::remove(file);
    std::filesystem::rename(kept, file);
    waitForCount("SELECT COUNT(*) FROM deliveries WHERE exit_status = 0", 1);
    EXPECT_EQ(fileText(dir.path() / "bank" / "EFT_US_0000000001.txt"), fileText(file));
    EXPECT_EQ(fileText(secret), "PRIVATE KEY\n");
}

INSTANTIATE_TEST_SUITE_P(On, DeliveryTest, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
