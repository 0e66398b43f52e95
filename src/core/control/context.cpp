#include "control/context.h"

#include "base/error.h"
#include "control/failure_box.h"
#include "control/input_guard.h"
#include "net/address.h"
#include "net/pages.h"
#include "tables/field_lists.h"
#include "ui/phrases.h"

namespace eft {

Context::Context(HostServices& h, const HttpLimits& l)
    : host(h), limits(l), rsBatch(makeTable("rsBatch", batchFields())), Inet1(l) {}

MsgAnswer Context::messageBox(const MessageBoxRequest& request) {
    screen.flush();
    return host.messageBox(fittedForBox(request));
}

void Context::showFailure(const MessageBoxRequest& request) {
    // One place for it: no failure text, whoever wrote it (curl, the reader, the server),
    // shows the user part of an address.
    MessageBoxRequest shown = request;
    shown.text = redactedText(request.text);
    messageBox(shown);
    host.errorShown(shown.text);
}

void Context::doEvents() {
    screen.flush();
    host.processEvents();
}

void Context::setMousePointer(ui::MousePointer pointer) {
    if (screen.mousePointer() == pointer) return;
    screen.setMousePointer(pointer);
    host.setMousePointer(pointer);
}

void Context::close() {
    host.detach();
    Inet1.abort();
}

void Context::setLimits(const HttpLimits& l) {
    limits = l;
    Inet1.setLimits(l);
}

Context::BusyScope::BusyScope(Context& ctx) : ctx_(ctx) {
    if (ctx_.busyDepth_++ == 0) ctx_.host.busyChanged(true);
}

Context::BusyScope::~BusyScope() {
    if (--ctx_.busyDepth_ == 0) ctx_.host.busyChanged(false);
}

Fetch Context::fetch(std::string what, FetchResult* outcome) {
    return [this, what = std::move(what), outcome](const std::string& address, const BodyConsumer& consume) {
        BusyScope busy(*this);
        host.transferStarted(what);
        InputGuard guard(screen);
        if (closed()) return FetchResult{false, 0, "the control was closed"};
        TransferWait wait;
        wait.turn = [this] { doEvents(); };
        wait.cancelled = [this] { return closed(); };
        wait.progress = [this](long long received, long long total) { host.transferProgress(received, total); };
        if (outcome) *outcome = FetchResult{};
        FetchResult result = httpGet(address, limits, consume, wait);
        if (outcome) *outcome = result;
        return result;
    };
}

Table& Context::sweep() {
    if (!rsSweep) throw EftError("the sweep table has been released");
    return *rsSweep;
}

void Context::postFormAndWait(const std::string& address, std::string body, std::string_view extraHeader) {
    if (closed()) return;
    BusyScope busy(*this);
    const int tab = screen.tabEFT.selected();
    host.transferStarted(std::string(tab == kTabMembers       ? ui::phrase::kSaving
                                     : tab == kTabBatchStatus ? ui::phrase::kCommitting
                                                              : ui::phrase::kSending));
    Inet1.execute(address, pages::kPostVerb, std::move(body), pages::kFormHeader, extraHeader);
    long long reported = -1;
    auto report = [&] {
        if (Inet1.received() == reported) return;
        reported = Inet1.received();
        host.transferProgress(reported, Inet1.announcedTotal());
    };
    while (Inet1.stillExecuting()) {
        report();
        doEvents();
        Inet1.waitForActivity(std::chrono::milliseconds(50));
    }
}

}  // namespace eft
