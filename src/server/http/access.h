#pragma once
// Who may use the pages. A credentials file holds lines of "name:hash", the hash a salted,
// deliberately slow libsodium password hash; requests then carry HTTP Basic authentication.
// Failed logins are braked per user and address, so a password cannot be guessed at speed;
// per user across addresses, so rotating addresses gains nothing, except at the addresses
// where that user signed in lately, so a guesser cannot keep an operator from her desk; and
// per address only past a high count, so one guesser behind an office's shared address does
// not lock out everyone else there.
#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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
    std::chrono::seconds lockout{30};    // after which those logins are refused this long.
    // Failures of one user from any addresses within the window lock that user this long at
    // every address but those where it signed in within `known`.
    int userFailuresAnywhere = 10;
    std::chrono::seconds userLockout{60};
    std::chrono::hours known{24 * 45};
    int hashesPerAddress = 2;  // slow hashes running for one address at once,
    int hashesInAll = 8;       // and for all, so most workers stay free for the pages;
    int hashesKnown = 2;       // beyond those, for a user at an address where it signed in
    // Failure tallies kept per table (user and address, address, user), some 128 bytes each,
    // and (user, address) pairs that signed in.
    std::size_t maxEntries = 32768;
    std::size_t maxKnown = 8192;
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

    // The failure tallies kept, in all three tables.
    std::size_t tallies();

private:
    using Clock = std::chrono::steady_clock;
    // A keyed digest: what the tables keep instead of names and addresses, so that an entry's
    // size is fixed whatever a client sends, and its place in a hash table cannot be aimed at.
    using Key = std::array<unsigned char, 16>;
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };

    // Failures per key, each O(1): the counting ones in the order their window began, the
    // locked ones in the order their lock ends, so what has lapsed is always at a front. At
    // the cap the lapsed go first, then the oldest that only count; a lock is never let go
    // before its time, so flooding the table cannot lift one. A table full of locks takes no
    // new key.
    class Tallies {
    public:
        Tallies(std::size_t cap, int limit, std::chrono::seconds window, std::chrono::seconds lockout)
            : cap_(cap), limit_(limit), window_(window), lockout_(lockout) {}
        // Nothing (go on) or the seconds to wait: a lock, or the count reached.
        std::optional<int> refusal(const Key& k, int running, Clock::time_point now);
        // Whether a failure of this key would find no room; then the seconds until it would.
        std::optional<int> full(const Key& k, Clock::time_point now);
        // Whether the failure started a lock.
        bool fail(const Key& k, Clock::time_point now);
        void clear(const Key& k);
        std::size_t size() const { return entries_.size(); }

    private:
        struct Entry {
            int failures = 0;
            Clock::time_point first;
            Clock::time_point lockedUntil;
            std::list<Key>::iterator at;
            bool locked = false;
        };
        void lapse(Clock::time_point now);
        void drop(std::unordered_map<Key, Entry, KeyHash>::iterator e);

        std::size_t cap_;
        int limit_;
        std::chrono::seconds window_, lockout_;
        std::unordered_map<Key, Entry, KeyHash> entries_;
        std::list<Key> counting_;  // by the start of their window
        std::list<Key> locked_;    // by the end of their lock
    };

    // The (user, address) pairs that signed in lately, the least recent first.
    class Known {
    public:
        Known(std::size_t cap, std::chrono::hours keep) : cap_(cap), keep_(keep) {}
        bool contains(const Key& k, Clock::time_point now);
        void add(const Key& k, Clock::time_point now);

    private:
        std::size_t cap_;
        std::chrono::hours keep_;
        std::list<std::pair<Key, Clock::time_point>> order_;
        std::unordered_map<Key, std::list<std::pair<Key, Clock::time_point>>::iterator, KeyHash> where_;
    };

    // A hash under way; few at once, so they are counted by a look at each.
    struct Running {
        Key pair, address, user;
    };

    Key keyOf(char kind, std::string_view a, std::string_view b = {}) const;
    std::string digestOf(const std::string& name, const std::string& password) const;
    bool slowVerify(const std::string& name, const std::string& password);
    int running(const Key Running::*which, const Key& k) const;

    std::map<std::string, std::string> credentials_;  // name -> hash
    LoginBrake brake_;
    std::string digestKey_;
    std::mutex mutex_;
    Tallies pairs_, addresses_, users_;
    Known known_;
    std::vector<Running> running_;
    // Verdicts on credentials already checked, kept by a keyed digest of name and password,
    // so the slow hash runs once per pair tried, not once per request. The good ones are one a
    // user at most and are kept apart, so a flood of wrong guesses cannot push them out.
    std::unordered_set<std::string> good_;
    std::unordered_set<std::string> wrong_;
    // One slow hash at a time: each takes tens of megabytes.
    std::mutex hashing_;
};

}  // namespace eft::server
