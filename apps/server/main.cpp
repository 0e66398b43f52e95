// eft-server: the reference server of the EFT membership sweep pages, over a SQLite file.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <string>

#include "server/access.h"
#include "server/embedded_server.h"

namespace {

// Reads one line from stdin and prints its hash, as a credentials line when a name is given.
int printPasswordHash(const std::string& name) {
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
        std::cerr << "eft-server: give the password on standard input\n";
        return 2;
    }
    const std::string hash = eft::server::hashPassword(password);
    std::cout << (name.empty() ? hash : name + ":" + hash) << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    eft::server::EmbeddedOptions options;
    std::string db, exportDir, credentials, tlsCert, tlsKey, originator, hashFor;
    auto format = eft::server::LogFormat::Text;
    bool hashing = false;

    CLI::App app{"eft-server: the reference server of the EFT membership sweep pages, over a SQLite file.\n"
                 "Prints the base address it serves, then serves until SIGINT or SIGTERM.\n"
                 "Every option can also be given by the environment variable shown with it."};
    app.set_version_flag("--version", std::string("eft-server ") + EFT_VERSION);
    app.add_option("--db", db, "the SQLite database; created when missing")->envname("EFT_DB");
    app.add_option("--listen", options.listenHost, "the address to listen on")
        ->envname("EFT_LISTEN")
        ->capture_default_str();
    app.add_option("--port", options.port, "the port; 0: any free port")
        ->envname("EFT_PORT")
        ->capture_default_str();
    app.add_option("--export-dir", exportDir, "where batch files are written (default: <db name>-export beside the db)")
        ->envname("EFT_EXPORT_DIR");
    app.add_flag("--seed-demo", options.seedDemo, "fill an empty database with the demo sweep")->envname("EFT_SEED_DEMO");
    app.add_option("--credentials", credentials,
                   "lines of name:hash; every request then needs HTTP Basic authentication. "
                   "Without it only a loopback address is served")
        ->envname("EFT_CREDENTIALS")
        ->check(CLI::ExistingFile);
    auto* cert = app.add_option("--tls-cert", tlsCert, "serve HTTPS with this PEM certificate (chain)")
                     ->envname("EFT_TLS_CERT")
                     ->check(CLI::ExistingFile);
    auto* key = app.add_option("--tls-key", tlsKey, "the PEM private key of the certificate")
                    ->envname("EFT_TLS_KEY")
                    ->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    app.add_option("--originator", originator, "the originator's details for the export files")
        ->envname("EFT_ORIGINATOR")
        ->check(CLI::ExistingFile);
    const std::map<std::string, eft::server::LogFormat> formats{{"text", eft::server::LogFormat::Text},
                                                                {"json", eft::server::LogFormat::Json}};
    app.add_option("--log-format", format, "the log on standard error: text or json")
        ->envname("EFT_LOG_FORMAT")
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
    app.add_option("--workers", options.workers, "threads for database and password work")
        ->envname("EFT_WORKERS")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--hash-password", hashFor,
                   "read a password from standard input and print its hash (with a name: its credentials line)")
        ->expected(0, 1)
        ->each([&hashing](const std::string&) { hashing = true; });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (hashing || app.count("--hash-password") > 0) {
        try {
            return printPasswordHash(hashFor);
        } catch (const std::exception& e) {
            std::cerr << "eft-server: " << e.what() << "\n";
            return 1;
        }
    }
    if (db.empty()) {
        std::cerr << "eft-server: --db is required\n" << app.help();
        return 2;
    }
    options.dbPath = db;
    options.exportDir = exportDir;
    options.credentialsFile = credentials;
    options.tlsCert = tlsCert;
    options.tlsKey = tlsKey;
    options.originatorFile = originator;
    options.logFormat = format;
    options.log = [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    };

    // Every open connection is a descriptor: take all the system grants (the unit's
    // LimitNOFILE), so thousands of idle clients do not run the server out of them.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

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
