// Deliveries whose outcome the server could not know or keep: the database down or locked while
// the command runs, the server stopped or killed mid-command. The command never runs twice by
// itself: the file ends recorded as delivered, or in doubt until the administrator says what
// the bank got.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "server/export/delivery.h"
#include "server/export/files_report.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kUsFile = "EFT_US_0000000001.txt";
constexpr const char* kCaFile = "EFT_CA_0000000002.txt";

// A delivery command that says when it starts and ends only once the test lets it (or after
// 30 s): each run that ends appends the file's name to a list.
class GatedCommand {
public:
    explicit GatedCommand(fs::path dir) : dir_(std::move(dir)) {
        fs::create_directories(dir_);
        std::ofstream(dir_ / "deliver.sh") << "f=$(basename \"$1\")\n"
                                           << ": > '" << dir_.string() << "/started-'\"$f\"\n"
                                           << "i=0; while [ ! -e '" << (dir_ / "go").string()
                                           << "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done\n"
                                           << "echo \"$f\" >> '" << (dir_ / "runs").string() << "'\n";
    }
    std::string command() const { return "sh '" + (dir_ / "deliver.sh").string() + "'"; }
    bool started(const std::string& name) const {
        return waitUntil([&] { return fs::exists(dir_ / ("started-" + name)); });
    }
    void release() const { std::ofstream(dir_ / "go") << "go\n"; }
    std::vector<std::string> runs() const {
        std::vector<std::string> lines;
        std::istringstream in(fileText(dir_ / "runs"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool ranTimes(std::size_t n) const {
        return waitUntil([&] { return runs().size() >= n; });
    }

private:
    fs::path dir_;
};

// `uri` with its database replaced by `name`; the database it named in `database`.
std::string otherDatabase(const std::string& uri, const std::string& name, std::string& database) {
    const std::size_t slash = uri.find('/', uri.find("://") + 3);
    const std::size_t query = std::min(uri.find('?', slash), uri.size());
    database = uri.substr(slash + 1, query - slash - 1);
    return uri.substr(0, slash + 1) + name + uri.substr(query);
}

// The database refusing the server's writes until it ends: on SQLite another connection holds
// the write lock past the busy timeout; on PostgreSQL the database takes no connection and the
// ones open are ended (from a connection to another database of the cluster).
class Outage {
public:
    explicit Outage(const std::string& location)
        : postgres_(isPostgresUri(location)),
          admin_(postgres_ ? otherDatabase(location, "postgres", database_) : location) {
        if (!postgres_) {
            admin_.exec("BEGIN IMMEDIATE");
            return;
        }
        admin_.exec(("ALTER DATABASE " + database_ + " ALLOW_CONNECTIONS false").c_str());
        admin_.exec(("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + database_ + "'")
                        .c_str());
    }
    ~Outage() { end(); }
    void end() {
        if (over_) return;
        over_ = true;
        if (postgres_) admin_.exec(("ALTER DATABASE " + database_ + " ALLOW_CONNECTIONS true").c_str());
        else admin_.exec("ROLLBACK");
    }

private:
    bool postgres_;
    std::string database_;
    Database admin_;
    bool over_ = false;
};

class DeliveryDoubt : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (IsSkipped()) return;
        gate = std::make_unique<GatedCommand>(dir.path() / "gate");
    }
    // The service's notes go to a test's own list, gone before the fixture.
    void TearDown() override { service.reset(); }

    // A connection of its own again: PostgreSQL ended the one open through the outage.
    void reopenInspect() { inspect = std::make_unique<Store>(dbPath()); }

    std::unique_ptr<Service> deliveringService(Notes& notes) {
        ServiceOptions o{dbPath(), exportDir(), fixedNow};
        o.delivery = {gate->command(), 60s, 1s, 1s};
        o.note = notes.sink();
        return std::make_unique<Service>(std::move(o));
    }

    // The deliverer's first pass under way, with the US file's command started and held.
    void exportAndHoldTheCommand(Notes& notes) {
        ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
        service = deliveringService(notes);
        service->exportBatches(9, 2);
        ASSERT_TRUE(gate->started(kUsFile)) << notes.all();
    }

    std::string attempts() {
        Statement s = inspect->db().prepare(
            "SELECT batch_no, attempt, COALESCE(CAST(exit_status AS TEXT), 'none') FROM deliveries ORDER BY 1, 2");
        std::string out;
        while (s.step()) out += std::string(s.text(0)) + "/" + std::string(s.text(1)) + ":" + std::string(s.text(2)) + " ";
        return out;
    }

    std::unique_ptr<GatedCommand> gate;
    // Before the service in TearDown, so no note reaches a list that is gone.
    Notes notes, notesAfter;
};

TEST_P(DeliveryDoubt, AnOutageWhileTheCommandRunsIsWaitedOutAndTheCommandRunsOnce) {
    exportAndHoldTheCommand(notes);
    Outage outage(dbPath().string());
    gate->release();
    ASSERT_TRUE(notes.waitFor("could not record the outcome of EFT_US_0000000001.txt (attempt 1, exit status 0)"))
        << notes.all();
    // The record is tried again, never the command, however long the outage.
    std::this_thread::sleep_for(2500ms);
    outage.end();
    ASSERT_TRUE(notes.waitFor("recorded the outcome of EFT_US_0000000001.txt (attempt 1, exit status 0)"))
        << notes.all();
    std::this_thread::sleep_for(2500ms);  // two passes of the deliverer after it
    EXPECT_EQ(gate->runs(), std::vector<std::string>{kUsFile});
    reopenInspect();
    EXPECT_EQ(attempts(), "1/1:0 ");
    const std::string listing = filesReport(*inspect);
    EXPECT_NE(listing.find("\t2011-03-05T10:20:30\n"), std::string::npos) << listing;
}

TEST_P(DeliveryDoubt, StoppedBeforeTheOutcomeIsRecordedTheFileIsInDoubtUntilTheAdministratorSays) {
    Notes& before = notes;
    exportAndHoldTheCommand(before);
    {
        Outage outage(dbPath().string());
        gate->release();
        ASSERT_TRUE(before.waitFor("could not record the outcome")) << before.all();
        service.reset();
    }
    reopenInspect();
    EXPECT_NE(before.all().find("stopped before the outcome of EFT_US_0000000001.txt (attempt 1, exit status 0) could "
                                "be recorded: it is in doubt"),
              std::string::npos)
        << before.all();

    Notes& after = notesAfter;
    service = deliveringService(after);
    const std::string doubt = "EFT_US_0000000001.txt (batch 1): attempt 1 started 2011-03-05T10:20:30 by the server "
                              "with pid " + std::to_string(::getpid()) + " on host ";
    EXPECT_EQ(after.all().rfind("warning delivery: in doubt: " + doubt, 0), 0u) << after.all();
    ASSERT_EQ(service->deliveriesInDoubt().size(), 1u);
    EXPECT_EQ(service->deliveriesInDoubt().front().rfind(doubt, 0), 0u) << service->deliveriesInDoubt().front();
    const std::string listing = filesReport(*inspect);
    EXPECT_EQ(listing.rfind("Deliveries in doubt", 0), 0u) << listing;
    EXPECT_NE(listing.find("\nin doubt: " + doubt), std::string::npos) << listing;
    EXPECT_NE(listing.find("\tin doubt since 2011-03-05T10:20:30 (attempt 1)\n"), std::string::npos) << listing;
    std::this_thread::sleep_for(2500ms);  // two passes of the deliverer
    EXPECT_EQ(gate->runs(), std::vector<std::string>{kUsFile});

    const std::string said = resolveDelivery(*inspect, 1, Resolution::Delivered, "ops", "Alice", "2011-03-06T09:00:00");
    EXPECT_EQ(said, "EFT_US_0000000001.txt (batch 1): attempt 1 recorded as delivered by ops as Alice; the file is "
                    "not delivered again\n");
    const std::string resolved = filesReport(*inspect);
    EXPECT_EQ(resolved.rfind("file\t", 0), 0u) << resolved;
    EXPECT_NE(resolved.find("\t2011-03-05T10:20:30 (recorded as delivered by ops as Alice at 2011-03-06T09:00:00)\n"),
              std::string::npos)
        << resolved;
    EXPECT_TRUE(service->deliveriesInDoubt().empty());
    try {
        resolveDelivery(*inspect, 1, Resolution::Redeliver, "ops", "", "2011-03-06T09:01:00");
        ADD_FAILURE() << "a resolved delivery was resolved again";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("is not in doubt"), std::string::npos) << e.what();
    }
    EXPECT_THROW(resolveDelivery(*inspect, 7, Resolution::Delivered, "ops", "", "2011-03-06T09:01:00"),
                 std::runtime_error);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(gate->runs(), std::vector<std::string>{kUsFile});
}

// The real server, killed with SIGKILL while its command runs; the command goes on to its end.
TEST_P(DeliveryDoubt, AServerKilledMidCommandLeavesTheFileInDoubtForTheAdministrator) {
    ASSERT_EQ(service->save(bodyFor({kDues1001, kDues2001})), "");
    service->exportBatches(9, 2);
    service.reset();
    const std::vector<std::string> args{"--db=" + dbPath().string(), "--export-dir=" + exportDir().string(),
                                        "--deliver-command=" + gate->command(), "--deliver-retry=1"};
    {
        ServerProcess first(args, {}, dir.path());
        ASSERT_TRUE(first.started()) << first.log();
        ASSERT_TRUE(gate->started(kUsFile)) << first.log();
        ASSERT_EQ(::kill(first.pid(), SIGKILL), 0);
        ASSERT_EQ(first.wait(10s), 128 + SIGKILL);
    }
    gate->release();
    ASSERT_TRUE(gate->ranTimes(1));  // the bank has the file; the database cannot know

    ServerProcess second(args, {}, dir.path());
    ASSERT_TRUE(second.started()) << second.log();
    EXPECT_NE(second.log().find("in doubt: EFT_US_0000000001.txt (batch 1): attempt 1 started "), std::string::npos)
        << second.log();
    ASSERT_TRUE(gate->ranTimes(2)) << second.log();  // the Canadian file, which was not in doubt
    const Fetched health = fetch(second.origin() + "/health");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body.rfind("ok\ndelivery in doubt: EFT_US_0000000001.txt (batch 1): attempt 1 started ", 0), 0u)
        << health.body;
    std::this_thread::sleep_for(2500ms);  // two passes of the deliverer
    EXPECT_EQ(gate->runs(), (std::vector<std::string>{kUsFile, kCaFile}));

    const std::string files = std::string(EFT_SERVER_PATH) + " files --db='" + dbPath().string() + "'";
    const Ran listing = runProgram(files);
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("\nin doubt: EFT_US_0000000001.txt (batch 1)"), std::string::npos) << listing.out;
    // Only a delivery in doubt is resolved, by its batch number.
    const struct {
        std::string options;
        std::string says;
    } refused[] = {
        {"--delivered 2", "the delivery of EFT_CA_0000000002.txt (batch 2) is not in doubt (delivered "},
        {"--redeliver 9", "batch 9 has no bank file; nothing was changed"},
        {"--delivered 1 --redeliver 1", "excludes"},
        {"--by Alice", "--by goes with --delivered or --redeliver"},
    };
    for (const auto& r : refused) {
        const Ran ran = runProgram(files + " " + r.options);
        EXPECT_NE(ran.status, 0) << r.options << ": " << ran.out;
        EXPECT_NE(ran.out.find(r.says), std::string::npos) << r.options << ": " << ran.out;
    }
    const Ran redeliver = runProgram(files + " --redeliver 1 --by Alice");
    EXPECT_EQ(redeliver.status, 0) << redeliver.out;
    EXPECT_NE(redeliver.out.find("EFT_US_0000000001.txt (batch 1): attempt 1 recorded for delivery again by "),
              std::string::npos)
        << redeliver.out;
    // The running server takes it up: the administrator asked for the second delivery.
    ASSERT_TRUE(gate->ranTimes(3)) << second.log();
    EXPECT_EQ(gate->runs(), (std::vector<std::string>{kUsFile, kCaFile, kUsFile}));
    ASSERT_TRUE(waitUntil([&] { return attempts() == "1/1:none 1/2:0 2/1:0 "; })) << attempts();
    Statement who = inspect->db().prepare(
        "SELECT resolution, resolved_by, resolved_as FROM deliveries WHERE batch_no = 1 AND attempt = 1");
    ASSERT_TRUE(who.step());
    EXPECT_EQ(who.text(0), "redeliver");
    EXPECT_FALSE(who.text(1).empty());
    EXPECT_EQ(who.text(2), "Alice");
    EXPECT_EQ(fetch(second.origin() + "/health").body, "ok\n");
    EXPECT_EQ(second.terminate(20s), 0) << second.log();
}

INSTANTIATE_TEST_SUITE_P(On, DeliveryDoubt, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
