#pragma once
// The server's log on one stream: one line per request (time, client, user, method, path,
// status, bytes, duration) and a line for each refusal, export and start-up fact. Lines are
// text or JSON, and each carries its level. Nothing here ever receives a body or a password.
#include <chrono>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "eftmemb/embedded_server.h"  // LogFormat, LogLevel

namespace eft::server {

struct AccessEntry {
    std::string_view client;
    std::string_view user;  // empty: no name given; with a 401 or 429, the name that was tried
    std::string_view method;
    std::string_view path;  // as logPath() gives it
    int status = 0;
    std::size_t bytes = 0;
    std::chrono::microseconds duration{0};
};

// The path to log: a POST's query keeps its keys but loses its values.
std::string logPath(std::string_view method, std::string_view target);

// A request's line is an error when the server failed (5xx), a warning when the request was
// refused (4xx), information otherwise.
LogLevel accessLevel(int status);

// "error", "warning", "info".
std::string_view levelName(LogLevel level);

// The most bytes of a name from a request (a login tried) that a line shows.
inline constexpr std::size_t kLoggedNameBytes = 128;

class EventLog {
public:
    using Field = std::pair<std::string_view, std::string_view>;
    // write takes one whole line, its '\n' included; empty: nothing is logged.
    EventLog(LogFormat format, std::function<void(std::string_view)> write);

    bool on() const { return static_cast<bool>(write_); }
    void access(const AccessEntry& e);
    void event(LogLevel level, std::string_view kind, std::initializer_list<Field> fields);

private:
    void writeLine(std::string line);

    LogFormat format_;
    std::function<void(std::string_view)> write_;
    std::mutex mutex_;
};

}  // namespace eft::server
