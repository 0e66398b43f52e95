#pragma once
// The form-field encoder of the control's POST bodies. Input is UTF-8; each character is
// taken at its Windows-1252 code, and one that code page cannot hold (or a byte that is not
// valid UTF-8) is taken as the question mark.
#include <cstddef>
#include <string>
#include <string_view>

namespace eft {

// Characters the encoder writes as they are.
constexpr bool formKeepsAsIs(char c) {
    return c == '*' || c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
}

// What the encoder writes for one code of the code page; constant, so a fixed text can be
// encoded when the program is built.
struct FormPiece {
    char text[3];
    std::size_t size;
    constexpr std::string_view view() const { return {text, size}; }
};
constexpr FormPiece formPiece(char c) {
    constexpr char kHex[] = "0123456789ABCDEF";
    if (c == ' ') return {{'+', 0, 0}, 1};
    if (formKeepsAsIs(c)) return {{c, 0, 0}, 1};
    const auto code = static_cast<unsigned char>(c);
    return {{'%', kHex[code >> 4], kHex[code & 0xF]}, 3};
}

std::string urlEncode(std::string_view theData);
// The same encoding appended to `out`.
void appendUrlEncoded(std::string& out, std::string_view theData);

}  // namespace eft
