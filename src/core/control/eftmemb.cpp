#include "control/eftmemb.h"

#include "batches/batch_export.h"
#include "batches/batch_list.h"
#include "batches/batch_status.h"
#include "batches/reply_handling.h"
#include "control/context.h"
#include "members/member_list.h"
#include "members/member_save.h"
#include "members/member_selection.h"
#include "net/url_encode.h"
#include "sweep/center_commands.h"
#include "sweep/sweep_load.h"
#include "tables/field_lists.h"
#include "ui/layout.h"

namespace eft {

EFTMemb::EFTMemb(HostServices& host, ControlOptions options)
    : ctx_(std::make_shared<Context>(host, options.limits)) {
    ui::Screen& s = ctx_->screen;
    s.tabEFT.setVisible(kTabCenters, true);
    s.tabEFT.setVisible(kTabMembers, false);
    s.tabEFT.select(kTabCenters);
    s.lblVersionCentertab.setCaption(ui::versionCaption());
    s.lblVersionMerchandise.setCaption(ui::versionCaption());
    ctx_->state.CountryID = 1;
    ctx_->rsSweep.emplace(makeTable("rsSweep", sweepFields()));
    wireEvents();
}

EFTMemb::~EFTMemb() {
    // Destroyed from inside one of its own waits (the host closed it while a request ran):
    // the handlers on the stack keep the context, end the transfer and return to nobody.
    // Their tables stay until then.
    if (ctx_->eventDepth > 0) ctx_->close();
    else ctx_->rsSweep.reset();
}

// Every event enters the control here; when the outermost one ends, the views get the
// screen's changes in one coalesced batch. The handler holds the context, not the control,
// which its host may destroy while the handler waits.
template <typename F>
auto EFTMemb::handler(F f) {
    Context* ctx = ctx_.get();
    return [ctx, f](auto... args) {
        const std::shared_ptr<Context> keep = ctx->shared_from_this();
        ++keep->eventDepth;
        struct Leave {
            Context& c;
            ~Leave() {
                if (--c.eventDepth == 0 && !c.closed()) c.screen.flush();
            }
        } leave{*keep};
        f(*keep, args...);
    };
}

void EFTMemb::wireEvents() {
    ui::Screen& s = ctx_->screen;
    s.cmdLoadData.onClick = handler(&cmdLoadData_Click);
    s.optCountry.onClick = handler(&optCountry_Click);
    s.cmdSelectAllCenters.onClick = handler(&cmdSelectAllCenters_Click);
    s.cmdDeSelectAllCenters.onClick = handler(&cmdDeSelectAllCenters_Click);
    s.lstEFTCenter.onItemCheck = handler(&lstEFTCenter_ItemCheck);
    s.lstEFTCenter.onColumnClick = handler(&lstEFTCenter_ColumnClick);
    s.cmdViewCenterDetails.onClick = handler(&cmdViewCenterDetails_Click);
    s.lstEFTMember.onItemCheck = handler(&lstEFTMember_ItemCheck);
    s.lstEFTMember.onColumnClick = handler(&lstEFTMember_ColumnClick);
    s.cmdSelectAllMerchandise.onClick = handler(&cmdSelectAllMerchandise_Click);
    s.cmdDeSelectAllMerchandise.onClick = handler(&cmdDeSelectAllMerchandise_Click);
    s.cmdCancelMerchandiseList.onClick = handler(&cmdCancelMerchandiseList_Click);
    s.cmdSaveMerchandise.onClick = handler(&cmdSaveMerchandise_Click);
    s.tabEFT.onClick = handler([](Context& c, std::int16_t previous) {
        c.host.tabChanged(c.screen.tabEFT.selected());
        tabEFT_Click(c, previous);
    });
    s.cmbBatches.onClick = handler(&cmbBatches_Click);
    s.cmdPassedFailed.onClick = handler(&cmdPassedFailed_Click);
    ctx_->Inet1.onStateChanged = handler(&Inet1_StateChanged);
}

void EFTMemb::SetVariables(const std::string& ptServerName, const std::int32_t& PersonID,
                           const std::int16_t& PersonType) {
    ctx_->state.ptServerName = nextServerAddress(ctx_->state.ptServerName, ptServerName, ctx_->waitingCredentials);
    ctx_->state.PersonID = PersonID;
    ctx_->state.PersonType = PersonType;
    if (ctx_->host.setFocus(ctx_->screen.cmdLoadData.name())) ctx_->screen.setFocus(ctx_->screen.cmdLoadData.name());
    ctx_->screen.flush();
    ctx_->host.variablesSet();
}

void EFTMemb::setServerCredentials(const std::string& user, const std::string& password) {
    std::string& address = ctx_->state.ptServerName;
    if (namesServer(address)) {
        address = withCredentials(address, {user, password});
        ctx_->waitingCredentials = {};
    } else {
        ctx_->waitingCredentials = {user, user.empty() ? std::string() : password};
    }
}

bool EFTMemb::reload() {
    ui::Screen& s = ctx_->screen;
    if (ctx_->busy() || s.tabEFT.selected() == kTabMembers) return false;
    return s.optCountry.operatorChoose(ctx_->state.CountryID);
}

void EFTMemb::setOptions(const ControlOptions& options) { ctx_->setLimits(options.limits); }

std::string EFTMemb::urlEncode(const std::string& theData) const { return eft::urlEncode(theData); }

ui::Screen& EFTMemb::screen() { return ctx_->screen; }
const ControlState& EFTMemb::state() const { return ctx_->state; }
const Table* EFTMemb::sweepTable() const { return ctx_->rsSweep ? &*ctx_->rsSweep : nullptr; }
const Table& EFTMemb::batchTable() const { return ctx_->rsBatch; }

}  // namespace eft
