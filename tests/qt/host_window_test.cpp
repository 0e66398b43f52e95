// eft-host's window driven with real keys: the sign-in dialog and its return after a refused
// login, View ▸ Reload (F5), the reload after a commit, the progress text, the column sorts
// and the access keys.
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
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    ~HostWindowTest() override { httpGet(server.base() + "ready", HttpLimits{}); }

    void connect(const std::string& user = {}, const std::string& password = {}) {
        window.connectTo({QString::fromStdString(server.base()), QString::fromStdString(user),
                          QString::fromStdString(password), false});
    }
    // Answers every sign-in dialog that comes up with these keys, counting them.
    void answerDialogs(std::function<void(LoginDialog&)> keys) {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this, keys] {
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
            keys(*dialog);
        });
        poll_.start();
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
    LoginDialog* lastDialog_ = nullptr;
    int unansweredPolls_ = 0;
};

TEST_F(HostWindowTest, TheSignInDialogTakesUserAndPasswordByKeysAndKeepsOnlyTheUser) {
    server.on(kSweepUs, {sweepReply({sweepRow(1001, 12, "10.5", "0")})});
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

TEST_F(HostWindowTest, ARefusedLoginBringsTheDialogBackOnce) {
    server.on(kSweepUs, {"", 401});
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

// Without a sweep the status keeps the commit's count of centers; with one, the reload that
// follows the commit comes last.
TEST_F(HostWindowTest, ACommitCountsCentersAndReloadsALoadedSweep) {
    server.on(kSweepUs, {sweepReply({sweepRow(1001, 12, "10.5", "0"), sweepRow(3401, 34, "100", "0")})});
    server.on("EFTMemberBatch.asp?TSQL=BatchList",
              {sweepReply({batchRow(57, 12, 1001, 1, "10.5"), batchRow(57, 12, 1002, 2, "20"),
                           batchRow(57, 34, 3401, 1, "97"), batchRow(57, 15, 1501, 1, "7.25")})});
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
    commitTicking({0, 1});
    waitUntil([&] { return server.countOf("POST") == 1 && window.statusText().startsWith(QStringLiteral("Batch")); });
    EXPECT_EQ(window.statusText(), QStringLiteral("Batch 57 committed: 2 centers cleared, 1 failed"));
    EXPECT_EQ(gets(kSweepUs), 0u);

    QTest::keyClick(window.control(), Qt::Key_O, Qt::AltModifier);  // back to "List &of Centers"
    loadByKey();
    ASSERT_EQ(gets(kSweepUs), 1u);
    commitTicking({0});
    waitUntil([&] { return gets(kSweepUs) == 2; });
    EXPECT_EQ(server.countOf("POST"), 2u);
    EXPECT_EQ(window.statusText(), QStringLiteral("Loaded 2 sweep rows of the United States"))
        << "the reload after the commit comes last";
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
