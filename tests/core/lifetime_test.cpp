// A host may destroy the control from any event, also from one that runs while the control
// waits for one of its five requests: the request ends, and nothing reaches the host again.
#include <gtest/gtest.h>

#include <functional>

#include "support/control_fixture.h"

namespace eft::test {
namespace {

using namespace std::chrono_literals;

// What a step of the operator works on.
struct Parts {
    ui::Screen& screen;
    driver::ScriptedHost& host;
    CannedServer& server;
};

struct RequestCase {
    const char* name;
    const char* target;                  // as the canned server matches it
    std::string reply;                   // what the server would answer, were it waited for
    std::function<void(Parts)> before;  // the operator's steps up to the request
    std::function<void(Parts)> act;     // the step that sends it
};

Row batchItem(int batch, int center, int member) {
    return {{"BatchControl", std::to_string(batch)}, {"CenterID", std::to_string(center)},
            {"Name", "Center " + std::to_string(center)}, {"MemberID", std::to_string(member)},
            {"Source", "1"}, {"Amount", "1"}, {"ExportedDate", "2011-03-05"}};
}

const char* kBatchList = "EFTMemberBatch.asp?TSQL=BatchList";

const RequestCase kRequests[] = {
    {"SweepLoad", "EFTMember.asp?countryID=1&Load=1", sweepReply({sweepRow(1, 7, 1, 0)}), [](Parts) {},
     [](Parts t) { t.screen.cmdLoadData.operatorClick(); }},
    {"Save", "EFTMember.asp", "",
     [](Parts t) {
         t.server.on("EFTMember.asp?countryID=1&Load=1", {sweepReply({sweepRow(1, 7, 1, 0)})});
         t.screen.cmdLoadData.operatorClick();
         t.screen.lstEFTCenter.operatorSetChecked(0, true);
         t.screen.cmdViewCenterDetails.operatorClick();
         t.screen.cmdSelectAllMerchandise.operatorClick();
         t.host.queueAnswer(MsgAnswer::Yes);
     },
     [](Parts t) { t.screen.cmdSaveMerchandise.operatorClick(); }},
    {"BatchList", kBatchList, sweepReply({batchItem(5, 7, 701)}), [](Parts) {},
     [](Parts t) { t.screen.tabEFT.operatorSelect(kTabBatchStatus); }},
    {"StatusCommit", "EFTMemberBatch.asp", "",
     [](Parts t) {
         t.server.on(kBatchList, {sweepReply({batchItem(5, 7, 701)})});
         t.screen.tabEFT.operatorSelect(kTabBatchStatus);
         t.screen.cmbBatches.operatorChoose(1);
         t.host.queueAnswer(MsgAnswer::Yes);
     },
     [](Parts t) { t.screen.cmdPassedFailed.operatorClick(); }},
    {"Export", "EFTMemberBatch.asp?ProcessExport=True&PersonID=7&PersonTypeID=2", "<Export>x</Export>",
     [](Parts t) { t.host.queueAnswer(MsgAnswer::Yes); },
     [](Parts t) { t.screen.tabEFT.operatorSelect(kTabExport); }},
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class DestroyedDuringRequest : public ControlTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(DestroyedDuringRequest, EndsTheRequestAndNeverCallsTheHostAgain) {
    const RequestCase& c = GetParam();
    c.before(Parts{control->screen(), host, server});
    // Every reply the control could go on to ask for is there, so only a closed control stops.
    CannedServer::Reply slow{c.reply};
    slow.delay = 400ms;
    if (c.target != std::string(kBatchList)) server.on(kBatchList, {sweepReply({})});
    server.on(c.target, slow);

    const auto sentTarget = [&] {
        std::size_t n = 0;
        for (const auto& r : server.requests()) n += r.target.rfind(c.target, 0) == 0;
        return n;
    };
    const std::size_t sentBefore = sentTarget();
    bool waiting = false;
    std::size_t boxesAtEnd = 0, requestsAtEnd = 0;
    int hostCallsAfter = 0;
    host.onBusyChanged = [&](bool busy) {
        if (!control) ++hostCallsAfter;
        waiting = busy;
    };
    // The host destroys the control once the server has the request and is still answering it.
    host.onProcessEvents = [&] {
        if (!control) ++hostCallsAfter;
        if (!waiting || !control || sentTarget() == sentBefore) return;
        boxesAtEnd = host.shown().size();
        requestsAtEnd = server.requests().size();
        control.reset();
    };
    host.onMessageBox = [&](const driver::ShownBox&) {
        if (!control) ++hostCallsAfter;
    };
    c.act(Parts{control->screen(), host, server});
    ASSERT_EQ(control, nullptr) << "the request was never waited for";
    EXPECT_EQ(hostCallsAfter, 0);
    EXPECT_EQ(host.shown().size(), boxesAtEnd);
    // Nothing follows the request under way: no batch list after an export or a commit, no
    // second try.
    EXPECT_EQ(server.requests().size(), requestsAtEnd);
}

INSTANTIATE_TEST_SUITE_P(Lifetime, DestroyedDuringRequest, ::testing::ValuesIn(kRequests),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace eft::test
