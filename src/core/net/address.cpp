#include "net/address.h"

#include "net/url_parts.h"

namespace eft {
namespace {

// Spaces are let through: curl refuses them in a transfer, but the address still has to be
// shown without its password when it fails.
constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;

UrlHandle parsed(std::string_view address) { return parseUrl(address, kParseFlags); }

}  // namespace

std::string redactedAddress(std::string_view address) {
    if (UrlHandle url = parsed(address)) {
        curl_url_set(url.get(), CURLUPART_USER, nullptr, 0);
        curl_url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0);
        curl_url_set(url.get(), CURLUPART_OPTIONS, nullptr, 0);
        std::string out = urlPart(url.get(), CURLUPART_URL, 0);
        if (!out.empty()) return out;
    }
    const std::size_t scheme = address.find("://");
    const std::size_t at = address.rfind('@');
    if (scheme == std::string_view::npos || at == std::string_view::npos || at < scheme) return std::string(address);
    return std::string(address.substr(0, scheme + 3)).append(address.substr(at + 1));
}

std::string redactedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const std::size_t scheme = text.find("://", pos);
        if (scheme == std::string_view::npos) break;
        const std::size_t start = scheme + 3;
        std::size_t end = text.find_first_of("/?#\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::size_t at = text.substr(start, end - start).rfind('@');
        out.append(text.substr(pos, start - pos));
        pos = at == std::string_view::npos ? start : start + at + 1;
    }
    out.append(text.substr(pos));
    return out;
}

Credentials credentialsOf(std::string_view address) {
    Credentials c;
    if (UrlHandle url = parsed(address)) {
        c.user = urlPart(url.get(), CURLUPART_USER, CURLU_URLDECODE);
        if (!c.user.empty()) c.password = urlPart(url.get(), CURLUPART_PASSWORD, CURLU_URLDECODE);
    }
    return c;
}

std::string withCredentials(std::string_view address, const Credentials& credentials) {
    UrlHandle url = parsed(address);
    if (!url) return std::string(address);
    curl_url_set(url.get(), CURLUPART_OPTIONS, nullptr, 0);
    if (credentials.user.empty()) {
        curl_url_set(url.get(), CURLUPART_USER, nullptr, 0);
        curl_url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0);
    } else {
        curl_url_set(url.get(), CURLUPART_USER, credentials.user.c_str(), CURLU_URLENCODE);
        curl_url_set(url.get(), CURLUPART_PASSWORD, credentials.password.c_str(), CURLU_URLENCODE);
    }
    std::string out = urlPart(url.get(), CURLUPART_URL, 0);
    return out.empty() ? std::string(address) : out;
}

namespace {

std::string lowered(std::string s) {
    for (auto& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

bool sameServer(std::string_view a, std::string_view b) {
    UrlHandle ua = parsed(a), ub = parsed(b);
    if (!ua || !ub) return false;
    for (CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        const unsigned flags = part == CURLUPART_PORT ? CURLU_DEFAULT_PORT : 0;
        const std::string pa = lowered(urlPart(ua.get(), part, flags));
        if (pa != lowered(urlPart(ub.get(), part, flags))) return false;
    }
    return true;
}

}  // namespace

bool namesServer(std::string_view address) {
    UrlHandle url = parsed(address);
    return url && !urlPart(url.get(), CURLUPART_HOST, 0).empty();
}

std::string nextServerAddress(std::string_view current, std::string_view given, Credentials& waiting) {
    if (!credentialsOf(given).user.empty()) {
        waiting = {};
        return std::string(given);
    }
    if (!waiting.user.empty() && namesServer(given)) {
        const std::string adopted = withCredentials(given, waiting);
        waiting = {};
        return adopted;
    }
    const Credentials kept = credentialsOf(current);
    if (!kept.user.empty() && sameServer(current, given)) return withCredentials(given, kept);
    return std::string(given);
}

}  // namespace eft
