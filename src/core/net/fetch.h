#pragma once
// One GET whose reply body is handed on piece by piece as it arrives, so a reader can parse
// while the transfer runs and no whole reply needs to be held. How the wait is spent (a
// blocking transfer, or one that lets the host repaint) is the fetcher's business.
#include <functional>
#include <string>
#include <string_view>

namespace eft {

// Takes the next piece of a reply body; answers false to stop the transfer (the consumer
// keeps its own reason). Only the body of a 2xx reply reaches it.
using BodyConsumer = std::function<bool(std::string_view piece)>;

struct FetchResult {
    bool ok = false;     // the transfer completed with a 2xx reply, whose whole body was consumed
    long status = 0;     // the HTTP status of the final reply, 0 when none arrived
    std::string error;   // why not: the transfer failed, or the status was not 2xx (named)
    // The same in the operator's words, with what to do about it; empty when ok.
    std::string cause = {};
    // The reply's X-EFTMemb-Sweep-Stamp header, when it had one of digits only.
    std::string sweepStamp = {};
};

// Runs one GET of `address`, handing each piece of the reply body to `consume`.
using Fetch = std::function<FetchResult(const std::string& address, const BodyConsumer& consume)>;

}  // namespace eft
