#pragma once
// The access keys (Alt+letter) of the elements whose captions carry none: the tabs, the country
// options and "Commit". Chosen so that no two elements that can show at once share a letter,
// the captions that carry their own ("&Load Data", "&Save", ...) included.
#include <QString>
#include <string_view>

namespace eft::qt {

// The caption with "&" before its access letter; a caption with an "&" of its own, or an
// element without a key here, comes back as it is.
QString withAccessKey(std::string_view element, int index, std::string_view caption);

}  // namespace eft::qt
