#include "server/pages/xml_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "text/text_forms.h"

namespace eft::server::xml {

namespace {

// What each byte becomes: 0 itself, 1 '?' (a control character XML 1.0 cannot carry), 2 an
// entity. Names and descriptions rarely hold any but the first, so runs of them are copied whole.
constexpr std::array<std::uint8_t, 256> kEscapeKind = [] {
    std::array<std::uint8_t, 256> kind{};
    for (int c = 0; c < 0x20; ++c) kind[static_cast<std::size_t>(c)] = c == '\t' || c == '\n' || c == '\r' ? 0 : 1;
    for (const char c : {'&', '<', '>', '"', '\''}) kind[static_cast<unsigned char>(c)] = 2;
    return kind;
}();

char* writeEntity(char* out, char c) {
    switch (c) {
        case '&': return std::copy_n("&amp;", 5, out);
        case '<': return std::copy_n("&lt;", 4, out);
        case '>': return std::copy_n("&gt;", 4, out);
        case '"': return std::copy_n("&quot;", 6, out);
        default: return std::copy_n("&apos;", 6, out);
    }
}

}  // namespace

char* writeEscaped(char* out, std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* run = p;
        while (p < end && kEscapeKind[static_cast<unsigned char>(*p)] == 0) ++p;
        out = std::copy(run, p, out);
        if (p == end) break;
        out = kEscapeKind[static_cast<unsigned char>(*p)] == 1 ? (*out = '?', out + 1) : writeEntity(out, *p);
        ++p;
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
    if (value == 0.0f) {  // no "-0"; and many of a row's amounts are nothing
        *out = '0';
        return out + 1;
    }
    // Most amounts are whole cents, whose text needs no search.
    if (const std::optional<text::Cents> cents = text::exactCents(value)) return text::writeCents(out, *cents);
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

std::string markedMessageDocument(std::string_view root, std::string_view mark, std::string_view text) {
    std::string out(kDeclaration);
    open(out, root);
    appendElement(out, mark, text);
    close(out, root);
    out += '\n';
    return out;
}

}  // namespace eft::server::xml
