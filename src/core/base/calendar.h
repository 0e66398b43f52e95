#pragma once
// Calendar dates and timestamps as the tables and text forms use them.
#include <cstdint>
#include <optional>
#include <string_view>

#include "eftmemb/control.h"  // Date

namespace eft {

// A calendar date and time of day, stored as seconds from 0001-01-01 00:00:00 (proleptic
// Gregorian), so that comparing two timestamps compares their numbers.
struct Timestamp {
    std::int64_t seconds = 0;

    static Timestamp from(const Date& date, int hour = 0, int minute = 0, int second = 0);
    Date date() const;
    int hour() const;
    int minute() const;
    int second() const;
    friend auto operator<=>(const Timestamp&, const Timestamp&) = default;
};

bool isValidDate(int year, int month, int day);

// 0 Sunday .. 6 Saturday.
int weekday(const Date& date);

// The date `days` days later (earlier when negative).
Date addDays(const Date& date, int days);

// Accepts ISO 8601 dates and date-times ("2011-03-04", "2011-03-04T10:20:30", optional
// fraction and zone, "T" or a blank) and "m/d/yyyy" with an optional "h:mm[:ss] [AM|PM]".
// A zone suffix is accepted and ignored: the control shows dates as the server wrote them.
std::optional<Timestamp> parseTimestamp(std::string_view text);

}  // namespace eft
