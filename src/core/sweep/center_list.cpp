#include "sweep/center_list.h"

#include <algorithm>
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
    int line = -1;
    // What the line shows in columns 3 to 6 so far, written into the list when the line is
    // done or the run stops rather than for every row: a center has a thousand rows.
    text::Cents shown[4] = {};
    int shownCount = 0;
    const auto showLine = [&] {
        for (int k = 0; k < shownCount; ++k) list.setSubItem(line, 3 + k, text::amount(shown[k]));
    };
    // After a failure the line shows what it had reached; the failure told is the first one.
    const auto showReached = [&] {
        try {
            showLine();
        } catch (const std::exception&) {
        }
    };
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
        while (!t.eof()) {
            const std::int32_t center = required(t, t.integer(F::CenterID), F::CenterID);
            if (center != marker) {
                showLine();
                shownCount = 0;
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
            shown[0] = text::showable(inSum);
            shownCount = std::max(shownCount, 1);
            const float out = required(t, t.single(F::OUTRowTotal), F::OUTRowTotal);
            const bool subscription = t.boolean(F::SubscriptionMembership).value_or(false);
            outSum += text::toCents(out);
            shown[1] = text::showable(subscription ? outSum : std::abs(outSum));
            shownCount = std::max(shownCount, 2);
            const float rowTotal = sweepRowTotal(in, out, subscription, outSum < 0);
            t.setSingle(F::RowTotal, rowTotal);

            const text::Cents net = inSum + outSum;
            if (subscription) {
                shown[2] = text::showable(net > 0 ? 0 : inSum);
                shown[3] = text::showable(net > 0 ? net : 0);
            } else {
                shown[2] = text::showable(net > 0 ? net : 0);
                shown[3] = text::showable(net > 0 ? 0 : std::abs(net));
            }
            shownCount = 4;
            // The eligible total is the sum of the rows' Totals, the amounts the member list
            // shows and the bank file carries.
            grandTotal += text::toCents(rowTotal);
            t.moveNext();
        }
        showLine();
        shownCount = 0;
        ctx.screen.lblGrandTotal.setCaption(ui::fill(ui::phrase::kEligible, {text::money(grandTotal)}));
        list.resort();
    } catch (const text::AmountOutOfRange& e) {
        // A sum too large to show is never shown as a number: the run ends as on any failure,
        // but the operator is told why the list stops short.
        showReached();
        ctx.showFailure({ui::fill(ui::phrase::kCentersIncomplete, {e.description()}), "",
                        MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    } catch (const std::exception& e) {
        // What was listed so far stays, and the operator learns which row stopped the list.
        showReached();
        ctx.showFailure({ui::fill(ui::phrase::kCentersIncomplete, {e.what()}), "",
                         MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

}  // namespace eft
