#include "batches/batch_export.h"

#include <expat.h>

#include <memory>

#include "batches/batch_list.h"
#include "control/context.h"
#include "net/address.h"
#include "net/pages.h"
#include "net/xml_reader.h"

namespace eft {
namespace {

// Whether a reply whose document gave no text is a document at all: an empty report is no
// failure, a page that is not XML is.
bool isWellFormedXml(std::string_view body) {
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr), &XML_ParserFree);
    if (!parser) return false;
    return XML_Parse(parser.get(), body.data(), static_cast<int>(body.size()), XML_TRUE) == XML_STATUS_OK;
}

bool isBlank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

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
    try {
        ctx.setMousePointer(ui::MousePointer::Hourglass);
        const Fetch live = ctx.fetch();
        FetchResult fetched;
        bool requested = false;
        std::string body;
        const Fetch recording = [&](const std::string& a, const BodyConsumer& consume) {
            requested = true;
            fetched = live(a, [&](std::string_view piece) {
                body.append(piece);
                return consume(piece);
            });
            return fetched;
        };
        const std::string report = loadDocumentText(address, recording);
        if (!requested || !fetched.ok) {
            failure = "Requesting " + address + ": " +
                      (fetched.error.empty() ? std::string("the reply could not be read") : fetched.error);
        } else if (report.empty() && !isWellFormedXml(body)) {
            failure = "Reading " + address + ": " + (isBlank(body) ? "the reply is empty" : "the reply is not XML");
        } else if (!report.empty()) {
            ctx.messageBox({report, "EFT Batch Generation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!failure.empty())
        ctx.messageBox({"The batch export failed.\r\n" + redactedAddress(failure), "EFT Batch Generation",
                        MsgIcon::Critical, MsgButtons::Ok, MsgAnswer::Ok});
}

}  // namespace eft
