#pragma once
// The control's GETs (libcurl, multi interface): bounded in time and size, judged by their
// HTTP status, redirected only within the server they were sent to.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "eftmemb/control.h"  // HttpLimits
#include "net/fetch.h"

namespace eft {

// Redirects a GET follows at most, and only to the same scheme, host and port.
inline constexpr int kMaxRedirects = 5;

struct HttpReply {
    bool ok = false;      // as FetchResult
    long status = 0;
    std::string body;
    std::string error;
};

// How a transfer's wait is spent. The transfer itself runs on a thread of its own; the reply's
// pieces, the turns and the progress all come on the calling thread. With no turn the wait
// blocks; with one, the turn (the host's pending events) runs at least every 20 ms between
// pieces.
struct TransferWait {
    std::function<void()> turn;
    // Reply bytes received so far and the announced total, -1 while unknown.
    std::function<void(long long received, long long total)> progress;
    // Asked after each piece and each turn: true ends the transfer at once (its requester is gone).
    std::function<bool()> cancelled;
};

// One GET, the body of a 2xx reply handed to `consume` as it arrives, in pieces of up to
// 512 KB however it came off the network. The bodies of other replies reach no consumer: a
// 3xx to the same server is followed, anything else fails with a description naming the
// status. An exception thrown by `consume` ends the transfer and is rethrown here.
FetchResult httpGet(const std::string& address, const HttpLimits& limits, const BodyConsumer& consume,
                    const TransferWait& wait = {});
// A blocking GET collected whole, for tools and tests.
HttpReply httpGet(const std::string& address, const HttpLimits& limits);
// httpGet as a Fetch, blocking.
Fetch blockingFetch(const HttpLimits& limits);

// libcurl's process-wide set-up, done once before the first transfer.
void ensureCurlReady();

}  // namespace eft
