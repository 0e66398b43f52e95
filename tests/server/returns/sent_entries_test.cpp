// Our own bank files read back into the entries a return is matched against, the traces that
// tell files apart, and the batch of retried debits.
#include <gtest/gtest.h>

#include <set>

#include "server/bank/bank_text.h"
#include "server/bank/cpa005.h"
#include "server/bank/nacha.h"
#include "server/returns/bank_answer.h"

namespace eft::server::returns {
namespace {

using bank::AccountType;
using bank::Payment;

const bank::BankAccount kUs{"011000015", "", "", "12345678", AccountType::Checking};
const bank::BankAccount kUsSavings{"021000021", "", "", "987654321", AccountType::Savings};
const bank::BankAccount kCa{"", "003", "00011", "7654321", AccountType::Checking};
const bank::BankAccount kCaOther{"", "815", "00022", "123456789012", AccountType::Savings};

bank::BankBatch batchOf(std::int32_t batchNo, int country, std::vector<Payment> payments) {
    bank::BankBatch b;
    b.batchNo = batchNo;
    b.country = country;
    b.createdAt = Timestamp::from(Date{2011, 3, 5}, 10, 20, 30);
    b.effectiveDate = Date{2011, 3, 7};
    b.payments = std::move(payments);
    return b;
}

struct Expected {
    std::int32_t center;
    std::int64_t cents;
    Direction direction;
    std::string trace;
    bool retry;
    std::string account;  // CPA-005: "<institution> <account>" sent to
};

struct RoundTrip {
    const char* name;
    int country;
    std::int32_t batchNo;
    std::vector<Payment> payments;
    std::vector<Expected> want;  // in file order
};

class SentEntriesRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(SentEntriesRoundTrip, EveryEntryOnceWithItsTrace) {
    const RoundTrip& c = GetParam();
    const bank::BankBatch batch = batchOf(c.batchNo, c.country, c.payments);
    const std::string text = c.country == 1 ? bank::nachaFile(batch, bank::Originator{}).text
                                            : bank::cpa005File(batch, bank::Originator{}).text;
    const std::vector<SentEntry> got = sentEntries(text, c.batchNo);
    ASSERT_EQ(got.size(), c.want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].batchNo, c.batchNo);
        EXPECT_EQ(got[i].centerId, c.want[i].center);
        EXPECT_EQ(got[i].cents, c.want[i].cents);
        EXPECT_EQ(got[i].direction, c.want[i].direction);
        EXPECT_EQ(got[i].trace, c.want[i].trace);
        EXPECT_EQ(got[i].effectiveDate, "2011-03-07");
        EXPECT_EQ(got[i].retry, c.want[i].retry);
        EXPECT_EQ(got[i].institution.empty() ? got[i].account : got[i].institution + " " + got[i].account,
                  c.want[i].account);
    }
}

// Traces: the ODFI's 8 digits, the batch number's last 3, the position in the file (4).
INSTANTIATE_TEST_SUITE_P(
    Files, SentEntriesRoundTrip,
    ::testing::Values(
        RoundTrip{"NachaRegularThenRetried",
                  1,
                  41234,
                  {{12, "A", kUs, 9200},
                   {13, "Zero", kUs, 0},
                   {14, "B", kUsSavings, -15000},
                   {15, "C", kUs, 19265, true},
                   {16, "D", kUsSavings, 500}},
                  {{12, 9200, Direction::Debit, "011000012340001", false, ""},
                   {14, 15000, Direction::Credit, "011000012340002", false, ""},
                   {16, 500, Direction::Debit, "011000012340003", false, ""},
                   {15, 19265, Direction::Debit, "011000012340004", true, ""}}},
        RoundTrip{"NachaOnlyRetried", 1, 7, {{15, "C", kUs, 19265, true}}, {{15, 19265, Direction::Debit, "011000010070001", true, ""}}},
        RoundTrip{"NachaAllZero", 1, 7, {{15, "C", kUs, 0}}, {}},
        RoundTrip{"CpaDebitsThenCredits",
                  2,
                  8,
                  {{501, "A", kCa, 100}, {502, "B", kCaOther, -250}, {503, "C", kCa, 0}, {504, "D", kCaOther, 300}},
                  {{501, 100, Direction::Debit, "8-501", false, "003 7654321"},
                   {504, 300, Direction::Debit, "8-504", false, "815 123456789012"},
                   {502, 250, Direction::Credit, "8-502", false, "815 123456789012"}}}),
    [](const auto& info) { return info.param.name; });

TEST(NachaTraces, NoTwoFilesShareATraceWithinAThousandBatches) {
    std::vector<Payment> payments;
    for (int i = 1; i <= 120; ++i) payments.push_back({i, "C", kUs, 100 + i, i % 7 == 0});
    std::set<std::string> seen;
    std::size_t entries = 0;
    for (const std::int32_t batchNo : {1, 2, 999, 1000, 2023}) {
        const auto sent = sentEntries(bank::nachaFile(batchOf(batchNo, 1, payments), bank::Originator{}).text, batchNo);
        ASSERT_EQ(sent.size(), payments.size()) << batchNo;
        for (const SentEntry& e : sent) seen.insert(e.trace);
        entries += sent.size();
    }
    EXPECT_EQ(seen.size(), entries);
    // The limits of the rule: a thousand batch numbers apart the traces repeat, and a file
    // holds 9999 entries at most.
    const auto first = sentEntries(bank::nachaFile(batchOf(1, 1, payments), bank::Originator{}).text, 1);
    const auto again = sentEntries(bank::nachaFile(batchOf(1001, 1, payments), bank::Originator{}).text, 1001);
    EXPECT_EQ(first.front().trace, again.front().trace);
    EXPECT_EQ(bank::traceSequence(2023, 9999), 239999);
    EXPECT_THROW(bank::traceSequence(2023, 10000), bank::FieldError);
}

TEST(NachaRetry, RetriedDebitsGoInABatchOfTheirOwn) {
    bank::Originator o;
    o.companyName = "FRANCHISOR INC";
    o.companyId = "9876543210";
    const std::string text =
        bank::nachaFile(batchOf(3, 1, {{12, "A", kUs, 9200}, {15, "C", kUsSavings, 19265, true}}), o).text;
    std::vector<std::string> r;
    for (std::size_t at = 0; at < text.size(); at += 96) r.push_back(text.substr(at, 94));
    ASSERT_EQ(r.size(), 10u);
    const struct {
        std::size_t record, from, length;
        const char* want;
    } fields[] = {
        {1, 1, 4, "5225"},           {1, 5, 16, "FRANCHISOR INC  "}, {1, 41, 10, "9876543210"},
        {1, 54, 10, "MEMBERSHIP"},   {1, 88, 7, "0000001"},          {3, 88, 7, "0000001"},
        {4, 1, 4, "5225"},           {4, 5, 16, "FRANCHISOR INC  "}, {4, 41, 10, "9876543210"},
        {4, 51, 3, "CCD"},           {4, 54, 10, "RETRY PYMT"},      {4, 88, 7, "0000002"},
        {5, 1, 3, "637"},            {5, 30, 10, "0000019265"},      {5, 80, 15, "011000010030002"},
        {6, 1, 10, "8225000001"},    {6, 21, 12, "000000019265"},    {6, 88, 7, "0000002"},
        {7, 1, 7, "9000002"},        {7, 14, 8, "00000002"},         {7, 32, 12, "000000028465"},
    };
    for (const auto& f : fields) EXPECT_EQ(r[f.record].substr(f.from - 1, f.length), f.want) << f.record << ":" << f.from;
}

}  // namespace
}  // namespace eft::server::returns
