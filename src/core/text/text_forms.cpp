#include "text/text_forms.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/phrases.h"

namespace eft::text {
namespace {

// Cents of a single with an exact half away from zero. A float times 100 is exact in a double
// (24 + 7 bits fit its 53-bit mantissa), so the tie test sees the true binary value; a long
// double would give the same at several times the cost, three times a row of every load.
long long centsHalfAway(float value) {
    if (!(std::fabs(static_cast<double>(value)) < kAmountLimit))
        throw AmountOutOfRange(ui::fill(ui::phrase::kAmountTooLarge, {singleText(value)}));
    return std::llround(static_cast<double>(value) * 100.0);
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

bool holdsEveryCent(float value) { return std::isfinite(value) && std::fabs(value) < kCentExactLimit; }

Cents toCents(float value) { return centsHalfAway(value); }

Cents showable(Cents cents) {
    if (!(std::fabs(static_cast<double>(cents)) < kAmountLimit * 100.0))
        throw AmountOutOfRange(ui::fill(ui::phrase::kTotalTooLarge, {std::to_string(cents)}));
    return cents;
}

std::string amount(Cents cents) { return centsText(showable(cents), false); }

std::string money(Cents cents) { return centsText(showable(cents), true); }

std::optional<Cents> parseCents(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    const std::size_t point = text.find('.');
    // Up to 15 whole digits: every amount the forms write stays below kAmountLimit.
    if (point == 0 || point == std::string_view::npos || point > 15 || text.size() != point + 3) return std::nullopt;
    Cents cents = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == point) continue;
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        cents = cents * 10 + (text[i] - '0');
    }
    return negative ? -cents : cents;
}

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

namespace {

// The value times 100, rounded to a whole number with an exact half to the even neighbour. A
// float times 100 is exact in a double (24 + 7 bits fit its 53-bit mantissa), so the tie test
// sees the true binary value.
double wholeCents(float value) {
    const double scaled = static_cast<double>(value) * 100.0;
    double whole = std::floor(scaled);
    const double diff = scaled - whole;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    return whole;
}

char* copy(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

}  // namespace

// Dividing in double and then narrowing cannot round twice: cents over 100 never lie close
// enough to a point halfway between two singles to be pushed onto it.
float roundHalfEven2(float value) { return static_cast<float>(wholeCents(value) / 100.0); }

char* writeSingleText(char* out, float value) {
    if (value == 0.0f) {
        *out++ = '0';
        return out;
    }
    if (!std::isfinite(value)) return copy(out, std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity"));
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
    const std::string_view all(digits, static_cast<std::size_t>(count));
    if (negative) *out++ = '-';
    if (pointAt <= 0) {
        out = copy(out, "0.");
        out = std::fill_n(out, -pointAt, '0');
        return copy(out, all);
    }
    if (pointAt >= count) return std::fill_n(copy(out, all), pointAt - count, '0');
    out = copy(out, all.substr(0, static_cast<std::size_t>(pointAt)));
    *out++ = '.';
    return copy(out, all.substr(static_cast<std::size_t>(pointAt)));
}

char* writeCentsText(char* out, float value) {
    const double cents = wholeCents(value);
    // Under ten million cents, the only decimal of two places or fewer that reads back as the
    // rounded single is the cents themselves (singles there lie under a cent apart), and it has
    // at most seven digits: the single's text is the cents written out, with no search for it.
    if (!(std::fabs(cents) < 1e7)) return writeSingleText(out, static_cast<float>(cents / 100.0));
    return writeCents(out, static_cast<Cents>(cents));
}

void appendSingleText(std::string& out, float value) {
    char buf[kSingleTextMax];
    out.append(buf, static_cast<std::size_t>(writeSingleText(buf, value) - buf));
}

std::string singleText(float value) {
    std::string out;
    appendSingleText(out, value);
    return out;
}

std::string wholeNumber(std::int64_t value) { return std::to_string(value); }

namespace {

// The exact value of a decimal text (digits, an optional point and exponent, an optional "-")
// in cents: nothing when it has a digit below the cent other than 0, or more than 18 digits.
// Decimal digits, not a double, decide it: a double near a thousand billion is a sixteenth of a
// cent coarse, and would pass a stray cent for whole.
std::optional<Cents> decimalCents(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    std::string digits;
    long fractionDigits = 0;
    bool point = false;
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c >= '0' && c <= '9') {
            digits += c;
            fractionDigits += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    long exponent = 0;
    if (at < text.size()) {
        if (text[at] != 'e' && text[at] != 'E') return std::nullopt;
        std::string_view e = text.substr(at + 1);
        if (e.starts_with('+')) e.remove_prefix(1);
        const auto [end, ec] = std::from_chars(e.data(), e.data() + e.size(), exponent);
        if (ec != std::errc() || end != e.data() + e.size() || exponent > 100 || exponent < -100) return std::nullopt;
    }
    // The digits times ten to `shift` are the cents.
    long shift = exponent + 2 - fractionDigits;
    while (shift < 0 && !digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++shift;
    }
    const std::size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) return Cents{0};
    if (shift < 0) return std::nullopt;
    digits.erase(0, lead);
    if (digits.size() + static_cast<std::size_t>(shift) > 18) return std::nullopt;
    Cents cents = 0;
    for (char c : digits) cents = cents * 10 + (c - '0');
    for (long i = 0; i < shift; ++i) cents *= 10;
    return negative ? -cents : cents;
}

}  // namespace

namespace {

// "123.45" read straight from its digits, the form of every amount in a reply. With at most
// 2^24 as the digits' whole number and at most ten decimals both operands are exact singles,
// and one division rounds as correctly as the library's reader; anything else is left to it.
std::optional<float> plainDecimal(std::string_view text) {
    static constexpr float kTens[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t digits = 0;
    std::size_t point = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
        } else if (c == '.' && point == text.size() && i != 0 && i + 1 != text.size()) {
            point = i;
        } else {
            return std::nullopt;
        }
    }
    if (digits > (std::uint64_t{1} << 24)) return std::nullopt;
    const std::size_t decimals = point == text.size() ? 0 : text.size() - point - 1;
    const float v = static_cast<float>(digits) / kTens[decimals];
    return negative ? -v : v;
}

}  // namespace

bool parsePlainAmount(std::string_view text, float& value) {
    const std::optional<float> plain = plainDecimal(text);
    if (!plain || !holdsEveryCent(*plain)) return false;
    value = *plain;
    return true;
}

std::optional<float> parseAmount(std::string_view text, std::string* notHeld) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    auto refuse = [notHeld](std::string why) -> std::optional<float> {
        if (notHeld) *notHeld = std::move(why);
        return std::nullopt;
    };
    float v = 0;
    if (const std::optional<float> plain = plainDecimal(text)) {
        v = *plain;
    } else {
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (text.empty() || end != text.data() + text.size()) return std::nullopt;
        if (ec == std::errc::result_out_of_range) return refuse(std::string(ui::phrase::kBeyondSingle));
        if (ec != std::errc()) return std::nullopt;
    }
    if (!std::isfinite(v)) return refuse(std::string(ui::phrase::kNotFinite));
    if (holdsEveryCent(v)) return v;
    if (!(std::fabs(v) < kAmountLimit)) return refuse(std::string(ui::phrase::kTooLargeToShow));
    // From here on singles lie a cent or more apart: only a whole amount that is itself a
    // single comes through unchanged.
    const std::optional<Cents> cents = decimalCents(text);
    if (cents && *cents % 100 == 0 && static_cast<double>(v) * 100.0 == static_cast<double>(*cents)) return v;
    if (!cents || toCents(v) != *cents) return refuse(ui::fill(ui::phrase::kSingleReadsAs, {amount(v)}));
    return refuse(ui::fill(ui::phrase::kCentsNotHeldFrom, {money(kCentExactLimit)}));
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
