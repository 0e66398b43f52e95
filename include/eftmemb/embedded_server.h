#pragma once
// The reference server of the two pages, run inside any host: the command-line server, the
// host application, the driver and the tests. It serves the five requests under
// baseAddress() from a background thread until stopped.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace eft::server {

// How the server writes its log lines.
enum class LogFormat { Text, Json };

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
    // Takes each log line, '\n' included; empty: no log.
    std::function<void(std::string_view line)> log = {};
    LogFormat logFormat = LogFormat::Text;
    // Threads for the work that blocks (the database, password hashes); connections themselves
    // wait on a few event threads, however many there are.
    int workers = 64;
};

class EmbeddedServer {
public:
    // Binds the port, opens the database and starts serving; returns once requests can be
    // made. Throws std::runtime_error saying what failed; a failed bind leaves no database.
    static std::unique_ptr<EmbeddedServer> start(const EmbeddedOptions& options);
    ~EmbeddedServer();  // stops
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    // "http://127.0.0.1:<port>/eft/" (https with TLS): the control's server base address.
    std::string baseAddress() const;
    std::uint16_t port() const;
    // Whether this start filled the database with the demo sweep.
    bool demoSeeded() const;
    std::filesystem::path exportDir() const;

    // Stops listening, closes idle connections and gives the requests under way up to a second
    // and a half to send their replies (work already started, an export, always ends whole);
    // safe to call twice.
    void stop();

private:
    struct Impl;
    explicit EmbeddedServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace eft::server
