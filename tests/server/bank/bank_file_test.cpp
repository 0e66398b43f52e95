// The bank files on small batches worked out by hand: every record whole, the blocking, the
// entry hash and the totals, and the rules the fields follow (check digits, banking days,
// Julian dates, names in ASCII).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "server/bank/bank_text.h"
#include "server/bank/cpa005.h"
#include "server/bank/nacha.h"
#include "server/bank/originator.h"
#include "server/store/seed.h"

namespace eft::server::bank {
namespace {

std::string blanks(std::size_t n) { return std::string(n, ' '); }

std::vector<std::string> records(const std::string& text, std::size_t length) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (; at + length + 2 <= text.size(); at += length + 2) {
        EXPECT_EQ(text.substr(at + length, 2), "\r\n") << "record " << out.size();
        out.push_back(text.substr(at, length));
    }
    EXPECT_EQ(at, text.size()) << "the file ends inside a record";
    return out;
}

const BankAccount kAustin{"011000015", "", "", "12345678", AccountType::Checking};
const BankAccount kBoise{"021000021", "", "", "987654321", AccountType::Savings};
const BankAccount kMontreal{"", "003", "00011", "7654321", AccountType::Checking};

// Saturday 5 March 2011: the next banking day is Monday the 7th.
BankBatch usBatch(std::vector<Payment> payments) {
    BankBatch b;
    b.batchNo = 1;
    b.country = 1;
    b.createdAt = Timestamp::from(Date{2011, 3, 5}, 10, 20, 30);
    b.effectiveDate = Date{2011, 3, 7};
    b.payments = std::move(payments);
    return b;
}

const std::string kNines(94, '9');
const std::string kFileHeader = "101 011000015 011000015110305" "1020A094101DEMO BANK" + blanks(14) + "EFTMEMB DEMO" +
                                blanks(11) + "1" + blanks(7);
const std::string kAustinEntry = "627011000015" "12345678" + blanks(9) + "0000009200" "12" + blanks(13) +
                                 "AUSTIN NORTH" + blanks(10) + "  0" "01100001" "0010001";

std::string batchHeader(const char* serviceClass) {
    return std::string("5") + serviceClass + "EFTMEMB DEMO    " + "BATCH 1" + blanks(13) +
           "1234567890CCDMEMBERSHIP110305110307   101100001" "0000001";
}

TEST(Nacha, OneCenterDueIn) {
    const BankFile f = nachaFile(usBatch({{12, "Austin North", kAustin, 9200}}), Originator{});
    EXPECT_EQ(f.name, "EFT_US_0000000001.txt");
    const std::vector<std::string> want = {
        kFileHeader,
        batchHeader("225"),
        kAustinEntry,
        "8225000001" "0001100001" "000000009200" "000000000000" "1234567890" + blanks(25) + "01100001" "0000001",
        "9000001000001" "00000001" "0001100001" "000000009200" "000000000000" + blanks(39),
        kNines, kNines, kNines, kNines, kNines};
    EXPECT_EQ(records(f.text, kNachaRecordLength), want);
    EXPECT_EQ(f.summary.debitCount, 1);
    EXPECT_EQ(f.summary.debitCents, 9200);
    EXPECT_EQ(f.summary.creditCount, 0);
}

TEST(Nacha, OneCenterDueOutToASavingsAccount) {
    const BankFile f = nachaFile(usBatch({{15, "Boise & Sons <West>", kBoise, -15000}}), Originator{});
    const auto r = records(f.text, kNachaRecordLength);
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(r[1], batchHeader("220"));
    EXPECT_EQ(r[2], "632021000021" "987654321" + blanks(8) + "0000015000" "15" + blanks(13) + "BOISE & SONS <WEST>" +
                        blanks(3) + "  0" "01100001" "0010001");
    EXPECT_EQ(r[3], "8220000001" "0002100002" "000000000000" "000000015000" "1234567890" + blanks(25) +
                        "01100001" "0000001");
    EXPECT_EQ(r[4], "9000001000001" "00000001" "0002100002" "000000000000" "000000015000" + blanks(39));
}

TEST(Nacha, DebitsAndCreditsTogetherAndAZeroNetWithoutEntry) {
    const BankFile f = nachaFile(
        usBatch({{12, "Austin North", kAustin, 9200}, {13, "Zero", kAustin, 0}, {15, "Boise", kBoise, -15000}}),
        Originator{});
    const auto r = records(f.text, kNachaRecordLength);
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(r[1], batchHeader("200"));
    EXPECT_EQ(r[2], kAustinEntry);
    EXPECT_EQ(r[3].substr(0, 3), "632");
    EXPECT_EQ(r[3].substr(79), "011000010010002");  // trace: ODFI + batch 001 + position 0002
    EXPECT_EQ(r[4].substr(0, 44), "8200000002" "0003200003" "000000009200" "000000015000");
    EXPECT_EQ(r[5].substr(0, 55), "9000001000001" "00000002" "0003200003" "000000009200" "000000015000");
    EXPECT_EQ(r[6], kNines);
}

TEST(Nacha, OnlyZeroNetsMakeAFileWithoutBatch) {
    const BankFile f = nachaFile(usBatch({{13, "Zero", kAustin, 0}}), Originator{});
    const auto r = records(f.text, kNachaRecordLength);
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(r[0], kFileHeader);
    EXPECT_EQ(r[1], "9000000000001" "00000000" "0000000000" "000000000000" "000000000000" + blanks(39));
    EXPECT_EQ(r[9], kNines);
    EXPECT_EQ(f.summary.entries(), 0);
}

TEST(Nacha, ManyEntriesBlockByTenAndTheHashKeepsTenDigits) {
    std::vector<Payment> payments;
    for (int i = 1; i <= 200; ++i) payments.push_back({i, "C", {"912345675", "", "", "1", AccountType::Checking}, i});
    const auto r = records(nachaFile(usBatch(payments), Originator{}).text, kNachaRecordLength);
    ASSERT_EQ(r.size(), 210u);  // 205 records in 21 blocks
    // 200 x 91234567 = 18,246,913,400: the last ten digits.
    EXPECT_EQ(r[202].substr(10, 10), "8246913400");
    EXPECT_EQ(r[202].substr(20, 12), "000000020100");  // 1 + 2 + ... + 200 cents
    EXPECT_EQ(r[203].substr(0, 31), "9000001000021" "00000200" "8246913400");
    EXPECT_EQ(r[201].substr(79), "011000010010200");
    for (std::size_t i = 204; i < 210; ++i) EXPECT_EQ(r[i], kNines) << i;
}

BankBatch caBatch(std::vector<Payment> payments) {
    BankBatch b = usBatch(std::move(payments));
    b.batchNo = 2;
    b.country = 2;
    b.fileCreationNumber = 7;
    return b;
}

std::string segmentFor(const char* code, const char* cents, const std::string& name, int center) {
    std::string payee = name;
    payee.resize(30, ' ');
    std::string reference = "2-" + std::to_string(center);
    reference.resize(19, ' ');
    return std::string(code) + cents + "011066" "000300011" "7654321     " + std::string(22, '0') + "000" +
           "EFTMEMB        " + payee + "EFTMEMB DEMO" + blanks(18) + "EFTMEMB001" + reference +
           "000300011" "1234567     " + blanks(39) + std::string(11, '0');
}

TEST(Cpa005, SixSegmentsARecordDebitsFirstThenCredits) {
    std::vector<Payment> payments;
    for (int i = 1; i <= 7; ++i) payments.push_back({500 + i, "Laval", kMontreal, 100 * i});
    payments.push_back({534, "Montr\u00e9al Plateau", kMontreal, -11310});
    payments.push_back({535, "Nothing to move", kMontreal, 0});
    const BankFile f = cpa005File(caBatch(payments), Originator{});
    EXPECT_EQ(f.name, "EFT_CA_0000000002.txt");
    const auto r = records(f.text, kCpaRecordLength);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0], "A000000001EFTMEMB0010007011064" "00330" + blanks(20) + "CAD" + blanks(1406));

    std::string firstDebits = "D000000002EFTMEMB0010007";
    for (int i = 1; i <= 6; ++i) firstDebits += segmentFor("730", ("0000000" + std::to_string(i) + "00").c_str(), "LAVAL", 500 + i);
    EXPECT_EQ(r[1], firstDebits);
    EXPECT_EQ(r[2], "D000000003EFTMEMB0010007" + segmentFor("730", "0000000700", "LAVAL", 507) + blanks(1200));
    EXPECT_EQ(r[3], "C000000004EFTMEMB0010007" + segmentFor("729", "0000011310", "MONTREAL PLATEAU", 534) +
                        blanks(1200));
    EXPECT_EQ(r[4], "Z000000005EFTMEMB0010007" "00000000002800" "00000007" "00000000011310" "00000001" +
                        std::string(44, '0') + blanks(1352));
}

// An amount too large for its field, or an account of the other country, is an error, not a file.
TEST(BankFiles, WhatDoesNotFitIsAnErrorNotAFile) {
    EXPECT_THROW(nachaFile(usBatch({{12, "A", kAustin, 10'000'000'000}}), Originator{}), FieldError);
    EXPECT_THROW(nachaFile(usBatch({{12, "A", kAustin, std::numeric_limits<std::int64_t>::min()}}), Originator{}),
                 FieldError);
    BankAccount longNumber = kAustin;
    longNumber.number = std::string(18, '1');
    EXPECT_THROW(nachaFile(usBatch({{12, "A", longNumber, 1}}), Originator{}), FieldError);
    EXPECT_THROW(cpa005File(caBatch({{1, "A", kAustin, 5}}), Originator{}), FieldError);
}

TEST(BankText, RoutingCheckDigits) {
    const struct {
        const char* routing;
        bool valid;
    } cases[] = {{"011000015", true},  {"021000021", true},  {"912345675", true},  {"123456780", true},
                 {"011000016", false}, {"01100001", false},  {"0110000150", false}, {"0110A0015", false},
                 {"", false}};
    for (const auto& c : cases) EXPECT_EQ(validRoutingNumber(c.routing), c.valid) << c.routing;
    // Every fictitious demo account passes the rule its country's files check.
    for (std::uint64_t seed = 1; seed <= 500; ++seed) {
        EXPECT_EQ(accountFault(demoAccount(1, seed), 1), "") << seed;
        EXPECT_EQ(accountFault(demoAccount(2, seed), 2), "") << seed;
    }
}

TEST(BankText, JulianDates) {
    const struct {
        Date day;
        const char* julian;
    } cases[] = {
        {{2011, 3, 4}, "011063"}, {{2011, 12, 30}, "011364"}, {{2012, 12, 31}, "012366"}, {{2026, 1, 1}, "026001"},
    };
    for (const auto& c : cases) EXPECT_EQ(julianDate(c.day), c.julian);
}

TEST(BankText, NamesBecomeUpperCaseAscii) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Montr\u00e9al Plateau", "MONTREAL PLATEAU"},
        {"Trois-Rivi\u00e8res", "TROIS-RIVIERES"},
        {"\u0152uvre Stra\u00dfe \u00c6r\u00f8", "OEUVRE STRASSE AERO"},  // ligatures spell out
        {"\u0141\u00f3d\u017a \u0160ibenik", "LODZ SIBENIK"},            // beyond Latin-1, still Latin
        {"\u6771\u4eac Center", "?? CENTER"},                             // other scripts
        {"Caf\u00e9 \u20ac5", "CAFE ?5"},
        {"tab\there", "TAB?HERE"},
        {"\xff\xc3", "??"},  // not UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(nameField(c.in, 20), std::string(c.out) + blanks(20 - std::string(c.out).size())) << c.in;
    EXPECT_EQ(nameField("A center name far longer than its field", 10), "A CENTER N");
}

TEST(OriginatorFile, EveryFieldIsNamedAndFaultsNameTheField) {
    std::string pattern = (std::filesystem::temp_directory_path() / "eft-originator-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const std::filesystem::path file = dir / "originator.json";
    nlohmann::json whole = nlohmann::json::object();
    for (const auto& [key, member] : originatorFields()) whole[key] = Originator{}.*member;
    whole["companyName"] = "Franchisor Inc";
    whole["odfiRouting"] = "021000021";
    const struct {
        const char* change;  // merged into the whole file; a null value removes the field
        const char* error;   // empty: loads
    } cases[] = {
        {R"({})", ""},
        {R"({"originName": null})", "the field \"originName\" is missing"},
        {R"({"companyId": null, "returnAccount": null, "cpaDataCentre": null})",
         "the fields \"companyId\", \"cpaDataCentre\", \"returnAccount\" are missing"},
        {R"({"odfiRouting": "021000022"})", "odfiRouting \"021000022\" must be a routing number (9 digits, check digit)"},
        {R"({"cpaDataCentre": "330"})", "cpaDataCentre \"330\" must be 5 digits"},
        {R"({"companyName": 12})", "field \"companyName\" must be a text"},
        {R"({"companyNmae": "x"})", "unknown field \"companyNmae\""},
        {R"({"companyShortName": "A NAME OF SIXTEEN"})", "companyShortName \"A NAME OF SIXTEEN\" must be 1 to 15 ASCII characters"},
        {R"({"cpaReasonPosition": null})", ""},  // optional: the default holds
        {R"({"cpaReasonPosition": "191"})", ""},
        {R"({"cpaReasonPosition": "239"})", "cpaReasonPosition \"239\" must be a position from 1 to 238"},
        {R"({"cpaReasonPosition": "0"})", "cpaReasonPosition \"0\" must be a position from 1 to 238"},
    };
    for (const auto& c : cases) {
        nlohmann::json json = whole;
        json.merge_patch(nlohmann::json::parse(c.change));
        std::ofstream(file, std::ios::trunc) << json.dump();
        try {
            const Originator o = loadOriginator(file);
            EXPECT_STREQ(c.error, "") << c.change;
            EXPECT_EQ(o.companyName, "Franchisor Inc");
            EXPECT_EQ(o.odfiRouting, "021000021");
            EXPECT_EQ(o.cpaReasonPosition, json.value("cpaReasonPosition", std::string("230")));
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_NE(std::string(c.error), "") << c.change << ": " << what;
            EXPECT_EQ(what.rfind("originator file " + file.string() + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(c.error), std::string::npos) << what;
        }
    }
    for (const char* broken : {R"(["not", "an object"])", R"({"companyName": )"}) {
        std::ofstream(file, std::ios::trunc) << broken;
        EXPECT_THROW(loadOriginator(file), std::runtime_error) << broken;
    }
    EXPECT_THROW(loadOriginator(dir / "missing.json"), std::runtime_error);
    EXPECT_NO_THROW(validate(loadOriginator({})));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace eft::server::bank
