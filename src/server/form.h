#pragma once
// Decoding of form-encoded texts (POST bodies and query strings): pairs split at '&' and
// '=', '+' standing for a blank and %XX for one byte of the Windows-1252 code page, which is
// the code page the control encodes in. Decoded texts are UTF-8.
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

// The pairs of a form text in order. Empty pieces (the control ends its status body with
// '&') are skipped; a piece without '=' or with an empty key throws RequestError.
std::vector<FormPair> decodeForm(std::string_view text);

}  // namespace eft::server
