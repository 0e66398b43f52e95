#include "server/store/row_amounts.h"

#include <cmath>

#include "sweep/row_amounts.h"
#include "sweep/row_total.h"
#include "text/text_forms.h"

namespace eft::server {

ShowAmounts showAmounts(std::int16_t type, const Amounts& a, bool salesTaxExempt, bool subscription) {
    // The control's own rule, so the totals the server sends agree with what the control shows.
    RowInputs in;
    in.ConversionRate = a.conversionRate;
    in.Royalty = a.royalty;
    in.RoyaltyReserve = a.royaltyReserve;
    in.NAC = a.nac;
    in.FranchiseFee = a.franchiseFee;
    in.FranchiseFeeReserve = a.franchiseFeeReserve;
    in.GST = a.gst;
    in.PST = a.pst;
    in.NMCPayment = a.nmcPayment;
    in.SalesTaxExempt = salesTaxExempt;
    in.SubscriptionMembership = subscription;
    ShowAmounts s;
    s.conversionRate = a.conversionRate;
    if (const auto out = rowAmounts(type, in)) {
        s.conversionRate = out->ConversionRate.value_or(0);
        s.royalty = out->RoyShow.value_or(0);
        s.nac = out->NACShow.value_or(0);
        s.franchiseFee = out->FranShow.value_or(0);
        s.gst = out->GSTshow.value_or(0);
        s.pst = out->PSTshow.value_or(0);
        s.nmc = out->NMCshow.value_or(0);
    }
    return s;
}

RowTotals rowTotals(std::int16_t type, const Amounts& a, bool salesTaxExempt, bool subscription) {
    const ShowAmounts s = showAmounts(type, a, salesTaxExempt, subscription);
    float in = s.royalty;
    in += s.nac;
    in += s.franchiseFee;
    in += s.gst;
    in += s.pst;
    float out = -s.nmc;
    // Each side keeps its own sign, so IN + OUT is always the row's net amount.
    if (in < 0) {
        out += in;
        in = 0;
    }
    if (out > 0) {
        in += out;
        out = 0;
    }
    return RowTotals{text::roundHalfEven2(in), text::roundHalfEven2(out)};
}

std::optional<std::int64_t> totalCents(const RowTotals& row, bool subscription, float centerOutSum) {
    const float total = sweepRowTotal(row.in, row.out, subscription, centerOutSum < 0);
    if (!text::holdsEveryCent(total)) return std::nullopt;
    return text::toCents(total);
}

}  // namespace eft::server
