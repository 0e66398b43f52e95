// The four tabs as the operator sees them over the demo data of the reference server,
// rendered to PNG files kept in the build tree for a look.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "server/embedded_server.h"
#include "widget_fixture.h"

#ifndef EFT_SCREENSHOT_DIR
#error "EFT_SCREENSHOT_DIR names the folder for the rendered tabs"
#endif

namespace eft::qt::test {
namespace {

class LookTest : public WidgetTest {
protected:
    LookTest() {
        EXPECT_TRUE(dir.isValid());
        server::EmbeddedOptions options;
        options.dbPath = QDir(dir.path()).filePath(QStringLiteral("demo.sqlite")).toStdString();
        options.seedDemo = true;
        demo = server::EmbeddedServer::start(options);
        QDir().mkpath(QStringLiteral(EFT_SCREENSHOT_DIR));
        widget.setMessageBoxHandler([this](const MessageBoxRequest& r) {
            if (onBox) onBox(r);
            return r.buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
        });
        widget.setVariables(QString::fromStdString(demo->baseAddress()), 1, 1);
    }

    // Renders the control and checks the picture is the control's whole area.
    void render(const QString& name) {
        QApplication::processEvents();
        const QString path = QDir(QStringLiteral(EFT_SCREENSHOT_DIR)).filePath(name + QStringLiteral(".png"));
        ASSERT_TRUE(widget.grab().save(path, "PNG")) << path.toStdString();
        const QImage image(path);
        EXPECT_EQ(image.size(), widget.size() * widget.devicePixelRatioF()) << name.toStdString();
        shots << name;
    }
    QStringList visibleTabs() {
        QStringList out;
        for (int i = 0; i < tabBar()->count(); ++i)
            if (tabBar()->isTabVisible(i)) out << tabBar()->tabText(i).remove(QLatin1Char('&'));
        return out;
    }
    int rows(const char* list) { return model(list)->rowCount(); }

    QTemporaryDir dir;
    std::unique_ptr<server::EmbeddedServer> demo;
    QStringList shots;
};

TEST_F(LookTest, TheFourTabsOverTheDemoData) {
    ui::Screen& s = widget.control().screen();
    s.cmdLoadData.operatorClick();
    ASSERT_GT(rows("lstEFTCenter"), 10);
    EXPECT_EQ(visibleTabs(), (QStringList{"List of Centers", "Export Batch", "Update Batch Status"}));
    EXPECT_EQ(headers("lstEFTCenter"),
              (QStringList{"", "Center", "Name of Center", "Due In", "Due Out", "Net In", "Net Out"}));
    render(QStringLiteral("tab0-list-of-centers"));

    for (int line : {0, 1, 2}) s.lstEFTCenter.operatorSetChecked(line, true);
    s.cmdViewCenterDetails.operatorClick();
    ASSERT_GT(rows("lstEFTMember"), 0);
    EXPECT_EQ(visibleTabs(), (QStringList{"Membership Sweep (United States)", "Export Batch", "Update Batch Status"}));
    EXPECT_EQ(headers("lstEFTMember"),
              (QStringList{"", "Date ", "Center", "Member", "Source", "Total", "Royalty", "NAC", "Franchise Fee", "GST",
                           "PST", "NMC Payments", "Member Name"}));
    s.cmdSelectAllMerchandise.operatorClick();
    render(QStringLiteral("tab1-membership-sweep"));

    // Save the chosen rows so that the export has a batch to form.
    s.cmdSaveMerchandise.operatorClick();
    ASSERT_EQ(s.tabEFT.selected(), 0);

    // "Export Batch" shows only while its question is open.
    onBox = [&](const MessageBoxRequest& r) {
        if (r.buttons == MsgButtons::YesNo) render(QStringLiteral("tab2-export-batch"));
    };
    s.tabEFT.operatorSelect(2);
    onBox = nullptr;
    ASSERT_EQ(s.tabEFT.selected(), 3);
    ASSERT_GE(element<QComboBox>("cmbBatches")->count(), 2);
    s.cmbBatches.operatorChoose(1);
    ASSERT_GT(rows("lstBatchDetails"), 0);
    EXPECT_EQ(headers("lstBatchDetails"), (QStringList{"X", "Center", "Center Name", "Amount"}));
    render(QStringLiteral("tab3-update-batch-status"));

    EXPECT_EQ(shots, (QStringList{"tab0-list-of-centers", "tab1-membership-sweep", "tab2-export-batch",
                                  "tab3-update-batch-status"}));
}

}  // namespace
}  // namespace eft::qt::test
