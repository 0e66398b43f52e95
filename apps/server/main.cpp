// eft-server: the reference server of the EFT membership sweep pages, over a SQLite file.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "server/embedded_server.h"

namespace {

constexpr std::string_view kUsage =
    "usage: eft-server --db FILE [--listen HOST] [--port N] [--export-dir DIR] [--seed-demo]\n"
    "  --db FILE         the SQLite database; created when missing\n"
    "  --listen HOST     the address to listen on (default 127.0.0.1)\n"
    "  --port N          the port (default 0: any free port)\n"
    "  --export-dir DIR  where batch files are written (default: <db name>-export beside the db)\n"
    "  --seed-demo       fill an empty database with the demo sweep\n"
    "Prints the base address it serves, then serves until SIGINT or SIGTERM.\n";

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "eft-server: " << problem << "\n" << kUsage;
    std::exit(2);
}

std::uint16_t portNumber(const std::string& text) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || text.front() == '-' || value > 65535) usage("bad port '" + text + "'");
    return static_cast<std::uint16_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
    eft::server::EmbeddedOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--db") options.dbPath = value();
        else if (arg == "--listen") options.listenHost = value();
        else if (arg == "--port") options.port = portNumber(value());
        else if (arg == "--export-dir") options.exportDir = value();
        else if (arg == "--seed-demo") options.seedDemo = true;
        else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else usage("unknown option '" + std::string(arg) + "'");
    }
    if (options.dbPath.empty()) usage("--db is required");

    // Blocked before any thread starts, so every thread inherits the mask and the signals
    // wait for sigwait below instead of killing a worker mid-transaction.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        auto server = eft::server::EmbeddedServer::start(options);
        if (options.seedDemo && !server->demoSeeded())
            std::cerr << "eft-server: the database is not empty; demo data not added\n";
        std::cout << server->baseAddress() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        server->stop();
    } catch (const std::exception& e) {
        std::cerr << "eft-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
