// The banking days of each country: every Federal Reserve holiday and Payments Canada
// non-processing day of 2026 and 2027, the weekend shifts, and closures a site adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <span>

#include "server/bank/bank_calendar.h"
#include "server_fixture.h"

namespace eft::server::bank {
namespace {

constexpr int kUs = 1;
constexpr int kCanada = 2;

struct Expected {
    Date date;
    const char* name;
};

// Observed dates, from the Federal Reserve's and Payments Canada's published calendars.
const Expected kFederalReserve[] = {
    {{2026, 1, 1}, "New Year's Day"},        {{2026, 1, 19}, "Martin Luther King Jr. Day"},
    {{2026, 2, 16}, "Washington's Birthday"}, {{2026, 5, 25}, "Memorial Day"},
    {{2026, 6, 19}, "Juneteenth"},           {{2026, 9, 7}, "Labor Day"},
    {{2026, 10, 12}, "Columbus Day"},        {{2026, 11, 11}, "Veterans Day"},
    {{2026, 11, 26}, "Thanksgiving Day"},    {{2026, 12, 25}, "Christmas Day"},
    // Independence Day 2026 is a Saturday: not moved.
    {{2027, 1, 1}, "New Year's Day"},        {{2027, 1, 18}, "Martin Luther King Jr. Day"},
    {{2027, 2, 15}, "Washington's Birthday"}, {{2027, 5, 31}, "Memorial Day"},
    {{2027, 7, 5}, "Independence Day"},      // a Sunday, observed on the Monday
    {{2027, 9, 6}, "Labor Day"},             {{2027, 10, 11}, "Columbus Day"},
    {{2027, 11, 11}, "Veterans Day"},        {{2027, 11, 25}, "Thanksgiving Day"},
    // Juneteenth and Christmas 2027 are Saturdays: not moved.
};

const Expected kPaymentsCanada[] = {
    {{2026, 1, 1}, "New Year's Day"},   {{2026, 4, 3}, "Good Friday"},      {{2026, 5, 18}, "Victoria Day"},
    {{2026, 7, 1}, "Canada Day"},       {{2026, 9, 7}, "Labour Day"},       {{2026, 10, 12}, "Thanksgiving Day"},
    {{2026, 11, 11}, "Remembrance Day"}, {{2026, 12, 25}, "Christmas Day"},
    {{2026, 12, 28}, "Boxing Day"},      // a Saturday, observed on the Monday
    {{2027, 1, 1}, "New Year's Day"},   {{2027, 3, 26}, "Good Friday"},     {{2027, 5, 24}, "Victoria Day"},
    {{2027, 7, 1}, "Canada Day"},       {{2027, 9, 6}, "Labour Day"},       {{2027, 10, 11}, "Thanksgiving Day"},
    {{2027, 11, 11}, "Remembrance Day"},
    {{2027, 12, 27}, "Christmas Day"},  // a Saturday: the Monday ...
    {{2027, 12, 28}, "Boxing Day"},     // ... and Boxing Day, a Sunday, the Tuesday
};

std::string iso(const Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

TEST(BankCalendar, EveryHolidayOf2026And2027IsClosedAndNothingElseOnAWeekday) {
    const BankCalendar calendar;
    for (const auto& [country, table] : {std::pair{kUs, std::span<const Expected>(kFederalReserve)},
                                         std::pair{kCanada, std::span<const Expected>(kPaymentsCanada)}}) {
        std::size_t listed = 0;
        for (Date d{2026, 1, 1}; d.year < 2028; d = addDays(d, 1)) {
            if (weekday(d) == 0 || weekday(d) == 6) continue;
            const std::string closed = calendar.closure(country, d);
            const auto expected = std::find_if(table.begin(), table.end(), [&d](const Expected& e) { return e.date == d; });
            if (expected == table.end()) {
                EXPECT_EQ(closed, "") << country << " " << iso(d);
            } else {
                EXPECT_EQ(closed, expected->name) << country << " " << iso(d);
                ++listed;
            }
        }
        EXPECT_EQ(listed, table.size()) << country;
    }
}

TEST(BankCalendar, TheSettlementDateSkipsWeekendsAndHolidays) {
    const BankCalendar calendar;
    const struct {
        int country;
        Date exported, settles;
    } cases[] = {
        {kUs, {2026, 3, 4}, {2026, 3, 5}},      // an ordinary Wednesday
        {kUs, {2026, 3, 6}, {2026, 3, 9}},      // Friday to Monday
        {kUs, {2026, 1, 16}, {2026, 1, 20}},    // over a Monday holiday
        {kUs, {2026, 11, 25}, {2026, 11, 27}},  // Thanksgiving
        {kUs, {2026, 7, 2}, {2026, 7, 3}},      // July 4th on a Saturday leaves the Friday open
        {kUs, {2026, 12, 31}, {2027, 1, 4}},    // over New Year's Day and a weekend
        {kCanada, {2026, 4, 2}, {2026, 4, 6}},  // Good Friday; Easter Monday is a processing day
        {kCanada, {2026, 12, 24}, {2026, 12, 29}},
        {kCanada, {2027, 12, 24}, {2027, 12, 29}},
        {kCanada, {2027, 12, 31}, {2028, 1, 4}},  // New Year's Day 2028, a Saturday, on the Monday
        {kCanada, {2026, 8, 2}, {2026, 8, 3}},    // the Civic Holiday is a processing day
    };
    for (const auto& c : cases)
        EXPECT_EQ(iso(calendar.nextBankingDay(c.country, c.exported)), iso(c.settles)) << c.country << " " << iso(c.exported);
}

TEST(BankCalendar, OverTwoYearsTheRulesMoveTheDatesTheWeekdaysAloneGotWrong) {
    // Export days whose next weekday is a closure: 40 in the United States and 34 in Canada.
    const BankCalendar calendar;
    for (const auto& [country, wrong] : {std::pair{kUs, 40}, std::pair{kCanada, 34}}) {
        int moved = 0;
        for (Date d{2026, 1, 1}; d.year < 2028; d = addDays(d, 1)) {
            Date weekdayAfter = addDays(d, 1);
            while (weekday(weekdayAfter) == 0 || weekday(weekdayAfter) == 6) weekdayAfter = addDays(weekdayAfter, 1);
            if (!(calendar.nextBankingDay(country, d) == weekdayAfter)) ++moved;
        }
        EXPECT_EQ(moved, wrong) << country;
    }
}

TEST(BankCalendar, AFileAddsClosuresPerCountryAndABadLineIsNamed) {
    testing::TempDir dir;
    const auto file = dir.path() / "holidays";
    std::ofstream(file) << "# site closures\n\nCA 2026-08-03 Civic Holiday\r\n  US 2026-11-27\n";
    const BankCalendar calendar = BankCalendar::withClosures(file);
    EXPECT_EQ(calendar.closure(kCanada, {2026, 8, 3}), "Civic Holiday");
    EXPECT_EQ(calendar.closure(kUs, {2026, 8, 3}), "");
    EXPECT_EQ(iso(calendar.nextBankingDay(kUs, {2026, 11, 25})), "2026-11-30");
    EXPECT_EQ(iso(calendar.nextBankingDay(kCanada, {2026, 11, 26})), "2026-11-27");

    const struct {
        const char* line;
        const char* reason;
    } bad[] = {
        {"MX 2026-01-02", "the country must be US or CA, not \"MX\""},
        {"US", "a date (YYYY-MM-DD) must follow the country"},
        {"US 2026-02-30", "\"2026-02-30\" is not a date of the form YYYY-MM-DD"},
        {"CA 3/8/2026", "\"3/8/2026\" is not a date of the form YYYY-MM-DD"},
        {"CA 2026-08-03T00:00:00", "\"2026-08-03T00:00:00\" is not a date of the form YYYY-MM-DD"},
    };
    for (const auto& c : bad) {
        std::ofstream(file, std::ios::trunc) << "US 2026-11-27\n" << c.line << "\n";
        try {
            BankCalendar::withClosures(file);
            ADD_FAILURE() << c.line << " was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), file.string() + ":2: " + c.reason);
        }
    }
}

}  // namespace
}  // namespace eft::server::bank
