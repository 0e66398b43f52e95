#include "sweep/sweep_load.h"

#include "control/context.h"
#include "control/input_guard.h"
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
        {
            // The emptied list is painted before the wait; a click that arrives meanwhile must
            // not start a second load inside this one.
            InputGuard guard(ctx.screen);
            ctx.doEvents();
        }
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
        ctx.showFailure({e.what(), "", MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok});
        ctx.setMousePointer(ui::MousePointer::Normal);
    }
}

}  // namespace eft
