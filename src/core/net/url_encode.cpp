#include "net/url_encode.h"

#include <cstdint>

#include "text/windows1252.h"

namespace eft {
namespace {

constexpr int kQuestionMark = 63;

int codePageCode(char32_t c) {
    const int code = text::windows1252Code(c);
    return code < 0 ? kQuestionMark : code;
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

// The piece each code of the code page becomes, written once: "+", the character itself, or
// "%XX". A record is almost all ASCII, so most bytes are a single table look-up.
struct Pieces {
    char text[256][4];
    unsigned char length[256];
    constexpr Pieces() : text(), length() {
        for (int code = 0; code < 256; ++code) {
            const FormPiece piece = formPiece(static_cast<char>(code));
            for (std::size_t k = 0; k < piece.size; ++k) text[code][k] = piece.text[k];
            length[code] = static_cast<unsigned char>(piece.size);
        }
    }
};
constexpr Pieces kPieces;

}  // namespace

void appendUrlEncoded(std::string& out, std::string_view theData) {
    const std::size_t start = out.size();
    out.resize(start + theData.size() * 3);  // no code page character takes more than "%XX"
    char* w = out.data() + start;
    std::size_t i = 0;
    while (i < theData.size()) {
        int code;
        const auto b = static_cast<unsigned char>(theData[i]);
        if (b < 0x80) {
            code = b;
            ++i;
        } else {
            char32_t cp = 0;
            code = nextCodePoint(theData, i, cp) ? codePageCode(cp) : kQuestionMark;
        }
        const char* piece = kPieces.text[code];
        w[0] = piece[0];
        w[1] = piece[1];
        w[2] = piece[2];
        w += kPieces.length[code];
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
}

std::string urlEncode(std::string_view theData) {
    std::string out;
    appendUrlEncoded(out, theData);
    return out;
}

}  // namespace eft
