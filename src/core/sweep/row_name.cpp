#include "sweep/row_name.h"

#include <vector>

#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {

std::string rowName(std::string_view thing, std::string_view bare, std::initializer_list<RowNamePart> parts) {
    std::string ids;
    for (const RowNamePart& p : parts) {
        if (!p.value) continue;
        if (!ids.empty()) ids += ", ";
        ids += ui::fill(p.what, {p.center ? text::centerNumber(*p.value) : text::wholeNumber(*p.value)});
    }
    if (ids.empty()) return std::string(bare);
    return ui::fill(thing, {ids});
}

std::string sweepRowName(const Table& t) {
    namespace F = sweep_field;
    return rowName(ui::phrase::kSweepRow, ui::phrase::kSweepRowBare, {{ui::phrase::kMemberId, t.integer(F::MemberID)},
                                           {ui::phrase::kCenterId, t.integer(F::CenterID), true},
                                           {ui::phrase::kSourceId, t.integer(F::Source)},
                                           {ui::phrase::kSequenceId, t.integer(F::SweepSequence)}});
}

std::string shownRowName(const Table& t, const Date& today) {
    namespace F = sweep_field;
    std::vector<std::string> parts;
    if (const auto center = t.integer(F::CenterID))
        parts.push_back(ui::fill(ui::phrase::kCenterId, {text::centerNumber(*center)}));
    if (const auto name = t.text(F::MemberName); name && !name->empty()) parts.push_back(*name);
    if (t.integer(F::Type) != 3) parts.push_back(text::dateMDY(today));
    else if (const auto swept = t.timestamp(F::SweepDate)) parts.push_back(text::dateMDY(swept->date()));
    if (const auto total = t.single(F::RowTotal))
        parts.push_back(ui::fill(ui::phrase::kAmountOf, {text::amount(*total)}));
    std::string name;
    for (const auto& p : parts) name += (name.empty() ? "" : ", ") + p;
    return name.empty() ? std::string(ui::phrase::kRowWithoutAny) : name;
}

}  // namespace eft
