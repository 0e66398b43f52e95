// The control's surface: creation, SetVariables and destruction.
#include <gtest/gtest.h>

#include "support/canned_server.h"
#include "support/control_fixture.h"

namespace eft::test {
namespace {

// Neither creating the control nor destroying it before a load sends anything.
TEST(Control, CreationShowsTheCentersTabAndFetchesNothing) {
    CannedServer server;
    driver::ScriptedHost host(Date{2026, 12, 6});
    {
        EFTMemb control(host);
        ui::Screen& s = control.screen();
        EXPECT_EQ(s.tabEFT.selected(), kTabCenters);
        EXPECT_TRUE(s.tabEFT.tab(kTabCenters).visible);
        EXPECT_FALSE(s.tabEFT.tab(kTabMembers).visible);
        EXPECT_TRUE(s.tabEFT.tab(kTabExport).visible && s.tabEFT.tab(kTabExport).enabled);
        EXPECT_TRUE(s.tabEFT.tab(kTabBatchStatus).visible && s.tabEFT.tab(kTabBatchStatus).enabled);
        EXPECT_EQ(s.lblVersionCentertab.caption(), "Version: 2.0.7");
        EXPECT_EQ(s.lblVersionMerchandise.caption(), "Version: 2.0.7");
        EXPECT_EQ(s.optCountry.chosen(), 1);
        EXPECT_EQ(control.state().CountryID, 1);
        ASSERT_NE(control.sweepTable(), nullptr);
        EXPECT_FALSE(control.sweepTable()->isOpen());
        EXPECT_FALSE(control.batchTable().isOpen());
        control.SetVariables(server.base(), 7, 2);
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(host.shown().empty());
}

TEST(Control, SetVariablesStoresEverythingEvenWhenFocusCannotBeGiven) {
    driver::ScriptedHost host(Date{2026, 12, 6});
    host.setShown(false);
    EFTMemb control(host);
    control.SetVariables("http://h/eft/", 123456, -2);
    EXPECT_EQ(control.state().ptServerName, "http://h/eft/");
    EXPECT_EQ(control.state().PersonID, 123456);
    EXPECT_EQ(control.state().PersonType, -2);
    EXPECT_FALSE(control.screen().focus().has_value());
    host.setShown(true);
    control.SetVariables("http://h/eft/", 1, 1);
    EXPECT_EQ(control.screen().focus(), "cmdLoadData");
}

TEST(Control, ASecondSetVariablesSendsLaterRequestsToTheNewAddress) {
    CannedServer first, second;
    for (auto* s : {&first, &second}) s->on("EFTMember.asp?countryID=1&Load=1", {sweepReply({sweepRow(1, 7, 1, 0)})});
    driver::ScriptedHost host(Date{2026, 12, 6});
    EFTMemb control(host);
    control.SetVariables(first.base(), 7, 2);
    control.screen().cmdLoadData.operatorClick();
    control.SetVariables(second.base(), 7, 2);
    control.screen().optCountry.operatorChoose(1);
    EXPECT_EQ(first.countOf("GET"), 1u);
    EXPECT_EQ(second.countOf("GET"), 1u);
}

}  // namespace
}  // namespace eft::test
