// Saving through eft-driver scripts against a canned-reply server: what the server receives,
// and that a transfer that fails in any way removes nothing from the sweep.
#include <gtest/gtest.h>

#include "support/canned_server.h"
#include "support/control_fixture.h"
#include "support/driver_session.h"

namespace eft::test {
namespace {

const std::string kReview =
    "set-variables $SERVER 7 2\nclick cmdLoadData\ntick lstEFTCenter 0\nclick cmdViewCenterDetails\n"
    "click cmdSelectAllMerchandise\ndump\n";

struct PostCase {
    const char* name;
    CannedServer::Reply reply;
    bool serverDown;
    const char* shown;     // how the text of the box after the question begins
    bool rowsRemoved;
};

class SaveScript : public ::testing::TestWithParam<PostCase> {};

TEST_P(SaveScript, EndsAsTheReplySays) {
    const PostCase& c = GetParam();
    CannedServer server;
    server.on("EFTMember.asp?countryID=1&Load=1",
              {sweepReply({sweepRow(1, 7, 10, 0), sweepRow(2, 7, 5, 0), sweepRow(3, 9, 1, 0)})});
    server.on("EFTMember.asp", c.reply);
    ControlOptions options;
    options.limits.postTimeout = std::chrono::milliseconds(500);
    options.limits.maxReplyBytes = 64 * 1024;
    DriverSession s(Date{2026, 12, 6}, options);
    s.define("SERVER", server.base());
    s.define("DOWN", "http://127.0.0.1:9/eft/");  // nothing listens there

    ASSERT_EQ(s.run(kReview + (c.serverDown ? "set-variables $DOWN 7 2\n" : "") +
                    "answer yes\nclick cmdSaveMerchandise\ndump\n"),
              0);
    const auto dumps = s.all("dump");
    const auto boxes = s.all("msgbox");
    ASSERT_EQ(dumps.size(), 2u);
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["text"], "Do you want to save ? ");
    if (c.shown) {
        ASSERT_EQ(boxes.size(), 2u);
        const std::string text = boxes[1]["text"];
        EXPECT_EQ(text.rfind(c.shown, 0), 0u) << text;
        EXPECT_EQ(boxes[1]["title"], "ERROR");
        // A failed post tells the operator why; the address goes behind "Show Details…".
        const std::string details = boxes[1]["details"];
        if (text.starts_with(" Error !  ")) {
            EXPECT_EQ(text.find(".asp"), std::string::npos) << text;
            EXPECT_EQ(details.rfind("POST http://127.0.0.1:", 0), 0u) << details;
        }
    } else {
        EXPECT_EQ(boxes.size(), 1u);
    }
    // A script tells the unknown outcome by its own event, not by the box's words.
    const bool unknown = c.shown && std::string(c.shown).find("may have been recorded") != std::string::npos;
    const auto events = s.all("unknown-outcome");
    ASSERT_EQ(events.size(), unknown ? 1u : 0u);
    if (unknown) {
        EXPECT_EQ(events[0]["post"], "save");
        EXPECT_EQ(events[0]["message"], boxes[1]["text"]);
    }
    const auto& after = dumps[1];
    if (c.rowsRemoved) {
        EXPECT_EQ(dumpColumn(after, "lstEFTCenter", 1), std::vector<std::string>{"0009"});
        EXPECT_EQ(after["selectedTab"], 0);
    } else {
        EXPECT_EQ(dumpColumn(after, "lstEFTMember", 3), dumpColumn(dumps[0], "lstEFTMember", 3));
        EXPECT_EQ(dumpColumn(after, "lstEFTCenter", 1), (std::vector<std::string>{"0007", "0009"}));
        EXPECT_EQ(after["selectedTab"], 1);
    }
    EXPECT_EQ(after["buttons"]["cmdSaveMerchandise"]["enabled"], true);
    EXPECT_EQ(after["mousePointer"], "normal");
    if (!c.serverDown) {
        ASSERT_EQ(server.countOf("POST"), 1u);
        const auto post = server.requests().back();
        EXPECT_EQ(post.contentType, "application/x-www-form-urlencoded");
        EXPECT_EQ(post.body.rfind("SQL1=MemberID%3D1%3BStatus%3D14%3BPersonID%3D7%3BPersonType%3D2", 0), 0u);
        EXPECT_NE(post.body.find("&RecordCount=2"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SaveScript,
    ::testing::Values(PostCase{"accepted", {""}, false, nullptr, true},
                      PostCase{"exactly1024Spaces", {std::string(1024, ' ')}, false, nullptr, true},
                      PostCase{"refused", {"Record SQL1: not in the sweep"}, false, "Record SQL1: not in the sweep",
                               false},
                      PostCase{"lineBreak", {"\r\n"}, false, "\r\n", false},
                      PostCase{"serverDown", {""}, true, " Error !  \r\nThe save failed: the server could not be reached.", false},
                      // The request went out whole: the server may have saved, so the box does not say
                      // the save failed.
                      PostCase{"answersAfterTheTimeout", {"", 200, std::chrono::milliseconds(1500)}, false,
                               " Error !  \r\nThe save may have been recorded: it reached the server, but its answer "
                               "did not come within 500 ms. Load the sweep again before you save again",
                               false},
                      PostCase{"closesMidReply", {std::string(4000, 'z'), 200, {}, true}, false,
                               " Error !  \r\nThe save may have been recorded: it reached the server, but the "
                               "connection broke off before its answer came.",
                               false},
                      PostCase{"gatewayGaveUp", {"<html>Gateway Timeout</html>", 504}, false,
                               " Error !  \r\nThe save may have been recorded: it reached the server, but a gateway in "
                               "front of it gave up waiting for its answer (HTTP 504).",
                               false},
                      // A refusal in the status alone: an empty body must not pass for consent.
                      PostCase{"status500Empty", {"", 500}, false,
                               " Error !  \r\nThe save was not taken: the server failed (HTTP 500).", false},
                      PostCase{"status500WithText", {"Internal error\nat line 3", 500}, false,
                               " Error !  \r\nThe server refused the save (HTTP 500): Internal error", false},
                      PostCase{"status404WithText", {"<html>Not found</html>", 404}, false,
                               " Error !  \r\nThe save was not taken: the server has no such page (HTTP 404).", false},
                      PostCase{"status401", {"Login needed", 401}, false,
                               " Error !  \r\nThe save was not taken: the server refused the login (HTTP 401). Sign in",
                               false},
                      PostCase{"replyOverTheCap", {std::string(100'000, 'z')}, false,
                               " Error !  \r\nThe save may have been recorded: it reached the server, but its answer was "
                               "larger than 65536 bytes and was not read.",
                               false},
                      // An answer that refuses, even one cut short, is an answer.
                      PostCase{"status500CutShort", {std::string(4000, 'z'), 500, {}, true}, false,
                               " Error !  \r\nThe save failed: the connection to the server broke off.", false},
                      PostCase{"redirectOnTheSameServer", {"", 302, {}, false, "/eft/EFTMember.asp"}, false,
                               " Error !  \r\nThe save was not taken: the server sent the request elsewhere (HTTP 302).",
                               false}),
    [](const auto& info) { return std::string(info.param.name); });

// A commit whose answer does not come in time may have been recorded: the box says so and what to
// do, the script hears it as its own event, and the ticks stay for the operator to look again.
TEST(CommitScript, AnUnansweredCommitMayHaveBeenRecorded) {
    const auto item = [](int center, int member) {
        return Row{{"BatchControl", "57"}, {"CenterID", std::to_string(center)}, {"Name", "Center"},
                   {"MemberID", std::to_string(member)}, {"Source", "1"}, {"Amount", "10"},
                   {"ExportedDate", "2026-03-05"}};
    };
    CannedServer server;
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({item(12, 1001), item(34, 2001)})});
    server.on("EFTMemberBatch.asp", {"", 200, std::chrono::milliseconds(1500)});
    ControlOptions options;
    options.limits.postTimeout = std::chrono::milliseconds(300);
    DriverSession s(Date{2026, 12, 6}, options);
    s.define("SERVER", server.base());
    ASSERT_EQ(s.run("set-variables $SERVER 7 2\ntab 3\nchoose cmbBatches 1\ntick lstBatchDetails 0\n"
                    "answer yes\nclick cmdPassedFailed\ndump\n"),
              0);
    const auto boxes = s.all("msgbox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1]["title"], "ERROR");
    EXPECT_EQ(boxes[1]["icon"], "exclamation");
    EXPECT_EQ(boxes[1]["text"],
              " Error !  \r\nThe commit may have been recorded: it reached the server, but its answer did not come "
              "within 300 ms. Load the batch list again before you commit again: a batch whose statuses were recorded "
              "is no longer listed.");
    const auto events = s.all("unknown-outcome");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["post"], "commit");
    EXPECT_EQ(events[0]["message"], boxes[1]["text"]);
    EXPECT_EQ(s.host().errorsShown(), 1);
    const auto dump = s.last("dump");
    EXPECT_EQ(dump["lists"]["lstBatchDetails"]["lines"][0]["checked"], true);
    EXPECT_EQ(dump["buttons"]["cmdPassedFailed"]["enabled"], true);
    EXPECT_EQ(server.countOf("POST"), 1u);
}

}  // namespace
}  // namespace eft::test
