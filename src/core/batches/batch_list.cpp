#include "batches/batch_list.h"

#include "control/context.h"
#include "control/failure_box.h"
#include "net/address.h"
#include "net/pages.h"
#include "net/xml_reader.h"
#include "sweep/row_name.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"
#include "ui/layout.h"
#include "ui/phrases.h"

namespace eft {
namespace {


// "the batch item of member 1001, center 0012, batch 57" for the current row of the batch
// table, leaving out what the row lacks (and the batch, when it is not wanted).
std::string batchItemName(const Table& t, bool withBatch = true) {
    namespace F = batch_field;
    return rowName(ui::phrase::kBatchItem, ui::phrase::kBatchItemBare,
                   {{ui::phrase::kMemberId, t.integer(F::MemberID)},
                    {ui::phrase::kCenterId, t.integer(F::CenterID), true},
                    {ui::phrase::kBatchId, withBatch ? t.integer(F::BatchControl) : std::nullopt}});
}

// The batch's country by the caption of its option button, so the two never read differently;
// empty when the reply names no country (or one the control does not know).
std::string countryTip(std::optional<std::int32_t> country) {
    if (!country) return {};
    const ui::ElementLayout* option = ui::findLayout("optCountry", *country);
    return option ? std::string(option->caption) : std::string();
}

// The technical side of a failed read: the request, then the reader's words.
std::string readDetails(const std::string& address, std::string_view what) {
    std::string text(what);
    const std::string where = ui::fill(ui::phrase::kReadingWhere, {redactedAddress(address), ""});
    if (text.starts_with(where)) text.erase(0, where.size());
    return "GET " + redactedAddress(address) + "\r\n" + redactedText(text);
}

}  // namespace

void LoadBatchList(Context& ctx) {
    const std::string address = pages::batchListAddress(ctx.state.ptServerName);
    FetchResult outcome;
    try {
        PointerGuard pointer(ctx);
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        ctx.screen.lstBatchDetails.clear();
        ReadXmlRows(ctx.rsBatch, address, "BatchControl", ctx.fetch(std::string(ui::phrase::kReadingBatchList), &outcome),
                    XmlPath::FastFirst, [](const Table& t) { return batchItemName(t); });
    } catch (const std::exception& e) {
        failedBatchRead(ctx, {}, outcome.cause, readDetails(address, e.what()));
        return;
    }
    FillBatchCombo(ctx);
}

void failedBatchRead(Context& ctx, const std::string& batch, const std::string& cause, const std::string& details) {
    Table& t = ctx.rsBatch;
    if (t.isOpen() && !t.filter().empty()) t.setFilter("");
    t.emptyAndSort("BatchControl");
    ctx.screen.cmbBatches.clear();
    ctx.screen.cmbBatches.addEntry(std::string(ui::phrase::kBatchPrompt));
    ctx.screen.cmbBatches.select(0);  // empties the detail list
    ctx.screen.lstBatchDetails.clear();
    ctx.screen.lblIstr.setVisible(false);
    // The operator was just told the server failed the export; the list it could not give
    // either is the same failure.
    if (ctx.batchListFailureTold) return;
    const std::string why = cause.empty() ? std::string(ui::phrase::kReplyUnread) : cause;
    const std::string line = batch.empty() ? ui::fill(ui::phrase::kBatchListUnreadWhy, {why})
                                           : ui::fill(ui::phrase::kBatchNotListedWhy, {batch, why});
    ctx.showFailure({failureText(kFixedErrorText, line), std::string(kFailureTitle), MsgIcon::Exclamation,
                     MsgButtons::Ok, MsgAnswer::Ok, details});
}

void FillBatchCombo(Context& ctx) {
    namespace F = batch_field;
    ui::ComboBox& box = ctx.screen.cmbBatches;
    Table& t = ctx.rsBatch;
    try {
        box.clear();
        std::int32_t lastBatch = 0;
        box.addEntry(std::string(ui::phrase::kBatchPrompt));
        if (!t.bof() && !t.eof()) {
            t.moveFirst();
            while (!t.eof()) {
                const auto batch = t.integer(F::BatchControl);
                if (!batch) throw EftError(std::string(ui::phrase::kNoBatchControl));
                // 0 is where the grouping starts, so its items would stand in no entry: a batch
                // shown without them would be committed without them.
                if (*batch == 0) throw EftError(ui::fill(ui::phrase::kBatchZero, {batchItemName(t, false)}));
                if (*batch != lastBatch) {
                    lastBatch = *batch;
                    const auto exported = t.timestamp(F::ExportedDate);
                    const std::string country = countryTip(t.integer(F::Country));
                    // The country in the entry too: a tip is seen only by hovering.
                    const int entry = box.addEntry(ui::fill(country.empty() ? ui::phrase::kBatchEntry : ui::phrase::kBatchEntryOf,
                                                            {text::wholeNumber(*batch),
                                                             exported ? text::dateMonDY(exported->date()) : "", country}));
                    box.setItemData(entry, *batch);
                    box.setItemTip(entry, country);
                }
                t.moveNext();
            }
        }
        box.select(0);
    } catch (const std::exception& e) {
        failedBatchRead(ctx, {}, {}, redactedText(e.what()));
    }
}

}  // namespace eft
