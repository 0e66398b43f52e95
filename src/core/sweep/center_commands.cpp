#include "sweep/center_commands.h"

#include "control/context.h"
#include "ui/list_sort.h"

namespace eft {

void cmdSelectAllCenters_Click(Context& ctx) {
    ctx.screen.lstEFTCenter.setAllChecked(true);
    ctx.state.AllCentersSelected = true;
}

void cmdDeSelectAllCenters_Click(Context& ctx) {
    ctx.screen.lstEFTCenter.setAllChecked(false);
    ctx.state.AllCentersSelected = false;
}

void lstEFTCenter_ItemCheck(Context& ctx, int /*line*/) { ctx.state.AllCentersSelected = false; }

void lstEFTCenter_ColumnClick(Context& ctx, int position) { ui::sortByColumn(ctx.screen.lstEFTCenter, position); }

}  // namespace eft
