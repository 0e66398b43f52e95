// Two eft-server instances on one database while four operators (eft-driver processes) save,
// export and commit at once, and one instance is killed with SIGKILL and started again in the
// middle, several times. Whatever the interleaving, the database must account for every charge
// once, every bank file must match its batch and be published exactly once, in one folder, and
// be handed to the bank by the server of that folder once, or be in doubt, never twice.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kOperators = 4;
constexpr int kRounds = 12;  // per operator
constexpr int kKills = 8;    // of the first instance, spread over the run

// Reads the database behind the servers' backs through a connection of its own, with SQL that
// both engines read alike, so the check relies on no query of the store it checks.
class Probe {
public:
    explicit Probe(const std::string& location) : db_(location) {}
    std::int64_t count(const std::string& sql) {
        Statement s = db_.prepare(sql);
        return s.step() ? s.integer(0) : -1;
    }
    // Each row's two columns as raw bytes (a file's name and content).
    std::vector<std::pair<std::string, std::string>> pairs(const std::string& sql) {
        std::vector<std::pair<std::string, std::string>> out;
        Statement s = db_.prepare(sql);
        while (s.step()) out.emplace_back(s.text(0), s.text(1));
        return out;
    }

private:
    Database db_;
};

// The charges whose state disagrees with their batch items: in the sweep or saved, a charge is
// in no open batch and cleared in none; exported, it waits in exactly one batch; cleared, it
// was cleared in exactly one.
constexpr const char* kChargesOutOfState = R"sql(
SELECT COUNT(*) FROM (
  SELECT c.state,
         (SELECT COUNT(*) FROM batch_items i WHERE i.charge_id = c.id AND i.outcome IS NULL) AS waiting,
         (SELECT COUNT(*) FROM batch_items i WHERE i.charge_id = c.id AND i.outcome = 1) AS cleared
  FROM charges c) t
WHERE NOT ((t.state IN (0, 14) AND t.waiting = 0 AND t.cleared = 0)
        OR (t.state = 20 AND t.waiting = 1 AND t.cleared = 0)
        OR (t.state = 30 AND t.waiting = 0 AND t.cleared = 1)))sql";

// A batch made by an export that another export had already made: it holds no item.
constexpr const char* kEmptyBatches =
    "SELECT COUNT(*) FROM batches b WHERE NOT EXISTS (SELECT 1 FROM batch_items i WHERE i.batch_no = b.batch_no)";

// The files whose entries are not their batch's items summed by center (a center's positive net
// is a debit, a negative one a credit), or that are missing for a batch that moves money.
constexpr const char* kFilesUnlikeTheirItems = R"sql(
WITH nets AS (
  SELECT i.batch_no, c.center_id, SUM(CAST(ROUND(i.amount * 100) AS INTEGER)) AS cents
  FROM batch_items i JOIN charges c ON c.id = i.charge_id GROUP BY i.batch_no, c.center_id),
sums AS (
  SELECT batch_no,
         SUM(CASE WHEN cents > 0 THEN 1 ELSE 0 END) AS debit_count,
         SUM(CASE WHEN cents > 0 THEN cents ELSE 0 END) AS debit_cents,
         SUM(CASE WHEN cents < 0 THEN 1 ELSE 0 END) AS credit_count,
         SUM(CASE WHEN cents < 0 THEN -cents ELSE 0 END) AS credit_cents
  FROM nets GROUP BY batch_no)
SELECT COUNT(*) FROM sums s LEFT JOIN batch_files f ON f.batch_no = s.batch_no
WHERE (f.batch_no IS NULL AND s.debit_count + s.credit_count > 0)
   OR f.debit_count <> s.debit_count OR f.debit_cents <> s.debit_cents
   OR f.credit_count <> s.credit_count OR f.credit_cents <> s.credit_cents)sql";

// Published files with no attempt that exited 0 nor one without an outcome (under way or in
// doubt): the delivery command never fails here, so these are the files still to go.
constexpr const char* kFilesNotYetDelivered =
    "SELECT COUNT(*) FROM batch_files f WHERE f.published = 1 AND NOT EXISTS (SELECT 1 FROM deliveries d "
    "WHERE d.batch_no = f.batch_no AND (d.exit_status = 0 OR d.exit_status IS NULL))";

class SeveralInstances : public OnEngine {
protected:
    // Both servers deliver into one log, a line per run of the command with the path it was
    // given; the command takes a moment, so that some kills land while it runs.
    std::unique_ptr<ServerProcess> startServer(const fs::path& exportDir, int port) {
        return std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db=" + db, "--port=" + std::to_string(port), "--export-dir=" + exportDir.string(),
                                     "--seed-demo", "--deliver-retry=1",
                                     "--deliver-command=sleep 0.3; echo >> '" + deliveryLog().string() + "'"},
            std::vector<std::string>{}, dir.path());
    }
    fs::path deliveryLog() const { return dir.path() / "delivered.log"; }

    // One operator's round in a driver of its own, so a step the control refuses (a save that
    // came second, a batch another operator committed) ends only that round: load, save one
    // center, export, and commit the oldest batch with its first center cleared and the others
    // failed, which puts their charges back in the sweep for later rounds.
    static std::string round(const std::string& base, int person, int line) {
        return "set-variables " + base + " " + std::to_string(person) +
               " 2\n"
               "click cmdLoadData\n"
               "tick lstEFTCenter " + std::to_string(line) + "\n"
               "click cmdViewCenterDetails\n"
               "click cmdSelectAllMerchandise\n"
               "answer yes\n"
               "click cmdSaveMerchandise\n"
               "answer yes\n"
               "tab 2\n"
               "choose cmbBatches 1\n"
               "tick lstBatchDetails 0\n"
               "answer yes\n"
               "click cmdPassedFailed\n";
    }
};

TEST_P(SeveralInstances, EveryChargeAndFileIsAccountedForOnceAfterAKill) {
    const fs::path exportDirs[2] = {dir.path() / "export-a", dir.path() / "export-b"};
    std::unique_ptr<ServerProcess> servers[2];
    servers[0] = startServer(exportDirs[0], 0);
    ASSERT_TRUE(servers[0]->started()) << servers[0]->log();
    const int portA = servers[0]->port();
    servers[1] = startServer(exportDirs[1], 0);
    ASSERT_TRUE(servers[1]->started()) << servers[1]->log();
    const std::string bases[2] = {servers[0]->base(), servers[1]->base()};
    Probe probe(db);
    const std::int64_t charges = probe.count("SELECT COUNT(*) FROM charges");
    ASSERT_GT(charges, 100) << "no demo sweep";

    // Operators 0 and 1 work on the first instance, 2 and 3 on the second; neighbours pick the
    // same centers so their saves and commits collide.
    std::atomic<int> roundsDone{0};
    std::vector<std::jthread> operators;
    for (int k = 0; k < kOperators; ++k) {
        operators.emplace_back([&, k] {
            for (int r = 0; r < kRounds; ++r) {
                const fs::path script = dir.path() / ("op" + std::to_string(k) + "-" + std::to_string(r) + ".txt");
                std::ofstream(script) << round(bases[k / 2], 7 + k, (r + k) % 3);
                runProgram(std::string(EFT_DRIVER_PATH) + " --no-fail-on-error " + script.string());
                ++roundsDone;
            }
        });
    }
    const int total = kOperators * kRounds;
    for (int kill = 1; kill <= kKills; ++kill) {
        while (roundsDone < total * kill / (kKills + 1)) std::this_thread::sleep_for(5ms);
        ASSERT_EQ(::kill(servers[0]->pid(), SIGKILL), 0);
        ASSERT_EQ(servers[0]->wait(10s), 128 + SIGKILL);
        std::this_thread::sleep_for(200ms);  // the first instance's operators meet a closed port
        servers[0] = startServer(exportDirs[0], portA);
        ASSERT_TRUE(servers[0]->started()) << servers[0]->log();
    }
    operators.clear();
    // Every published file delivered or in doubt before the servers stop (a stop mid-command
    // would leave one more in doubt, which is fine too).
    const auto settled = std::chrono::steady_clock::now() + 120s;
    while (probe.count(kFilesNotYetDelivered) > 0 && std::chrono::steady_clock::now() < settled)
        std::this_thread::sleep_for(50ms);
    for (auto& s : servers) EXPECT_EQ(s->terminate(20s), 0) << s->log();

    // The run did what it is meant to test: batches exported, and items committed.
    EXPECT_GE(probe.count("SELECT COUNT(*) FROM batch_files"), 2);
    EXPECT_GE(probe.count("SELECT COUNT(*) FROM batch_items WHERE outcome IS NOT NULL"), 1);
    EXPECT_EQ(probe.count("SELECT COUNT(*) FROM charges"), charges);
    EXPECT_EQ(probe.count(kChargesOutOfState), 0);
    EXPECT_EQ(probe.count(kEmptyBatches), 0);
    EXPECT_EQ(probe.count(kFilesUnlikeTheirItems), 0);
    EXPECT_EQ(probe.count("SELECT COUNT(*) FROM batch_files WHERE published = 0"), 0);

    std::cout << "[ instances ] " << probe.count("SELECT COUNT(*) FROM batches") << " batches, "
              << probe.count("SELECT COUNT(*) FROM batch_items WHERE outcome = 1") << " items cleared and "
              << probe.count("SELECT COUNT(*) FROM batch_items WHERE outcome = 2") << " failed, "
              << probe.count("SELECT COUNT(*) FROM charges WHERE state = 20") << " charges waiting in a batch"
              << std::endl;

    // Each file the database holds is in exactly one export folder, byte for byte, and the
    // folders hold nothing else but hidden temporary files and, set aside in superseded/, the
    // copy a killed server had written out of a file that the other one then published.
    std::map<std::string, std::vector<std::string>> published;  // name: its contents found
    std::map<std::string, std::string> setAside;
    for (const fs::path& folder : exportDirs) {
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name == "superseded") {
                for (const auto& copy : fs::directory_iterator(entry.path()))
                    setAside[copy.path().filename().string()] = fileText(copy.path());
            } else if (!name.starts_with(".")) {
                published[name].push_back(fileText(entry.path()));
            }
        }
    }
    for (const auto& [name, content] : probe.pairs("SELECT name, content FROM batch_files")) {
        if (const auto copy = setAside.find(name); copy != setAside.end()) {
            EXPECT_TRUE(copy->second == content) << name << " set aside differs from its batch";
            setAside.erase(copy);
        }
        const auto found = published.find(name);
        if (found == published.end()) {
            ADD_FAILURE() << name << " was never published";
            continue;
        }
        EXPECT_EQ(found->second.size(), 1u) << name << " was published into both folders";
        for (const std::string& text : found->second) EXPECT_TRUE(text == content) << name << " differs from its batch";
        published.erase(found);
    }
    for (const auto& [name, contents] : published) ADD_FAILURE() << name << " is in a folder but not in the database";
    for (const auto& [name, content] : setAside) ADD_FAILURE() << name << " was set aside but is not in the database";

    // Each file went to the bank from the folder it was published into, once, or is in doubt:
    // its server was killed while the command ran, which may or may not have sent it.
    std::map<std::string, std::vector<fs::path>> sent;  // name: the paths the command was given
    {
        std::ifstream log(deliveryLog());
        for (std::string line; std::getline(log, line);) sent[fs::path(line).filename().string()].push_back(line);
    }
    int inDoubt = 0;
    for (const auto& [name, content] : probe.pairs("SELECT name, content FROM batch_files")) {
        const std::int64_t delivered = probe.count(
            "SELECT COUNT(*) FROM deliveries d JOIN batch_files f ON f.batch_no = d.batch_no WHERE f.name = '" + name +
            "' AND d.exit_status = 0");
        const std::int64_t open = probe.count(
            "SELECT COUNT(*) FROM deliveries d JOIN batch_files f ON f.batch_no = d.batch_no WHERE f.name = '" + name +
            "' AND d.exit_status IS NULL");
        const std::vector<fs::path>& paths = sent[name];
        EXPECT_LE(paths.size(), 1u) << name << " was delivered " << paths.size() << " times";
        EXPECT_LE(delivered + open, 1) << name << " has " << delivered << " deliveries and " << open << " in doubt";
        if (delivered == 1) EXPECT_EQ(paths.size(), 1u) << name << " is recorded delivered but the command never ran";
        else if (open == 0) ADD_FAILURE() << name << " was never delivered";
        inDoubt += static_cast<int>(open);
        for (const fs::path& path : paths)
            EXPECT_TRUE(fileText(path) == content) << name << " was delivered from " << path << ", not its own folder";
    }
    std::cout << "[ instances ] " << sent.size() << " files delivered, " << inDoubt << " in doubt" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Engines, SeveralInstances, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
