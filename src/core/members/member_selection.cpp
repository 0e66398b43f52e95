#include "members/member_selection.h"

#include "control/context.h"
#include "text/text_forms.h"
#include "ui/list_sort.h"
#include "ui/phrases.h"

namespace eft {
namespace {

constexpr int kMemberColumn = 3;
constexpr int kTotalColumn = 5;

// A selected total too large to show leaves the label as it was and says so.
void showSelected(Context& ctx, text::Cents amount) {
    try {
        ctx.screen.lblMerchandiseSelected.setCaption(ui::fill(ui::phrase::kSelected, {text::money(amount)}));
    } catch (const text::AmountOutOfRange& e) {
        ctx.showFailure({ui::fill(ui::phrase::kSelectedNotShown, {e.description()}), "",
                        MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

text::Cents lineTotal(const ui::ListView& list, int line) {
    return text::parseCents(list.subItem(line, kTotalColumn)).value_or(0);
}

}  // namespace

// A save names members, not lines, so every line of the member follows the one the operator
// changed: what is ticked is then exactly what a save sends, and the selected total says so.
void lstEFTMember_ItemCheck(Context& ctx, int line) {
    ControlState& st = ctx.state;
    st.AllMembersSelected = false;
    ui::ListView& list = ctx.screen.lstEFTMember;
    const bool ticked = list.line(line).checked;
    const text::Cents sign = ticked ? 1 : -1;
    st.SelectedAmount += sign * lineTotal(list, line);
    const std::string member(list.subItem(line, kMemberColumn));
    for (int i = 0; i < list.lineCount(); ++i) {
        if (i == line || list.line(i).checked == ticked || list.subItem(i, kMemberColumn) != member) continue;
        list.setChecked(i, ticked);
        st.SelectedAmount += sign * lineTotal(list, i);
    }
    showSelected(ctx, st.SelectedAmount);
}

void cmdSelectAllMerchandise_Click(Context& ctx) {
    ctx.screen.lstEFTMember.setAllChecked(true);
    ctx.state.AllMembersSelected = true;
    ctx.state.SelectedAmount = ctx.state.EligibleAmount;
    showSelected(ctx, ctx.state.EligibleAmount);
}

void cmdDeSelectAllMerchandise_Click(Context& ctx) {
    ctx.screen.lstEFTMember.setAllChecked(false);
    ctx.state.AllMembersSelected = false;
    ctx.state.SelectedAmount = 0;
    showSelected(ctx, text::Cents{0});
}

void lstEFTMember_ColumnClick(Context& ctx, int position) { ui::sortByColumn(ctx.screen.lstEFTMember, position); }

void cmdCancelMerchandiseList_Click(Context& ctx) {
    ui::TabStrip& tabs = ctx.screen.tabEFT;
    tabs.setVisible(kTabCenters, true);
    tabs.setVisible(kTabMembers, false);
    tabs.select(kTabCenters);
    tabs.setEnabled(kTabExport, true);
    tabs.setEnabled(kTabBatchStatus, true);
}

}  // namespace eft
