#include "form.h"

#include <algorithm>

#include "text/windows1252.h"

namespace eft::server {
namespace {

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

// Form bytes are the control's code page; the database holds UTF-8.
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
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return text::windows1252ToUtf8(out);
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
