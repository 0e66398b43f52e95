#include "sweep/row_amounts.h"

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <thread>

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

namespace {

// The rule on one row, read and written through the cursor (Table) or by number (Table::RowAt).
template <typename Row>
void applyAmounts(Row& t) {
    namespace F = sweep_field;
    const RowInputs in{t.single(F::ConversionRate), t.single(F::Royalty),      t.single(F::RoyaltyReserve),
                       t.single(F::NAC),            t.single(F::FranchiseFee), t.single(F::FranchiseFeeReserve),
                       t.single(F::GST),            t.single(F::PST),          t.single(F::NMCPayment),
                       t.boolean(F::SalesTaxExempt).value_or(false),
                       t.boolean(F::SubscriptionMembership).value_or(false)};
    const auto out = rowAmounts(t.integer(F::Type), in);
    if (!out) return;
    t.setSingle(F::ConversionRate, out->ConversionRate);
    t.setSingle(F::RoyShow, out->RoyShow);
    t.setSingle(F::NACShow, out->NACShow);
    t.setSingle(F::FranShow, out->FranShow);
    t.setSingle(F::GSTshow, out->GSTshow);
    t.setSingle(F::PSTshow, out->PSTshow);
    t.setSingle(F::NMCshow, out->NMCshow);
}

// Whether the rows can be worked on by number: every field the rule reads or writes is of
// the type it reads or writes, and none of them orders the rows.
bool byNumber(const Table& t) {
    namespace F = sweep_field;
    const auto is = [&t](int field, std::initializer_list<FieldType> types) {
        if (static_cast<std::size_t>(field) >= t.fields().size() || t.sortsBy(field)) return false;
        const FieldType type = t.fields()[static_cast<std::size_t>(field)].type;
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    for (const int f : {F::ConversionRate, F::Royalty, F::RoyaltyReserve, F::NAC, F::FranchiseFee,
                        F::FranchiseFeeReserve, F::GST, F::PST, F::NMCPayment, F::RoyShow, F::NACShow, F::FranShow,
                        F::GSTshow, F::PSTshow, F::NMCshow})
        if (!is(f, {FieldType::Single})) return false;
    return is(F::Type, {FieldType::Int16, FieldType::Int32}) && is(F::SalesTaxExempt, {FieldType::Boolean}) &&
           is(F::SubscriptionMembership, {FieldType::Boolean});
}

}  // namespace

void applyRowAmounts(Table& t) { applyAmounts(t); }

void applySweepAmounts(Table& t) {
    if (!t.isOpen() || t.rowCount() == 0) return;
    if (!byNumber(t)) {
        for (t.moveFirst(); !t.eof(); t.moveNext()) applyAmounts(t);
        return;
    }
    const auto pass = [&t](std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t row = from; row < to; ++row)
            if (t.isLive(row)) {
                Table::RowAt r = t.rowAt(row);
                applyAmounts(r);
            }
    };
    const std::uint32_t rows = t.rowNumbers();
    // The load waits for this pass while the other core is idle: a second thread halves it once
    // the rows are many. The halves meet at the edge of a block of rows, so the threads never
    // write the same word of presence bits, nor the same cache line.
    constexpr std::uint32_t kBlock = Table::kBlockRows, kWorthASecondThread = 16 * kBlock;
    if (rows < kWorthASecondThread || std::thread::hardware_concurrency() < 2) return pass(0, rows);
    const std::uint32_t half = (rows / 2 + kBlock - 1) / kBlock * kBlock;
    std::exception_ptr failed;
    std::thread other([&] {
        try {
            pass(half, rows);
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        pass(0, half);
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (failed) std::rethrow_exception(failed);
}

}  // namespace eft
