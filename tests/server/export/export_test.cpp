// The export through the service: a batch and a bank file per country, the report, centers
// left out, and an export killed at every step that the next start puts right.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "net/pages.h"
#include "server/bank/nacha.h"
#include "server/export/export_file.h"
#include "server/export/file_claim.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

std::string reportOf(const std::string& document) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(document.c_str())) << document;
    return doc.document_element().child_value();
}

// The text of a refusal, which stands in its marked child of the document element.
std::string refusalOf(const std::string& document) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(document.c_str())) << document;
    EXPECT_STREQ(doc.document_element().child_value(), "") << "a refusal's text is all in its mark: " << document;
    return doc.document_element().child_value(std::string(pages::kExportRefusal).c_str());
}

std::vector<std::string> filesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    if (!std::filesystem::exists(dir)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Member 1001's charge at a second center, held back while the member goes at center 12.
constexpr ChargeKey kHeldBack{1001, 15, 1, 1};

class ExportTest : public ServerFixture {
protected:
    void addSecondCenterCharge() {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->insertCharge({kHeldBack, "Membership dues", "2011-03-01T06:00:00", 1, {1, 777.77f, 0, 0, 0, 0, 0, 0, 0}, 0});
        t.commit();
    }

    void saveAll() {
        ASSERT_EQ(service->save(bodyFor({kDues1001, kDues1001Second, kNmc1002, kDues2001, kNmc2002})), "");
    }

    // Every committed batch has its file, byte for byte as the database keeps it, and the
    // folder holds nothing else.
    void expectDatabaseAndFilesAgree() {
        std::vector<std::string> names;
        for (const BatchFileRow& f : inspect->batchFiles()) {
            EXPECT_TRUE(f.published) << f.name;
            EXPECT_EQ(fileText(exportDir() / f.name), f.content) << f.name;
            names.push_back(f.name);
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(filesIn(exportDir()), names);
        EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), static_cast<std::int64_t>(names.size()));
    }
};

class SimultaneousExports : public ExportTest {};

TEST_P(ExportTest, EachCountryGetsABatchAndAFileAndTheReportSaysWhat) {
    saveAll();
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_EQ(report,
              "United States: file EFT_US_0000000001.txt, batch 1, 2 entries (3 items of 2 centers); "
              "debits 92.00 (1), credits 150.00 (1), in USD\n"
              "Canada: file EFT_CA_0000000002.txt, batch 2, 1 entries (2 items of 1 centers); "
              "debits 0.00 (0), credits 113.10 (1), in CAD\n"
              "Files written to " + exportDir().string());
    expectDatabaseAndFilesAgree();
    // The fixture's two US centers are the hand-worked mixed case: a debit and a savings credit.
    const std::string us = fileText(exportDir() / "EFT_US_0000000001.txt");
    EXPECT_EQ(us.size(), 10u * (bank::kNachaRecordLength + 2));
    EXPECT_EQ(us.substr(3 * 96, 39), "632021000021987654321        0000015000");
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 20"), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_files WHERE creation_number = 1 AND batch_no = 2"), 1);
}

TEST_P(ExportTest, ACenterWithoutBankDetailsStaysSavedAndIsNamed) {
    saveAll();
    inspect->db().exec("DELETE FROM center_accounts WHERE center_id = 15");
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("United States: file EFT_US_0000000001.txt, batch 1, 1 entries (2 items of 1 centers)"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("United States: center 0015 Boise & Sons <West> left saved, not exported: no bank account"),
              std::string::npos)
        << report;
    EXPECT_EQ(stateOf(kNmc1002), 14);
    EXPECT_EQ(stateOf(kDues1001), 20);
    expectDatabaseAndFilesAgree();
    // Once it has an account, the next export takes it.
    inspect->setCenterAccount(15, {"021000021", "", "", "987654321", bank::AccountType::Savings});
    EXPECT_NE(reportOf(service->exportBatches(9, 2)).find("batch 3, 1 entries (1 items of 1 centers)"), std::string::npos);
    EXPECT_EQ(stateOf(kNmc1002), 20);
}

TEST_P(ExportTest, ABatchCarriesTheTotalsTheMemberListShowedNotTheNet) {
    // A subscription member after an NMC payment in the same center: the member list shows
    // only the subscription row's own OUT amount (0), not its 80.00 of royalty.
    {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->insertCenter({40, "Subscription Center", 1});
        inspect->setCenterAccount(40, {"011000015", "", "", "555", bank::AccountType::Checking});
        inspect->insertMember({4001, "A", 40, 1, false, false, false, ""});
        inspect->insertMember({4002, "B", 40, 1, true, false, false, ""});
        inspect->insertCharge({{4001, 40, 2, 1}, "NMC payment", "2011-03-01T06:00:00", 2, {1, 0, 0, 0, 0, 0, 0, 0, 100}, 0});
        inspect->insertCharge({{4002, 40, 1, 1}, "Membership dues", "2011-03-01T06:00:00", 1, {1, 80, 0, 0, 0, 0, 0, 0, 0}, 0});
        t.commit();
    }
    // Saving the subscription row alone still takes the Total as the list showed it.
    ASSERT_EQ(service->save(bodyFor({{4002, 40, 1, 1}})), "");
    ASSERT_EQ(service->save(bodyFor({{4001, 40, 2, 1}})), "");
    EXPECT_EQ(count("SELECT batch_cents FROM charges WHERE member_id = 4002"), 0);
    EXPECT_EQ(count("SELECT batch_cents FROM charges WHERE member_id = 4001"), -10000);
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("debits 0.00 (0), credits 100.00 (1)"), std::string::npos) << report;
}

TEST_P(ExportTest, FileCreationNumbersCountPerOriginator) {
    Transaction t(inspect->db(), Transaction::Mode::Write);
    EXPECT_EQ(inspect->nextFileCreationNumber("A"), 1);
    EXPECT_EQ(inspect->nextFileCreationNumber("A"), 2);
    EXPECT_EQ(inspect->nextFileCreationNumber("B"), 1);
    inspect->db().exec("UPDATE originator_files SET last_number = 9999 WHERE originator_id = 'A'");
    EXPECT_EQ(inspect->nextFileCreationNumber("A"), 1);  // four digits, then round again
}

TEST_P(ExportTest, NothingSavedMeansNothingExported) {
    EXPECT_EQ(reportOf(service->exportBatches(9, 2)), "No saved items were eligible for export.\n");
    EXPECT_TRUE(filesIn(exportDir()).empty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
}

TEST_P(ExportTest, AnExportThatCannotWriteLeavesNoFileAndNoBatch) {
    saveAll();
    std::ofstream(exportDir()) << "in the way";
    const std::string report = refusalOf(service->exportBatches(9, 2));
    EXPECT_EQ(report.rfind("The export failed, nothing was exported: cannot create the export folder", 0), 0u) << report;
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 5);
}

TEST_P(ExportTest, APlantedFileOrSymlinkIsNeverFollowedNorReplaced) {
    saveAll();
    std::filesystem::create_directories(exportDir());
    const std::filesystem::path victim = dir.path() / "victim.txt";
    std::ofstream(victim) << "keep me";
    std::filesystem::create_symlink(victim, exportDir() / "EFT_CA_0000000002.txt");
    const std::string report = refusalOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("EFT_CA_0000000002.txt already exists"), std::string::npos) << report;
    EXPECT_EQ(fileText(victim), "keep me");
    EXPECT_EQ(filesIn(exportDir()), (std::vector<std::string>{"EFT_CA_0000000002.txt"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 5);

    std::filesystem::remove(exportDir() / "EFT_CA_0000000002.txt");
    EXPECT_NE(reportOf(service->exportBatches(9, 2)).find("batch 2"), std::string::npos);
    expectDatabaseAndFilesAgree();
}

TEST_P(ExportTest, AMemberSavedAtTwoCentersIsInABatchUnderOneOfThem) {
    // Member 1001 has charges at centers 12 and 15, and 1003 at 15: the status post names
    // members, so 1001's item at 15 waits for the next batch.
    addSecondCenterCharge();
    ASSERT_EQ(service->save(bodyFor({kDues1001, kHeldBack, kDues1003})), "");
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("United States: file EFT_US_0000000001.txt, batch 1, 2 entries (2 items of 2 centers)"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("United States: member 1001 at center 0015 Boise & Sons <West> held for the next batch "
                          "(1 items): the member is in this batch at center 0012\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(stateOf(kHeldBack), 14);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT ch.center_id) FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id "
                    "WHERE bi.batch_no = 1 AND ch.member_id = 1001"),
              1);
    // Each member can now be recorded on its own: 1001 cleared at 12, 1003 failed at 15.
    EXPECT_EQ(service->commitStatus("GoodMemb=1001&BadMemb=1003&PersonID=9&PersonType=2&BatchNo=1&"), "");
    EXPECT_EQ(stateOf(kDues1001), 30);
    EXPECT_EQ(stateOf(kDues1003), 0);
    // The held item goes with the next export, alone at its center.
    EXPECT_NE(reportOf(service->exportBatches(9, 2)).find("batch 2, 1 entries (1 items of 1 centers); debits 777.77 (1)"),
              std::string::npos);
    EXPECT_EQ(stateOf(kHeldBack), 20);
}

TEST_P(ExportTest, TheMembersLongestWaitingCenterGoesFirstAndALeftOutCenterTakesNoPlace) {
    addSecondCenterCharge();
    ASSERT_EQ(service->save(bodyFor({kDues1001, kHeldBack})), "");
    // Saved at 15 a day earlier: 15 goes, 12 waits.
    inspect->db().exec("UPDATE charges SET saved_at = '2011-03-04T10:00:00' WHERE member_id = 1001 AND center_id = 15");
    std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("member 1001 at center 0012 Austin North held for the next batch (1 items): the member is "
                          "in this batch at center 0015"),
              std::string::npos)
        << report;
    EXPECT_EQ(stateOf(kDues1001), 14);

    // Failed at 15 and saved again, now that 15 cannot take a payment: it is left out, so it
    // holds nothing back at 12.
    ASSERT_EQ(service->commitStatus("BadMemb=1001&PersonID=9&PersonType=2&BatchNo=1&"), "");
    inspect->db().exec("DELETE FROM center_accounts WHERE center_id = 15");
    ASSERT_EQ(service->save(bodyFor({kHeldBack})), "");
    report = reportOf(service->exportBatches(9, 2));
    EXPECT_EQ(report.find("held for the next batch"), std::string::npos) << report;
    EXPECT_NE(report.find("center 0015 Boise & Sons <West> left saved, not exported: no bank account"), std::string::npos);
    EXPECT_EQ(stateOf(kDues1001), 20);
}

TEST_P(ExportTest, ACountryWhoseCentersAllNetToZeroIsSettledWithoutAFile) {
    {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->insertCenter({35, "Qu\u00e9bec Nord", 2});
        inspect->setCenterAccount(35, {"", "003", "00011", "35", bank::AccountType::Checking});
        inspect->insertMember({3501, "In", 35, 1, false, true, false, ""});
        inspect->insertMember({3502, "Out", 35, 1, false, false, false, ""});
        inspect->insertCharge({{3501, 35, 1, 1}, "Membership dues", "2011-03-01T06:00:00", 3, {1, 50, 0, 0, 0, 0, 0, 0, 0}, 0});
        inspect->insertCharge({{3502, 35, 2, 1}, "NMC payment", "2011-03-01T06:00:00", 2, {1, 0, 0, 0, 0, 0, 0, 0, 50}, 0});
        t.commit();
    }
    ASSERT_EQ(service->save(bodyFor({kDues1001, {3501, 35, 1, 1}, {3502, 35, 2, 1}})), "");
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_EQ(report,
              "United States: file EFT_US_0000000001.txt, batch 1, 1 entries (1 items of 1 centers); "
              "debits 62.00 (1), credits 0.00 (0), in USD\n"
              "Canada: batch 2 (2 items of 1 centers) settled with nothing to transfer: every center nets to zero, "
              "so no file is written\n"
              "Files written to " + exportDir().string());
    EXPECT_EQ(filesIn(exportDir()), (std::vector<std::string>{"EFT_US_0000000001.txt"}));
    EXPECT_EQ(stateOf({3501, 35, 1, 1}), 30);
    EXPECT_EQ(stateOf({3502, 35, 2, 1}), 30);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE batch_no = 2 AND outcome = 1"), 2);
    // Nothing of it waits for a status.
    EXPECT_EQ(service->batchListXml().find("<BatchControl>2</BatchControl>"), std::string::npos);
    EXPECT_EQ(count("SELECT COUNT(*) FROM originator_files"), 0);  // no CPA-005 file number used
}

TEST_P(ExportTest, AnExportAskedAgainNamesWhatTheLastOneMade) {
    saveAll();
    const std::string first = reportOf(service->exportBatches(9, 2));
    ASSERT_NE(first.find("batch 2"), std::string::npos);
    EXPECT_EQ(reportOf(service->exportBatches(9, 2)),
              "No saved items were eligible for export.\n"
              "The last export, at 2011-03-05T10:20:30, made:\n"
              "United States: file EFT_US_0000000001.txt, batch 1; debits 92.00 (1), credits 150.00 (1), in USD\n"
              "Canada: file EFT_CA_0000000002.txt, batch 2; debits 0.00 (0), credits 113.10 (1), in CAD\n"
              "Files written to " + exportDir().string() + "\n");
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 2);
}

TEST(PublishFile, NeverReplacesAFileWithOtherBytes) {
    TempDir dir;
    const std::string name = "EFT_US_0000000001.txt";
    const std::string temp = writeTempFile(dir.path(), name, "new");
    EXPECT_TRUE(isTempName(temp)) << temp;
    std::ofstream(dir.path() / name) << "old";
    EXPECT_THROW(publishFile(dir.path(), temp, name, "new"), std::runtime_error);
    EXPECT_EQ(fileText(dir.path() / name), "old");
    // Nor is a link in its place taken for the file, whatever it points to.
    std::filesystem::remove(dir.path() / name);
    std::ofstream(dir.path() / "same.txt") << "new";
    std::filesystem::create_symlink(dir.path() / "same.txt", dir.path() / name);
    EXPECT_THROW(publishFile(dir.path(), temp, name, "new"), std::runtime_error);
    std::filesystem::remove(dir.path() / name);
    std::filesystem::remove(dir.path() / "same.txt");
    // The same bytes already there: a publish a crash interrupted, done.
    std::ofstream(dir.path() / name, std::ios::trunc) << "new";
    publishFile(dir.path(), temp, name, "new");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{name}));
    // A name that is not a bank file's never reaches the folder.
    for (const char* planted : {"../EFT_US_0000000001.txt", "a.txt", "/tmp/EFT_US_0000000001.txt"}) {
        EXPECT_THROW(writeTempFile(dir.path(), planted, "new"), std::runtime_error) << planted;
        EXPECT_THROW(publishFile(dir.path(), temp, planted, "new"), std::runtime_error) << planted;
    }
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{name}));
}

// The export is run in a child process that kills itself at one point; the parent then
// starts the service again, as the next start of the server would.
TEST_P(ExportTest, ACrashAtAnyStepIsFinishedByTheNextStart) {
    for (const char* point : kExportCrashPoints) {
        SCOPED_TRACE(point);
        open(dir.path() / point);
        saveAll();
        service.reset();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("EFT_TEST_CRASH_AT", point, 1);
            Service s({dbPath(), exportDir(), fixedNow});
            s.exportBatches(9, 2);
            _exit(3);  // the crash point was not reached
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

        const bool committed = std::string(point) != "temp-written" && std::string(point) != "folder-synced";
        service = std::make_unique<Service>(ServiceOptions{dbPath(), exportDir(), fixedNow});
        expectDatabaseAndFilesAgree();
        EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), committed ? 2 : 0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), committed ? 0 : 5);
        if (!committed) {
            EXPECT_NE(reportOf(service->exportBatches(9, 2)).find("batch 2"), std::string::npos);
            expectDatabaseAndFilesAgree();
        }
        // Same batches, same totals: the files carry what the database says.
        EXPECT_EQ(count("SELECT SUM(debit_cents) FROM batch_files"), 9200);
        EXPECT_EQ(count("SELECT SUM(credit_cents) FROM batch_files"), 15000 + 11310);
    }
}

// An export that waited for another one asked for at the same moment makes nothing: not even
// a batch of what the first held back, which would put a member in two batches at once.
TEST_P(ExportTest, AnExportThatWaitedForAnotherMakesNothingOfItsOwn) {
    addSecondCenterCharge();
    ASSERT_EQ(service->save(bodyFor({kDues1001, kHeldBack, kDues1003})), "");
    ASSERT_NE(reportOf(service->exportBatches(9, 2)).find("held for the next batch"), std::string::npos);
    // Asked for when no batch was made yet, run after the first.
    const std::string report = runExport(*inspect, exportDir(), bank::loadOriginator({}), bank::BankCalendar(),
                                         fixedNow(), 9, 2, 0);
    EXPECT_TRUE(report.starts_with("An export asked for at the same moment, through this server or another, ran "
                                   "first; this one exported nothing.\nThe last export, at 2011-03-05T10:20:30, "
                                   "made:\nUnited States: file EFT_US_0000000001.txt, batch 1;"))
        << report;
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 1);
    EXPECT_EQ(stateOf(kHeldBack), 14);
}

// Two servers whose exports both wait on the writer lock, which this test holds until both
// have asked: one batch, whichever goes first, several times over.
TEST_P(SimultaneousExports, MakeOneBatchAndNoMemberWaitsInTwo) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        open(dir.path() / ("round" + std::to_string(round)));
        addSecondCenterCharge();
        ASSERT_EQ(service->save(bodyFor({kDues1001, kHeldBack, kDues1003})), "");
        Service other(ServiceOptions{dbPath(), dir.path() / ("other" + std::to_string(round)), fixedNow});
        std::string reports[2];
        bool bothWaited = false;
        {
            Transaction hold(inspect->db(), Transaction::Mode::Write);
            std::jthread a([&] { reports[0] = reportOf(service->exportBatches(9, 2)); });
            std::jthread b([&] { reports[1] = reportOf(other.exportBatches(9, 2)); });
            bothWaited = waitUntil([&] {
                return count("SELECT COUNT(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted AND "
                             "database = (SELECT oid FROM pg_database WHERE datname = current_database())") == 2;
            });
            hold.commit();  // before the threads are joined, as the block ends
        }
        ASSERT_TRUE(bothWaited);
        const int made = reports[0].find("ran first") == std::string::npos;
        EXPECT_EQ(made + (reports[1].find("ran first") == std::string::npos), 1) << reports[0] << " | " << reports[1];
        EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 1);
        EXPECT_EQ(stateOf(kHeldBack), 14);
        EXPECT_EQ(count("SELECT COUNT(*) FROM (SELECT ch.member_id FROM batch_items bi JOIN charges ch "
                        "ON ch.id = bi.charge_id WHERE bi.outcome IS NULL GROUP BY ch.member_id "
                        "HAVING COUNT(DISTINCT bi.batch_no) > 1) t"),
                  0);
    }
}

// Two servers, each with an export folder of its own: the start or the next export of one must
// not publish a committed file the other is still publishing, and must publish one whose
// publisher is gone.
TEST_P(ExportTest, AStartOrAnExportPublishesOnlyTheFilesNobodyIsPublishing) {
    saveAll();
    service->exportBatches(9, 2);
    const std::filesystem::path other = dir.path() / "other-export";
    const std::int64_t now = epochSeconds();
    const std::string here = thisProcess().substr(0, thisProcess().rfind(' '));
    const struct {
        std::string claimedBy;  // empty: no claim
        std::int64_t until;
        bool publishedByTheStart;
    } cases[] = {
        {"", 0, true},
        {here + " " + std::to_string(getppid()), now + 600, false},  // a process of this host, running
        {here + " 99999999", now + 600, true},                       // one that has ended (above any pid)
        {"another-host 12", now + 600, false},                       // within its lease
        {"another-host 12", now - 1, true},                          // its lease over
    };
    for (const bool atExport : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(atExport ? "export: " : "start: ") + c.claimedBy + " for " +
                         std::to_string(c.until - now) + " s");
            std::filesystem::remove_all(other);
            std::optional<Service> second;
            if (atExport) second.emplace(ServiceOptions{dbPath(), other, fixedNow});
            Statement unpublish = inspect->db().prepare(
                "UPDATE batch_files SET published = 0, published_to = NULL, claimed_by = ?1, claimed_until = ?2");
            if (c.claimedBy.empty()) unpublish.bindNull(1).bindNull(2);
            else unpublish.bind(1, c.claimedBy).bind(2, c.until);
            unpublish.run();
            if (atExport) second->exportBatches(9, 2);
            else second.emplace(ServiceOptions{dbPath(), other, fixedNow});
            EXPECT_EQ(count("SELECT COUNT(*) FROM batch_files WHERE published = 1"), c.publishedByTheStart ? 2 : 0);
            EXPECT_EQ(filesIn(other).size(), c.publishedByTheStart ? 2u : 0u);
        }
    }
}

// A server killed after writing a file out and before recording it leaves a copy in its folder;
// when the other server has published the file meanwhile, the start sets the copy aside, so
// each file stands in one folder, the one it is delivered from.
TEST_P(ExportTest, AStartSetsAsideItsCopyOfAFileAnotherServerPublished) {
    saveAll();
    service->exportBatches(9, 2);
    const std::vector<std::string> names = filesIn(exportDir());
    ASSERT_EQ(names.size(), 2u);
    Statement elsewhere = inspect->db().prepare("UPDATE batch_files SET published_to = ?1 WHERE name = ?2");
    elsewhere.bind(1, "another-host:/srv/eft-export").bind(2, names[0]).run();
    service.reset();
    std::vector<std::string> notes;
    ServiceOptions options{dbPath(), exportDir(), fixedNow};
    options.note = [&](LogLevel, std::string_view line) { notes.emplace_back(line); };
    const Service restarted(options);
    EXPECT_EQ(filesIn(exportDir()), (std::vector<std::string>{names[1], "superseded"}));
    for (const BatchFileRow& f : inspect->batchFiles())
        if (f.name == names[0]) {
            EXPECT_EQ(fileText(exportDir() / "superseded" / names[0]), f.content);
        }
    const auto said = std::find_if(notes.begin(), notes.end(), [&](const std::string& n) {
        return n.find("set aside " + names[0]) != std::string::npos && n.find("another-host:/srv/eft-export") != std::string::npos;
    });
    EXPECT_NE(said, notes.end()) << "the start log does not say where the file went";
}

INSTANTIATE_TEST_SUITE_P(On, ExportTest, kEngines, engineName);
// The writer lock's waiters can be seen on PostgreSQL only, which is where servers on several
// hosts share a database.
INSTANTIATE_TEST_SUITE_P(On, SimultaneousExports, ::testing::Values(Engine::PostgreSQL), engineName);

}  // namespace
}  // namespace eft::server::testing
