#include "server/bank/bank_text.h"

#include <string_view>

namespace eft::server::bank {
namespace {

// U+00C0..U+00FF without their accents; "" where no letter fits ('?').
constexpr std::string_view kLatin1[64] = {
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",   // C0
    "D", "N", "O", "O", "O", "O", "O",  "",  "O", "U", "U", "U", "U", "Y", "TH", "ss",  // D0
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // E0
    "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y",  // F0
};

// U+0100..U+017F, Latin Extended-A: two entries per base letter mostly, upper then lower.
constexpr std::string_view kExtendedA =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi"  // 0100..0131
    "JjJjKkkLlLlLlLlLlNnNnNnnNnOoOoOo"                    // 0132..0151 (0132/0133 IJ ij below)
    "OoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";     // 0152..017F

std::string_view extendedA(char32_t cp) {
    if (cp == 0x132) return "IJ";
    if (cp == 0x133) return "ij";
    if (cp == 0x152) return "OE";
    if (cp == 0x153) return "oe";
    const std::size_t i = cp - 0x100;
    return i < kExtendedA.size() ? kExtendedA.substr(i, 1) : std::string_view{};
}

// Decodes one UTF-8 sequence at s[i]; advances i; U+FFFD for a malformed one.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t length = b < 0x80 ? 1 : b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (length == 0) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = length == 1 ? b : b & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
            i += k;
            return 0xFFFD;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    }
    i += length;
    return cp;
}

}  // namespace

std::string asciiText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const char32_t cp = nextCodePoint(s, i);
        std::string_view mapped;
        if (cp >= 0x20 && cp < 0x7F) {
            out += static_cast<char>(cp);
            continue;
        }
        if (cp >= 0xC0 && cp <= 0xFF) mapped = kLatin1[cp - 0xC0];
        else if (cp >= 0x100 && cp <= 0x17F) mapped = extendedA(cp);
        if (mapped.empty()) out += '?';
        else out += mapped;
    }
    return out;
}

std::string nameField(std::string_view utf8, std::size_t width) {
    std::string text = asciiText(utf8);
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    text.resize(width, ' ');
    return text;
}

std::string alphaField(std::string_view text, std::size_t width, const char* what) {
    if (text.size() > width)
        throw FieldError(std::string(what) + " \"" + std::string(text) + "\" is longer than " + std::to_string(width) +
                         " characters");
    std::string out(text);
    out.resize(width, ' ');
    return out;
}

std::string numberField(std::int64_t value, std::size_t width, const char* what) {
    const std::string digits = std::to_string(value);
    if (value < 0 || digits.size() > width)
        throw FieldError(std::string(what) + " " + digits + " does not fit in " + std::to_string(width) + " digits");
    return std::string(width - digits.size(), '0') + digits;
}

bool allDigits(std::string_view text, std::size_t minDigits, std::size_t maxDigits) {
    if (text.size() < minDigits || text.size() > maxDigits) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int routingCheckDigit(std::string_view firstEight) {
    static constexpr int kWeights[8] = {3, 7, 1, 3, 7, 1, 3, 7};
    int sum = 0;
    for (std::size_t k = 0; k < 8 && k < firstEight.size(); ++k) sum += (firstEight[k] - '0') * kWeights[k];
    return (10 - sum % 10) % 10;
}

bool validRoutingNumber(std::string_view routing) {
    return allDigits(routing, 9, 9) && routingCheckDigit(routing.substr(0, 8)) == routing[8] - '0';
}

std::string julianDate(const Date& day) {
    const std::int64_t start = Timestamp::from(Date{day.year, 1, 1}).seconds;
    const std::int64_t dayOfYear = (Timestamp::from(day).seconds - start) / 86400 + 1;
    return "0" + numberField(day.year % 100, 2, "year") + numberField(dayOfYear, 3, "day of year");
}

std::string yymmdd(const Date& day) {
    return numberField(day.year % 100, 2, "year") + numberField(day.month, 2, "month") + numberField(day.day, 2, "day");
}

}  // namespace eft::server::bank
