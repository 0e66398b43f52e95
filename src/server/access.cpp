#include "access.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sodium.h>
#include <sys/socket.h>

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

}  // namespace

std::vector<Credential> loadCredentials(const std::filesystem::path& file) {
    startSodium();
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot read the credentials file " + file.string());
    std::vector<Credential> out;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        const std::size_t colon = text.find(':');
        const std::string where = file.string() + " line " + std::to_string(number);
        if (colon == std::string::npos || colon == 0) throw std::runtime_error(where + ": expected name:hash");
        Credential c{text.substr(0, colon), text.substr(colon + 1)};
        if (!c.hash.starts_with(crypto_pwhash_STRPREFIX))
            throw std::runtime_error(where + ": the hash is not one eft-server --hash-password makes");
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

bool Gate::verify(const std::string& name, const std::string& password) {
    const auto known = credentials_.find(name);
    std::string digest(crypto_generichash_BYTES, '\0');
    const std::string material = name + '\0' + password;
    crypto_generichash(reinterpret_cast<unsigned char*>(digest.data()), digest.size(),
                       reinterpret_cast<const unsigned char*>(material.data()), material.size(),
                       reinterpret_cast<const unsigned char*>(digestKey_.data()), digestKey_.size());
    {
        std::lock_guard lock(mutex_);
        if (verified_.contains(digest)) return true;
    }
    std::lock_guard slow(hashing_);
    // An unknown name costs the same slow hash as a known one, so names cannot be probed by time.
    static const std::string decoy = hashPassword("not a password of anyone");
    const std::string& hash = known != credentials_.end() ? known->second : decoy;
    const bool good = crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 &&
                      known != credentials_.end();
    if (good) {
        std::lock_guard lock(mutex_);
        if (verified_.size() > 1000) verified_.clear();
        verified_.insert(digest);
    }
    return good;
}

Gate::Outcome Gate::check(const std::string& client, std::string_view authorization) {
    Outcome out;
    if (!enabled()) {
        out.verdict = Verdict::Allowed;
        return out;
    }
    const auto now = Clock::now();
    {
        std::lock_guard lock(mutex_);
        const auto f = failures_.find(client);
        if (f != failures_.end() && f->second.lockedUntil > now) {
            out.verdict = Verdict::Throttled;
            out.retryAfterSeconds =
                static_cast<int>(std::chrono::ceil<std::chrono::seconds>(f->second.lockedUntil - now).count());
            return out;
        }
    }
    constexpr std::string_view kScheme = "Basic ";
    if (authorization.size() <= kScheme.size() || !authorization.starts_with(kScheme)) return out;  // Missing
    std::string_view encoded = authorization.substr(kScheme.size());
    while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
    std::string decoded(encoded.size(), '\0');
    std::size_t length = 0;
    out.verdict = Verdict::Wrong;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(decoded.data()), decoded.size(), encoded.data(),
                          encoded.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0) {
        decoded.resize(length);
        const std::size_t colon = decoded.find(':');
        if (colon != std::string::npos) {
            out.user = decoded.substr(0, colon);
            if (verify(out.user, decoded.substr(colon + 1))) {
                out.verdict = Verdict::Allowed;
                std::lock_guard lock(mutex_);
                failures_.erase(client);
                return out;
            }
        }
    }
    std::lock_guard lock(mutex_);
    if (failures_.size() > 10000) {
        for (auto it = failures_.begin(); it != failures_.end();)
            it = it->second.lockedUntil < now && now - it->second.first > brake_.window ? failures_.erase(it) : std::next(it);
    }
    Failures& f = failures_[client];
    if (f.count == 0 || now - f.first > brake_.window) {
        f.count = 0;
        f.first = now;
    }
    if (++f.count >= brake_.freeFailures) {
        f.lockedUntil = now + brake_.lockout;
        f.count = 0;
    }
    return out;
}

}  // namespace eft::server
