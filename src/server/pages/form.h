#pragma once
// Decoding of form-encoded texts (POST bodies and query strings): pairs split at '&' and
// '=', '+' standing for a blank and %XX for one byte of the Windows-1252 code page, which is
// the code page the control encodes in. Decoded texts are UTF-8.
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace eft::server {

// A request the server cannot act on; what() is the one-line reason given back.
class RequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text quoted for a one-line reason: in apostrophes, shortened, line breaks and other
// control characters shown as '?'.
std::string quote(std::string_view text);

struct FormPair {
    std::string key;
    std::string value;
};

// Decodes one component. Throws RequestError for a '%' not followed by two hex digits.
std::string decodeComponent(std::string_view text);

// A form text decoded in one pass while it arrives in pieces of any size: each pair is handed
// on as soon as its '&' (or the end) is seen, so only the pair under way is held. Empty pieces
// (the control ends its status body with '&') are skipped; a piece without '=' or with an
// empty key throws RequestError, and so does the first pair past the cap, before it is
// decoded, so a body of millions of tiny pairs costs nothing but the reading; so does a pair
// over kMaxPairBytes, as soon as it grows past them, so one huge value holds no memory.
class FormDecoder {
public:
    // A save record is some 600 bytes; no pair of either page comes near this.
    static constexpr std::size_t kMaxPairBytes = 64 * 1024;

    using Take = std::function<void(FormPair&&)>;
    FormDecoder(Take take, std::size_t maxPairs);

    void feed(std::string_view piece);
    // The last pair, when the text does not end with '&'.
    void finish();
    // Lowers or raises the cap; a count already past it throws at once.
    void setMaxPairs(std::size_t maxPairs);
    std::size_t pairs() const { return pairs_; }

private:
    void takePiece(std::string_view piece);

    Take take_;
    std::size_t maxPairs_;
    std::size_t pairs_ = 0;
    std::string pending_;
};

// The pairs of a whole form text in order, without a cap (query strings are short).
std::vector<FormPair> decodeForm(std::string_view text);

}  // namespace eft::server
