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


// A login belongs to the server it was given for. Each case sets addresses and logins in turn,
// then loads once; the table says which login, if any, each server then receives.
TEST(Control, ALoginReachesOnlyTheServerItWasGivenFor) {
    CannedServer a, b("127.0.0.2"), otherPort;
    const auto withLogin = [](const CannedServer& s, const std::string& login) {
        return s.base().substr(0, 7) + login + "@" + s.base().substr(7);
    };
    const std::string alice = "Basic YWxpY2U6U2VjcjN0", bob = "Basic Ym9iOnB3";
    struct Step {
        std::string address;  // empty: the login below is given instead
        std::string user = {}, password = {};
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        const CannedServer* loadsFrom;
        std::string authorization;  // what that server receives
    } cases[] = {
        {"addressWithLoginAlone", {{withLogin(a, "alice:Secr3t")}}, &a, alice},
        {"anotherHostDropsIt", {{withLogin(a, "alice:Secr3t")}, {b.base()}}, &b, ""},
        {"anotherPortDropsIt", {{withLogin(a, "alice:Secr3t")}, {otherPort.base()}}, &otherPort, ""},
        {"theSameServerKeepsIt", {{withLogin(a, "alice:Secr3t")}, {a.base()}}, &a, alice},
        {"droppedStaysDropped", {{withLogin(a, "alice:Secr3t")}, {b.base()}, {a.base()}}, &a, ""},
        {"loginBeforeTheAddress", {{"", "alice", "Secr3t"}, {a.base()}}, &a, alice},
        {"loginBeforeOnlyForTheFirstAddress", {{"", "alice", "Secr3t"}, {a.base()}, {b.base()}}, &b, ""},
        {"loginAfterTheAddress", {{a.base()}, {"", "alice", "Secr3t"}}, &a, alice},
        {"loginAfterThenAnotherHost", {{a.base()}, {"", "alice", "Secr3t"}, {b.base()}}, &b, ""},
        {"anAddressBringsItsOwn", {{withLogin(a, "alice:Secr3t")}, {withLogin(a, "bob:pw")}}, &a, bob},
        {"anEmptyUserRemovesIt", {{withLogin(a, "alice:Secr3t")}, {"", "", ""}}, &a, ""},
    };
    for (const auto& c : cases) {
        for (auto* s : {&a, &b, &otherPort}) s->on("EFTMember.asp?countryID=1&Load=1", {sweepReply({sweepRow(1, 7, 1, 0)})});
        driver::ScriptedHost host(Date{2026, 12, 6});
        EFTMemb control(host);
        for (const Step& step : c.steps) {
            if (step.address.empty()) control.setServerCredentials(step.user, step.password);
            else control.SetVariables(step.address, 7, 2);
        }
        const std::size_t before = c.loadsFrom->requests().size();
        control.screen().cmdLoadData.operatorClick();
        const auto requests = c.loadsFrom->requests();
        ASSERT_EQ(requests.size(), before + 1) << c.name;
        EXPECT_EQ(requests.back().authorization, c.authorization) << c.name;
        for (const auto* s : {&b, &otherPort}) {
            for (const auto& r : s->requests()) {
                EXPECT_NE(r.authorization, alice) << c.name << ": alice's login went to " << s->base();
            }
        }
    }
}

}  // namespace
}  // namespace eft::test
