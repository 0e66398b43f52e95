// The demo sweep of both countries saved whole and exported, and each bank file read back by
// an independent implementation from the npm registry (tests/oracle): a NACHA parser for the
// United States file, a CPA-005 generator fed the same payments for the Canadian one. Both
// are compared with what the database holds. The same parser reads a file that retries
// debits, and a bank's return file written from the published layout.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "server/bank/bank_text.h"
#include "server/bank/cpa005.h"
#include "server/bank/nacha.h"
#include "server/bank/originator.h"
#include "server/pages/save_record.h"
#include "server/returns/bank_answer.h"
#include "server/store/seed.h"
#include "server_fixture.h"
#include "server_process.h"
#include "returns/answer_files.h"

namespace eft::server::testing {
namespace {

namespace fs = std::filesystem;

bool haveNode() { return std::system("command -v node >/dev/null 2>&1") == 0; }

// Runs the oracle script; its standard output.
std::string oracle(const std::string& mode, const fs::path& file) {
    const std::string command = "node '" + (fs::path(EFT_ORACLE_DIR) / "check_bank_files.mjs").string() + "' " + mode +
                                " '" + file.string() + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
}

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

struct CenterInBatch {
    std::int64_t cents = 0;
    std::string name;
    bank::BankAccount account;
};

class OracleTest : public OnEngine {
protected:
    void SetUp() override {
        OnEngine::SetUp();
        if (IsSkipped()) return;
        if (!haveNode()) GTEST_SKIP() << "node is missing: the bank files are not read back by the npm oracles "
                                         "(scripts/install-deps.sh installs nodejs and the oracles)";
        ASSERT_TRUE(fs::exists(fs::path(EFT_ORACLE_DIR) / "node_modules"))
            << "the npm oracles are not installed: run scripts/install-deps.sh (npm ci in tests/oracle)";
        {
            Store store(db);
            ASSERT_TRUE(seedDemo(store));
        }
        service = std::make_unique<Service>(ServiceOptions{db, dir.path() / "export", fixedNow});
        Store store(db);
        for (const int country : {1, 2}) ASSERT_EQ(service->save(controlSaveBody(store, country, 32767, 7, 2)), "");
        report = service->exportBatches(9, 2);
    }

    // The batch's centers as the database holds them: the sum of their items' amounts.
    std::map<std::int32_t, CenterInBatch> centersOf(int country) {
        Store store(db);
        std::map<std::int32_t, CenterInBatch> centers;
        Statement s = store.db().prepare(
            "SELECT ch.center_id, ce.name, SUM(ch.batch_cents), a.routing, a.institution, a.transit, a.account, "
            "a.account_type FROM batch_items bi JOIN batches b ON b.batch_no = bi.batch_no "
            "JOIN charges ch ON ch.id = bi.charge_id JOIN centers ce ON ce.id = ch.center_id "
            "JOIN center_accounts a ON a.center_id = ch.center_id WHERE b.country = ?1 "
            "GROUP BY ch.center_id, ce.name, a.routing, a.institution, a.transit, a.account, a.account_type");
        s.bind(1, country);
        while (s.step()) {
            CenterInBatch& c = centers[static_cast<std::int32_t>(s.integer(0))];
            c.name = std::string(s.text(1));
            c.cents = s.integer(2);
            c.account = {s.isNull(3) ? "" : std::string(s.text(3)), s.isNull(4) ? "" : std::string(s.text(4)),
                         s.isNull(5) ? "" : std::string(s.text(5)), std::string(s.text(6)),
                         static_cast<bank::AccountType>(s.integer(7))};
        }
        return centers;
    }

    std::unique_ptr<Service> service;
    std::string report;
};

TEST_P(OracleTest, TheNachaParserReadsWhatTheDatabaseHolds) {
    const auto centers = centersOf(1);
    ASSERT_GT(centers.size(), 30u);
    const auto ach = nlohmann::json::parse(oracle("nacha", dir.path() / "export" / "EFT_US_0000000001.txt"));
    EXPECT_TRUE(ach["problems"].empty()) << ach["problems"].dump();
    ASSERT_EQ(ach["batches"].size(), 1u);
    const auto& batch = ach["batches"][0];
    EXPECT_EQ(batch["entryClassCode"], "CCD");
    EXPECT_EQ(batch["effectiveDate"], "110307");  // the Saturday's next banking day
    std::int64_t debits = 0, credits = 0, entries = 0;
    for (const auto& [id, c] : centers) {
        if (c.cents == 0) continue;
        (c.cents > 0 ? debits : credits) += c.cents > 0 ? c.cents : -c.cents;
        ++entries;
    }
    EXPECT_EQ(batch["entries"].size(), static_cast<std::size_t>(entries));
    EXPECT_EQ(ach["file"]["footer"]["totalDebit"], debits);
    EXPECT_EQ(ach["file"]["footer"]["totalCredit"], credits);
    for (const auto& e : batch["entries"]) {
        const auto id = std::stoi(e["identificationNumber"].get<std::string>());
        ASSERT_TRUE(centers.contains(id)) << e.dump();
        const CenterInBatch& c = centers.at(id);
        const std::int64_t rdfi = e["receivingDFIIdentification"];
        EXPECT_EQ(std::to_string(rdfi * 10 + e["checkDigit"].get<int>()), c.account.routing.substr(c.account.routing[0] == '0'))
            << id;
        EXPECT_EQ(e["dfiAccount"], c.account.number) << id;
        EXPECT_EQ(e["amount"], c.cents > 0 ? c.cents : -c.cents) << id;
        const bool savings = c.account.type == bank::AccountType::Savings;
        EXPECT_EQ(e["transactionCode"], c.cents > 0 ? (savings ? "37" : "27") : (savings ? "32" : "22")) << id;
        EXPECT_EQ(e["receivingCompanyName"], trimmed(bank::nameField(c.name, 22))) << id;
    }
}

TEST_P(OracleTest, TheCpa005GeneratorWritesTheSameFileForTheSamePayments) {
    const auto centers = centersOf(2);
    ASSERT_GT(centers.size(), 10u);
    const bank::Originator o;
    nlohmann::json payments;
    payments["created"] = {2011, 3, 5};
    payments["due"] = {2011, 3, 7};
    payments["config"] = {{"originatorId", o.cpaOriginatorId},      {"originatorShortName", o.companyShortName},
                      {"originatorLongName", o.companyName},    {"fileCreationNumber", "1"},
                      {"destinationDataCentre", o.cpaDataCentre}, {"destinationCurrency", "CAD"},
                      {"returnInstitutionNumber", o.returnInstitution}, {"returnTransitNumber", o.returnTransit},
                      {"returnAccountNumber", o.returnAccount}};
    payments["transactions"] = nlohmann::json::array();
    std::int64_t segments[2] = {0, 0};
    for (const bool debits : {true, false}) {
        nlohmann::json record;
        for (const auto& [id, c] : centers) {
            if (c.cents == 0 || (c.cents > 0) != debits) continue;
            if (record.is_null() || record["segments"].size() == bank::kCpaSegmentsPerRecord) {
                if (!record.is_null()) payments["transactions"].push_back(record);
                record = {{"recordType", debits ? "D" : "C"}, {"segments", nlohmann::json::array()}};
            }
            record["segments"].push_back({{"cpaCode", debits ? o.cpaDebitCode : o.cpaCreditCode},
                                          {"amount", static_cast<double>(c.cents > 0 ? c.cents : -c.cents) / 100.0},
                                          {"bankInstitutionNumber", c.account.institution},
                                          {"bankTransitNumber", c.account.transit},
                                          {"bankAccountNumber", c.account.number},
                                          {"payeeName", trimmed(bank::nameField(c.name, 30))},
                                          {"crossReferenceNumber", "2-" + std::to_string(id)}});
            ++segments[debits ? 0 : 1];
        }
        if (!record.is_null()) payments["transactions"].push_back(record);
    }
    ASSERT_GT(segments[0] + segments[1], 0);
    const fs::path paymentsFile = dir.path() / "payments.json";
    std::ofstream(paymentsFile) << payments.dump();
    const std::string theirs = oracle("cpa005", paymentsFile);
    const std::string ours = fileText(dir.path() / "export" / "EFT_CA_0000000002.txt");
    ASSERT_EQ(ours.size(), theirs.size());
    const std::size_t recordCount = ours.size() / (bank::kCpaRecordLength + 2);
    for (std::size_t r = 0; r + 1 < recordCount; ++r) {
        const std::size_t at = r * (bank::kCpaRecordLength + 2);
        EXPECT_EQ(ours.substr(at, bank::kCpaRecordLength + 2), theirs.substr(at, bank::kCpaRecordLength + 2)) << "record " << r + 1;
    }
    // The trailer: the generator counts records where the standard counts transactions
    // (segments), so the two counts are checked against the segments fed to it.
    std::string z = ours.substr(ours.size() - bank::kCpaRecordLength - 2);
    std::string zTheirs = theirs.substr(theirs.size() - bank::kCpaRecordLength - 2);
    EXPECT_EQ(z.substr(38, 8), bank::numberField(segments[0], 8, "debits"));
    EXPECT_EQ(z.substr(60, 8), bank::numberField(segments[1], 8, "credits"));
    for (const std::size_t at : {38u, 60u}) {
        z.replace(at, 8, 8, '#');
        zTheirs.replace(at, 8, 8, '#');
    }
    EXPECT_EQ(z, zTheirs);
}

INSTANTIATE_TEST_SUITE_P(On, OracleTest, kEngines, engineName);

class OracleFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveNode()) GTEST_SKIP() << "node is missing: the files are not read back by the npm oracles";
        ASSERT_TRUE(fs::exists(fs::path(EFT_ORACLE_DIR) / "node_modules"))
            << "the npm oracles are not installed: run scripts/install-deps.sh (npm ci in tests/oracle)";
    }
    nlohmann::json parsed(const std::string& text) {
        const fs::path file = dir.path() / "file.txt";
        std::ofstream(file, std::ios::binary) << text;
        auto ach = nlohmann::json::parse(oracle("nacha", file));
        EXPECT_TRUE(ach["problems"].empty()) << ach["problems"].dump();
        return ach;
    }
    TempDir dir;
};

TEST_F(OracleFiles, RetriedDebitsGoInABatchOfTheirOwn) {
    bank::BankBatch b;
    b.batchNo = 12;
    b.createdAt = Timestamp::from(Date{2011, 3, 5}, 10, 20, 30);
    b.effectiveDate = Date{2011, 3, 7};
    const bank::BankAccount us{"011000015", "", "", "12345678", bank::AccountType::Checking};
    b.payments = {{3, "A", us, 9200}, {4, "B", us, 19265, true}, {5, "C", us, -700}, {6, "D", us, 4000, true}};
    const auto ach = parsed(bank::nachaFile(b, bank::Originator{}).text);
    ASSERT_EQ(ach["batches"].size(), 2u);
    const auto& regular = ach["batches"][0];
    const auto& retry = ach["batches"][1];
    EXPECT_EQ(regular["description"], "MEMBERSHIP");
    EXPECT_EQ(retry["description"], "RETRY PYMT");
    EXPECT_EQ(retry["companyName"], regular["companyName"]);
    EXPECT_EQ(retry["companyId"], regular["companyId"]);
    EXPECT_EQ(regular["serviceClassCode"], 200);
    EXPECT_EQ(retry["serviceClassCode"], 225);
    EXPECT_EQ(regular["num"], 1);
    EXPECT_EQ(retry["num"], 2);
    EXPECT_EQ(ach["file"]["footer"]["batchCount"], 2);
    std::vector<std::pair<std::string, std::int64_t>> retried;
    for (const auto& e : retry["entries"]) retried.emplace_back(e["identificationNumber"], e["amount"]);
    EXPECT_EQ(retried, (std::vector<std::pair<std::string, std::int64_t>>{{"4", 19265}, {"6", 4000}}));
    EXPECT_EQ(regular["entries"].size(), 2u);
    EXPECT_EQ(retry["entries"][1]["traceNumber"], 11000010120004);  // the file's fourth entry
}

// The parser knows no addenda 99 layout (it reads an addenda as type 05: its type, 80
// characters of text, sequence numbers) and no COR batch at all, so the return's own fields
// are compared with the layout's positions in that text, and with what the server reads.
TEST_F(OracleFiles, AReturnFileAsTheServerReadsIt) {
    using returns::Direction;
    const bank::BankAccount savings{"021000021", "", "", "987654321", bank::AccountType::Savings};
    const bank::BankAccount checking{"011000015", "", "", "12345678", bank::AccountType::Checking};
    const std::vector<AnswerItem> items = {
        {{1, 12, 9200, Direction::Debit, "011000010010001", "2011-03-07", false, "", ""}, "R01", "2011-03-09", checking, ""},
        {{1, 14, 15000, Direction::Credit, "011000010010002", "2011-03-07", false, "", ""}, "R03", "2011-03-09", savings, ""},
        {{1, 16, 700, Direction::Debit, "011000010010003", "2011-03-07", false, "", ""}, "R10", "2011-03-09", savings, ""},
    };
    const std::string text = nachaAnswerFile(items);
    const auto ach = parsed(text);
    const returns::BankAnswer ours = returns::readBankAnswer(text);
    ASSERT_EQ(ach["batches"].size(), 1u);
    const auto& entries = ach["batches"][0]["entries"];
    ASSERT_EQ(entries.size(), items.size());
    ASSERT_EQ(ours.returns.size(), items.size());
    const char* codes[] = {"26", "31", "36"};
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& e = entries[i];
        const std::string info = e["addenda"]["info"];
        const returns::ReturnedEntry& r = ours.returns[i];
        EXPECT_EQ(e["transactionCode"], codes[i]);
        EXPECT_EQ(e["addenda"]["type"], "99");
        EXPECT_EQ(info.substr(0, 3), items[i].code);                        // 4-6 reason
        EXPECT_EQ(info.substr(3, 15), items[i].original.trace);             // 7-21 original trace
        EXPECT_EQ(info.substr(24, 8), items[i].account.routing.substr(0, 8));  // 28-35 original RDFI
        EXPECT_EQ(r.code, info.substr(0, 3));
        EXPECT_EQ(r.originalTrace, info.substr(3, 15));
        EXPECT_EQ(r.routing, info.substr(24, 8));
        EXPECT_EQ(r.cents, e["amount"].get<std::int64_t>());
        EXPECT_EQ(std::to_string(r.centerId), e["identificationNumber"].get<std::string>());
        EXPECT_EQ(r.account, e["dfiAccount"].get<std::string>());
        EXPECT_EQ(r.ownTrace, bank::numberField(e["traceNumber"].get<std::int64_t>(), 15, "trace"));
        EXPECT_EQ(r.direction, items[i].original.direction);
    }
}

}  // namespace
}  // namespace eft::server::testing
