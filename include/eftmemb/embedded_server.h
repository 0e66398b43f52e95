#pragma once
// The reference server of the two pages, run inside any host: the command-line server, the
// host application, the driver and the tests. It serves the five requests under
// baseAddress() from a background thread until stopped.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace eft::server {

struct EmbeddedOptions {
    std::filesystem::path dbPath;     // created when missing
    std::filesystem::path exportDir;  // empty: "<db name>-export" beside the database
    bool seedDemo = false;            // fill the database with the demo sweep when it is empty
    std::string listenHost = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port
};

class EmbeddedServer {
public:
    // Opens the database, binds the port and starts serving; returns once requests can be
    // made. Throws std::runtime_error saying what failed.
    static std::unique_ptr<EmbeddedServer> start(const EmbeddedOptions& options);
    ~EmbeddedServer();  // stops
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    // "http://127.0.0.1:<port>/eft/": the control's server base address.
    std::string baseAddress() const;
    std::uint16_t port() const;
    // Whether this start filled the database with the demo sweep.
    bool demoSeeded() const;
    std::filesystem::path exportDir() const;

    // Stops listening and waits for the requests under way; safe to call twice.
    void stop();

private:
    struct Impl;
    explicit EmbeddedServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace eft::server
