// The amounts the server derives for the control: show amounts, IN/OUT row totals, the batch
// amount of a saved charge, the record the control would send, and the number text of XML.
#include <gtest/gtest.h>

#include <charconv>

#include <limits>
#include <optional>

#include <cstdint>
#include <cstring>

#include "server/pages/save_record.h"
#include "server/pages/xml_text.h"
#include "server/store/row_amounts.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

constexpr Amounts kExampleRow{1.25f, 100, 10, 20, 50, 5, 0.05f, 0.08f, 0};

TEST(ShowAmounts, FollowTheTypeRules) {
    const struct {
        const char* what;
        std::int16_t type;
        Amounts a;
        bool exempt, subscription;
        ShowAmounts want;
    } cases[] = {
        {"type 1", 1, kExampleRow, false, false, {1.25f, 100, 12.5f, 56.25f, 6.25f, 10, 0}},
        {"type 1 exempt", 1, kExampleRow, true, false, {1.25f, 100, 12.5f, 56.25f, 0, 0, 0}},
        {"type 1 subscription", 1, kExampleRow, false, true, {1.25f, 100, 12.5f, 56.25f, 0.05f, 0.08f, 0}},
        {"type 1 exempt wins", 1, kExampleRow, true, true, {1.25f, 100, 12.5f, 56.25f, 0, 0, 0}},
        {"type 2", 2, {1.3f, 100, 10, 20, 50, 5, 0.05f, 0.08f, 200}, false, false, {1.3f, 0, 0, 0, 0, 0, 260}},
        {"type 3", 3, {1.3f, 100, 10, 20, 50, 5, 2, 3, 40}, false, false, {1, 80, 10, 45, 2, 3, 40}},
        {"type 4", 4, kExampleRow, false, false, {1.25f, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const ShowAmounts s = showAmounts(c.type, c.a, c.exempt, c.subscription);
        EXPECT_FLOAT_EQ(s.conversionRate, c.want.conversionRate) << c.what;
        EXPECT_FLOAT_EQ(s.royalty, c.want.royalty) << c.what;
        EXPECT_FLOAT_EQ(s.nac, c.want.nac) << c.what;
        EXPECT_FLOAT_EQ(s.franchiseFee, c.want.franchiseFee) << c.what;
        EXPECT_FLOAT_EQ(s.gst, c.want.gst) << c.what;
        EXPECT_FLOAT_EQ(s.pst, c.want.pst) << c.what;
        EXPECT_FLOAT_EQ(s.nmc, c.want.nmc) << c.what;
    }
}

TEST(RowTotals, InAndOutKeepTheirSignsAndAddUpToTheNet) {
    const struct {
        const char* what;
        std::int16_t type;
        Amounts a;
        float in, out;
    } cases[] = {
        {"type 1 brings in every show amount", 1, kExampleRow, 185, 0},
        {"type 2 pays its converted NMC out", 2, {1.3f, 0, 0, 0, 0, 0, 0, 0, 200}, 0, -260},
        {"type 3 in and out at once", 3, {1.3f, 50, 0, 5, 0, 0, 2.25f, 3.6f, 30}, 50.85f, -30},
        {"a reserve above the royalty goes out", 1, {1, 10, 0, 15, 0, 0, 0, 0, 0}, 0, -5},
        {"a negative NMC payment comes in", 3, {1, 0, 0, 0, 0, 0, 0, 0, -12}, 12, 0},
        {"cents round half to even", 1, {1, 0.125f, 0, 0, 0, 0, 0, 0, 0}, 0.12f, 0},
        {"nothing at all", 1, {1, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0},
    };
    for (const auto& c : cases) {
        const RowTotals t = rowTotals(c.type, c.a, false, false);
        EXPECT_FLOAT_EQ(t.in, c.in) << c.what;
        EXPECT_FLOAT_EQ(t.out, c.out) << c.what;
        EXPECT_GE(t.in, 0) << c.what;
        EXPECT_LE(t.out, 0) << c.what;
    }
}

TEST(RowTotal, IsWhatTheMemberListShowsInCents) {
    // in, out, subscription, the center's OUT sum so far (this row included), the Total.
    const struct {
        const char* what;
        float in, out;
        bool subscription;
        float outSum;
        std::optional<std::int64_t> cents;
    } cases[] = {
        {"net of in and out", 92.5f, -30, false, -30, 6250},
        {"no subscription: the OUT sum does not matter", 10, 0, false, -500, 1000},
        {"subscription in a center that pays out: its own OUT only", 80, -20, true, -20, -2000},
        {"subscription, an earlier row made the center pay out", 80, 0, true, -150, 0},
        {"subscription in a center that does not pay out", 80, -20, true, 0, 6000},
        {"half a cent goes to the even neighbour", 0.125f, 0, false, 0, 12},
        {"from 131,072.00 two cents can share a single", 131072.0f, 0, false, 0, std::nullopt},
        {"paying out as much", 0, -131072.0f, false, -131072.0f, std::nullopt},
        {"nor one that is not a number", std::numeric_limits<float>::infinity(), 0, false, 0, std::nullopt},
        {"the last cent below 131,072.00", 131071.99f, 0, false, 0, 13107199},
        {"a subscription row's own OUT in a center far beyond it", 1e9f, -5, true, -5e8f, -500},
    };
    for (const auto& c : cases) EXPECT_EQ(totalCents({c.in, c.out}, c.subscription, c.outSum), c.cents) << c.what;
}

TEST(ControlRecord, MatchesTheWorkedExampleRecords) {
    // Subscription rows, so that GSTshow and PSTshow are the stored GST and PST amounts.
    const std::string r1 =
        controlRecordText({1001, 12, 1, 1}, 1, {1, 25, 10, 5, 40, 8, 1.75f, 0, 0}, false, true, 0, 7, 2);
    const std::string r2 =
        controlRecordText({1002, 15, 2, 2}, 1, {0.75f, 30, 12, 4, 50, 10, 1.25f, 0.5f, 0}, false, true, 57, 7, 2);
    EXPECT_EQ(r1,
              "MemberID=1001;Status=14;PersonID=7;PersonType=2;ConversionRate=1;CenterID=12;Source=1;Royalty=25;"
              "NAC=10;RoyaltyReserve=5;FranchiseFee=40;FranchiseFeeReserve=8;GSTshow=1.75;PSTShow=0;NMCshow=0;"
              "SweepSequence=1;Trust=False");
    EXPECT_EQ(r2,
              "MemberID=1002;Status=14;PersonID=7;PersonType=2;ConversionRate=0.75;CenterID=15;Source=2;"
              "Royalty=22.5;NAC=9;RoyaltyReserve=3;FranchiseFee=37.5;FranchiseFeeReserve=7.5;GSTshow=1.25;"
              "PSTShow=0.5;NMCshow=0;SweepSequence=2;Trust=True");
}

TEST(ControlRecord, TypeThreeSendsRateOneAndTrustNeedsAPositiveId) {
    const SaveRecord r = controlRecordFor({1, 2, 1, 1}, 3, {1.3f, 50, 0, 5, 0, 0, 2.25f, 3.6f, 0}, false, false, -4, 1, 1);
    EXPECT_EQ(r.conversionRate, 1.0f);
    EXPECT_EQ(r.amounts.royalty, 50.0f);
    EXPECT_EQ(r.amounts.gst, 2.25f);
    EXPECT_FALSE(r.trust);
}

std::string single(float v) {
    std::string out;
    xml::appendSingle(out, v);
    return out;
}

TEST(XmlNumbers, SinglesAreTheShortestTextThatReadsBack) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0, "0"},          {-0.0f, "0"},        {1, "1"},           {0.75f, "0.75"},       {37.5f, "37.5"},
        {12.35f, "12.35"}, {1.3f, "1.3"},       {0.05f, "0.05"},    {-260.5f, "-260.5"},   {1e-7f, "0.0000001"},
        {1200000, "1200000"}, {100000.01f, "100000.01"}, {123456.78f, "123456.78"}, {-131071.99f, "-131071.99"},
        {1234567.89f, "1234567.9"},  // the single is 1,234,567.875
        {3e9f, "3000000000"}, {16777217.0f, "16777216"},
    };
    for (const auto& c : cases) EXPECT_EQ(single(c.value), c.text) << c.text;
}

TEST(XmlNumbers, EveryCentAmountIsTheShortestTextThatReadsBack) {
    // Every cent up to the cent-exact limit, and the products with the usual rates, read back
    // exactly as the shortest such text; where seven digits are enough it is the control's own.
    for (int cents = -13107199; cents <= 13107199; cents += 61) {
        const float v = static_cast<float>(cents) / 100.0f;
        for (const float x : {v, v * 1.3f, v * 0.075f}) {
            const std::string text = single(x);
            float back = 0;
            std::from_chars(text.data(), text.data() + text.size(), back);
            ASSERT_EQ(back, x) << text;
            char shortest[64];
            ASSERT_EQ(text, std::string_view(shortest, std::to_chars(shortest, shortest + sizeof shortest, x,
                                                                     std::chars_format::fixed).ptr))
                << cents;
            const std::string control = text::singleText(x);
            float controlBack = 0;
            std::from_chars(control.data(), control.data() + control.size(), controlBack);
            if (controlBack == x) {
                ASSERT_EQ(text, control) << cents;
            }
        }
    }
}

TEST(XmlText, MarkupIsEscapedAndControlCharactersReplaced) {
    std::string out;
    xml::appendElement(out, "Name", "Boise & Sons <West> \"O'Brien\"\x01\tMontr\u00e9al");
    EXPECT_EQ(out, "<Name>Boise &amp; Sons &lt;West&gt; &quot;O&apos;Brien&quot;?\tMontr\u00e9al</Name>");
}

}  // namespace
}  // namespace eft::server
