// eft-driver: the headless host of the control with a scripted operator.
//
//   eft-driver [--today YYYY-MM-DD] [--embedded-server [--seed-demo] [--db FILE]]
//              [--connect-timeout-ms N] [--get-timeout-ms N] [--post-timeout-ms N]
//              [--max-reply-bytes N] [--low-speed-seconds N] [--ca-file FILE] [SCRIPT]
//
// Reads the script from SCRIPT or standard input and prints JSON Lines. With
// --embedded-server the reference server runs in-process on a loopback port and "$SERVER"
// in the script stands for its base address. The transfer options set the control's limits;
// each also takes the form --option=value.
#include <charconv>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "driver/script_runner.h"
#include "server/embedded_server.h"

namespace {

int usage() {
    std::cerr << "usage: eft-driver [--today YYYY-MM-DD] [--embedded-server [--seed-demo] [--db FILE]]\n"
                 "                  [--connect-timeout-ms N] [--get-timeout-ms N] [--post-timeout-ms N]\n"
                 "                  [--max-reply-bytes N] [--low-speed-seconds N] [--ca-file FILE] [SCRIPT]\n";
    return 2;
}

// A positive whole number, or nothing.
std::optional<unsigned long long> positive(const std::string& text) {
    unsigned long long v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v == 0) return std::nullopt;
    return v;
}

// Applies one transfer option; false when `name` is none or its value is bad.
bool transferOption(const std::string& name, const std::string& value, eft::HttpLimits& limits) {
    using std::chrono::milliseconds;
    if (name == "--ca-file") {
        if (value.empty()) return false;
        limits.caFile = value;
        return true;
    }
    const auto n = positive(value);
    if (!n || *n > (1ull << 40)) return false;
    if (name == "--connect-timeout-ms") limits.connectTimeout = milliseconds(*n);
    else if (name == "--get-timeout-ms") limits.getTimeout = milliseconds(*n);
    else if (name == "--post-timeout-ms") limits.postTimeout = milliseconds(*n);
    else if (name == "--max-reply-bytes") limits.maxReplyBytes = static_cast<std::size_t>(*n);
    else if (name == "--low-speed-seconds") limits.lowSpeedTime = std::chrono::seconds(*n);
    else return false;
    return true;
}

bool isTransferOption(const std::string& name) {
    return name == "--connect-timeout-ms" || name == "--get-timeout-ms" || name == "--post-timeout-ms" ||
           name == "--max-reply-bytes" || name == "--low-speed-seconds" || name == "--ca-file";
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
    eft::ControlOptions controlOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (isTransferOption(name)) {
            std::string value;
            if (equals != std::string::npos) value = arg.substr(equals + 1);
            else if (i + 1 < argc) value = argv[++i];
            if (!transferOption(name, value, controlOptions.limits)) return usage();
        } else if (arg == "--today" && i + 1 < argc) {
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
        eft::driver::ScriptRunner runner(std::cout, today, controlOptions);
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
