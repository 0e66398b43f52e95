#pragma once
// What every bank file field is made of: fixed-width ASCII texts and numbers, the routing
// number's check digit and Julian dates. A value that does not fit its field is
// an error, never silently cut, except a name, which is cut to its width as banks expect.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/calendar.h"

namespace eft::server::bank {

class FieldError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Printable ASCII only: Latin letters lose their accents (ligatures spell out: Æ AE, ß ss,
// Œ OE), control characters and every other character become '?'. Malformed UTF-8 bytes
// count as other characters.
std::string asciiText(std::string_view utf8);

// A name as bank files carry it: ASCII, upper case, blank-padded or cut to `width`.
std::string nameField(std::string_view utf8, std::size_t width);

// A text blank-padded on the right to `width`; longer than `width` is a FieldError naming `what`.
std::string alphaField(std::string_view text, std::size_t width, const char* what);

// A non-negative number zero-padded to `width`; a negative one or one with more digits is a
// FieldError naming `what`.
std::string numberField(std::int64_t value, std::size_t width, const char* what);

// Digits only, between `minDigits` and `maxDigits` long.
bool allDigits(std::string_view text, std::size_t minDigits, std::size_t maxDigits);

// The check digit of the first eight digits of an ABA routing number (weights 3 7 1).
int routingCheckDigit(std::string_view firstEight);

// Nine digits whose last is the check digit of the first eight.
bool validRoutingNumber(std::string_view routing);

// "0YYDDD": the year's last two digits and the day of the year.
std::string julianDate(const Date& day);

// "YYMMDD".
std::string yymmdd(const Date& day);

}  // namespace eft::server::bank
