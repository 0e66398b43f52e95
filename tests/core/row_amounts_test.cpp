// The row amount rules by Type, single precision and the propagation of missing values.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>

#include "sweep/row_amounts.h"
#include "tables/field_lists.h"

namespace eft {
namespace {

RowInputs example() {
    RowInputs in;
    in.ConversionRate = 1.25f;
    in.Royalty = 100;
    in.RoyaltyReserve = 20;
    in.NAC = 10;
    in.FranchiseFee = 50;
    in.FranchiseFeeReserve = 5;
    in.GST = 0.05f;
    in.PST = 0.08f;
    in.NMCPayment = 7;
    return in;
}

struct Case {
    const char* name;
    std::optional<int> type;
    std::function<void(RowInputs&)> change;
    // Expected: rate, royalty, NAC, franchise fee, GST, PST, NMC; NAN stands for no value.
    std::array<float, 7> expected;
};

class RowAmountsTest : public ::testing::TestWithParam<Case> {};

TEST_P(RowAmountsTest, DerivesTheShownAmounts) {
    const Case& c = GetParam();
    RowInputs in = example();
    if (c.change) c.change(in);
    const auto out = rowAmounts(c.type, in);
    ASSERT_TRUE(out.has_value());
    const Amount got[] = {out->ConversionRate, out->RoyShow, out->NACShow, out->FranShow,
                          out->GSTshow,        out->PSTshow, out->NMCshow};
    for (std::size_t i = 0; i < 7; ++i) {
        if (std::isnan(c.expected[i])) {
            EXPECT_FALSE(got[i].has_value()) << "amount " << i;
        } else {
            ASSERT_TRUE(got[i].has_value()) << "amount " << i;
            EXPECT_FLOAT_EQ(*got[i], c.expected[i]) << "amount " << i;
        }
    }
}

constexpr float kNone = NAN;

INSTANTIATE_TEST_SUITE_P(
    Rules, RowAmountsTest,
    ::testing::Values(
        Case{"type1", 1, nullptr, {1.25f, 100, 12.5f, 56.25f, 6.25f, 10, 0}},
        Case{"type1Exempt", 1, [](RowInputs& r) { r.SalesTaxExempt = true; }, {1.25f, 100, 12.5f, 56.25f, 0, 0, 0}},
        Case{"type1Subscription", 1, [](RowInputs& r) { r.SubscriptionMembership = true; },
             {1.25f, 100, 12.5f, 56.25f, 0.05f, 0.08f, 0}},
        Case{"type1ExemptWinsOverSubscription", 1,
             [](RowInputs& r) { r.SalesTaxExempt = r.SubscriptionMembership = true; },
             {1.25f, 100, 12.5f, 56.25f, 0, 0, 0}},
        Case{"type1NoReserve", 1, [](RowInputs& r) { r.RoyaltyReserve.reset(); },
             {1.25f, kNone, 12.5f, 56.25f, 6.25f, 10, 0}},
        Case{"type1NoRoyalty", 1, [](RowInputs& r) { r.Royalty.reset(); },
             {1.25f, kNone, 12.5f, 56.25f, kNone, kNone, 0}},
        Case{"type1NoRoyaltyExempt", 1, [](RowInputs& r) { r.Royalty.reset(); r.SalesTaxExempt = true; },
             {1.25f, kNone, 12.5f, 56.25f, 0, 0, 0}},
        Case{"type1NoRate", 1, [](RowInputs& r) { r.ConversionRate.reset(); },
             {kNone, kNone, kNone, kNone, kNone, kNone, 0}},
        Case{"type2", 2, [](RowInputs& r) { r.ConversionRate = 1.3f; r.NMCPayment = 200; },
             {1.3f, 0, 0, 0, 0, 0, 260}},
        Case{"type3", 3, [](RowInputs& r) { r.ConversionRate = 1.3f; }, {1, 80, 10, 45, 0.05f, 0.08f, 7}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RowAmounts, OtherTypesHaveNoRule) {
    for (std::optional<int> type : {std::optional<int>(4), std::optional<int>(0), std::optional<int>()})
        EXPECT_FALSE(rowAmounts(type, example()).has_value());
}

TEST(RowAmounts, ProductsAreSinglePrecision) {
    // 0.1f * 3.0f rounds to the single nearest the product, not to the double 0.3.
    RowInputs in = example();
    in.ConversionRate = 0.1f;
    in.NAC = 3;
    const auto out = rowAmounts(1, in);
    ASSERT_TRUE(out->NACShow);
    EXPECT_EQ(*out->NACShow, 0.1f * 3.0f);
    EXPECT_NE(static_cast<double>(*out->NACShow), 0.1 * 3.0);
}

// A sweep of tens of thousands of rows is worked out by number, on two threads: every live row
// must get what the rule gives it through the cursor, the rows where the halves meet included,
// and a deleted row nothing.
TEST(RowAmounts, EveryRowOfALargeSweepGetsWhatTheCursorGivesIt) {
    namespace F = sweep_field;
    constexpr int kRows = 40'000;
    const auto fill = [](Table& t) {
        t.emptyAndSort("CenterID");
        for (int i = 0; i < kRows; ++i) {
            t.addRow();
            t.set(F::CenterID, 1 + i / 1000);
            if (i % 11 != 0) t.set(F::Type, i % 13 == 0 ? 4 : 1 + i % 3);  // 4 has no rule, nor a row without a type
            if (i % 7 != 0) t.set(F::ConversionRate, 1.0f + static_cast<float>(i % 13) / 8);
            t.set(F::Royalty, static_cast<float>(i % 997) + 0.25f);
            if (i % 3 != 0) t.set(F::RoyaltyReserve, static_cast<float>(i % 17));
            t.set(F::NAC, static_cast<float>(i % 31));
            t.set(F::FranchiseFee, static_cast<float>(i % 41));
            t.set(F::FranchiseFeeReserve, 1.5f);
            t.set(F::GST, 0.05f);
            if (i % 2 == 0) t.set(F::PST, 0.07f);
            t.set(F::NMCPayment, static_cast<float>(i % 53));
            t.set(F::SalesTaxExempt, i % 9 == 0);
            t.set(F::SubscriptionMembership, i % 6 == 0);
            t.set(F::RoyShow, -1.0f);  // what a row without a rule keeps
        }
        // Deleted rows in either half and at the end.
        t.moveFirst();
        for (int i = 0; !t.eof(); ++i) {
            if (i == 7 || i == 20'470 || i == 39'999) t.deleteCurrent();
            t.moveNext();
        }
    };
    Table byCursor = makeTable("rsSweep", sweepFields());
    fill(byCursor);
    for (byCursor.moveFirst(); !byCursor.eof(); byCursor.moveNext()) applyRowAmounts(byCursor);
    Table byNumber = makeTable("rsSweep", sweepFields());
    fill(byNumber);
    applySweepAmounts(byNumber);

    ASSERT_EQ(byNumber.rowCount(), byCursor.rowCount());
    ASSERT_EQ(byNumber.rowCount(), static_cast<std::size_t>(kRows - 3));
    byCursor.moveFirst();
    byNumber.moveFirst();
    int differing = 0;
    for (int row = 0; !byCursor.eof(); ++row, byCursor.moveNext(), byNumber.moveNext())
        for (const int f : {F::ConversionRate, F::RoyShow, F::NACShow, F::FranShow, F::GSTshow, F::PSTshow, F::NMCshow})
            if (byNumber.single(f) != byCursor.single(f) && ++differing <= 5)
                ADD_FAILURE() << "row " << row << ", " << byNumber.fields()[static_cast<std::size_t>(f)].name;
    EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace eft
