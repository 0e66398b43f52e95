#include "host_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QKeySequence>
#include <QLocale>
#include <QMenuBar>
#include <QEventLoop>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "eftmemb/eftmemb_widget.h"
#include "qt/qt_host_services.h"

namespace eft::host {
namespace {

QString centers(int n) { return n == 1 ? HostWindow::tr("1 center") : HostWindow::tr("%1 centers").arg(n); }

// The fixed text of a failed post says nothing the status bar can use.
QString plainMessage(const QString& message) {
    QString text = message.simplified();
    // The control's fixed text, in English or as translated.
    for (const QString& fixed : {QStringLiteral("Error !"), QCoreApplication::translate("EFTMemb", " Error !  ").simplified()})
        if (!fixed.isEmpty() && text.startsWith(fixed)) return text.mid(fixed.size()).trimmed();
    return text;
}

}  // namespace

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

namespace {
// A server's reason can run to megabytes; no line or tooltip shows more than this, and laying
// the rest out would freeze the window. View ▸ Messages keeps the whole.
constexpr qsizetype kShownChars = 4096;
}  // namespace

void StatusLine::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text.size() <= kShownChars ? text : text.left(kShownChars) + QStringLiteral("…"));
    fit();
}

// The line takes what the status bar leaves it; its text never widens the window.
QSize StatusLine::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void StatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    fit();
}

void StatusLine::fit() {
    QString oneLine = full_.left(kShownChars).simplified();
    if (full_.size() > kShownChars) oneLine += QStringLiteral("…");
    setText(fontMetrics().elidedText(oneLine, Qt::ElideRight, contentsRect().width()));
}

QString byteCount(qint64 bytes) { return QLocale().formattedDataSize(bytes, 0, QLocale::DataSizeSIFormat); }

QString serverVersionOf(const QString& baseAddress, const QString& caFile) {
    QUrl health(baseAddress);
    health.setUserInfo(QString());
    health.setPath(QStringLiteral("/health"));
    health.setQuery(QString());
    QNetworkRequest request(health);
    request.setTransferTimeout(3000);
    if (!caFile.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(caFile);
        request.setSslConfiguration(tls);
    }
    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(request);
    QEventLoop wait;
    QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    const QString server = QString::fromUtf8(reply->rawHeader("Server"));
    reply->deleteLater();
    return server;
}

HostWindow::HostWindow(int personId, int personType, QWidget* parent)
    : QMainWindow(parent),
      control_(new eft::qt::EftMembWidget(this)),
      progress_(new QProgressBar(this)),
      status_(new StatusLine(this)),
      personId_(personId),
      personType_(personType) {
    setCentralWidget(control_);
    retranslate();
    progress_->setTextVisible(true);
    progress_->setMaximumWidth(260);
    progress_->hide();
    status_->setObjectName(QStringLiteral("statusLine"));
    statusBar()->addWidget(status_, 1);
    statusBar()->addPermanentWidget(progress_);
    tell(tr("Ready"));

    using W = eft::qt::EftMembWidget;
    connect(control_, &W::errorOccurred, this, &HostWindow::errorOccurred);
    connect(control_, &W::sweepLoaded, this, [this](int country, int rows) {
        sweepLoaded_ = true;
        loginRetried_ = false;
        const QString loaded =
            tr("Loaded %1 sweep rows of %2").arg(rows).arg(country == 2 ? tr("Canada") : tr("the United States"));
        tell(commitSaid_.isEmpty() ? loaded : tr("%1. %2").arg(commitSaid_, loaded));
        commitSaid_.clear();
    });
    connect(control_, &W::saved, this, [this](int rows) {
        loginRetried_ = false;
        tell(tr("Saved %1 member rows").arg(rows));
    });
    connect(control_, &W::exported, this, [this](const QString& report) {
        loginRetried_ = false;
        tell(tr("Exported: %1").arg(report.left(200).simplified()));
    });
    connect(control_, &W::batchCommitted, this, [this](int batch, int cleared, int failed) {
        loginRetried_ = false;
        const QString said = tr("Batch %1: %2 cleared, %3 failed").arg(batch).arg(centers(cleared)).arg(failed);
        tell(said);
        // Failed centers' charges are back in the sweep of the batch's country: the center list
        // would not show them.
        if (!sweepLoaded_) return;
        const int country = control_->batchCountry(batch);
        commitSaid_ = said;
        QTimer::singleShot(0, this, [this, country] {
            if (!(country ? control_->reload(country) : control_->reload())) commitSaid_.clear();
        });
    });
    connect(control_, &W::busyChanged, this, [this](bool busy) {
        busy_ = busy;
        progress_->setVisible(busy);
        if (!busy) setStatus(lastEvent_);
    });
    connect(control_, &W::transferStarted, this, &HostWindow::transferStarted);
    connect(control_, &W::transferProgress, this, &HostWindow::showProgress);
}

void HostWindow::setLanguage(const QString& language) {
    control_->setLanguage(language);
    retranslate();
}

void HostWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange && shownLanguage_ != control_->language()) retranslate();
}

void HostWindow::retranslate() {
    shownLanguage_ = control_->language();
    setWindowTitle(tr("EFT Membership Sweep"));
    menuBar()->clear();
    buildMenus();
}

void HostWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    signInAction_ = file->addAction(tr("&Sign in…"), this, [this] { signIn(); });
    signInAction_->setObjectName(QStringLiteral("signIn"));
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
    quit->setObjectName(QStringLiteral("quit"));

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* reloadAction = view->addAction(tr("&Reload"), this, &HostWindow::reload);
    reloadAction->setShortcut(QKeySequence(Qt::Key_F5));
    reloadAction->setObjectName(QStringLiteral("reload"));
    QAction* messagesAction = view->addAction(tr("&Messages…"), this, [this] {
        QDialog* dialog = messagesDialog();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    messagesAction->setObjectName(QStringLiteral("messages"));
    // Each language named in its own words, so the operator finds theirs whatever is shown.
    QMenu* languages = view->addMenu(tr("&Language"));
    languages->setObjectName(QStringLiteral("language"));
    auto* group = new QActionGroup(languages);
    const std::pair<QString, QString> names[] = {{QStringLiteral("en"), QStringLiteral("English")},
                                                 {QStringLiteral("fr"), QStringLiteral("Français")}};
    for (const auto& [code, name] : names) {
        QAction* a = languages->addAction(name, this, [this, code] {
            QSettings().setValue(QStringLiteral("view/language"), code);
            setLanguage(code);
        });
        a->setObjectName(QStringLiteral("language.") + code);
        a->setCheckable(true);
        a->setChecked(control_->language() == code);
        group->addAction(a);
    }

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* about = help->addAction(tr("&About"), this,
                                     [this] { QMessageBox::about(this, tr("About eft-host"), aboutText()); });
    about->setObjectName(QStringLiteral("about"));
}

QString HostWindow::statusText() const { return status_->fullText(); }

QDialog* HostWindow::messagesDialog() {
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("messagesDialog"));
    dialog->setWindowTitle(tr("Messages of this session"));
    auto* list = new QTreeWidget(dialog);
    list->setObjectName(QStringLiteral("messageList"));
    list->setRootIsDecorated(false);
    list->setWordWrap(true);
    list->setHeaderLabels({tr("Time"), tr("Message")});
    for (const HostMessage& m : history_)
        list->addTopLevelItem(new QTreeWidgetItem({QLocale().toString(m.time.time(), QLocale::LongFormat), m.text}));
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->scrollToBottom();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog->resize(fontMetrics().averageCharWidth() * 100, fontMetrics().height() * 24);
    return dialog;
}

void HostWindow::setStatus(const QString& text) { status_->setFullText(text); }

void HostWindow::restoreSize() {
    const QSize saved = QSettings().value(QStringLiteral("window/size")).toSize();
    resize(saved.isValid() ? saved.expandedTo(minimumSizeHint()) : sizeHint());
    if (QSettings().value(QStringLiteral("window/maximized")).toBool()) setWindowState(Qt::WindowMaximized);
}

void HostWindow::connectTo(const Login& login) {
    login_ = login;
    QString base = login.address;
    // Page names are appended to the base address as they are.
    if (!base.isEmpty() && !base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
    QUrl url(base);
    if (!login.user.isEmpty()) {
        url.setUserName(login.user);
        url.setPassword(login.password);
    }
    control_->setVariables(url.toString(QUrl::FullyEncoded), personId_, personType_);
}

QString HostWindow::checkSignIn(const Login& login) {
    const auto check = control_->checkLogin(login.address, login.user, login.password);
    if (check.ok) return {};
    if (check.status == 401) return tr("Login refused: check the user name and the password.");
    QString address = login.address;
    if (!address.isEmpty() && !address.endsWith(QLatin1Char('/'))) address += QLatin1Char('/');
    const QString plain = tr("Signing in to %1 failed: %2").arg(QUrl(address).adjusted(QUrl::RemoveUserInfo).toString(),
                                                              check.reason);
    showFailure(plain, check.details);
    return tr("Not signed in: %1").arg(check.reason);
}

void HostWindow::showFailure(const QString& plainLine, const QString& details) {
    tell(tr("Error: %1").arg(plainLine));
    const MessageBoxRequest request{plainLine.toStdString(), "ERROR", MsgIcon::Exclamation, MsgButtons::Ok,
                                    MsgAnswer::Ok, details.toStdString()};
    if (failureBoxHandler_) {
        failureBoxHandler_(request);
        return;
    }
    // Over the sign-in dialog when it is up: the box belongs to what failed.
    QWidget* over = QApplication::activeModalWidget();
    eft::qt::QtHostServices::showMessageBox(over ? over : this, request);
}

bool HostWindow::signIn(bool refused) {
    if (!attended_) return false;
    LoginDialog dialog(login_, refused, this);
    dialog.setChecker([this](const Login& login) { return checkSignIn(login); });
    if (dialog.exec() != QDialog::Accepted) return false;
    const Login login = dialog.login();
    QSettings settings;
    settings.setValue(QStringLiteral("server/address"), login.address);
    settings.setValue(QStringLiteral("server/rememberUser"), login.rememberUser);
    if (login.rememberUser) settings.setValue(QStringLiteral("server/user"), login.user);
    else settings.remove(QStringLiteral("server/user"));
    connectTo(login);
    tell(login.user.isEmpty() ? tr("Connected to %1").arg(login.address)
                              : tr("Signed in to %1 as %2").arg(login.address, login.user));
    return true;
}

void HostWindow::reload() {
    if (!control_->reload()) tell(tr("Nothing reloaded: go back to the list of centers, or wait for the transfer."));
}

QString HostWindow::aboutText() const {
    const QString version = serverVersion_ ? serverVersion_() : QString();
    return tr("<b>eft-host</b> %1<br>The EFT membership sweep.<br><br>Server: %2<br>Server version: %3")
        .arg(QApplication::applicationVersion().toHtmlEscaped(), login_.address.toHtmlEscaped(),
             version.isEmpty() ? tr("not known") : version.toHtmlEscaped());
}

void HostWindow::closeEvent(QCloseEvent* event) {
    QSettings settings;
    settings.setValue(QStringLiteral("window/maximized"), isMaximized());
    settings.setValue(QStringLiteral("window/size"), isMaximized() ? normalGeometry().size() : size());
    QMainWindow::closeEvent(event);
    if (busy_ && event->isAccepted()) {
        // The control waits inside its handler for a transfer that may stall for long: the
        // event loop cannot end before it. The control keeps nothing, and the server takes a
        // request whole or not at all, so the process ends here.
        settings.sync();
        std::fflush(nullptr);
        std::_Exit(0);
    }
}

void HostWindow::tell(const QString& event) {
    lastEvent_ = event;
    history_.push_back({QDateTime::currentDateTime(), event});
    setStatus(event);
}

void HostWindow::transferStarted(const QString& what) {
    doing_ = what;
    showProgress(0, -1);
}

void HostWindow::showProgress(qint64 received, qint64 total) {
    QString text;
    if (total > 0) {
        // Progress bars count in int: per mille.
        progress_->setRange(0, 1000);
        progress_->setValue(static_cast<int>(std::min<qint64>(1000, received * 1000 / total)));
        text = tr("%1 of %2").arg(byteCount(received), byteCount(total));
    } else {
        progress_->setRange(0, 0);  // no total yet: a busy bar
        text = byteCount(received);
    }
    progress_->setFormat(text);
    setStatus(tr("%1… %2").arg(doing_, text));
}

void HostWindow::errorOccurred(const QString& message) {
    commitSaid_.clear();
    // The whole text: the status line elides it, and keeps it whole in its tooltip and the history.
    tell(tr("Error: %1").arg(plainMessage(message)));
    // A refused login: the dialog comes back once, and a refused load is tried again.
    if (!message.contains(QStringLiteral("(HTTP 401)")) || loginRetried_ || !attended_) return;
    loginRetried_ = true;
    QTimer::singleShot(0, this, [this] {
        const bool onCenters = control_->elementWidget(QStringLiteral("lstEFTCenter"))->isVisible();
        if (signIn(true) && onCenters) control_->reload();
    });
}

}  // namespace eft::host
