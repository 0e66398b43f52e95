// The keyboard as the operator uses it: real key presses sent to whatever holds the focus,
// counting where the focus lands.
#include <QTest>

#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

class KeyboardTest : public WidgetTest {
protected:
    KeyboardTest() {
        widget.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&widget));
    }

    // The name of the element holding the focus: "tabEFT" for the strip.
    QString focusName() {
        QWidget* f = QApplication::focusWidget();
        if (f == tabBar()) return QStringLiteral("tabEFT");
        return f ? f->objectName() : QStringLiteral("(none)");
    }

    // Presses `key` `times` times, each sent to the widget holding the focus at that moment.
    QStringList press(Qt::Key key, int times, Qt::KeyboardModifiers modifiers = {}) {
        QStringList visited;
        for (int i = 0; i < times; ++i) {
            QWidget* target = QApplication::focusWidget();
            if (!target) return visited << QStringLiteral("(none)");
            QTest::keyClick(target, key, modifiers);
            visited << focusName();
        }
        return visited;
    }

    void startAt(const char* name) {
        QWidget* w = std::string(name) == "tabEFT" ? tabBar() : element(name);
        w->setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(focusName(), QString::fromLatin1(name));
    }

    static QStringList twice(const QStringList& round) { return round + round; }
};

const QStringList kCentersRound = {"cmdSelectAllCenters", "cmdDeSelectAllCenters", "cmdViewCenterDetails",
                                   "tabEFT",              "lstEFTCenter",          "optCountry(1)",
                                   "optCountry(2)",       "cmdLoadData"};

// Tab visits every element of the centers tab and wraps again and again; Shift+Tab (as
// Backtab or as Tab with Shift held) goes the other way.
TEST_F(KeyboardTest, TabAndShiftTabVisitTheCentersTabBothWays) {
    startAt("cmdLoadData");
    EXPECT_EQ(press(Qt::Key_Tab, 16), twice(kCentersRound));
    startAt("cmdLoadData");
    QStringList back;
    for (auto it = kCentersRound.rbegin() + 1; it != kCentersRound.rend(); ++it) back << *it;
    back << "cmdLoadData";
    EXPECT_EQ(press(Qt::Key_Backtab, 16), twice(back));
    startAt("cmdLoadData");
    EXPECT_EQ(press(Qt::Key_Tab, 8, Qt::ShiftModifier), back);
}

TEST_F(KeyboardTest, DisabledElementsAndTheOtherTabsAreSkipped) {
    serveDemo();
    click("cmdLoadData");  // disables "&Load Data"
    startAt("cmdSelectAllCenters");
    EXPECT_EQ(press(Qt::Key_Tab, 7), (QStringList{"cmdDeSelectAllCenters", "cmdViewCenterDetails", "tabEFT",
                                                  "lstEFTCenter", "optCountry(1)", "optCountry(2)",
                                                  "cmdSelectAllCenters"}));

    tick("lstEFTCenter", 0);
    click("cmdViewCenterDetails");
    ASSERT_EQ(tabs()->currentPage(), 1);
    startAt("tabEFT");
    EXPECT_EQ(press(Qt::Key_Tab, 6), (QStringList{"cmdCancelMerchandiseList", "lstEFTMember", "cmdSaveMerchandise",
                                                  "cmdSelectAllMerchandise", "cmdDeSelectAllMerchandise", "tabEFT"}));

    click("cmdCancelMerchandiseList");
    clickTab(3);
    ASSERT_EQ(tabs()->currentPage(), 3);
    startAt("tabEFT");
    // The list before "Commit": the centers are ticked before the commit is reached.
    EXPECT_EQ(press(Qt::Key_Tab, 4), (QStringList{"cmbBatches", "lstBatchDetails", "cmdPassedFailed", "tabEFT"}));
}

TEST_F(KeyboardTest, TheStripsArrowsSkipHiddenAndDisabledTabs) {
    serveDemo();
    answers = {MsgAnswer::No};  // "Export Batch" asks first
    startAt("tabEFT");
    // From "List of Centers" the next tab the operator may pick is "Export Batch": tab 1 is hidden.
    press(Qt::Key_Right, 1);
    EXPECT_EQ(titles(), std::vector<std::string>{"EFT Batch Generation"});
    EXPECT_EQ(widget.control().screen().tabEFT.selected(), 0) << "No leaves the tab as it was";
    press(Qt::Key_Left, 1);
    EXPECT_EQ(tabBar()->currentIndex(), 0) << "nothing before the first tab";

    // On "Membership Sweep" tabs 0 (hidden), 2 and 3 (disabled) are all out of reach.
    click("cmdLoadData");
    tick("lstEFTCenter", 0);
    click("cmdViewCenterDetails");
    startAt("tabEFT");
    press(Qt::Key_Right, 1);
    press(Qt::Key_Left, 1);
    EXPECT_EQ(widget.control().screen().tabEFT.selected(), 1);

    EXPECT_EQ(titles().size(), 1u) << "no tab was chosen";

    // Back on the centers: Right exports (Yes) and lands on "Update Batch Status"; Left from
    // there asks again and No stays.
    click("cmdCancelMerchandiseList");
    answers = {MsgAnswer::Yes};
    startAt("tabEFT");
    press(Qt::Key_Right, 1);
    EXPECT_EQ(widget.control().screen().tabEFT.selected(), 3);
    answers = {MsgAnswer::No};
    startAt("tabEFT");
    press(Qt::Key_Left, 1);
    EXPECT_EQ(widget.control().screen().tabEFT.selected(), 3);
    EXPECT_EQ(titles(), std::vector<std::string>(4, "EFT Batch Generation")) << "asked, report, asked";
}

}  // namespace
}  // namespace eft::qt::test
