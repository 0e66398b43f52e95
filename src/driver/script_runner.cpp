#include "driver/script_runner.h"

#include <charconv>
#include <limits>
#include <stdexcept>

#include "driver/screen_json.h"
#include "net/address.h"
#include "net/url_encode.h"
#include "ui/layout.h"

namespace eft::driver {
namespace {

// A refused or malformed action: ends the script with an error event naming the line.
struct BadLine : std::runtime_error {
    using std::runtime_error::runtime_error;
};

long long wholeArgument(const std::string& text, long long lo, long long hi, const char* what) {
    long long v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v < lo || v > hi)
        throw BadLine(std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " +
                      std::to_string(hi) + ", not \"" + text + "\"");
    return v;
}

void requireCount(const std::vector<std::string>& args, std::size_t min, std::size_t max, const char* usage) {
    if (args.size() < min || args.size() > max) throw BadLine(std::string("usage: ") + usage);
}

ui::ListView& listNamed(ui::Screen& s, const std::string& name) {
    auto* e = s.find(name);
    if (!e || e->kind() != ui::ElementKind::ListView) throw BadLine(name + " is not a list");
    return static_cast<ui::ListView&>(*e);
}

}  // namespace

ScriptRunner::ScriptRunner(std::ostream& out, Date today, ControlOptions options)
    : out_(out), host_(today), options_(options), control_(std::make_unique<EFTMemb>(host_, options_)) {
    host_.onMessageBox = [this](const ShownBox& box) { emit(messageBoxEvent(box)); };
    // Its own event, so a script can tell "may have been recorded" from "failed" without
    // reading the box's words.
    host_.onPostOutcomeUnknown = [this](const std::string& post, const std::string& message) {
        emit({{"event", "unknown-outcome"}, {"post", post}, {"message", message}});
    };
}

ScriptRunner::~ScriptRunner() = default;

void ScriptRunner::emit(const nlohmann::json& event) {
    out_ << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    out_.flush();
}

std::vector<std::string> ScriptRunner::splitArguments(const std::string& line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        if (line[i] == '"') {
            std::size_t j = i + 1;
            while (j < line.size() && line[j] != '"') j += line[j] == '\\' ? 2 : 1;
            if (j >= line.size()) throw BadLine("an unterminated string");
            try {
                args.push_back(nlohmann::json::parse(line.substr(i, j - i + 1)).get<std::string>());
            } catch (const nlohmann::json::exception&) {
                throw BadLine("a malformed string " + line.substr(i, j - i + 1));
            }
            i = j + 1;
        } else {
            std::size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
            args.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    return args;
}

int ScriptRunner::run(std::istream& script) {
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
        ++number;
        try {
            auto args = splitArguments(line);
            if (args.empty() || args[0].starts_with("#")) continue;
            for (auto& a : args) {
                for (const auto& [name, why] : undefined_)
                    if (a.find("$" + name) != std::string::npos) throw BadLine(why);
                for (const auto& [name, value] : variables_)
                    for (std::size_t at; (at = a.find("$" + name)) != std::string::npos;)
                        a.replace(at, name.size() + 1, value);
            }
            execute(args);
        } catch (const std::exception& e) {
            // A script line may carry the base address with its credentials.
            emit({{"event", "error"}, {"line", number}, {"message", redactedText(e.what())}});
            return kBadLine;
        }
    }
    return failOnError_ && host_.errorsShown() > 0 ? kErrorShown : 0;
}

void ScriptRunner::requireOnShowingTab(const std::string& element) {
    const auto* layout = ui::findLayout(element, element == "optCountry" ? 1 : -1);
    if (!layout) return;
    const auto& tabs = control_->screen().tabEFT;
    if (layout->tab >= 0 && tabs.selected() != layout->tab)
        throw BadLine(element + " is on the tab \"" + std::string(ui::kTabCaptions[layout->tab]) +
                      "\", which is not showing");
}

void ScriptRunner::execute(const std::vector<std::string>& args) {
    const std::string& action = args[0];
    if (action == "answer") {
        requireCount(args, 2, 2, "answer yes|no|ok");
        if (args[1] == "yes") host_.queueAnswer(MsgAnswer::Yes);
        else if (args[1] == "no") host_.queueAnswer(MsgAnswer::No);
        else if (args[1] == "ok") host_.queueAnswer(MsgAnswer::Ok);
        else throw BadLine("answer takes yes, no or ok");
        return;
    }
    if (action == "encode") {
        requireCount(args, 2, 2, "encode TEXT");
        emit({{"event", "encoded"}, {"text", eft::urlEncode(args[1])}});
        return;
    }
    if (!control_) throw BadLine("the control has been destroyed");
    ui::Screen& s = control_->screen();

    if (action == "set-variables") {
        requireCount(args, 4, 4, "set-variables URL PERSONID PERSONTYPE");
        const auto id = static_cast<std::int32_t>(wholeArgument(args[2], std::numeric_limits<std::int32_t>::min(),
                                                                std::numeric_limits<std::int32_t>::max(), "PERSONID"));
        const auto type = static_cast<std::int16_t>(wholeArgument(args[3], -32768, 32767, "PERSONTYPE"));
        control_->SetVariables(args[1], id, type);
    } else if (action == "click") {
        requireCount(args, 2, 3, "click ELEMENT [INDEX]");
        ui::Element* e = s.find(args[1]);
        if (!e) throw BadLine("there is no element named " + args[1]);
        requireOnShowingTab(args[1]);
        if (e->kind() == ui::ElementKind::Button) {
            if (!static_cast<ui::Button*>(e)->operatorClick()) throw BadLine(args[1] + " is disabled");
        } else if (e->kind() == ui::ElementKind::OptionGroup) {
            if (args.size() != 3) throw BadLine("usage: click optCountry INDEX");
            const auto index = static_cast<std::int16_t>(wholeArgument(args[2], -32768, 32767, "INDEX"));
            if (!static_cast<ui::OptionGroup*>(e)->operatorChoose(index))
                throw BadLine(args[1] + " has no option " + args[2] + " or is disabled");
        } else {
            throw BadLine(args[1] + " cannot be clicked");
        }
    } else if (action == "tab") {
        requireCount(args, 2, 2, "tab INDEX");
        const int index = static_cast<int>(wholeArgument(args[1], 0, s.tabEFT.count() - 1, "INDEX"));
        if (!s.tabEFT.operatorSelect(index))
            throw BadLine("the tab \"" + s.tabEFT.tab(index).caption + "\" is hidden or disabled");
    } else if (action == "tick" || action == "untick") {
        requireCount(args, 3, 3, "tick|untick LIST LINE");
        ui::ListView& list = listNamed(s, args[1]);
        requireOnShowingTab(args[1]);
        if (list.lineCount() == 0) throw BadLine(args[1] + " has no line " + args[2] + ": the list is empty");
        const int line = static_cast<int>(wholeArgument(args[2], 0, list.lineCount() - 1, "LINE"));
        list.operatorSetChecked(line, action == "tick");
    } else if (action == "column-click") {
        requireCount(args, 3, 3, "column-click LIST POSITION");
        ui::ListView& list = listNamed(s, args[1]);
        requireOnShowingTab(args[1]);
        const int position = static_cast<int>(wholeArgument(args[2], 1, list.subItemCount() + 1, "POSITION"));
        if (!list.operatorColumnClick(position)) throw BadLine(args[1] + " cannot be sorted");
    } else if (action == "choose") {
        requireCount(args, 3, 3, "choose cmbBatches ENTRY");
        if (args[1] != s.cmbBatches.name()) throw BadLine(args[1] + " is not a combo box");
        requireOnShowingTab(args[1]);
        const int entry = static_cast<int>(wholeArgument(args[2], 0, 1 << 30, "ENTRY"));
        if (!s.cmbBatches.operatorChoose(entry)) throw BadLine("cmbBatches has no entry " + args[2] + " or is disabled");
    } else if (action == "dump") {
        requireCount(args, 1, 1, "dump");
        emit(dumpScreen(s));
    } else if (action == "destroy") {
        requireCount(args, 1, 1, "destroy");
        control_.reset();
    } else {
        throw BadLine("unknown action \"" + action + "\"");
    }
}

}  // namespace eft::driver
