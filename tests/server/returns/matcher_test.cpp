// Matching a bank's returns to the entries sent: by trace, by an old trace's date and amount,
// by a CPA-005 cross reference, and each way a return is left for review.
#include <gtest/gtest.h>

#include "server/returns/matcher.h"

namespace eft::server::returns {
namespace {

constexpr const char* kOldTrace = "011000010000001";  // in batches 3 and 5: traces restarted at 1

SentEntry entry(std::int32_t batch, std::int32_t center, std::int64_t cents, std::string trace,
                std::string effective, Direction direction = Direction::Debit) {
    return {batch, center, cents, direction, std::move(trace), std::move(effective), false, "", ""};
}

// A CPA-005 entry as its kept file carries it: to the account the center had then.
SentEntry sentTo(std::int32_t batch, std::int32_t center, std::int64_t cents, std::string account) {
    SentEntry e = entry(batch, center, cents, std::to_string(batch) + "-" + std::to_string(center), "2011-03-08");
    e.institution = "003";
    e.account = std::move(account);
    return e;
}

MatchContext context() {
    MatchContext c;
    c.batches = {
        {3, 1, Date{2011, 3, 7}, {entry(3, 12, 12345, kOldTrace, "2011-03-07")}},
        {5, 1, Date{2011, 3, 14},
         {entry(5, 12, 12345, kOldTrace, "2011-03-14"), entry(5, 15, 500, "011000010000002", "2011-03-14")}},
        {7, 1, Date{2011, 3, 21},
         {entry(7, 15, 700, "011000010070001", "2011-03-21"),
          entry(7, 16, 900, "011000010070002", "2011-03-21", Direction::Credit)}},
        {9, 1, Date{2011, 11, 10}, {entry(9, 12, 4000, "011000010090001", "2011-11-10")}},
        {4, 2, Date{2011, 3, 8}, {entry(4, 34, 5000, "4-34", "2011-03-08")}},  // its file not kept
        {6, 2, Date{2011, 3, 8}, {sentTo(6, 34, 5000, "1111111")}},  // before the account changed
    };
    c.returned = {{7, 15}};
    c.accounts[34] = {"", "003", "00011", "7654321", bank::AccountType::Checking};
    return c;
}

ReturnedEntry nacha(std::string trace, std::int32_t center, std::int64_t cents, std::string code, std::string date,
                    std::string effective = "") {
    ReturnedEntry r;
    r.country = 1;
    r.originalTrace = std::move(trace);
    r.centerId = center;
    r.cents = cents;
    r.code = std::move(code);
    r.returnDate = std::move(date);
    r.originalEffectiveDate = std::move(effective);
    return r;
}

ReturnedEntry cpa(std::int32_t batch, std::int32_t center, std::int64_t cents, std::string code, std::string account) {
    ReturnedEntry r;
    r.country = 2;
    r.batchNo = batch;
    r.centerId = center;
    r.cents = cents;
    r.code = std::move(code);
    r.returnDate = "2011-03-09";
    r.institution = "003";
    r.account = std::move(account);
    return r;
}

struct Case {
    const char* name;
    ReturnedEntry returned;
    MatchOutcome outcome;
    std::int32_t batch;  // 0: none found
    bool byFallback;
};

class MatchTable : public ::testing::TestWithParam<Case> {};

TEST_P(MatchTable, FindsTheEntryAndJudgesIt) {
    const Case& c = GetParam();
    const std::vector<Match> m = matchReturns({c.returned}, context());
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(outcomeName(m[0].outcome), outcomeName(c.outcome)) << m[0].detail;
    EXPECT_EQ(m[0].batchNo, c.batch);
    EXPECT_EQ(m[0].byFallback, c.byFallback);
    if (c.outcome != MatchOutcome::Matched) {
        EXPECT_FALSE(m[0].detail.empty());
    }
}

using O = MatchOutcome;
INSTANTIATE_TEST_SUITE_P(
    Returns, MatchTable,
    ::testing::Values(
        Case{"UniqueTrace", nacha("011000010090001", 12, 4000, "R01", "2011-11-11"), O::Matched, 9, false},
        Case{"OldTraceByEffectiveDate", nacha(kOldTrace, 12, 12345, "R01", "2011-03-09", "2011-03-07"), O::Matched, 3,
             true},
        Case{"OldTraceByLatestFileSettledBeforeTheReturn", nacha(kOldTrace, 12, 12345, "R01", "2011-03-15"),
             O::Matched, 5, true},
        Case{"OldTraceNoneOfThatAmount", nacha(kOldTrace, 12, 12346, "R01", "2011-03-15"), O::Unmatched, 0, false},
        Case{"TraceNeverSent", nacha("011000019999999", 12, 4000, "R01", "2011-11-11"), O::Unmatched, 0, false},
        Case{"AmountDiffers", nacha("011000010000002", 15, 501, "R01", "2011-03-15"), O::Differing, 5, false},
        Case{"IdentificationNumberDiffers", nacha("011000010000002", 16, 500, "R01", "2011-03-15"), O::Differing, 5,
             false},
        Case{"DirectionDiffers", nacha("011000010070002", 16, 900, "R01", "2011-03-22"), O::Differing, 7, false},
        Case{"ReturnedAlready", nacha("011000010070001", 15, 700, "R01", "2011-03-22"), O::Duplicate, 7, false},
        Case{"PastTwoBankingDays", nacha("011000010000002", 15, 500, "R01", "2011-03-17"), O::Late, 5, false},
        Case{"UnauthorizedWithinSixtyDays", nacha("011000010000002", 15, 500, "R10", "2011-05-12"), O::Matched, 5,
             false},
        Case{"UnauthorizedPastSixtyDays", nacha("011000010000002", 15, 500, "R10", "2011-05-14"), O::Late, 5, false},
        // Settled Thursday; Veterans Day closes Friday, so the second banking day is Tuesday.
        Case{"WindowStretchedByAHoliday", nacha("011000010090001", 12, 4000, "R01", "2011-11-15"), O::Matched, 9,
             false},
        Case{"WindowPastTheHoliday", nacha("011000010090001", 12, 4000, "R01", "2011-11-16"), O::Late, 9, false},
        Case{"CodeNotInTheTable", nacha("011000010090001", 12, 4000, "R98", "2011-11-11"), O::UnknownCode, 9, false},
        Case{"CodeUnreadable", nacha("011000010090001", 12, 4000, "", "2011-11-11"), O::UnknownCode, 9, false},
        Case{"CrossReference", cpa(4, 34, 5000, "901", "7654321"), O::Matched, 4, false},
        Case{"CrossReferenceAccountDiffers", cpa(4, 34, 5000, "901", "7654320"), O::Differing, 4, false},
        Case{"CrossReferenceAccountAsSentBeforeAChange", cpa(6, 34, 5000, "901", "1111111"), O::Matched, 6, false},
        Case{"CrossReferenceAccountAsNowButNotAsSent", cpa(6, 34, 5000, "901", "7654321"), O::Differing, 6, false},
        Case{"CrossReferenceCenterOutsideTheBatch", cpa(4, 35, 5000, "901", "7654321"), O::OutsideBatch, 4, false},
        Case{"CrossReferenceBatchOfTheOtherCountry", cpa(5, 15, 500, "901", ""), O::Unmatched, 0, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(MatchFile, TheSameEntryTwiceInOneFileIsADuplicateTheSecondTime) {
    const ReturnedEntry r = nacha("011000010090001", 12, 4000, "R01", "2011-11-11");
    const std::vector<Match> m = matchReturns({r, r}, context());
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].outcome, MatchOutcome::Matched);
    EXPECT_EQ(m[1].outcome, MatchOutcome::Duplicate);
    EXPECT_EQ(m[1].index, 1u);
}

TEST(MatchFile, AMarginWidensTheWindow) {
    MatchContext c = context();
    const ReturnedEntry r = nacha("011000010000002", 15, 500, "R01", "2011-03-17");
    EXPECT_EQ(matchReturns({r}, c)[0].outcome, MatchOutcome::Late);
    c.marginDays = 1;
    EXPECT_EQ(matchReturns({r}, c)[0].outcome, MatchOutcome::Matched);
}

}  // namespace
}  // namespace eft::server::returns
