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
