#include "batches/batch_export.h"

#include "batches/batch_list.h"
#include "control/context.h"
#include "control/failure_box.h"
#include "net/address.h"
#include "net/pages.h"
#include "net/xml_reader.h"
#include "ui/phrases.h"

namespace eft {

void tabEFT_Click(Context& ctx, std::int16_t PreviousTab) {
    ui::TabStrip& tabs = ctx.screen.tabEFT;
    try {
        if (tabs.selected() == kTabExport) {
            // The tab strip moving off a hidden "List of Centers" is no request to export.
            if (!tabs.tab(kTabCenters).visible && PreviousTab == kTabCenters) return;
            const MsgAnswer answer =
                ctx.messageBox({std::string(ui::phrase::kAskExport),
                                std::string(ui::phrase::kBatchTitle), MsgIcon::Information, MsgButtons::YesNo, MsgAnswer::Yes});
            if (answer != MsgAnswer::Yes) {
                if (PreviousTab >= 0 && PreviousTab < tabs.count() && tabs.tab(PreviousTab).visible)
                    tabs.select(PreviousTab);
                return;
            }
            const bool failed = ExportBatchFiles(ctx);
            ctx.batchListFailureTold = failed;
            tabs.select(kTabBatchStatus);
            ctx.batchListFailureTold = false;
        } else if (tabs.selected() == kTabBatchStatus) {
            ctx.screen.lblIstr.setVisible(false);
            LoadBatchList(ctx);
        }
    } catch (const std::exception&) {
        // Quiet by design.
        ctx.batchListFailureTold = false;
    }
}

bool ExportBatchFiles(Context& ctx) {
    PointerGuard pointer(ctx);
    const ControlState& st = ctx.state;
    const std::string address = pages::exportAddress(st.ptServerName, st.PersonID, st.PersonType);
    // A failed or refused export must not look like one that ran: the move to "Update Batch
    // Status" follows either way, so the failure is said here, once, in the failure box.
    std::string failure;
    bool refused = false;
    std::string refusal;
    FetchResult outcome;
    try {
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        std::string why;
        std::string report = loadDocumentText(address, ctx.fetch(std::string(ui::phrase::kExporting), &outcome), &why,
                                              true, XmlPath::FastFirst, pages::kExportRefusal, &refused);
        if (!why.empty()) {
            failure = ui::fill(ui::phrase::kReadingWhere, {redactedAddress(address), why});
        } else if (refused) {
            refusal = std::move(report);
        } else {
            if (!report.empty())
                ctx.messageBox({report, std::string(ui::phrase::kBatchTitle), MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
            ctx.host.exported(report);
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    const std::string request = "GET " + redactedAddress(address);
    if (refused) {
        const std::string reason = firstLine(refusal);
        ctx.showFailure({failureText(kFixedErrorText, reason.empty() ? std::string(ui::phrase::kExportRefusedBare)
                                                                     : ui::fill(ui::phrase::kExportRefused, {reason})),
                         std::string(kFailureTitle), MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok,
                         request + "\r\n\r\n" + refusal});
        return false;
    }
    if (failure.empty()) return false;
    const std::string why =
        outcome.cause.empty() ? std::string(ui::phrase::kReportUnread) : outcome.cause;
    ctx.showFailure({failureText(kFixedErrorText, ui::fill(ui::phrase::kExportFailed, {why})), std::string(kFailureTitle),
                     MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok, request + "\r\n" + redactedAddress(failure)});
    return true;
}

}  // namespace eft
