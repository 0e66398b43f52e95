#include "text/text_forms.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace eft::text {
namespace {

// Cents of a single with an exact half away from zero. A float times 100 is exact in a long
// double (24 + 7 bits fit its 64-bit mantissa), so the tie test sees the true binary value.
long long centsHalfAway(float value) {
    if (!(std::fabs(static_cast<double>(value)) < kAmountLimit))
        throw AmountOutOfRange("the amount " + singleText(value) + " is too large to be shown");
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

void appendSingleText(std::string& out, float value) {
    if (value == 0.0f) {
        out += '0';
        return;
    }
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity");
        return;
    }
    // The shortest digits that read back as the same single; past seven significant digits a
    // single promises no more, so those are rounded to seven.
    char buf[48];
    char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific).ptr;
    const bool negative = buf[0] == '-';
    const char* ePos = std::find(buf, end, 'e');
    const long significant = (ePos - buf) - negative - (ePos - buf - negative > 1 ? 1 : 0);
    if (significant > 7) {
        end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 6).ptr;
        ePos = std::find(buf, end, 'e');
    }
    char digits[16];
    int count = 0;
    for (const char* p = buf + negative; p < ePos; ++p)
        if (*p != '.') digits[count++] = *p;
    while (count > 1 && digits[count - 1] == '0') --count;
    int exponent = 0;
    std::from_chars(ePos + 1 + (ePos[1] == '+'), end, exponent);
    // Written as plain decimal: no exponent, no trailing zeros, no point for whole numbers.
    const int pointAt = exponent + 1;  // digits before the decimal point
    if (negative) out += '-';
    if (pointAt <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-pointAt), '0');
        out.append(digits, static_cast<std::size_t>(count));
    } else if (pointAt >= count) {
        out.append(digits, static_cast<std::size_t>(count));
        out.append(static_cast<std::size_t>(pointAt - count), '0');
    } else {
        out.append(digits, static_cast<std::size_t>(pointAt));
        out += '.';
        out.append(digits + pointAt, static_cast<std::size_t>(count - pointAt));
    }
}

std::string singleText(float value) {
    std::string out;
    appendSingleText(out, value);
    return out;
}

std::string wholeNumber(std::int64_t value) { return std::to_string(value); }

std::optional<float> parseAmount(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    if (std::fabs(v) >= 1e14f) {
        // Near the limit the single has rounded: the text itself decides.
        double exact = 0;
        std::from_chars(text.data(), text.data() + text.size(), exact);
        if (!(std::fabs(exact) < kAmountLimit)) return std::nullopt;
    }
    return v;
}

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
