// eft-host: the host application of the EFTMemb control. It places the control in a main
// window, hands it the server base address and the operator's identity from the command line
// and leaves the rest to the operator. Without --server it runs the reference server in this
// process, on a loopback port, over a demo database it fills on first use.
//
// --screenshot renders the window to a PNG once the event loop has settled and exits, so the
// screen can be looked at on machines without a display (QT_QPA_PLATFORM=offscreen).
//
// The window can be resized and maximized, and comes back at the size it was left at. Its
// status bar tells the control's last event, and the bytes of a transfer while it runs.
#include <QApplication>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "eftmemb/eftmemb_widget.h"
#include "eftmemb/embedded_server.h"

namespace {

struct HostOptions {
    QString server;
    int personId = 1;
    int personType = 1;
    QString db;
    QString screenshot;
    bool load = false;
};

std::optional<int> wholeNumber(const QString& text, int low, int high) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high) return std::nullopt;
    return value;
}

// Exits with a usage message on a bad command line.
HostOptions parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs the EFT membership sweep control."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Server base address; without it the demo server runs in-process."),
                                    QStringLiteral("URL"));
    const QCommandLineOption personId(QStringLiteral("person-id"), QStringLiteral("The operator's person id."),
                                      QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption personType(QStringLiteral("person-type"), QStringLiteral("The operator's person type."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("Database of the in-process demo server (default: in the "
                                               "application data folder)."),
                                QStringLiteral("PATH"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Render the window to a PNG file and exit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption load(QStringLiteral("load"), QStringLiteral("Press \"Load Data\" before the screenshot."));
    parser.addOptions({server, personId, personType, db, screenshot, load});
    parser.process(app);

    HostOptions o;
    o.server = parser.value(server);
    const auto id = wholeNumber(parser.value(personId), std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max());
    const auto type = wholeNumber(parser.value(personType), std::numeric_limits<std::int16_t>::min(),
                                  std::numeric_limits<std::int16_t>::max());
    if (!id || !type) {
        std::fprintf(stderr, "eft-host: --person-id takes a whole number and --person-type a 16-bit one\n");
        parser.showHelp(2);
    }
    o.personId = *id;
    o.personType = *type;
    o.db = parser.value(db);
    o.screenshot = parser.value(screenshot);
    o.load = parser.isSet(load);
    if (o.load && o.screenshot.isEmpty()) {
        std::fprintf(stderr, "eft-host: --load goes with --screenshot\n");
        parser.showHelp(2);
    }
    if (!o.server.isEmpty() && !o.db.isEmpty()) {
        std::fprintf(stderr, "eft-host: --db is for the in-process server; it cannot go with --server\n");
        parser.showHelp(2);
    }
    return o;
}

std::unique_ptr<eft::server::EmbeddedServer> startDemoServer(const QString& dbOption) {
    QString db = dbOption;
    if (db.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        db = QDir(dir).filePath(QStringLiteral("eftmemb-demo.sqlite"));
    }
    QDir().mkpath(QFileInfo(db).absolutePath());
    eft::server::EmbeddedOptions options;
    options.dbPath = QFileInfo(db).absoluteFilePath().toStdString();
    options.seedDemo = true;  // only fills a new, empty database
    return eft::server::EmbeddedServer::start(options);
}

void setIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("EFTMemb"));
    QCoreApplication::setApplicationName(QStringLiteral("eft-host"));
    // No display name: the window system would add it to every title, the control's message
    // boxes included, and cut their own titles short.
    QCoreApplication::setApplicationVersion(QString::fromStdString(eft::libraryVersion()));
}

// --help and --version answer without a display: they are handled before any window system
// is opened.
bool asksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--help", "-h", "-?", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], option) == 0) return true;
        if (std::strcmp(argv[i], "--") == 0) break;
    }
    return false;
}

QString byteCount(qint64 bytes) { return QLocale::system().formattedDataSize(bytes); }

// The main window: the control in the middle, its last event and a transfer's progress below.
class HostWindow : public QMainWindow {
public:
    HostWindow() : control_(new eft::qt::EftMembWidget(this)), progress_(new QProgressBar(this)) {
        setCentralWidget(control_);
        setWindowTitle(QStringLiteral("EFT Membership Sweep"));
        progress_->setTextVisible(true);
        progress_->setMaximumWidth(260);
        progress_->hide();
        statusBar()->addPermanentWidget(progress_);
        statusBar()->showMessage(QStringLiteral("Ready"));
        using W = eft::qt::EftMembWidget;
        connect(control_, &W::errorOccurred, this, [this](const QString& m) { tell(tr("Error: %1").arg(m.simplified())); });
        connect(control_, &W::sweepLoaded, this, [this](int country, int rows) {
            tell(tr("Loaded %1 sweep rows of %2").arg(rows).arg(country == 2 ? tr("Canada") : tr("the United States")));
        });
        connect(control_, &W::saved, this, [this](int rows) { tell(tr("Saved %1 member rows").arg(rows)); });
        connect(control_, &W::exported, this, [this](const QString& report) {
            tell(tr("Exported: %1").arg(report.simplified()));
        });
        connect(control_, &W::batchCommitted, this, [this](int batch, int cleared, int failed) {
            tell(tr("Batch %1 committed: %2 cleared, %3 failed").arg(batch).arg(cleared).arg(failed));
        });
        connect(control_, &W::busyChanged, this, [this](bool busy) {
            progress_->setVisible(busy);
            if (busy) showProgress(0, -1);
        });
        connect(control_, &W::transferProgress, this, &HostWindow::showProgress);
    }

    eft::qt::EftMembWidget* control() const { return control_; }
    QProgressBar* progress() const { return progress_; }

    // The size the window was left at, or the control's own size the first time.
    void restoreSize() {
        const QSize saved = QSettings().value(QStringLiteral("window/size")).toSize();
        resize(saved.isValid() ? saved.expandedTo(minimumSizeHint()) : sizeHint());
        if (QSettings().value(QStringLiteral("window/maximized")).toBool()) setWindowState(Qt::WindowMaximized);
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        QSettings settings;
        settings.setValue(QStringLiteral("window/maximized"), isMaximized());
        settings.setValue(QStringLiteral("window/size"), isMaximized() ? normalGeometry().size() : size());
        QMainWindow::closeEvent(event);
    }

private:
    void tell(const QString& event) { statusBar()->showMessage(event); }

    void showProgress(qint64 received, qint64 total) {
        // Progress bars count in int; the byte counts go through in kibibytes.
        if (total > 0) {
            progress_->setRange(0, static_cast<int>(std::min<qint64>(total / 1024 + 1, std::numeric_limits<int>::max())));
            progress_->setValue(static_cast<int>(std::min<qint64>(received / 1024, progress_->maximum())));
            progress_->setFormat(tr("%1 of %2").arg(byteCount(received), byteCount(total)));
        } else {
            progress_->setRange(0, 0);  // no total yet: a busy bar
            progress_->setFormat(byteCount(received));
        }
        progress_->setToolTip(progress_->format());
    }

    eft::qt::EftMembWidget* control_;
    QProgressBar* progress_;
};

void takeScreenshot(QMainWindow& window, eft::qt::EftMembWidget& control, const HostOptions& o) {
    if (o.load) {
        if (auto* button = qobject_cast<QPushButton*>(control.elementWidget(QStringLiteral("cmdLoadData"))))
            button->click();
        QApplication::processEvents();
    }
    const bool saved = window.grab().save(o.screenshot, "PNG");
    if (!saved) std::fprintf(stderr, "eft-host: cannot write %s\n", qPrintable(o.screenshot));
    // What the status bar says, for those who look at the screen through the picture.
    std::printf("status: %s\n", qPrintable(window.statusBar()->currentMessage()));
    window.close();
    QApplication::exit(saved ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        setIdentity();
        parseOptions(app);  // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    setIdentity();
    const HostOptions o = parseOptions(app);

    std::unique_ptr<eft::server::EmbeddedServer> server;
    QString base = o.server;
    if (base.isEmpty()) {
        try {
            server = startDemoServer(o.db);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "eft-host: the demo server did not start: %s\n", e.what());
            return 1;
        }
        base = QString::fromStdString(server->baseAddress());
    } else if (!base.endsWith(QLatin1Char('/'))) {
        // Page names are appended to the base address as they are.
        base += QLatin1Char('/');
    }

    HostWindow window;
    eft::qt::EftMembWidget* control = window.control();
    window.restoreSize();
    window.show();
    control->setVariables(base, o.personId, o.personType);

    if (!o.screenshot.isEmpty()) {
        // Nobody is there to answer a box: its text goes to the error stream instead.
        control->setMessageBoxHandler([](const eft::MessageBoxRequest& request) {
            std::fprintf(stderr, "eft-host: [%s] %s\n", request.title.c_str(), request.text.c_str());
            return request.buttons == eft::MsgButtons::YesNo ? eft::MsgAnswer::No : eft::MsgAnswer::Ok;
        });
        QTimer::singleShot(0, &window, [&] { takeScreenshot(window, *control, o); });
    }
    const int rc = QApplication::exec();
    // The window, and with it the control, goes before the server it talks to.
    return rc;
}
