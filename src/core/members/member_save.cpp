#include "members/member_save.h"

#include "control/context.h"
#include "members/ticked_filter.h"
#include "net/pages.h"
#include "sweep/row_name.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {
namespace {

constexpr int kMemberColumn = 3;

}  // namespace

SaveRow saveRowOf(const Table& t) {
    namespace F = sweep_field;
    return SaveRow{t.integer(F::MemberID),       t.integer(F::CenterID),     t.integer(F::Source),
                   t.integer(F::SweepSequence),  t.integer(F::TrustID),      t.single(F::ConversionRate),
                   t.single(F::Royalty),         t.single(F::NAC),           t.single(F::RoyaltyReserve),
                   t.single(F::FranchiseFee),    t.single(F::FranchiseFeeReserve),
                   t.single(F::GSTshow),         t.single(F::PSTshow),       t.single(F::NMCshow)};
}

void cmdSaveMerchandise_Click(Context& ctx) {
    ui::Screen& s = ctx.screen;
    ControlState& st = ctx.state;

    std::string memberFilter = st.CenterFilter;
    if (!st.AllMembersSelected) {
        const std::string ticked = tickedLinesFilter(s.lstEFTMember, kMemberColumn, "MemberID");
        // A member named here may have rows at centers the operator never opened: only the
        // centers listed are saved, so nothing leaves the sweep that was not on screen.
        memberFilter = ticked.empty() ? ticked : bothFilters(st.CenterFilter, ticked);
        if (memberFilter.empty()) {
            ctx.messageBox({std::string(ui::phrase::kNoMemberTicked),
                            std::string(ui::phrase::kValidationTitle), MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
            return;
        }
    }
    if (ctx.messageBox({std::string(ui::phrase::kAskSave), std::string(ui::phrase::kValidationTitle), MsgIcon::Information, MsgButtons::YesNo,
                        MsgAnswer::Yes}) != MsgAnswer::Yes)
        return;

    // While the post waits, the tab showing must stay "Membership Sweep": the reply is judged
    // by it, and a save accepted elsewhere would leave the saved rows in the sweep.
    s.cmdSaveMerchandise.setEnabled(false);
    s.cmdCancelMerchandiseList.setEnabled(false);
    ctx.setMousePointer(ui::MousePointer::Hourglass);
    try {
        Table& t = ctx.sweep();
        t.moveFirst();
        t.setFilter(memberFilter);
        // One buffer for the whole body, whatever the rows.
        pages::SaveBodyWriter body;
        if (t.rowCount() > kMaxSaveRecords) {
            ctx.showFailure({ui::fill(ui::phrase::kSaveTooLarge,
                                      {text::wholeNumber(kMaxSaveRecords), text::wholeNumber(t.rowCount())}),
                             "ERROR", MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
            throw EftError("too many rows for one save");
        }
        body.reserve(t.rowCount());
        while (!t.eof()) {
            try {
                addSaveRecord(body, saveRowOf(t), st.PersonID, st.PersonType);
            } catch (const UnsavableRow& e) {
                // Named as the member list shows it: the operator finds it there, and no other
                // member's row at the same center reads the same.
                throw UnsavableRow(shownRowName(t, ctx.host.today()), e.missing());
            }
            t.moveNext();
        }
        // The load these rows came from, so the server can refuse them if their centers changed.
        const std::string& stamp = st.SweepStamp[st.CountryID == 2 ? 2 : 1];
        ctx.postFormAndWait(pages::saveAddress(st.ptServerName), body.finish(),
                            stamp.empty() ? std::string() : std::string(pages::kSweepStampHeader) + ": " + stamp);
    } catch (const UnsavableRow& e) {
        ctx.showFailure({ui::fill(ui::phrase::kNothingSaved, {e.what()}), "ERROR", MsgIcon::Exclamation,
                         MsgButtons::Ok, MsgAnswer::Ok});
    } catch (const std::exception&) {
        // Quiet, as before; the end steps below still run so "&Save" is never left dead.
    }
    s.cmdSaveMerchandise.setEnabled(true);
    s.cmdCancelMerchandiseList.setEnabled(true);
    ctx.setMousePointer(ui::MousePointer::Normal);
    s.tabEFT.setEnabled(kTabExport, true);
    s.tabEFT.setEnabled(kTabBatchStatus, true);
}

}  // namespace eft
