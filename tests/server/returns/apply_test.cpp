// Returns applied to an exported sweep: what each category does to the item, the charges and
// the next export; a replay; settlement by rule; a late return after clearing; a bad file; two
// instances applying one file at once. On both engines.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <atomic>
#include <fstream>
#include <thread>

#include "server/returns/return_rates.h"
#include "server/returns/returns_command.h"
#include "returns/answer_files.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

using returns::ApplyOptions;
using returns::ApplyResult;
using returns::BankAnswer;
using returns::MatchOutcome;
using returns::ReturnedEntry;
using returns::SentEntry;

Timestamp on(int month, int day) { return Timestamp::from(Date{2011, month, day}, 9); }

class Returns : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (!IsSkipped()) exportAll();
    }

    // Starts over in a folder of its own, with the whole sweep saved and exported on Saturday
    // 2011-03-05: it settles Monday the 7th.
    void startOver(const std::string& name) {
        open(dir.path() / name);
        exportAll();
    }

    void exportAll() {
        ASSERT_EQ(service->save(bodyFor({kDues1001, kDues1001Second, kNmc1002, kDues1003, kDues2001, kNmc2002, kDues2002})),
                  "");
        service->exportBatches(9, 2);
    }

    // The entry the first export (or the latest) sent the center, read back from its file.
    SentEntry sent(std::int32_t center, bool latest = false) {
        std::optional<SentEntry> found;
        for (const SentFile& f : inspect->sentFiles())
            for (const SentEntry& e : returns::sentEntries(f.content, f.batchNo))
                if (e.centerId == center && (!found || latest)) found = e;
        if (!found) ADD_FAILURE() << "nothing sent to center " << center;
        return found.value_or(SentEntry{});
    }

    ReturnedEntry returnOf(std::int32_t center, std::string code, const Timestamp& when = on(3, 8)) {
        const SentEntry e = sent(center);
        ReturnedEntry r;
        r.country = center == 34 ? 2 : 1;
        r.code = std::move(code);
        if (r.country == 1) r.originalTrace = e.trace;
        else r.batchNo = e.batchNo, r.institution = "003", r.account = "7654321";
        r.centerId = center;
        r.cents = e.cents;
        r.direction = e.direction;
        r.returnDate = isoText(when).substr(0, 10);
        return r;
    }

    ApplyResult apply(Store& store, std::vector<ReturnedEntry> rs, const std::string& sha = "a1",
                      const Timestamp& at = on(3, 8)) {
        BankAnswer a;
        a.sha256 = sha;
        for (std::size_t i = 0; i < rs.size(); ++i) rs[i].ownTrace = "t" + std::to_string(i), rs[i].line = i + 1;
        a.returns = std::move(rs);
        ApplyOptions o;
        o.by = "ann";
        o.at = at;
        return returns::applyAnswers(store, {{"returns-" + sha, a}}, o);
    }
    ApplyResult apply(std::vector<ReturnedEntry> rs, const std::string& sha = "a1", const Timestamp& at = on(3, 8)) {
        return apply(*inspect, std::move(rs), sha, at);
    }

    // code, meaning and outcome of the center's items, as "R01 2|R01 2".
    std::string items(std::int32_t center) {
        Statement s = inspect->db().prepare(
            "SELECT COALESCE(bi.return_code, '-') || ' ' || COALESCE(CAST(bi.outcome AS TEXT), '-') FROM batch_items bi "
            "JOIN charges ch ON ch.id = bi.charge_id WHERE ch.center_id = ?1 ORDER BY bi.batch_no, bi.charge_id");
        s.bind(1, center);
        std::string out;
        while (s.step()) out += std::string(s.text(0)) + "|";
        return out;
    }

    std::int64_t scalar(const std::string& sql, std::int32_t center) {
        Statement s = inspect->db().prepare(sql);
        s.bind(1, center);
        s.step();
        return s.isNull(0) ? -1 : s.integer(0);
    }
};

struct CategoryCase {
    const char* name;
    std::int32_t center;
    const char* code;
    int retries;             // of the center's charges after the return
    bool keepsPresented;     // the charges keep the Total they went out at
    const char* leftOut;     // what the next export's report says of the center; "" when it goes out
};

const CategoryCase kCategories[] = {
    {"MayRetry", 12, "R01", 1, true, ""},
    {"MayRetryButACreditCanada", 34, "901", 0, false, ""},  // only a debit is presented again
    {"Administrative", 12, "R03", 0, false, "account blocked since 2011-03-08 by return R03"},
    {"AdministrativeCanada", 34, "912", 0, false, "account blocked since 2011-03-08 by return 912"},
    {"Unauthorized", 12, "R10", 0, false, "debits stopped since 2011-03-08 by return R10"},
    {"ManualReview", 12, "R08", 0, false, ""},
};

TEST_P(Returns, EachCategoryFailsTheItemAndShapesTheNextExport) {
    for (const CategoryCase& c : kCategories) {
        SCOPED_TRACE(c.name);
        startOver(c.name);
        const std::int64_t sentCents = sent(c.center).cents;
        const ApplyResult r = apply({returnOf(c.center, c.code)});
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_EQ(r.lines[0].match.outcome, MatchOutcome::Matched) << r.text();
        // Every item of the center failed with the code; the charges are back in the sweep.
        const std::string failed = items(c.center);
        EXPECT_NE(failed.find(std::string(c.code) + " 2|"), std::string::npos) << failed;
        EXPECT_EQ(failed.find(" -|"), std::string::npos) << failed;
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM charges WHERE center_id = ?1 AND state <> 0", c.center), 0);
        EXPECT_EQ(scalar("SELECT MAX(retries) FROM charges WHERE center_id = ?1", c.center), c.retries);
        EXPECT_EQ(scalar("SELECT SUM(presented_cents) FROM charges WHERE center_id = ?1", c.center),
                  c.keepsPresented ? sentCents : -1);
        // The other centers are untouched.
        EXPECT_EQ(items(15).find("R"), std::string::npos);

        // The charges' amounts change before they are saved again: a retry still goes out at
        // what was first presented, anything else at its new Total.
        inspect->db().exec(("UPDATE charges SET royalty = royalty + 10 WHERE state = 0 AND center_id = " +
                            std::to_string(c.center)).c_str());
        const ChargeKey first = c.center == 34 ? kDues2001 : kDues1001;
        ASSERT_EQ(service->save(c.center == 34 ? bodyFor({kDues2001, kNmc2002, kDues2002})
                                               : bodyFor({kDues1001, kDues1001Second})),
                  "");
        const std::string report = service->exportBatches(9, 2);
        if (*c.leftOut == 0) {
            EXPECT_EQ(stateOf(first), 20) << report;
            // Presented again: a retry at the amount first presented, in a batch of its own.
            const SentEntry again = sent(c.center, true);
            EXPECT_EQ(again.retry, c.keepsPresented && c.center != 34);
            EXPECT_EQ(again.cents == sentCents, c.keepsPresented) << again.cents;
        } else {
            EXPECT_EQ(stateOf(first), 14) << report;
            EXPECT_NE(report.find(c.leftOut), std::string::npos) << report;
        }
    }
}


// Presented at most three times: the first presentment and two retries.
TEST_P(Returns, ADebitIsRetriedTwiceAtMost) {
    const std::int64_t first = sent(12).cents;
    const char* effects[] = {"failed; presented again as retry 1 of 2", "failed; presented again as retry 2 of 2",
                             "failed; retries spent, for manual review"};
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        ReturnedEntry r = returnOf(12, "R01");
        const SentEntry latest = sent(12, true);
        r.originalTrace = latest.trace;
        EXPECT_EQ(latest.cents, first);
        const ApplyResult applied = apply({r}, "r" + std::to_string(n));
        ASSERT_EQ(applied.lines.size(), 1u);
        EXPECT_EQ(applied.lines[0].effect, effects[n]) << applied.text();
        ASSERT_EQ(service->save(bodyFor({kDues1001, kDues1001Second})), "");
        service->exportBatches(9, 2);
    }
    EXPECT_EQ(scalar("SELECT MAX(retries) FROM charges WHERE center_id = ?1", 12), 2);
    EXPECT_FALSE(sent(12, true).retry);
}

// The same file again changes nothing and lists every return as a duplicate; another file
// returning the same item finds it returned already.
TEST_P(Returns, AReplayOrASecondReturnOfTheItemChangesNothing) {
    ASSERT_EQ(apply({returnOf(12, "R01"), returnOf(34, "901")}).lines.size(), 2u);
    const std::string before = items(12) + items(34);
    const std::int64_t retries = scalar("SELECT SUM(retries) FROM charges WHERE center_id = ?1", 12);
    for (const auto& [sha, why] : {std::pair<const char*, const char*>{"a1", "replayed"}, {"b2", "another file"}}) {
        SCOPED_TRACE(why);
        const ApplyResult again = apply({returnOf(12, "R01"), returnOf(34, "901")}, sha);
        ASSERT_EQ(again.lines.size(), 2u);
        for (const auto& line : again.lines) EXPECT_EQ(line.match.outcome, MatchOutcome::Duplicate) << again.text();
        EXPECT_EQ(items(12) + items(34), before);
        EXPECT_EQ(scalar("SELECT SUM(retries) FROM charges WHERE center_id = ?1", 12), retries);
    }
    // The replay is not recorded again; the second file's duplicates are, for its own replay.
    EXPECT_EQ(inspect->returnRecords().size(), 4u);
}

TEST_P(Returns, ADryRunListsTheMatchAndWritesNothing) {
    BankAnswer a;
    a.sha256 = "d1";
    a.returns = {returnOf(12, "R03")};
    a.returns[0].ownTrace = "t0";
    ApplyOptions o;
    o.dryRun = true;
    o.at = on(3, 8);
    const ApplyResult r = returns::applyAnswers(*inspect, {{"r.ach", a}}, o);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].match.outcome, MatchOutcome::Matched);
    EXPECT_NE(r.lines[0].effect.find("would be failed; account blocked"), std::string::npos) << r.text();
    EXPECT_EQ(items(12).find("R03"), std::string::npos);
    EXPECT_TRUE(inspect->centerHolds().empty());
    EXPECT_TRUE(inspect->returnRecords().empty());
}

// A Canadian return names the account its entry went to: after the center's account changes, a
// genuine return of the kept file still matches, and one naming the new account does not. A
// batch whose file was not kept (exported before files were) is checked against the account as
// recorded now.
TEST_P(Returns, ACanadianReturnIsCheckedAgainstTheAccountSent) {
    const struct {
        const char* name;
        bool fileKept;
        const char* institution;
        const char* account;
        MatchOutcome outcome;
    } cases[] = {
        {"KeptNewAccount", true, "004", "1111111", MatchOutcome::Differing},
        {"KeptAccountSent", true, "003", "7654321", MatchOutcome::Matched},
        {"NotKeptAccountSent", false, "003", "7654321", MatchOutcome::Differing},
        {"NotKeptNewAccount", false, "004", "1111111", MatchOutcome::Matched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startOver(c.name);
        ReturnedEntry r = returnOf(34, "901");
        r.institution = c.institution;
        r.account = c.account;
        {
            Transaction t(inspect->db(), Transaction::Mode::Write);
            inspect->setCenterAccount(34, {"", "004", "00022", "1111111", bank::AccountType::Checking});
            if (!c.fileKept)
                inspect->db().exec(("DELETE FROM batch_files WHERE batch_no = " + std::to_string(r.batchNo)).c_str());
            t.commit();
        }
        const ApplyResult applied = apply({r});
        ASSERT_EQ(applied.lines.size(), 1u);
        EXPECT_EQ(applied.lines[0].match.outcome, c.outcome) << applied.text();
        EXPECT_EQ(items(34), c.outcome == MatchOutcome::Matched ? "901 2|901 2|901 2|" : "- -|- -|- -|");
    }
}

// The window: settled Monday the 7th, two banking days to Wednesday the 9th, one day's margin to
// Thursday the 10th. The next day the batch settles by itself: the returned center failed, the
// others cleared.
TEST_P(Returns, ABatchSettlesByItselfOnceItsWindowHasPassed) {
    apply({returnOf(12, "R01")});
    // Presented again before the first batch settles: settling that one leaves the retry waiting.
    ASSERT_EQ(service->save(bodyFor({kDues1001Second})), "");
    service->exportBatches(9, 2);
    inspect->db().exec("UPDATE batches SET exported_at = '2011-03-09T10:00:00' WHERE batch_no > 2");
    {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        EXPECT_TRUE(returns::settleByRule(*inspect, {}, 1, on(3, 10)).empty());
        t.commit();
    }
    EXPECT_EQ(stateOf(kDues1003), 20);
    std::vector<std::int32_t> settled;
    {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        settled = returns::settleByRule(*inspect, {}, 1, on(3, 11));
        t.commit();
    }
    EXPECT_EQ(settled.size(), 2u);  // the first batches, the United States' and Canada's
    EXPECT_EQ(stateOf(kDues1003), 30);
    EXPECT_EQ(stateOf(kDues2001), 30);
    EXPECT_EQ(stateOf(kDues1001), 0);
    EXPECT_EQ(stateOf(kDues1001Second), 20);
    EXPECT_EQ(items(12), "R01 2|R01 2|- -|");
    EXPECT_EQ(items(15), "- 1|- 1|");
    EXPECT_EQ(inspect->countPendingItems(), 1);
}

// The running server settles by itself, on its own clock: nothing while the window is open
// however often it looks, then each batch once when it has passed. Two servers looking at once
// settle each batch once, with one history.
TEST_P(Returns, TheServerSettlesByItselfOnItsClock) {
    apply({returnOf(12, "R01")});
    struct Instance {
        std::atomic<std::int64_t> now;
        std::atomic<int> looks{0};
        Notes notes;
        std::unique_ptr<Service> service;
    };
    Instance instances[2];
    const auto start = [&](Instance& i, const Timestamp& at) {
        i.now = at.seconds;
        i.service = std::make_unique<Service>(ServiceOptions{
            dbPath(), exportDir(), [&i] {
                ++i.looks;
                return Timestamp{i.now.load()};
            }, {}, {}, i.notes.sink(), {},
            std::chrono::milliseconds(20), 1});
    };
    const auto looked = [](Instance& i, int more) {
        const int target = i.looks + more;
        return waitUntil([&] { return i.looks >= target; });
    };
    // Thursday the 10th: the window's margin day, so the batches stay however often it looks.
    start(instances[0], on(3, 10));
    ASSERT_TRUE(looked(instances[0], 3));
    EXPECT_EQ(stateOf(kDues1003), 20);
    EXPECT_EQ(instances[0].notes.all().find("settle"), std::string::npos) << instances[0].notes.all();
    instances[0].service.reset();

    // Friday the 11th, two servers at once, a second apart on their clocks.
    start(instances[0], on(3, 11));
    start(instances[1], Timestamp{on(3, 11).seconds + 1});
    for (Instance& i : instances) ASSERT_TRUE(looked(i, 3));
    int settledNotes = 0;
    for (Instance& i : instances)
        for (const std::string& line : i.notes.lines()) {
            if (line.find("settlement:") == std::string::npos) continue;
            EXPECT_TRUE(line.starts_with("info settlement: batch ")) << line;
            settledNotes += line.find(" settled by rule") != std::string::npos;
        }
    EXPECT_EQ(settledNotes, 2) << instances[0].notes.all() << instances[1].notes.all();
    // The returned center failed, the others cleared, each batch at one instant.
    EXPECT_EQ(items(12), "R01 2|R01 2|");
    EXPECT_EQ(items(15), "- 1|- 1|");
    EXPECT_EQ(stateOf(kDues1003), 30);
    EXPECT_EQ(stateOf(kDues2001), 30);
    EXPECT_EQ(stateOf(kDues1001), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM (SELECT DISTINCT batch_no, outcome_at FROM batch_items WHERE outcome = 1) t"),
              2);
}

// eft-server, by its wall clock years after the fixture's export, settles at its start without
// being asked, and still stops at once on SIGTERM; told not to settle by itself, it leaves the
// batches for `eft-server returns`.
TEST_P(Returns, EftServerSettlesAtItsStartUnlessToldNotTo) {
    struct Case {
        const char* name;
        std::vector<std::string> env;
        bool settles;
    };
    for (const Case& c : {Case{"Hourly", {"EFT_SETTLE_EVERY=3600"}, true}, Case{"Never", {"EFT_SETTLE_EVERY=0"}, false}}) {
        SCOPED_TRACE(c.name);
        startOver(c.name);
        ServerProcess server({"--db=" + dbPath().string(), "--export-dir=" + exportDir().string()}, c.env, dir.path());
        ASSERT_TRUE(server.started()) << server.log();
        if (c.settles) {
            const std::string log = server.logWith("batch 2 settled by rule");
            EXPECT_NE(log.find("batch 1 settled by rule"), std::string::npos) << log;
        }
        EXPECT_EQ(fetch(server.origin() + "/health").status, 200);
        EXPECT_EQ(server.terminate(std::chrono::seconds(10)), 0) << server.log();
        EXPECT_EQ(stateOf(kDues1003), c.settles ? 30 : 20) << server.log();
        EXPECT_EQ(server.log().find("error"), std::string::npos) << server.log();
    }
}

// A closure stretches the window: with the United States closed on Wednesday the 9th, its batch
// stays open through the 11th while Canada's settles.
TEST_P(Returns, AHolidayInTheWindowKeepsTheBatchOpenADayLonger) {
    bank::BankCalendar calendar;
    calendar.addClosure(1, Date{2011, 3, 9}, "closure");
    Transaction t(inspect->db(), Transaction::Mode::Write);
    const std::vector<std::int32_t> settled = returns::settleByRule(*inspect, calendar, 1, on(3, 11));
    ASSERT_EQ(settled.size(), 1u);  // Canada's; the United States' window ends on the 11th
    EXPECT_EQ(stateOf(kDues2001), 30);
    EXPECT_EQ(stateOf(kDues1001), 20);
}

// An unauthorized return may come sixty days after settlement, after the item cleared: the item
// fails as a reversal that keeps the clearing, and the center's debits stop.
TEST_P(Returns, ALateReturnAfterClearingReversesItKeepingTheClearing) {
    {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        returns::settleByRule(*inspect, {}, 1, on(3, 11));
        t.commit();
    }
    ASSERT_EQ(stateOf(kDues1001), 30);
    const ApplyResult r = apply({returnOf(12, "R10", on(4, 20))}, "late", on(4, 21));
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].match.outcome, MatchOutcome::Matched) << r.text();
    EXPECT_EQ(items(12), "R10 2|R10 2|");
    EXPECT_EQ(stateOf(kDues1001), 0);
    Statement s = inspect->db().prepare(
        "SELECT DISTINCT reversed_clearing_at, outcome_at, return_date FROM batch_items bi "
        "JOIN charges ch ON ch.id = bi.charge_id WHERE ch.center_id = 12");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "2011-03-11T09:00:00");
    EXPECT_EQ(s.text(1), "2011-04-21T09:00:00");
    EXPECT_EQ(s.text(2), "2011-04-20");
    EXPECT_FALSE(s.step());
    ASSERT_EQ(inspect->centerHolds().size(), 1u);
    EXPECT_EQ(inspect->centerHolds()[0].kind, HoldKind::Authorization);
    // Past sixty days the same return is left for review.
    const ApplyResult late = apply({returnOf(15, "R10", on(5, 9))}, "later", on(5, 9));
    EXPECT_EQ(late.lines[0].match.outcome, MatchOutcome::Late) << late.text();
    EXPECT_EQ(items(15), "- 1|- 1|");
}

// While its batch waits, the batch list keeps a returned center with its return, in the
// asker's language; a commit by hand may name it failed, as it is, never cleared; committed,
// the batch leaves the list.
TEST_P(Returns, AReturnedCenterIsListedWithItsReturnAndCannotBeCleared) {
    apply({returnOf(12, "R01")});
    const std::int32_t batch = sent(12).batchNo;
    // "center member code reason date" of each item of the batch listed; "-" for a field absent.
    const auto listed = [&](std::string_view language) {
        pugi::xml_document doc;
        EXPECT_TRUE(doc.load_string(service->batchListXml(language).c_str()));
        std::vector<std::string> out;
        for (const pugi::xml_node item : doc.document_element().children()) {
            if (item.child("BatchControl").text().as_int() != batch) continue;
            std::string line = std::string(item.child_value("CenterID")) + " " + item.child_value("MemberID");
            for (const char* field : {"ReturnCode", "ReturnReason", "ReturnedDate"})
                line += std::string(" ") + (item.child(field) ? item.child_value(field) : "-");
            out.push_back(line);
        }
        return out;
    };
    EXPECT_EQ(listed(""), (std::vector<std::string>{"12 1001 R01 Insufficient funds 2011-03-08",
                                                    "12 1001 R01 Insufficient funds 2011-03-08", "15 1002 - - -",
                                                    "15 1003 - - -"}));
    EXPECT_EQ(listed("fr-CA, en;q=0.5")[0], "12 1001 R01 Provision insuffisante 2011-03-08");
    EXPECT_EQ(inspect->countPendingItems(), 7);  // what a commit may name: the listed items of both batches

    const std::string tail = "PersonID=9&PersonType=2&BatchNo=" + std::to_string(batch) + "&";
    const std::string returnedAt = "SELECT COUNT(*) FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id "
                                   "WHERE ch.center_id = ?1 AND bi.outcome_at = '2011-03-08T09:00:00' "
                                   "AND bi.outcome_by IS NULL";
    const struct {
        const char* body;
        const char* reason;  // empty: taken
    } commits[] = {
        {"GoodMemb=1001&GoodMemb=-1002&GoodMemb=1003&",
         "cannot be recorded as cleared in batch %: the bank returned center 0012 (R01 Insufficient funds, 2011-03-08)"},
        {"BadMemb=1001&GoodMemb=-1002&", "Batch % is not complete"},
        {"BadMemb=1001&GoodMemb=-1002&GoodMemb=1003&", ""},
    };
    for (const auto& c : commits) {
        SCOPED_TRACE(c.body);
        const std::string reply = service->commitStatus(c.body + tail);
        std::string want = c.reason;
        if (const auto at = want.find('%'); at != std::string::npos) want.replace(at, 1, std::to_string(batch));
        if (want.empty()) EXPECT_EQ(reply, "");
        else EXPECT_NE(reply.find(want), std::string::npos) << reply;
    }
    EXPECT_EQ(stateOf(kDues1003), 30);
    // The return stays as it was recorded: failed by the bank, not a second time by the commit.
    EXPECT_EQ(items(12), "R01 2|R01 2|");
    EXPECT_EQ(scalar(returnedAt, 12), 2);
    EXPECT_EQ(stateOf(kDues1001), 0);
    EXPECT_EQ(scalar("SELECT MAX(retries) FROM charges WHERE center_id = ?1", 12), 1);
    EXPECT_TRUE(listed("").empty());
    EXPECT_EQ(inspect->countPendingItems(), 3);
}

// A notification of change fails nothing; applied, it corrects the account, ends the block a
// return put on it, and records who applied it.
TEST_P(Returns, ACorrectionAppliedUnblocksTheAccount) {
    apply({returnOf(12, "R03")});
    BankAnswer a;
    a.sha256 = "noc";
    returns::ChangeNotice n;
    n.code = "C01";
    n.originalTrace = sent(15).trace;  // names center 15 by its entry
    n.correctedData = "55555555";
    n.date = "2011-03-09";
    n.ownTrace = "n1";
    returns::ChangeNotice blocked = n;
    blocked.originalTrace.clear();
    blocked.centerId = 12;
    blocked.ownTrace = "n2";
    a.changes = {n, blocked};
    ApplyOptions o;
    o.at = on(3, 9);
    for (int run = 0; run < 2; ++run) returns::applyAnswers(*inspect, {{"noc.ach", a}}, o);
    EXPECT_EQ(items(15), "- -|- -|");
    const std::vector<ChangeNoticeRow> proposed = inspect->changeNotices();
    ASSERT_EQ(proposed.size(), 2u);
    EXPECT_EQ(proposed[0].centerId, 15);
    EXPECT_EQ(proposed[0].field + " " + proposed[0].oldValue + " " + proposed[0].newValue, "account 987654321 55555555");
    EXPECT_EQ(proposed[1].centerId, 12);
    EXPECT_TRUE(proposed[1].appliedAt.empty());

    {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        returns::applyCorrection(*inspect, proposed[1], "2011-03-10T08:00:00", "carol");
        t.commit();
    }
    EXPECT_TRUE(inspect->centerHolds().empty());
    EXPECT_EQ(inspect->centerHolds(true).at(0).liftedBy, "carol");
    EXPECT_EQ(inspect->changeNotices()[1].appliedBy, "carol");
    EXPECT_THROW(returns::applyCorrection(*inspect, inspect->changeNotices()[1], "2011-03-10T08:00:00", "carol"),
                 std::runtime_error);
    ASSERT_EQ(service->save(bodyFor({kDues1001, kDues1001Second})), "");
    service->exportBatches(9, 2);
    EXPECT_EQ(stateOf(kDues1001), 20);
}

// The rates count the returns applied in the window against the entries sent in it.
TEST_P(Returns, ReturnRatesWarnPastTheThresholds) {
    apply({returnOf(12, "R10"), returnOf(15, "R99")});
    Transaction t(inspect->db(), Transaction::Mode::Read);
    const std::vector<returns::CountryRates> rates = returns::returnRates(*inspect, on(3, 9), 60);
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_EQ(rates[0].sent, 2);
    EXPECT_EQ(rates[0].returns[static_cast<int>(returns::ReturnCategory::Unauthorized)], 1);
    EXPECT_EQ(rates[0].returns[static_cast<int>(returns::ReturnCategory::ManualReview)], 1);
    EXPECT_EQ(rates[1].sent, 1);
    EXPECT_EQ(rates[1].total(), 0);
    const std::vector<std::string> warnings = returns::rateWarnings(*inspect, on(3, 9));
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "United States: unauthorized returns 50.00 %, over 0.50 %");
    EXPECT_EQ(warnings[1], "United States: all returns 100.00 %, over 15.00 %");
    // As CSV: a row per country, the warnings in one field.
    const std::string csv = output::render({returns::rateRecords(rates, 60)}, output::Format::Csv);
    EXPECT_NE(csv.find("\r\nUnited States,60,2,0,0,1,1,2,0.00,50.00,100.00,\"unauthorized returns 50.00 %, over "
                       "0.50 %; all returns 100.00 %, over 15.00 %\"\r\nCanada,60,1,0,0,0,0,0,0.00,0.00,0.00,\r\n"),
              std::string::npos)
        << csv;
    // What /health and the start log show.
    EXPECT_EQ(service->returnRateWarnings(), warnings);
    // Sixty days on, the batches and their returns are out of the window.
    EXPECT_TRUE(returns::rateWarnings(*inspect, on(5, 10)).empty());
}

// The bank's own files, each format told by its content: read, matched and applied once.
AnswerItem answer(const SentEntry& original, const char* code, const char* correctedData = "") {
    AnswerItem a;
    a.original = original;
    a.code = code;
    a.date = "2011-03-08";
    a.correctedData = correctedData;
    return a;
}

TEST_P(Returns, TheBanksFilesAreAppliedOnceHoweverOftenTheyAreRead) {
    const std::vector<returns::AnswerInput> files = {
        {"returns.ach", nachaAnswerFile({answer(sent(12), "R01"), answer(sent(15), "C01", "55555555")})},
        {"returns.cpa", cpaAnswerFile({answer(sent(34), "905")})},
    };
    ApplyOptions o;
    o.by = "ann";
    o.at = on(3, 8);
    const ApplyResult first = returns::applyReturns(*inspect, files, o);
    ASSERT_EQ(first.lines.size(), 2u) << first.text();
    for (const auto& line : first.lines) EXPECT_EQ(line.match.outcome, MatchOutcome::Matched) << first.text();
    ASSERT_EQ(first.notices.size(), 1u);
    EXPECT_EQ(first.notices[0].centerId, 15);
    EXPECT_EQ(items(12), "R01 2|R01 2|");
    EXPECT_EQ(items(34), "905 2|905 2|905 2|");
    EXPECT_EQ(items(15), "- -|- -|");
    const ApplyResult again = returns::applyReturns(*inspect, files, o);
    for (const auto& line : again.lines) EXPECT_EQ(line.match.outcome, MatchOutcome::Duplicate) << again.text();
    EXPECT_TRUE(again.notices.empty());
    EXPECT_EQ(inspect->returnRecords().size(), 2u);
    EXPECT_EQ(inspect->changeNotices().size(), 1u);
}

// The administrator's commands for a program: a value a field, in the order a person runs them.
struct CommandCase {
    const char* args;      // after the command's name; FILE stands for the bank's file
    int status;
    const char* kind;      // JSON: the records whose first row `fields` checks; nullptr: `start` is the output's start
    std::vector<std::pair<const char*, nlohmann::json>> fields;
    std::string start;
};

TEST_P(Returns, TheReturnsCommandsListAValueAField) {
    const SentEntry returned = sent(12);
    const std::filesystem::path file = dir.path() / "returns.ach";
    std::ofstream(file, std::ios::binary) << nachaAnswerFile({answer(returned, "R03"), answer(sent(15), "C01", "55555555")});
    const std::string returnsHeader =
        "record,file,line,country,code,meaning,category,center,batch,amount,direction,return_date,outcome,by_fallback,"
        "effect,detail,id,field,old,new,date,state,refused,applied_at,applied_by\r\n";
    const nlohmann::json none;
    const CommandCase cases[] = {
        {"returns --dry-run --format json FILE", 0, "returns",
         {{"file", "returns.ach"}, {"country", "US"}, {"code", "R03"}, {"category", "administrative"}, {"center", 12},
          {"batch", returned.batchNo}, {"amount", returned.cents / 100.0}, {"direction", "debit"},
          {"return_date", "2011-03-08"}, {"outcome", "matched"}, {"by_fallback", false},
          {"effect", "would be failed; account blocked until corrected"}, {"detail", none}},
         ""},
        {"returns --dry-run --format json FILE", 0, "corrections",
         {{"id", none}, {"center", 15}, {"field", "account"}, {"old", "987654321"}, {"new", "55555555"}, {"code", "C01"},
          {"state", "proposed"}, {"file", "returns.ach"}},
         ""},
        {"returns --format csv FILE", 0, nullptr, {},
         returnsHeader + "returns,returns.ach,3,US,R03,No account / unable to locate account,administrative,12," +
             std::to_string(returned.batchNo) + ","},
        {"returns --format json FILE", 0, "returns", {{"outcome", "duplicate"}, {"effect", "nothing"}}, ""},
        {"corrections --format json", 0, "corrections",
         {{"id", 1}, {"center", 15}, {"field", "account"}, {"old", "987654321"}, {"new", "55555555"}, {"state", "proposed"},
          {"refused", none}, {"applied_at", none}, {"applied_by", none}},
         ""},
        {"corrections --format csv", 0, nullptr, {},
         "id,center,field,old,new,code,date,state,refused,applied_at,applied_by,file\r\n"
         "1,15,account,987654321,55555555,C01,2011-03-08,proposed,,,,returns.ach\r\n"},
        {"corrections --apply 1 --format json", 108, nullptr, {}, "eft-server: --apply excludes --format"},
        {"accounts --format json", 0, "holds",
         {{"center", 12}, {"hold", "account blocked"}, {"code", "R03"}, {"file", "returns.ach"}, {"lifted_at", none}},
         ""},
        {"accounts --format csv", 0, nullptr, {},
         "center,hold,since,code,reason,file,lifted_at,lifted_by,lifted_how\r\n12,account blocked,"},
        // A person's text as before.
        {"accounts", 0, nullptr, {}, "Center 0012: account blocked since "},
        {"corrections", 0, nullptr, {}, "Id    Center  Field          Old                 New"},
        {"accounts --format xml", 105, nullptr, {}, "eft-server: --format: not text, csv or json: xml"},
    };
    for (const CommandCase& c : cases) {
        std::string args = c.args;
        if (const std::size_t at = args.find("FILE"); at != std::string::npos) args.replace(at, 4, "'" + file.string() + "'");
        const std::string command = args.substr(0, args.find(' '));
        SCOPED_TRACE(c.args);
        const Ran ran = runProgram(std::string(EFT_SERVER_PATH) + " " + command + " --db='" + dbPath().string() + "'" +
                                   args.substr(command.size()));
        EXPECT_EQ(ran.status, c.status) << ran.out;
        if (c.kind == nullptr) {
            EXPECT_TRUE(ran.out.starts_with(c.start)) << ran.out;
            continue;
        }
        const nlohmann::json parsed = nlohmann::json::parse(ran.out, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << ran.out;
        ASSERT_FALSE(parsed[c.kind].empty()) << ran.out;
        for (const auto& [field, value] : c.fields) EXPECT_EQ(parsed[c.kind][0][field], value) << field << ": " << ran.out;
    }
}

// One bad file among good ones refuses the run: nothing of the good ones is applied either.
TEST_P(Returns, ABadFileAmongGoodOnesRefusesThemAll) {
    const std::string good = nachaAnswerFile({answer(sent(12), "R01")});
    std::vector<std::string> records = recordsOf(cpaAnswerFile({answer(sent(34), "905")}));
    records[1].pop_back();  // a record one short
    ApplyOptions o;
    o.at = on(3, 8);
    try {
        returns::applyReturns(*inspect, {{"good.ach", good}, {"bad.cpa", fileOf(records)}}, o);
        ADD_FAILURE() << "applied";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("bad.cpa: refused, nothing applied: line 2"), std::string::npos) << e.what();
    }
    EXPECT_EQ(items(12), "- -|- -|");
    EXPECT_TRUE(inspect->returnRecords().empty());
}

// A file that does not read is refused whole, before anything is matched or written.
TEST_P(Returns, AMalformedFileIsRefusedWithNothingChanged) {
    const std::int64_t pending = inspect->countPendingItems();
    ApplyOptions o;
    o.at = on(3, 8);
    for (const char* content : {"", "101 not a bank file\n", "\xC3\xA9\n"}) {
        SCOPED_TRACE(content);
        try {
            returns::applyReturns(*inspect, {{"bad.ach", content}}, o);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("bad.ach: refused, nothing applied: line"), std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(inspect->countPendingItems(), pending);
    EXPECT_TRUE(inspect->returnRecords().empty());
}

// Two instances applying the same file at once apply it once: the writer lock makes the second
// wait and then find every return recorded.
TEST_P(Returns, TwoInstancesApplyingOneFileAtOnceApplyItOnce) {
    Store other(dbPath());
    std::vector<ReturnedEntry> rs = {returnOf(12, "R01"), returnOf(15, "R03"), returnOf(34, "901")};
    ApplyResult first, second;
    {
        std::jthread a([&] { first = apply(*inspect, rs, "same"); });
        std::jthread b([&] { second = apply(other, rs, "same"); });
    }
    int matched = 0, duplicates = 0;
    for (const ApplyResult* r : {&first, &second})
        for (const auto& line : r->lines) {
            matched += line.match.outcome == MatchOutcome::Matched;
            duplicates += line.match.outcome == MatchOutcome::Duplicate;
        }
    EXPECT_EQ(matched, 3);
    EXPECT_EQ(duplicates, 3);
    EXPECT_EQ(inspect->returnRecords().size(), 3u);
    EXPECT_EQ(scalar("SELECT MAX(retries) FROM charges WHERE center_id = ?1", 12), 1);
    EXPECT_EQ(inspect->centerHolds().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(On, Returns, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
