#include "xml_text.h"

#include <charconv>
#include <algorithm>
#include <cmath>

#include "text/text_forms.h"

namespace eft::server::xml {

char* writeEscaped(char* out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '&': out = std::copy_n("&amp;", 5, out); break;
            case '<': out = std::copy_n("&lt;", 4, out); break;
            case '>': out = std::copy_n("&gt;", 4, out); break;
            case '"': out = std::copy_n("&quot;", 6, out); break;
            case '\'': out = std::copy_n("&apos;", 6, out); break;
            default:
                *out++ = static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r' ? '?' : c;
        }
    }
    return out;
}

void appendEscaped(std::string& out, std::string_view text) {
    char buf[256];
    while (!text.empty()) {
        const std::string_view part = text.substr(0, sizeof buf / 6);
        out.append(buf, writeEscaped(buf, part));
        text.remove_prefix(part.size());
    }
}

char* writeSingle(char* out, float value) {
    // The shortest text that reads back as the same single, however many digits that takes:
    // seven significant digits would show 100,000.01 as 100000 while the database and the bank
    // file carry 100,000.01.
    if (value == 0.0f) value = 0.0f;  // no "-0"
    if (std::isfinite(value)) {
        const auto [end, ec] = std::to_chars(out, out + kMaxSingleChars, value, std::chars_format::fixed);
        if (ec == std::errc()) return end;
    }
    const std::string slow = text::singleText(value);
    return std::copy_n(slow.data(), std::min(slow.size(), kMaxSingleChars), out);
}

char* writeInteger(char* out, std::int64_t value) { return std::to_chars(out, out + 24, value).ptr; }

void appendSingle(std::string& out, float value) {
    char buf[kMaxSingleChars];
    out.append(buf, writeSingle(buf, value));
}

void appendInteger(std::string& out, std::int64_t value) {
    char buf[24];
    out.append(buf, writeInteger(buf, value));
}

namespace {

void open(std::string& out, std::string_view name) {
    out += '<';
    out += name;
    out += '>';
}

void close(std::string& out, std::string_view name) {
    out += "</";
    out += name;
    out += '>';
}

}  // namespace

void appendElement(std::string& out, std::string_view name, std::string_view text) {
    open(out, name);
    appendEscaped(out, text);
    close(out, name);
}

void appendElement(std::string& out, std::string_view name, std::int64_t value) {
    open(out, name);
    appendInteger(out, value);
    close(out, name);
}

void appendSingleElement(std::string& out, std::string_view name, float value) {
    open(out, name);
    appendSingle(out, value);
    close(out, name);
}

void appendBoolElement(std::string& out, std::string_view name, bool value) {
    open(out, name);
    out += value ? "true" : "false";
    close(out, name);
}

std::string messageDocument(std::string_view root, std::string_view text) {
    std::string out(kDeclaration);
    appendElement(out, root, text);
    out += '\n';
    return out;
}

}  // namespace eft::server::xml
