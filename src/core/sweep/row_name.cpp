#include "sweep/row_name.h"

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

}  // namespace eft
