#include "net/address.h"

namespace eft {

std::string redactedAddress(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const std::size_t scheme = text.find("://", pos);
        if (scheme == std::string_view::npos) break;
        const std::size_t start = scheme + 3;
        // The authority ends where the path, query or fragment starts, or where the address
        // does inside a sentence.
        std::size_t end = start;
        while (end < text.size() && std::string_view("/?#\\ \t\r\n\"'<>()").find(text[end]) == std::string_view::npos)
            ++end;
        const std::size_t at = text.substr(start, end - start).rfind('@');
        out.append(text.substr(pos, start - pos));
        pos = at == std::string_view::npos ? start : start + at + 1;
    }
    out.append(text.substr(pos));
    return out;
}

}  // namespace eft
