// The number and date text forms, checked against the exact binary value of each single.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "text/text_forms.h"

namespace eft::text {
namespace {

struct FloatText {
    float value;
    const char* text;
};

// The exact binary values matter here: 0.125 and 0.375 are exact halves, while 0.005f, 2.675f
// and 1.005f lie just below the half and 12.345f, 1.115f and 0.045f just above it.
TEST(TextForms, AmountRoundsHalfAwayFromZero) {
    const FloatText cases[] = {
        {0.0f, "0.00"},     {0.125f, "0.13"},   {-0.125f, "-0.13"},  {0.375f, "0.38"},
        {-1234.5f, "-1234.50"}, {0.005f, "0.00"}, {2.675f, "2.67"},   {1.005f, "1.00"},
        {12.345f, "12.35"}, {1.115f, "1.12"},   {0.045f, "0.05"},    {99.995f, "100.00"},
        {16777216.0f, "16777216.00"}, {0.1f, "0.10"},
    };
    for (const auto& c : cases) EXPECT_EQ(amount(c.value), c.text) << "value " << c.value;
}

TEST(TextForms, MoneyGroupsThousands) {
    const FloatText cases[] = {
        {0.125f, "0.13"},          {999.5f, "999.50"},         {1000.0f, "1,000.00"},
        {-1234.5f, "-1,234.50"},   {123456.75f, "123,456.75"}, {-1234567.5f, "-1,234,567.50"},
        {1.0e9f, "1,000,000,000.00"}, {-999.0f, "-999.00"},
    };
    for (const auto& c : cases) EXPECT_EQ(money(c.value), c.text) << "value " << c.value;
}

// An amount that cannot be shown in cents (not finite, or a thousand billion or more) is
// refused instead of wrapping into a garbage text such as "-92233720368547758.08".
TEST(TextForms, AmountsBeyondTheRangeAreNeverWritten) {
    const float inf = std::numeric_limits<float>::infinity();
    const float refused[] = {1000000054099968.0f, -1000000054099968.0f, 9.3e16f, 1e17f, 3e38f, inf, -inf, std::numeric_limits<float>::quiet_NaN()};
    for (float v : refused) {
        EXPECT_THROW((void)amount(v), AmountOutOfRange) << v;
        EXPECT_THROW((void)money(v), AmountOutOfRange) << v;
    }
    EXPECT_EQ(amount(999999986991104.0f), "999999986991104.00");  // the largest single below 1e15
    EXPECT_EQ(money(-999999986991104.0f), "-999,999,986,991,104.00");
}

// An amount is taken only when its single shows the text's own cents: below 131,072.00 every
// cent has a single, above it only whole amounts that are singles themselves come through.
TEST(TextForms, ParseAmountHoldsTheTextsCentsOrRefuses) {
    const struct {
        const char* text;
        std::optional<float> value;
        const char* why;  // why a number is refused; "" for a text that is no number
    } cases[] = {
        {"49.95", 49.95f, ""},
        {" -3 ", -3.0f, ""},
        {"+4", 4.0f, ""},
        {"1e3", 1000.0f, ""},
        {"0.1", 0.1f, ""},
        {"99999.99", 99999.99f, ""},
        {"131071.99", 131071.99f, ""},
        {"-131071.99", -131071.99f, ""},
        {"0.125", 0.125f, ""},  // below the limit digits past the cent are the single's to round
        {"131072", 131072.0f, ""},
        {"200000.00", 200000.0f, ""},
        {"1.31072e5", 131072.0f, ""},
        {"16777216", 16777216.0f, ""},
        {"562949953421312", 562949953421312.0f, ""},  // 2^49: whole and a single
        {"1234567.89", std::nullopt, "single precision reads it as 1234567.88"},
        {"1e13", std::nullopt, "single precision reads it as 9999999827968.00"},
        {"131072.01", std::nullopt, "single precision reads it as 131072.02"},
        {"16777217", std::nullopt, "single precision reads it as 16777216.00"},
        {"999999999999999", std::nullopt, "single precision reads it as 999999986991104.00"},
        {"-131072.50", std::nullopt, "from 131,072.00 on, single precision does not hold every cent"},
        {"131072.001", std::nullopt, "single precision reads it as 131072.00"},
        {"562949953421312.01", std::nullopt, "single precision reads it as 562949953421312.00"},
        {"1e17", std::nullopt, "it is too large to be shown"},
        {"-1e15", std::nullopt, "single precision reads it as -999999986991104.00"},
        {"1125899906842624", std::nullopt, "it is too large to be shown"},  // 2^50, a single
        {"3.4e39", std::nullopt, "it is beyond single precision"},
        {"-1e39", std::nullopt, "it is beyond single precision"},
        {"inf", std::nullopt, "it is not a finite number"},
        {"nan", std::nullopt, "it is not a finite number"},
        {"1.", 1.0f, ""},
        {".5", 0.5f, ""},
        {"-.5", -0.5f, ""},
        {"00012.50", 12.5f, ""},
        {"0000000012.5", 12.5f, ""},
        {"-", std::nullopt, ""},
        {".", std::nullopt, ""},
        {"1.2.3", std::nullopt, ""},
        {"1,5", std::nullopt, ""},
        {"", std::nullopt, ""},
        {"0x10", std::nullopt, ""},
        {"12 34", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        std::string why = "(untouched)";
        EXPECT_EQ(parseAmount(c.text, &why), c.value) << "text \"" << c.text << "\"";
        if (!c.value) {
            EXPECT_EQ(why, *c.why ? c.why : "(untouched)") << "text \"" << c.text << "\"";
        }
    }
}

// Amounts in the replies' form are read from their digits; the single must be the very one
// the library's reader gives, bit for bit (the sign of a zero included), for every number of
// decimals and around the largest whole number of digits read that way.
TEST(TextForms, AmountsReadFromTheirDigitsAreTheLibrarysSingles) {
    std::vector<std::uint64_t> numbers;
    for (std::uint64_t n = 0; n <= 300000; ++n) numbers.push_back(n);
    for (std::uint64_t n = (1u << 24) - 3000; n <= (1u << 24) + 3000; ++n) numbers.push_back(n);
    for (std::uint64_t n = 1; n < 10000000000; n = n * 7 + 3) numbers.push_back(n);
    int compared = 0;
    for (const std::uint64_t n : numbers) {
        const std::string digits = std::to_string(n);
        for (std::size_t decimals = 0; decimals <= 10; ++decimals) {
            std::string text = digits;
            if (decimals > 0) text.insert(0, decimals + 1 > text.size() ? decimals + 1 - text.size() : 0, '0');
            if (decimals > 0) text.insert(text.size() - decimals, ".");
            for (const std::string& signed_ : {text, "-" + text}) {
                float expected = 0;
                std::from_chars(signed_.data(), signed_.data() + signed_.size(), expected);
                if (!holdsEveryCent(expected)) continue;
                const std::optional<float> got = parseAmount(signed_);
                ASSERT_TRUE(got) << signed_;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(*got), std::bit_cast<std::uint32_t>(expected)) << signed_;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 5000000);
}

TEST(TextForms, CenterNumberPadsToFourDigits) {
    const struct {
        std::int32_t id;
        const char* text;
    } cases[] = {
        {0, "0000"},      {7, "0007"},       {12, "0012"},         {123, "0123"},
        {1234, "1234"},   {12345, "12345"},  {2147483647, "2147483647"}, {-7, "-0007"},
    };
    for (const auto& c : cases) EXPECT_EQ(centerNumber(c.id), c.text) << "id " << c.id;
}

TEST(TextForms, Dates) {
    const struct {
        Date date;
        const char* mdy;
        const char* monDY;
    } cases[] = {
        {{2011, 3, 4}, "03/04/2011", "Mar 04, 2011"},  {{2009, 3, 5}, "03/05/2009", "Mar 05, 2009"},
        {{1999, 12, 31}, "12/31/1999", "Dec 31, 1999"}, {{2000, 1, 1}, "01/01/2000", "Jan 01, 2000"},
        {{2012, 2, 29}, "02/29/2012", "Feb 29, 2012"}, {{2020, 4, 10}, "04/10/2020", "Apr 10, 2020"},
        {{2020, 5, 20}, "05/20/2020", "May 20, 2020"}, {{2020, 6, 1}, "06/01/2020", "Jun 01, 2020"},
        {{2020, 7, 1}, "07/01/2020", "Jul 01, 2020"},  {{2020, 8, 1}, "08/01/2020", "Aug 01, 2020"},
        {{2020, 9, 1}, "09/01/2020", "Sep 01, 2020"},  {{2020, 10, 1}, "10/01/2020", "Oct 01, 2020"},
        {{2020, 11, 30}, "11/30/2020", "Nov 30, 2020"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dateMDY(c.date), c.mdy);
        EXPECT_EQ(dateMonDY(c.date), c.monDY);
    }
}

TEST(TextForms, RoundHalfEven2) {
    const struct {
        float value;
        float rounded;
    } cases[] = {
        {0.125f, 0.12f},   {0.375f, 0.38f},    {-0.125f, -0.12f},  {-0.375f, -0.38f},
        {0.625f, 0.62f},   {12.345f, 12.35f},  {2.675f, 2.67f},    {1.005f, 1.0f},
        {0.004f, 0.0f},    {1234.5678f, 1234.57f},
    };
    for (const auto& c : cases) EXPECT_EQ(roundHalfEven2(c.value), c.rounded) << "value " << c.value;
}

// Every single nearest to a two-decimal number stays that number: rounding must not move it
// to a neighbouring float (double rounding) nor to a neighbouring cent.
TEST(TextForms, RoundHalfEven2KeepsTwoDecimalNumbers) {
    char buf[32];
    int wrong = 0;
    for (long cents = -2000000; cents <= 2000000 && wrong < 5; cents += 3) {
        std::snprintf(buf, sizeof buf, "%ld.%02ld", cents / 100, std::labs(cents % 100));
        if (cents < 0 && cents > -100) std::snprintf(buf, sizeof buf, "-0.%02ld", -cents);
        const float f = std::strtof(buf, nullptr);
        if (roundHalfEven2(f) != f) {
            ADD_FAILURE() << buf << " became " << roundHalfEven2(f);
            ++wrong;
        }
    }
}

TEST(TextForms, SingleText) {
    const FloatText cases[] = {
        {0.0f, "0"},          {-0.0f, "0"},             {1e-3f, "0.001"},    {1e-7f, "0.0000001"},
        {123456.78f, "123456.8"}, {-123456.78f, "-123456.8"}, {12345678.0f, "12345680"},
        {16777216.0f, "16777220"}, {1.0e9f, "1000000000"}, {3.1415927f, "3.141593"},
    };
    for (const auto& c : cases) EXPECT_EQ(singleText(c.value), c.text) << "value " << c.value;
}

// The number text of any single that is the nearest one to a decimal of at most seven
// significant digits is that decimal, written without trailing zeros.
TEST(TextForms, SingleTextIsTheShortDecimal) {
    char buf[32];
    int wrong = 0;
    for (long cents = -9999999; cents <= 9999999 && wrong < 5; cents += 211) {
        const long whole = std::labs(cents) / 100;
        const long frac = std::labs(cents) % 100;
        std::string expected = (cents < 0 ? "-" : "") + std::to_string(whole);
        if (frac != 0) {
            std::snprintf(buf, sizeof buf, ".%02ld", frac);
            expected += buf;
            if (expected.back() == '0') expected.pop_back();
        }
        const float f = std::strtof(expected.c_str(), nullptr);
        if (singleText(f) != expected) {
            ADD_FAILURE() << expected << " was written " << singleText(f);
            ++wrong;
        }
    }
}

std::string centsText(float value) {
    char buf[kSingleTextMax];
    return std::string(buf, writeCentsText(buf, value));
}

// The cents text takes a short way under ten million cents: it must still be the single text of
// the rounded value, at exact halves, on both sides of a cent and across the short way's edge.
TEST(TextForms, CentsTextIsTheSingleTextOfTheRoundedValue) {
    const float inf = std::numeric_limits<float>::infinity();
    const float edges[] = {0.0f,      -0.0f,      0.125f,     -0.125f,    0.375f,    2.675f,  12.345f,
                           0.004f,    -0.004f,    -0.005f,    99999.99f,  99999.995f, 100000.0f, -99999.99f,
                           -99999.996f, 123456.78f, 1e14f,    -3.4e38f,   1e-45f,     inf,      -inf,
                           std::numeric_limits<float>::quiet_NaN()};
    for (float v : edges) EXPECT_EQ(centsText(v), singleText(roundHalfEven2(v))) << "value " << v;
    int wrong = 0;
    for (long cents = -10000100; cents <= 10000100 && wrong < 5; cents += 7) {
        const float near = static_cast<float>(cents) / 100.0f;
        for (float v : {std::nextafter(near, -inf), near, std::nextafter(near, inf), near + 0.005f}) {
            if (centsText(v) == singleText(roundHalfEven2(v))) continue;
            ADD_FAILURE() << "value " << v << " was written " << centsText(v);
            ++wrong;
        }
    }
}

TEST(TextForms, WholeNumber) {
    EXPECT_EQ(wholeNumber(0), "0");
    EXPECT_EQ(wholeNumber(-1002), "-1002");
    EXPECT_EQ(wholeNumber(2147483647), "2147483647");
    EXPECT_EQ(wholeNumber(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST(TextForms, ParseSingle) {
    const struct {
        const char* text;
        std::optional<float> value;
    } cases[] = {
        {"0.00", 0.0f},       {"1.5", 1.5f},        {" 2.25 ", 2.25f},   {"-3", -3.0f},
        {"+4", 4.0f},         {"1234.50", 1234.5f}, {"1,234.50", 1234.5f}, {"-1,234,567.50", -1234567.5f},
        {"12.35", 12.35f},    {"0.13", 0.13f},      {"", std::nullopt},  {"   ", std::nullopt},
        {"abc", std::nullopt}, {"1.2.3", std::nullopt}, {"-", std::nullopt}, {"12a", std::nullopt},
        {"1 2", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseSingle(c.text), c.value) << "text \"" << c.text << "\"";
}

// Totals are kept in cents: the cents of an amount are what its "0.00" form shows, and that
// form reads back to the same cents, at any size the forms show.
TEST(TextForms, CentsAreWhatTheAmountShows) {
    const float values[] = {0.0f, 0.125f, -0.125f, 0.375f, 15.5f, 0.01f, -98765.43f, 131071.99f, 1234567.5f, 999999986991104.0f};
    for (float v : values) {
        const Cents c = toCents(v);
        EXPECT_EQ(amount(c), amount(v)) << v;
        EXPECT_EQ(money(c), money(v)) << v;
        EXPECT_EQ(parseCents(amount(v)), c) << amount(v);
    }
    EXPECT_THROW((void)money(Cents{100'000'000'000'000'000}), AmountOutOfRange);
    for (const char* bad : {"", "1", "1.5", "1.555", ".50", "-", "1,000.00", " 1.00", "1.0x", "--1.00", "1234567890123456.00"})
        EXPECT_FALSE(parseCents(bad).has_value()) << '"' << bad << '"';
}

TEST(TextForms, EveryCentHoldsBelowTwoToTheSeventeen) {
    EXPECT_TRUE(holdsEveryCent(131071.99f));
    EXPECT_TRUE(holdsEveryCent(-131071.99f));
    EXPECT_FALSE(holdsEveryCent(131072.0f));
    EXPECT_FALSE(holdsEveryCent(std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(holdsEveryCent(std::numeric_limits<float>::quiet_NaN()));
    // Below the limit every cent keeps a single of its own; at it, neighbouring cents merge.
    for (int cents = 13'107'000; cents < 13'107'200; ++cents)
        EXPECT_EQ(toCents(static_cast<float>(cents / 100.0)), cents) << cents;
    EXPECT_NE(toCents(static_cast<float>(131072.01)), 13'107'201);
}

}  // namespace
}  // namespace eft::text
