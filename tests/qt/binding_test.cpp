// Both directions of the binding: the operator's input through the widgets reaches the core
// as the element's event, and the core's changes reach the widgets. Moves that the widgets
// make on their own never reach the core.
#include <QComboBox>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QStyleOptionViewItem>
#include <QTest>

#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

using BindingTest = WidgetTest;

int count(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<int>(std::count(v.begin(), v.end(), s));
}

TEST_F(BindingTest, AClickOnACheckBoxTicksTheLineInTheCore) {
    serveDemo();
    click("cmdLoadData");
    QTreeView* v = view("lstEFTCenter");
    ASSERT_EQ(v->model()->rowCount(), 3);
    QApplication::processEvents();

    // Where the view's delegate draws the box of line 1.
    QStyleOptionViewItem option;
    option.initFrom(v);
    option.rect = v->visualRect(v->model()->index(1, 0));
    option.features = QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = v->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, v);
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, box.center());

    const auto& lines = widget.control().screen().lstEFTCenter.lines();
    EXPECT_EQ((std::vector<bool>{lines[0].checked, lines[1].checked, lines[2].checked}),
              (std::vector<bool>{false, true, false}));
    EXPECT_EQ(v->model()->index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST_F(BindingTest, TickingMemberLinesKeepsTheSelectedTotal) {
    serveDemo();
    click("cmdLoadData");
    EXPECT_FALSE(element("cmdLoadData")->isEnabled()) << "the core disables it after a load";
    EXPECT_EQ(labelText("lblGrandTotal"), QStringLiteral("Amount Eligible (Total): $ 134.75"));
    tick("lstEFTCenter", 0);  // 0012
    click("cmdViewCenterDetails");
    ASSERT_EQ(tabBar()->currentIndex(), 1);
    ASSERT_EQ(column("lstEFTMember", 3), (QStringList{"1001", "1002"}));

    struct Step {
        int row;
        bool checked;
        const char* selected;
    };
    for (const Step& s : {Step{0, true, "10.50"}, Step{1, true, "30.50"}, Step{0, false, "20.00"}}) {
        tick("lstEFTMember", s.row, s.checked);
        EXPECT_EQ(labelText("lblMerchandiseSelected"), QStringLiteral("Amount Selected (Total): $ ") + s.selected);
        EXPECT_EQ(model("lstEFTMember")->index(s.row, 0).data(Qt::CheckStateRole).toInt(),
                  s.checked ? Qt::Checked : Qt::Unchecked);
    }
}

TEST_F(BindingTest, TheCoresChangesReachTheViews) {
    serveDemo();
    click("cmdLoadData");
    ui::Screen& s = widget.control().screen();

    QSignalSpy repaint(model("lstEFTCenter"), &QAbstractItemModel::dataChanged);
    s.cmdSelectAllCenters.operatorClick();
    ASSERT_EQ(repaint.count(), 1) << "one notice for all the ticks";
    EXPECT_EQ(repaint[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(repaint[0][1].toModelIndex().row(), 2);
    EXPECT_EQ(model("lstEFTCenter")->index(2, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);

    s.cmdViewCenterDetails.operatorClick();
    EXPECT_EQ(tabBar()->tabText(1), QStringLiteral("&Membership Sweep (United States)"));
    EXPECT_EQ(tabs()->currentPage(), 1);
    EXPECT_FALSE(tabBar()->isTabVisible(0));
    EXPECT_FALSE(tabBar()->isTabEnabled(2));
    EXPECT_FALSE(tabBar()->isTabEnabled(3));
    EXPECT_EQ(model("lstEFTMember")->rowCount(), 4);
}

TEST_F(BindingTest, AHeaderClickHasTheCoreSortTheList) {
    serveDemo();
    click("cmdLoadData");
    QHeaderView* header = view("lstEFTCenter")->header();
    const int dueIn = 3;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(dueIn) + header->sectionSize(dueIn) / 2,
                             header->height() / 2));
    // By value, as the core sorts amounts.
    EXPECT_EQ(column("lstEFTCenter", dueIn), (QStringList{"7.25", "30.50", "100.00"}));
    EXPECT_EQ(column("lstEFTCenter", 1), (QStringList{"0015", "0012", "0034"}));
    EXPECT_EQ(widget.control().screen().lstEFTCenter.sortKey(), dueIn);
}

// The operator picks "Export Batch": the strip shows it while the question is open, and the
// answer decides where it ends.
TEST_F(BindingTest, TheExportQuestionShowsItsTabAndTheAnswerMovesTheStrip) {
    serveDemo();
    int pageDuringQuestion = -1;
    onBox = [&](const MessageBoxRequest&) {
        if (pageDuringQuestion < 0) pageDuringQuestion = tabs()->currentPage();
    };
    for (const MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
        const bool yes = answer == MsgAnswer::Yes;
        SCOPED_TRACE(yes ? "yes" : "no");
        answers = {answer};
        pageDuringQuestion = -1;
        clickTab(2);
        EXPECT_EQ(pageDuringQuestion, 2);
        EXPECT_EQ(tabBar()->currentIndex(), yes ? 3 : 0);
        EXPECT_EQ(tabs()->currentPage(), yes ? 3 : 0);
    }
    EXPECT_EQ(count(targets("GET"), "EFTMemberBatch.asp?ProcessExport=True&PersonID=9&PersonTypeID=2"), 1);
    EXPECT_EQ(boxes.back().text, "2 batch items exported");
    EXPECT_EQ(element<QComboBox>("cmbBatches")->currentText(), QStringLiteral(" Please Select Batch Number : "));
}

TEST_F(BindingTest, HidingTheTabShowingNeverReachesTheCoreAsAChoice) {
    serveDemo();
    ui::Screen& s = widget.control().screen();

    // The core hides the tab showing and selects nothing: the strip moves by itself.
    s.tabEFT.setVisible(0, false);
    s.flush();
    EXPECT_EQ(s.tabEFT.selected(), 0);
    EXPECT_TRUE(targets("GET").empty()) << "no batch list, no export";
    EXPECT_TRUE(boxes.empty());
    s.tabEFT.setVisible(0, true);
    s.flush();
    EXPECT_EQ(tabBar()->currentIndex(), 0);

    // "&Details" hides "List of Centers" while it shows.
    click("cmdLoadData");
    tick("lstEFTCenter", 1);
    click("cmdViewCenterDetails");
    EXPECT_EQ(s.tabEFT.selected(), 1);
    EXPECT_EQ(tabBar()->currentIndex(), 1);
    EXPECT_EQ(tabs()->currentPage(), 1);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes.front().text);
    EXPECT_EQ(targets("GET"), (std::vector<std::string>{"EFTMember.asp?countryID=1&Load=1"}));
}

TEST_F(BindingTest, ARefusedTabChoicePutsTheStripBack) {
    serveDemo();
    click("cmdLoadData");
    tick("lstEFTCenter", 0);
    click("cmdViewCenterDetails");
    ASSERT_FALSE(tabBar()->isTabEnabled(3));
    tabBar()->setCurrentIndex(3);  // as a stray choice of a disabled tab would
    EXPECT_EQ(widget.control().screen().tabEFT.selected(), 1);
    EXPECT_EQ(tabBar()->currentIndex(), 1);
    EXPECT_EQ(tabs()->currentPage(), 1);
}

TEST_F(BindingTest, ABatchIsChosenTickedAndCommitted) {
    serveDemo();
    clickTab(3);
    EXPECT_FALSE(element("lblIstr")->isVisibleTo(tabs()->page(3)));
    QComboBox* batches = element<QComboBox>("cmbBatches");
    ASSERT_EQ(batches->count(), 3);
    EXPECT_EQ(batches->itemText(1).left(14), QStringLiteral(" Batch # : 57 "));
    emit batches->activated(1);
    EXPECT_TRUE(element("lblIstr")->isVisibleTo(tabs()->page(3)));
    ASSERT_EQ(column("lstBatchDetails", 1), (QStringList{"0012", "0034"}));
    EXPECT_TRUE(view("lstBatchDetails")->isColumnHidden(4) && view("lstBatchDetails")->isColumnHidden(5))
        << "the member ids stay out of sight once the list is filled";

    // The batch list has no ItemCheck handler; the tick must still show.
    QSignalSpy repaint(model("lstBatchDetails"), &QAbstractItemModel::dataChanged);
    tick("lstBatchDetails", 0);
    ASSERT_EQ(repaint.count(), 1);
    EXPECT_EQ(repaint[0][0].toModelIndex().row(), 0);
    answers = {MsgAnswer::Yes};
    click("cmdPassedFailed");
    std::vector<std::string> bodies;
    for (const auto& r : server.requests())
        if (r.method == "POST") bodies.push_back(r.body);
    EXPECT_EQ(bodies, (std::vector<std::string>{"GoodMemb=1001&GoodMemb=-1002&BadMemb=3401&PersonID=9&PersonType=2&BatchNo=57&"}));
    // An accepted commit reloads the list: the box is back on its prompt, the details empty.
    EXPECT_EQ(batches->currentIndex(), 0);
    EXPECT_EQ(model("lstBatchDetails")->rowCount(), 0);
    EXPECT_TRUE(element("cmdPassedFailed")->isEnabled());
}

// A center the bank returned says why on hover and, as the current line, to the host's status
// line; its tick box stays empty whatever the operator does.
TEST_F(BindingTest, AReturnedCenterTellsWhyAndStaysUnticked) {
    struct StatusTips : QObject {
        QStringList seen;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::StatusTip) seen << static_cast<QStatusTipEvent*>(e)->tip();
            return false;
        }
    } tips;
    Row returned = batchRow(57, 12, 1001, 1, "10.5");
    returned["ReturnCode"] = "R01";
    returned["ReturnReason"] = "Insufficient funds";
    returned["ReturnedDate"] = "2011-03-08";
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {eft::test::sweepReply({returned, batchRow(57, 34, 3401, 1, "97")})});
    clickTab(3);
    emit element<QComboBox>("cmbBatches")->activated(1);
    ASSERT_EQ(column("lstBatchDetails", 1), (QStringList{"0012", "0034"}));
    const QString why = QStringLiteral(
        "Returned by the bank: R01 Insufficient funds, on 2011-03-08. It is recorded as failed and cannot be ticked.");
    EXPECT_EQ(model("lstBatchDetails")->index(0, 2).data(Qt::ToolTipRole).toString(), why);
    widget.installEventFilter(&tips);
    for (int row : {0, 1}) view("lstBatchDetails")->setCurrentIndex(model("lstBatchDetails")->index(row, 1));
    widget.removeEventFilter(&tips);
    EXPECT_EQ(tips.seen, (QStringList{why, QString()}));
    tick("lstBatchDetails", 0);
    EXPECT_EQ(model("lstBatchDetails")->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
}

}  // namespace
}  // namespace eft::qt::test
