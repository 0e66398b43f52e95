// Batches: the batch list, a batch's centers and their commit, the export, and replies that
// complete on each tab.
#include <gtest/gtest.h>

#include "batches/reply_handling.h"
#include "support/control_fixture.h"

namespace eft::test {
namespace {

Row item(int batch, int center, int member, const std::string& amount, int source = 1,
         const std::string& exported = "2009-03-05T09:30:00") {
    Row r{{"BatchControl", std::to_string(batch)},
          {"CenterID", std::to_string(center)},
          {"Name", "Center " + std::to_string(center)},
          {"MemberID", std::to_string(member)},
          {"Source", std::to_string(source)},
          {"Amount", amount}};
    if (!exported.empty()) r["ExportedDate"] = exported;
    return r;
}

const char* kBatchList = "EFTMemberBatch.asp?TSQL=BatchList";
const char* kExport = "EFTMemberBatch.asp?ProcessExport=True&PersonID=7&PersonTypeID=2";

class BatchTest : public ControlTest {
protected:
    void serveBatches(const std::vector<Row>& items) { server.on(kBatchList, {sweepReply(items)}); }
    std::vector<std::string> entries() {
        std::vector<std::string> out;
        for (const auto& e : screen().cmbBatches.entries()) out.push_back(e.text + "|" + std::to_string(e.data));
        return out;
    }
    std::size_t fetches(const std::string& target) {
        std::size_t n = 0;
        for (const auto& r : server.requests()) n += r.target == target;
        return n;
    }
    void enterBatchStatus() { ASSERT_TRUE(screen().tabEFT.operatorSelect(kTabBatchStatus)); }
};

TEST_F(BatchTest, OneEntryPerBatchInBatchOrder) {
    // A batch's first row names its country; a batch with none (an older server's reply) gets no tip.
    const auto in = [](Row r, int country) {
        r["Country"] = std::to_string(country);
        return r;
    };
    serveBatches({in(item(15, 3, 9, "1", 1, "2010-12-31"), 1), in(item(12, 34, 1, "1", 1, "3/5/2009 9:30 AM"), 2),
                  in(item(12, 12, 2, "1", 1, "2011-01-01"), 1), item(12, 12, 3, "1"), item(16, 5, 5, "1", 1, "")});
    enterBatchStatus();
    EXPECT_EQ(entries(), (std::vector<std::string>{" Please Select Batch Number : |0",
                                                   " Batch # : 12     Exported : Mar 05, 2009     Canada|12",
                                                   " Batch # : 15     Exported : Dec 31, 2010     United States|15",
                                                   " Batch # : 16     Exported : |16"}));
    std::vector<std::string> tips;
    for (const auto& e : screen().cmbBatches.entries()) tips.push_back(e.tip);
    EXPECT_EQ(tips, (std::vector<std::string>{"", "Canada", "United States", ""}));
    EXPECT_EQ(screen().cmbBatches.selected(), 0);
    EXPECT_FALSE(screen().lblIstr.visible());
    EXPECT_EQ(screen().lstBatchDetails.lineCount(), 0);
}

TEST_F(BatchTest, ABatchListsItsCentersWithAmountsAndMemberIds) {
    serveBatches({item(57, 34, 2001, "1234.5"), item(57, 12, 1001, "10.5"), item(57, 12, 1002, "20.25", 2),
                  item(57, 12, 1003, "0.25"), item(58, 77, 77, "5", 2)});
    enterBatchStatus();
    screen().cmbBatches.operatorChoose(1);
    EXPECT_TRUE(screen().lblIstr.visible());
    const auto& list = screen().lstBatchDetails;
    ASSERT_EQ(list.lineCount(), 2);
    EXPECT_EQ(list.line(0).sub, (std::vector<std::string>{"0012", "Center 12", "31.00", "", "1001,-1002,1003"}));
    EXPECT_EQ(list.line(1).sub, (std::vector<std::string>{"0034", "Center 34", "1234.50", "", "2001"}));
    EXPECT_EQ(control->batchTable().filter(), "");
    screen().cmbBatches.operatorChoose(2);
    EXPECT_EQ(list.line(0).sub[4], "-77");
    screen().cmbBatches.operatorChoose(0);
    EXPECT_EQ(list.lineCount(), 0);
    EXPECT_TRUE(screen().lblIstr.visible());  // the prompt leaves the label as it was
}

TEST_F(BatchTest, ACentersAmountIsTheSumOfItsItemsToTheCent) {
    std::vector<Row> items{item(57, 12, 1, "16000")};
    for (int i = 0; i < 1000; ++i) items.push_back(item(57, 12, 2 + i, "0.01"));
    serveBatches(items);
    enterBatchStatus();
    screen().cmbBatches.operatorChoose(1);
    EXPECT_EQ(screen().lstBatchDetails.subItem(0, 3), "16010.00");
}

// The road: a batch list cut short kept the old entries, batch 5 then listed only
// center 0007, and its commit left center 0009's items without a status. A failed read now
// offers nothing and says why.
TEST_F(BatchTest, ACutBatchListOffersNothingAndNothingCanBeCommitted) {
    const std::vector<Row> batch5{item(5, 7, 701, "10"), item(5, 9, 901, "20")};
    serveBatches(batch5);
    enterBatchStatus();
    ASSERT_EQ(entries().size(), 2u);

    CannedServer::Reply cut{sweepReply(batch5)};
    cut.cutMidway = true;
    server.on(kBatchList, cut);
    screen().tabEFT.operatorSelect(kTabCenters);
    enterBatchStatus();
    ASSERT_EQ(host.shown().size(), 1u);
    EXPECT_EQ(host.shown()[0].request.title, "ERROR");
    EXPECT_EQ(host.shown()[0].request.text.rfind(" Error !  \r\nThe batch list could not be read: ", 0), 0u)
        << host.shown()[0].request.text;
    EXPECT_EQ(host.shown()[0].request.details.rfind("GET http://127.0.0.1:", 0), 0u) << host.shown()[0].request.details;
    EXPECT_EQ(entries(), std::vector<std::string>{" Please Select Batch Number : |0"});
    EXPECT_EQ(control->batchTable().rowCount(), 0u);
    EXPECT_FALSE(screen().cmbBatches.operatorChoose(1));
    screen().cmdPassedFailed.operatorClick();
    EXPECT_EQ(server.countOf("POST"), 0u);
    ASSERT_EQ(host.shown().size(), 2u);
    EXPECT_EQ(host.shown()[1].request.title, "Information Validation");
    EXPECT_NE(host.shown()[1].request.text.find("No batch is chosen"), std::string::npos);
}

// Every way a batch list read can fail ends alike: one box naming the cause, the box down to
// its prompt, the detail list empty.
TEST_F(BatchTest, AFailedBatchListReadEmptiesTheBoxAndTheList) {
    const struct {
        const char* name;
        CannedServer::Reply reply;
        const char* cause;
    } cases[] = {
        {"server error", {"", 500}, "HTTP 500"},
        {"refused with rows", {sweepReply({item(99, 8, 2001, "1")}), 404}, "HTTP 404"},
        {"cut short", {"<r><i><BatchControl>5</BatchControl></i><i><Batch"}, "not XML"},
        {"unknown field", {"<r><i><BatchControl>5</BatchControl><Bogus>1</Bogus></i></r>"}, "Bogus"},
        {"no batch number", {"<r><i><CenterID>7</CenterID></i></r>"}, "has no BatchControl"},
        // 0 starts the grouping: its items would stand in no entry, unseen.
        {"batch number 0", {sweepReply({item(12, 12, 3, "1"), item(0, 5, 4, "1")})},
         "the batch item of member 4, center 0005 has the batch number 0"},
    };
    for (const auto& c : cases) {
        serveBatches({item(57, 12, 1001, "10"), item(58, 15, 1501, "5")});
        screen().tabEFT.operatorSelect(kTabCenters);
        enterBatchStatus();
        ASSERT_TRUE(screen().cmbBatches.operatorChoose(1)) << c.name;
        ASSERT_EQ(screen().lstBatchDetails.lineCount(), 1) << c.name;
        host.clearShown();
        server.on(kBatchList, c.reply);
        screen().tabEFT.operatorSelect(kTabCenters);
        enterBatchStatus();
        ASSERT_EQ(host.shown().size(), 1u) << c.name;
        const std::string told = host.shown()[0].request.text + "\n" + host.shown()[0].request.details;
        EXPECT_NE(told.find(c.cause), std::string::npos) << told;
        EXPECT_EQ(entries(), std::vector<std::string>{" Please Select Batch Number : |0"}) << c.name;
        EXPECT_EQ(screen().lstBatchDetails.lineCount(), 0) << c.name;
        EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal) << c.name;
    }
}

// A batch whose rows cannot be listed whole is not offered for a commit either.
TEST_F(BatchTest, ABatchThatCannotBeListedWholeIsNotOffered) {
    const struct {
        const char* name;
        Row bad;
        const char* cause;
    } cases[] = {
        {"center 0", item(57, 0, 2, "1"), "center id 0"},
        {"no name", Row{{"BatchControl", "57"}, {"CenterID", "34"}, {"MemberID", "3"}, {"Amount", "1"}}, "no Name"},
        {"no amount", Row{{"BatchControl", "57"}, {"CenterID", "34"}, {"Name", "C"}, {"MemberID", "3"}}, "no Amount"},
    };
    for (const auto& c : cases) {
        serveBatches({item(57, 12, 1, "1"), c.bad});
        host.clearShown();
        screen().tabEFT.operatorSelect(kTabCenters);
        enterBatchStatus();
        ASSERT_TRUE(screen().cmbBatches.operatorChoose(1)) << c.name;
        ASSERT_EQ(host.shown().size(), 1u) << c.name;
        EXPECT_EQ(host.shown()[0].request.text.rfind(" Error !  \r\nBatch 57 could not be listed: ", 0), 0u)
            << host.shown()[0].request.text;
        EXPECT_NE(host.shown()[0].request.details.find(c.cause), std::string::npos) << host.shown()[0].request.details;
        EXPECT_EQ(entries(), std::vector<std::string>{" Please Select Batch Number : |0"}) << c.name;
        EXPECT_EQ(screen().lstBatchDetails.lineCount(), 0) << c.name;
        EXPECT_EQ(control->batchTable().filter(), "") << c.name;
        screen().cmdPassedFailed.operatorClick();
        EXPECT_EQ(server.countOf("POST"), 0u) << c.name;
    }
}

class CommitTest : public BatchTest {
protected:
    void SetUp() override {
        serveBatches({item(57, 12, 1001, "10"), item(57, 12, 1002, "5", 2), item(57, 34, 2001, "7")});
        enterBatchStatus();
        screen().cmbBatches.operatorChoose(1);
    }
    std::vector<std::string> posts() {
        std::vector<std::string> out;
        for (const auto& r : server.requests())
            if (r.method == "POST") out.push_back(r.target + " " + r.body);
        return out;
    }
    void commit(MsgAnswer answer = MsgAnswer::Yes) {
        host.queueAnswer(answer);
        screen().cmdPassedFailed.operatorClick();
    }
};

TEST_F(CommitTest, TheWorkedExampleBody) {
    control->SetVariables(server.base(), 9, 2);
    server.on("EFTMemberBatch.asp", {""});
    screen().lstBatchDetails.operatorSetChecked(0, true);
    commit();
    ASSERT_EQ(posts(), std::vector<std::string>{
                           "EFTMemberBatch.asp GoodMemb=1001&GoodMemb=-1002&BadMemb=2001&PersonID=9&PersonType=2&"
                           "BatchNo=57&"});
    EXPECT_EQ(titles().front(),
              "Information Validation|Do you want to set selected items as \"Cleared\" and unselected as Failed ? ");
    // Accepted: the list is fetched again and the box is back on its prompt.
    EXPECT_EQ(fetches(kBatchList), 2u);
    EXPECT_EQ(screen().cmbBatches.selected(), 0);
    EXPECT_EQ(screen().lstBatchDetails.lineCount(), 0);
    EXPECT_FALSE(screen().lblIstr.visible());
    EXPECT_TRUE(screen().cmdPassedFailed.enabled());
    EXPECT_TRUE(screen().cmbBatches.enabled());
    EXPECT_TRUE(screen().tabEFT.tab(kTabCenters).enabled);
}

// The bank returned center 12: its line says so before "Commit" and cannot be ticked, so the
// commit names it failed, as the server has it; the other center's line is as ever.
TEST_F(BatchTest, AReturnedCenterSaysWhyAndIsCommittedAsFailed) {
    const auto returned = [](Row r) {
        r["ReturnCode"] = "R01";
        r["ReturnReason"] = "Insufficient funds";
        r["ReturnedDate"] = "2026-12-03";
        return r;
    };
    serveBatches({returned(item(57, 12, 1001, "10")), returned(item(57, 12, 1002, "5", 2)), item(57, 34, 2001, "7")});
    enterBatchStatus();
    screen().cmbBatches.operatorChoose(1);
    auto& list = screen().lstBatchDetails;
    ASSERT_EQ(list.lineCount(), 2);
    EXPECT_EQ(list.line(0).tip,
              "Returned by the bank: R01 Insufficient funds, on 2026-12-03. It is recorded as failed and cannot be ticked.");
    EXPECT_TRUE(list.line(0).locked);
    EXPECT_EQ(list.line(1).tip, "");
    EXPECT_FALSE(list.line(1).locked);
    EXPECT_FALSE(list.operatorSetChecked(0, true));
    EXPECT_TRUE(list.operatorSetChecked(1, true));
    list.setAllChecked(true);
    EXPECT_FALSE(list.line(0).checked);
    control->SetVariables(server.base(), 9, 2);
    server.on("EFTMemberBatch.asp", {""});
    host.queueAnswer(MsgAnswer::Yes);
    screen().cmdPassedFailed.operatorClick();
    std::vector<std::string> posts;
    for (const auto& r : server.requests())
        if (r.method == "POST") posts.push_back(r.body);
    EXPECT_EQ(posts, std::vector<std::string>{"GoodMemb=2001&BadMemb=1001&BadMemb=-1002&PersonID=9&PersonType=2&BatchNo=57&"});
}

TEST_F(CommitTest, AllTickedSendsNoFailedIdsAndNoneTickedNoClearedIds) {
    server.on("EFTMemberBatch.asp", {"refused"});
    screen().lstBatchDetails.operatorSetChecked(0, true);
    screen().lstBatchDetails.operatorSetChecked(1, true);
    commit();
    screen().lstBatchDetails.operatorSetChecked(0, false);
    screen().lstBatchDetails.operatorSetChecked(1, false);
    commit();
    const auto p = posts();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].find("BadMemb"), std::string::npos);
    EXPECT_NE(p[0].find("GoodMemb=2001&"), std::string::npos);
    EXPECT_EQ(p[1].find("GoodMemb"), std::string::npos);
}

// Enter on the question must not mark every center of the batch failed; "No" sends nothing.
TEST_F(CommitTest, WithNothingTickedTheQuestionDefaultsToNo) {
    server.on("EFTMemberBatch.asp", {"refused"});
    screen().cmdPassedFailed.operatorClick();  // no answer given: the default button
    EXPECT_EQ(host.shown().back().request.defaultAnswer, MsgAnswer::No);
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(screen().cmdPassedFailed.enabled());
    screen().lstBatchDetails.operatorSetChecked(1, true);
    screen().cmdPassedFailed.operatorClick();
    EXPECT_EQ(host.shown()[1].request.defaultAnswer, MsgAnswer::Yes);
    EXPECT_EQ(posts().size(), 1u);
}

TEST_F(CommitTest, CommitIsUsableAgainAfterAFailedTransfer) {
    control->SetVariables("http://127.0.0.1:9/eft/", 7, 2);
    commit();
    EXPECT_EQ(titles().back().rfind("ERROR| Error !  \r\nThe commit failed: the server could not be reached.", 0), 0u)
        << titles().back();
    EXPECT_NE(host.shown().back().request.details.find("POST http://127.0.0.1:9/eft/EFTMemberBatch.asp"),
              std::string::npos);
    EXPECT_TRUE(screen().cmdPassedFailed.enabled());
    EXPECT_EQ(screen().lstBatchDetails.lineCount(), 2);
}

TEST_F(CommitTest, TheTabAndTheBatchStayWhileTheCommitWaits) {
    // Leaving the tab would make a refusal look like a reply to drop, unseen by the operator.
    server.on("EFTMemberBatch.asp", {"refused", 200, std::chrono::milliseconds(300)});
    int attempts = 0;
    host.onProcessEvents = [&] {
        ++attempts;
        EXPECT_FALSE(screen().tabEFT.operatorSelect(kTabCenters));
        EXPECT_FALSE(screen().tabEFT.operatorSelect(kTabExport));
        EXPECT_FALSE(screen().cmbBatches.operatorChoose(0));
        EXPECT_FALSE(screen().cmdPassedFailed.operatorClick());
    };
    commit();
    host.onProcessEvents = nullptr;
    EXPECT_GT(attempts, 0);
    EXPECT_EQ(titles().back(), "ERROR|refused");
    EXPECT_TRUE(screen().tabEFT.operatorSelect(kTabCenters));
}

using ExportTest = BatchTest;

TEST_F(ExportTest, NoReturnsToTheTabLeftWithoutARequest) {
    serveBatches({});
    host.queueAnswer(MsgAnswer::No);
    ASSERT_TRUE(screen().tabEFT.operatorSelect(kTabExport));
    EXPECT_EQ(titles(), std::vector<std::string>{
                            "EFT Batch Generation|Do you want to export eligible items to two ASCII files (USA/Canada) ? "});
    EXPECT_EQ(screen().tabEFT.selected(), kTabCenters);
    EXPECT_EQ(fetches(kExport), 0u);

    enterBatchStatus();
    host.queueAnswer(MsgAnswer::No);
    screen().tabEFT.operatorSelect(kTabExport);
    EXPECT_EQ(screen().tabEFT.selected(), kTabBatchStatus);
    EXPECT_EQ(fetches(kBatchList), 2u);  // coming back reloads the list
    EXPECT_EQ(fetches(kExport), 0u);
}

TEST_F(ExportTest, YesExportsShowsTheReportAndMovesToBatchStatus) {
    serveBatches({item(3, 12, 1, "1")});
    server.on(kExport, {"<?xml version=\"1.0\"?><Export>Batch 3: 12 items, 1,234.00 USD, EFT_US.txt</Export>"});
    host.queueAnswer(MsgAnswer::Yes);
    screen().tabEFT.operatorSelect(kTabExport);
    EXPECT_EQ(fetches(kExport), 1u);
    EXPECT_EQ(titles().back(), "EFT Batch Generation|Batch 3: 12 items, 1,234.00 USD, EFT_US.txt");
    EXPECT_EQ(host.shown().back().request.icon, MsgIcon::Information);
    EXPECT_EQ(screen().tabEFT.selected(), kTabBatchStatus);
    EXPECT_EQ(fetches(kBatchList), 1u);
    EXPECT_EQ(screen().cmbBatches.selected(), 0);
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
}

// A broken report is the driver's ExportReport table; an empty one is no failure.
TEST_F(ExportTest, AnEmptyReportShowsNoBox) {
    serveBatches({});
    server.on(kExport, {"<Export/>"});
    host.queueAnswer(MsgAnswer::Yes);
    screen().tabEFT.operatorSelect(kTabExport);
    ASSERT_EQ(titles(), std::vector<std::string>{
                            "EFT Batch Generation|Do you want to export eligible items to two ASCII files (USA/Canada) ? "});
    EXPECT_EQ(screen().tabEFT.selected(), kTabBatchStatus);
}

// Only the server's report document is a report (which documents are, the driver's ExportReport
// table says). A 200 reply that is not is a failed export, and a report the server marks as its
// refusal is a refused one: either shows the failure box, never the report box, and gives no
// exported notice.
TEST_F(ExportTest, AnyXmlDocumentButAWebPageIsAReport) {
    serveBatches({});
    struct Notices : driver::ScriptedHost {
        using ScriptedHost::ScriptedHost;
        std::vector<std::string> reports;
        void exported(const std::string& r) override { reports.push_back(r); }
    };
    const std::string unread = " Error !  \r\nThe batch export failed: the server's report could not be read.";
    const struct {
        const char* name;
        const char* reply;
        std::string text;  // the box's text begins so
        bool report;
    } cases[] = {
        {"report", "<Export>Batch 3 exported</Export>", "Batch 3 exported", true},
        {"webPage", "<html><body>Please log in</body></html>", unread, false},
        {"refused",
         "<?xml version=\"1.0\"?>\n<Export><Refused>The export failed, nothing was exported: this database is not a "
         "demo one\nstart it with --originator FILE</Refused></Export>",
         " Error !  \r\nThe server refused the export: The export failed, nothing was exported: this database is not a "
         "demo one",
         false},
        {"refusedWithoutAReason", "<Export><Refused/></Export>", " Error !  \r\nThe server refused the export.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Notices notices(kToday);
        EFTMemb own(notices);
        own.SetVariables(server.base(), 7, 2);
        server.on(kExport, {c.reply});
        notices.queueAnswer(MsgAnswer::Yes);
        own.screen().tabEFT.operatorSelect(kTabExport);
        ASSERT_EQ(notices.shown().size(), 2u);
        const auto& box = notices.shown()[1].request;
        EXPECT_EQ(box.title, c.report ? "EFT Batch Generation" : "ERROR");
        EXPECT_EQ(box.icon, c.report ? MsgIcon::Information : MsgIcon::Exclamation);
        EXPECT_EQ(box.text.rfind(c.text, 0), 0u) << box.text;
        EXPECT_EQ(box.text.find("Please log in"), std::string::npos) << box.text;
        EXPECT_EQ(notices.errorsShown(), c.report ? 0 : 1);
        const std::vector<std::string> reports = c.report ? std::vector<std::string>{"Batch 3 exported"}
                                                          : std::vector<std::string>{};
        EXPECT_EQ(notices.reports, reports);
        EXPECT_EQ(own.screen().tabEFT.selected(), kTabBatchStatus);
    }
}

TEST_F(ExportTest, MovingOffAHiddenCentersTabAsksNothing) {
    ui::TabStrip& tabs = screen().tabEFT;
    tabs.setVisible(kTabCenters, false);  // as "&Details" does, with the centers tab showing
    tabs.select(kTabExport);
    EXPECT_TRUE(host.shown().empty());
    EXPECT_EQ(fetches(kExport), 0u);
}

// Replies that complete while each tab is showing, driven through the transfer directly.
class ReplyOnTab : public ControlTest {
protected:
    void post(int tab, const std::string& reply) {
        server.on("EFTMember.asp", {reply});
        ctx = std::make_unique<Context>(host, HttpLimits{});
        ctx->Inet1.onStateChanged = [this](std::int16_t s) { Inet1_StateChanged(*ctx, s); };
        ctx->screen.tabEFT.select(tab);
        ctx->setMousePointer(ui::MousePointer::Hourglass);
        ctx->postFormAndWait(server.base() + "EFTMember.asp", "x=1");
    }
    std::unique_ptr<Context> ctx;
};

TEST_F(ReplyOnTab, ExportTabShowsALineBreakForABlankReply) {
    post(kTabExport, "");
    ASSERT_EQ(titles(), std::vector<std::string>{"EFT Batch Generation|\r\n"});
    EXPECT_EQ(ctx->screen.mousePointer(), ui::MousePointer::Normal);
    post(kTabExport, "oops");
    EXPECT_EQ(titles().back(), "ERROR|oops");
}

TEST_F(ReplyOnTab, CentersTabDropsTheReply) {
    post(kTabCenters, "any text");
    EXPECT_TRUE(host.shown().empty());
    EXPECT_EQ(ctx->screen.mousePointer(), ui::MousePointer::Hourglass);  // left as it was
}

TEST(ReplyHandling, OnlySpacesAreBlank) {
    const struct {
        const char* reply;
        bool blank;
    } cases[] = {{"", true}, {"   ", true}, {"\r\n", false}, {"\t", false}, {" x ", false}, {" \n ", false}};
    for (const auto& c : cases) EXPECT_EQ(isBlankReply(c.reply), c.blank) << '"' << c.reply << '"';
}

}  // namespace
}  // namespace eft::test
