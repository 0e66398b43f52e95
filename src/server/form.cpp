#include "form.h"

#include <algorithm>
#include <array>

namespace eft::server {
namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves unassigned.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendCodePageByte(std::string& out, unsigned char byte) {
    if (byte < 0x80 || byte >= 0xA0) {
        appendUtf8(out, byte);
    } else {
        const char32_t cp = kHighControls[byte - 0x80];
        appendUtf8(out, cp != 0 ? cp : U'?');
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string quote(std::string_view text) {
    constexpr std::size_t kMaxShown = 40;
    std::size_t shown = std::min(text.size(), kMaxShown);
    // Never cut a UTF-8 character in two.
    while (shown < text.size() && shown > 0 && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80) --shown;
    std::string out = "'";
    for (std::size_t i = 0; i < shown; ++i) out += static_cast<unsigned char>(text[i]) < 0x20 ? '?' : text[i];
    if (shown < text.size()) out += "...";
    out += '\'';
    return out;
}

std::string decodeComponent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
            const int lo = hi >= 0 ? hexValue(text[i + 2]) : -1;
            if (lo < 0) {
                throw RequestError("Bad escape " + quote(text.substr(i, 3)));
            }
            appendCodePageByte(out, static_cast<unsigned char>(hi * 16 + lo));
            i += 2;
        } else {
            appendCodePageByte(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

std::vector<FormPair> decodeForm(std::string_view text) {
    std::vector<FormPair> pairs;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view piece = text.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;
        const std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos) throw RequestError("Pair " + quote(piece) + " has no '='");
        if (eq == 0) throw RequestError("A pair has no key");
        pairs.push_back({decodeComponent(piece.substr(0, eq)), decodeComponent(piece.substr(eq + 1))});
    }
    return pairs;
}

}  // namespace eft::server
