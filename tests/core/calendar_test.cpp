// Timestamps as the server writes them, and the day arithmetic under them.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/calendar.h"

namespace eft {
namespace {

struct Expected {
    Date date;
    int hour, minute, second;
};

struct ParseCase {
    const char* text;
    std::optional<Expected> expected;  // nothing: the text is not a timestamp
};

TEST(Calendar, ParseTimestamp) {
    const ParseCase cases[] = {
        // ISO 8601
        {"2011-03-04", Expected{{2011, 3, 4}, 0, 0, 0}},
        {"2011-03-04T10:20:30", Expected{{2011, 3, 4}, 10, 20, 30}},
        {"2011-03-04 10:20:30", Expected{{2011, 3, 4}, 10, 20, 30}},
        {"2011-03-04T10:20", Expected{{2011, 3, 4}, 10, 20, 0}},
        {"2011-03-04T10:20:30.125", Expected{{2011, 3, 4}, 10, 20, 30}},
        {"2011-03-04T10:20:30Z", Expected{{2011, 3, 4}, 10, 20, 30}},
        {"2011-03-04T10:20:30+02:00", Expected{{2011, 3, 4}, 10, 20, 30}},
        {"2011-03-04T10:20:30-0500", Expected{{2011, 3, 4}, 10, 20, 30}},
        {"2011-03-04T23:59:59", Expected{{2011, 3, 4}, 23, 59, 59}},
        {"2012-02-29", Expected{{2012, 2, 29}, 0, 0, 0}},
        {"0001-01-01", Expected{{1, 1, 1}, 0, 0, 0}},
        {"9999-12-31T23:59:59", Expected{{9999, 12, 31}, 23, 59, 59}},
        // month/day/year, with an optional time of day
        {"3/4/2011", Expected{{2011, 3, 4}, 0, 0, 0}},
        {"12/31/1999 23:59:59", Expected{{1999, 12, 31}, 23, 59, 59}},
        {"3/4/2011 1:05 PM", Expected{{2011, 3, 4}, 13, 5, 0}},
        {"3/4/2011 1:05:09 pm", Expected{{2011, 3, 4}, 13, 5, 9}},
        {"3/4/2011 12:00 AM", Expected{{2011, 3, 4}, 0, 0, 0}},
        {"3/4/2011 12:30 PM", Expected{{2011, 3, 4}, 12, 30, 0}},
        {"3/4/2011 11:59:59 PM", Expected{{2011, 3, 4}, 23, 59, 59}},
        {"2/29/2012 10:00", Expected{{2012, 2, 29}, 10, 0, 0}},
        // not timestamps
        {"", std::nullopt},
        {"yesterday", std::nullopt},
        {"2011-02-29", std::nullopt},
        {"2/29/2011", std::nullopt},
        {"2011-13-01", std::nullopt},
        {"0000-01-01", std::nullopt},
        {"2011-03-04T24:00", std::nullopt},
        {"2011-03-04T10:60", std::nullopt},
        {"2011-03-04T10:20:60", std::nullopt},
        {"2011-03-04T", std::nullopt},
        {"2011-03-04T10", std::nullopt},
        {"2011-03-04x", std::nullopt},
        {"2011-03-04T10:20:30+", std::nullopt},
        {"3/4/2011 24:00", std::nullopt},
        {"3/4/2011 13:00 PM", std::nullopt},
        {"3/4/2011 0:30 AM", std::nullopt},
        {"3/4/2011 10:20 XM", std::nullopt},
        {"3/4/2011 10", std::nullopt},
        {"13/1/2011", std::nullopt},
        {"3/4/11", std::nullopt},
        {"3/4", std::nullopt},
        {"2011/03/04", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = parseTimestamp(c.text);
        if (!c.expected) {
            EXPECT_FALSE(got.has_value()) << '"' << c.text << "\" was accepted";
            continue;
        }
        ASSERT_TRUE(got.has_value()) << '"' << c.text << "\" was refused";
        EXPECT_EQ(got->date(), c.expected->date) << c.text;
        EXPECT_EQ(got->hour(), c.expected->hour) << c.text;
        EXPECT_EQ(got->minute(), c.expected->minute) << c.text;
        EXPECT_EQ(got->second(), c.expected->second) << c.text;
    }
}

TEST(Calendar, ValidDates) {
    const struct {
        int y, m, d;
        bool valid;
    } cases[] = {
        {2011, 1, 31, true},  {2011, 2, 28, true},  {2011, 2, 29, false}, {2012, 2, 29, true},
        {1900, 2, 29, false}, {2000, 2, 29, true},  {2100, 2, 29, false}, {2400, 2, 29, true},
        {2011, 4, 30, true},  {2011, 4, 31, false}, {2011, 6, 31, false}, {2011, 9, 31, false},
        {2011, 11, 31, false}, {2011, 12, 31, true}, {2011, 12, 32, false}, {2011, 0, 1, false},
        {2011, 13, 1, false}, {2011, 1, 0, false},  {0, 1, 1, false},     {1, 1, 1, true},
        {9999, 12, 31, true}, {10000, 1, 1, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isValidDate(c.y, c.m, c.d), c.valid) << c.y << "-" << c.m << "-" << c.d;
}

// Every day from 1600 to 2400 comes back as the same date, exactly one day after the one
// before, and the time of day survives the trip.
TEST(Calendar, TimestampRoundTrip) {
    std::optional<Timestamp> previous;
    int checked = 0;
    for (int y = 1600; y <= 2400; ++y) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= 31; ++d) {
                if (!isValidDate(y, m, d)) continue;
                const Date date{y, m, d};
                const int h = (y + m + d) % 24, mi = (y * 7 + d) % 60, s = (m * 13 + d) % 60;
                const Timestamp t = Timestamp::from(date, h, mi, s);
                ASSERT_EQ(t.date(), date);
                ASSERT_EQ(t.hour(), h);
                ASSERT_EQ(t.minute(), mi);
                ASSERT_EQ(t.second(), s);
                const Timestamp midnight = Timestamp::from(date);
                if (previous) {
                    ASSERT_EQ(midnight.seconds - previous->seconds, 86400) << y << "-" << m << "-" << d;
                }
                previous = midnight;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 292194 + 366);  // 1600..2399 are 800 Gregorian years of 292,194 days; 2400 is leap
}

TEST(Calendar, TimestampsOrderByTime) {
    const char* ascending[] = {"0001-01-01", "1969-12-31T23:59:59", "1970-01-01", "3/4/2011 9:00 AM",
                               "2011-03-04T09:00:01", "3/4/2011 1:00 PM", "2011-03-05", "9999-12-31T23:59:59"};
    for (std::size_t i = 1; i < std::size(ascending); ++i) {
        const auto a = parseTimestamp(ascending[i - 1]);
        const auto b = parseTimestamp(ascending[i]);
        ASSERT_TRUE(a && b) << ascending[i];
        EXPECT_LT(*a, *b) << ascending[i - 1] << " vs " << ascending[i];
    }
}

}  // namespace
}  // namespace eft
