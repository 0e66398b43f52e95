#include "driver/screen_json.h"

#include "ui/layout.h"

namespace eft::driver {
namespace {

const char* iconName(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Information: return "information";
        case MsgIcon::Exclamation: return "exclamation";
        case MsgIcon::Critical: return "critical";
        case MsgIcon::None: break;
    }
    return "none";
}

const char* answerName(MsgAnswer a) {
    switch (a) {
        case MsgAnswer::Yes: return "yes";
        case MsgAnswer::No: return "no";
        case MsgAnswer::Ok: break;
    }
    return "ok";
}

nlohmann::json listJson(const ui::ListView& list) {
    nlohmann::json lines = nlohmann::json::array();
    for (const auto& l : list.lines()) {
        lines.push_back({{"checked", l.checked}, {"text", l.text}, {"sub", l.sub.toVector()}});
        // Only on a line that has them, as the combo's tips: other lines read as before.
        if (!l.tip.empty()) lines.back()["tip"] = l.tip;
        if (l.locked) lines.back()["locked"] = true;
    }
    // The captions of the sub-items, so "sub"[k] is read as "columns"[k]; hidden ones are "".
    nlohmann::json columns = nlohmann::json::array();
    if (const ui::ElementLayout* layout = ui::findLayout(list.name()))
        for (std::size_t k = 1; k < layout->columns.size(); ++k) columns.push_back(layout->columns[k].caption);
    return {{"columns", std::move(columns)}, {"sortKey", list.sortKey()}, {"sorted", list.sorted()},
            {"lines", std::move(lines)}};
}

}  // namespace

nlohmann::json dumpScreen(ui::Screen& s) {
    nlohmann::json tabs = nlohmann::json::array();
    for (int i = 0; i < s.tabEFT.count(); ++i) {
        const auto& t = s.tabEFT.tab(i);
        tabs.push_back({{"caption", t.caption}, {"visible", t.visible}, {"enabled", t.enabled}});
    }
    nlohmann::json labels = nlohmann::json::object();
    for (auto* l : s.labels()) labels[l->name()] = l->caption();
    nlohmann::json hiddenLabels = nlohmann::json::array();
    for (auto* l : s.labels())
        if (!l->visible()) hiddenLabels.push_back(l->name());
    nlohmann::json buttons = nlohmann::json::object();
    for (auto* b : s.buttons()) buttons[b->name()] = {{"enabled", b->enabled()}};
    nlohmann::json lists = nlohmann::json::object();
    for (auto* l : s.lists()) lists[l->name()] = listJson(*l);
    nlohmann::json entries = nlohmann::json::array();
    for (const auto& e : s.cmbBatches.entries()) {
        entries.push_back({{"text", e.text}, {"data", e.data}});
        if (!e.tip.empty()) entries.back()["tip"] = e.tip;
    }
    return {
        {"event", "dump"},
        {"tabs", std::move(tabs)},
        {"selectedTab", s.tabEFT.selected()},
        {"labels", std::move(labels)},
        {"hiddenLabels", std::move(hiddenLabels)},
        {"buttons", std::move(buttons)},
        {"lists", std::move(lists)},
        {"combo", {{"entries", std::move(entries)}, {"selected", s.cmbBatches.selected()},
                   {"enabled", s.cmbBatches.enabled()}}},
        {"options", {{s.optCountry.name(), s.optCountry.chosen()}}},
        {"mousePointer", s.mousePointer() == ui::MousePointer::Hourglass ? "hourglass" : "normal"},
        {"focus", s.focus() ? nlohmann::json(*s.focus()) : nlohmann::json(nullptr)},
    };
}

nlohmann::json messageBoxEvent(const ShownBox& box) {
    return {{"event", "msgbox"},
            {"text", box.request.text},
            {"title", box.request.title},
            {"icon", iconName(box.request.icon)},
            {"buttons", box.request.buttons == MsgButtons::Ok ? "ok" : "yesno"},
            {"answer", answerName(box.answer)},
            {"details", box.request.details}};
}

}  // namespace eft::driver
