#pragma once
// Every text form the control writes or reads back: amounts, money totals, center numbers,
// dates, and the number text of a single. Amounts are single-precision throughout, so each
// form takes a float and works on its exact binary value.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "base/error.h"

namespace eft::text {

// Amounts are shown in cents; from a thousand billion on, single precision no longer holds
// whole cents and the cents no longer fit the forms' arithmetic, so such an amount is never
// shown (nor read from a reply).
inline constexpr double kAmountLimit = 1e15;

// Below 2^17 neighbouring singles lie less than a cent apart, so every cent has a single of its
// own and reads back to itself; from 131,072.00 on, two cents can share one single and the
// screen, the database and the bank file can disagree. Every place that takes an amount in (a
// save, the seed, an import) refuses one at or above this.
inline constexpr float kCentExactLimit = 131072.0f;
// Whether `value` is finite and below kCentExactLimit in magnitude.
bool holdsEveryCent(float value);

// A whole number of cents, the unit in which every total shown to the operator is kept, so
// that a total equals the sum of the amounts it adds to the cent.
using Cents = std::int64_t;
// The cents of an amount as its "0.00" form shows them (an exact half away from zero); throws
// AmountOutOfRange for an amount that cannot be shown.
Cents toCents(float value);
// "0.00" and "##,##0.00" of a whole number of cents; throw AmountOutOfRange past kAmountLimit.
std::string amount(Cents cents);
std::string money(Cents cents);
// The cents themselves when amount() could show them; throws as amount() would otherwise.
Cents showable(Cents cents);
// The cents of a text in the "0.00" form, read back exactly; nothing for any other text.
std::optional<Cents> parseCents(std::string_view text);

// An amount that cannot be shown: not finite, or kAmountLimit or more in magnitude.
class AmountOutOfRange : public EftError {
public:
    using EftError::EftError;
};

// "0.00": two decimals, no thousands separator, "-" for negatives, an exact half away from zero.
// Throws AmountOutOfRange for an amount that cannot be shown.
std::string amount(float value);

// "##,##0.00": as amount(), with a thousands separator; throws as amount() does.
std::string money(float value);

// "0000": at least four digits, leading zeros.
std::string centerNumber(std::int32_t id);

// "mm/dd/yyyy".
std::string dateMDY(const Date& date);

// "mmm dd, yyyy" with English month abbreviations.
std::string dateMonDY(const Date& date);

// Rounds to two decimals, an exact half to the even neighbour, and stores in single precision.
float roundHalfEven2(float value);

// The number text of a single: the shortest decimal text with at most seven significant
// digits that reads back as the same single; no trailing zeros, no point for whole numbers.
std::string singleText(float value);
// The same text appended to `out`.
void appendSingleText(std::string& out, float value);

// The most a single's number text takes: a sign and "0." before 44 zeros and seven digits.
inline constexpr std::size_t kSingleTextMax = 64;
// The same text written at `out`, which has room for kSingleTextMax; returns its end.
char* writeSingleText(char* out, float value);
// The text of roundHalfEven2(value), written as writeSingleText() writes it.
char* writeCentsText(char* out, float value);
// The cents of a single that is a whole number of cents below 100,000.00 in magnitude; singles
// there lie under a cent apart, so those cents are the single's shortest text. Nothing otherwise.
// Inline: the sweep writes a million amounts, and an optional returned from another unit
// comes back through memory.
inline std::optional<Cents> exactCents(float value) {
    if (!(std::fabs(value) < 100000.0f)) return std::nullopt;
    // Any nearest whole number will do, ties included: a single that is whole cents lies
    // within 0.4 of a cent of them. No division: cents times 0.01 in a double is off c/100 by
    // some 2^-52 of it, while c/100 lies at least 2^-31 of it away from any point halfway
    // between two singles (under ten million cents), so both narrow to the same single.
    const double scaled = static_cast<double>(value) * 100.0;
    const auto cents = static_cast<Cents>(scaled + std::copysign(0.5, scaled));
    if (static_cast<float>(static_cast<double>(cents) * 0.01) != value) return std::nullopt;
    return cents;
}
// The plain text of a whole number of cents below ten million in magnitude, as
// writeCentsText() writes it: "12.5", "-0.01", "7". Inline for the sweep's million amounts.
inline char* writeCents(char* out, Cents cents) {
    if (cents < 0) {
        *out++ = '-';
        cents = -cents;
    }
    out = std::to_chars(out, out + 8, cents / 100).ptr;
    const auto fraction = static_cast<int>(cents % 100);
    if (fraction != 0) {
        *out++ = '.';
        *out++ = static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0) *out++ = static_cast<char>('0' + fraction % 10);
    }
    return out;
}

// Plain decimal text of a whole number.
std::string wholeNumber(std::int64_t value);

// An amount as a reply carries it (decimal, with an optional exponent, sign and blanks), read
// into a single that holds its cents exactly; nothing when it is not a number or is one the
// control cannot hold to the cent: not finite, beyond single precision or kAmountLimit, or,
// from kCentExactLimit on, one with cents or one whose single is another amount. Below the
// limit every cent has a single of its own, so a text there is always held. `notHeld`, when
// given, says why a number is refused ("single precision reads it as 1234567.88"); it stays
// empty for a text that is no number at all.
std::optional<float> parseAmount(std::string_view text, std::string* notHeld = nullptr);
// The same for the form nearly every amount of a reply has ("-123.45": sign, digits, point,
// without blanks or exponent, below kCentExactLimit): true and the single in `value`, which
// parseAmount() would give too. False says nothing; parseAmount() then decides. A reader of
// millions of amounts gets its result in a register rather than through an optional.
bool parsePlainAmount(std::string_view text, float& value);

// Reads a decimal number text (optional blanks around it, optional sign, a point as decimal
// separator, optional thousands separators) as a single; nothing when it is not a number.
std::optional<float> parseSingle(std::string_view text);

}  // namespace eft::text
