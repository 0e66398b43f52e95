// eft-host's window driven with real keys: the sign-in dialog and its return after a refused
// login, View ▸ Reload (F5), the reload after a commit, the progress text, the column sorts
// and the access keys.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include "eftmemb/embedded_server.h"
#include "host_window.h"
#include "login_dialog.h"
#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

using eft::host::HostWindow;
using eft::host::LoginDialog;
using eft::test::CannedServer;
using eft::test::sweepReply;

const std::string kSweepUs = "EFTMember.asp?countryID=1&Load=1";

std::string basic(const std::string& userAndPassword) {
    return "Basic " + QByteArray::fromStdString(userAndPassword).toBase64().toStdString();
}

class HostWindowTest : public ::testing::Test {
protected:
    HostWindowTest() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().remove(QStringLiteral("server"));
        window.control()->setMessageBoxHandler([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return r.buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
        });
        window.setFailureBoxHandler([this](const MessageBoxRequest& r) { boxes.push_back(r); });
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    ~HostWindowTest() override { httpGet(server.base() + "ready", HttpLimits{}); }

    void connect(const std::string& user = {}, const std::string& password = {}) {
        window.connectTo({QString::fromStdString(server.base()), QString::fromStdString(user),
                          QString::fromStdString(password), false});
    }
    // Answers every sign-in dialog that comes up from now on with these keys, counting them.
    void answerDialogs(std::function<void(LoginDialog&)> keys) {
        keys_ = std::move(keys);
        lastDialog_ = nullptr;
        unansweredPolls_ = 0;
        if (poll_.isActive()) return;
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<LoginDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog == lastDialog_) return;
            // Keys go where the focus is: wait until the dialog has it (a busy machine activates
            // windows late), and never leave a test hanging on a dialog nobody answers.
            if (!dialog->isActiveWindow() || !dialog->isAncestorOf(QApplication::focusWidget())) {
                if (++unansweredPolls_ == 500) {
                    ADD_FAILURE() << "the sign-in dialog never took the focus";
                    dialog->reject();
                }
                return;
            }
            unansweredPolls_ = 0;
            lastDialog_ = dialog;
            ++dialogs;
            refusedShown = dialog->refusedLabel()->isVisible();
            keys_(*dialog);
        });
        poll_.start();
    }
    // Types a login into the dialog and presses Return.
    static void typeLogin(LoginDialog& d, const QString& address, const QString& user, const QString& password) {
        d.addressField()->setText(address);
        d.userField()->setFocus();
        QTest::keyClicks(d.userField(), user);
        d.passwordField()->setFocus();
        QTest::keyClicks(d.passwordField(), password);
        QTest::keyClick(d.passwordField(), Qt::Key_Return);
    }
    std::size_t gets(const std::string& target) const {
        std::size_t n = 0;
        for (const auto& r : server.requests()) n += r.method == "GET" && r.target == target;
        return n;
    }
    // Lets queued work run until `done` (a button's access key clicks it 100 ms later).
    static void waitUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 300 && !done(); ++i) QTest::qWait(10);
        QTest::qWait(50);
    }
    // Alt+L: "&Load Data", and the load that follows.
    void loadByKey() {
        const std::size_t before = server.requests().size();
        QTest::keyClick(element("cmdLoadData"), Qt::Key_L, Qt::AltModifier);
        waitUntil([&] { return server.requests().size() > before && !window.progress()->isVisible(); });
    }
    QWidget* element(const char* name, int index = -1) {
        return window.control()->elementWidget(QString::fromLatin1(name), index);
    }

    CannedServer server;
    HostWindow window{9, 2};
    std::vector<MessageBoxRequest> boxes;
    int dialogs = 0;
    bool refusedShown = false;

private:
    QTimer poll_;
    std::function<void(LoginDialog&)> keys_;
    LoginDialog* lastDialog_ = nullptr;
    int unansweredPolls_ = 0;
};

TEST_F(HostWindowTest, TheSignInDialogTakesUserAndPasswordByKeysAndKeepsOnlyTheUser) {
    server.on(kSweepUs, {sweepReply({sweepRow(1001, 12, "10.5", "0")})});
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({})});
    connect();
    answerDialogs([](LoginDialog& d) {
        // The focus starts on the user; Tab goes on to the password, then to "Remember user".
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("operator"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("pa(ss) w:rd"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_TRUE(d.rememberBox()->isChecked());
        EXPECT_EQ(d.passwordField()->echoMode(), QLineEdit::Password);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    ASSERT_TRUE(window.signIn());
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(refusedShown);
    EXPECT_EQ(QSettings().value(QStringLiteral("server/user")).toString(), QStringLiteral("operator"));
    EXPECT_EQ(QSettings().value(QStringLiteral("server/address")).toString(), QString::fromStdString(server.base()));
    for (const QString& key : QSettings().allKeys())
        EXPECT_FALSE(QSettings().value(key).toString().contains(QStringLiteral("pa(ss)"))) << key.toStdString();

    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F5);  // View ▸ Reload
    waitUntil([&] { return gets(kSweepUs) == 1 && !window.progress()->isVisible(); });
    ASSERT_EQ(gets(kSweepUs), 1u);
    EXPECT_EQ(server.requests().back().authorization, basic("operator:pa(ss) w:rd"));
    EXPECT_EQ(window.statusText(), QStringLiteral("Loaded 1 sweep rows of the United States"));
}

// Signing in asks the server for the batch list with the login before it says so; the dialog
// stays open on a refusal, and any other failure also shows one "ERROR" box.
TEST_F(HostWindowTest, SignInChecksTheLoginWithTheServerFirst) {
    struct Case {
        const char* name;
        int status;  // 0: nobody listens
        bool signedIn;
        const char* label;
        const char* box;  // the failure box's plain line after the address, or none
    };
    const Case cases[] = {
        {"accepted", 200, true, "", nullptr},
        {"refused", 401, false, "Login refused", nullptr},
        {"failing", 503, false, "Not signed in: the server failed (HTTP 503)", "the server failed (HTTP 503)"},
        {"unreachable", 0, false, "Not signed in: the server could not be reached",
         "the server could not be reached"},
    };
    std::vector<MessageBoxRequest> failures;
    window.setFailureBoxHandler([&](const MessageBoxRequest& r) { failures.push_back(r); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer target;
        target.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({}), c.status ? c.status : 200});
        const QString address =
            c.status ? QString::fromStdString(target.base()) : QStringLiteral("http://127.0.0.1:1/eft/");
        connect();
        failures.clear();
        const qsizetype toldBefore = window.messages().size();
        bool stayedOpen = false;
        QString label;
        answerDialogs([&](LoginDialog& d) {
            typeLogin(d, address, QStringLiteral("alice"), QStringLiteral("s3cret"));
            stayedOpen = d.isVisible();
            label = d.refusedLabel()->isVisible() ? d.refusedLabel()->text() : QString();
            if (stayedOpen) d.reject();
        });
        EXPECT_EQ(window.signIn(), c.signedIn);
        EXPECT_EQ(stayedOpen, !c.signedIn);
        EXPECT_TRUE(*c.label ? label.startsWith(QLatin1String(c.label)) : label.isEmpty()) << label.toStdString();
        if (c.status) {
            ASSERT_EQ(target.requests().size(), 1u) << "the login was tried once";
            EXPECT_EQ(target.requests()[0].target, "EFTMemberBatch.asp?TSQL=BatchList");
            EXPECT_EQ(target.requests()[0].authorization, basic("alice:s3cret"));
        }
        if (c.signedIn) {
            EXPECT_EQ(window.statusText(), QStringLiteral("Signed in to %1 as alice").arg(address));
            EXPECT_EQ(window.control()->serverAddress(), address);
        } else {
            for (qsizetype i = toldBefore; i < window.messages().size(); ++i)
                EXPECT_FALSE(window.messages()[i].text.startsWith(QStringLiteral("Signed in")))
                    << window.messages()[i].text.toStdString();
            EXPECT_EQ(window.control()->serverAddress(), QString::fromStdString(server.base())) << "still where it was";
        }
        ASSERT_EQ(failures.size(), c.box ? 1u : 0u) << "one box per failure";
        if (c.box) {
            const MessageBoxRequest& box = failures[0];
            EXPECT_EQ(box.title, "ERROR");
            EXPECT_EQ(box.icon, MsgIcon::Exclamation);
            EXPECT_EQ(box.text.rfind("Signing in to " + address.toStdString() + " failed: " + c.box, 0), 0u) << box.text;
            EXPECT_NE(box.details.find("EFTMemberBatch.asp?TSQL=BatchList"), std::string::npos) << box.details;
            EXPECT_EQ(box.details.find("s3cret"), std::string::npos) << box.details;
        }
        EXPECT_TRUE(server.requests().empty()) << "the control itself sent nothing";
        httpGet(target.base() + "ready", HttpLimits{});
    }
}

// The embedded demo server is where an operator starts: File ▸ Sign in… takes them on from it.
TEST_F(HostWindowTest, SignInIsThereOverTheDemoServer) {
    QTemporaryDir dir;
    eft::server::EmbeddedOptions options;
    options.dbPath = dir.filePath(QStringLiteral("demo.sqlite")).toStdString();
    options.seedDemo = true;
    const auto demo = eft::server::EmbeddedServer::start(options);
    window.connectTo({QString::fromStdString(demo->baseAddress()), {}, {}, false});
    auto* signIn = window.findChild<QAction*>(QStringLiteral("signIn"));
    ASSERT_NE(signIn, nullptr);
    EXPECT_TRUE(signIn->isEnabled());
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({})});
    const QString address = QString::fromStdString(server.base());
    answerDialogs([&](LoginDialog& d) { typeLogin(d, address, QStringLiteral("alice"), QStringLiteral("s3cret")); });
    signIn->trigger();
    EXPECT_EQ(window.control()->serverAddress(), address);
    EXPECT_EQ(window.statusText(), QStringLiteral("Signed in to %1 as alice").arg(address));
}

// A text wider than the status line ends in "…"; the whole text is its tooltip, the last entry
// of the messages and of View ▸ Messages.
TEST_F(HostWindowTest, TheStatusLineElidesAndKeepsTheWholeText) {
    struct Case {
        const char* name;
        CannedServer::Reply reply;
        bool elided;
    };
    const Case cases[] = {
        {"a short load", {sweepReply({sweepRow(1001, 12, "10.5", "0")})}, false},
        {"a long failure", {"", 404}, true},
    };
    connect();
    window.resize(window.minimumSizeHint());
    QTest::qWait(20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.on(kSweepUs, c.reply);
        const std::size_t before = gets(kSweepUs);
        window.reload();
        waitUntil([&] { return gets(kSweepUs) > before && !window.progress()->isVisible(); });
        const QString whole = window.statusText();
        const QString shown = window.statusLine()->text();
        EXPECT_EQ(shown.endsWith(QStringLiteral("…")), c.elided) << shown.toStdString();
        EXPECT_EQ(shown == whole, !c.elided) << shown.toStdString();
        if (c.elided) {
            EXPECT_TRUE(whole.startsWith(shown.chopped(1))) << shown.toStdString();
            EXPECT_TRUE(whole.endsWith(QStringLiteral("Check the server address."))) << whole.toStdString();
        }
        EXPECT_LE(window.statusLine()->fontMetrics().horizontalAdvance(shown), window.statusLine()->width());
        EXPECT_EQ(window.statusLine()->toolTip(), whole);
        ASSERT_FALSE(window.messages().isEmpty());
        EXPECT_EQ(window.messages().last().text, whole);
        EXPECT_TRUE(window.messages().last().time.isValid());
        std::unique_ptr<QDialog> dialog(window.messagesDialog());
        auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("messageList"));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->topLevelItemCount(), window.messages().size());
        EXPECT_EQ(list->topLevelItem(list->topLevelItemCount() - 1)->text(1), whole);
        EXPECT_FALSE(list->topLevelItem(0)->text(0).isEmpty()) << "each with its time";
    }
    // View ▸ Messages opens the same list over the window.
    auto* messages = window.findChild<QAction*>(QStringLiteral("messages"));
    ASSERT_NE(messages, nullptr);
    messages->trigger();
    auto* shown = window.findChild<QDialog*>(QStringLiteral("messagesDialog"));
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->findChild<QTreeWidget*>()->topLevelItemCount(), window.messages().size());
    shown->close();
}

// A server's reason of megabytes: the line and its tooltip show its head, the line keeps it whole.
TEST(StatusLineTest, AHugeTextIsCutForTheLineAndTheTooltipAndKeptWhole) {
    eft::host::StatusLine line;
    line.resize(300, 20);
    const QString huge = QStringLiteral("The server refused the save: ") + QString(2'000'000, QLatin1Char('x'));
    line.setFullText(huge);
    EXPECT_EQ(line.fullText(), huge);
    EXPECT_TRUE(line.text().endsWith(QStringLiteral("…"))) << line.text().toStdString();
    EXPECT_TRUE(line.text().startsWith(QStringLiteral("The server refused"))) << line.text().toStdString();
    EXPECT_LE(line.toolTip().size(), 4097);
    EXPECT_TRUE(line.toolTip().endsWith(QStringLiteral("…")));
}

TEST_F(HostWindowTest, ARefusedLoginBringsTheDialogBackOnce) {
    server.on(kSweepUs, {"", 401});
    // The batch list takes the new login, so the dialog lets it go; the sweep refuses it again.
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({})});
    connect("operator", "wrong");
    answerDialogs([](LoginDialog& d) {
        d.passwordField()->setFocus();
        QTest::keyClicks(d.passwordField(), QStringLiteral("still wrong"));
        QTest::keyClick(d.passwordField(), Qt::Key_Return);
    });
    QTest::keyClick(element("cmdLoadData"), Qt::Key_L, Qt::AltModifier);
    waitUntil([&] { return boxes.size() >= 2; });
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(refusedShown);
    // The refused load was tried again with the new password, refused again: no third try.
    ASSERT_EQ(gets(kSweepUs), 2u);
    EXPECT_EQ(server.requests().back().authorization, basic("operator:still wrong"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text.rfind("The United States sweep could not be loaded: the server refused the login", 0), 0u)
        << boxes[0].text;
    EXPECT_TRUE(window.statusText().startsWith(QStringLiteral("Error: The United States sweep could not be loaded")))
        << window.statusText().toStdString();
}

// The commit's words stay on the status line, also through the reload that follows it, and
// that reload is of the batch's own country, whichever sweep was loaded.
TEST_F(HostWindowTest, ACommitIsConfirmedInWordsThatStayAndReloadsItsOwnCountry) {
    struct Case {
        const char* country;
        const char* sweep;
        const char* loaded;
    };
    const Case cases[] = {
        {"1", "EFTMember.asp?countryID=1&Load=1", "Loaded 2 sweep rows of the United States"},
        {"2", "EFTMember.asp?countryID=2&Load=1", "Loaded 1 sweep rows of Canada"},
    };
    server.on(kSweepUs, {sweepReply({sweepRow(1001, 12, "10.5", "0"), sweepRow(3401, 34, "100", "0")})});
    server.on("EFTMember.asp?countryID=2&Load=1", {sweepReply({sweepRow(2001, 20, "5", "0")})});
    server.on("EFTMemberBatch.asp", {""});
    connect();
    // "&Update Batch Status" by its access key, then the batch, the ticks and "&Commit".
    const auto commitTicking = [&](std::initializer_list<int> rows) {
        QTest::keyClick(window.control(), Qt::Key_U, Qt::AltModifier);
        auto* combo = qobject_cast<QComboBox*>(element("cmbBatches"));
        ASSERT_NE(combo, nullptr);
        ASSERT_TRUE(combo->isVisible());
        EXPECT_EQ(combo->count(), 2);
        emit combo->activated(1);
        auto* details = qobject_cast<QTreeView*>(element("lstBatchDetails"));
        for (int row : rows) details->model()->setData(details->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);
        QTest::keyClick(window.control(), Qt::Key_C, Qt::AltModifier);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.country);
        auto rows = std::vector<Row>{batchRow(57, 12, 1001, 1, "10.5"), batchRow(57, 12, 1002, 2, "20"),
                                     batchRow(57, 34, 3401, 1, "97"), batchRow(57, 15, 1501, 1, "7.25")};
        for (Row& r : rows) r["Country"] = c.country;
        server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply(rows)});
        QTest::keyClick(window.control(), Qt::Key_O, Qt::AltModifier);  // "List &of Centers"
        const std::size_t posts = server.countOf("POST");
        if (&c == &cases[0]) {
            // Without a sweep loaded nothing is reloaded: the commit's words stand alone.
            commitTicking({0, 1});
            waitUntil([&] { return server.countOf("POST") == posts + 1 && window.statusText().startsWith(QStringLiteral("Batch")); });
            EXPECT_EQ(window.statusText(), QStringLiteral("Batch 57: 2 centers cleared, 1 failed"));
            EXPECT_EQ(gets(kSweepUs), 0u);
            QTest::keyClick(window.control(), Qt::Key_O, Qt::AltModifier);
        }
        loadByKey();  // the United States sweep
        const std::size_t before = gets(c.sweep);
        commitTicking({0});
        waitUntil([&] { return gets(c.sweep) == before + 1 && !window.progress()->isVisible(); });
        EXPECT_EQ(gets(c.sweep), before + 1) << "the batch's own country was reloaded";
        EXPECT_EQ(window.statusText(), QStringLiteral("Batch 57: 1 center cleared, 2 failed. %1").arg(QLatin1String(c.loaded)))
            << "the reload comes last, the commit's words with it";
    }
}

TEST_F(HostWindowTest, TheProgressSaysWhatLoadsAndHowFar) {
    std::vector<Row> rows;
    for (int i = 0; i < 400; ++i) rows.push_back(sweepRow(i + 1, 7 + i % 5, "10", "0"));
    server.on(kSweepUs, {sweepReply(rows), 200, std::chrono::milliseconds(2), false, "", 8192});
    connect();
    QStringList texts;
    QList<int> maxima;
    QObject::connect(window.control(), &EftMembWidget::transferProgress, [&] {
        texts << window.statusText();
        maxima << window.progress()->maximum();
    });
    loadByKey();
    ASSERT_GE(texts.size(), 3) << "the reply came in pieces";
    const QRegularExpression form(QStringLiteral("^Loading the United States sweep… (\\d+) kB of (\\d+) kB$"));
    for (const QString& t : texts) EXPECT_TRUE(form.match(t).hasMatch()) << t.toStdString();
    EXPECT_EQ(form.match(texts.last()).captured(1), form.match(texts.last()).captured(2)) << texts.last().toStdString();
    EXPECT_EQ(maxima.last(), 1000) << "a determinate bar once the size is known";
    EXPECT_EQ(window.statusText(), QStringLiteral("Loaded 400 sweep rows of the United States"));
    EXPECT_FALSE(window.progress()->isVisible());
}

// The pictures stay in the build folder for a look; the wide one gives its room to the names.
TEST_F(HostWindowTest, AtEightHundredAndAtFullHdTheListsUseTheirRoom) {
    server.on(kSweepUs, {sweepReply({sweepRow(1001, 12, "10.5", "0"), sweepRow(3401, 34, "100", "-3")})});
    connect();
    loadByKey();
    auto* view = qobject_cast<QTreeView*>(element("lstEFTCenter"));
    const int designedName = view->columnWidth(2);
    QDir().mkpath(QStringLiteral(EFT_SCREENSHOT_DIR));
    for (const QSize size : {QSize(800, 600), QSize(1920, 1080)}) {
        window.resize(size);
        QTest::qWait(20);
        const QString path = QDir(QStringLiteral(EFT_SCREENSHOT_DIR))
                                 .filePath(QStringLiteral("host-%1x%2.png").arg(size.width()).arg(size.height()));
        EXPECT_TRUE(window.grab().save(path, "PNG")) << path.toStdString();
        int columns = 0;
        for (int c = 0; c < view->model()->columnCount(); ++c) columns += view->isColumnHidden(c) ? 0 : view->columnWidth(c);
        // The columns fill the list, with at most a scroll bar's room to spare.
        EXPECT_GE(columns, view->viewport()->width() - 30) << size.width();
        EXPECT_LE(columns, view->width()) << size.width();
    }
    EXPECT_GT(view->columnWidth(2), designedName + 1000) << "at 1920 pixels the name column takes the room";
}

TEST_F(HostWindowTest, AboutNamesVersionsAndTheAddressWithoutThePassword) {
    connect("operator", "secret");
    window.setServerVersionSource([] { return QStringLiteral("2.0.7"); });
    const QString about = window.aboutText();
    EXPECT_TRUE(about.contains(QString::fromStdString(server.base()))) << about.toStdString();
    EXPECT_TRUE(about.contains(QStringLiteral("Server version: 2.0.7"))) << about.toStdString();
    EXPECT_FALSE(about.contains(QStringLiteral("secret")));

    // The reference server names its version on its health page.
    QTemporaryDir dir;
    eft::server::EmbeddedOptions options;
    options.dbPath = dir.filePath(QStringLiteral("eft.sqlite")).toStdString();
    const auto reference = eft::server::EmbeddedServer::start(options);
    EXPECT_EQ(eft::host::serverVersionOf(QString::fromStdString(reference->baseAddress()), {}),
              QString::fromStdString("eft-server/" + eft::libraryVersion()));
    EXPECT_EQ(eft::host::serverVersionOf(QString::fromStdString(server.base()), {}), QString()) << "a server that does not say";
}

// The control waits inside its handler for a stalled transfer; closing the window ends the
// process there, instead of after the idle limit. Run in a child process, which must end by
// the close and not by the load giving up.
TEST(HostWindowClose, ClosingDuringAStalledLoadEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QStandardPaths::setTestModeEnabled(true);
            std::vector<Row> rows;
            for (int i = 0; i < 200; ++i) rows.push_back(sweepRow(i + 1, 7, "10", "0"));
            CannedServer server;
            server.on(kSweepUs, {sweepReply(rows), 200, {}, false, "", 0, true});
            HostWindow window(9, 2);
            window.control()->setMessageBoxHandler([](const MessageBoxRequest&) { return MsgAnswer::Ok; });
            window.show();
            window.connectTo({QString::fromStdString(server.base()), {}, {}, false});
            QObject::connect(window.control(), &EftMembWidget::transferProgress, &window, [&] { window.close(); });
            qobject_cast<QAbstractButton*>(window.control()->elementWidget(QStringLiteral("cmdLoadData")))->click();
            std::exit(1);  // the load ended by itself: closing did not end the process
        },
        ::testing::ExitedWithCode(0), "");
}

// Alt+letter: no two elements that show together share a letter, the menu bar's included,
// and the country options answer theirs.
TEST_F(HostWindowTest, AccessKeysDoNotClash) {
    auto* tabs = qobject_cast<TabControl*>(element("tabEFT"));
    ASSERT_NE(tabs, nullptr);
    const auto keyOf = [](const QString& text) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
    };
    QStringList strip;
    for (const QString& menu : {QStringLiteral("f"), QStringLiteral("v"), QStringLiteral("h")}) strip << menu;
    for (int i = 0; i < tabs->bar()->count(); ++i) strip << keyOf(tabs->bar()->tabText(i));
    for (int page = 0; page < tabs->bar()->count(); ++page) {
        QStringList keys = strip;
        for (auto* b : tabs->page(page)->findChildren<QAbstractButton*>())
            if (!keyOf(b->text()).isNull()) keys << keyOf(b->text());
        keys.removeAll(QString());
        QStringList unique = keys;
        unique.removeDuplicates();
        EXPECT_EQ(keys.size(), unique.size()) << "page " << page << ": " << keys.join(' ').toStdString();
    }
    server.on("EFTMember.asp?countryID=2&Load=1", {sweepReply({sweepRow(2001, 20, "5", "0")})});
    connect();
    QTest::keyClick(window.control(), Qt::Key_N, Qt::AltModifier);  // Ca&nada
    waitUntil([&] { return gets("EFTMember.asp?countryID=2&Load=1") == 1; });
    EXPECT_EQ(gets("EFTMember.asp?countryID=2&Load=1"), 1u);
}

}  // namespace
}  // namespace eft::qt::test
