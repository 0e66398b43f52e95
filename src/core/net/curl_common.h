#pragma once
// The libcurl settings every transfer of the control shares, and how their outcomes are
// described: bounded connect, whole and idle time, a capped reply, only http and https,
// certificates checked, redirects never followed by curl itself.
#include <curl/curl.h>

#include <chrono>
#include <string>

#include "net/http.h"

namespace eft {

// Sets everything but the body handling. The credentials of `address` go on every request
// made with the handle, also when the caller later points it at a redirect's address.
void configureTransfer(CURL* curl, const std::string& address, const HttpLimits& limits,
                       std::chrono::milliseconds totalTimeout, char* errorText);

// Ends a transfer on which no byte moved, either way, for the idle time. curl's own low-speed
// limit (also set) measures over a window of several seconds; this one is exact.
struct IdleWatch {
    std::chrono::seconds limit{30};
    std::chrono::steady_clock::time_point lastMove{};
    long long moved = -1;
    bool tripped = false;
};
// Arms `watch` on the handle; it must outlive the transfer.
void watchIdle(CURL* curl, IdleWatch& watch, std::chrono::seconds limit);

// Whether curl ended the transfer because nothing moved for the idle time.
bool wentIdle(CURLcode code, const char* errorText, const IdleWatch& idle);

// Why a transfer that curl ended with `code` failed. `overflow`: the body outgrew the cap.
std::string describeCurlFailure(CURLcode code, const char* errorText, const HttpLimits& limits, bool overflow,
                                const IdleWatch& idle);

// Why a transfer failed and what to do about it, in the operator's words: `code` is curl's
// outcome and `status` the reply's (0 when none came). "the server could not be reached. ..."
std::string operatorCause(CURLcode code, long status, bool overflow, bool idle, const HttpLimits& limits);

// What became of the answer to a request that went out whole but was not answered, in the
// operator's words and without advice: "nothing came from the server for 30 s". `status` is
// kGatewayTimeout when a gateway gave up waiting, 0 otherwise.
std::string unansweredCause(CURLcode code, long status, bool overflow, bool idle, const HttpLimits& limits);
// A gateway in front of the server gave up waiting for its answer: the server may still act.
inline constexpr long kGatewayTimeout = 504;

inline bool isSuccessStatus(long status) { return status >= 200 && status <= 299; }
// "the server answered HTTP 404"
std::string statusFailure(long status);

// Whether two absolute addresses share scheme, host and port (default ports filled in).
bool sameOrigin(const std::string& a, const std::string& b);

// Every request asks for its reply as it is: a body encoded otherwise cannot be read.
inline constexpr const char* kAcceptIdentity = "Accept-Encoding: identity";
// The reply's Content-Encoding when it is one that was not asked for (anything but identity),
// lowered and trimmed; empty otherwise.
std::string unaskedEncoding(CURL* curl);
// Why such a reply cannot be read, in the operator's words: "the server's reply came encoded (gzip), ..."
std::string unaskedEncodingCause(const std::string& encoding);

// The announced length of the reply being received, -1 while unknown.
long long announcedLength(CURL* curl);

}  // namespace eft
