#include "batches/batch_export.h"

#include "batches/batch_list.h"
#include "control/context.h"
#include "control/failure_box.h"
#include "net/address.h"
#include "net/pages.h"
#include "net/xml_reader.h"

namespace eft {

void tabEFT_Click(Context& ctx, std::int16_t PreviousTab) {
    ui::TabStrip& tabs = ctx.screen.tabEFT;
    try {
        if (tabs.selected() == kTabExport) {
            // The tab strip moving off a hidden "List of Centers" is no request to export.
            if (!tabs.tab(kTabCenters).visible && PreviousTab == kTabCenters) return;
            const MsgAnswer answer =
                ctx.messageBox({"Do you want to export eligible items to two ASCII files (USA/Canada) ? ",
                                "EFT Batch Generation", MsgIcon::Information, MsgButtons::YesNo, MsgAnswer::Yes});
            if (answer != MsgAnswer::Yes) {
                if (PreviousTab >= 0 && PreviousTab < tabs.count() && tabs.tab(PreviousTab).visible)
                    tabs.select(PreviousTab);
                return;
            }
            ExportBatchFiles(ctx);
            tabs.select(kTabBatchStatus);
        } else if (tabs.selected() == kTabBatchStatus) {
            ctx.screen.lblIstr.setVisible(false);
            LoadBatchList(ctx);
        }
    } catch (const std::exception&) {
        // Quiet by design.
    }
}

void ExportBatchFiles(Context& ctx) {
    PointerGuard pointer(ctx);
    const ControlState& st = ctx.state;
    const std::string address = pages::exportAddress(st.ptServerName, st.PersonID, st.PersonType);
    // A failed export must not look like one that ran: the move to "Update Batch Status"
    // follows either way, so the failure is said here, once.
    std::string failure;
    FetchResult outcome;
    try {
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        std::string why;
        const std::string report =
            loadDocumentText(address, ctx.fetch("Exporting the batch", &outcome), &why, pages::kExportRoot);
        if (!why.empty())
            failure = "Reading " + redactedAddress(address) + ": " + why;
        else if (!report.empty())
            ctx.messageBox({report, "EFT Batch Generation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
        if (why.empty()) ctx.host.exported(report);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure.empty()) return;
    const std::string why =
        outcome.cause.empty() ? "the server's report could not be read. Tell the server's administrator." : outcome.cause;
    ctx.showFailure({"The batch export failed: " + why, "EFT Batch Generation", MsgIcon::Critical, MsgButtons::Ok,
                     MsgAnswer::Ok, "GET " + redactedAddress(address) + "\r\n" + redactedAddress(failure)});
}

}  // namespace eft
