#include "base/calendar.h"

namespace eft {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days from 0001-01-01 (day 0), after Howard Hinnant's days_from_civil.
std::int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 306;  // 306: 0000-03-01 -> 0001-01-01
}

Date civilFromDays(std::int64_t z) {
    z += 306;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return Date{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// A small cursor over the text being parsed.
struct Scanner {
    std::string_view s;
    std::size_t i = 0;

    bool atEnd() const { return i >= s.size(); }
    bool take(char c) {
        if (!atEnd() && s[i] == c) { ++i; return true; }
        return false;
    }
    // Reads 1..maxDigits digits (exactly `exact` when given).
    std::optional<int> number(int minDigits, int maxDigits) {
        // Every date of a reply passes here: the digits are summed as they are read (at most
        // nine, so the sum cannot overflow).
        std::size_t start = i;
        int v = 0;
        while (!atEnd() && i - start < static_cast<std::size_t>(maxDigits) && s[i] >= '0' && s[i] <= '9') {
            v = v * 10 + (s[i] - '0');
            ++i;
        }
        if (i - start < static_cast<std::size_t>(minDigits)) { i = start; return std::nullopt; }
        return v;
    }
    void skipBlanks() { while (!atEnd() && s[i] == ' ') ++i; }
};

bool validTime(int h, int m, int s) { return h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60; }

struct Clock {
    int hour = 0, minute = 0, second = 0;
};

// "h:mm" or "h:mm:ss", the hour with hourDigits..2 digits.
std::optional<Clock> clockTime(Scanner& sc, int hourDigits) {
    auto hh = sc.number(hourDigits, 2);
    if (!hh || !sc.take(':')) return std::nullopt;
    auto mm = sc.number(2, 2);
    if (!mm) return std::nullopt;
    Clock c{*hh, *mm, 0};
    if (sc.take(':')) {
        auto ss = sc.number(2, 2);
        if (!ss) return std::nullopt;
        c.second = *ss;
    }
    return c;
}

std::optional<Timestamp> parseIso(std::string_view text) {
    Scanner sc{text};
    auto y = sc.number(4, 4);
    if (!y || !sc.take('-')) return std::nullopt;
    auto mo = sc.number(2, 2);
    if (!mo || !sc.take('-')) return std::nullopt;
    auto d = sc.number(2, 2);
    if (!d || !isValidDate(*y, *mo, *d)) return std::nullopt;
    int h = 0, mi = 0, se = 0;
    if (!sc.atEnd()) {
        if (!sc.take('T') && !sc.take(' ')) return std::nullopt;
        const auto clock = clockTime(sc, 2);
        if (!clock) return std::nullopt;
        h = clock->hour;
        mi = clock->minute;
        se = clock->second;
        if (sc.take('.') || sc.take(',')) {
            if (!sc.number(1, 9)) return std::nullopt;
        }
        if (sc.take('Z')) {
        } else if (sc.take('+') || sc.take('-')) {
            if (!sc.number(2, 2)) return std::nullopt;
            sc.take(':');
            sc.number(2, 2);
        }
        if (!sc.atEnd() || !validTime(h, mi, se)) return std::nullopt;
    }
    return Timestamp::from(Date{*y, *mo, *d}, h, mi, se);
}

std::optional<Timestamp> parseUs(std::string_view text) {
    Scanner sc{text};
    auto mo = sc.number(1, 2);
    if (!mo || !sc.take('/')) return std::nullopt;
    auto d = sc.number(1, 2);
    if (!d || !sc.take('/')) return std::nullopt;
    auto y = sc.number(4, 4);
    if (!y || !isValidDate(*y, *mo, *d)) return std::nullopt;
    int h = 0, mi = 0, se = 0;
    sc.skipBlanks();
    if (!sc.atEnd()) {
        const auto clock = clockTime(sc, 1);
        if (!clock) return std::nullopt;
        h = clock->hour;
        mi = clock->minute;
        se = clock->second;
        sc.skipBlanks();
        if (!sc.atEnd()) {
            std::string_view rest = text.substr(sc.i);
            const bool pm = rest == "PM" || rest == "pm";
            if (!pm && rest != "AM" && rest != "am") return std::nullopt;
            if (h < 1 || h > 12) return std::nullopt;
            h = (h % 12) + (pm ? 12 : 0);
        }
        if (!validTime(h, mi, se)) return std::nullopt;
    }
    return Timestamp::from(Date{*y, *mo, *d}, h, mi, se);
}

}  // namespace

bool isValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int weekday(const Date& date) {
    // Day 0, 0001-01-01, was a Monday.
    const std::int64_t days = daysFromCivil(date.year, date.month, date.day);
    return static_cast<int>(((days + 1) % 7 + 7) % 7);
}

Date addDays(const Date& date, int days) { return civilFromDays(daysFromCivil(date.year, date.month, date.day) + days); }

Timestamp Timestamp::from(const Date& date, int hour, int minute, int second) {
    return Timestamp{daysFromCivil(date.year, date.month, date.day) * kSecondsPerDay +
                     hour * 3600 + minute * 60 + second};
}

Date Timestamp::date() const {
    std::int64_t days = seconds / kSecondsPerDay;
    if (seconds % kSecondsPerDay < 0) --days;
    return civilFromDays(days);
}

static std::int64_t secondOfDay(std::int64_t s) {
    std::int64_t r = s % 86400;
    return r < 0 ? r + 86400 : r;
}
int Timestamp::hour() const { return static_cast<int>(secondOfDay(seconds) / 3600); }
int Timestamp::minute() const { return static_cast<int>(secondOfDay(seconds) / 60 % 60); }
int Timestamp::second() const { return static_cast<int>(secondOfDay(seconds) % 60); }

std::optional<Timestamp> parseTimestamp(std::string_view text) {
    if (text.find('/') != std::string_view::npos) return parseUs(text);
    return parseIso(text);
}

}  // namespace eft
