#include "host_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
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

namespace eft::host {
namespace {

QString centers(int n) { return n == 1 ? QStringLiteral("1 center") : QStringLiteral("%1 centers").arg(n); }

// The fixed text of a failed post says nothing the status bar can use.
QString plainMessage(const QString& message) {
    QString text = message.simplified();
    const QString fixed = QStringLiteral("Error !");
    if (text.startsWith(fixed)) text = text.mid(fixed.size()).trimmed();
    return text;
}

}  // namespace

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
      personId_(personId),
      personType_(personType) {
    setCentralWidget(control_);
    setWindowTitle(tr("EFT Membership Sweep"));
    progress_->setTextVisible(true);
    progress_->setMaximumWidth(260);
    progress_->hide();
    statusBar()->addPermanentWidget(progress_);
    tell(tr("Ready"));
    buildMenus();

    using W = eft::qt::EftMembWidget;
    connect(control_, &W::errorOccurred, this, &HostWindow::errorOccurred);
    connect(control_, &W::sweepLoaded, this, [this](int country, int rows) {
        sweepLoaded_ = true;
        loginRetried_ = false;
        tell(tr("Loaded %1 sweep rows of %2").arg(rows).arg(country == 2 ? tr("Canada") : tr("the United States")));
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
        tell(tr("Batch %1 committed: %2 cleared, %3 failed").arg(batch).arg(centers(cleared)).arg(failed));
        // Failed centers' charges are back in the sweep: the center list would not show them.
        if (sweepLoaded_) QTimer::singleShot(0, this, [this] { control_->reload(); });
    });
    connect(control_, &W::busyChanged, this, [this](bool busy) {
        busy_ = busy;
        progress_->setVisible(busy);
        if (!busy) statusBar()->showMessage(lastEvent_);
    });
    connect(control_, &W::transferStarted, this, &HostWindow::transferStarted);
    connect(control_, &W::transferProgress, this, &HostWindow::showProgress);
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

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* about = help->addAction(tr("&About"), this,
                                     [this] { QMessageBox::about(this, tr("About eft-host"), aboutText()); });
    about->setObjectName(QStringLiteral("about"));
}

QString HostWindow::statusText() const { return statusBar()->currentMessage(); }

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

void HostWindow::setSignInAllowed(bool allowed) { signInAction_->setEnabled(allowed); }

bool HostWindow::signIn(bool refused) {
    if (!signInAction_->isEnabled()) return false;
    LoginDialog dialog(login_, refused, this);
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
    statusBar()->showMessage(event);
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
    statusBar()->showMessage(tr("%1… %2").arg(doing_, text));
}

void HostWindow::errorOccurred(const QString& message) {
    tell(tr("Error: %1").arg(plainMessage(message).left(300)));
    // A refused login: the dialog comes back once, and a refused load is tried again.
    if (!message.contains(QStringLiteral("(HTTP 401)")) || loginRetried_ || !signInAction_->isEnabled()) return;
    loginRetried_ = true;
    QTimer::singleShot(0, this, [this] {
        const bool onCenters = control_->elementWidget(QStringLiteral("lstEFTCenter"))->isVisible();
        if (signIn(true) && onCenters) control_->reload();
    });
}

}  // namespace eft::host
