#include "sweep/center_list.h"

#include <cstdlib>

#include "control/context.h"
#include "sweep/row_name.h"
#include "sweep/row_total.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {
namespace {

template <typename T>
T required(const Table& t, std::optional<T> v, int field) {
    return requiredValue(t, v, field);
}

}  // namespace

void FillCenterList(Context& ctx) {
    namespace F = sweep_field;
    ui::ListView& list = ctx.screen.lstEFTCenter;
    try {
        list.clear();
        // Every rebuilt line is unticked, so a "select all" made on the old lines is over.
        ctx.state.AllCentersSelected = false;
        Table& t = ctx.sweep();
        t.setFilter("");
        list.reserve(256);

        // Sums are kept in whole cents: a single-precision running total drifts by cents over
        // a few thousand rows, and every label must equal the sum of the lines it totals.
        text::Cents grandTotal = 0;
        std::int32_t marker = 0;
        text::Cents inSum = 0;
        text::Cents outSum = 0;
        int line = -1;
        const std::string zero = text::amount(text::Cents{0});
        while (!t.eof()) {
            const std::int32_t center = required(t, t.integer(F::CenterID), F::CenterID);
            if (center != marker) {
                marker = center;
                inSum = 0;
                outSum = 0;
                line = list.addLine();
                list.setSubItem(line, 1, text::centerNumber(center));
                list.setSubItem(line, 2, t.text(F::CenterName).value_or(""));
            }
            if (line < 0) throw EftError(ui::fill(ui::phrase::kCenterIdZero, {sweepRowName(t)}));
            list.setChecked(line, false);

            // The IN amount is counted and shown before the OUT amount is looked at, so a row
            // without one still adds its IN amount to "Due In" before the run ends.
            const float in = required(t, t.single(F::INRowTotal), F::INRowTotal);
            inSum += text::toCents(in);
            list.setSubItem(line, 3, text::amount(inSum));
            const float out = required(t, t.single(F::OUTRowTotal), F::OUTRowTotal);
            const bool subscription = t.boolean(F::SubscriptionMembership).value_or(false);
            outSum += text::toCents(out);
            list.setSubItem(line, 4, text::amount(subscription ? outSum : std::abs(outSum)));
            const float rowTotal = sweepRowTotal(in, out, subscription, outSum < 0);
            t.set(F::RowTotal, rowTotal);

            const text::Cents net = inSum + outSum;
            if (subscription) {
                list.setSubItem(line, 5, net > 0 ? zero : text::amount(inSum));
                list.setSubItem(line, 6, net > 0 ? text::amount(net) : zero);
            } else {
                list.setSubItem(line, 5, net > 0 ? text::amount(net) : zero);
                list.setSubItem(line, 6, net > 0 ? zero : text::amount(std::abs(net)));
            }
            // The eligible total is the sum of the rows' Totals, the amounts the member list
            // shows and the bank file carries.
            grandTotal += text::toCents(rowTotal);
            t.moveNext();
        }
        ctx.screen.lblGrandTotal.setCaption(ui::fill(ui::phrase::kEligible, {text::money(grandTotal)}));
        list.resort();
    } catch (const text::AmountOutOfRange& e) {
        // A sum too large to show is never shown as a number: the run ends as on any failure,
        // but the operator is told why the list stops short.
        ctx.showFailure({ui::fill(ui::phrase::kCentersIncomplete, {e.description()}), "",
                        MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    } catch (const std::exception& e) {
        // What was listed so far stays, and the operator learns which row stopped the list.
        ctx.showFailure({ui::fill(ui::phrase::kCentersIncomplete, {e.what()}), "",
                         MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

}  // namespace eft
