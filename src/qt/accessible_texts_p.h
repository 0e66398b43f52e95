#pragma once
// What a screen reader says of each element beyond its caption: a name where the element shows
// none (a list, the batch box, a frame) and a description of what it does. The texts are the
// control's own, translated as every other.
#include <string_view>

#include <QString>
#include <QStringList>

namespace eft::qt {

struct AccessibleText {
    std::string_view element;
    int index;                     // option-button index, or -1
    std::string_view name;         // empty: the element's own caption
    std::string_view description;
};

// The texts of every element that has any.
const AccessibleText* accessibleText(std::string_view element, int index);

// A list line as a screen reader reads it ("Center 0101, Albany West, Due In 816.11, not
// selected"): the list's own phrase, filled with the line's values and its tick.
QString spokenLine(std::string_view list, const QStringList& columns, bool ticked);

}  // namespace eft::qt
