#pragma once
// The metrics page: what the server counts (metrics/metrics.h), read by a monitoring system at
// /metrics, behind the same access rules as the pages.
#include <string_view>

#include "server/http/router.h"

namespace eft::server {

inline constexpr std::string_view kMetricsPath = "/metrics";

// The page a request is counted under: "member", "batch", "health", "metrics" or "other",
// so that a client probing addresses cannot make a series per address.
std::string_view pageLabel(std::string_view path);

// The metrics, with what only the database knows (whether it answers, the deliveries in doubt)
// read now.
HttpReply metricsReply(Service& service);

}  // namespace eft::server
