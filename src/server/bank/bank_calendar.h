#pragma once
// The days banks settle on, per country: every weekday that is not a closure. Closures are the
// clearing system's own holidays, computed by rule, and any a site adds from a file:
//   United States (1): the Federal Reserve holidays. New Year's Day, Martin Luther King Jr.'s
//     birthday (3rd Monday of January), Washington's Birthday (3rd Monday of February),
//     Memorial Day (last Monday of May), Juneteenth (June 19), Independence Day (July 4), Labor
//     Day (1st Monday of September), Columbus Day (2nd Monday of October), Veterans Day
//     (November 11), Thanksgiving (4th Thursday of November), Christmas (December 25). One that
//     falls on a Sunday is observed on the Monday; one on a Saturday is not moved (the Reserve
//     Banks are open on the Friday before).
//   Canada (2): the Payments Canada non-processing days. New Year's Day, Good Friday, Victoria
//     Day (the Monday before May 25), Canada Day (July 1), Labour Day (1st Monday of
//     September), Thanksgiving (2nd Monday of October), Remembrance Day (November 11),
//     Christmas (December 25), Boxing Day (December 26). One that falls on a Saturday or Sunday
//     is observed on the next weekday that is not already a closure, so a weekend Christmas
//     moves Boxing Day on by a day as well.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/calendar.h"

namespace eft::server::bank {

struct Holiday {
    Date date;  // the day it is observed
    std::string name;
};

// The rule holidays of a country (1 or 2) observed in a year, by date.
std::vector<Holiday> ruleHolidays(int country, int year);

class BankCalendar {
public:
    // The rules alone.
    BankCalendar() = default;

    // The rules and the closures of a file: one a line, "US" or "CA", an ISO date and an
    // optional name ("CA 2026-08-03 Civic Holiday"); blank lines and lines starting with '#'
    // are ignored. Throws std::runtime_error naming the file and line of a bad one.
    static BankCalendar withClosures(const std::filesystem::path& file);

    void addClosure(int country, const Date& day, std::string name);

    // Why the day is no banking day ("Saturday", "Christmas Day"); empty for a banking day.
    std::string closure(int country, const Date& day) const;
    // The first banking day after `day`: when a batch made on `day` settles.
    Date nextBankingDay(int country, const Date& day) const;

private:
    std::map<std::pair<int, std::int64_t>, std::string> added_;  // (country, day number) -> name
};

}  // namespace eft::server::bank
