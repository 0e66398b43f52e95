#include "server/store/clock.h"

#include <cstdio>
#include <ctime>

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
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, t.hour(), t.minute(),
                  t.second());
    return buf;
}

}  // namespace eft::server
