#include "net/curl_common.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include <curl/header.h>

#include "net/address.h"
#include "net/url_parts.h"
#include "ui/phrases.h"

namespace eft {
namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

void configureTransfer(CURL* curl, const std::string& address, const HttpLimits& limits,
                       std::chrono::milliseconds totalTimeout, char* errorText) {
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(totalTimeout.count()));
    // Less than one byte a second for the whole idle time: a stalled server, not a slow one.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max<long long>(1, limits.lowSpeedTime.count())));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxReplyBytes));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A redirect is judged by the control: a POST never follows one, a GET only to its own server.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!limits.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, limits.caFile.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    if (UrlHandle url = parseUrl(address)) {
        const std::string user = urlPart(url.get(), CURLUPART_USER, CURLU_URLDECODE);
        if (!user.empty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, urlPart(url.get(), CURLUPART_PASSWORD, CURLU_URLDECODE).c_str());
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            // The login is the server's own: never sent on to another host.
            curl_easy_setopt(curl, CURLOPT_UNRESTRICTED_AUTH, 0L);
        }
    }
}

namespace {

int idleCheck(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* watch = static_cast<IdleWatch*>(user);
    const auto now = std::chrono::steady_clock::now();
    const long long moved = static_cast<long long>(downloaded) + static_cast<long long>(uploaded);
    if (moved != watch->moved) {
        watch->moved = moved;
        watch->lastMove = now;
        return 0;
    }
    if (now - watch->lastMove < watch->limit) return 0;
    watch->tripped = true;
    return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
}

}  // namespace

void watchIdle(CURL* curl, IdleWatch& watch, std::chrono::seconds limit) {
    watch = IdleWatch{std::max(limit, std::chrono::seconds(1)), std::chrono::steady_clock::now(), -1, false};
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &idleCheck);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

bool wentIdle(CURLcode code, const char* errorText, const IdleWatch& idle) {
    return idle.tripped || (code == CURLE_OPERATION_TIMEDOUT && errorText && std::strstr(errorText, "too slow"));
}

std::string describeCurlFailure(CURLcode code, const char* errorText, const HttpLimits& limits, bool overflow,
                                const IdleWatch& idleWatch) {
    if (overflow || code == CURLE_FILESIZE_EXCEEDED)
        return ui::fill(ui::phrase::kTooLarge, {std::to_string(limits.maxReplyBytes)});
    if (wentIdle(code, errorText, idleWatch)) return ui::fill(ui::phrase::kNothingFor, {std::to_string(limits.lowSpeedTime.count())});
    if (errorText && std::strlen(errorText) > 0) return redactedText(errorText);
    return curl_easy_strerror(code);
}

std::string operatorCause(CURLcode code, long status, bool overflow, bool idle, const HttpLimits& limits) {
    if (code == CURLE_OK || status >= 300) {
        const std::string http = std::to_string(status);
        if (status == 401) return ui::fill(ui::phrase::kLoginRefused, {http});
        if (status == 403 || status == 429) return ui::fill(ui::phrase::kRefusedWait, {http});
        if (status == 404) return ui::fill(ui::phrase::kNoSuchPage, {http});
        if (status >= 500) return ui::fill(ui::phrase::kServerFailed, {http});
        if (status >= 300 && status <= 399) return ui::fill(ui::phrase::kSentElsewhere, {http});
        return ui::fill(ui::phrase::kRefused, {http});
    }
    if (overflow || code == CURLE_FILESIZE_EXCEEDED)
        return ui::fill(ui::phrase::kTooLargeTell, {std::to_string(limits.maxReplyBytes)});
    if (idle) return std::string(ui::phrase::kStoppedSending);
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return std::string(ui::phrase::kBadAddress);
    case CURLE_COULDNT_CONNECT:
        return std::string(ui::phrase::kUnreachable);
    case CURLE_OPERATION_TIMEDOUT:
        return std::string(ui::phrase::kNoAnswerInTime);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return std::string(ui::phrase::kCertificate);
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return std::string(ui::phrase::kBrokeOff);
    default:
        return std::string(ui::phrase::kTransferFailed);
    }
}

namespace {

// "30 s", "500 ms"
std::string duration(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0) return std::to_string(time.count() / 1000) + " s";
    return std::to_string(time.count()) + " ms";
}

}  // namespace

std::string unansweredCause(CURLcode code, long status, bool overflow, bool idle, const HttpLimits& limits) {
    if (status == kGatewayTimeout)
        return ui::fill(ui::phrase::kGatewayGaveUp, {std::to_string(status)});
    if (overflow || code == CURLE_FILESIZE_EXCEEDED)
        return ui::fill(ui::phrase::kAnswerTooLarge, {std::to_string(limits.maxReplyBytes)});
    if (idle) return ui::fill(ui::phrase::kNothingCame, {duration(limits.lowSpeedTime)});
    if (code == CURLE_OPERATION_TIMEDOUT) return ui::fill(ui::phrase::kAnswerLate, {duration(limits.postTimeout)});
    return std::string(ui::phrase::kBrokeOffUnanswered);
}

std::string statusFailure(long status) { return ui::fill(ui::phrase::kAnsweredStatus, {std::to_string(status)}); }

bool sameOrigin(const std::string& a, const std::string& b) {
    UrlHandle ua = parseUrl(a), ub = parseUrl(b);
    if (!ua || !ub) return false;
    for (CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        const unsigned flags = part == CURLUPART_PORT ? CURLU_DEFAULT_PORT : 0;
        const std::string pa = lower(urlPart(ua.get(), part, flags));
        if (pa.empty() || pa != lower(urlPart(ub.get(), part, flags))) return false;
    }
    return true;
}

std::string unaskedEncoding(CURL* curl) {
    curl_header* header = nullptr;
    if (curl_easy_header(curl, "Content-Encoding", 0, CURLH_HEADER, -1, &header) != CURLHE_OK || header == nullptr)
        return {};
    std::string value = lower(header->value ? header->value : "");
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    value = value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (value == "identity") return {};
    if (value.size() > 40) value = value.substr(0, 40) + "...";
    return value;
}

std::string unaskedEncodingCause(const std::string& encoding) {
    return ui::fill(ui::phrase::kEncodedUnreadable, {encoding});
}

long long announcedLength(CURL* curl) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return -1;
    return length < 0 ? -1 : static_cast<long long>(length);
}

}  // namespace eft
