// The sweep road as an eft-driver script against a canned-reply server: the requests the
// server received and the screen the operator ends on.
#include <gtest/gtest.h>

#include "support/canned_server.h"
#include "support/control_fixture.h"
#include "support/driver_session.h"

namespace eft::test {
namespace {

TEST(SweepScript, LoadsReviewsAndSelects) {
    CannedServer server;
    server.on("EFTMember.asp?countryID=2&Load=1",
              {sweepReply({sweepRow(1, 15, 12.5, 0), sweepRow(2, 12, 7.25, 0), sweepRow(3, 12, 100, -20),
                           sweepRow(4, 40, 3, 0)})});
    DriverSession s;
    s.define("SERVER", server.base());
    ASSERT_EQ(s.run("set-variables $SERVER 7 2\nclick optCountry 2\ncolumn-click lstEFTCenter 4\n"
                    "tick lstEFTCenter 0\ntick lstEFTCenter 2\nclick cmdViewCenterDetails\ntick lstEFTMember 0\n"
                    "tick lstEFTMember 2\ndump\n"),
              0);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "EFTMember.asp?countryID=2&Load=1");

    const auto dump = s.last("dump");
    EXPECT_EQ(dump["options"]["optCountry"], 2);
    EXPECT_EQ(dump["selectedTab"], 1);
    EXPECT_EQ(dump["tabs"][1]["caption"], "Membership Sweep (Canada)");
    EXPECT_EQ(dump["tabs"][0]["visible"], false);
    EXPECT_EQ(dump["tabs"][2]["enabled"], false);
    // Sorted by "Due In" by value, 3.00 first; the first and third lines (centers 40 and 12) ticked.
    EXPECT_EQ(dumpColumn(dump, "lstEFTCenter", 3), (std::vector<std::string>{"3.00", "12.50", "107.25"}));
    EXPECT_EQ(dumpColumn(dump, "lstEFTMember", 3), (std::vector<std::string>{"2", "3", "4"}));
    EXPECT_EQ(dump["labels"]["lblMerchandiseEligible"], "Amount Eligible (Total): $ 90.25");
    EXPECT_EQ(dump["labels"]["lblMerchandiseSelected"], "Amount Selected (Total): $ 10.25");
    EXPECT_EQ(dump["labels"]["lblGrandTotal"], "Amount Eligible (Total): $ 102.75");
    EXPECT_EQ(dump["buttons"]["cmdLoadData"]["enabled"], false);  // every load disables it
    EXPECT_EQ(dump["mousePointer"], "normal");
}

}  // namespace
}  // namespace eft::test
