#include "server/store/clock.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace eft::server {

Timestamp localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return Timestamp::from(Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, local.tm_hour, local.tm_min,
                           local.tm_sec);
}

std::string isoText(const Timestamp& t) {
    const Date d = t.date();
    if (d.year >= 0 && d.year <= 9999) {
        // Digit by digit: an import formats a date for each of a million charges.
        std::string out = "0000-00-00T00:00:00";
        const auto put = [&out](std::size_t at, int value, int width) {
            for (std::size_t k = at + static_cast<std::size_t>(width); k-- > at; value /= 10)
                out[k] = static_cast<char>('0' + value % 10);
        };
        put(0, d.year, 4);
        put(5, d.month, 2);
        put(8, d.day, 2);
        put(11, t.hour(), 2);
        put(14, t.minute(), 2);
        put(17, t.second(), 2);
        return out;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, t.hour(), t.minute(),
                  t.second());
    return buf;
}

}  // namespace eft::server
