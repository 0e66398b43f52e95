#include "server/bank/bank_calendar.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace eft::server::bank {
namespace {

constexpr int kSunday = 0;
constexpr int kMonday = 1;
constexpr int kThursday = 4;
constexpr int kFriday = 5;
constexpr int kSaturday = 6;

std::int64_t dayNumber(const Date& d) { return Timestamp::from(d).seconds / 86400; }

// The n-th given weekday of a month (n from 1).
Date nthWeekday(int year, int month, int wanted, int n) {
    Date d{year, month, 1};
    while (weekday(d) != wanted) d = addDays(d, 1);
    return addDays(d, 7 * (n - 1));
}

Date lastWeekday(int year, int month, int wanted) {
    Date d = addDays(month == 12 ? Date{year + 1, 1, 1} : Date{year, month + 1, 1}, -1);
    while (weekday(d) != wanted) d = addDays(d, -1);
    return d;
}

// Gregorian Easter Sunday (the anonymous algorithm).
Date easterSunday(int y) {
    const int a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4, f = (b + 8) / 25, g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30, i = c / 4, k = c % 4, l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int month = (h + l - 7 * m + 114) / 31;
    const int day = (h + l - 7 * m + 114) % 31 + 1;
    return Date{y, month, day};
}

bool weekend(const Date& d) { return weekday(d) == kSaturday || weekday(d) == kSunday; }

std::vector<Holiday> federalReserve(int y) {
    std::vector<Holiday> out;
    for (const Holiday& fixed : {Holiday{{y, 1, 1}, "New Year's Day"}, Holiday{{y, 6, 19}, "Juneteenth"},
                                 Holiday{{y, 7, 4}, "Independence Day"}, Holiday{{y, 11, 11}, "Veterans Day"},
                                 Holiday{{y, 12, 25}, "Christmas Day"}}) {
        if (weekday(fixed.date) == kSaturday) continue;
        out.push_back({weekday(fixed.date) == kSunday ? addDays(fixed.date, 1) : fixed.date, fixed.name});
    }
    out.push_back({nthWeekday(y, 1, kMonday, 3), "Martin Luther King Jr. Day"});
    out.push_back({nthWeekday(y, 2, kMonday, 3), "Washington's Birthday"});
    out.push_back({lastWeekday(y, 5, kMonday), "Memorial Day"});
    out.push_back({nthWeekday(y, 9, kMonday, 1), "Labor Day"});
    out.push_back({nthWeekday(y, 10, kMonday, 2), "Columbus Day"});
    out.push_back({nthWeekday(y, 11, kThursday, 4), "Thanksgiving Day"});
    return out;
}

std::vector<Holiday> paymentsCanada(int y) {
    Date victoria{y, 5, 24};
    while (weekday(victoria) != kMonday) victoria = addDays(victoria, -1);
    std::vector<Holiday> out{{addDays(easterSunday(y), -2), "Good Friday"},
                             {victoria, "Victoria Day"},
                             {nthWeekday(y, 9, kMonday, 1), "Labour Day"},
                             {nthWeekday(y, 10, kMonday, 2), "Thanksgiving Day"}};
    // In date order, so a weekend holiday moves past the ones already placed.
    for (const Holiday& fixed : {Holiday{{y, 1, 1}, "New Year's Day"}, Holiday{{y, 7, 1}, "Canada Day"},
                                 Holiday{{y, 11, 11}, "Remembrance Day"}, Holiday{{y, 12, 25}, "Christmas Day"},
                                 Holiday{{y, 12, 26}, "Boxing Day"}}) {
        Date day = fixed.date;
        const auto taken = [&out](const Date& d) {
            return std::any_of(out.begin(), out.end(), [&d](const Holiday& h) { return h.date == d; });
        };
        if (weekend(day)) {
            while (weekend(day) || taken(day)) day = addDays(day, 1);
        }
        out.push_back({day, fixed.name});
    }
    return out;
}

int countryOf(const std::string& tag) {
    if (tag == "US") return 1;
    if (tag == "CA") return 2;
    return 0;
}

}  // namespace

std::vector<Holiday> ruleHolidays(int country, int year) {
    std::vector<Holiday> out = country == 2 ? paymentsCanada(year) : federalReserve(year);
    std::sort(out.begin(), out.end(), [](const Holiday& a, const Holiday& b) { return dayNumber(a.date) < dayNumber(b.date); });
    return out;
}

BankCalendar BankCalendar::withClosures(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot read the holidays file " + file.string());
    BankCalendar calendar;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const auto fail = [&](const std::string& why) {
            throw std::runtime_error(file.string() + ":" + std::to_string(number) + ": " + why);
        };
        const std::size_t tagEnd = line.find_first_of(" \t", start);
        const std::string tag = line.substr(start, tagEnd - start);
        const int country = countryOf(tag);
        if (country == 0) fail("the country must be US or CA, not \"" + tag + "\"");
        const std::size_t dateStart = tagEnd == std::string::npos ? std::string::npos : line.find_first_not_of(" \t", tagEnd);
        if (dateStart == std::string::npos) fail("a date (YYYY-MM-DD) must follow the country");
        const std::size_t dateEnd = line.find_first_of(" \t", dateStart);
        const std::string dateText = line.substr(dateStart, dateEnd - dateStart);
        const auto parsed = dateText.size() == 10 ? parseTimestamp(dateText) : std::nullopt;
        if (!parsed) fail("\"" + dateText + "\" is not a date of the form YYYY-MM-DD");
        std::string name;
        if (dateEnd != std::string::npos) {
            const std::size_t nameStart = line.find_first_not_of(" \t", dateEnd);
            if (nameStart != std::string::npos) name = line.substr(nameStart);
        }
        calendar.addClosure(country, parsed->date(), name.empty() ? "a closure of the holidays file" : name);
    }
    return calendar;
}

void BankCalendar::addClosure(int country, const Date& day, std::string name) {
    added_[{country, dayNumber(day)}] = std::move(name);
}

std::string BankCalendar::closure(int country, const Date& day) const {
    if (weekday(day) == kSaturday) return "Saturday";
    if (weekday(day) == kSunday) return "Sunday";
    if (const auto added = added_.find({country, dayNumber(day)}); added != added_.end()) return added->second;
    for (const Holiday& h : ruleHolidays(country, day.year))
        if (h.date == day) return h.name;
    return {};
}

Date BankCalendar::nextBankingDay(int country, const Date& day) const {
    Date next = addDays(day, 1);
    while (!closure(country, next).empty()) next = addDays(next, 1);
    return next;
}

}  // namespace eft::server::bank
