#pragma once
// A column header click on a sortable list: sort by that column's texts, ascending.
#include "ui/models.h"

namespace eft::ui {

// `position` is 1-based among the list's columns, 1 being the check-box column.
inline void sortByColumn(ListView& list, int position) {
    list.setSortKey(position - 1);
    list.setSorted(true);
}

}  // namespace eft::ui
