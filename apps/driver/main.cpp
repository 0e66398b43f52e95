// eft-driver: the headless host of the control with a scripted operator.
//
//   eft-driver [--today YYYY-MM-DD] [--embedded-server [--seed-demo] [--db FILE]]
//              [--connect-timeout-ms N] [--get-timeout-ms N] [--post-timeout-ms N]
//              [--max-reply-bytes N] [--low-speed-seconds N] [--ca-file FILE]
//              [--no-fail-on-error] [SCRIPT]
//
// Reads the script from SCRIPT or standard input and prints JSON Lines. With
// --embedded-server the reference server runs in-process on a loopback port and "$SERVER"
// in the script stands for its base address. The transfer options set the control's limits.
// Every option with a value also takes the form --option=value.
//
// Exit status: 0 the script ran to its end; 1 the driver could not start; 2 a bad line or a
// bad command line; 3 the script ran to its end but the control showed a failure box (unless
// --no-fail-on-error), so a script in CI fails when the server is down.
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

constexpr const char* kUsage =
    "usage: eft-driver [--today YYYY-MM-DD] [--embedded-server [--seed-demo] [--db FILE]]\n"
    "                  [--connect-timeout-ms N] [--get-timeout-ms N] [--post-timeout-ms N]\n"
    "                  [--max-reply-bytes N] [--low-speed-seconds N] [--ca-file FILE]\n"
    "                  [--no-fail-on-error] [SCRIPT]\n";

constexpr const char* kHelp =
    "Runs the EFTMemb control with a scripted operator (SCRIPT or standard input, one action a\n"
    "line) and prints what the operator would see as JSON Lines.\n"
    "\n"
    "  --today YYYY-MM-DD       the date the control takes for today (default: the system's)\n"
    "  --embedded-server        run the reference server in-process; $SERVER is its base address\n"
    "  --seed-demo              fill its empty database with the demo sweep\n"
    "  --db FILE                its database (default: a scratch one, removed at the end)\n"
    "  --connect-timeout-ms N   connect time (default 10000)\n"
    "  --get-timeout-ms N       a GET's whole time (default 120000)\n"
    "  --post-timeout-ms N      a POST's whole time (default 120000)\n"
    "  --max-reply-bytes N      the largest reply read (default 1 GiB)\n"
    "  --low-speed-seconds N    a transfer receiving nothing this long fails (default 30)\n"
    "  --ca-file FILE           a CA bundle for a server certified by a private CA\n"
    "  --no-fail-on-error       exit 0, not 3, when the control showed a failure box\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 the script ran to its end, 1 the driver could not start, 2 a bad line or\n"
    "command line, 3 the control showed a failure box.\n";

int usage() {
    std::cerr << kUsage;
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
    bool failOnError = true;
    eft::ControlOptions controlOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const bool takesValue = isTransferOption(name) || name == "--today" || name == "--db";
        if (takesValue) {
            std::string value;
            if (equals != std::string::npos) value = arg.substr(equals + 1);
            else if (i + 1 < argc) value = argv[++i];
            else return usage();
            if (name == "--today") {
                auto ts = eft::parseTimestamp(value);
                if (!ts) return usage();
                today = ts->date();
            } else if (name == "--db") {
                if (value.empty()) return usage();
                dbPath = value;
            } else if (!transferOption(name, value, controlOptions.limits)) {
                return usage();
            }
        } else if (equals != std::string::npos) {
            return usage();  // a switch takes no value
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage << "\n" << kHelp;
            return 0;
        } else if (arg == "--version") {
            std::cout << "eft-driver " << eft::libraryVersion() << "\n";
            return 0;
        } else if (arg == "--embedded-server") {
            embedded = true;
        } else if (arg == "--seed-demo") {
            seedDemo = true;
        } else if (arg == "--no-fail-on-error") {
            failOnError = false;
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
        runner.setFailOnError(failOnError);
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
