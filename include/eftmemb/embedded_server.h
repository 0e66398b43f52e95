#pragma once
/// @file
/// @brief The reference server of the two pages, run inside any host: the command-line server,
/// the host application, the driver and the tests use it.
///
/// It serves the five requests under baseAddress() from its own background threads until
/// stopped; the host's threads only start and stop it. Any thread may call its functions, one
/// at a time.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <eftmemb/eftmemb_server_export.h>

namespace eft::server {

/// @brief How the server writes its log lines.
enum class LogFormat { Text, Json };

/// @brief How much a log line asks of the administrator: an error (something failed), a
/// warning (something to look at), or information.
enum class LogLevel { Error, Warning, Info };

/// @brief The sweep rows a server keeps in memory unless told otherwise: an eighth of the
/// machine's memory, at most 1 GiB (a sweep of a million rows takes some 820 MB).
EFTMEMB_SERVER_EXPORT std::size_t defaultSweepCacheBytes();

/// @brief Where the embedded server keeps its data and how it serves.
struct EmbeddedOptions {
    std::filesystem::path dbPath;     // created when missing
    std::filesystem::path exportDir;  // empty: "<db name>-export" beside the database
    bool seedDemo = false;            // fill the database with the demo sweep when it is empty
    std::string listenHost = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port
    // Lines of name:hash; every request then needs HTTP Basic authentication. Without it the
    // server listens on loopback addresses only.
    std::filesystem::path credentialsFile = {};
    // Both set: HTTPS.
    std::filesystem::path tlsCert = {};
    std::filesystem::path tlsKey = {};
    std::filesystem::path originatorFile = {};  // the originator's details for the export files
    std::filesystem::path holidaysFile = {};    // bank closures beyond the clearing systems' holidays
    // Takes each log line, '\n' included; empty: no log.
    std::function<void(std::string_view line)> log = {};
    LogFormat logFormat = LogFormat::Text;
    // Threads for the work that blocks (the database, password hashes); connections themselves
    // wait on a few event threads, however many there are.
    int workers = 64;
    // Connections one client address may hold at once; past it a new one is closed at once.
    std::size_t maxConnectionsPerAddress = 256;
    // Run after each bank file is published, with the file's path as its one argument (through
    // /bin/sh), within deliverTimeout; a failure is retried after deliverRetry, then twice as
    // long each time, up to an hour. Empty: files are not delivered.
    std::string deliverCommand = {};
    std::chrono::seconds deliverTimeout{300};
    std::chrono::seconds deliverRetry{60};
    // A batch whose return window (two banking days of its country after it settles, plus
    // returnMarginDays for the bank's returns file to arrive) has passed settles by itself: its
    // returned centers failed, the others cleared. Looked for at the start and then this often;
    // zero: only `eft-server returns` settles.
    std::chrono::seconds settleEvery{3600};
    int returnMarginDays = 1;
    // The most bytes of sweep rows kept in memory to answer the next loads without reading
    // them from the database again, whole centers at a time; zero keeps none.
    std::size_t sweepCacheBytes = defaultSweepCacheBytes();
};

/// @brief A running reference server; owned by whoever started it, and stopped when destroyed.
class EFTMEMB_SERVER_EXPORT EmbeddedServer {
public:
    /// @brief Binds the port, opens the database and starts serving; returns once requests
    /// can be made.
    /// @param options the database, export folder, address and security settings
    /// @return the running server, owned by the caller
    /// @throws std::runtime_error saying what failed; a failed bind leaves no database
    static std::unique_ptr<EmbeddedServer> start(const EmbeddedOptions& options);
    /// @brief Stops serving (see stop()).
    ~EmbeddedServer();
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    /// @brief "http://127.0.0.1:<port>/eft/" (https with TLS): the control's server base address.
    std::string baseAddress() const;
    std::uint16_t port() const;
    /// @brief Whether this start filled the database with the demo sweep.
    bool demoSeeded() const;
    std::filesystem::path exportDir() const;

    /// @brief Stops listening, closes idle connections and gives the requests under way up to a
    /// second and a half to send their replies (work already started, an export, always ends
    /// whole); safe to call twice.
    void stop();

private:
    struct Impl;
    explicit EmbeddedServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace eft::server
