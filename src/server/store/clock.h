#pragma once
// The server's notion of now, and the timestamp text it stores and sends.
#include <functional>
#include <string>

#include "base/calendar.h"

namespace eft::server {

// Where "now" comes from; tests pass a fixed one.
using Clock = std::function<Timestamp()>;

// The local wall-clock time, to the second (the operators read export times as local times).
Timestamp localNow();

// "YYYY-MM-DDTHH:MM:SS".
std::string isoText(const Timestamp& t);

}  // namespace eft::server
