#include "batches/reply_handling.h"

#include <string>

#include "batches/batch_list.h"
#include "control/context.h"
#include "control/failure_box.h"
#include "net/address.h"
#include "net/transfer.h"
#include "sweep/center_list.h"
#include "ui/phrases.h"

namespace eft {
namespace {

constexpr std::size_t kPieceBytes = 1024;

void showError(Context& ctx, const std::string& text, std::string details = {}) {
    ctx.showFailure({text, std::string(kFailureTitle), MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok,
                     std::move(details)});
}

// A post that went out whole and was not answered: the server may have done it, so the operator
// must not be told it failed, nor retry blind. A second save or commit of the same rows is
// refused by the server, but only a reload shows what was recorded.
void showUnknownOutcome(Context& ctx, const std::string& what) {
    const Transfer& t = ctx.Inet1;
    const std::string text = failureText(kFixedErrorText, ui::fill(ui::postWords(what).mayBeRecorded, {t.lastCause()}));
    showError(ctx, text,
              "POST " + t.lastAddress() + "\r\n" + t.lastError() +
                  "\r\n" + std::string(ui::phrase::kSentWholeUnanswered));
    ctx.host.postOutcomeUnknown(what, redactedText(text));
}

// A post that failed on its way or was refused: the fixed text, then what could not be done and
// why (the server's own reason when it gave one), the technical detail behind the box.
void showPostFailure(Context& ctx) {
    const Transfer& t = ctx.Inet1;
    const int tab = ctx.screen.tabEFT.selected();
    const std::string what = tab == kTabMembers ? "save" : tab == kTabBatchStatus ? "commit" : "request";
    if (t.outcomeUnknown()) {
        showUnknownOutcome(ctx, what);
        return;
    }
    const long status = t.refusedStatus();
    // A login demand or an error page of whatever stands in front of the server is no reason.
    std::string reason = firstLine(t.refusedReply());
    if (status == 401 || reason.starts_with('<')) reason.clear();
    std::string line;
    if (status && !reason.empty())
        line = ui::fill(ui::postWords(what).refused, {std::to_string(status), reason});
    else if (status)
        line = ui::fill(ui::postWords(what).notTaken, {t.lastCause()});
    else
        line = ui::fill(ui::postWords(what).failed, {t.lastCause()});
    std::string details = "POST " + t.lastAddress() + "\r\n" + t.lastError();
    if (!t.refusedReply().empty()) details += "\r\n\r\n" + t.refusedReply();
    showError(ctx, failureText(kFixedErrorText, line), std::move(details));
}

// Reads the whole body in pieces, letting events run after each, as the transfer reports it.
std::string readReply(Context& ctx) {
    std::string reply;
    std::string piece = ctx.Inet1.getChunk(kPieceBytes);
    ctx.doEvents();
    do {
        reply += piece;
        piece = ctx.Inet1.getChunk(kPieceBytes);
        ctx.doEvents();
    } while (!piece.empty());
    return reply;
}

void savedRowsAccepted(Context& ctx) {
    ui::Screen& s = ctx.screen;
    s.lstEFTMember.clear();
    Table& t = ctx.sweep();
    // The save left the member filter in place: it lets through exactly the posted rows.
    if (!t.bof()) t.moveFirst();
    const int saved = static_cast<int>(t.rowCount());
    while (t.rowCount() != 0) {
        t.deleteCurrent();
        t.moveNext();
    }
    t.setFilter("");
    s.tabEFT.setVisible(kTabCenters, true);
    s.tabEFT.setVisible(kTabMembers, false);
    s.tabEFT.select(kTabCenters);
    FillCenterList(ctx);
    ctx.host.saved(saved);
}

void commitAccepted(Context& ctx) {
    ctx.screen.lstBatchDetails.clear();
    ctx.screen.lblIstr.setVisible(false);
    LoadBatchList(ctx);
}

}  // namespace

bool isBlankReply(std::string_view reply) { return reply.find_first_not_of(' ') == std::string_view::npos; }

void Inet1_StateChanged(Context& ctx, std::int16_t State) {
    try {
        if (State == Transfer::kStateError) {
            // A reply that was not 2xx is named, so a refusal by the server (or by whatever
            // stands in front of it) is not taken for a network fault.
            showPostFailure(ctx);
            return;
        }
        if (State != Transfer::kStateResponseCompleted) return;

        const std::string reply = readReply(ctx);
        const bool blank = isBlankReply(reply);
        switch (ctx.screen.tabEFT.selected()) {
            case kTabMembers:
                ctx.setMousePointer(ui::MousePointer::Normal);
                if (blank) savedRowsAccepted(ctx);
                else showError(ctx, reply);
                break;
            case kTabExport:
                ctx.setMousePointer(ui::MousePointer::Normal);
                if (blank)
                    ctx.messageBox({"\r\n", std::string(ui::phrase::kBatchTitle), MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok});
                else showError(ctx, reply);
                break;
            case kTabBatchStatus:
                ctx.setMousePointer(ui::MousePointer::Normal);
                if (blank) commitAccepted(ctx);
                else showError(ctx, reply);
                break;
            default: break;  // read and dropped
        }
    } catch (const std::exception&) {
        // A step of the refresh failed; the lists keep what they show and the sender's wait
        // ends as usual.
    }
}

}  // namespace eft
