#include "server/http/access_log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "server/output/shown_text.h"

namespace eft::server {
namespace {

// "2026-12-06T10:23:44.123Z"
std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(millis));
    return buf;
}

// A text value as one token, its hidden characters escaped; quoted when it holds a blank or a
// quote, or is empty.
void appendToken(std::string& out, std::string_view value) {
    const std::string shown = escapedText(value);
    if (!shown.empty() && shown.find_first_of(" \"") == std::string::npos) {
        out += shown;
        return;
    }
    out += '"';
    for (const char c : shown) {
        if (c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// JSON in ASCII: every character past it is written \uNNNN, so a C1 control or a bidi
// override reaches no terminal as itself; bytes that are not UTF-8 become U+FFFD.
std::string jsonLine(const nlohmann::json& j) {
    return j.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

// A status, a count, a port: written as a JSON number, not a text.
bool wholeNumber(std::string_view v) {
    if (v.empty() || v.size() > 18 || (v.size() > 1 && v[0] == '0')) return false;
    return std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string logPath(std::string_view method, std::string_view target) {
    const std::size_t q = target.find('?');
    if (method != "POST" || q == std::string_view::npos) return std::string(target);
    std::string out(target.substr(0, q + 1));
    std::string_view query = target.substr(q + 1);
    bool first = true;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (!first) out += '&';
        first = false;
        out += pair.substr(0, pair.find('='));
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    }
    return out;
}

EventLog::EventLog(LogFormat format, std::function<void(std::string_view)> write)
    : format_(format), write_(std::move(write)) {}

void EventLog::writeLine(std::string line) {
    line += '\n';
    std::lock_guard lock(mutex_);
    write_(line);
}

void EventLog::access(const AccessEntry& e) {
    if (!on()) return;
    const double ms = static_cast<double>(e.duration.count()) / 1000.0;
    if (format_ == LogFormat::Json) {
        nlohmann::json j = {{"time", utcNow()},
                            {"client", e.client},
                            {"user", e.user},
                            {"method", e.method},
                            {"path", e.path},
                            {"status", e.status},
                            {"bytes", e.bytes},
                            {"ms", ms}};
        writeLine(jsonLine(j));
        return;
    }
    std::string line = utcNow();
    for (const std::string_view v : {e.client, e.user.empty() ? std::string_view("-") : e.user, e.method, e.path}) {
        line += ' ';
        appendToken(line, v);
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, " %d %zu %.1fms", e.status, e.bytes, ms);
    writeLine(line + tail);
}

void EventLog::event(std::string_view kind, std::initializer_list<Field> fields) {
    if (!on()) return;
    if (format_ == LogFormat::Json) {
        nlohmann::json j = {{"time", utcNow()}, {"event", kind}};
        for (const auto& [key, value] : fields) {
            if (wholeNumber(value)) j[std::string(key)] = std::stoll(std::string(value));
            else j[std::string(key)] = value;
        }
        writeLine(jsonLine(j));
        return;
    }
    std::string line = utcNow() + " event=";
    appendToken(line, kind);
    for (const auto& [key, value] : fields) {
        line += ' ';
        line += key;
        line += '=';
        appendToken(line, value);
    }
    writeLine(std::move(line));
}

}  // namespace eft::server
