// eft-driver: the headless host of the control with a scripted operator.
//
//   eft-driver [--today YYYY-MM-DD] [--embedded-server [--seed-demo] [--db FILE]] [SCRIPT]
//
// Reads the script from SCRIPT or standard input and prints JSON Lines. With
// --embedded-server the reference server runs in-process on a loopback port and "$SERVER"
// in the script stands for its base address.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "driver/script_runner.h"
#include "server/embedded_server.h"

namespace {

int usage() {
    std::cerr << "usage: eft-driver [--today YYYY-MM-DD] [--embedded-server [--seed-demo] [--db FILE]] [SCRIPT]\n";
    return 2;
}

eft::Date systemToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return eft::Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace

int main(int argc, char** argv) {
    eft::Date today = systemToday();
    bool embedded = false;
    bool seedDemo = false;
    std::string dbPath;
    std::string scriptPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--today" && i + 1 < argc) {
            auto ts = eft::parseTimestamp(argv[++i]);
            if (!ts) return usage();
            today = ts->date();
        } else if (arg == "--embedded-server") {
            embedded = true;
        } else if (arg == "--seed-demo") {
            seedDemo = true;
        } else if (arg == "--db" && i + 1 < argc) {
            dbPath = argv[++i];
        } else if (!arg.starts_with("--") && scriptPath.empty()) {
            scriptPath = arg;
        } else {
            return usage();
        }
    }

    std::unique_ptr<eft::server::EmbeddedServer> server;
    std::filesystem::path scratch;
    if (embedded) {
        eft::server::EmbeddedOptions options;
        if (dbPath.empty()) {
            // A private database for this run, removed at the end.
            scratch = std::filesystem::temp_directory_path() /
                      ("eft-driver-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
            std::filesystem::create_directories(scratch);
            dbPath = (scratch / "eft.sqlite").string();
        }
        options.dbPath = dbPath;
        options.exportDir = (std::filesystem::path(dbPath).parent_path() / "export").string();
        options.seedDemo = seedDemo;
        try {
            server = eft::server::EmbeddedServer::start(options);
        } catch (const std::exception& e) {
            std::cerr << "eft-driver: the embedded server did not start: " << e.what() << "\n";
            return 1;
        }
    }

    int rc = 0;
    {
        eft::driver::ScriptRunner runner(std::cout, today);
        if (server) runner.define("SERVER", server->baseAddress());
        if (scriptPath.empty()) {
            rc = runner.run(std::cin);
        } else {
            std::ifstream script(scriptPath);
            if (!script) {
                std::cerr << "eft-driver: cannot read " << scriptPath << "\n";
                return 1;
            }
            rc = runner.run(script);
        }
    }
    server.reset();
    if (!scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }
    return rc;
}
