// The widget's API beyond the screen: calls from another thread refused with a warning, the
// session's messages kept whole, the login check through the control's own transfers, and the
// countries of the batches listed.
#include <QMutex>
#include <QMutexLocker>
#include <thread>

#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

using eft::test::sweepReply;

// Warnings of Qt's message handler, kept while one lives.
class CapturedWarnings {
public:
    CapturedWarnings() {
        current_ = this;
        previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtWarningMsg) return;
            QMutexLocker lock(&current_->mutex_);
            current_->texts_ << text;
        });
    }
    ~CapturedWarnings() {
        qInstallMessageHandler(previous_);
        current_ = nullptr;
    }
    QStringList texts() const {
        QMutexLocker lock(&mutex_);
        return texts_;
    }

private:
    static inline CapturedWarnings* current_ = nullptr;
    QtMessageHandler previous_;
    mutable QMutex mutex_;
    QStringList texts_;
};

using WidgetApiTest = WidgetTest;

TEST_F(WidgetApiTest, ACallFromAnotherThreadDoesNothingAndWarnsNamingTheCall) {
    serveDemo();
    const QString address = QString::fromStdString(server.base());
    struct Case {
        const char* call;
        std::function<void(EftMembWidget&)> run;
    };
    const std::vector<Case> cases = {
        {"setServerAddress", [](EftMembWidget& w) { w.setServerAddress(QStringLiteral("http://elsewhere.example/")); }},
        {"setVariables", [](EftMembWidget& w) { w.setVariables(QStringLiteral("http://elsewhere.example/"), 1, 1); }},
        {"setPersonId", [](EftMembWidget& w) { w.setPersonId(77); }},
        {"setServerCredentials", [](EftMembWidget& w) { w.setServerCredentials(QStringLiteral("u"), QStringLiteral("p")); }},
        {"reload", [](EftMembWidget& w) { w.reload(); }},
        {"reload", [](EftMembWidget& w) { w.reload(2); }},
        {"checkLogin", [](EftMembWidget& w) { w.checkLogin(QStringLiteral("http://127.0.0.1:1/eft/"), {}, {}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        CapturedWarnings warnings;
        std::thread other([&] { c.run(widget); });
        other.join();
        EXPECT_EQ(widget.serverAddress(), address);
        EXPECT_EQ(widget.personId(), 9);
        EXPECT_EQ(widget.personType(), 2);
        EXPECT_TRUE(server.requests().empty()) << "nothing was fetched";
        const QStringList said = warnings.texts();
        ASSERT_EQ(said.size(), 1) << said.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(said.front().contains(QStringLiteral("EftMembWidget::%1").arg(QLatin1String(c.call))))
            << said.front().toStdString();
        EXPECT_TRUE(said.front().contains(QStringLiteral("GUI-thread only"))) << said.front().toStdString();
    }
    // The same calls on the GUI thread still work, and warn of nothing.
    CapturedWarnings warnings;
    widget.setPersonId(77);
    EXPECT_EQ(widget.personId(), 77);
    EXPECT_TRUE(widget.reload());
    EXPECT_EQ(targets("GET"), std::vector<std::string>{"EFTMember.asp?countryID=1&Load=1"});
    EXPECT_TRUE(warnings.texts().isEmpty()) << warnings.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(WidgetApiTest, MessagesKeepEveryBoxWholeWithItsTitleAndTime) {
    serveDemo();
    // Longer than a box shows: the box has its head, the messages the whole.
    const std::string longReason = "The sweep of center 0012 changed since it was loaded." + std::string(6000, 'x');
    server.on("EFTMember.asp?countryID=2&Load=1", {"", 500});
    server.on("EFTMember.asp", {longReason});
    EXPECT_TRUE(widget.messages().isEmpty());
    const QDateTime before = QDateTime::currentDateTime();
    click("cmdLoadData");
    click("optCountry", 2);  // the server fails
    click("optCountry", 1);
    tick("lstEFTCenter", 0);
    click("cmdViewCenterDetails");
    tick("lstEFTMember", 0);
    answers = {MsgAnswer::Yes};
    click("cmdSaveMerchandise");  // refused with the server's long reason
    const QList<EftMembWidget::Message> messages = widget.messages();
    ASSERT_EQ(messages.size(), static_cast<qsizetype>(boxes.size()));
    ASSERT_GE(messages.size(), 2);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(messages[i].title.toStdString(), boxes[static_cast<std::size_t>(i)].title);
        EXPECT_GE(messages[i].time, before.addSecs(-1));
        EXPECT_LE(messages[i].time, QDateTime::currentDateTime());
    }
    EXPECT_TRUE(messages.front().text.contains(QStringLiteral("(HTTP 500)"))) << messages.front().text.toStdString();
    EXPECT_TRUE(messages.back().text.contains(QString::fromStdString(longReason)));
    EXPECT_FALSE(QString::fromStdString(boxes.back().text).contains(QString::fromStdString(longReason)))
        << "the box itself showed only the head";
    EXPECT_EQ(messages.back().title, QStringLiteral("ERROR"));
}

// The server answers the batch list page; which login it takes and how a failure reads.
TEST_F(WidgetApiTest, CheckLoginAsksTheBatchListWithThatLoginAndLeavesTheControlAsItWas) {
    struct Case {
        const char* name;
        int status;  // 0: nobody listens
        bool ok;
        const char* reason;
    };
    const Case cases[] = {
        {"accepted", 200, true, ""},
        {"refused", 401, false, "the server refused the login (HTTP 401)"},
        {"failing", 503, false, "the server failed (HTTP 503)"},
        {"unreachable", 0, false, "the server could not be reached"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        eft::test::CannedServer target;
        target.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({}), c.status ? c.status : 200});
        const QString address =
            c.status ? QString::fromStdString(target.base()) : QStringLiteral("http://127.0.0.1:1/eft/");
        const auto check = widget.checkLogin(address, QStringLiteral("alice"), QStringLiteral("s3cret"));
        EXPECT_EQ(check.ok, c.ok);
        EXPECT_EQ(check.status, c.status == 0 ? 0 : c.status);
        EXPECT_TRUE(c.ok ? check.reason.isEmpty() : check.reason.startsWith(QLatin1String(c.reason)))
            << check.reason.toStdString();
        EXPECT_FALSE(check.details.contains(QStringLiteral("s3cret"))) << check.details.toStdString();
        if (!c.ok) {
            EXPECT_TRUE(check.details.contains(QStringLiteral("EFTMemberBatch.asp"))) << check.details.toStdString();
        }
        if (c.status) {
            ASSERT_EQ(target.requests().size(), 1u);
            EXPECT_EQ(target.requests()[0].target, "EFTMemberBatch.asp?TSQL=BatchList");
            EXPECT_EQ(target.requests()[0].authorization,
                      "Basic " + QByteArray("alice:s3cret").toBase64().toStdString());
        }
        httpGet(target.base() + "ready", HttpLimits{});
    }
    EXPECT_EQ(widget.serverAddress(), QString::fromStdString(server.base())) << "the control's own address stays";
    EXPECT_TRUE(server.requests().empty());
}

// The control's limits apply to the check as to its own requests: a server slower than the
// GET's time limit fails the check, and the same server within it passes.
TEST_F(WidgetApiTest, CheckLoginKeepsTheControlsTimeLimit) {
    eft::test::CannedServer slow;
    slow.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({}), 200, std::chrono::milliseconds(1500)});
    ControlOptions options;
    options.limits.getTimeout = std::chrono::milliseconds(300);
    widget.setControlOptions(options);
    const auto late = widget.checkLogin(QString::fromStdString(slow.base()), {}, {});
    EXPECT_FALSE(late.ok);
    EXPECT_TRUE(late.reason.startsWith(QStringLiteral("the server did not answer in time"))) << late.reason.toStdString();
    widget.setControlOptions({});
    EXPECT_TRUE(widget.checkLogin(QString::fromStdString(slow.base()), {}, {}).ok);
    httpGet(slow.base() + "ready", HttpLimits{});
}

TEST_F(WidgetApiTest, TheCountryOfABatchIsKnownAfterItsCommit) {
    serveDemo();
    auto us = batchRow(57, 12, 1001, 1, "10.5");
    us["Country"] = "1";
    auto canada = batchRow(58, 20, 2001, 1, "5");
    canada["Country"] = "2";
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({us, canada})});
    EXPECT_EQ(widget.batchCountry(58), 0) << "not listed yet";
    clickTab(3);
    EXPECT_EQ(widget.batchCountry(57), 1);
    EXPECT_EQ(widget.batchCountry(58), 2);
    // Committed, batch 58 leaves the list; its country is still known.
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({us})});
    auto* box = element<QComboBox>("cmbBatches");
    box->setCurrentIndex(2);
    Q_EMIT box->activated(2);
    answers = {MsgAnswer::Yes};
    click("cmdPassedFailed");
    ASSERT_EQ(targets("POST").size(), 1u);
    EXPECT_EQ(box->count(), 2) << "the list was read again";
    EXPECT_EQ(widget.batchCountry(58), 2);
    EXPECT_EQ(widget.batchCountry(99), 0);
}

}  // namespace
}  // namespace eft::qt::test
