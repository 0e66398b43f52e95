#include "server/http/metrics_page.h"

#include "server/metrics/metrics.h"
#include "server/pages/service.h"

namespace eft::server {

std::string_view pageLabel(std::string_view path) {
    switch (pageOf(path)) {
    case Page::Member: return "member";
    case Page::Batch: return "batch";
    case Page::None: break;
    }
    if (path == "/health") return "health";
    if (path == kMetricsPath) return "metrics";
    return "other";
}

HttpReply metricsReply(Service& service) {
    const bool up = service.healthy();
    metrics::databaseUp(up);
    // Unknown while the database does not answer: the last count stands.
    if (up) metrics::filesInDoubt(service.deliveriesInDoubt().size());
    HttpReply reply;
    reply.contentType = metrics::kContentType;
    reply.body = metrics::text();
    return reply;
}

}  // namespace eft::server
