#include "members/member_save.h"

#include <algorithm>
#include <charconv>

#include "control/context.h"
#include "members/ticked_filter.h"
#include "net/pages.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"

namespace eft {
namespace {

constexpr int kMemberColumn = 3;

void appendWhole(std::string& out, std::int64_t v) {
    char buf[24];
    out.append(buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
}

void appendWholeOrNothing(std::string& out, const std::optional<std::int32_t>& v) {
    if (v) appendWhole(out, *v);
}

// An amount as the server receives it: rounded to cents (an exact half to even), then the
// number text of a single. No value sends nothing after the key.
void appendRounded(std::string& out, Amount v) {
    if (v) text::appendSingleText(out, text::roundHalfEven2(*v));
}

Amount times(Amount v, float rate) {
    if (!v) return std::nullopt;
    return *v * rate;
}

}  // namespace

void appendSaveRecord(std::string& r, const SaveRow& row, std::int32_t personId, std::int16_t personType) {
    if (!row.MemberID) throw EftError("a chosen sweep row has no MemberID");
    if (!row.ConversionRate) throw EftError("the sweep row of member " + text::wholeNumber(*row.MemberID) +
                                            " has no ConversionRate");
    const float rate = *row.ConversionRate;
    r += "MemberID=";
    appendWhole(r, *row.MemberID);
    r += ";Status=14;PersonID=";
    appendWhole(r, personId);
    r += ";PersonType=";
    appendWhole(r, personType);
    r += ";ConversionRate=";
    text::appendSingleText(r, rate);
    r += ";CenterID=";
    appendWholeOrNothing(r, row.CenterID);
    r += ";Source=";
    appendWholeOrNothing(r, row.Source);
    r += ";Royalty=";
    appendRounded(r, times(row.Royalty, rate));
    r += ";NAC=";
    appendRounded(r, times(row.NAC, rate));
    r += ";RoyaltyReserve=";
    appendRounded(r, times(row.RoyaltyReserve, rate));
    r += ";FranchiseFee=";
    appendRounded(r, times(row.FranchiseFee, rate));
    r += ";FranchiseFeeReserve=";
    appendRounded(r, times(row.FranchiseFeeReserve, rate));
    r += ";GSTshow=";
    appendRounded(r, row.GSTshow);
    r += ";PSTShow=";
    appendRounded(r, row.PSTshow);
    r += ";NMCshow=";
    appendRounded(r, row.NMCshow);
    r += ";SweepSequence=";
    appendWholeOrNothing(r, row.SweepSequence);
    r += row.TrustID.value_or(0) > 0 ? ";Trust=True" : ";Trust=False";
}

std::string saveRecord(const SaveRow& row, std::int32_t personId, std::int16_t personType) {
    std::string r;
    r.reserve(320);
    appendSaveRecord(r, row, personId, personType);
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
        // One buffer for the body and one for the record being written, whatever the rows.
        pages::SaveBodyWriter body;
        body.reserve(std::min(t.rowCount(), kMaxSaveRecords));
        std::string record;
        while (!t.eof()) {
            if (body.count() == kMaxSaveRecords)
                throw EftError("one save carries at most 32,767 rows");
            record.clear();
            appendSaveRecord(record, saveRowOf(t), st.PersonID, st.PersonType);
            body.add(record);
            t.moveNext();
        }
        ctx.postFormAndWait(pages::saveAddress(st.ptServerName), body.finish());
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
