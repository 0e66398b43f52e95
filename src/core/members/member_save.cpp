#include "members/member_save.h"

#include <vector>

#include "control/context.h"
#include "members/ticked_filter.h"
#include "net/pages.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"

namespace eft {
namespace {

constexpr int kMemberColumn = 3;

std::string wholeOrNothing(const std::optional<std::int32_t>& v) { return v ? text::wholeNumber(*v) : ""; }

// An amount as the server receives it: rounded to cents (an exact half to even), then the
// number text of a single. No value sends nothing after the key.
std::string roundedText(Amount v) { return v ? text::singleText(text::roundHalfEven2(*v)) : ""; }

Amount times(Amount v, float rate) {
    if (!v) return std::nullopt;
    return *v * rate;
}

}  // namespace

std::string saveRecord(const SaveRow& row, std::int32_t personId, std::int16_t personType) {
    if (!row.MemberID) throw EftError("a chosen sweep row has no MemberID");
    if (!row.ConversionRate) throw EftError("the sweep row of member " + text::wholeNumber(*row.MemberID) +
                                            " has no ConversionRate");
    const float rate = *row.ConversionRate;
    std::string r;
    r.reserve(320);
    r += "MemberID=" + text::wholeNumber(*row.MemberID);
    r += ";Status=14";
    r += ";PersonID=" + text::wholeNumber(personId);
    r += ";PersonType=" + text::wholeNumber(personType);
    r += ";ConversionRate=" + text::singleText(rate);
    r += ";CenterID=" + wholeOrNothing(row.CenterID);
    r += ";Source=" + wholeOrNothing(row.Source);
    r += ";Royalty=" + roundedText(times(row.Royalty, rate));
    r += ";NAC=" + roundedText(times(row.NAC, rate));
    r += ";RoyaltyReserve=" + roundedText(times(row.RoyaltyReserve, rate));
    r += ";FranchiseFee=" + roundedText(times(row.FranchiseFee, rate));
    r += ";FranchiseFeeReserve=" + roundedText(times(row.FranchiseFeeReserve, rate));
    r += ";GSTshow=" + roundedText(row.GSTshow);
    r += ";PSTShow=" + roundedText(row.PSTshow);
    r += ";NMCshow=" + roundedText(row.NMCshow);
    r += ";SweepSequence=" + wholeOrNothing(row.SweepSequence);
    r += ";Trust=";
    r += row.TrustID.value_or(0) > 0 ? "True" : "False";
    return r;
}

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
        memberFilter = tickedLinesFilter(s.lstEFTMember, kMemberColumn, "MemberID");
        if (memberFilter.empty()) {
            ctx.messageBox({"At least one member must be selected in order to save the detail entries.",
                            "Information Validation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
            return;
        }
    }
    if (ctx.messageBox({"Do you want to save ? ", "Information Validation", MsgIcon::Information, MsgButtons::YesNo,
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
        std::vector<std::string> records;
        records.reserve(t.rowCount());
        while (!t.eof()) {
            if (records.size() == kMaxSaveRecords)
                throw EftError("one save carries at most 32,767 rows");
            records.push_back(saveRecord(saveRowOf(t), st.PersonID, st.PersonType));
            t.moveNext();
        }
        ctx.postFormAndWait(pages::saveAddress(st.ptServerName), pages::saveBody(records));
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
