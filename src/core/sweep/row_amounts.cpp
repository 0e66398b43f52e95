#include "sweep/row_amounts.h"

#include "tables/field_lists.h"

namespace eft {
namespace {

Amount mul(Amount a, Amount b) {
    if (!a || !b) return std::nullopt;
    return *a * *b;
}

Amount sub(Amount a, Amount b) {
    if (!a || !b) return std::nullopt;
    return *a - *b;
}

}  // namespace

std::optional<RowAmounts> rowAmounts(std::optional<int> type, const RowInputs& in) {
    const Amount cr = in.ConversionRate;
    RowAmounts out;
    switch (type.value_or(0)) {
        case 1:
            out.ConversionRate = cr;
            out.RoyShow = mul(cr, sub(in.Royalty, in.RoyaltyReserve));
            out.NACShow = mul(cr, in.NAC);
            out.FranShow = mul(cr, sub(in.FranchiseFee, in.FranchiseFeeReserve));
            if (in.SalesTaxExempt) {
                out.GSTshow = 0.0f;
                out.PSTshow = 0.0f;
            } else if (in.SubscriptionMembership) {
                out.GSTshow = in.GST;
                out.PSTshow = in.PST;
            } else {
                // The taxes are rates on the converted royalty before its reserve comes off.
                const Amount convertedRoyalty = mul(cr, in.Royalty);
                out.GSTshow = mul(in.GST, convertedRoyalty);
                out.PSTshow = mul(in.PST, convertedRoyalty);
            }
            out.NMCshow = 0.0f;
            return out;
        case 2:
            out.ConversionRate = cr;
            out.RoyShow = out.NACShow = out.FranShow = out.GSTshow = out.PSTshow = 0.0f;
            out.NMCshow = mul(cr, in.NMCPayment);
            return out;
        case 3:
            out.ConversionRate = 1.0f;
            out.RoyShow = sub(in.Royalty, in.RoyaltyReserve);
            out.NACShow = in.NAC;
            out.FranShow = sub(in.FranchiseFee, in.FranchiseFeeReserve);
            out.GSTshow = in.GST;
            out.PSTshow = in.PST;
            out.NMCshow = in.NMCPayment;
            return out;
        default: return std::nullopt;
    }
}

void applyRowAmounts(Table& t) {
    namespace F = sweep_field;
    const RowInputs in{t.single(F::ConversionRate), t.single(F::Royalty),      t.single(F::RoyaltyReserve),
                       t.single(F::NAC),            t.single(F::FranchiseFee), t.single(F::FranchiseFeeReserve),
                       t.single(F::GST),            t.single(F::PST),          t.single(F::NMCPayment),
                       t.boolean(F::SalesTaxExempt).value_or(false),
                       t.boolean(F::SubscriptionMembership).value_or(false)};
    const auto out = rowAmounts(t.integer(F::Type), in);
    if (!out) return;
    auto write = [&](int field, Amount v) {
        if (v) t.set(field, *v);
        else t.setNull(field);
    };
    write(F::ConversionRate, out->ConversionRate);
    write(F::RoyShow, out->RoyShow);
    write(F::NACShow, out->NACShow);
    write(F::FranShow, out->FranShow);
    write(F::GSTshow, out->GSTshow);
    write(F::PSTshow, out->PSTshow);
    write(F::NMCshow, out->NMCshow);
}

}  // namespace eft
