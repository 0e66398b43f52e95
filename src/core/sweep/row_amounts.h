#pragma once
// The amounts a sweep row shows, derived by its Type: royalty, NAC and franchise fee net of
// reserves and converted by the row's rate, the two sales taxes, and the NMC payment. All in
// single precision; an operand with no value leaves the result with no value.
#include <optional>

#include "tables/table.h"

namespace eft {

using Amount = std::optional<float>;

struct RowInputs {
    Amount ConversionRate, Royalty, RoyaltyReserve, NAC, FranchiseFee, FranchiseFeeReserve, GST, PST, NMCPayment;
    bool SalesTaxExempt = false;
    bool SubscriptionMembership = false;
};

struct RowAmounts {
    Amount ConversionRate, RoyShow, NACShow, FranShow, GSTshow, PSTshow, NMCshow;
};

// Nothing for a Type other than 1, 2 or 3 (or none): such a row keeps what it was sent.
std::optional<RowAmounts> rowAmounts(std::optional<int> type, const RowInputs& in);

// Applies the rule to the sweep table's current row.
void applyRowAmounts(Table& sweep);
// Applies it to every row of a table no filter hides any of (a load's), on two threads for a
// large table; the cursor may move.
void applySweepAmounts(Table& sweep);

}  // namespace eft
