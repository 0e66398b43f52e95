#include "members/member_selection.h"

#include "control/context.h"
#include "text/text_forms.h"
#include "ui/list_sort.h"

namespace eft {
namespace {

constexpr int kTotalColumn = 5;

// A selected total too large to show leaves the label as it was and says so.
void showSelected(Context& ctx, float amount) {
    try {
        ctx.screen.lblMerchandiseSelected.setCaption("Amount Selected (Total): $ " + text::money(amount));
    } catch (const text::AmountOutOfRange& e) {
        ctx.showFailure({"The selected total cannot be shown: " + std::string(e.description()) + ".", "",
                        MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

}  // namespace

void lstEFTMember_ItemCheck(Context& ctx, int line) {
    ControlState& st = ctx.state;
    st.AllMembersSelected = false;
    const ui::ListView& list = ctx.screen.lstEFTMember;
    const float total = text::parseSingle(list.subItem(line, kTotalColumn)).value_or(0);
    if (list.line(line).checked) st.SelectedAmount = total + st.SelectedAmount;
    else st.SelectedAmount = st.SelectedAmount - total;
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
    showSelected(ctx, 0);
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
