// How boxes read: a long text cut for the box and kept whole behind "Show Details…", and the
// control's reload.
#include <gtest/gtest.h>

#include "control/failure_box.h"
#include "support/control_fixture.h"

namespace eft::test {
namespace {

std::string repeated(const std::string& line, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += line;
    return out;
}

TEST(BoxExcerpt, CutsAtSixtyLinesOrFourKibibytes) {
    const std::string utf8Tail = "a" + repeated("\xC3\xA9", 3000);  // "é": 4096 falls inside one
    const struct {
        const char* name;
        std::string text;
        std::string shown;
    } cases[] = {
        {"short", "Record 3: no MemberID", "Record 3: no MemberID"},
        {"sixtyLines", repeated("x\r\n", 60), repeated("x\r\n", 60)},
        {"sixtyOneLines", repeated("x\r\n", 61), repeated("x\r\n", 59) + "x\r\n… (1 more line)"},
        {"hundredLines", repeated("line\n", 100), repeated("line\n", 59) + "line\r\n… (40 more lines)"},
        {"oneLongLine", std::string(5000, 'a'), std::string(4096, 'a') + "\r\n… (1 more line)"},
        {"longLineThenMore", std::string(5000, 'a') + "\nb\nc", std::string(4096, 'a') + "\r\n… (3 more lines)"},
        {"neverSplitsACharacter", utf8Tail, utf8Tail.substr(0, 4095) + "\r\n… (1 more line)"},
    };
    for (const auto& c : cases) EXPECT_EQ(boxExcerpt(c.text), c.shown) << c.name;
}

TEST(BoxExcerpt, AHugeTextGoesWholeToTheDetails) {
    // A 10.9 MB report of 200,000 lines: the box holds at most 4 KiB and a line.
    std::string report;
    while (report.size() < 10'900'000) report += "Center 0101 EFT_US_0000000001.txt debit 243,358.88 ok\n";
    const MessageBoxRequest fitted =
        fittedForBox({report, "EFT Batch Generation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok, "GET x"});
    EXPECT_LE(fitted.text.size(), kBoxTextBytes + 40);
    EXPECT_NE(fitted.text.find(" more lines)"), std::string::npos);
    EXPECT_EQ(fitted.details, report + "\r\n\r\nGET x");
    const MessageBoxRequest small = fittedForBox({"ok", "", MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok, "d"});
    EXPECT_EQ(small.text, "ok");
    EXPECT_EQ(small.details, "d");
}

TEST(FirstLine, TakesTheServersFirstLine) {
    EXPECT_EQ(firstLine("\r\n  Record SQL2: not in the sweep  \r\nat line 3"), "Record SQL2: not in the sweep");
    EXPECT_EQ(firstLine(" \r\n "), "");
    EXPECT_EQ(firstLine(std::string(1000, 'z')).size(), 300u);
}

using Reload = ControlTest;

TEST_F(Reload, LoadsTheCurrentCountryAgainButNeverUnderTheMemberList) {
    load({sweepRow(1, 7, 10, 0)});
    serveSweep({sweepRow(1, 7, 10, 0), sweepRow(2, 9, 5, 0)}, 2);
    ASSERT_TRUE(screen().optCountry.operatorChoose(2));
    serveSweep({sweepRow(2, 9, 5, 0), sweepRow(3, 12, 1, 0), sweepRow(4, 15, 1, 0)}, 2);
    EXPECT_TRUE(control->reload());
    EXPECT_EQ(column(screen().lstEFTCenter, 1), (std::vector<std::string>{"0009", "0012", "0015"}));
    EXPECT_EQ(server.requests().back().target, "EFTMember.asp?countryID=2&Load=1");
    EXPECT_EQ(state().CountryID, 2);

    details({"0009"});
    ASSERT_EQ(screen().tabEFT.selected(), kTabMembers);
    const std::size_t before = server.requests().size();
    EXPECT_FALSE(control->reload());
    EXPECT_EQ(server.requests().size(), before);
    EXPECT_EQ(screen().lstEFTMember.lineCount(), 1);
}

}  // namespace
}  // namespace eft::test
