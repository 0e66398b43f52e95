#include "sweep/row_name.h"

#include <vector>

#include "tables/field_lists.h"
#include "text/text_forms.h"

namespace eft {

std::string sweepRowName(const Table& t) {
    namespace F = sweep_field;
    std::string name = "the sweep row";
    const char* joint = " of ";
    auto add = [&](const char* what, std::optional<std::int32_t> v, bool center = false) {
        if (!v) return;
        name += joint;
        name += what;
        name += center ? text::centerNumber(*v) : text::wholeNumber(*v);
        joint = ", ";
    };
    add("member ", t.integer(F::MemberID));
    add("center ", t.integer(F::CenterID), true);
    add("source ", t.integer(F::Source));
    add("sweep sequence ", t.integer(F::SweepSequence));
    return name;
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
