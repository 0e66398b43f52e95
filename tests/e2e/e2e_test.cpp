// The whole cycle against the reference server over loopback: load, review, save, export,
// commit, and the refusals, as eft-driver scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <map>
#include <set>

#include "server/embedded_server.h"
#include "support/canned_server.h"
#include "support/demo_server.h"
#include "support/driver_session.h"
#include "text/text_forms.h"

namespace eft::test {
namespace {

namespace fs = std::filesystem;

class FullCycle : public ::testing::Test {
protected:
    FullCycle() : demo("e2e-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())) {}
    std::unique_ptr<DriverSession> session() {
        auto s = std::make_unique<DriverSession>();
        s->define("SERVER", srv->baseAddress());
        EXPECT_EQ(s->run("set-variables $SERVER 7 2"), 0);
        return s;
    }

    test::DemoServer demo;
    const fs::path& dir = demo.dir;
    std::unique_ptr<server::EmbeddedServer>& srv = demo.srv;
};

TEST_F(FullCycle, SaveExportAndCommitMoveChargesThroughTheirStates) {
    auto op = session();
    ASSERT_EQ(op->run("click cmdLoadData\ndump"), 0);
    const auto loaded = op->last("dump");
    const auto centers = dumpColumn(loaded, "lstEFTCenter", 1);
    ASSERT_GE(centers.size(), 30u);
    EXPECT_TRUE(op->all("msgbox").empty());
    EXPECT_EQ(loaded["buttons"]["cmdLoadData"]["enabled"], false);
    EXPECT_NE(loaded["labels"]["lblGrandTotal"].get<std::string>().find("Amount Eligible (Total): $ "), std::string::npos);

    // Review the first two centers and save every row of them.
    ASSERT_EQ(op->run("tick lstEFTCenter 0\ntick lstEFTCenter 1\nclick cmdViewCenterDetails\n"
                      "click cmdSelectAllMerchandise\ndump\nanswer yes\nclick cmdSaveMerchandise\ndump"),
              0);
    const auto reviewed = op->all("dump").front();
    EXPECT_EQ(reviewed["selectedTab"], 1);
    EXPECT_EQ(reviewed["tabs"][1]["caption"], "Membership Sweep (United States)");
    const auto saved = op->last("dump");
    ASSERT_EQ(op->all("msgbox").size(), 1u) << op->events.back();  // only the question
    EXPECT_EQ(saved["selectedTab"], 0);
    const auto left = dumpColumn(saved, "lstEFTCenter", 1);
    EXPECT_EQ(left.size(), centers.size() - 2);
    EXPECT_EQ(std::count(left.begin(), left.end(), centers[0]), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), centers[1]), 0);

    // Export: the report names the batch; the batch list offers it.
    ASSERT_EQ(op->run("answer yes\ntab 2\ndump"), 0);
    const auto boxes = op->all("msgbox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1]["title"], "EFT Batch Generation");
    EXPECT_FALSE(boxes[1]["text"].get<std::string>().empty());
    const auto exported = op->last("dump");
    EXPECT_EQ(exported["selectedTab"], 3);
    ASSERT_EQ(exported["combo"]["entries"].size(), 2u);
    EXPECT_EQ(exported["combo"]["selected"], 0);
    EXPECT_FALSE(fs::is_empty(dir / "export"));

    // Commit: the first center cleared, the second failed.
    ASSERT_EQ(op->run("choose cmbBatches 1\ndump\ntick lstBatchDetails 0\nanswer yes\nclick cmdPassedFailed\ndump"), 0);
    const auto batch = op->all("dump").front();
    EXPECT_EQ(dumpColumn(batch, "lstBatchDetails", 1), (std::vector<std::string>{centers[0], centers[1]}));
    const auto committed = op->last("dump");
    EXPECT_EQ(committed["combo"]["entries"].size(), 1u);  // the batch left the list
    EXPECT_EQ(committed["lists"]["lstBatchDetails"]["lines"].size(), 0u);
    ASSERT_EQ(op->all("msgbox").size(), 1u);  // only the question: the server accepted

    // The failed center's charges are back in the sweep; the cleared one's are not.
    ASSERT_EQ(op->run("tab 0\nclick optCountry 1\ndump"), 0);
    const auto reloaded = dumpColumn(op->last("dump"), "lstEFTCenter", 1);
    EXPECT_EQ(std::count(reloaded.begin(), reloaded.end(), centers[0]), 0);
    EXPECT_EQ(std::count(reloaded.begin(), reloaded.end(), centers[1]), 1);
}

// The server records a save whose answer comes after the control's limit (a gateway in front of
// it holds the answer back). The control says it may have been recorded, not that it failed; a
// second save is refused as already saved, and a reload shows the rows gone.
TEST_F(FullCycle, ASaveAnsweredTooLateWasRecordedAndAReloadShowsIt) {
    CannedServer gateway;
    gateway.relayTo(srv->baseAddress());
    CannedServer::Reply late;
    late.relay = true;
    late.delay = std::chrono::milliseconds(1500);
    gateway.on("EFTMember.asp", late);
    ControlOptions options;
    options.limits.postTimeout = std::chrono::milliseconds(500);
    DriverSession op(Date{2026, 12, 6}, options);
    op.define("SERVER", gateway.base());
    ASSERT_EQ(op.run("set-variables $SERVER 7 2\nclick cmdLoadData\ndump\ntick lstEFTCenter 0\n"
                     "click cmdViewCenterDetails\nclick cmdSelectAllMerchandise\nanswer yes\nclick cmdSaveMerchandise"),
              0);
    const std::string center = dumpColumn(op.last("dump"), "lstEFTCenter", 1).front();
    const auto unknown = op.all("unknown-outcome");
    ASSERT_EQ(unknown.size(), 1u) << op.last("msgbox");
    EXPECT_EQ(unknown[0]["post"], "save");
    EXPECT_EQ(unknown[0]["message"].get<std::string>().rfind(" Error !  \r\nThe save may have been recorded", 0), 0u)
        << unknown[0]["message"];

    late.delay = {};
    gateway.on("EFTMember.asp", late);
    ASSERT_EQ(op.run("answer yes\nclick cmdSaveMerchandise"), 0);
    EXPECT_NE(op.last("msgbox")["text"].get<std::string>().find("(already saved)"), std::string::npos)
        << op.last("msgbox");
    ASSERT_EQ(op.run("click cmdCancelMerchandiseList\nclick optCountry 1\ndump"), 0);
    const auto centers = dumpColumn(op.last("dump"), "lstEFTCenter", 1);
    EXPECT_EQ(std::count(centers.begin(), centers.end(), center), 0) << center << " was saved whole";
}

// The cents of a label or cell: "Amount Eligible (Total): $ 13,948.32" gives 1394832.
long long centsIn(std::string text) {
    text = text.substr(text.find_first_of("-0123456789"));
    std::erase(text, ',');
    return text::parseCents(text).value();
}

// On the demo data a save once sent unticked lines, and every label drifted from the sum of
// its lines by a cent or more. Here some lines of two centers of each country are ticked: the
// member's other lines follow, the selected label is their sum, and after the save (and a
// fresh load from the server) the eligible total dropped by exactly that sum.
TEST_F(FullCycle, WhatIsTickedIsWhatIsSavedToTheCent) {
    for (const std::string country : {"1", "2"}) {
        SCOPED_TRACE("country " + country);
        auto op = session();
        ASSERT_EQ(op->run("click optCountry " + country + "\ndump\ntick lstEFTCenter 0\ntick lstEFTCenter 1\n"
                          "click cmdViewCenterDetails\ndump"),
                  0);
        const long long before = centsIn(op->all("dump")[0]["labels"]["lblGrandTotal"]);
        const auto listed = op->last("dump");
        const auto totals = dumpColumn(listed, "lstEFTMember", 5);
        long long eligible = 0;
        for (const auto& t : totals) eligible += centsIn(t);
        EXPECT_EQ(centsIn(listed["labels"]["lblMerchandiseEligible"]), eligible);

        std::string ticks;
        for (std::size_t i = 0; i < totals.size(); i += 3) ticks += "tick lstEFTMember " + std::to_string(i) + "\n";
        ASSERT_EQ(op->run(ticks + "dump"), 0);
        const auto ticked = op->last("dump");
        const auto& lines = ticked["lists"]["lstEFTMember"]["lines"];
        std::map<std::string, std::set<bool>> tickOfMember;
        long long selected = 0;
        for (const auto& l : lines) {
            tickOfMember[l["sub"][2]].insert(l["checked"].get<bool>());
            if (l["checked"]) selected += centsIn(l["sub"][4]);
        }
        for (const auto& [member, ticksSeen] : tickOfMember) EXPECT_EQ(ticksSeen.size(), 1u) << "member " << member;
        EXPECT_EQ(centsIn(ticked["labels"]["lblMerchandiseSelected"]), selected);

        ASSERT_EQ(op->run("answer yes\nclick cmdSaveMerchandise\ndump\nclick optCountry " +
                          std::string(country == "1" ? "2" : "1") + "\nclick optCountry " + country + "\ndump"),
                  0);
        EXPECT_EQ(centsIn(op->all("dump")[0]["labels"]["lblGrandTotal"]), before - selected);
        EXPECT_EQ(centsIn(op->last("dump")["labels"]["lblGrandTotal"]), before - selected);
    }
}

TEST_F(FullCycle, CanadaHasItsOwnCentersAndTaxes) {
    auto op = session();
    ASSERT_EQ(op->run("click optCountry 2\nclick cmdSelectAllCenters\nclick cmdViewCenterDetails\ndump"), 0);
    const auto dump = op->last("dump");
    EXPECT_EQ(dump["tabs"][1]["caption"], "Membership Sweep (Canada)");
    const auto gst = dumpColumn(dump, "lstEFTMember", 9);
    EXPECT_TRUE(std::any_of(gst.begin(), gst.end(), [](const std::string& g) { return g != "0.00"; }));
    EXPECT_EQ(dump["labels"]["lblMerchandiseEligible"].get<std::string>().rfind("Amount Eligible (Total): $ ", 0), 0u);
}

TEST_F(FullCycle, EachExportedBatchNamesItsCountry) {
    auto op = session();
    const std::string saveFirstCenter = "tick lstEFTCenter 0\nclick cmdViewCenterDetails\nclick cmdSelectAllMerchandise\n"
                                        "answer yes\nclick cmdSaveMerchandise\n";
    ASSERT_EQ(op->run("click optCountry 2\n" + saveFirstCenter + "click optCountry 1\n" + saveFirstCenter +
                      "answer yes\ntab 2\ndump"),
              0);
    const auto entries = op->last("dump")["combo"]["entries"];
    ASSERT_EQ(entries.size(), 3u) << entries;
    EXPECT_FALSE(entries[0].contains("tip"));  // the prompt
    // Batches are formed United States first, so the lower number is that country's.
    EXPECT_EQ(entries[1].value("tip", ""), "United States");
    EXPECT_EQ(entries[2].value("tip", ""), "Canada");
}

TEST(DriverProgram, RunsAScriptAgainstItsEmbeddedServer) {
    const fs::path script = fs::temp_directory_path() / ("eft-e2e-script-" + std::to_string(::getpid()));
    {
        std::ofstream out(script);
        out << "set-variables $SERVER 7 2\nclick cmdLoadData\ndump\n";
    }
    const std::string command =
        std::string(EFT_DRIVER_PATH) + " --embedded-server --seed-demo " + script.string() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[65536];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = pclose(pipe);
    fs::remove(script);
    ASSERT_EQ(WEXITSTATUS(status), 0) << output;
    const auto dump = nlohmann::json::parse(output.substr(0, output.find('\n')));
    EXPECT_EQ(dump["event"], "dump");
    EXPECT_GE(dump["lists"]["lstEFTCenter"]["lines"].size(), 30u);
}

}  // namespace
}  // namespace eft::test
