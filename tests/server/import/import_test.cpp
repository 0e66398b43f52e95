// The importer on tables of good and bad lines: every fault named as file:line: column, the
// import all or nothing, idempotent, and never touching a charge that left the sweep.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <string>

#include "server/import/csv_reader.h"
#include "server/import/importer.h"
#include "server_fixture.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

using testing::TempDir;

constexpr const char* kCenterHeader = "CenterID,Name,Country,Routing,Institution,Transit,Account,AccountType\n";
constexpr const char* kMemberHeader =
    "MemberID,Name,CenterID,MemberType,SubscriptionMembership,SalesTaxExempt,DownPayment,ContractSigned\n";
constexpr const char* kChargeHeader =
    "MemberID,CenterID,Source,SweepSequence,SourceDescription,SweepDate,Type,ConversionRate,Royalty,NAC,"
    "RoyaltyReserve,FranchiseFee,FranchiseFeeReserve,GST,PST,NMCPayment,TrustID\n";

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override { open(Engine::SQLite); }

    void open(Engine engine) {
        std::string why;
        const std::string location = testing::freshDatabase(engine, dir.path(), why);
        if (location.empty()) GTEST_SKIP() << why;
        store = std::make_unique<Store>(location);
        testing::fillFixture(*store);
    }

    std::filesystem::path write(const std::string& name, const std::string& text) {
        const std::filesystem::path file = dir.path() / name;
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        return file;
    }

    std::int64_t count(const char* sql) {
        Statement s = store->db().prepare(sql);
        s.step();
        return s.integer(0);
    }

    std::int64_t rows() {
        return count("SELECT (SELECT COUNT(*) FROM centers) + (SELECT COUNT(*) FROM members) + "
                     "(SELECT COUNT(*) FROM charges) + (SELECT COUNT(*) FROM center_accounts)");
    }

    ImportReport run(const std::vector<std::filesystem::path>& files, bool dryRun = false) {
        return importCsv(*store, files, dryRun);
    }

    TempDir dir;
    std::unique_ptr<Store> store;
};

// The cases whose outcome rests on the database, on both engines.
class ImportOnEngines : public ImportTest, public ::testing::WithParamInterface<Engine> {
protected:
    void SetUp() override { open(GetParam()); }
};

struct LineCase {
    const char* name;
    const char* header;
    const char* line;
    const char* fault;  // "Column: reason" as reported after "file:2: "; empty: the line is good
};

class ImportLineTest : public ImportTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ImportLineTest, FaultIsNamedByFileLineAndColumnAndNothingIsWritten) {
    const LineCase& c = GetParam();
    const auto file = write("table.csv", std::string(c.header) + c.line + "\n");
    const std::int64_t before = rows();
    const ImportReport report = run({file});
    if (std::string(c.fault).empty()) {
        EXPECT_EQ(report.faultCount, 0) << (report.faults.empty() ? "" : report.faults[0].text());
        EXPECT_TRUE(report.written);
        EXPECT_GT(rows(), before);
        return;
    }
    ASSERT_EQ(report.faultCount, 1);
    EXPECT_EQ(report.faults[0].text().rfind(file.string() + ":2: " + c.fault, 0), 0u) << report.faults[0].text();
    EXPECT_FALSE(report.written);
    EXPECT_EQ(rows(), before);
}

// Fixture: centers 12, 15 (United States) and 34 (Canada); members 1001 to 1003 and 2001, 2002.
const LineCase kLines[] = {
    {"GoodUsCenter", kCenterHeader, "77,Dallas East,1,021000021,,,55501234,checking", ""},
    {"GoodCanadianCenter", kCenterHeader, "78,\"Laval, Nord\",2,,815,12345,1234567,savings", ""},
    {"CenterWithoutAccount", kCenterHeader, "79,No Bank Yet,1,,,,,", ""},
    {"CountryOutOfRange", kCenterHeader, "80,X,3,,,,,", "Country: 3 is outside 1 to 2"},
    {"RoutingCheckDigit", kCenterHeader, "81,X,1,021000022,,,5550,checking", "Routing: \"021000022\" is not a routing number"},
    {"InstitutionDigits", kCenterHeader, "82,X,2,,15,12345,1234567,checking", "Institution: \"15\" is not an institution number"},
    {"TransitDigits", kCenterHeader, "83,X,2,,815,1234,1234567,checking", "Transit: \"1234\" is not a transit number"},
    {"RoutingOnCanadianCenter", kCenterHeader, "84,X,2,021000021,815,12345,1234567,checking", "Routing: given for a Canadian center"},
    {"AccountType", kCenterHeader, "85,X,1,021000021,,,5550,current", "AccountType: \"current\" is not checking or savings"},
    {"BankNumbersWithoutAccount", kCenterHeader, "86,X,1,021000021,,,,", "Account: empty, while the bank's numbers are given"},
    {"CenterIdPast32Bits", kCenterHeader, "2147483648,X,1,,,,,", "CenterID: 2147483648 is outside 1 to 2147483647"},
    {"CenterIdNotANumber", kCenterHeader, "12a,X,1,,,,,", "CenterID: \"12a\" is not a whole number"},
    // What a bad field holds reaches the terminal escaped as the log escapes it.
    {"ControlCharactersEscaped", kCenterHeader, "\"8\x1b]0;x\x07\",X,1,,,,,", "CenterID: \"8\\x1B]0;x\\x07\" is not a whole number"},
    {"C1ControlEscaped", kCenterHeader, "88,X,\xC2\x9B" "1,,,,,", "Country: \"\\u{009B}1\" is not a whole number"},
    {"BidiOverrideEscaped", kCenterHeader, "89,X,1,021000021,,,5550,\xE2\x80\xAE" "gnikcehc",
     "AccountType: \"\\u{202E}gnikcehc\" is not checking or savings"},
    {"EmptyName", kCenterHeader, "87,,1,,,,,", "Name: empty, and it is required"},
    {"CountryOfCenterInUse", kCenterHeader, "12,Austin North,2,,,,,", "Country: center 12 has members or charges"},
    {"GoodMember", kMemberHeader, "1004,\"O'Hara, \"\"Kit\"\"\",15,2,1,0,true,2010-06-30", ""},
    {"MemberOfMissingCenter", kMemberHeader, "1005,X,99,1,0,0,0,", "CenterID: no center 99 in the database or the import"},
    {"FlagWord", kMemberHeader, "1006,X,12,1,yes,0,0,", "SubscriptionMembership: \"yes\" is not a flag"},
    {"BrokenUtf8Escaped", kMemberHeader, "1007,X,12,1,\xFF\xFE,0,0,", "SubscriptionMembership: \"\\xFF\\xFE\" is not a flag"},
    {"NotUtf8", kMemberHeader, "1007,\xff\xfe,12,1,0,0,0,", "Name: not UTF-8 text"},
    {"ControlCharacter", kMemberHeader, "1008,A\x01" "B,12,1,0,0,0,", "Name: not UTF-8 text, or holds a control character"},
    {"ImpossibleDate", kMemberHeader, "1009,X,12,1,0,0,0,2011-02-30", "ContractSigned: \"2011-02-30\" is not a date"},
    {"MemberTypePast16Bits", kMemberHeader, "1010,X,12,40000,0,0,0,", "MemberType: 40000 is outside 0 to 32767"},
    {"GoodCharge", kChargeHeader, "1003,15,1,2,Membership dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0", ""},
    {"GoodChargeWithDefaults", "MemberID,CenterID,Source,SweepSequence,SourceDescription,SweepDate,Type\n",
     "1003,15,2,7,NMC payment,2011-03-15T06:00:00,2", ""},
    {"SweepSequencePast16Bits", kChargeHeader, "1003,15,1,40000,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0",
     "SweepSequence: 40000 is outside 1 to 32767"},
    {"SourceZero", kChargeHeader, "1003,15,0,3,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0", "Source: 0 is outside 1 to 32767"},
    {"TypeFour", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,4,1,20,0,0,0,0,0,0,0,0", "Type: 4 is outside 1 to 3"},
    {"AmountPastCentLimit", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,1,131072,0,0,0,0,0,0,0,0",
     "Royalty: 131072 is beyond 131,072.00"},
    {"AmountJustBelowCentLimit", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,1,131071.99,0,0,0,0,0,0,0,0", ""},
    {"NegativeAmountPastLimit", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,2,1,0,0,0,0,0,0,0,-200000,0",
     "NMCPayment: -200000 is beyond"},
    {"ThreeDecimals", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,1,20.005,0,0,0,0,0,0,0,0",
     "Royalty: 20.005 has more than 2 decimals"},
    {"Exponent", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,1,2e1,0,0,0,0,0,0,0,0", "Royalty: \"2e1\" is not a decimal number"},
    {"ZeroRate", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,0,20,0,0,0,0,0,0,0,0", "ConversionRate: 0 is not a rate"},
    {"MissingMember", kChargeHeader, "999,15,1,3,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0",
     "MemberID: no member 999 in the database or the import"},
    {"MissingCenter", kChargeHeader, "1003,99,1,3,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0",
     "CenterID: no center 99 in the database or the import"},
    {"TrustIdNegative", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,-1", "TrustID: -1 is outside 0 to"},
    {"MissingField", kChargeHeader, "1003,15,1,3,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0", "row: 16 fields where the header has 17"},
    {"UnclosedQuote", kChargeHeader, "1003,15,1,3,\"Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0", "row: a quoted field is never closed"},
    {"QuoteInsideField", kChargeHeader, "1003,15,1,3,Du\"es,2011-03-15,1,1,20,0,0,0,0,0,0,0,0", "row: not well-formed CSV"},
};

INSTANTIATE_TEST_SUITE_P(Lines, ImportLineTest, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ImportOnEngines, HeaderFaultsNameTheColumn) {
    const auto unknown = write("a.csv", "CenterID,Name,Country,Colour\n1,X,1,red\n");
    const auto missing = write("b.csv", "MemberID,Name,CenterID\n");
    const auto none = write("c.csv", "Colour,Size\n");
    const ImportReport report = run({unknown, missing, none});
    ASSERT_EQ(report.faultCount, 3);
    EXPECT_EQ(report.faults[0].text(), none.string() + ":1: header: names no table (centers have Country, members MemberID, charges Source)");
    EXPECT_EQ(report.faults[1].text(), unknown.string() + ":1: Colour: not a column of this table");
    EXPECT_EQ(report.faults[2].text(), missing.string() + ":1: MemberType: missing from the header");
}

// A 10 MB field, a NUL and an escape in the header, a file name with an escape: the report
// stays a few short lines of printable text, and its records carry the same.
TEST_F(ImportTest, AHugeOrHostileFieldIsShownEscapedAndCutShort) {
    const std::string huge(10485760, 'x');
    const auto file = write("evil\x1b.csv", std::string("CenterID,Name,Country,\x1b[2J") + '\0' + "\n" + huge + ",X,1,\n");
    const ImportReport report = run({file});
    ASSERT_EQ(report.faultCount, 2);
    const std::string shownFile = (dir.path() / "evil\\x1B.csv").string();
    EXPECT_EQ(report.faults[0].text(), shownFile + ":1: \\x1B[2J\\x00: not a column of this table");
    const std::string cut = "\"" + std::string(kMaxShownValueBytes, 'x') + "\u2026(10485760 bytes)\" is not a whole number";
    EXPECT_EQ(report.faults[1].text(), shownFile + ":2: CenterID: " + cut);
    const std::string text = importReportText(report, false);
    EXPECT_LT(text.size(), 1000u);
    for (const char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);

    const auto records = nlohmann::json::parse(output::render(importRecords(report, false), output::Format::Json));
    EXPECT_EQ(records["import"][0], (nlohmann::json{{"dry_run", false}, {"written", false}, {"faults", 2}}));
    EXPECT_EQ(records["tables"][0], (nlohmann::json{{"table", "centers"}, {"added", 0}, {"changed", 0}, {"unchanged", 0},
                                                    {"skipped", 0}, {"refused", 1}}));
    EXPECT_EQ(records["faults"][1]["file"], shownFile);
    EXPECT_EQ(records["faults"][1]["line"], 2);
    EXPECT_EQ(records["faults"][1]["column"], "CenterID");
    EXPECT_EQ(records["faults"][1]["reason"], cut);
    EXPECT_TRUE(records["skips"].empty());
}

TEST_P(ImportOnEngines, TablesGoInOrderWhateverTheOrderOfTheFilesAndQuotedFieldsKeepTheirText) {
    const auto charges = write("charges.csv", std::string(kChargeHeader) +
                                                  "5001,90,1,1,\"Dues, \"\"March\"\"\r\nsecond line\",2011-03-01,1,1,10,0,0,0,0,0,0,0,0\r\n"
                                                  "5001,90,1,2,Dues,2011-03-15,1,1,10.5,0,0,0,0,0,0,0,0\r\n");
    const auto members = write("members.csv", "\xEF\xBB\xBF" + std::string(kMemberHeader) + "5001,Zoë Ng,90,1,0,0,0,\n");
    const auto centers = write("centers.csv", std::string(kCenterHeader) + "90,Reno,1,021000021,,,123,savings\n");
    const ImportReport report = run({charges, members, centers});
    ASSERT_EQ(report.faultCount, 0) << report.faults[0].text();
    EXPECT_EQ(report.tables[0].added, 1);
    EXPECT_EQ(report.tables[1].added, 1);
    EXPECT_EQ(report.tables[2].added, 2);
    Statement s = store->db().prepare("SELECT source_description FROM charges WHERE member_id = 5001 ORDER BY sweep_sequence");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "Dues, \"March\"\r\nsecond line");
    Statement m = store->db().prepare("SELECT name FROM members WHERE id = 5001");
    ASSERT_TRUE(m.step());
    EXPECT_EQ(m.text(0), "Zoë Ng");

    // A record over two lines: the next fault is counted from the line the record after it starts on.
    const auto bad = write("bad.csv", std::string(kChargeHeader) +
                                          "5001,90,1,3,\"two\nlines\",2011-03-01,1,1,10,0,0,0,0,0,0,0,0\n"
                                          "5001,90,1,4,Dues,2011-03-01,9,1,10,0,0,0,0,0,0,0,0\n");
    const ImportReport again = run({bad});
    ASSERT_EQ(again.faultCount, 1);
    EXPECT_EQ(again.faults[0].text().rfind(bad.string() + ":4: Type:", 0), 0u) << again.faults[0].text();
}

TEST_P(ImportOnEngines, OneBadLineRefusesEverythingAndFaultsStopAtAHundred) {
    std::string text = kCenterHeader;
    for (int id = 100; id < 250; ++id) text += std::to_string(id) + ",Center,1,,,,,\n";
    for (int id = 300; id < 450; ++id) text += std::to_string(id) + ",Center,9,,,,,\n";
    const auto file = write("centers.csv", text);
    const std::int64_t before = rows();
    const ImportReport report = run({file});
    EXPECT_EQ(report.faultCount, 150);
    EXPECT_EQ(report.faults.size(), kMaxImportLines);
    EXPECT_EQ(report.tables[0].added, 150);
    EXPECT_EQ(report.tables[0].refused, 150);
    EXPECT_FALSE(report.written);
    EXPECT_EQ(rows(), before);
    EXPECT_NE(importReportText(report, false).find("... and 50 more faults"), std::string::npos);
}

TEST_P(ImportOnEngines, DuplicateKeysInOneImportNameTheFirstLine) {
    const auto a = write("a.csv", std::string(kChargeHeader) + "1003,15,1,5,Dues,2011-03-15,1,1,20,0,0,0,0,0,0,0,0\n");
    const auto b = write("b.csv", std::string(kChargeHeader) + "1003,15,1,5,Dues,2011-03-15,1,1,21,0,0,0,0,0,0,0,0\n");
    const auto c = write("c.csv", std::string(kCenterHeader) + "91,A,1,,,,,\n91,B,1,,,,,\n");
    const ImportReport report = run({a, b, c});
    ASSERT_EQ(report.faultCount, 2);
    EXPECT_EQ(report.faults[0].text(), c.string() + ":3: CenterID: center 91 is already on " + c.string() + ":2");
    EXPECT_EQ(report.faults[1].text(), b.string() + ":2: row: the charge of member 1003 at center 15, source 1, sequence 5 is already on " +
                                    a.string() + ":2");
}

TEST_P(ImportOnEngines, ImportingTwiceChangesNothingAndChargesOutOfTheSweepAreLeftAlone) {
    const std::string line1001 = "1001,12,1,1,Membership dues,2011-03-01T06:00:00,1,1,25,10,5,40,8,0,0,0,0\n";
    const auto file = write("charges.csv", std::string(kChargeHeader) + line1001 +
                                               "1003,15,1,1,Membership dues,2011-03-01T06:00:00,1,1,22.5,0,0,0,0,0,0,0,0\n"
                                               "1003,15,1,9,Membership dues,2011-03-01T06:00:00,1,1,9,0,0,0,0,0,0,0,0\n");
    // 1001/12/1/1 is the fixture's as it stands; 1003's first charge gets a new royalty; the third is new.
    const ImportReport first = run({file});
    ASSERT_EQ(first.faultCount, 0) << first.faults[0].text();
    const ImportCounts& c = first.tables[2];
    EXPECT_EQ((std::vector<std::int64_t>{c.added, c.changed, c.unchanged, c.skipped}), (std::vector<std::int64_t>{1, 1, 1, 0}));

    const ImportReport second = run({file});
    const ImportCounts& again = second.tables[2];
    EXPECT_EQ((std::vector<std::int64_t>{again.added, again.changed, again.unchanged}), (std::vector<std::int64_t>{0, 0, 3}));

    // Saved, exported or cleared: never changed, and reported.
    store->db().exec("UPDATE charges SET state = 14 WHERE member_id = 1001 AND sweep_sequence = 1");
    store->db().exec("UPDATE charges SET state = 30 WHERE member_id = 1003 AND sweep_sequence = 9");
    const auto changed = write("changed.csv", std::string(kChargeHeader) +
                                                  "1001,12,1,1,Membership dues,2011-03-01T06:00:00,1,1,99,10,5,40,8,0,0,0,0\n"
                                                  "1003,15,1,9,Membership dues,2011-03-01T06:00:00,1,1,9,0,0,0,0,0,0,0,0\n");
    const ImportReport third = run({changed});
    EXPECT_EQ(third.tables[2].skipped, 2);
    EXPECT_EQ(third.tables[2].changed, 0);
    ASSERT_EQ(third.skips.size(), 2u);
    EXPECT_EQ(third.skips[0].text(), changed.string() +
                                  ":2: the charge of member 1001 at center 12, source 1, sequence 1: already saved; left as it is");
    EXPECT_NE(third.skips[1].text().find("already cleared"), std::string::npos);
    EXPECT_EQ(count("SELECT royalty FROM charges WHERE member_id = 1001 AND sweep_sequence = 1"), 25);
}

TEST_P(ImportOnEngines, DryRunReportsTheSameAndWritesNothing) {
    const auto centers = write("centers.csv", std::string(kCenterHeader) + "92,Tulsa,1,021000021,,,42,checking\n"
                                                                            "12,Austin North (renamed),1,011000015,,,12345678,checking\n");
    const std::int64_t before = rows();
    const ImportReport dry = run({centers}, true);
    EXPECT_FALSE(dry.written);
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(count("SELECT COUNT(*) FROM centers WHERE name = 'Austin North'"), 1);
    const ImportReport real = run({centers});
    EXPECT_TRUE(real.written);
    for (const ImportReport* r : {&dry, &real}) {
        EXPECT_EQ(r->tables[0].added, 1);
        EXPECT_EQ(r->tables[0].changed, 1);
    }
    EXPECT_EQ(importReportText(dry, true).rfind("Dry run, nothing was written", 0), 0u);
    EXPECT_EQ(count("SELECT COUNT(*) FROM centers WHERE name = 'Austin North (renamed)'"), 1);
}

// Large loads take the bulk path: many rows to a statement, and on SQLite the sweep's counter
// ticked once for the load rather than by the trigger for each row.
std::vector<ChargeRow> manyCharges(int count, std::int16_t sequenceFrom) {
    std::vector<ChargeRow> charges;
    for (int n = 0; n < count; ++n) {
        const bool boise = n % 2 == 1;
        charges.push_back({{boise ? 1003 : 1001, boise ? 15 : 12, 1, static_cast<std::int16_t>(sequenceFrom + n)},
                           "Dues", "2011-03-01T06:00:00", 1, {1, 20, 0, 0, 0, 0, 0, 0, 0}, 0});
    }
    return charges;
}

TEST_P(ImportOnEngines, ALargeLoadTicksTheSweepForEachCenterAndAFailedOneLeavesNothing) {
    const std::int64_t clock = store->sweepClock();
    {
        Transaction t(store->db(), Transaction::Mode::Write);
        store->insertCharges(manyCharges(1200, 100));
        t.commit();
    }
    const std::int64_t loaded = store->sweepClock();
    EXPECT_GT(loaded, clock);
    EXPECT_EQ(store->centersChangedAt({12, 15}), (std::vector<std::int64_t>{loaded, loaded}));
    EXPECT_LT(store->centersChangedAt({34})[0], loaded);
    const std::int64_t before = rows();

    // Failing inside the load (a key already stored) or before it (an amount the control cannot
    // hold): nothing of it stays, and the counter's trigger still ticks for a single charge after.
    for (const int bad : {0, 1}) {
        SCOPED_TRACE(bad);
        std::vector<ChargeRow> charges = manyCharges(1200, 2000);
        if (bad == 0) charges[700].key = testing::kDues1001;
        else charges[700].amounts.royalty = 140000;
        {
            Transaction t(store->db(), Transaction::Mode::Write);
            EXPECT_THROW(store->insertCharges(charges), StoreError);
        }
        EXPECT_EQ(rows(), before);
        EXPECT_EQ(store->sweepClock(), loaded);
    }
    {
        Transaction t(store->db(), Transaction::Mode::Write);
        store->insertCharge({{2001, 34, 1, 50}, "Dues", "2011-03-01T06:00:00", 1, {1, 20, 0, 0, 0, 0, 0, 0, 0}, 0});
        t.commit();
    }
    EXPECT_GT(store->centersChangedAt({34})[0], loaded);
}

INSTANTIATE_TEST_SUITE_P(On, ImportOnEngines, testing::kEngines, testing::engineName);

// A first import into an empty database, whose SQLite file is written under a rollback journal
// while the import lasts.
class FirstImport : public ImportTest, public ::testing::WithParamInterface<Engine> {
protected:
    void SetUp() override {
        std::string why;
        const std::string location = testing::freshDatabase(GetParam(), dir.path(), why);
        if (location.empty()) GTEST_SKIP() << why;
        store = std::make_unique<Store>(location);
    }
};

TEST_P(FirstImport, AFaultInTheMiddleLeavesItEmptyAndTheFileAsItWas) {
    std::string charges = kChargeHeader, members = kMemberHeader;
    for (int n = 0; n < 1500; ++n) {
        if (n % 2 == 0) members += std::to_string(5000 + n / 2) + ",M,7,1,0,0,0,\n";
        charges += std::to_string(5000 + n / 2) + ",7,1," + std::to_string(1 + n % 2) + ",Dues,2011-03-01," +
                   (n == 800 ? "9" : "1") + ",1,20,0,0,0,0,0,0,0,0\n";
    }
    const std::vector<std::filesystem::path> files{write("centers.csv", std::string(kCenterHeader) + "7,Reno,1,,,,,\n"),
                                                   write("members.csv", members), write("charges.csv", charges)};
    const ImportReport refused = run(files);
    ASSERT_EQ(refused.faultCount, 1);
    EXPECT_EQ(refused.faults[0].text(), files[2].string() + ":802: Type: 9 is outside 1 to 3");
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(store->isEmpty());

    charges.replace(charges.find("2011-03-01,9,"), 13, "2011-03-01,1,");
    write("charges.csv", charges);
    const ImportReport imported = run(files);
    ASSERT_EQ(imported.faultCount, 0) << imported.faults[0].text();
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges"), 1500);
    EXPECT_EQ(run(files).tables[2].unchanged, 1500);
    if (GetParam() == Engine::SQLite) {
        Statement mode = store->db().prepare("PRAGMA journal_mode");
        ASSERT_TRUE(mode.step());
        EXPECT_EQ(mode.text(0), "wal");
        EXPECT_EQ(count("PRAGMA foreign_keys"), 1);
    }
}

// More charges than the importer keeps at once (4,096 to a part), with their amounts, dates
// and descriptions changing from line to line.
struct ManyCharges {
    static constexpr int kCount = 2 * 4096 + 5;
    static text::Cents royaltyCents(int n) { return (20 + n % 97) * 100 + n % 100; }
    static ChargeRow row(int n) {
        return {{5000 + n / 2, n < kCount / 2 ? 7 : 8, 1, static_cast<std::int16_t>(1 + n % 2)},
                n % 3 == 0 ? "Dues, monthly" : "Dues",
                "2011-03-0" + std::to_string(1 + n / 1000 % 9) + "T06:00:00",
                static_cast<std::int16_t>(n % 7 == 0 ? 3 : 1),
                {1, static_cast<float>(static_cast<double>(royaltyCents(n)) / 100), 0, 0, 0, 0, 0, 0, 0},
                n % 4 == 0 ? 57 : 0};
    }
    // The files, with the charge at `bad` (-1: none) above what the control can hold in its
    // Totals, though each of its amounts alone is not.
    static std::string centers() { return std::string(kCenterHeader) + "7,Reno,1,,,,,\n8,Elko,1,,,,,\n"; }
    static std::string members() {
        std::string text = kMemberHeader;
        for (int n = 0; n < kCount; n += 2)
            text += std::to_string(row(n).key.memberId) + ",M" + std::to_string(n) + "," +
                    std::to_string(row(n).key.centerId) + ",1,0,0,0,\n";
        return text;
    }
    static std::string charges(int bad) {
        std::string text = kChargeHeader;
        for (int n = 0; n < kCount; ++n) {
            const ChargeRow c = row(n);
            text += std::to_string(c.key.memberId) + "," + std::to_string(c.key.centerId) + ",1," +
                    std::to_string(c.key.sweepSequence) + ",\"" + c.sourceDescription + "\"," + c.sweepDate + "," +
                    std::to_string(c.type) + ",1," + text::amount(royaltyCents(n)) +
                    (n == bad ? ",131071" : ",0") + ",0,0,0,0,0,0," + std::to_string(c.trustId) + "\n";
        }
        return text;
    }
};

// The sweep as it reads a country's rows, one line a row.
std::string sweepText(Store& store) {
    std::string out;
    store.forEachSweepRow(1, [&out](const SweepRowView& r) {
        const Amounts& a = r.amounts;
        out += std::to_string(r.key.memberId) + "," + std::to_string(r.key.centerId) + "," +
               std::to_string(r.key.source) + "," + std::to_string(r.key.sweepSequence) + "," +
               std::string(r.sourceDescription) + "," + std::string(r.sweepDate) + "," + std::to_string(r.type) + "," +
               std::to_string(a.royalty) + "," + std::to_string(a.nac) + "," + std::to_string(r.trustId) + "," +
               std::string(r.memberName) + "\n";
    });
    return out;
}

TEST_P(FirstImport, ChargesInSeveralPartsReadAsTheSameChargesAddedOneByOne) {
    const std::vector<std::filesystem::path> files{write("centers.csv", ManyCharges::centers()),
                                                   write("members.csv", ManyCharges::members()),
                                                   write("charges.csv", ManyCharges::charges(-1))};
    const ImportReport report = run(files);
    ASSERT_EQ(report.faultCount, 0) << report.faults[0].text();
    EXPECT_EQ(report.tables[2].added, ManyCharges::kCount);
    // PostgreSQL ticks for each part, SQLite once for the whole load; either way the last tick
    // is for the center of the last charges, and every center's sweep is marked changed.
    const std::vector<std::int64_t> changed = store->centersChangedAt({7, 8});
    EXPECT_GT(changed[0], 0);
    EXPECT_EQ(changed[1], store->sweepClock());

    const std::filesystem::path other = dir.path() / "one-by-one";
    std::filesystem::create_directories(other);
    std::string why;
    Store byOne(testing::freshDatabase(GetParam(), other, why));
    {
        Transaction t(byOne.db(), Transaction::Mode::Write);
        byOne.insertCenter({7, "Reno", 1});
        byOne.insertCenter({8, "Elko", 1});
        for (int n = 0; n < ManyCharges::kCount; n += 2) {
            const ChargeKey k = ManyCharges::row(n).key;
            MemberRow m;
            m.id = k.memberId;
            m.name = "M" + std::to_string(n);
            m.centerId = k.centerId;
            byOne.insertMember(m);
        }
        for (int n = 0; n < ManyCharges::kCount; ++n) byOne.insertCharge(ManyCharges::row(n));
        t.commit();
    }
    const std::string imported = sweepText(*store);
    EXPECT_EQ(std::count(imported.begin(), imported.end(), '\n'), ManyCharges::kCount);
    EXPECT_EQ(imported, sweepText(byOne));
}

// A charge the store refuses while the import is under way, in the first part, a middle one
// or the last: the import throws, and leaves the file as it was, able to take the next one.
TEST_P(FirstImport, AChargeRefusedInAnyPartLeavesTheFileAsItWas) {
    const auto centers = write("centers.csv", ManyCharges::centers());
    const auto members = write("members.csv", ManyCharges::members());
    for (const int bad : {10, 4096 + 10, ManyCharges::kCount - 1}) {
        SCOPED_TRACE(bad);
        const auto charges = write("charges.csv", ManyCharges::charges(bad));
        EXPECT_THROW(run({centers, members, charges}), StoreError);
        EXPECT_TRUE(store->isEmpty());
        EXPECT_EQ(rows(), 0);
        EXPECT_EQ(store->sweepClock(), 0);
    }
    const ImportReport report = run({centers, members, write("charges.csv", ManyCharges::charges(-1))});
    ASSERT_EQ(report.faultCount, 0) << report.faults[0].text();
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges"), ManyCharges::kCount);
    if (GetParam() == Engine::SQLite) {
        Statement mode = store->db().prepare("PRAGMA journal_mode");
        ASSERT_TRUE(mode.step());
        EXPECT_EQ(mode.text(0), "wal");
    }
}

INSTANTIATE_TEST_SUITE_P(On, FirstImport, testing::kEngines, testing::engineName);

// The reader's records: unquoted fields lose the spaces and tabs around them, as libcsv's do,
// whether a line goes through libcsv or is split without it.
struct CsvCase {
    const char* name;
    const char* text;
    const char* records;  // fields joined by '|', records by ';', each led by its line and ':'
};

class CsvRecordsTest : public ImportTest, public ::testing::WithParamInterface<CsvCase> {};

TEST_P(CsvRecordsTest, FieldsAsLibcsvGivesThem) {
    const auto file = write("any.csv", GetParam().text);
    std::string got;
    readCsv(file, [&got](const CsvRecord& r) {
        got += (got.empty() ? "" : ";") + std::to_string(r.line) + ":";
        for (std::size_t k = 0; k < r.fields.size(); ++k) got += (k > 0 ? "|" : "") + r.fields[k];
    });
    EXPECT_EQ(got, GetParam().records);
}

const CsvCase kCsvCases[] = {
    {"SpacesAndTabsAroundFields", " a ,\tb\t, c d ,e\n", "1:a|b|c d|e"},
    {"EmptyFieldsAndTrailingComma", "a,,b,\n,\n", "1:a||b|;2:|"},
    {"CrLfAndNoLastNewline", "a,b\r\nc,d", "1:a|b;2:c|d"},
    {"LineOfSpacesIsNoRecord", "a\n  \t \nb\n", "1:a;3:b"},
    {"QuotedFieldsKeepTheirSpaces", "\" a \", b \n\"x\ny\",z\nq\n", "1: a |b;2:x\ny|z;4:q"},
};

INSTANTIATE_TEST_SUITE_P(Lines, CsvRecordsTest, ::testing::ValuesIn(kCsvCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace eft::server
