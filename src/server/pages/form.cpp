#include "server/pages/form.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "text/windows1252.h"

namespace eft::server {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

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

std::string cappedText(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t kept = limit;
    while (kept > 0 && (static_cast<unsigned char>(text[kept]) & 0xC0) == 0x80) --kept;
    return std::string(text.substr(0, kept)) + "\u2026(" + std::to_string(text.size()) + " bytes)";
}

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

FormDecoder::FormDecoder(Take take, std::size_t maxPairs) : take_(std::move(take)), maxPairs_(maxPairs) {}

void FormDecoder::setMaxPairs(std::size_t maxPairs) {
    maxPairs_ = maxPairs;
    if (pairs_ > maxPairs_) throw RequestError("The form has more than " + std::to_string(maxPairs_) + " pairs");
}

void FormDecoder::takePiece(std::string_view piece) {
    if (piece.empty()) return;
    if (pairs_ >= maxPairs_) throw RequestError("The form has more than " + std::to_string(maxPairs_) + " pairs");
    ++pairs_;
    const std::size_t eq = piece.find('=');
    if (eq == std::string_view::npos) throw RequestError("Pair " + quote(piece) + " has no '='");
    if (eq == 0) throw RequestError("A pair has no key");
    take_({decodeComponent(piece.substr(0, eq)), decodeComponent(piece.substr(eq + 1))});
}

void FormDecoder::feed(std::string_view piece) {
    while (!piece.empty()) {
        const std::size_t amp = piece.find('&');
        if (pending_.size() + std::min(amp, piece.size()) > kMaxPairBytes)
            throw RequestError("A pair is over " + std::to_string(kMaxPairBytes / 1024) + " KiB");
        if (amp == std::string_view::npos) {
            pending_.append(piece);
            return;
        }
        if (pending_.empty()) {
            takePiece(piece.substr(0, amp));
        } else {
            pending_.append(piece.substr(0, amp));
            const std::string whole = std::move(pending_);
            pending_.clear();
            takePiece(whole);
        }
        piece.remove_prefix(amp + 1);
    }
}

void FormDecoder::finish() {
    const std::string last = std::move(pending_);
    pending_.clear();
    takePiece(last);
}

std::vector<FormPair> decodeForm(std::string_view text) {
    std::vector<FormPair> pairs;
    FormDecoder decoder([&pairs](FormPair&& p) { pairs.push_back(std::move(p)); }, static_cast<std::size_t>(-1));
    decoder.feed(text);
    decoder.finish();
    return pairs;
}

}  // namespace eft::server
