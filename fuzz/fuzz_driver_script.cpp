// eft-driver's script language: the line splitter and every action, on a live control.
// The control's server address is a closed port on 127.0.0.1 (every request is refused at
// once), and so is any address a "set-variables" line gives: a fuzzer must not reach a host.
#include <sstream>
#include <string>

#include "driver/script_runner.h"
#include "fuzz_entry.h"
#include <nlohmann/json.hpp>

namespace {

constexpr const char* kNowhere = "http://127.0.0.1:1/";

// The script with every set-variables address pointed at the closed port, written back as
// JSON string literals so the runner splits it as it would have.
std::string confined(std::string_view script) {
    std::string out = std::string("set-variables ") + kNowhere + " 7 2\n";
    std::istringstream lines{std::string(script)};
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> args;
        try {
            args = eft::driver::ScriptRunner::splitArguments(line);
        } catch (const std::exception&) {
            out += line + '\n';  // the runner stops here with an error event
            continue;
        }
        if (args.size() >= 2 && args[0] == "set-variables") {
            args[1] = kNowhere;
            line.clear();
            for (const auto& a : args) line += nlohmann::json(a).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + ' ';
        }
        out += line + '\n';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ostringstream events;
    eft::ControlOptions options;
    options.limits.connectTimeout = std::chrono::milliseconds(200);
    options.limits.getTimeout = options.limits.postTimeout = std::chrono::milliseconds(500);
    eft::driver::ScriptRunner runner(events, eft::Date{2026, 12, 6}, options);
    std::istringstream script(confined(eft::fuzz::asText(data, size)));
    const int rc = runner.run(script);
    eft::fuzz::require(rc == 0 || rc == 2);
    // Every line of output is one JSON event.
    std::istringstream out(events.str());
    for (std::string line; std::getline(out, line);)
        eft::fuzz::require(nlohmann::json::accept(line));
    return 0;
}
