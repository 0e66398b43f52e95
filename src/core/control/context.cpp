#include "control/context.h"

#include "base/error.h"
#include "net/pages.h"
#include "tables/field_lists.h"

namespace eft {

Context::Context(HostServices& h, const HttpLimits& l)
    : host(h), limits(l), rsBatch(makeTable("rsBatch", batchFields())), Inet1(l) {}

MsgAnswer Context::messageBox(const MessageBoxRequest& request) {
    screen.flush();
    return host.messageBox(request);
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

Fetch Context::fetch() const { return blockingFetch(limits); }

Table& Context::sweep() {
    if (!rsSweep) throw EftError("the sweep table has been released");
    return *rsSweep;
}

void Context::postFormAndWait(const std::string& address, std::string body) {
    Inet1.execute(address, pages::kPostVerb, std::move(body), pages::kFormHeader);
    while (Inet1.stillExecuting()) {
        doEvents();
        Inet1.waitForActivity(std::chrono::milliseconds(50));
    }
}

}  // namespace eft
