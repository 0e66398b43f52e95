// eft-driver: the script format, the screen dump and the refusals an operator would meet.
#include <gtest/gtest.h>


#include "support/canned_server.h"
#include "support/driver_session.h"

namespace eft::test {
namespace {

TEST(Driver, CreatesTheControlSetsVariablesAndDumpsTheScreen) {
    DriverSession s;
    ASSERT_EQ(s.run("# a comment\n\nset-variables http://h/eft/ 7 2\ndump\n"), 0);
    const auto dump = s.last("dump");
    ASSERT_FALSE(dump.is_null());
    EXPECT_EQ(dump["selectedTab"], 0);
    std::vector<std::string> visible;
    for (const auto& t : dump["tabs"])
        if (t["visible"]) visible.push_back(t["caption"]);
    EXPECT_EQ(visible, (std::vector<std::string>{"List of Centers", "Export Batch", "Update Batch Status"}));
    EXPECT_EQ(dump["labels"]["lblIstr"], "Please set / check  centers which have cleared:");
    EXPECT_EQ(dump["options"]["optCountry"], 1);
    EXPECT_EQ(dump["focus"], "cmdLoadData");
    EXPECT_EQ(dump["mousePointer"], "normal");
    EXPECT_EQ(dump["buttons"]["cmdLoadData"]["enabled"], true);
    EXPECT_EQ(dump["lists"]["lstEFTCenter"]["lines"].size(), 0u);
    EXPECT_EQ(dump["combo"]["selected"], -1);
}

TEST(Driver, EncodesJsonStringArguments) {
    DriverSession s;
    ASSERT_EQ(s.run("encode \"a b\\r\\n\"\nencode 50%\nencode \"\\u00e9\\u20ac\"\n"), 0);
    const auto encoded = s.all("encoded");
    ASSERT_EQ(encoded.size(), 3u);
    EXPECT_EQ(encoded[0]["text"], "a+b%0D%0A");
    EXPECT_EQ(encoded[1]["text"], "50%25");
    EXPECT_EQ(encoded[2]["text"], "%E9%80");
}

TEST(Driver, ABadLineEndsTheScriptWithAnErrorNamingIt) {
    const struct {
        const char* script;
        int line;
        const char* says;
    } cases[] = {
        {"dump\nfrobnicate\ndump\n", 2, "unknown action"},
        {"tab 1\n", 1, "hidden or disabled"},
        {"click cmdSaveMerchandise\n", 1, "not showing"},
        {"click nothingHere\n", 1, "no element"},
        {"tick lstEFTCenter 0\n", 1, "the list is empty"},
        {"column-click lstBatchDetails 1\n", 1, "not showing"},
        {"answer maybe\n", 1, "yes, no or ok"},
        {"set-variables http://h/ seven 2\n", 1, "PERSONID"},
        {"encode \"unterminated\n", 1, "unterminated"},
        {"destroy\ndump\n", 2, "destroyed"},
    };
    for (const auto& c : cases) {
        DriverSession s;
        EXPECT_EQ(s.run(c.script), 2) << c.script;
        const auto error = s.last("error");
        ASSERT_FALSE(error.is_null()) << c.script;
        EXPECT_EQ(error["line"], c.line) << c.script;
        EXPECT_NE(error["message"].get<std::string>().find(c.says), std::string::npos) << error["message"];
        EXPECT_TRUE(s.all("dump").size() <= 1u);
    }
}

TEST(Driver, AnswersMessageBoxesInOrderAndDefaultsOtherwise) {
    CannedServer server;
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {"<rows/>"});
    server.on("EFTMemberBatch.asp?ProcessExport=True&PersonID=7&PersonTypeID=2", {"<Export/>"});
    DriverSession s;
    s.define("SERVER", server.base());
    ASSERT_EQ(s.run("set-variables $SERVER 7 2\nanswer no\ntab 2\ntab 2\n"), 0);
    const auto boxes = s.all("msgbox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0]["answer"], "no");
    EXPECT_EQ(boxes[0]["buttons"], "yesno");
    EXPECT_EQ(boxes[0]["icon"], "information");
    EXPECT_EQ(boxes[0]["title"], "EFT Batch Generation");
    EXPECT_EQ(boxes[1]["answer"], "yes");  // the default button: Yes, so the export ran
    EXPECT_EQ(server.countOf("GET"), 2u);  // the export, then the batch list
}

}  // namespace
}  // namespace eft::test
