#pragma once
// Who may use the pages. A credentials file holds lines of "name:hash", the hash a salted,
// deliberately slow libsodium password hash; requests then carry HTTP Basic authentication.
// Failed logins are braked per client address, so a password cannot be guessed at speed.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace eft::server {

struct Credential {
    std::string name;
    std::string hash;
};

// Throws std::runtime_error naming the file and line of a malformed entry.
std::vector<Credential> loadCredentials(const std::filesystem::path& file);

// The "name:hash" line for a password (the hash alone; the caller adds the name).
std::string hashPassword(std::string_view password);

// Whether every address the host names is a loopback one (127.0.0.0/8, ::1).
bool isLoopbackHost(const std::string& host);

struct LoginBrake {
    int freeFailures = 5;                     // failures allowed from one address ...
    std::chrono::seconds window{60};          // ... within this time,
    std::chrono::seconds lockout{30};         // after which its logins are refused this long
};

class Gate {
public:
    enum class Verdict { Allowed, Missing, Wrong, Throttled };
    struct Outcome {
        Verdict verdict = Verdict::Missing;
        std::string user;        // the name, when one was given
        int retryAfterSeconds = 0;
    };

    explicit Gate(std::vector<Credential> credentials, LoginBrake brake = {});
    bool enabled() const { return !credentials_.empty(); }

    // The verdict on a request's Authorization header from a client address.
    Outcome check(const std::string& client, std::string_view authorization);

private:
    using Clock = std::chrono::steady_clock;
    struct Failures {
        int count = 0;
        Clock::time_point first;
        Clock::time_point lockedUntil;
    };

    bool verify(const std::string& name, const std::string& password);

    std::map<std::string, std::string> credentials_;  // name -> hash
    LoginBrake brake_;
    std::mutex mutex_;
    std::map<std::string, Failures> failures_;  // by client address
    // Logins already verified, kept as keyed digests of name and password so the slow hash
    // runs once per user and password, not once per request.
    std::set<std::string> verified_;
    std::string digestKey_;
    // One slow hash at a time: each takes tens of megabytes.
    std::mutex hashing_;
};

}  // namespace eft::server
