// The list adapter on its own, over a bare screen and checked by Qt's model tester.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "qt/list_model_p.h"
#include "ui/layout.h"
#include "ui/screen.h"

namespace eft::qt {
namespace {

int modelTesterComplaints = 0;

class ListModelTest : public ::testing::Test {
protected:
    ListModelTest() {
        modelTesterComplaints = 0;
        previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString&) {
            if (type != QtDebugMsg && context.category && QByteArray(context.category) == "qt.modeltest")
                ++modelTesterComplaints;
        });
    }
    ~ListModelTest() override {
        EXPECT_EQ(modelTesterComplaints, 0);
        qInstallMessageHandler(previous_);
    }

    void fill(int lines) {
        auto& list = screen.lstEFTMember;
        list.clear();
        for (int i = 0; i < lines; ++i) {
            const int line = list.addLine();
            for (int k = 1; k <= list.subItemCount(); ++k) list.setSubItem(line, k, std::to_string(i * 100 + k));
        }
    }

    QtMessageHandler previous_;
    ui::Screen screen;
    ListModel model{screen, screen.lstEFTMember, ui::findLayout("lstEFTMember")->columns};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Warning};
};

TEST_F(ListModelTest, AFillOfAHundredThousandLinesIsOneReset) {
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    fill(100'000);
    EXPECT_EQ(model.rowCount(), 0) << "rows appear only with the core's notice";
    model.linesReset();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 0);
    EXPECT_EQ(model.rowCount(), 100'000);
    EXPECT_EQ(model.index(99'999, 12).data().toString(), QStringLiteral("9999912"));

    // Lines the core dropped before its notice read as empty, not as a crash.
    screen.lstEFTMember.clear();
    EXPECT_FALSE(model.index(99'999, 1).data().isValid());
}

TEST_F(ListModelTest, ChangedLinesAreOneRangeOverAllColumns) {
    fill(20);
    model.linesReset();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.linesChanged(5, 9);
    model.linesChanged(18, 40);  // clipped to the rows the views know
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(5, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(9, 12));
    EXPECT_EQ(changed[1][1].toModelIndex(), model.index(19, 12));
}

TEST_F(ListModelTest, OnlyTheFirstColumnsCheckBoxIsTheOperators) {
    fill(3);
    model.linesReset();
    std::vector<int> itemChecks;
    screen.lstEFTMember.onItemCheck = [&](int line) { itemChecks.push_back(line); };

    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(screen.lstEFTMember.line(1).checked);
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    struct Refused {
        int row, column, role;
    };
    for (const Refused& r : {Refused{1, 1, Qt::CheckStateRole}, Refused{1, 0, Qt::EditRole}, Refused{7, 0, Qt::CheckStateRole}})
        EXPECT_FALSE(model.setData(model.index(r.row, r.column), Qt::Checked, r.role)) << r.row << "," << r.column;
    EXPECT_EQ(itemChecks, (std::vector<int>{1, 1}));
    EXPECT_TRUE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_EQ(Qt::Alignment(model.index(0, 5).data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(Qt::Alignment(model.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
}

// The lines' texts share one store; whatever the order texts are set in, replaced, grown or
// emptied, and lines sorted, each line reads back what was last set, the others unchanged.
TEST(ListLinesTest, TextsReadBackWhateverOrderTheyAreSetIn) {
    ui::Screen screen;
    ui::ListView& list = screen.lstEFTMember;  // 12 sub-items
    struct Set {
        int line, k;
        std::string text;
    };
    const Set steps[] = {
        {0, 1, "12/06/2026"}, {0, 12, "Member 1"},  // a gap stays empty
        {1, 2, "0012"},       {0, 5, "10.50"},      // an earlier line grows: moved to the end
        {0, 1, "1/2/2026"},   {1, 2, ""},           // shrunk, emptied
        {2, 4, std::string(300, 'x')},              {0, 12, "Member One"},
        {1, 12, "last"},      {1, 1, "first"},       {2, 4, "short"},
    };
    std::vector<std::vector<std::string>> want(3, std::vector<std::string>(12));
    for (int i = 0; i < 3; ++i) list.addLine();
    for (const Set& s : steps) {
        list.setSubItem(s.line, s.k, s.text);
        want[static_cast<std::size_t>(s.line)][static_cast<std::size_t>(s.k - 1)] = s.text;
        for (int line = 0; line < 3; ++line)
            ASSERT_EQ(list.line(line).sub, want[static_cast<std::size_t>(line)]) << "line " << line << " after "
                                                                               << s.line << "," << s.k;
    }
    // Many edits of old lines: the store is compacted now and then; the texts stay.
    for (int round = 0; round < 2000; ++round) {
        const int line = round % 3;
        const std::string text = "t" + std::to_string(round);
        list.setSubItem(line, 3, text);
        want[static_cast<std::size_t>(line)][2] = text;
    }
    for (int line = 0; line < 3; ++line) EXPECT_EQ(list.line(line).sub, want[static_cast<std::size_t>(line)]);

    list.setSortKey(12);
    list.setSorted(true);  // by sub-item 12: "" (line 2), "last" (line 1), "Member One" (line 0)
    EXPECT_EQ(list.subItem(0, 12), "");
    EXPECT_EQ(list.subItem(1, 1), "first");
    EXPECT_EQ(list.subItem(2, 1), "1/2/2026");
    EXPECT_THROW(list.setSubItem(0, 13, "x"), std::out_of_range);
    EXPECT_THROW((void)list.subItem(0, 0), std::out_of_range);

    list.clear();
    list.addLine();
    EXPECT_EQ(list.line(0).sub, std::vector<std::string>(12));
}

// A line the bank returned says why on hover, on the status line and to a screen reader, and
// cannot be ticked; a plain line has no tip and ticks as ever.
TEST(BatchLinesTest, AReturnedLineSaysWhyAndCannotBeTicked) {
    ui::Screen screen;
    auto& list = screen.lstBatchDetails;
    ListModel model{screen, list, ui::findLayout("lstBatchDetails")->columns};
    const std::string why = "Returned by the bank: R01 Insufficient funds, on 2026-12-03.";
    for (const char* center : {"0101", "0102"}) {
        const int line = list.addLine();
        list.setSubItem(line, 1, center);
        list.setSubItem(line, 2, "Albany West");
        list.setSubItem(line, 3, "816.11");
    }
    list.setTip(0, why);
    list.setLocked(0, true);
    model.linesReset();
    const struct {
        int row;
        const char* tip;
        const char* spoken;
        bool tickable;
    } lines[] = {
        {0, why.c_str(), "Center 0101, Albany West, Amount 816.11, not selected, Returned by the bank: R01 Insufficient "
                         "funds, on 2026-12-03.", false},
        {1, "", "Center 0102, Albany West, Amount 816.11, not selected", true},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.row);
        for (const int role : {int{Qt::ToolTipRole}, int{Qt::StatusTipRole}})
            EXPECT_EQ(model.index(l.row, 2).data(role).toString(), QString::fromUtf8(l.tip));
        EXPECT_EQ(model.index(l.row, 0).data(Qt::AccessibleTextRole).toString(), QString::fromUtf8(l.spoken));
        EXPECT_EQ(model.flags(model.index(l.row, 0)).testFlag(Qt::ItemIsUserCheckable), l.tickable);
        EXPECT_EQ(model.setData(model.index(l.row, 0), Qt::Checked, Qt::CheckStateRole), l.tickable);
        EXPECT_EQ(list.line(l.row).checked, l.tickable);
    }
}

}  // namespace
}  // namespace eft::qt
