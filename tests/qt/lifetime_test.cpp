// The host deletes the widget while one of its requests waits: by delete, by deleteLater
// and by closing a window made with WA_DeleteOnClose. The request ends and the host's event
// loop goes on as if the widget had never been there.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>
#include <string>

#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

using namespace std::chrono_literals;
using eft::test::CannedServer;
using eft::test::sweepReply;

enum class Way { Delete, DeleteLater, CloseDeleteOnClose };

struct Request {
    const char* name;
    const char* target;
    std::function<void(EftMembWidget&)> before;
    std::function<void(EftMembWidget&)> act;
};

void click(EftMembWidget& w, const char* name) {
    qobject_cast<QAbstractButton*>(w.elementWidget(QString::fromLatin1(name)))->click();
}
void clickTab(EftMembWidget& w, int index) {
    QTabBar* bar = qobject_cast<TabControl*>(w.elementWidget(QStringLiteral("tabEFT")))->bar();
    // Press and release as two events, as a real click comes: the press may take the strip away.
    const QPoint at = bar->tabRect(index).center();
    const QPointer<QTabBar> alive(bar);
    QTest::mousePress(bar, Qt::LeftButton, {}, at);
    if (alive) QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
}

// The core's own lifetime test destroys the control under each of the five requests; here the three
// ways a host deletes a widget meet each kind of wait: a GET, a POST, and a GET that another
// GET would follow.
const Request kRequests[] = {
    {"SweepLoad", "EFTMember.asp?countryID=1&Load=1", [](EftMembWidget&) {},
     [](EftMembWidget& w) { click(w, "cmdLoadData"); }},
    {"StatusCommit", "EFTMemberBatch.asp",
     [](EftMembWidget& w) {
         clickTab(w, 3);
         Q_EMIT qobject_cast<QComboBox*>(w.elementWidget(QStringLiteral("cmbBatches")))->activated(1);
     },
     [](EftMembWidget& w) { click(w, "cmdPassedFailed"); }},
    {"Export", "EFTMemberBatch.asp?ProcessExport=True&PersonID=9&PersonTypeID=2", [](EftMembWidget&) {},
     [](EftMembWidget& w) { clickTab(w, 2); }},
};

void PrintTo(const Request& r, std::ostream* os) { *os << r.name; }
void PrintTo(Way w, std::ostream* os) { *os << static_cast<int>(w); }

class WidgetDeletedDuringRequest : public ::testing::TestWithParam<std::tuple<Request, Way>> {};

TEST_P(WidgetDeletedDuringRequest, EndsTheRequestAndLeavesNothingBehind) {
    const auto& [request, way] = GetParam();
    CannedServer server;
    const Row row = sweepRow(1, 7, "1", "0");
    server.on("EFTMember.asp?countryID=1&Load=1", {sweepReply({row})});
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({batchRow(5, 7, 1, 1, "1")})});
    server.on("EFTMember.asp", {""});
    server.on("EFTMemberBatch.asp", {""});
    server.on("EFTMemberBatch.asp?ProcessExport=True&PersonID=9&PersonTypeID=2", {"<Export>x</Export>"});

    auto* widget = new EftMembWidget;
    if (way == Way::CloseDeleteOnClose) widget->setAttribute(Qt::WA_DeleteOnClose);
    widget->setMessageBoxHandler([](const MessageBoxRequest& r) {
        return r.buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    });
    widget->show();
    widget->setVariables(QString::fromStdString(server.base()), 9, 2);
    request.before(*widget);

    // The request under way answers slowly; the host acts on its first event during the wait.
    CannedServer::Reply slow;
    slow.delay = 400ms;
    slow.body = std::string(request.target) == "EFTMember.asp?countryID=1&Load=1" ? sweepReply({row})
              : std::string(request.target).find("ProcessExport") != std::string::npos ? "<Export>x</Export>"
                                                                                         : "";
    server.on(request.target, slow);

    QPointer<EftMembWidget> alive(widget);
    bool busy = false, destroyedWhileBusy = false;
    std::size_t requestsAtEnd = 0;
    QObject timerOwner;
    QObject::connect(widget, &EftMembWidget::busyChanged, &timerOwner, [&](bool b) {
        busy = b;
        if (!b) return;
        QTimer::singleShot(0, &timerOwner, [&] {
            if (!alive) return;
            requestsAtEnd = server.requests().size();
            switch (way) {
            case Way::Delete: delete alive.data(); break;
            case Way::DeleteLater: alive->deleteLater(); break;
            case Way::CloseDeleteOnClose: alive->close(); break;
            }
        });
    });
    QObject::connect(widget, &QObject::destroyed, &timerOwner, [&] { destroyedWhileBusy = busy; });
    request.act(*widget);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_TRUE(alive.isNull());
    EXPECT_TRUE(destroyedWhileBusy) << "the widget went only after the request";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // At most the request under way arrives after the host acted; nothing follows it.
    const auto requests = server.requests();
    EXPECT_LE(requests.size(), requestsAtEnd + 1);
    for (std::size_t i = requestsAtEnd; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].target, request.target) << "a request followed the destruction";
}

std::string wayName(Way w) {
    switch (w) {
    case Way::Delete: return "Delete";
    case Way::DeleteLater: return "DeleteLater";
    case Way::CloseDeleteOnClose: return "CloseDeleteOnClose";
    }
    return {};
}

INSTANTIATE_TEST_SUITE_P(Lifetime, WidgetDeletedDuringRequest,
                         ::testing::Combine(::testing::ValuesIn(kRequests),
                                            ::testing::Values(Way::Delete, Way::DeleteLater, Way::CloseDeleteOnClose)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + wayName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace eft::qt::test
