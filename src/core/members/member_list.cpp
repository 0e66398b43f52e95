#include "members/member_list.h"

#include "control/context.h"
#include "members/ticked_filter.h"
#include "sweep/row_name.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {
namespace {

constexpr int kCenterColumn = 1;  // "Center" of the center list

float amountOf(const Table& t, int field) { return requiredValue(t, t.single(field), field); }

std::string amountText(const Table& t, int field) { return text::amount(amountOf(t, field)); }

}  // namespace

void cmdViewCenterDetails_Click(Context& ctx) {
    namespace F = sweep_field;
    ui::Screen& s = ctx.screen;
    ControlState& st = ctx.state;

    st.CenterFilter.clear();
    if (!st.AllCentersSelected) {
        st.CenterFilter = tickedLinesFilter(s.lstEFTCenter, kCenterColumn, "CenterID");
        if (st.CenterFilter.empty()) {
            ctx.messageBox({std::string(ui::phrase::kNoCenterTicked),
                            std::string(ui::phrase::kValidationTitle), MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
            return;
        }
    }

    PointerGuard pointer(ctx);
    try {
        s.tabEFT.setEnabled(kTabExport, false);
        s.tabEFT.setEnabled(kTabBatchStatus, false);
        s.tabEFT.setVisible(kTabCenters, false);
        s.tabEFT.setVisible(kTabMembers, true);
        s.tabEFT.select(kTabMembers);
        s.tabEFT.setCaptionOfSelected(ui::fill(ui::phrase::kSweepTab, {s.optCountry.caption(st.CountryID)}));

        s.lblMerchandiseEligible.setCaption(ui::fill(ui::phrase::kEligible, {"0.00"}));
        s.lblMerchandiseSelected.setCaption(ui::fill(ui::phrase::kSelected, {"0.00"}));
        st.EligibleAmount = 0;
        st.SelectedAmount = 0;
        // The new lines are all unticked: an earlier "select all" no longer describes them.
        st.AllMembersSelected = false;
        ctx.setMousePointer(ui::MousePointer::Hourglass);

        ui::ListView& list = s.lstEFTMember;
        list.clear();
        Table& t = ctx.sweep();
        t.moveFirst();
        t.setFilter(st.CenterFilter);
        list.reserve(t.rowCount());
        const std::string today = text::dateMDY(ctx.host.today());
        while (!t.eof()) {
            const int line = list.addLine();
            const auto type = t.integer(F::Type);
            std::string date = today;
            if (type == 3) date = text::dateMDY(requiredValue(t, t.timestamp(F::SweepDate), F::SweepDate).date());
            list.setSubItem(line, 1, std::move(date));
            const auto center = requiredValue(t, t.integer(F::CenterID), F::CenterID);
            list.setSubItem(line, 2, text::centerNumber(center));
            // The name before the member number: a row without one is still the operator's to find.
            list.setSubItem(line, 12, t.text(F::MemberName).value_or(""));
            const auto member = requiredValue(t, t.integer(F::MemberID), F::MemberID);
            list.setSubItem(line, 3, text::wholeNumber(member));
            list.setSubItem(line, 4, t.text(F::SourceDescription).value_or(""));
            const float total = amountOf(t, F::RowTotal);
            list.setSubItem(line, 5, text::amount(total));
            st.EligibleAmount += text::toCents(total);
            list.setSubItem(line, 6, amountText(t, F::RoyShow));
            list.setSubItem(line, 7, amountText(t, F::NACShow));
            list.setSubItem(line, 8, amountText(t, F::FranShow));
            list.setSubItem(line, 9, amountText(t, F::GSTshow));
            list.setSubItem(line, 10, amountText(t, F::PSTshow));
            list.setSubItem(line, 11, amountText(t, F::NMCshow));
            list.setSubItem(line, 12, t.text(F::MemberName).value_or(""));
            list.setChecked(line, false);
            t.moveNext();
        }
        s.lblMerchandiseEligible.setCaption(ui::fill(ui::phrase::kEligible, {text::money(st.EligibleAmount)}));
        s.lblMerchandiseSelected.setCaption(ui::fill(ui::phrase::kSelected, {text::money(st.SelectedAmount)}));
        t.setFilter("");
        list.resort();
    } catch (const text::AmountOutOfRange& e) {
        // Never shown as a number; the lines so far stay, as on any failure.
        ctx.showFailure({ui::fill(ui::phrase::kMembersIncomplete, {e.description()}), "",
                        MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    } catch (const std::exception& e) {
        // The tab changes, the reset labels and the lines so far stay; the row is named.
        ctx.showFailure({ui::fill(ui::phrase::kMembersIncomplete, {e.what()}), "",
                         MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

}  // namespace eft
