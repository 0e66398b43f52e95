#include "net/url_encode.h"

#include <array>
#include <cstdint>

namespace eft {
namespace {

constexpr int kQuestionMark = 63;

// Windows-1252 codes 0x80..0x9F and the Unicode characters they stand for (0: unassigned).
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int codePageCode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (std::size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] != 0 && kHighControls[i] == c) return static_cast<int>(0x80 + i);
    return kQuestionMark;
}

// Decodes one UTF-8 sequence at s[i]; on an invalid sequence consumes one byte and yields
// nothing, which the caller encodes as the question mark.
bool nextCodePoint(std::string_view s, std::size_t& i, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b0 < 0x80) { out = b0; ++i; return true; }
    if (b0 >= 0xC2 && b0 <= 0xDF) { extra = 1; cp = b0 & 0x1F; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { extra = 2; cp = b0 & 0x0F; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { extra = 3; cp = b0 & 0x07; }
    else { ++i; return false; }
    if (i + extra >= s.size()) { ++i; return false; }  // truncated sequence
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) { ++i; return false; }
        cp = (cp << 6) | (b & 0x3F);
    }
    const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return false; }
    i += static_cast<std::size_t>(extra) + 1;
    out = cp;
    return true;
}

bool keptAsIs(int code) {
    return code == '*' || code == '-' || code == '.' || code == '_' || (code >= '0' && code <= '9') ||
           (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

}  // namespace

std::string urlEncode(std::string_view theData) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(theData.size() * 3);
    std::size_t i = 0;
    while (i < theData.size()) {
        char32_t cp = 0;
        const int code = nextCodePoint(theData, i, cp) ? codePageCode(cp) : kQuestionMark;
        if (code == ' ') {
            out += '+';
        } else if (keptAsIs(code)) {
            out += static_cast<char>(code);
        } else {
            out += '%';
            out += kHex[(code >> 4) & 0xF];
            out += kHex[code & 0xF];
        }
    }
    return out;
}

}  // namespace eft
