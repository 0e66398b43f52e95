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
#include <fstream>
#include <stdexcept>

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

Gate::Gate(std::vector<Credential> credentials, LoginBrake brake) : brake_(brake) {
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

bool Gate::slowVerify(const std::string& name, const std::string& password) {
    std::lock_guard slow(hashing_);
    const auto known = credentials_.find(name);
    // An unknown name costs the same slow hash as a known one, so names cannot be probed by time.
    static const std::string decoy = hashPassword("not a password of anyone");
    const std::string& hash = known != credentials_.end() ? known->second : decoy;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 && known != credentials_.end();
}

std::optional<int> Gate::refusal(Tally& pair, Tally& address, Clock::time_point now) const {
    const auto wait = [now](const Tally& t) {
        return std::max(1, static_cast<int>(std::chrono::ceil<std::chrono::seconds>(t.lockedUntil - now).count()));
    };
    if (address.lockedUntil > now) return wait(address);
    if (pair.lockedUntil > now) return wait(pair);
    // Attempts whose hash is still running count already: parallel guesses cannot outrun the lock.
    const auto current = [&](const Tally& t) { return now - t.first > brake_.window ? t.running : t.failures + t.running; };
    if (current(pair) >= brake_.userFailures || current(address) >= brake_.addressFailures) return 1;
    return std::nullopt;
}

void Gate::fail(Tally& t, int limit, Clock::time_point now) {
    if (t.failures == 0 || now - t.first > brake_.window) {
        t.failures = 0;
        t.first = now;
    }
    if (++t.failures >= limit) {
        t.lockedUntil = now + brake_.lockout;
        t.failures = 0;
    }
}

void Gate::forgetStale(Clock::time_point now) {
    const auto stale = [&](const Tally& t) { return t.running == 0 && t.lockedUntil < now && now - t.first > brake_.window; };
    if (users_.size() > 10000) std::erase_if(users_, [&](const auto& e) { return stale(e.second); });
    if (addresses_.size() > 10000) std::erase_if(addresses_, [&](const auto& e) { return stale(e.second); });
    if (verdicts_.size() > 4096) verdicts_.clear();
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
    const auto now = Clock::now();
    std::optional<bool> good;
    {
        std::lock_guard lock(mutex_);
        forgetStale(now);
        Tally& pair = users_[{out.user, client}];
        Tally& address = addresses_[client];
        if (const auto wait = refusal(pair, address, now)) {
            out.verdict = Verdict::Throttled;
            out.retryAfterSeconds = *wait;
            return out;
        }
        if (const auto seen = verdicts_.find(digest); seen != verdicts_.end()) {
            good = seen->second;
        } else if (address.running >= brake_.hashesPerAddress || hashesRunning_ >= brake_.hashesInAll) {
            // A flood of guesses from one address waits its turn there, not in everyone's queue.
            out.verdict = Verdict::Throttled;
            out.retryAfterSeconds = 1;
            return out;
        } else {
            ++pair.running;
            ++address.running;
            ++hashesRunning_;
        }
    }
    const bool hashed = !good;
    if (hashed) {
        try {
            good = slowVerify(out.user, password);
        } catch (...) {
            std::lock_guard lock(mutex_);
            --users_[{out.user, client}].running;
            --addresses_[client].running;
            --hashesRunning_;
            throw;
        }
    }
    std::lock_guard lock(mutex_);
    // Found again: forgetStale keeps entries with a hash running.
    Tally& pair = users_[{out.user, client}];
    Tally& address = addresses_[client];
    if (hashed) {
        --pair.running;
        --address.running;
        --hashesRunning_;
        verdicts_[digest] = *good;
    }
    if (*good) {
        out.verdict = Verdict::Allowed;
        pair.failures = 0;  // this user's slate only; others' guesses from here still count
        return out;
    }
    fail(pair, brake_.userFailures, now);
    fail(address, brake_.addressFailures, now);
    return out;
}

}  // namespace eft::server
