// The Qt host services: real modal boxes (answered by a scripted click once they are up),
// the wait cursor kept balanced, focus only for widgets on screen, and the date.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "control/failure_box.h"
#include "qt/qt_host_services.h"
#include "widget_fixture.h"

namespace eft::qt {
namespace {

// Shows the box through the services and, once it is up, hands it to `look`, which notes what
// it shows and returns the button to press.
MsgAnswer whenUp(QtHostServices& services, const MessageBoxRequest& request,
                 const std::function<QAbstractButton*(QMessageBox&)>& look) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        QAbstractButton* b = look(*box);
        ASSERT_NE(b, nullptr);
        b->click();
    });
    return services.messageBox(request);
}

// A window manager's title bar sets the title bold and keeps about 120 px for the frame's icon
// and its three buttons: a box with a short text is still that wide, whatever its title.
TEST(QtHostServicesTest, ABoxIsWideEnoughForItsTitle) {
    QWidget owner;
    owner.show();
    QtHostServices services(&owner);
    for (const char* title : {"Information Validation", "EFT Batch Generation", "ERROR",
                              "A title far longer than the two letters of its box"}) {
        SCOPED_TRACE(title);
        int boxWidth = 0, needed = 0;
        whenUp(services, {"OK", title, MsgIcon::Information, MsgButtons::YesNo, MsgAnswer::Yes},
               [&](QMessageBox& box) {
                   boxWidth = box.width();
                   QFont bold = box.font();
                   bold.setBold(true);
                   needed = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 120;
                   return box.button(QMessageBox::No);
               });
        EXPECT_GE(boxWidth, needed);
    }
}

// A 10.9 MB report: the box shows its head, the details hold it whole, and the host is not
// frozen (the run ends; its time is the benchmark's business, not this test's).
TEST(QtHostServicesTest, AHugeReportShowsItsHeadAndKeepsTheWholeInTheDetails) {
    QWidget owner;
    owner.show();
    QtHostServices services(&owner);
    std::string report;
    while (report.size() < 10'900'000) report += "Center 0101 EFT_US_0000000001.txt debit 243,358.88 ok\n";
    qsizetype shownText = 0, shownDetails = 0;
    whenUp(services, fittedForBox({report, "EFT Batch Generation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok}),
           [&](QMessageBox& box) {
               shownText = box.text().size();
               shownDetails = box.detailedText().size();
               return box.button(QMessageBox::Ok);
           });
    EXPECT_LE(shownText, 4200);
    EXPECT_GE(shownDetails, static_cast<qsizetype>(report.size()));
}

TEST(QtHostServicesTest, MessageBoxesShowWhatTheControlAsksFor) {
    QApplication::setApplicationDisplayName(QStringLiteral("EFTMemb Test Host"));
    QWidget owner;
    owner.show();
    QtHostServices services(&owner);
    using B = QMessageBox;
    struct Case {
        MessageBoxRequest request;
        B::StandardButton press;
        QString title;
        B::Icon icon;
        B::StandardButtons buttons;
        B::StandardButton defaultButton;
        MsgAnswer answer;
    };
    const Case cases[] = {
        {{"At least one center", "Information Validation", MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok},
         B::NoButton, "Information Validation", B::Information, B::Ok, B::Ok, MsgAnswer::Ok},
        {{"Export?", "EFT Batch Generation", MsgIcon::Information, MsgButtons::YesNo, MsgAnswer::Yes},
         B::NoButton, "EFT Batch Generation", B::Information, B::Yes | B::No, B::Yes, MsgAnswer::Yes},
        {{"Export?", "EFT Batch Generation", MsgIcon::Information, MsgButtons::YesNo, MsgAnswer::No},
         B::Yes, "EFT Batch Generation", B::Information, B::Yes | B::No, B::No, MsgAnswer::Yes},
        {{"Export?", "EFT Batch Generation", MsgIcon::Information, MsgButtons::YesNo, MsgAnswer::Yes},
         B::No, "EFT Batch Generation", B::Information, B::Yes | B::No, B::Yes, MsgAnswer::No},
        // The details go behind the button.
        {{" Error !  ", "ERROR", MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok,
          "GET http://127.0.0.1:9/eft/EFTMember.asp?countryID=1&Load=1"},
         B::NoButton, "ERROR", B::Warning, B::Ok, B::Ok, MsgAnswer::Ok},
        // No title of its own: the application's name stands in.
        {{"<b>not XML</b>", "", MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok},
         B::NoButton, "EFTMemb Test Host", B::NoIcon, B::Ok, B::Ok, MsgAnswer::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.title + "|" + c.request.text);
        const MsgAnswer answer = whenUp(services, c.request, [&](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle(), c.title);
            EXPECT_EQ(box.text(), QString::fromStdString(c.request.text));
            EXPECT_EQ(box.detailedText(), QString::fromStdString(c.request.details));
            EXPECT_EQ(box.textFormat(), Qt::PlainText) << "server text is never rendered as markup";
            EXPECT_EQ(box.icon(), c.icon);
            EXPECT_EQ(box.standardButtons(), c.buttons);
            EXPECT_EQ(box.standardButton(box.defaultButton()), c.defaultButton);
            return c.press == B::NoButton ? box.defaultButton() : box.button(c.press);
        });
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(QtHostServicesTest, TheWaitCursorStaysBalanced) {
    // A cursor the host pushed itself must survive whatever the control does.
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    {
        QtHostServices services;
        using P = ui::MousePointer;
        struct Step {
            P pointer;
            Qt::CursorShape expected;
        };
        for (const Step& s : {Step{P::Normal, Qt::CrossCursor}, Step{P::Hourglass, Qt::WaitCursor},
                              Step{P::Hourglass, Qt::WaitCursor}, Step{P::Normal, Qt::CrossCursor},
                              Step{P::Normal, Qt::CrossCursor}, Step{P::Hourglass, Qt::WaitCursor}}) {
            services.setMousePointer(s.pointer);
            ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), s.expected);
            EXPECT_EQ(services.hourglassShown(), s.pointer == P::Hourglass);
        }
        // Destroyed while the hourglass shows.
    }
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(QtHostServicesTest, FocusGoesOnlyToWidgetsOnScreen) {
    QWidget owner;
    auto* button = new QPushButton(QStringLiteral("&Load Data"), &owner);
    button->setObjectName(QStringLiteral("cmdLoadData"));
    QtHostServices services(&owner);
    EXPECT_FALSE(services.setFocus("cmdLoadData")) << "not shown yet";
    owner.show();
    EXPECT_FALSE(services.setFocus("noSuchElement"));
    button->setEnabled(false);
    EXPECT_FALSE(services.setFocus("cmdLoadData"));
    button->setEnabled(true);
    EXPECT_TRUE(services.setFocus("cmdLoadData"));
    EXPECT_EQ(owner.focusWidget(), button);
}

TEST(QtHostServicesTest, SetVariablesStoresEvenWhenTheFocusCannotBeGiven) {
    EftMembWidget widget;
    widget.setVariables(QStringLiteral("http://example.invalid/eft/"), 70'000, 3);
    EXPECT_EQ(widget.control().state().PersonID, 70'000);
    EXPECT_FALSE(widget.control().screen().focus().has_value());

    widget.show();
    widget.setProperty("serverAddress", QStringLiteral("http://other.invalid/"));
    EXPECT_EQ(widget.control().state().ptServerName, "http://other.invalid/");
    EXPECT_EQ(widget.control().state().PersonID, 70'000) << "a property keeps the other values";
    EXPECT_EQ(widget.focusWidget(), widget.elementWidget(QStringLiteral("cmdLoadData")));
}

TEST(QtHostServicesTest, TheHourglassShowsDuringALoadAndIsGoneAfterIt) {
    eft::test::CannedServer server;
    server.on("EFTMember.asp?countryID=1&Load=1", {"this is not XML"});
    EftMembWidget widget;
    std::vector<bool> waitCursorAtBox;
    widget.setMessageBoxHandler([&](const MessageBoxRequest&) {
        waitCursorAtBox.push_back(QGuiApplication::overrideCursor() &&
                                  QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor);
        return MsgAnswer::Ok;
    });
    widget.show();
    widget.setVariables(QString::fromStdString(server.base()), 1, 1);
    qobject_cast<QAbstractButton*>(widget.elementWidget(QStringLiteral("cmdLoadData")))->click();
    EXPECT_EQ(waitCursorAtBox, std::vector<bool>{true}) << "the failure box comes before the pointer is reset";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace eft::qt
