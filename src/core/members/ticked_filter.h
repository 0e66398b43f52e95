#pragma once
// The table filter naming the ticked lines of a list: " Field = a OR Field = b ...", one term
// per ticked line in list order, taken from one column. Empty when nothing is ticked.
#include <string>
#include <string_view>

#include "ui/models.h"

namespace eft {

inline std::string tickedLinesFilter(const ui::ListView& list, int subItem, std::string_view field) {
    std::string filter;
    for (const auto& line : list.lines()) {
        if (!line.checked) continue;
        filter += filter.empty() ? " " : " OR ";
        filter += field;
        filter += " = ";
        filter += line.sub[static_cast<std::size_t>(subItem - 1)];
    }
    return filter;
}

// Rows that pass both filters; an empty filter lets every row through.
inline std::string bothFilters(const std::string& first, const std::string& second) {
    if (first.empty()) return second;
    if (second.empty()) return first;
    return "(" + first + ") AND (" + second + ")";
}

}  // namespace eft
