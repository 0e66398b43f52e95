#pragma once
// Text from outside (a request, a CSV field, a user name) as the server shows it on a terminal
// or in its log: one rule for every place that echoes what it was given.
#include <cstddef>
#include <string>
#include <string_view>

namespace eft::server {

// A text safe to show or log on one line: printable UTF-8 kept, a backslash doubled, control
// characters (C0, DEL, C1), bidirectional overrides and bytes that are not UTF-8 escaped as
// \xNN or \u{NNNN}, so nothing can forge a line or reorder what a reader sees.
std::string escapedText(std::string_view text);

// escapedText of at most the first `maxBytes` bytes, never cutting a UTF-8 character; a longer
// text ends in "…(N bytes)", N its whole size, so one huge field cannot flood a screen.
std::string shownText(std::string_view text, std::size_t maxBytes);

}  // namespace eft::server
