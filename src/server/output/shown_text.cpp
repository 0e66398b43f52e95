#include "server/output/shown_text.h"

#include <cstdio>
#include <utility>

namespace eft::server {
namespace {

// The code point of the UTF-8 sequence at text[i] and its length; -1 when it is not one.
std::pair<long, std::size_t> utf8At(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return {-1, 1};
    long cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {-1, 1};
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    const long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {-1, 1};
    return {cp, length};
}

bool hidden(long cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string escapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // Room for any long in hex: a sanitized build's range analysis cannot see that cp is a code
    // point and warns about a smaller buffer.
    char buf[24];
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            if (c == '\\') out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const auto [cp, length] = c < 0x80 ? std::pair<long, std::size_t>{c, 1} : utf8At(text, i);
        if (cp < 0 || cp < 0x20 || cp == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else if (hidden(cp)) {
            std::snprintf(buf, sizeof buf, "\\u{%04lX}", cp);
            out += buf;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string shownText(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return escapedText(text);
    std::size_t cut = maxBytes;
    // Back to the start of a character, at most three continuation bytes; bytes that are not
    // UTF-8 are cut anywhere, as they are escaped one by one.
    for (int k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++k) --cut;
    return escapedText(text.substr(0, cut)) + "\u2026(" + std::to_string(text.size()) + " bytes)";
}

}  // namespace eft::server
