// eft-driver: the headless host of the control with a scripted operator.
//
//   eft-driver [--today YYYY-MM-DD]
//              [--embedded-server [--seed-demo] [--db FILE] [--export-dir DIR]]
//              [--connect-timeout-ms N] [--get-timeout-ms N] [--post-timeout-ms N]
//              [--max-reply-bytes N] [--low-speed-seconds N] [--ca-file FILE]
//              [--no-fail-on-error] [SCRIPT]
//
// Reads the script from SCRIPT or standard input and prints JSON Lines. With
// --embedded-server the reference server runs in-process on a loopback port and "$SERVER"
// in the script stands for its base address; its bank files go where eft-server would put
// them. The transfer options set the control's limits. Every option with a value also takes
// the form --option=value.
//
// Exit status: 0 the script ran to its end; 1 the driver could not start; 2 a bad line or a
// bad command line (named, with why); 3 the script ran to its end but the control showed a failure box (unless
// --no-fail-on-error), so a script in CI fails when the server is down.
#include <charconv>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <string>

#include "driver/script_runner.h"
#include "server/embedded_server.h"

namespace {

constexpr const char* kUsage =
    "usage: eft-driver [--today YYYY-MM-DD]\n"
    "                  [--embedded-server [--seed-demo] [--db FILE] [--export-dir DIR]]\n"
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
    "  --export-dir DIR         where its bank files go (default: <db name>-export beside\n"
    "                           --db FILE, as for eft-server; without --db, the scratch folder)\n"
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

// A command line that cannot run; what() names the option and says why.
struct BadCommandLine : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr unsigned long long kMostTransferValue = 1ull << 40;

// Applies one transfer option.
void transferOption(const std::string& name, const std::string& value, eft::HttpLimits& limits) {
    using std::chrono::milliseconds;
    if (name == "--ca-file") {
        if (value.empty()) throw BadCommandLine("--ca-file: the file name is empty");
        limits.caFile = value;
        return;
    }
    unsigned long long n = 0;
    const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || p != value.data() + value.size() || n == 0 || n > kMostTransferValue)
        throw BadCommandLine(name + ": \"" + value + "\" is not a whole number from 1 to " +
                             std::to_string(kMostTransferValue));
    if (name == "--connect-timeout-ms") limits.connectTimeout = milliseconds(n);
    else if (name == "--get-timeout-ms") limits.getTimeout = milliseconds(n);
    else if (name == "--post-timeout-ms") limits.postTimeout = milliseconds(n);
    else if (name == "--max-reply-bytes") limits.maxReplyBytes = static_cast<std::size_t>(n);
    else if (name == "--low-speed-seconds") limits.lowSpeedTime = std::chrono::seconds(n);
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

struct CommandLine {
    eft::Date today = systemToday();
    bool embedded = false;
    bool seedDemo = false;
    std::string dbPath;
    std::string exportDir;
    std::string scriptPath;
    bool failOnError = true;
    eft::ControlOptions controlOptions;
    enum class Answer { None, Help, Version } answer = Answer::None;  // printed instead of a run
};

// Throws BadCommandLine.
CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine c;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const bool takesValue = isTransferOption(name) || name == "--today" || name == "--db" || name == "--export-dir";
        const bool isSwitch = name == "--help" || name == "-h" || name == "--version" || name == "--embedded-server" ||
                              name == "--seed-demo" || name == "--no-fail-on-error";
        if (takesValue) {
            std::string value;
            if (equals != std::string::npos) value = arg.substr(equals + 1);
            else if (i + 1 < argc) value = argv[++i];
            else throw BadCommandLine(name + ": its value is missing");
            if (name == "--today") {
                const auto ts = eft::parseTimestamp(value);
                if (!ts) throw BadCommandLine("--today: \"" + value + "\" is not a date (YYYY-MM-DD)");
                c.today = ts->date();
            } else if (name == "--db" || name == "--export-dir") {
                if (value.empty()) throw BadCommandLine(name + ": the name is empty");
                (name == "--db" ? c.dbPath : c.exportDir) = value;
            } else {
                transferOption(name, value, c.controlOptions.limits);
            }
        } else if (isSwitch && equals != std::string::npos) {
            throw BadCommandLine(name + ": a switch, it takes no value");
        } else if (isSwitch) {
            if (arg == "--help" || arg == "-h") c.answer = CommandLine::Answer::Help;
            else if (arg == "--version") c.answer = CommandLine::Answer::Version;
            else if (arg == "--embedded-server") c.embedded = true;
            else if (arg == "--seed-demo") c.seedDemo = true;
            else c.failOnError = false;
        } else if (arg.starts_with("-") && arg != "-") {
            throw BadCommandLine(name + ": not an option of eft-driver");
        } else if (!c.scriptPath.empty()) {
            throw BadCommandLine("\"" + arg + "\": a second script (the first is \"" + c.scriptPath + "\")");
        } else {
            c.scriptPath = arg;
        }
    }
    if (!c.embedded && c.answer == CommandLine::Answer::None)
        for (const auto& [given, option] : {std::pair{c.seedDemo, "--seed-demo"}, std::pair{!c.dbPath.empty(), "--db"},
                                            std::pair{!c.exportDir.empty(), "--export-dir"}})
            if (given) throw BadCommandLine(std::string(option) + ": goes with --embedded-server, which is not given");
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine c;
    try {
        c = parseCommandLine(argc, argv);
    } catch (const BadCommandLine& e) {
        std::cerr << "eft-driver: " << e.what() << "\n" << kUsage;
        return 2;
    }
    if (c.answer == CommandLine::Answer::Help) {
        std::cout << kUsage << "\n" << kHelp;
        return 0;
    }
    if (c.answer == CommandLine::Answer::Version) {
        std::cout << "eft-driver " << eft::libraryVersion() << "\n";
        return 0;
    }

    std::unique_ptr<eft::server::EmbeddedServer> server;
    std::filesystem::path scratch;
    if (c.embedded) {
        eft::server::EmbeddedOptions options;
        if (c.dbPath.empty()) {
            // A private database for this run, removed at the end with its bank files, unless
            // --export-dir keeps them.
            scratch = std::filesystem::temp_directory_path() /
                      ("eft-driver-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
            std::filesystem::create_directories(scratch);
            c.dbPath = (scratch / "eft.sqlite").string();
        }
        options.dbPath = c.dbPath;
        // Empty: the server's own default, the one eft-server uses.
        options.exportDir = c.exportDir;
        options.seedDemo = c.seedDemo;
        // A driver's run loads the sweep once or twice: keeping a copy of the rows would cost
        // the first load time and memory for little.
        options.sweepCacheBytes = 0;
        try {
            server = eft::server::EmbeddedServer::start(options);
        } catch (const std::exception& e) {
            std::cerr << "eft-driver: the embedded server did not start: " << e.what() << "\n";
            return 1;
        }
    }

    int rc = 0;
    {
        eft::driver::ScriptRunner runner(std::cout, c.today, c.controlOptions);
        runner.setFailOnError(c.failOnError);
        if (server) runner.define("SERVER", server->baseAddress());
        else runner.leaveUndefined("SERVER", "$SERVER is the embedded server's address: run eft-driver with --embedded-server");
        if (c.scriptPath.empty()) {
            rc = runner.run(std::cin);
        } else {
            std::ifstream script(c.scriptPath);
            if (!script) {
                std::cerr << "eft-driver: cannot read " << c.scriptPath << "\n";
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
