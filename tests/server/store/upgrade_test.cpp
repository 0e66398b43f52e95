// Upgrades and restores: a database of the oldest schema migrated with nothing lost, a newer
// one refused untouched, and a backup restored under an export folder that has moved on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <sstream>

#include "server/export/file_claim.h"
#include "server/store/schema.h"
#include "server/store/seed.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

// Every row of the tables the oldest schema had, as text, so nothing lost or changed goes unseen.
std::string everyRow(Database& db) {
    std::string out;
    const std::pair<const char*, int> queries[] = {
        {"SELECT id, member_id, center_id, source, sweep_sequence, state, royalty, nmc_payment, posted_amount, "
         "saved_by, saved_at FROM charges ORDER BY id", 11},
        {"SELECT batch_no, country, exported_at, person_id, person_type, file_name FROM batches ORDER BY batch_no", 6},
        {"SELECT batch_no, charge_id, amount, outcome, outcome_at FROM batch_items ORDER BY 1, 2", 5},
        {"SELECT id, name, country FROM centers ORDER BY id", 3},
        {"SELECT id, name, center_id FROM members ORDER BY id", 3}};
    for (const auto& [sql, columns] : queries) {
        Statement s = db.prepare(sql);
        while (s.step()) {
            for (int c = 0; c < columns; ++c) out += std::string(s.text(c)) + "|";
            out += "\n";
        }
    }
    return out;
}

class UpgradeTest : public ::testing::Test {
protected:
    std::filesystem::path db() const { return dir.path() / "eft.db"; }

    void writeOldest() {
        std::ifstream in(EFT_FIXTURE_DIR "/schema_oldest.sql");
        ASSERT_TRUE(in) << "cannot read the fixture";
        std::stringstream sql;
        sql << in.rdbuf();
        Database old(db());
        old.exec(sql.str().c_str());
    }

    TempDir dir;
};

TEST_F(UpgradeTest, OldestSchemaMigratesKeepingEveryChargeBatchAndFile) {
    writeOldest();
    std::string before;
    {
        Database old(db());
        EXPECT_EQ(schemaVersion(old), 0);
        before = everyRow(old);
    }
    ASSERT_NE(before.find("EFT_CA_0000000002.txt"), std::string::npos);
    {
        Store store(db());
        EXPECT_EQ(schemaVersion(store.db()), kSchemaVersion);
        EXPECT_EQ(everyRow(store.db()), before);
        // A charge saved before Totals were kept exports the amount it was saved with.
        Statement saved = store.db().prepare("SELECT batch_cents FROM charges WHERE id = 2");
        ASSERT_TRUE(saved.step());
        EXPECT_EQ(saved.integer(0), 3025);
        EXPECT_FALSE(store.isDemo());  // real-looking data: no demo originator for it
    }
    // The copy taken first is the database as it was.
    const std::filesystem::path copy = db().string() + ".v0.bak";
    ASSERT_TRUE(std::filesystem::exists(copy));
    {
        Database old(copy);
        EXPECT_EQ(schemaVersion(old), 0);
        EXPECT_EQ(everyRow(old), before);
    }

    // The upgraded database serves: the batches wait for their status, and the saved charge
    // exports as the next batch.
    Store store(db());
    Transaction t(store.db(), Transaction::Mode::Write);
    store.markDemo();
    store.setCenterAccount(12, {"011000015", "", "", "12345678", bank::AccountType::Checking});
    t.commit();
    Service service({db(), dir.path() / "export", fixedNow});
    const std::string list = service.batchListXml();
    EXPECT_NE(list.find("<BatchControl>1</BatchControl>"), std::string::npos) << list;
    EXPECT_NE(list.find("<BatchControl>2</BatchControl>"), std::string::npos) << list;
    const std::string report = service.exportBatches(9, 2);
    EXPECT_NE(report.find("file EFT_US_0000000003.txt, batch 3, 1 entries (1 items of 1 centers); debits 30.25"),
              std::string::npos)
        << report;
    // Opening again migrates nothing and copies nothing.
    EXPECT_FALSE(std::filesystem::exists(db().string() + ".v0-2.bak"));
    EXPECT_FALSE(std::filesystem::exists(db().string() + ".v1.bak"));
}

TEST_F(UpgradeTest, ADemoSeededBeforeTheMarkIsRecognisedByItsAccounts) {
    writeOldest();
    {
        Database old(db());
        old.exec("CREATE TABLE center_accounts (center_id INTEGER PRIMARY KEY REFERENCES centers(id), routing TEXT, "
                 "institution TEXT, transit TEXT, account TEXT NOT NULL, account_type INTEGER NOT NULL)");
        for (const auto& [center, country] : {std::pair{12, 1}, std::pair{15, 1}, std::pair{34, 2}}) {
            const bank::BankAccount a = demoAccount(country, static_cast<std::uint64_t>(center));
            Statement s = old.prepare("INSERT INTO center_accounts VALUES (?1, NULLIF(?2, ''), NULLIF(?3, ''), NULLIF(?4, ''), ?5, ?6)");
            s.bind(1, center).bind(2, a.routing).bind(3, a.institution).bind(4, a.transit).bind(5, a.number);
            s.bind(6, static_cast<int>(a.type)).run();
        }
    }
    Store store(db());
    EXPECT_TRUE(store.isDemo());
}

// The upgrade is told where the administrator looks: the server's log (as information), or
// the standard error of the command that opened the database first. Its batches from before
// files were kept are listed with the totals their items make.
TEST_F(UpgradeTest, TheUpgradeIsLoggedAndTheOldBatchesAreListed) {
    writeOldest();
    const std::filesystem::path other = dir.path() / "other.db";
    std::filesystem::copy_file(db(), other);
    const std::string upgraded = " from schema version 0 to " + std::to_string(kSchemaVersion) +
                                 "; the database as it was is kept in ";
    std::string log;
    {
        ServerProcess server({"--db=" + db().string(), "--log-format=json"}, {}, dir.path());
        ASSERT_TRUE(server.started()) << server.log();
        log = server.log();
        EXPECT_EQ(server.terminate(std::chrono::seconds(5)), 0);
    }
    nlohmann::json note;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find("upgraded") != std::string::npos) note = nlohmann::json::parse(line);
    EXPECT_EQ(note.value("level", ""), "info") << log;
    EXPECT_EQ(note.value("text", ""), "database: upgraded the database " + db().string() + upgraded + db().string() +
                                          ".v0.bak")
        << log;

    const std::string rows =
        "EFT_US_0000000001.txt\t1\tUS\t1\t0.00 (0)\t125.00 (1)\tnot kept\tnot recorded (exported "
        "2011-03-02T09:00:00)\tnot recorded\n"
        "EFT_CA_0000000002.txt\t2\tCA\t1\t120.50 (1)\t0.00 (0)\tnot kept\tnot recorded (exported "
        "2011-03-02T09:00:00)\tnot recorded\n";
    const struct {
        std::filesystem::path db;
        const char* upgradeLine;  // empty: none, the server upgraded it
    } cases[] = {{db(), ""}, {other, "eft-server: upgraded the database "}};
    for (const auto& c : cases) {
        const Ran files = runProgram(std::string(EFT_SERVER_PATH) + " files --db=" + c.db.string());
        EXPECT_EQ(files.status, 0) << files.out;
        EXPECT_NE(files.out.find(rows), std::string::npos) << files.out;
        EXPECT_NE(files.out.find("Not kept: a batch exported before bank files were kept"), std::string::npos);
        const std::string said = std::string(c.upgradeLine) + c.db.string() + upgraded + c.db.string() + ".v0.bak\n";
        EXPECT_EQ(files.out.find(said) != std::string::npos, *c.upgradeLine != 0) << files.out;
    }
    // A batch that settled with nothing to transfer had no file, then or now.
    {
        Store store(other);
        Transaction t(store.db(), Transaction::Mode::Write);
        store.db().exec("INSERT INTO batches VALUES (3, 1, '2011-03-03T09:00:00', 7, 2, 'EFT_US_0000000003.txt', NULL);"
                        "INSERT INTO batch_items (batch_no, charge_id, amount) VALUES (3, 2, 30.25), (3, 1, -30.25)");
        t.commit();
        EXPECT_EQ(store.listFiles().size(), 2u);
    }
}

// A newer database is refused before anything is written to it: not even its journal mode
// changes. The program that refuses it may be the server or a command.
TEST_F(UpgradeTest, NewerDatabaseIsRefusedByteForByte) {
    const std::string newer = std::to_string(kSchemaVersion + 93);
    for (const char* journal : {"DELETE", "WAL"}) {
        std::filesystem::remove(db());
        {
            Database made(db());
            made.exec((std::string("PRAGMA journal_mode=") + journal + "; CREATE TABLE later (x); PRAGMA user_version = " +
                       newer).c_str());
        }
        const std::string before = fileText(db());
        ASSERT_FALSE(before.empty());
        try {
            Store store(db());
            ADD_FAILURE() << "a newer database was opened";
        } catch (const StoreError& e) {
            EXPECT_NE(std::string(e.what()).find("has schema version " + newer + ", newer than this program's " +
                                                 std::to_string(kSchemaVersion)),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(fileText(db()), before) << journal;
        for (const std::string& command :
             {std::string(EFT_SERVER_PATH) + " --db=" + db().string(),
              std::string(EFT_SERVER_PATH) + " files --db=" + db().string()}) {
            const Ran ran = runProgram(command);
            EXPECT_EQ(ran.status, 1) << command << ": " << ran.out;
            EXPECT_NE(ran.out.find("schema version " + newer), std::string::npos) << ran.out;
            EXPECT_EQ(fileText(db()), before) << journal << ": " << command;
        }
    }
}

// A dry run writes nothing, an upgrade included: an older database is refused as it stands.
TEST_F(UpgradeTest, ADryRunRefusesAnOlderDatabaseByteForByte) {
    writeOldest();
    const std::filesystem::path input = dir.path() / "input.csv";
    std::ofstream(input) << "center_id,name,country\n";
    const std::string before = fileText(db());
    for (const char* command : {" import --dry-run --db=", " returns --dry-run --db="}) {
        const Ran ran = runProgram(std::string(EFT_SERVER_PATH) + command + db().string() + " " + input.string());
        EXPECT_EQ(ran.status, 1) << command << ": " << ran.out;
        EXPECT_NE(ran.out.find("has schema version 0, older than this program's " + std::to_string(kSchemaVersion)),
                  std::string::npos)
            << ran.out;
        EXPECT_EQ(fileText(db()), before) << command;
        EXPECT_FALSE(std::filesystem::exists(db().string() + ".v0.bak")) << command;
    }
}

// A database of version 4, the last before the sweep's index carried the charges' columns and
// before deliveries were recorded as started (and with none of the returns, shown-change counts,
// item keys and list counter of versions 7 to 10), opens at this version with the same sweep,
// deliveries and batch list on either engine.
class LastVersionTest : public ServerFixture {};

TEST_P(LastVersionTest, OpensAtThisVersionWithTheSameSweepAndDeliveries) {
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    service->exportBatches(9, 2);
    const std::string us = service->sweepXml(1), canada = service->sweepXml(2), list = service->batchListXml();
    ASSERT_NE(list.find("<MemberID>1001</MemberID>"), std::string::npos) << list;
    service.reset();
    Database& db = inspect->db();
    // Back past version 10's list counter, version 9's keys of an item, version 8's count of the
    // changes shown and version 7's returns: their tables, triggers and columns go.
    if (db.engine() == Engine::SQLite) {
        for (const char* table : {"item", "batch", "center"})
            for (const char* change : {"added", "changed", "removed"})
                db.exec(("DROP TRIGGER list_" + std::string(table) + "_" + change).c_str());
        db.exec("DROP TABLE list_clock");
    } else {
        db.exec("DROP TRIGGER batch_list_items ON batch_items; DROP TRIGGER batch_list_batches ON batches; "
                "DROP TRIGGER batch_list_centers ON centers; DROP FUNCTION batch_list_changed(); DROP TABLE list_clock");
    }
    db.exec("DROP INDEX batch_items_listed");
    for (const char* column : {"center_id", "member_id", "source", "sweep_sequence"})
        db.exec(("ALTER TABLE batch_items DROP COLUMN " + std::string(column)).c_str());
    db.exec(db.engine() == Engine::SQLite
                ? "DROP TRIGGER sweep_member_shown; DROP TABLE sweep_shown"
                : "DROP TRIGGER sweep_members_shown ON members; DROP FUNCTION sweep_members_shown(); DROP TABLE sweep_shown");
    db.exec("DROP TABLE applied_returns; DROP TABLE center_holds; DROP TABLE change_notices");
    for (const char* column : {"return_code", "return_meaning", "return_date", "return_file", "reversed_clearing_at",
                               "reversed_clearing_login"})
        db.exec(("ALTER TABLE batch_items DROP COLUMN " + std::string(column)).c_str());
    for (const char* column : {"retries", "first_presented", "presented_cents"})
        db.exec(("ALTER TABLE charges DROP COLUMN " + std::string(column)).c_str());
    if (db.engine() == Engine::SQLite) {
        db.exec("DROP INDEX charges_sweep_rows; CREATE INDEX charges_in_sweep_order ON charges "
                "(state, center_id, member_id, source, sweep_sequence); DROP TABLE deliveries; "
                "CREATE TABLE deliveries (batch_no INTEGER NOT NULL REFERENCES batch_files(batch_no), "
                "attempt INTEGER NOT NULL, started_at TEXT NOT NULL, exit_status INTEGER NOT NULL, "
                "stderr TEXT NOT NULL, PRIMARY KEY (batch_no, attempt)); PRAGMA user_version = 4");
    } else {
        db.exec("DROP INDEX deliveries_open; ALTER TABLE deliveries DROP COLUMN started_by, DROP COLUMN ended_at, "
                "DROP COLUMN resolution, DROP COLUMN resolved_at, DROP COLUMN resolved_by, DROP COLUMN resolved_as, "
                "ALTER COLUMN exit_status SET NOT NULL, ALTER COLUMN stderr DROP DEFAULT; "
                "DELETE FROM schema_version; INSERT INTO schema_version (version) VALUES (4)");
    }
    db.exec("INSERT INTO deliveries (batch_no, attempt, started_at, exit_status, stderr) VALUES "
            "(1, 1, '2011-03-05T10:30:00', 3, 'refused\n'), (1, 2, '2011-03-05T11:30:00', 0, '')");
    inspect.reset();
    Store upgraded(dbPath());
    EXPECT_EQ(schemaVersion(upgraded.db()), kSchemaVersion);
    if (upgraded.db().engine() == Engine::SQLite) {
        Statement index = upgraded.db().prepare(
            "SELECT group_concat(name) FROM sqlite_master WHERE type = 'index' AND tbl_name = 'charges' "
            "AND name NOT LIKE 'sqlite_autoindex%'");
        ASSERT_TRUE(index.step());
        EXPECT_EQ(index.text(0), "charges_sweep_rows");
    }
    // The attempts as they were; the file stays delivered, and nothing is in doubt.
    const std::optional<FileListing> file = upgraded.fileListing(1);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->deliveries.size(), 2u);
    EXPECT_EQ(file->deliveries[0].exitStatus, 3);
    EXPECT_EQ(file->deliveries[0].stderrHead, "refused\n");
    EXPECT_EQ(file->deliveries[1].exitStatus, 0);
    EXPECT_TRUE(upgraded.openDeliveries().empty());
    EXPECT_TRUE(upgraded.pendingDeliveries(publishPlace(exportDir())).empty());
    // Version 7's columns start empty beside the items and charges that were there.
    Statement returned = upgraded.db().prepare(
        "SELECT COUNT(*), COUNT(bi.return_code), SUM(ch.retries), COUNT(ch.presented_cents) "
        "FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id");
    ASSERT_TRUE(returned.step());
    EXPECT_GT(returned.integer(0), 0);
    EXPECT_EQ(returned.integer(1), 0);
    EXPECT_EQ(returned.integer(2), 0);
    EXPECT_EQ(returned.integer(3), 0);
    returned.reuse();
    // The waiting batch lists as it did, its items' keys filled from their charges; a list kept
    // is written again after a change, the change counter's triggers in place.
    ServiceOptions options{dbPath(), exportDir(), fixedNow};
    options.settleEvery = std::chrono::milliseconds(0);
    Service listing(std::move(options));
    EXPECT_EQ(listing.batchListXml(), list);
    // A batch without its file, as one exported before files were kept, is listed from its items.
    upgraded.db().exec("INSERT INTO batches (batch_no, country, exported_at, person_id, person_type, file_name) "
                       "VALUES (7, 2, '2011-03-01T09:00:00', 9, 2, 'EFT_CA_0000000007.txt'); "
                       "INSERT INTO batch_items (batch_no, charge_id, amount, center_id, member_id, source, "
                       "sweep_sequence) SELECT 7, id, -19.75, center_id, member_id, source, sweep_sequence "
                       "FROM charges ORDER BY id LIMIT 1");
    EXPECT_NE(listing.batchListXml().find("<BatchControl>7</BatchControl>"), std::string::npos);
    const std::vector<FileListing> files = upgraded.listFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].kept);
    EXPECT_FALSE(files[1].kept);
    EXPECT_EQ(files[1].name, "EFT_CA_0000000007.txt");
    EXPECT_EQ(files[1].exportedAt, "2011-03-01T09:00:00");
    EXPECT_EQ(files[1].summary.creditCents, 1975);
    EXPECT_EQ(files[1].summary.entries(), 1);
    Service reopened({dbPath(), exportDir(), fixedNow});
    EXPECT_EQ(reopened.sweepXml(1), us);
    EXPECT_EQ(reopened.sweepXml(2), canada);
}

INSTANTIATE_TEST_SUITE_P(On, LastVersionTest, kEngines, engineName);

class RestoreTest : public ServerFixture {};

TEST_P(RestoreTest, ExportAfterRestoreGoesOnPastEveryFileAndOverwritesNone) {
    const std::filesystem::path out = dir.path() / "export";
    const std::filesystem::path backup = dir.path() / "backup.db";
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    service->exportBatches(9, 2);  // batch 1, United States
    {
        Statement copy = inspect->db().prepare("VACUUM INTO ?1");
        copy.bind(1, backup.string()).run();
    }
    const std::string second = bodyFor({kDues2001, kDues1003});
    ASSERT_EQ(service->save(second), "");
    service->exportBatches(9, 2);  // batches 2 (United States, the day's second file) and 3 (Canada, file 1)
    const std::string us2 = fileText(out / "EFT_US_0000000002.txt");
    const std::string ca3 = fileText(out / "EFT_CA_0000000003.txt");
    ASSERT_FALSE(us2.empty());
    ASSERT_FALSE(ca3.empty());

    // The restore of docs/administrator.md: stop, put the backup in place without its -wal and
    // -shm, start.
    service.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(dbPath().string() + suffix);
    std::filesystem::copy_file(backup, dbPath());
    std::vector<std::string> notes;
    service = std::make_unique<Service>(
        ServiceOptions{dbPath(), out, fixedNow, {}, {}, [&notes](LogLevel, std::string_view line) {
                           notes.emplace_back(line);
                       }});
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("EFT_US_0000000002.txt is in the export folder but not in the database"), std::string::npos);

    // The restored database has those charges in the sweep again; they export under new numbers.
    ASSERT_EQ(service->save(second), "");
    const std::string report = service->exportBatches(9, 2);
    EXPECT_NE(report.find("United States: file EFT_US_0000000004.txt, batch 4"), std::string::npos) << report;
    EXPECT_NE(report.find("Canada: file EFT_CA_0000000005.txt, batch 5"), std::string::npos) << report;
    EXPECT_EQ(fileText(out / "EFT_US_0000000002.txt"), us2);
    EXPECT_EQ(fileText(out / "EFT_CA_0000000003.txt"), ca3);
    // Nor are the bank's duplicate checks fooled: the day's third NACHA file, CPA file number 2.
    EXPECT_EQ(fileText(out / "EFT_US_0000000004.txt").substr(33, 1), "C");
    EXPECT_EQ(fileText(out / "EFT_CA_0000000005.txt").substr(20, 4), "0002");
}

// A SQLite file is restored by copying it over; a PostgreSQL database by pg_restore, which is
// the administrator's.
INSTANTIATE_TEST_SUITE_P(On, RestoreTest, ::testing::Values(Engine::SQLite), engineName);

}  // namespace
}  // namespace eft::server::testing
