#pragma once
// The form-field encoder of the control's POST bodies. Input is UTF-8; each character is
// taken at its Windows-1252 code, and one that code page cannot hold (or a byte that is not
// valid UTF-8) is taken as the question mark.
#include <string>
#include <string_view>

namespace eft {

std::string urlEncode(std::string_view theData);
// The same encoding appended to `out`.
void appendUrlEncoded(std::string& out, std::string_view theData);

}  // namespace eft
