#include "sweep/center_list.h"

#include <cmath>

#include "control/context.h"
#include "sweep/row_name.h"
#include "sweep/row_total.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"

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

        float grandTotal = 0;
        std::int32_t marker = 0;
        float inSum = 0;
        float outSum = 0;
        int line = -1;
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
            if (line < 0) throw EftError(sweepRowName(t) + " has the CenterID 0");
            list.setChecked(line, false);

            // The IN amount is counted and shown before the OUT amount is looked at, so a row
            // without one still adds its IN amount to "Due In" before the run ends.
            const float in = required(t, t.single(F::INRowTotal), F::INRowTotal);
            inSum += in;
            list.setSubItem(line, 3, text::amount(inSum));
            const float out = required(t, t.single(F::OUTRowTotal), F::OUTRowTotal);
            const bool subscription = t.boolean(F::SubscriptionMembership).value_or(false);
            outSum += out;
            list.setSubItem(line, 4, text::amount(subscription ? outSum : std::fabs(outSum)));
            t.set(F::RowTotal, sweepRowTotal(in, out, subscription, outSum));

            const float net = inSum + outSum;
            const std::string zero = text::amount(0);
            if (subscription) {
                list.setSubItem(line, 5, net > 0 ? zero : text::amount(inSum));
                list.setSubItem(line, 6, net > 0 ? text::amount(net) : zero);
            } else {
                list.setSubItem(line, 5, net > 0 ? text::amount(net) : zero);
                list.setSubItem(line, 6, net > 0 ? zero : text::amount(std::fabs(net)));
            }
            grandTotal += (subscription && outSum < 0) ? out : in + out;
            t.moveNext();
        }
        ctx.screen.lblGrandTotal.setCaption("Amount Eligible (Total): $ " + text::money(grandTotal));
        list.resort();
    } catch (const text::AmountOutOfRange& e) {
        // A sum too large to show is never shown as a number: the run ends as on any failure,
        // but the operator is told why the list stops short.
        ctx.showFailure({"The list of centers is not complete: " + std::string(e.description()) + ".", "",
                        MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    } catch (const std::exception& e) {
        // What was listed so far stays, and the operator learns which row stopped the list.
        ctx.showFailure({"The list of centers is not complete: " + std::string(e.what()) + ".", "",
                         MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

}  // namespace eft
