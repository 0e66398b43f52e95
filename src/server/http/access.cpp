#include "server/http/access.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "server/metrics/metrics.h"

namespace eft::server {
namespace {

void startSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw std::runtime_error("libsodium could not start");
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return std::string(s);
}

// "$argon2id$v=19$m=65536,t=2,p=1$<salt>$<hash>" as crypto_pwhash_str writes it: libsodium
// reads a hash cut short as a shorter hash, which no password ever matches.
bool wholeHash(const std::string& hash) {
    if (!hash.starts_with(crypto_pwhash_STRPREFIX)) return false;
    if (crypto_pwhash_str_needs_rehash(hash.c_str(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                       crypto_pwhash_MEMLIMIT_INTERACTIVE) < 0)
        return false;
    const std::size_t hashStart = hash.rfind('$');
    const std::size_t saltStart = hash.rfind('$', hashStart - 1);
    // Unpadded base64 of a 16-byte salt and a 32-byte hash.
    return hashStart - saltStart - 1 == 22 && hash.size() - hashStart - 1 == 43;
}

}  // namespace

void requirePrivateFile(const std::filesystem::path& file, std::string_view what) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) throw std::runtime_error("cannot read the " + std::string(what) + " " + file.string());
    if (!S_ISREG(st.st_mode)) throw std::runtime_error("the " + std::string(what) + " " + file.string() + " is not a file");
    if ((st.st_mode & (S_IWGRP | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw std::runtime_error("the " + std::string(what) + " " + file.string() + " has mode " + mode +
                                 ": others may read or change it; make it 0600 or 0640");
    }
}

std::vector<Credential> loadCredentials(const std::filesystem::path& file) {
    startSodium();
    requirePrivateFile(file, "credentials file");
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot read the credentials file " + file.string());
    std::vector<Credential> out;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = file.string() + " line " + std::to_string(number);
        // An editor's byte-order mark would become part of the first name, and that user
        // could never log in.
        if (line.starts_with("\xEF\xBB\xBF")) throw std::runtime_error(where + ": starts with a byte-order mark");
        const std::string text = trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos || colon == 0) throw std::runtime_error(where + ": expected name:hash");
        Credential c{text.substr(0, colon), text.substr(colon + 1)};
        if (std::any_of(c.name.begin(), c.name.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f; }))
            throw std::runtime_error(where + ": the name holds a control character");
        if (!wholeHash(c.hash))
            throw std::runtime_error(where + ": the hash is not a whole one of those eft-server --hash-password makes");
        for (const Credential& seen : out)
            if (seen.name == c.name) throw std::runtime_error(where + ": " + c.name + " appears twice");
        out.push_back(std::move(c));
    }
    if (out.empty()) throw std::runtime_error("the credentials file " + file.string() + " names nobody");
    return out;
}

std::string hashPassword(std::string_view password) {
    startSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("out of memory while hashing the password");
    return hash;
}

bool isLoopbackHost(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.empty() ? nullptr : host.c_str(), "0", &hints, &found) != 0) return false;
    bool loopback = found != nullptr;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            loopback = loopback && (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
        } else if (a->ai_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            loopback = loopback && IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
        } else {
            loopback = false;
        }
    }
    freeaddrinfo(found);
    return loopback;
}

namespace {

int secondsUntil(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now) {
    return std::max(1, static_cast<int>(std::chrono::ceil<std::chrono::seconds>(when - now).count()));
}

}  // namespace

std::size_t Gate::KeyHash::operator()(const Key& k) const {
    // The key is a keyed digest already: any of its bytes are as good as a hash.
    std::size_t h = 0;
    std::memcpy(&h, k.data(), sizeof h);
    return h;
}

void Gate::Tallies::drop(std::unordered_map<Key, Entry, KeyHash>::iterator e) {
    (e->second.locked ? locked_ : counting_).erase(e->second.at);
    entries_.erase(e);
}

void Gate::Tallies::lapse(Clock::time_point now) {
    while (!locked_.empty()) {
        const auto e = entries_.find(locked_.front());
        if (e->second.lockedUntil > now) break;
        if (e->second.failures == 0) {
            drop(e);
            continue;
        }
        // Failures whose hash ended during the lock count from its end.
        e->second.locked = false;
        e->second.first = now;
        counting_.splice(counting_.end(), locked_, e->second.at);
    }
    while (!counting_.empty()) {
        const auto e = entries_.find(counting_.front());
        if (now - e->second.first <= window_) break;
        drop(e);
    }
}

std::optional<int> Gate::Tallies::refusal(const Key& k, int running, Clock::time_point now) {
    lapse(now);
    const auto e = entries_.find(k);
    if (e != entries_.end() && e->second.locked) return secondsUntil(e->second.lockedUntil, now);
    const int failures = e == entries_.end() || now - e->second.first > window_ ? 0 : e->second.failures;
    // Attempts whose hash is still running count already: parallel guesses cannot outrun the lock.
    if (failures + running >= limit_) return 1;
    return std::nullopt;
}

std::optional<int> Gate::Tallies::full(const Key& k, Clock::time_point now) {
    lapse(now);
    if (entries_.size() < cap_ || !counting_.empty() || entries_.contains(k)) return std::nullopt;
    return secondsUntil(entries_.find(locked_.front())->second.lockedUntil, now);
}

bool Gate::Tallies::fail(const Key& k, Clock::time_point now) {
    lapse(now);
    auto e = entries_.find(k);
    if (e == entries_.end()) {
        if (entries_.size() >= cap_) {
            // Filled by locks since full() was asked: the failure has nowhere to go.
            if (counting_.empty()) return false;
            drop(entries_.find(counting_.front()));
        }
        e = entries_.emplace(k, Entry{}).first;
        e->second.first = now;
        e->second.at = counting_.insert(counting_.end(), k);
    }
    Entry& t = e->second;
    if (!t.locked && now - t.first > window_) {
        t.failures = 0;
        t.first = now;
        counting_.splice(counting_.end(), counting_, t.at);
    }
    if (++t.failures < limit_) return false;
    t.failures = 0;
    t.lockedUntil = now + lockout_;
    locked_.splice(locked_.end(), t.locked ? locked_ : counting_, t.at);
    t.locked = true;
    return true;
}

void Gate::Tallies::clear(const Key& k) {
    const auto e = entries_.find(k);
    if (e != entries_.end() && !e->second.locked) drop(e);
}

bool Gate::Known::contains(const Key& k, Clock::time_point now) {
    while (!order_.empty() && now - order_.front().second > keep_) {
        where_.erase(order_.front().first);
        order_.pop_front();
    }
    return where_.contains(k);
}

void Gate::Known::add(const Key& k, Clock::time_point now) {
    if (const auto found = where_.find(k); found != where_.end()) {
        found->second->second = now;
        order_.splice(order_.end(), order_, found->second);
        return;
    }
    if (order_.size() >= cap_) {
        where_.erase(order_.front().first);
        order_.pop_front();
    }
    where_.emplace(k, order_.insert(order_.end(), {k, now}));
}

Gate::Gate(std::vector<Credential> credentials, LoginBrake brake)
    : brake_(brake),
      pairs_(brake.maxEntries, brake.userFailures, brake.window, brake.lockout),
      addresses_(brake.maxEntries, brake.addressFailures, brake.window, brake.lockout),
      users_(brake.maxEntries, brake.userFailuresAnywhere, brake.window, brake.userLockout),
      known_(brake.maxKnown, brake.known) {
    for (Credential& c : credentials) credentials_.emplace(std::move(c.name), std::move(c.hash));
    if (enabled()) {
        startSodium();
        digestKey_.resize(crypto_generichash_KEYBYTES);
        randombytes_buf(digestKey_.data(), digestKey_.size());
    }
}

std::string Gate::digestOf(const std::string& name, const std::string& password) const {
    std::string digest(crypto_generichash_BYTES, '\0');
    const std::string material = name + '\0' + password;
    crypto_generichash(reinterpret_cast<unsigned char*>(digest.data()), digest.size(),
                       reinterpret_cast<const unsigned char*>(material.data()), material.size(),
                       reinterpret_cast<const unsigned char*>(digestKey_.data()), digestKey_.size());
    return digest;
}

Gate::Key Gate::keyOf(char kind, std::string_view a, std::string_view b) const {
    std::string material(1, kind);
    material.append(a).append(1, '\0').append(b);
    Key key;
    crypto_generichash(key.data(), key.size(), reinterpret_cast<const unsigned char*>(material.data()), material.size(),
                       reinterpret_cast<const unsigned char*>(digestKey_.data()), digestKey_.size());
    return key;
}

bool Gate::slowVerify(const std::string& name, const std::string& password) {
    std::lock_guard slow(hashing_);
    const auto known = credentials_.find(name);
    // An unknown name costs the same slow hash as a known one, so names cannot be probed by time.
    static const std::string decoy = hashPassword("not a password of anyone");
    const std::string& hash = known != credentials_.end() ? known->second : decoy;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 && known != credentials_.end();
}

int Gate::running(const Key Running::*which, const Key& k) const {
    return static_cast<int>(std::count_if(running_.begin(), running_.end(), [&](const Running& r) { return r.*which == k; }));
}

std::size_t Gate::tallies() {
    std::lock_guard lock(mutex_);
    return pairs_.size() + addresses_.size() + users_.size();
}

Gate::Outcome Gate::check(const std::string& client, std::string_view authorization) {
    Outcome out;
    if (!enabled()) {
        out.verdict = Verdict::Allowed;
        return out;
    }
    // "Basic" in any letter case, then the base64 of name:password.
    constexpr std::string_view kScheme = "basic ";
    if (authorization.size() <= kScheme.size()) return out;  // Missing
    for (std::size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i]) return out;
    std::string_view encoded = authorization.substr(kScheme.size());
    while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
    std::string decoded(encoded.size(), '\0');
    std::size_t length = 0;
    out.verdict = Verdict::Wrong;
    std::string password;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(decoded.data()), decoded.size(), encoded.data(),
                          encoded.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0) {
        decoded.resize(length);
        const std::size_t colon = decoded.find(':');
        if (colon != std::string::npos) {
            out.user = decoded.substr(0, colon);
            password = decoded.substr(colon + 1);
        }
    }
    const std::string digest = digestOf(out.user, password);
    // The address goes first in the pair's key: it holds no NUL, so the two cannot run together.
    const Running keys{keyOf('p', client, out.user), keyOf('a', client), keyOf('u', out.user)};
    const auto refuse = [&out](int seconds) {
        out.verdict = Verdict::Throttled;
        out.retryAfterSeconds = seconds;
        return out;
    };
    const auto failed = [&](Clock::time_point now) {
        if (pairs_.fail(keys.pair, now)) metrics::lockout(metrics::Lock::UserAtAddress);
        if (addresses_.fail(keys.address, now)) metrics::lockout(metrics::Lock::Address);
        if (users_.fail(keys.user, now)) metrics::lockout(metrics::Lock::User);
    };
    const auto signedIn = [&](Clock::time_point now) {
        known_.add(keys.pair, now);
        pairs_.clear(keys.pair);  // this user's slate here only; others' guesses from here still count
        out.verdict = Verdict::Allowed;
        return out;
    };
    bool known = false;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        known = known_.contains(keys.pair, now);
        std::optional<int> wait = addresses_.refusal(keys.address, running(&Running::address, keys.address), now);
        if (!wait) wait = pairs_.refusal(keys.pair, running(&Running::pair, keys.pair), now);
        // A user locked across addresses still gets in where it signed in lately.
        if (!wait && !known) wait = users_.refusal(keys.user, running(&Running::user, keys.user), now);
        if (wait) return refuse(*wait);
        if (good_.contains(digest)) return signedIn(now);
        // A guess is let through only when its failure can be counted.
        wait = pairs_.full(keys.pair, now);
        if (!wait) wait = addresses_.full(keys.address, now);
        if (!wait && !known) wait = users_.full(keys.user, now);
        if (wait) return refuse(*wait);
        if (wrong_.contains(digest)) {
            failed(now);
            return out;
        }
        // A flood of guesses from one address waits its turn there, not in everyone's queue,
        // and a few hashes are kept for users at addresses where they signed in.
        if (running(&Running::address, keys.address) >= brake_.hashesPerAddress ||
            static_cast<int>(running_.size()) >= brake_.hashesInAll + (known ? brake_.hashesKnown : 0))
            return refuse(1);
        running_.push_back(keys);
    }
    const auto finished = [&] {
        const auto mine = std::find_if(running_.begin(), running_.end(), [&](const Running& r) {
            return r.pair == keys.pair && r.address == keys.address && r.user == keys.user;
        });
        running_.erase(mine);
    };
    bool good = false;
    try {
        good = slowVerify(out.user, password);
    } catch (...) {
        std::lock_guard lock(mutex_);
        finished();
        throw;
    }
    std::lock_guard lock(mutex_);
    finished();
    const auto now = Clock::now();
    if (good) {
        good_.insert(digest);
        return signedIn(now);
    }
    if (wrong_.size() >= 4096) wrong_.clear();
    wrong_.insert(digest);
    failed(now);
    return out;
}

}  // namespace eft::server
