// urlEncode and the number and date text forms. The input is taken three ways: as text to
// encode and to read as a number, and (its first bytes) as the bits of a single and the parts
// of a date. Each form's result is checked against what it promises, not just survived.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_entry.h"
#include "net/url_encode.h"
#include "text/text_forms.h"

using eft::fuzz::require;

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Only letters, digits, "*-._", '+' for a blank and %XX escapes; at most three bytes a byte.
void checkEncoded(std::string_view in, const std::string& out) {
    require(out.size() <= in.size() * 3);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (c == '%') {
            require(i + 2 < out.size() && isHex(out[i + 1]) && isHex(out[i + 2]));
            i += 2;
        } else {
            require(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("*-._+", c));
        }
    }
}

void checkNumberForms(float v) {
    // An amount that cannot be shown is refused, never printed; anything else is shown.
    const bool showable = std::isfinite(v) && std::fabs(static_cast<double>(v)) < eft::text::kAmountLimit;
    std::string a, m;
    try {
        a = eft::text::amount(v);
        m = eft::text::money(v);
        require(showable);
    } catch (const eft::text::AmountOutOfRange&) {
        require(!showable);
        return;
    }
    std::string unseparated;
    for (char c : m)
        if (c != ',') unseparated += c;
    require(unseparated == a);  // the two forms differ only in the separator
    // The save record's cents text, short way or not, is the single text of the rounded value.
    char cents[eft::text::kSingleTextMax];
    require(std::string(cents, eft::text::writeCentsText(cents, v)) ==
            eft::text::singleText(eft::text::roundHalfEven2(v)));
    const std::string s = eft::text::singleText(v);
    if (std::isfinite(v)) {
        // The shortest text that reads back as the same single, or, when seven significant
        // digits are not enough for that, the value rounded to seven of them.
        const double back = std::strtod(s.c_str(), nullptr);
        require(std::strtof(s.c_str(), nullptr) == v || std::fabs(back - v) <= std::fabs(static_cast<double>(v)) * 5e-7);
        if (std::fabs(v) < 1e15f) {
            // Whole cents of the exact binary value (a float times 100 is exact in a long
            // double): off by at most half a cent, and an exact half away from zero.
            std::string digits;
            for (char c : a)
                if (c != '.') digits += c;
            const auto cents = static_cast<long double>(std::strtoll(digits.c_str(), nullptr, 10));
            const long double exact = static_cast<long double>(v) * 100.0L;
            const long double off = std::fabs(cents - exact);
            require(off < 0.5L || (off == 0.5L && std::fabs(cents) > std::fabs(exact)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = eft::fuzz::asText(data, size);
    checkEncoded(text, eft::urlEncode(text));

    if (const auto parsed = eft::text::parseSingle(text)) checkNumberForms(*parsed);
    if (size >= 4) {
        float bits;
        std::memcpy(&bits, data, sizeof bits);
        checkNumberForms(bits);
        std::int32_t whole;
        std::memcpy(&whole, data, sizeof whole);
        const std::string center = eft::text::centerNumber(whole);
        require(std::strtoll(center.c_str(), nullptr, 10) == whole);
    }
    if (size >= 3) {
        const eft::Date d{1 + data[0] * 39 % 9999, 1 + data[1] % 12, 1 + data[2] % 31};
        require(eft::text::dateMDY(d).size() == 10);
        (void)eft::text::dateMonDY(d);
    }
    return 0;
}
