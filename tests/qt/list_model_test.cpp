// The list adapter on its own, over a bare screen: Qt's model checker, one reset per fill,
// tick changes as ranges, and operator ticks handed to the core.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "qt/list_model_p.h"
#include "ui/layout.h"
#include "ui/screen.h"

namespace eft::qt {
namespace {

// Counts the model checker's complaints instead of aborting on the first one.
class ModelTesterWarnings {
public:
    ModelTesterWarnings() { previous_ = qInstallMessageHandler(&ModelTesterWarnings::handler); count() = 0; }
    ~ModelTesterWarnings() { qInstallMessageHandler(previous_); }
    static int& count() {
        static int n = 0;
        return n;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString&) {
        if (type != QtDebugMsg && context.category && QByteArray(context.category) == "qt.modeltest") ++count();
    }
    QtMessageHandler previous_;
};

class ListModelTest : public ::testing::Test {
protected:
    ListModelTest() : model(screen, screen.lstEFTMember, ui::findLayout("lstEFTMember")->columns) {}

    void fill(int lines) {
        auto& list = screen.lstEFTMember;
        list.clear();
        list.reserve(static_cast<std::size_t>(lines));
        for (int i = 0; i < lines; ++i) {
            const int line = list.addLine();
            for (int k = 1; k <= list.subItemCount(); ++k) list.setSubItem(line, k, std::to_string(i * 100 + k));
        }
    }

    ModelTesterWarnings warnings;
    ui::Screen screen;
    ListModel model;
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
    EXPECT_EQ(ModelTesterWarnings::count(), 0);
}

TEST_F(ListModelTest, LinesThatVanishBeforeTheNoticeReadAsEmpty) {
    fill(5);
    model.linesReset();
    screen.lstEFTMember.clear();
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_FALSE(model.index(4, 1).data().isValid());
    model.linesReset();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(ModelTesterWarnings::count(), 0);
}

TEST_F(ListModelTest, ChangedLinesAreOneRangeOverAllColumns) {
    fill(20);
    model.linesReset();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.linesChanged(5, 9);
    model.linesChanged(18, 40);  // past the end: clipped to the rows the views know
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(5, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(9, 12));
    EXPECT_EQ(changed[1][1].toModelIndex(), model.index(19, 12));
    EXPECT_EQ(ModelTesterWarnings::count(), 0);
}

TEST_F(ListModelTest, OnlyTheCheckBoxOfTheFirstColumnIsTheOperators) {
    fill(3);
    model.linesReset();
    std::vector<int> itemChecks;
    screen.lstEFTMember.onItemCheck = [&](int line) { itemChecks.push_back(line); };

    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(screen.lstEFTMember.line(1).checked);
    EXPECT_EQ(model.index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(screen.lstEFTMember.line(1).checked);

    struct Refused {
        int row, column, role;
    };
    for (const Refused& r : {Refused{1, 1, Qt::CheckStateRole}, Refused{1, 0, Qt::EditRole},
                             Refused{1, 0, Qt::DisplayRole}, Refused{7, 0, Qt::CheckStateRole}}) {
        EXPECT_FALSE(model.setData(model.index(r.row, r.column), Qt::Checked, r.role))
            << r.row << "," << r.column << " role " << r.role;
    }
    EXPECT_EQ(itemChecks, (std::vector<int>{1, 1}));
    EXPECT_TRUE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model.index(0, 1).data(Qt::CheckStateRole).isValid());
}

TEST_F(ListModelTest, ColumnsFollowTheLayout) {
    fill(1);
    model.linesReset();
    const auto columns = ui::findLayout("lstEFTMember")->columns;
    ASSERT_EQ(model.columnCount(), static_cast<int>(columns.size()));
    for (int c = 0; c < model.columnCount(); ++c) {
        const ui::Column& col = columns[static_cast<std::size_t>(c)];
        const Qt::Alignment h = col.align == ui::Align::Right    ? Qt::AlignRight
                                : col.align == ui::Align::Center ? Qt::AlignHCenter
                                                                 : Qt::AlignLeft;
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString().toStdString(), std::string(col.caption));
        EXPECT_EQ(Qt::Alignment(model.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) &
                      Qt::AlignHorizontal_Mask, h) << c;
        EXPECT_EQ(Qt::Alignment(model.index(0, c).data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask, h)
            << c;
    }
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Date "));
}

}  // namespace
}  // namespace eft::qt
