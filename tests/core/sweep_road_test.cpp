// The sweep road through the control: load, center summary, center commands, member review
// and selection, against a canned-reply server.
#include <gtest/gtest.h>

#include "support/control_fixture.h"

namespace eft::test {
namespace {

using SweepLoad = ControlTest;

TEST_F(SweepLoad, RequestsTheCountryChosenAndDisablesLoadData) {
    serveSweep({sweepRow(1, 7, 10, 0)}, 1);
    serveSweep({sweepRow(2, 9, 5, 0)}, 2);
    screen().cmdLoadData.operatorClick();
    EXPECT_FALSE(screen().cmdLoadData.enabled());
    EXPECT_FALSE(screen().cmdLoadData.operatorClick());  // stays disabled
    screen().optCountry.operatorChoose(2);
    screen().optCountry.operatorChoose(1);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "EFTMember.asp?countryID=1&Load=1");
    EXPECT_EQ(requests[1].target, "EFTMember.asp?countryID=2&Load=1");
    EXPECT_EQ(requests[2].target, "EFTMember.asp?countryID=1&Load=1");
    EXPECT_EQ(column(screen().lstEFTCenter, 1), std::vector<std::string>{"0007"});
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
}

TEST_F(SweepLoad, DerivesAmountsRowByRowAndKeepsOtherTypesAsSent) {
    load({sweepRow(1, 7, 10, 0, {{"ConversionRate", "1.25"}, {"Royalty", "100"}, {"RoyaltyReserve", "20"}}),
          sweepRow(2, 7, 1, 0, {{"Type", "4"}, {"RoyShow", "3.5"}}),
          sweepRow(3, 7, 1, 0, {{"Type", "3"}, {"ConversionRate", "1.3"}})});
    EXPECT_EQ(sweepColumn("RoyShow"), (std::vector<std::string>{"100", "3.5", "10"}));
    EXPECT_EQ(sweepColumn("ConversionRate"), (std::vector<std::string>{"1.25", "1", "1"}));
}

// The country choice empties the list before its load; neither a failed nor an empty load
// brings the earlier list back.
TEST_F(SweepLoad, ACountryChoiceEmptiesTheListWhateverItsLoadBrings) {
    const struct {
        const char* name;
        std::vector<Row> canada;
        const char* said;  // in the one box shown, or nullptr for none
        const char* grandTotal;
    } cases[] = {
        {"aValueThatDoesNotConvert", {sweepRow(1, 8, 10, 0, {{"Royalty", "ten"}})}, "ten", ""},
        // A sweep of nothing totals zero, as a load of one does.
        {"noRows", {}, nullptr, "Amount Eligible (Total): $ 0.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load({sweepRow(1, 7, 10, 0)});
        ASSERT_EQ(screen().lstEFTCenter.lineCount(), 1);
        host.clearShown();
        serveSweep(c.canada, 2);
        screen().optCountry.operatorChoose(2);
        ASSERT_EQ(host.shown().size(), c.said ? 1u : 0u);
        if (c.said) {
            EXPECT_NE(host.shown()[0].request.text.find(c.said), std::string::npos);
        }
        EXPECT_EQ(screen().lstEFTCenter.lineCount(), 0);
        EXPECT_EQ(screen().lblGrandTotal.caption(), c.grandTotal);
    }
}

struct SummaryCase {
    const char* name;
    std::vector<Row> rows;
    std::vector<std::vector<std::string>> lines;  // Center, Name, Due In, Due Out, Net In, Net Out
    std::string grandTotal;
    std::vector<std::string> rowTotals;
};

class CenterSummary : public ControlTest, public ::testing::WithParamInterface<SummaryCase> {};

TEST_P(CenterSummary, ListsOneLinePerCenter) {
    const SummaryCase& c = GetParam();
    load(c.rows);
    std::vector<std::vector<std::string>> got;
    for (const auto& l : screen().lstEFTCenter.lines()) {
        EXPECT_FALSE(l.checked);
        got.push_back(l.sub);
    }
    EXPECT_EQ(got, c.lines);
    EXPECT_EQ(screen().lblGrandTotal.caption(), "Amount Eligible (Total): $ " + c.grandTotal);
    EXPECT_EQ(sweepColumn("RowTotal"), c.rowTotals);
}

Row sub(Row r) {
    r["SubscriptionMembership"] = "true";
    return r;
}

// One line of `large`, then `count` lines of a cent, all of member 1 at center 7.
std::vector<Row> centsAfter(double large, int count) {
    std::vector<Row> rows{sweepRow(1, 7, large, 0)};
    for (int i = 0; i < count; ++i) rows.push_back(sweepRow(1, 7, 0.01, 0, {{"SweepSequence", std::to_string(i + 2)}}));
    return rows;
}

std::vector<std::string> repeated(std::vector<std::string> head, const std::string& text, int count) {
    head.insert(head.end(), static_cast<std::size_t>(count), text);
    return head;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CenterSummary,
    ::testing::Values(
        SummaryCase{"twoRowsOfOneCenter",
                    {sweepRow(1, 7, 10, 0), sweepRow(2, 7, 5.5, 0)},
                    {{"0007", "Center 7", "15.50", "0.00", "15.50", "0.00"}},
                    "15.50",
                    {"10", "5.5"}},
        SummaryCase{"netOut",
                    {sweepRow(1, 7, 10, -22.5)},
                    {{"0007", "Center 7", "10.00", "22.50", "0.00", "12.50"}},
                    "-12.50",
                    {"-12.5"}},
        SummaryCase{"subscriptionOut",
                    {sub(sweepRow(1, 7, 0, 20))},
                    {{"0007", "Center 7", "0.00", "20.00", "0.00", "20.00"}},
                    "20.00",
                    {"20"}},
        SummaryCase{"subscriptionNetNotAbove0",
                    {sub(sweepRow(1, 7, 5, -8))},
                    {{"0007", "Center 7", "5.00", "-8.00", "5.00", "0.00"}},
                    "-8.00",
                    {"-8"}},
        SummaryCase{"fiveDigitCentersSortedAndRoundedHalfEven",
                    {sweepRow(1, 12345, 0.125, 0), sweepRow(2, 9, 0.375, 0)},
                    {{"0009", "Center 9", "0.38", "0.00", "0.38", "0.00"},
                     {"12345", "Center 12345", "0.13", "0.00", "0.13", "0.00"}},
                    "0.50",
                    {"0.38", "0.12"}},
        SummaryCase{"thousands",
                    {sweepRow(1, 7, 123456.5, 0)},
                    {{"0007", "Center 7", "123456.50", "0.00", "123456.50", "0.00"}},
                    "123,456.50",
                    {"123456.5"}},
        // A running single-precision sum drifts: 16,000.00 and a thousand cents made 16,009.77.
        SummaryCase{"aThousandCentsAfterALargeLine",
                    centsAfter(16000, 1000),
                    {{"0007", "Center 7", "16010.00", "0.00", "16010.00", "0.00"}},
                    "16,010.00",
                    repeated({"16000"}, "0.01", 1000)},
        // A subscription center that pays out: its grand total is the sum of the rows' Totals.
        SummaryCase{"subscriptionPayingOutAddsTheRowsTotals",
                    {sub(sweepRow(1, 7, 0.01, -0.02)), sub(sweepRow(2, 7, 40, -0.01))},
                    {{"0007", "Center 7", "40.01", "-0.03", "0.00", "39.98"}},
                    "-0.03",
                    {"-0.02", "-0.01"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A malformed row ends the summary where it stands, as before, but the operator is told which
// row and which field in one box; the lines before it stay.
struct MalformedCase {
    const char* name;
    std::vector<Row> rows;
    std::vector<std::string> listed;  // "Center" of the lines that stay
    std::vector<std::string> dueIn;
    const char* said;
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedRows : public ControlTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedRows, EndTheSummaryNamingTheRowAndTheField) {
    const MalformedCase& c = GetParam();
    load(c.rows);
    ASSERT_EQ(host.shown().size(), 1u);
    const std::string& text = host.shown()[0].request.text;
    EXPECT_NE(text.find("The list of centers is not complete: "), std::string::npos) << text;
    EXPECT_NE(text.find(c.said), std::string::npos) << text;
    EXPECT_EQ(column(screen().lstEFTCenter, 1), c.listed);
    EXPECT_EQ(column(screen().lstEFTCenter, 3), c.dueIn);
    EXPECT_EQ(screen().lblGrandTotal.caption(), "Grand Total: $0.00");  // kept from creation
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
}

INSTANTIATE_TEST_SUITE_P(
    SweepLoad, MalformedRows,
    ::testing::Values(
        MalformedCase{"InRowTotalMissing",
                      {sweepRow(1, 7, 10, 0), sweepRow(2, 9, 1, 0, {{"INRowTotal", ""}}), sweepRow(3, 11, 1, 0)},
                      {"0007", "0009"},
                      {"10.00", ""},
                      "the sweep row of member 2, center 0009, source 1, sweep sequence 1 has no INRowTotal"},
        // The IN amount is counted and shown before the missing OUT amount ends the run.
        MalformedCase{"OutRowTotalMissing",
                      {sweepRow(1, 7, 2, 0), sweepRow(2, 7, 5, 0, {{"OUTRowTotal", ""}}), sweepRow(3, 9, 1, 0)},
                      {"0007"},
                      {"7.00"},
                      "member 2, center 0007, source 1, sweep sequence 1 has no OUTRowTotal"},
        // Rows without a center, or of center 0, sort first: the summary ends before its first line.
        MalformedCase{"CenterIdMissing",
                      {sweepRow(1, 7, 10, 0), sweepRow(2, 9, 1, 0, {{"CenterID", ""}})},
                      {},
                      {},
                      "the sweep row of member 2, source 1, sweep sequence 1 has no CenterID"},
        MalformedCase{"CenterIdZero",
                      {sweepRow(1, 7, 10, 0), sweepRow(2, 0, 1, 0, {{"SweepSequence", "4"}})},
                      {},
                      {},
                      "the sweep row of member 2, center 0000, source 1, sweep sequence 4 has the CenterID 0"}),
    [](const auto& info) { return std::string(info.param.name); });

// A sum too large to show is never printed: the fill ends with a message instead.
TEST_F(SweepLoad, SumsTooLargeToShowEndTheFillsWithAMessage) {
    const double twoTo49 = 562949953421312.0;  // exact in single precision; two of them pass 1e15
    load({sweepRow(1, 7, twoTo49, 0), sweepRow(2, 7, twoTo49, 0), sweepRow(3, 9, 1, 0)});
    ASSERT_EQ(host.shown().size(), 1u);
    EXPECT_NE(host.shown()[0].request.text.find("not complete"), std::string::npos) << host.shown()[0].request.text;
    EXPECT_EQ(column(screen().lstEFTCenter, 3), (std::vector<std::string>{"562949953421312.00"}));
    EXPECT_EQ(screen().lblGrandTotal.caption(), "Grand Total: $0.00");

    // Each center can be shown, their grand total cannot; nor can the member list's total.
    host.clearShown();
    load({sweepRow(1, 7, twoTo49, 0), sweepRow(2, 8, twoTo49, 0)});
    ASSERT_EQ(host.shown().size(), 1u);
    EXPECT_EQ(screen().lstEFTCenter.lineCount(), 2);
    EXPECT_EQ(screen().lblGrandTotal.caption(), "");  // as the country choice left it
    details({"0007", "0008"});
    ASSERT_EQ(host.shown().size(), 2u);
    EXPECT_NE(host.shown()[1].request.text.find("not complete"), std::string::npos) << host.shown()[1].request.text;
    EXPECT_EQ(screen().lstEFTMember.lineCount(), 2);
    EXPECT_EQ(screen().lblMerchandiseEligible.caption(), "Amount Eligible (Total): $ 0.00");
}

using CenterCommands = ControlTest;

TEST_F(CenterCommands, SelectAllListsEveryRowWithoutAFilter) {
    load({sweepRow(1, 7, 10, 0), sweepRow(2, 9, 5, 0)});
    screen().cmdSelectAllCenters.operatorClick();
    EXPECT_TRUE(state().AllCentersSelected);
    for (const auto& l : screen().lstEFTCenter.lines()) EXPECT_TRUE(l.checked);
    screen().cmdViewCenterDetails.operatorClick();
    EXPECT_EQ(state().CenterFilter, "");
    EXPECT_EQ(column(screen().lstEFTMember, 3), (std::vector<std::string>{"1", "2"}));
}

TEST_F(CenterCommands, ASingleTickClearsTheFlagAndOnlyTickedCentersAreListed) {
    load({sweepRow(1, 7, 10, 0), sweepRow(2, 9, 5, 0), sweepRow(3, 12, 5, 0)});
    screen().cmdSelectAllCenters.operatorClick();
    screen().lstEFTCenter.operatorSetChecked(1, false);
    EXPECT_FALSE(state().AllCentersSelected);
    screen().cmdViewCenterDetails.operatorClick();
    EXPECT_EQ(state().CenterFilter, " CenterID = 0007 OR CenterID = 0012");
    EXPECT_EQ(column(screen().lstEFTMember, 3), (std::vector<std::string>{"1", "3"}));
}

TEST_F(CenterCommands, DeselectAllThenDetailsWarnsAndChangesNothing) {
    load({sweepRow(1, 7, 10, 0)});
    screen().cmdSelectAllCenters.operatorClick();
    screen().cmdDeSelectAllCenters.operatorClick();
    screen().cmdViewCenterDetails.operatorClick();
    ASSERT_EQ(titles(), std::vector<std::string>{
                            "Information Validation|At least one center must be selected in order to see the "
                            "detail entries."});
    EXPECT_EQ(host.shown()[0].request.icon, MsgIcon::Information);
    EXPECT_EQ(screen().tabEFT.selected(), kTabCenters);
    EXPECT_TRUE(screen().tabEFT.tab(kTabExport).enabled);
}

TEST_F(CenterCommands, AmountsAndCentersSortByValueNamesAsText) {
    load({sweepRow(1, 7, 1816.21, 0), sweepRow(2, 9, 183.99, 0), sweepRow(3, 12, 2008.74, 0),
          sweepRow(4, 10000, -5, 0), sweepRow(5, 9999, 20, 0)});
    ui::ListView& list = screen().lstEFTCenter;
    list.operatorColumnClick(4);  // "Due In"
    const std::vector<std::string> byValue{"-5.00", "20.00", "183.99", "1816.21", "2008.74"};
    EXPECT_EQ(column(list, 3), byValue);
    list.operatorColumnClick(4);  // again: same order, still ascending
    EXPECT_EQ(column(list, 3), byValue);
    list.operatorColumnClick(2);  // "Center": 10000 after 9999
    EXPECT_EQ(column(list, 1), (std::vector<std::string>{"0007", "0009", "0012", "9999", "10000"}));
    EXPECT_EQ(list.sortKey(), 1);
    list.operatorColumnClick(3);  // "Name of Center": as text
    EXPECT_EQ(column(list, 2),
              (std::vector<std::string>{"Center 10000", "Center 12", "Center 7", "Center 9", "Center 9999"}));
    // The filter of "&Details" follows the order on screen.
    list.operatorColumnClick(4);
    details({"0007", "0009"});
    EXPECT_EQ(state().CenterFilter, " CenterID = 0009 OR CenterID = 0007");
}

TEST_F(CenterCommands, MemberDatesSortByDateNotByMonth) {
    const auto on = [](int member, const char* date) {
        return sweepRow(member, 7, 10, 0, {{"Type", "3"}, {"SweepDate", date}});
    };
    load({on(1, "2010-12-31"), on(2, "2011-01-02"), on(3, "2009-06-30")});
    details({"0007"});
    screen().lstEFTMember.operatorColumnClick(2);  // "Date "
    EXPECT_EQ(column(screen().lstEFTMember, 1), (std::vector<std::string>{"06/30/2009", "12/31/2010", "01/02/2011"}));
}

TEST_F(CenterCommands, ARefilledListNoLongerCountsAsAllSelected) {
    // Without clearing the flag, "&Details" after a refill would list centers nobody ticked.
    load({sweepRow(1, 7, 10, 0), sweepRow(2, 9, 5, 0)});
    serveSweep({sweepRow(1, 7, 10, 0), sweepRow(2, 9, 5, 0)}, 2);
    screen().cmdSelectAllCenters.operatorClick();
    screen().optCountry.operatorChoose(2);
    EXPECT_FALSE(state().AllCentersSelected);
    screen().cmdViewCenterDetails.operatorClick();
    EXPECT_EQ(host.shown().size(), 1u);  // the warning: nothing is ticked
    EXPECT_EQ(screen().tabEFT.selected(), kTabCenters);
}

using MemberDetails = ControlTest;

TEST_F(MemberDetails, ListsTheTickedCentersOnTheMemberTab) {
    load({sweepRow(5, 15, 0.25, 0, {{"Type", "3"}, {"SweepDate", "2011-03-04T10:00:00"}}),
          sweepRow(4, 12, 1234.5, 0, {{"MemberName", "Ann Lee"}, {"SourceDescription", "Monthly dues"}}),
          sweepRow(6, 20, 1, 0)});
    details({"0012", "0015"});
    EXPECT_EQ(state().CenterFilter, " CenterID = 0012 OR CenterID = 0015");
    const ui::TabStrip& tabs = screen().tabEFT;
    EXPECT_EQ(tabs.selected(), kTabMembers);
    EXPECT_EQ(tabs.tab(kTabMembers).caption, "Membership Sweep (United States)");
    EXPECT_FALSE(tabs.tab(kTabCenters).visible);
    EXPECT_FALSE(tabs.tab(kTabExport).enabled);
    EXPECT_FALSE(tabs.tab(kTabBatchStatus).enabled);
    const auto& list = screen().lstEFTMember;
    ASSERT_EQ(list.lineCount(), 2);
    EXPECT_EQ(list.line(0).sub, (std::vector<std::string>{"12/06/2026", "0012", "4", "Monthly dues", "1234.50", "10.00",
                                                          "0.00", "0.00", "0.00", "0.00", "0.00", "Ann Lee"}));
    EXPECT_EQ(list.subItem(1, 1), "03/04/2011");  // type 3 shows its sweep date
    EXPECT_EQ(screen().lblMerchandiseEligible.caption(), "Amount Eligible (Total): $ 1,234.75");
    EXPECT_EQ(screen().lblMerchandiseSelected.caption(), "Amount Selected (Total): $ 0.00");
    EXPECT_EQ(state().EligibleAmount, 123475);
    EXPECT_EQ(control->sweepTable()->filter(), "");
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
    EXPECT_TRUE(host.shown().empty());  // no export question on the way
}

TEST_F(MemberDetails, ARowWithAMissingShownValueEndsTheFillNamingIt) {
    load({sweepRow(1, 7, 1, 0), sweepRow(2, 7, 2, 0, {{"Type", "4"}}), sweepRow(3, 7, 3, 0)});
    details({"0007"});
    const auto& list = screen().lstEFTMember;
    ASSERT_EQ(list.lineCount(), 2);
    EXPECT_EQ(list.subItem(0, 12), "Member 1");
    EXPECT_EQ(list.subItem(1, 5), "2.00");  // written before the missing royalty
    EXPECT_EQ(list.subItem(1, 6), "");
    EXPECT_EQ(screen().lblMerchandiseEligible.caption(), "Amount Eligible (Total): $ 0.00");
    EXPECT_EQ(control->sweepTable()->filter(), " CenterID = 0007");
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
    EXPECT_EQ(titles(), std::vector<std::string>{"|The member list is not complete: the sweep row of member 2, center "
                                                 "0007, source 1, sweep sequence 1 has no RoyShow."});
}

TEST_F(MemberDetails, ANewListIsUntickedAndNoLongerAllSelected) {
    // Without the clear, a save after a new "&Details" would send rows nobody ticked.
    load({sweepRow(1, 7, 1, 0), sweepRow(2, 7, 2, 0)});
    details({"0007"});
    screen().cmdSelectAllMerchandise.operatorClick();
    EXPECT_TRUE(state().AllMembersSelected);
    screen().cmdCancelMerchandiseList.operatorClick();
    screen().cmdViewCenterDetails.operatorClick();
    EXPECT_FALSE(state().AllMembersSelected);
    for (const auto& l : screen().lstEFTMember.lines()) EXPECT_FALSE(l.checked);
    EXPECT_EQ(screen().lblMerchandiseSelected.caption(), "Amount Selected (Total): $ 0.00");
}

class MemberSelection : public ControlTest {
protected:
    void SetUp() override {
        load({sweepRow(1, 7, 12.5, 0), sweepRow(2, 7, 7.25, 0), sweepRow(3, 7, 100, 0), sweepRow(4, 7, 20, 0),
              sweepRow(5, 7, 3, 0), sweepRow(6, 7, 0.25, 0)});
        details({"0007"});
    }
    std::string selected() { return screen().lblMerchandiseSelected.caption(); }
    ui::ListView& list() { return screen().lstEFTMember; }
};

TEST_F(MemberSelection, SelectAllTakesTheEligibleTotalAndATickClearsTheFlag) {
    screen().cmdSelectAllMerchandise.operatorClick();
    EXPECT_TRUE(state().AllMembersSelected);
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 143.00");
    EXPECT_EQ(screen().lblMerchandiseEligible.caption(), "Amount Eligible (Total): $ 143.00");
    list().operatorSetChecked(5, false);
    EXPECT_FALSE(state().AllMembersSelected);
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 142.75");
    list().operatorSetChecked(5, true);
    EXPECT_FALSE(state().AllMembersSelected);
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 143.00");
    screen().cmdDeSelectAllMerchandise.operatorClick();
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 0.00");
    for (const auto& l : list().lines()) EXPECT_FALSE(l.checked);
}

// A save names members: the list ticks and unticks every line of the member together, so
// what is ticked is what is saved, and the selected total counts each line once.
TEST_F(MemberSelection, OneLineTicksEveryLineOfItsMember) {
    load({sweepRow(1, 7, 12.5, 0), sweepRow(2, 7, 7.25, 0), sweepRow(1, 7, 0.25, 0, {{"SweepSequence", "2"}})});
    details({"0007"});
    const auto ticks = [&] {
        std::vector<bool> out;
        for (const auto& l : list().lines()) out.push_back(l.checked);
        return out;
    };
    list().operatorSetChecked(2, true);
    EXPECT_EQ(ticks(), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 12.75");
    list().operatorSetChecked(1, true);
    list().operatorSetChecked(0, false);
    EXPECT_EQ(ticks(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 7.25");
}

TEST_F(MemberSelection, TotalSortsByValueAndTicksMoveWithTheirLines) {
    list().operatorSetChecked(2, true);  // the 100.00 line
    list().operatorColumnClick(6);
    EXPECT_EQ(column(list(), 5), (std::vector<std::string>{"0.25", "3.00", "7.25", "12.50", "20.00", "100.00"}));
    EXPECT_TRUE(list().line(5).checked);
    EXPECT_EQ(selected(), "Amount Selected (Total): $ 100.00");
}

TEST_F(MemberSelection, CancelReturnsToTheCentersKeepingEverything) {
    list().operatorSetChecked(0, true);
    screen().lstEFTCenter.operatorSetChecked(0, true);
    screen().cmdCancelMerchandiseList.operatorClick();
    const ui::TabStrip& tabs = screen().tabEFT;
    EXPECT_EQ(tabs.selected(), kTabCenters);
    EXPECT_TRUE(tabs.tab(kTabCenters).visible);
    EXPECT_FALSE(tabs.tab(kTabMembers).visible);
    EXPECT_TRUE(tabs.tab(kTabExport).enabled);
    EXPECT_TRUE(tabs.tab(kTabBatchStatus).enabled);
    EXPECT_TRUE(screen().lstEFTCenter.line(0).checked);
    EXPECT_TRUE(list().line(0).checked);
    EXPECT_TRUE(host.shown().empty());  // no export question
    EXPECT_EQ(server.countOf("POST"), 0u);
}

}  // namespace
}  // namespace eft::test
