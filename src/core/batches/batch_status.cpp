#include "batches/batch_status.h"

#include <vector>

#include "batches/batch_list.h"
#include "control/context.h"
#include "net/address.h"
#include "net/pages.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {
namespace {

constexpr int kCenterColumn = 1;
constexpr int kNameColumn = 2;
constexpr int kAmountColumn = 3;
constexpr int kMemberListColumn = 5;  // hidden: what "Commit" sends

std::vector<std::string> splitIds(const std::string& list) {
    std::vector<std::string> ids;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        ids.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return ids;
}

void appendList(std::string& list, std::string_view members) {
    if (!list.empty()) list += ',';
    list += members;
}

}  // namespace

void cmbBatches_Click(Context& ctx) {
    namespace F = batch_field;
    ui::Screen& s = ctx.screen;
    const int selected = s.cmbBatches.selected();
    if (selected < 0) return;
    if (selected == 0) {
        s.lstBatchDetails.clear();
        return;
    }
    PointerGuard pointer(ctx);
    try {
        const std::int32_t batch = s.cmbBatches.itemData(selected);
        Table& t = ctx.rsBatch;
        t.setFilter(" BatchControl = " + text::wholeNumber(batch));
        t.setSort("CenterID");
        t.moveFirst();
        s.lblIstr.setVisible(true);
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        ui::ListView& list = s.lstBatchDetails;
        list.clear();
        std::int32_t lastCenter = 0;
        // In whole cents, so a center's amount is the sum of its items, as its bank file entry is.
        text::Cents centerAmount = 0;
        std::string members;
        int line = -1;
        while (!t.eof()) {
            const auto center = t.integer(F::CenterID);
            if (!center) throw EftError("a batch item has no CenterID");
            if (*center != lastCenter) {
                lastCenter = *center;
                centerAmount = 0;
                members.clear();
                line = list.addLine();
                list.setSubItem(line, kCenterColumn, text::centerNumber(*center));
                const auto name = t.text(F::Name);
                if (!name) throw EftError("a batch item has no Name");
                list.setSubItem(line, kNameColumn, *name);
                list.setChecked(line, false);
                // The server would refuse to clear it; the operator learns why before "Commit",
                // and the return is recorded whatever the commit says of it.
                if (const auto code = t.text(F::ReturnCode)) {
                    list.setTip(line, ui::fill(ui::phrase::kReturnedCenter,
                                               {*code, t.text(F::ReturnReason).value_or(""),
                                                t.text(F::ReturnedDate).value_or("")}));
                    list.setLocked(line, true);
                }
            }
            if (line < 0) throw EftError("a batch item has the center id 0");
            const auto amount = t.single(F::Amount);
            const auto member = t.integer(F::MemberID);
            if (!amount || !member) throw EftError("a batch item has no Amount or MemberID");
            centerAmount += text::toCents(*amount);
            list.setSubItem(line, kAmountColumn, text::amount(centerAmount));
            if (!members.empty()) members += ',';
            if (t.integer(F::Source) == 2) members += '-';
            members += text::wholeNumber(*member);
            list.setSubItem(line, kMemberListColumn, members);
            t.moveNext();
        }
        t.setFilter("");
        t.setSort("BatchControl");
    } catch (const std::exception& e) {
        failedBatchRead(ctx, text::wholeNumber(s.cmbBatches.itemData(selected)), {},
                        redactedText(e.what()));
    }
}

void cmdPassedFailed_Click(Context& ctx) {
    ui::Screen& s = ctx.screen;
    if (s.cmbBatches.selected() <= 0) {
        ctx.messageBox({std::string(ui::phrase::kNoBatchChosen),
                        std::string(ui::phrase::kValidationTitle), MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
        return;
    }
    std::string cleared, failed;
    int centersCleared = 0, centersFailed = 0;
    for (const auto& line : s.lstBatchDetails.lines()) {
        appendList(line.checked ? cleared : failed, line.sub[kMemberListColumn - 1]);
        ++(line.checked ? centersCleared : centersFailed);
    }
    if (cleared.empty() && failed.empty()) return;
    // With no center ticked, Yes would record every center of the batch as failed: a slip of
    // the Enter key must not do that, so the question then defaults to No.
    const MsgAnswer byDefault = cleared.empty() ? MsgAnswer::No : MsgAnswer::Yes;
    if (ctx.messageBox({std::string(ui::phrase::kAskCommit),
                        std::string(ui::phrase::kValidationTitle), MsgIcon::Information, MsgButtons::YesNo, byDefault}) !=
        MsgAnswer::Yes)
        return;

    // While the commit waits, "Update Batch Status" must stay the tab showing and its batch
    // stay chosen: the reply is judged by the tab, and a refused commit must be seen.
    s.cmdPassedFailed.setEnabled(false);
    s.cmbBatches.setEnabled(false);
    std::vector<bool> tabWasEnabled;
    for (int i = 0; i < s.tabEFT.count(); ++i) {
        tabWasEnabled.push_back(s.tabEFT.tab(i).enabled);
        if (i != kTabBatchStatus) s.tabEFT.setEnabled(i, false);
    }
    ctx.setMousePointer(ui::MousePointer::Hourglass);
    try {
        const ControlState& st = ctx.state;
        const std::int32_t batch = s.cmbBatches.itemData(s.cmbBatches.selected());
        const std::string body = pages::statusBody(cleared.empty() ? std::vector<std::string>{} : splitIds(cleared),
                                                   failed.empty() ? std::vector<std::string>{} : splitIds(failed),
                                                   st.PersonID, st.PersonType,
                                                   s.cmbBatches.itemData(s.cmbBatches.selected()));
        ctx.postFormAndWait(pages::statusAddress(st.ptServerName), body);
        // Only an accepted commit empties the batch's lines (Inet1_StateChanged).
        if (s.lstBatchDetails.lineCount() == 0) ctx.host.batchCommitted(batch, centersCleared, centersFailed);
    } catch (const std::exception&) {
        // Quiet; "Commit" and the tabs are restored below whatever happened.
    }
    ctx.setMousePointer(ui::MousePointer::Normal);
    for (int i = 0; i < s.tabEFT.count(); ++i)
        if (i != kTabBatchStatus) s.tabEFT.setEnabled(i, tabWasEnabled[static_cast<std::size_t>(i)]);
    s.cmbBatches.setEnabled(true);
    s.cmdPassedFailed.setEnabled(true);
}

}  // namespace eft
