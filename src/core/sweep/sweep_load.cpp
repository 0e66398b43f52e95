#include "sweep/sweep_load.h"

#include "control/context.h"
#include "control/input_guard.h"
#include "net/address.h"
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
        // The load's stamp, kept for a save of these rows once they are all read.
        std::string stamp;
        const Fetch fetch = ctx.fetch();
        ReadXmlRows(sweep, pages::sweepRowsAddress(st.ptServerName, st.CountryID), "CenterID",
                    [&fetch, &stamp](const std::string& address, const BodyConsumer& consume) {
                        FetchResult result = fetch(address, consume);
                        stamp = result.sweepStamp;
                        return result;
                    });
        if (st.CountryID == 1 || st.CountryID == 2) st.SweepStamp[st.CountryID] = stamp;
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
        ctx.showFailure({redactedAddress(e.what()), "", MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok});
        ctx.setMousePointer(ui::MousePointer::Normal);
    }
}

}  // namespace eft
