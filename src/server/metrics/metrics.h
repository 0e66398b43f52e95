#pragma once
// What the server counts for a monitoring system, in the Prometheus text format: the one place
// that names every metric, below every other layer of the server and including none of them.
// The counters are the process's own: each eft-server is scraped as its own instance, and
// Prometheus adds them up across instances. Servers embedded in one process share them.
// Every call is thread-safe and cheap enough for each request.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace eft::server::metrics {

// The content type of text() (the text exposition format, version 0.0.4).
inline constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

// How a save, a status commit or an export ended: done; refused with a reason (nothing changed);
// failed (the server could not do it: a fault of its own or of the database).
enum class Outcome { Done, Refused, Failed };

// A request answered, by its page ("member", "batch", "health", "metrics", "other") and status:
// counted as its reply starts, so a client that has the reply finds it counted.
void request(std::string_view page, int status);
// The time it took, its reply sent.
void requestTime(std::string_view page, std::chrono::steady_clock::duration took);

void save(Outcome outcome);
void statusCommit(Outcome outcome);
void exportRun(Outcome outcome);

// Sweep rows written out for a country (1 United States, 2 Canada).
void sweepRows(int country, std::uint64_t rows);
// Centers of a sweep served from the rows this process kept, and centers read from the database.
void sweepCenters(std::uint64_t kept, std::uint64_t read);

void filesPublished(std::size_t files);

// A delivery attempt's end: the command succeeded, failed, or its outcome is unknown.
enum class Delivery { Delivered, Failed, InDoubt };
void delivery(Delivery outcome);
// The deliveries in doubt that the database records now (set when the metrics are read).
void filesInDoubt(std::size_t files);

// A bank return applied, by its code's category ("administrative", ...).
void returnApplied(std::string_view category);

// A login refused: a wrong name or password, or one braked for too many failures.
enum class Refusal { Wrong, Throttled };
void loginRefused(Refusal why);
// A lock that failed logins started: of a user at an address, of an address, of a user anywhere.
enum class Lock { UserAtAddress, Address, User };
void lockout(Lock scope);

// A connection's state, held from construction to destruction: the TLS handshake, waiting for a
// request (idle or reading its headers), or serving one.
enum class ConnectionState { Handshake, Waiting, Serving };
class InState {
public:
    explicit InState(ConnectionState state);
    ~InState();
    InState(const InState&) = delete;
    InState& operator=(const InState&) = delete;
    void move(ConnectionState state);

private:
    ConnectionState state_;
};

// Work handed to the worker pool and not yet started.
void queued();
void dequeued();

// A database failure, by engine ("sqlite", "postgresql").
void databaseError(std::string_view engine);
// Whether the database answered when the metrics were read.
void databaseUp(bool up);
void schemaVersion(int version);

// Every metric in the text exposition format.
std::string text();

}  // namespace eft::server::metrics
