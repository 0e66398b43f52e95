// The form-field encoder: Windows-1252 codes, the kept characters, and input that is not
// clean UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "net/url_encode.h"

namespace eft {
namespace {

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string escaped(int code) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%%%02X", code);
    return buf;
}

struct Case {
    std::string input;
    std::string encoded;
};

TEST(UrlEncode, KnownInputs) {
    const Case cases[] = {
        {"", ""},
        {"A b", "A+b"},
        {"a&b=c", "a%26b%3Dc"},
        {"50%", "50%25"},
        {"\r\n", "%0D%0A"},
        {"  ", "++"},
        {"MemberID=1001;Trust=False", "MemberID%3D1001%3BTrust%3DFalse"},
        {"0.75", "0.75"},
        {"a/b?c#d", "a%2Fb%3Fc%23d"},
        {"caf\xC3\xA9 au lait", "caf%E9+au+lait"},
        {std::string("a\0b", 3), "a%00b"},
        // Characters outside the code page become question marks.
        {"\xCE\xB1", "%3F"},                        // Greek alpha
        {"\xE4\xB8\xAD", "%3F"},                    // a CJK ideograph
        {"\xF0\x9F\x98\x80", "%3F"},                // an emoji, one character of four bytes
        {"\xC2\x80", "%3F"},                        // U+0080, a C1 control, not the euro sign
        {"\xC2\x81", "%3F"},                        // 0x81 is unassigned in the code page
        {"\xC2\x9D", "%3F"},                        // so is 0x9D
        {"\xC4\x80", "%3F"},                        // A macron
        {"x\xCE\xB1y\xE4\xB8\xADz", "x%3Fy%3Fz"},
        // So do bytes that are not UTF-8.
        {"\xE9", "%3F"},                // a Latin-1 byte, not UTF-8
        {"caf\xE9", "caf%3F"},
        {"\x80", "%3F"},                // a continuation byte alone
        {"\xFF", "%3F"},
        {"\xC3", "%3F"},                // a lead byte at the end
        {"\xC3x", "%3Fx"},              // a lead byte before a plain character
    };
    for (const auto& c : cases) EXPECT_EQ(urlEncode(c.input), c.encoded) << "input \"" << c.input << '"';
}

// Sequences that are wrong as a whole: truncated, overlong, surrogates, beyond U+10FFFF. Each
// gives only question marks, and the text after them is kept.
TEST(UrlEncode, BrokenSequencesBecomeOnlyQuestionMarks) {
    const std::string broken[] = {
        "\xE2\x82",         "\xF0\x9F\x98",     "\xC0\xAF",         "\xC1\xBF",
        "\xE0\x80\xAF",     "\xF0\x80\x80\xAF", "\xED\xA0\x80",     "\xED\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
    };
    for (const auto& b : broken) {
        const std::string out = urlEncode(b + "ok");
        ASSERT_GE(out.size(), 5u) << out;
        EXPECT_EQ(out.substr(out.size() - 2), "ok") << out;
        const std::string marks = out.substr(0, out.size() - 2);
        EXPECT_EQ(marks.size() % 3, 0u) << out;
        for (std::size_t i = 0; i < marks.size(); i += 3) EXPECT_EQ(marks.substr(i, 3), "%3F") << out;
    }
}

// Every code of Windows-1252, given as the Unicode character it stands for.
TEST(UrlEncode, EveryCodeOfTheCodePage) {
    // 0x80..0x9F; 0 marks the five unassigned codes.
    const char32_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                               0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    int kept = 0;
    for (int code = 0; code <= 255; ++code) {
        char32_t c = static_cast<char32_t>(code);
        if (code >= 0x80 && code <= 0x9F) {
            c = high[code - 0x80];
            if (c == 0) continue;
        }
        const bool keep = code == '*' || code == '-' || code == '.' || code == '_' ||
                          (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') ||
                          (code >= 'a' && code <= 'z');
        kept += keep;
        const std::string expected = code == ' ' ? "+" : keep ? std::string(1, static_cast<char>(code)) : escaped(code);
        EXPECT_EQ(urlEncode(utf8(c)), expected) << "code " << code;
    }
    EXPECT_EQ(kept, 66);
}

}  // namespace
}  // namespace eft
