#pragma once
// Synchronous HTTP GET with bounded time and reply size (libcurl).
#include <chrono>
#include <cstddef>
#include <string>

#include "eftmemb/control.h"  // HttpLimits
#include "net/fetch.h"

namespace eft {

struct HttpReply {
    bool ok = false;      // the transfer completed (whatever the HTTP status)
    long status = 0;      // the HTTP status, for descriptions only
    std::string body;
    std::string error;    // why the transfer did not complete
};

// A blocking GET, the body handed to `consume` as it arrives.
FetchResult httpGet(const std::string& address, const HttpLimits& limits, const BodyConsumer& consume);
// A blocking GET collected whole, for tools and tests.
HttpReply httpGet(const std::string& address, const HttpLimits& limits);
// httpGet as a Fetch.
Fetch blockingFetch(const HttpLimits& limits);

// libcurl's process-wide set-up, done once before the first transfer.
void ensureCurlReady();

}  // namespace eft
