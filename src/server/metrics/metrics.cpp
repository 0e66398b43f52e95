#include "server/metrics/metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <array>
#include <eftmemb/version.h>

namespace eft::server::metrics {
namespace {

using prometheus::Counter;
using prometheus::Family;
using prometheus::Gauge;
using prometheus::Histogram;

constexpr std::array<const char*, 3> kOutcomes{"done", "refused", "failed"};
constexpr std::array<const char*, 3> kDeliveries{"delivered", "failed", "in_doubt"};
constexpr std::array<const char*, 2> kRefusals{"wrong", "throttled"};
constexpr std::array<const char*, 3> kLocks{"user_at_address", "address", "user"};
constexpr std::array<const char*, 3> kStates{"handshake", "waiting", "serving"};
constexpr std::array<const char*, 2> kEngines{"sqlite", "postgresql"};
constexpr std::array<const char*, 2> kCountries{"US", "CA"};

// From a quick page (a few ms) to the largest sweep (tens of seconds).
const Histogram::BucketBoundaries kLatencyBuckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60};

template <std::size_t N>
std::array<Counter*, N> counters(Family<Counter>& family, const char* label, const std::array<const char*, N>& values) {
    std::array<Counter*, N> out{};
    for (std::size_t k = 0; k < N; ++k) out[k] = &family.Add({{label, values[k]}});
    return out;
}

// Every metric, made once. The label values known ahead are added at once, so that each series
// reads 0 from the start: a rate or an alert over a series that appears late misses its first
// increase.
struct All {
    prometheus::Registry registry;
    Family<Counter>& requests = prometheus::BuildCounter()
                                    .Name("eftmemb_http_requests_total")
                                    .Help("HTTP requests answered, by page and status")
                                    .Register(registry);
    Family<Histogram>& latency = prometheus::BuildHistogram()
                                     .Name("eftmemb_http_request_duration_seconds")
                                     .Help("Time from a request's headers to the end of its reply, by page")
                                     .Register(registry);
    std::array<Counter*, 2> sweepRows = counters(prometheus::BuildCounter()
                                                     .Name("eftmemb_sweep_rows_served_total")
                                                     .Help("Sweep rows sent to operators, by country")
                                                     .Register(registry),
                                                 "country", kCountries);
    std::array<Counter*, 2> sweepCenters = counters(prometheus::BuildCounter()
                                                        .Name("eftmemb_sweep_centers_total")
                                                        .Help("Centers of the sweeps sent, by where their rows came from")
                                                        .Register(registry),
                                                    "source", std::array<const char*, 2>{"kept", "database"});
    std::array<Counter*, 3> saves = counters(prometheus::BuildCounter()
                                                 .Name("eftmemb_saves_total")
                                                 .Help("Saves of selected sweep rows, by outcome")
                                                 .Register(registry),
                                             "outcome", kOutcomes);
    std::array<Counter*, 3> commits = counters(prometheus::BuildCounter()
                                                   .Name("eftmemb_status_commits_total")
                                                   .Help("Status commits of exported batches, by outcome")
                                                   .Register(registry),
                                               "outcome", kOutcomes);
    std::array<Counter*, 3> exports = counters(prometheus::BuildCounter()
                                                   .Name("eftmemb_exports_total")
                                                   .Help("Exports asked for, by outcome")
                                                   .Register(registry),
                                               "outcome", kOutcomes);
    Counter& published = prometheus::BuildCounter()
                             .Name("eftmemb_bank_files_published_total")
                             .Help("Bank files published into the export folder")
                             .Register(registry)
                             .Add({});
    std::array<Counter*, 3> deliveries = counters(prometheus::BuildCounter()
                                                      .Name("eftmemb_bank_file_deliveries_total")
                                                      .Help("Delivery attempts of bank files, by outcome")
                                                      .Register(registry),
                                                  "outcome", kDeliveries);
    Gauge& inDoubt = prometheus::BuildGauge()
                         .Name("eftmemb_bank_files_in_doubt")
                         .Help("Bank files whose delivery is in doubt and waits for the administrator")
                         .Register(registry)
                         .Add({});
    Family<Counter>& returns = prometheus::BuildCounter()
                                   .Name("eftmemb_returns_applied_total")
                                   .Help("Bank returns applied, by their code's category")
                                   .Register(registry);
    std::array<Counter*, 2> loginsRefused = counters(prometheus::BuildCounter()
                                                         .Name("eftmemb_logins_refused_total")
                                                         .Help("Logins refused, by reason")
                                                         .Register(registry),
                                                     "reason", kRefusals);
    std::array<Counter*, 3> lockouts = counters(prometheus::BuildCounter()
                                                    .Name("eftmemb_login_lockouts_total")
                                                    .Help("Locks started by failed logins, by what is locked")
                                                    .Register(registry),
                                                "scope", kLocks);
    Family<Gauge>& connectionsFamily = prometheus::BuildGauge()
                                           .Name("eftmemb_http_connections")
                                           .Help("Open HTTP connections, by state")
                                           .Register(registry);
    std::array<Gauge*, 3> connections{&connectionsFamily.Add({{"state", kStates[0]}}),
                                      &connectionsFamily.Add({{"state", kStates[1]}}),
                                      &connectionsFamily.Add({{"state", kStates[2]}})};
    Gauge& queue = prometheus::BuildGauge()
                       .Name("eftmemb_worker_queue_depth")
                       .Help("Work waiting for a free worker thread")
                       .Register(registry)
                       .Add({});
    std::array<Counter*, 2> databaseErrors = counters(prometheus::BuildCounter()
                                                          .Name("eftmemb_database_errors_total")
                                                          .Help("Database failures, by engine")
                                                          .Register(registry),
                                                      "engine", kEngines);
    Gauge& databaseUp = prometheus::BuildGauge()
                            .Name("eftmemb_database_up")
                            .Help("Whether the database answered when the metrics were read (1) or not (0)")
                            .Register(registry)
                            .Add({});
    Gauge& schema = prometheus::BuildGauge()
                        .Name("eftmemb_schema_version")
                        .Help("The database schema version the server runs on")
                        .Register(registry)
                        .Add({});

    All() {
        prometheus::BuildGauge()
            .Name("eftmemb_build_info")
            .Help("The server's build; always 1")
            .Register(registry)
            .Add({{"version", EFTMEMB_VERSION_STRING}})
            .Set(1);
    }
};

All& all() {
    static All metrics;
    return metrics;
}

std::size_t index(Outcome o) { return static_cast<std::size_t>(o); }

}  // namespace

void request(std::string_view page, int status) {
    all().requests.Add({{"page", std::string(page)}, {"status", std::to_string(status)}}).Increment();
}

void requestTime(std::string_view page, std::chrono::steady_clock::duration took) {
    all().latency.Add({{"page", std::string(page)}}, kLatencyBuckets).Observe(std::chrono::duration<double>(took).count());
}

void save(Outcome outcome) { all().saves[index(outcome)]->Increment(); }
void statusCommit(Outcome outcome) { all().commits[index(outcome)]->Increment(); }
void exportRun(Outcome outcome) { all().exports[index(outcome)]->Increment(); }

void sweepRows(int country, std::uint64_t rows) {
    if (country == 1 || country == 2) all().sweepRows[static_cast<std::size_t>(country - 1)]->Increment(static_cast<double>(rows));
}

void sweepCenters(std::uint64_t kept, std::uint64_t read) {
    all().sweepCenters[0]->Increment(static_cast<double>(kept));
    all().sweepCenters[1]->Increment(static_cast<double>(read));
}

void filesPublished(std::size_t files) { all().published.Increment(static_cast<double>(files)); }

void delivery(Delivery outcome) { all().deliveries[static_cast<std::size_t>(outcome)]->Increment(); }
void filesInDoubt(std::size_t files) { all().inDoubt.Set(static_cast<double>(files)); }

void returnApplied(std::string_view category) {
    // "may retry" reads as may_retry, as label values usually do.
    std::string value(category);
    for (char& c : value)
        if (c == ' ') c = '_';
    all().returns.Add({{"category", value}}).Increment();
}

void loginRefused(Refusal why) { all().loginsRefused[static_cast<std::size_t>(why)]->Increment(); }
void lockout(Lock scope) { all().lockouts[static_cast<std::size_t>(scope)]->Increment(); }

InState::InState(ConnectionState state) : state_(state) { all().connections[static_cast<std::size_t>(state_)]->Increment(); }
InState::~InState() { all().connections[static_cast<std::size_t>(state_)]->Decrement(); }
void InState::move(ConnectionState state) {
    if (state == state_) return;
    all().connections[static_cast<std::size_t>(state_)]->Decrement();
    state_ = state;
    all().connections[static_cast<std::size_t>(state_)]->Increment();
}

void queued() { all().queue.Increment(); }
void dequeued() { all().queue.Decrement(); }

void databaseError(std::string_view engine) { all().databaseErrors[engine == "postgresql" ? 1 : 0]->Increment(); }
void databaseUp(bool up) { all().databaseUp.Set(up ? 1 : 0); }
void schemaVersion(int version) { all().schema.Set(version); }

std::string text() { return prometheus::TextSerializer().Serialize(all().registry.Collect()); }

}  // namespace eft::server::metrics
