#pragma once
// The server's HTTP engine: Boost.Beast on Asio. A few threads wait on every socket at once
// (epoll), so an idle or slow client costs a little memory and never a thread; the work that
// blocks (the database, password hashes) runs on a pool of workers and hands its answer back.
// A body streamed as it is made (the sweep) is the exception: over plain HTTP the worker that
// writes it also sends it, each piece from the cache it was written in, since handing tens of
// megabytes between threads cost as much CPU as writing them; a client that stops reading
// holds that worker for the write time at most. Beast parses strictly, and every limit a hostile client could stretch is this file's own:
// a deadline for a request's headers, a cap on their bytes and count, a minimum body rate,
// one unambiguous body length, and a connection that closes whenever what follows could be
// misread.
//
// Chosen over libmicrohttpd because its idle timeout is reset by every byte (a header sent a
// byte at a time never ends), its content-reader callback has no way to wait for the next
// piece of the streamed sweep without spinning or blocking an event thread, and a minimum
// body rate would have to be built around it anyway; here each wait carries its own deadline.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/http/router.h"
#include "server/pages/piece_sink.h"

namespace eft::server {

class EventLog;

struct ConnectionLimits {
    std::chrono::milliseconds headers{5000};  // from the first byte of a request (or the connection) to its blank line
    std::chrono::milliseconds idle{5000};     // between requests on a kept-alive connection
    std::chrono::milliseconds stall{5000};    // the longest wait for a body's next bytes
    std::chrono::milliseconds write{5000};    // the longest wait until the client takes more
    std::chrono::milliseconds body{120000};   // for a whole body
    // After the first five seconds of a body, its bytes must keep up with this rate.
    std::size_t minBodyBytesPerSecond = 8 * 1024;
    std::size_t requestsPerConnection = 100;
    std::size_t headerBytes = 16 * 1024;  // request line and header fields together
    std::size_t headerFields = 100;
};

// What the engine knows of a request once its headers are read.
struct RequestHead {
    std::string_view method;
    std::string_view target;  // as sent
    std::string_view path;    // decoded, without the query
    std::string_view query;   // raw, after '?'
    std::string_view client;  // numeric address
    std::vector<std::pair<std::string_view, std::string_view>> fields;  // name, value as sent
    // A header's value ("" when absent) and whether it was sent; names match in any case.
    std::string_view header(std::string_view name) const;
    bool has(std::string_view name) const;
};

// Writes a reply's body piece by piece as it is made, handing each to the sink, or to `lend`
// when it is set and the bytes outlive the call; the engine sends them chunked. Runs once, on a
// worker, and may block. Returns whether the whole body came out (false: the reply ends without
// its last chunk, and the connection closes).
using BodyWriter = std::function<bool(const PieceSink& sink, const LentSink& lend)>;

struct Answer {
    HttpReply reply;
    std::vector<std::pair<std::string, std::string>> headers;  // added to the reply's own
    BodyWriter body;                                           // set: the body is written by it
    bool close = false;                                        // end the connection after it
};

// The server behind the engine. Every call but the first two runs on a worker and may block.
class Site {
public:
    virtual ~Site() = default;
    // An answer decided from the headers alone (a refusal, or a page that needs no more),
    // or nothing to go on. user: the authenticated name, for the log and the handlers.
    virtual std::optional<Answer> screen(const RequestHead& head, std::string& user) = 0;
    // The answer to a request without a body.
    virtual Answer respond(const RequestHead& head, const std::string& user) = 0;
    // The reader of a post's body; null when the request is not a post to a page.
    virtual std::unique_ptr<PostReader> reader(const RequestHead& head, const std::string& user) = 0;
    virtual Answer finish(PostReader& reader, const std::string& user) = 0;
};

struct EngineOptions {
    std::string host;
    std::uint16_t port = 0;  // 0: any free port
    std::filesystem::path tlsCert;  // both set: TLS
    std::filesystem::path tlsKey;
    int workers = 64;
    ConnectionLimits limits{};
    // Connections held at once; past it new ones wait in the listen queue. 0: from the
    // process's open-file limit. The last eighth go only to addresses that hold none.
    std::size_t maxConnections = 0;
    // Connections one client address may hold; past it a new one is closed at once.
    std::size_t maxConnectionsPerAddress = 256;
};

class HttpEngine {
public:
    // Binds the port and loads the TLS certificate; serves nothing until run(). Throws
    // std::runtime_error saying what failed.
    HttpEngine(const EngineOptions& options, EventLog& log);
    ~HttpEngine();  // stops
    HttpEngine(const HttpEngine&) = delete;
    HttpEngine& operator=(const HttpEngine&) = delete;

    std::uint16_t port() const;
    bool tls() const;
    void run(Site& site);
    // Stops accepting, drops every connection and waits for the work under way.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace eft::server
