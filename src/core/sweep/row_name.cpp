#include "sweep/row_name.h"

#include <vector>

#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {

std::string rowName(std::string_view thing, std::initializer_list<RowNamePart> parts) {
    std::string ids;
    for (const RowNamePart& p : parts) {
        if (!p.value) continue;
        if (!ids.empty()) ids += ", ";
        ids += ui::fill(p.what, {p.center ? text::centerNumber(*p.value) : text::wholeNumber(*p.value)});
    }
    // A row without any id is named by what it is alone.
    if (ids.empty()) return std::string(thing.substr(0, thing.find(" of %1")));
    return ui::fill(thing, {ids});
}

std::string sweepRowName(const Table& t) {
    namespace F = sweep_field;
    return rowName(ui::phrase::kSweepRow, {{ui::phrase::kMemberId, t.integer(F::MemberID)},
                                           {ui::phrase::kCenterId, t.integer(F::CenterID), true},
                                           {ui::phrase::kSourceId, t.integer(F::Source)},
                                           {ui::phrase::kSequenceId, t.integer(F::SweepSequence)}});
}

std::string shownRowName(const Table& t, const Date& today) {
    namespace F = sweep_field;
    std::vector<std::string> parts;
    if (const auto center = t.integer(F::CenterID)) parts.push_back("center " + text::centerNumber(*center));
    if (const auto name = t.text(F::MemberName); name && !name->empty()) parts.push_back(*name);
    if (t.integer(F::Type) != 3) parts.push_back(text::dateMDY(today));
    else if (const auto swept = t.timestamp(F::SweepDate)) parts.push_back(text::dateMDY(swept->date()));
    if (const auto total = t.single(F::RowTotal)) parts.push_back("amount " + text::amount(*total));
    std::string name;
    for (const auto& p : parts) name += (name.empty() ? "" : ", ") + p;
    return name.empty() ? "a row without center, name, date or amount" : name;
}

}  // namespace eft
