#include "text/text_forms.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace eft::text {
namespace {

// Cents of a single with an exact half away from zero. A float times 100 is exact in a long
// double (24 + 7 bits fit its 64-bit mantissa), so the tie test sees the true binary value.
long long centsHalfAway(float value) {
    return std::llroundl(static_cast<long double>(value) * 100.0L);
}

std::string centsText(long long cents, bool thousands) {
    const bool negative = cents < 0;
    const unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(cents)
                                                  : static_cast<unsigned long long>(cents);
    const std::string digits = std::to_string(magnitude / 100);
    std::string whole;
    whole.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (thousands && i > 0 && (digits.size() - i) % 3 == 0) whole += ',';
        whole += digits[i];
    }
    const unsigned frac = static_cast<unsigned>(magnitude % 100);
    std::string out;
    out.reserve(whole.size() + 4);
    if (negative) out += '-';
    out += whole;
    out += '.';
    out += static_cast<char>('0' + frac / 10);
    out += static_cast<char>('0' + frac % 10);
    return out;
}

std::string twoDigits(int v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

}  // namespace

std::string amount(float value) { return centsText(centsHalfAway(value), false); }

std::string money(float value) { return centsText(centsHalfAway(value), true); }

std::string centerNumber(std::int32_t id) {
    // The sign goes before the four-digit padding, as the "0000" format writes it.
    char buf[16];
    const long long v = id;
    std::snprintf(buf, sizeof buf, "%s%04lld", v < 0 ? "-" : "", v < 0 ? -v : v);
    return buf;
}

std::string dateMDY(const Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.month, d.day, d.year);
    return buf;
}

std::string dateMonDY(const Date& d) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* mon = d.month >= 1 && d.month <= 12 ? kMonths[d.month - 1] : "???";
    return std::string(mon) + " " + twoDigits(d.day) + ", " + std::to_string(d.year);
}

float roundHalfEven2(float value) {
    const long double scaled = static_cast<long double>(value) * 100.0L;  // exact, see above
    long double whole = std::floor(scaled);
    const long double diff = scaled - whole;
    if (diff > 0.5L || (diff == 0.5L && std::fmod(whole, 2.0L) != 0.0L)) whole += 1.0L;
    return static_cast<float>(whole / 100.0L);
}

std::string singleText(float value) {
    if (value == 0.0f) return "0";
    if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity");
    char buf[64];
    int precision = 1;
    for (; precision < 7; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*e", precision - 1, static_cast<double>(value));
        if (std::strtof(buf, nullptr) == value) break;
    }
    // Write the chosen significant digits as plain decimal: no exponent, no trailing zeros.
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, static_cast<double>(value));
    std::string_view s(buf);
    const bool negative = s.front() == '-';
    if (negative) s.remove_prefix(1);
    const std::size_t ePos = s.find('e');
    std::string digits;
    for (char c : s.substr(0, ePos))
        if (c != '.') digits += c;
    int exponent = 0;
    std::from_chars(s.data() + ePos + 1 + (s[ePos + 1] == '+'), s.data() + s.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    const int pointAt = exponent + 1;  // digits before the decimal point
    std::string out = negative ? "-" : "";
    if (pointAt <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-pointAt), '0');
        out += digits;
    } else if (static_cast<std::size_t>(pointAt) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(pointAt) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(pointAt));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(pointAt));
    }
    return out;
}

std::string wholeNumber(std::int64_t value) { return std::to_string(value); }

std::optional<float> parseSingle(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    std::string cleaned;
    cleaned.reserve(text.size());
    for (char c : text)
        if (c != ',') cleaned += c;
    if (cleaned.empty()) return std::nullopt;
    const char* first = cleaned.data();
    if (*first == '+') ++first;
    float v = 0;
    auto [ptr, ec] = std::from_chars(first, cleaned.data() + cleaned.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != cleaned.data() + cleaned.size()) return std::nullopt;
    return v;
}

}  // namespace eft::text
