#include "sweep/sweep_load.h"

#include "control/context.h"
#include "net/pages.h"
#include "net/xml_reader.h"
#include "sweep/center_list.h"
#include "sweep/row_amounts.h"
#include "tables/field_lists.h"

namespace eft {

void cmdLoadData_Click(Context& ctx) { LoadSweepData(ctx); }

void optCountry_Click(Context& ctx, std::int16_t Index) {
    try {
        ctx.screen.lstEFTCenter.clear();
        ctx.screen.lblGrandTotal.setCaption("");
        ctx.doEvents();  // the emptied list is painted before the wait
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        ctx.state.CountryID = Index;
        LoadSweepData(ctx);
        ctx.setMousePointer(ui::MousePointer::Normal);
    } catch (const std::exception&) {
        ctx.setMousePointer(ui::MousePointer::Normal);
    }
}

void LoadSweepData(Context& ctx) {
    ControlState& st = ctx.state;
    try {
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        ctx.screen.cmdLoadData.setEnabled(false);
        st.AllCentersSelected = false;
        st.AllMembersSelected = false;
        Table& sweep = ctx.sweep();
        ReadXmlRows(sweep, pages::sweepRowsAddress(st.ptServerName, st.CountryID), "CenterID", ctx.fetch());
        if (sweep.rowCount() != 0) {
            sweep.moveFirst();
            while (!sweep.eof()) {
                applyRowAmounts(sweep);
                sweep.moveNext();
            }
            sweep.moveFirst();
            FillCenterList(ctx);
        }
        ctx.host.sweepLoaded(st.CountryID, static_cast<int>(sweep.rowCount()));
        ctx.setMousePointer(ui::MousePointer::Normal);
    } catch (const std::exception& e) {
        ctx.messageBox(MessageBoxRequest{e.what(), "", MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok});
        ctx.host.errorShown(e.what());
        ctx.setMousePointer(ui::MousePointer::Normal);
    }
}

}  // namespace eft
