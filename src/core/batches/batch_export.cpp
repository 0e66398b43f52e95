#include "batches/batch_export.h"

#include "batches/batch_list.h"
#include "control/context.h"
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
    try {
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        const ControlState& st = ctx.state;
        const std::string report =
            loadDocumentText(pages::exportAddress(st.ptServerName, st.PersonID, st.PersonType), ctx.fetch());
        if (!report.empty())
            ctx.messageBox({report, "EFT Batch Generation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
        ctx.host.exported(report);
    } catch (const std::exception&) {
        // Quiet: the move to "Update Batch Status" still follows.
    }
}

}  // namespace eft
