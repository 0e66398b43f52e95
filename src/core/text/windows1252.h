#pragma once
// Windows-1252, the single-byte code page of the control's form fields and of servers that
// declare it for their XML replies.
#include <string>
#include <string_view>

namespace eft::text {

// The code of a Unicode character in Windows-1252, or -1 when the code page cannot hold it.
int windows1252Code(char32_t c);

// The Unicode character of a Windows-1252 code (U+FFFD for the five unassigned codes).
char32_t windows1252Char(unsigned char code);

// Windows-1252 bytes as UTF-8 text (the five unassigned codes become U+FFFD).
std::string windows1252ToUtf8(std::string_view bytes);

}  // namespace eft::text
