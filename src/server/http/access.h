#pragma once
// Who may use the pages. A credentials file holds lines of "name:hash", the hash a salted,
// deliberately slow libsodium password hash; requests then carry HTTP Basic authentication.
// Failed logins are braked per user and address, so a password cannot be guessed at speed,
// and per address only past a high count, so one guesser behind an office's shared address
// does not lock out everyone else there.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace eft::server {

struct Credential {
    std::string name;
    std::string hash;
};

// Throws std::runtime_error naming the file and line of a malformed entry (no colon, a name
// with a byte-order mark or a control character, a hash that is not whole), or the file
// when others may read or write it.
std::vector<Credential> loadCredentials(const std::filesystem::path& file);

// Throws std::runtime_error, as ssh does for its keys, when a secret's file is not a regular
// file or when anyone but its owner and group may read it or anyone but its owner write it.
void requirePrivateFile(const std::filesystem::path& file, std::string_view what);

// The "name:hash" line for a password (the hash alone; the caller adds the name).
std::string hashPassword(std::string_view password);

// Whether every address the host names is a loopback one (127.0.0.0/8, ::1).
bool isLoopbackHost(const std::string& host);

struct LoginBrake {
    int userFailures = 5;                // failures of one user from one address ...
    int addressFailures = 100;           // ... or of any users from one address ...
    std::chrono::seconds window{60};     // ... within this time,
    std::chrono::seconds lockout{30};    // after which those logins are refused this long
    int hashesPerAddress = 2;            // slow hashes running for one address at once,
    int hashesInAll = 8;                 // and for all, so most workers stay free for the pages
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

    // The verdict on a request's Authorization header from a client address. Blocks for a
    // slow hash unless the same credentials were checked before. Thread-safe.
    Outcome check(const std::string& client, std::string_view authorization);

private:
    using Clock = std::chrono::steady_clock;
    // Failures in the current window, attempts whose hash is running, and a lock.
    struct Tally {
        int failures = 0;
        int running = 0;
        Clock::time_point first;
        Clock::time_point lockedUntil;
    };

    // Under mutex_: nothing (go on) or how many seconds to wait.
    std::optional<int> refusal(Tally& pair, Tally& address, Clock::time_point now) const;
    void fail(Tally& t, int limit, Clock::time_point now);
    std::string digestOf(const std::string& name, const std::string& password) const;
    bool slowVerify(const std::string& name, const std::string& password);
    void forgetStale(Clock::time_point now);

    std::map<std::string, std::string> credentials_;  // name -> hash
    LoginBrake brake_;
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, Tally> users_;  // by user and address
    std::map<std::string, Tally> addresses_;
    int hashesRunning_ = 0;
    // Verdicts on credentials already checked, kept by a keyed digest of name and password,
    // so the slow hash runs once per pair tried, not once per request.
    std::map<std::string, bool> verdicts_;
    std::string digestKey_;
    // One slow hash at a time: each takes tens of megabytes.
    std::mutex hashing_;
};

}  // namespace eft::server
