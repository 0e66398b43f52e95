#pragma once
// eft-driver's interpreter: hosts one EFTMemb with a scripted operator and prints what the
// operator would see as JSON Lines. One action a line; the first bad line ends the script.
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "control/eftmemb.h"
#include <nlohmann/json.hpp>

#include "driver/scripted_host.h"

namespace eft::driver {

class ScriptRunner {
public:
    ScriptRunner(std::ostream& out, Date today, ControlOptions options = {});
    ~ScriptRunner();

    // "$NAME" in an argument is replaced by the value (the embedded server's address, say).
    void define(const std::string& name, const std::string& value) { variables_[name] = value; }
    // "$NAME" in an argument is a bad line, `why` its message: a name the script may expect
    // that this run does not give.
    void leaveUndefined(const std::string& name, const std::string& why) { undefined_[name] = why; }

    // Returns 0 when the script ran to its end, 2 after a bad line, 3 when it ran to its end
    // but the control showed a failure box and failOnError is on (eft-driver's default).
    int run(std::istream& script);
    static constexpr int kBadLine = 2;
    static constexpr int kErrorShown = 3;
    void setFailOnError(bool fail) { failOnError_ = fail; }

    // Splits a line into arguments: blank-separated words or JSON string literals.
    static std::vector<std::string> splitArguments(const std::string& line);

    EFTMemb* control() { return control_.get(); }
    ScriptedHost& host() { return host_; }

private:
    void execute(const std::vector<std::string>& args);
    void requireOnShowingTab(const std::string& element);
    void emit(const nlohmann::json& event);

    std::ostream& out_;
    ScriptedHost host_;
    ControlOptions options_;
    std::unique_ptr<EFTMemb> control_;
    std::map<std::string, std::string> variables_;
    std::map<std::string, std::string> undefined_;
    bool failOnError_ = false;
};

}  // namespace eft::driver
