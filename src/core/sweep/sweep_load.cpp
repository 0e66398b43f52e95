#include "sweep/sweep_load.h"

#include "control/context.h"
#include "control/failure_box.h"
#include "control/input_guard.h"
#include "net/address.h"
#include "net/pages.h"
#include "net/xml_reader.h"
#include "sweep/center_list.h"
#include "sweep/row_amounts.h"
#include "sweep/row_name.h"
#include "tables/field_lists.h"
#include "ui/layout.h"
#include "ui/phrases.h"

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

namespace {

// "the United States sweep", by the caption of its option button.
std::string sweepName(std::int16_t country) {
    const ui::ElementLayout* option = ui::findLayout("optCountry", country);
    return option ? ui::fill(ui::phrase::kSweepOf, {option->caption}) : "the sweep of country " + std::to_string(country);
}

}  // namespace

void LoadSweepData(Context& ctx) {
    ControlState& st = ctx.state;
    const std::string address = pages::sweepRowsAddress(st.ptServerName, st.CountryID);
    FetchResult outcome;
    try {
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        ctx.screen.cmdLoadData.setEnabled(false);
        st.AllCentersSelected = false;
        st.AllMembersSelected = false;
        Table& sweep = ctx.sweep();
        ReadXmlRows(sweep, address, "CenterID", ctx.fetch(ui::fill(ui::phrase::kLoading, {sweepName(st.CountryID)}), &outcome),
                    XmlPath::FastFirst, sweepRowName);
        // The load's stamp, kept for a save of these rows.
        if (st.CountryID == 1 || st.CountryID == 2) st.SweepStamp[st.CountryID] = outcome.sweepStamp;
        if (sweep.rowCount() != 0) {
            applySweepAmounts(sweep);
            sweep.moveFirst();
            FillCenterList(ctx);
        } else {
            // An empty sweep is a sweep of nothing: its total is zero, not unknown.
            ctx.screen.lblGrandTotal.setCaption(ui::fill(ui::phrase::kEligible, {text::money(text::Cents{0})}));
        }
        ctx.host.sweepLoaded(st.CountryID, static_cast<int>(sweep.rowCount()));
        ctx.setMousePointer(ui::MousePointer::Normal);
    } catch (const std::exception& e) {
        // Why, in the operator's words; the reader's description without the address it starts
        // with, which goes to the details.
        std::string why = outcome.cause;
        if (why.empty()) {
            std::string_view description = e.what();
            const std::string where = ui::fill(ui::phrase::kReadingWhere, {redactedAddress(address), ""});
            if (description.starts_with(where)) description.remove_prefix(where.size());
            why = ui::fill(ui::phrase::kReplyUnreadWhy, {redactedText(description)});
        }
        const ui::ElementLayout* option = ui::findLayout("optCountry", st.CountryID);
        std::string name = sweepName(st.CountryID);
        name[0] = 'T';
        ctx.showFailure({option ? ui::fill(ui::phrase::kSweepNotLoaded, {option->caption, why})
                                : ui::fill(ui::phrase::kCouldNotLoad, {name, why}), "", MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok,
                         "GET " + redactedAddress(address) + "\r\n" + redactedText(e.what())});
        ctx.setMousePointer(ui::MousePointer::Normal);
    }
}

}  // namespace eft
