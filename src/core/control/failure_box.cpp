#include "control/failure_box.h"

#include <algorithm>

#include "ui/phrases.h"

namespace eft {
namespace {

// A cut never splits a UTF-8 sequence: it backs up to the start of one.
std::size_t utf8Boundary(std::string_view text, std::size_t at) {
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

constexpr std::size_t kLineBytes = 300;

}  // namespace

std::string boxExcerpt(std::string_view text) {
    std::size_t cut = text.size();
    int lines = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (at == kBoxTextBytes) {
            cut = at;
            break;
        }
        if (text[at] == '\n' && ++lines == kBoxTextLines) {
            cut = at + 1;
            break;
        }
    }
    if (cut >= text.size()) return std::string(text);
    cut = utf8Boundary(text, cut);
    const std::string_view rest = text.substr(cut);
    // A line cut in its middle counts among those not shown.
    const auto more = 1 + std::count(rest.begin(), rest.end(), '\n') - (rest.ends_with('\n') ? 1 : 0);
    std::string shown(text.substr(0, cut));
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    return shown + "\r\n" +
           ui::fill(more == 1 ? ui::phrase::kMoreLine : ui::phrase::kMoreLines, {std::to_string(more)});
}

MessageBoxRequest fittedForBox(MessageBoxRequest request) {
    std::string shown = boxExcerpt(request.text);
    if (shown == request.text) return request;
    if (!request.details.empty()) request.text += "\r\n\r\n" + request.details;
    request.details = std::move(request.text);
    request.text = std::move(shown);
    return request;
}

std::string failureText(std::string_view fixedText, std::string_view plainLine) {
    if (fixedText.empty()) return std::string(plainLine);
    return std::string(fixedText) + "\r\n" + std::string(plainLine);
}

std::string firstLine(std::string_view text) {
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return {};
    text = text.substr(start);
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string_view::npos) text = text.substr(0, end);
    if (text.size() > kLineBytes) text = text.substr(0, utf8Boundary(text, kLineBytes));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

}  // namespace eft
