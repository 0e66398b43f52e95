#pragma once
// Runs eft-driver script text in-process and collects its JSON Lines.
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "driver/script_runner.h"

namespace eft::test {

class DriverSession {
public:
    explicit DriverSession(Date today = Date{2026, 12, 6}, ControlOptions options = {})
        : runner_(out_, today, options) {}

    void define(const std::string& name, const std::string& value) { runner_.define(name, value); }
    driver::ScriptedHost& host() { return runner_.host(); }

    // Runs the lines; returns the exit code and keeps the events they printed.
    int run(const std::string& script) {
        out_.str("");
        std::istringstream in(script);
        const int rc = runner_.run(in);
        events.clear();
        std::istringstream lines(out_.str());
        for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
        return rc;
    }
    // The last event of a kind from the last run.
    nlohmann::json last(const std::string& kind) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if ((*it)["event"] == kind) return *it;
        return nullptr;
    }
    std::vector<nlohmann::json> all(const std::string& kind) const {
        std::vector<nlohmann::json> out;
        for (const auto& e : events)
            if (e["event"] == kind) out.push_back(e);
        return out;
    }
    nlohmann::json dump() {
        run("dump");
        return last("dump");
    }

    std::vector<nlohmann::json> events;

private:
    std::ostringstream out_;
    driver::ScriptRunner runner_;
};

// The column k texts of a list in a dump.
inline std::vector<std::string> dumpColumn(const nlohmann::json& dump, const std::string& list, int k) {
    std::vector<std::string> out;
    for (const auto& line : dump["lists"][list]["lines"]) out.push_back(line["sub"][k - 1].get<std::string>());
    return out;
}

}  // namespace eft::test
