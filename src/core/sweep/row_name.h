#pragma once
// How the operator is told which sweep row is meant: by the charge it stands for.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "tables/table.h"
#include "ui/phrases.h"

namespace eft {

// One id in a row's name ("member %1", "center %1"); left out when the row lacks it.
struct RowNamePart {
    std::string_view what;
    std::optional<std::int32_t> value;
    bool center = false;  // written as a center number
};

// `thing` ("the batch item of %1") filled with the ids the row has: "the batch item of member
// 1001, center 0012"; `bare` ("the batch item") when it has none.
std::string rowName(std::string_view thing, std::string_view bare, std::initializer_list<RowNamePart> parts);

// "the sweep row of member 1001, center 0012, source 1, sweep sequence 3" for the current
// row of the sweep table, leaving out what the row lacks.
std::string sweepRowName(const Table& sweep);

// The current sweep row as the member list shows it to the operator: "center 0007, Jane Doe,
// 12/06/2026, 10.00" (center, member name, date, amount), leaving out what the row lacks.
// `today` is the date a row of a type other than 3 is shown with.
std::string shownRowName(const Table& sweep, const Date& today);

// The current sweep row's value of `field`; throws EftError naming the row and the field when
// it has none.
template <typename T>
T requiredValue(const Table& sweep, std::optional<T> value, int field) {
    if (!value)
        throw EftError(ui::fill(ui::phrase::kRowHasNo,
                                {sweepRowName(sweep), sweep.fields()[static_cast<std::size_t>(field)].name}));
    return *value;
}

}  // namespace eft
