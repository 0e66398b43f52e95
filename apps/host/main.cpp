// eft-host: the host application of the EFTMemb control. It places the control in a main
// window, hands it the server base address and the operator's identity from the command line
// and leaves the rest to the operator. Without --server it runs the reference server in this
// process, on a loopback port, over a demo database it fills on first use.
//
// --screenshot renders the window to a PNG once the event loop has settled and exits, so the
// screen can be looked at on machines without a display (QT_QPA_PLATFORM=offscreen).
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

#include "control/version.h"
#include "qt/eftmemb_widget.h"
#include "server/embedded_server.h"

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
HostOptions parseOptions(const QApplication& app) {
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

void takeScreenshot(QMainWindow& window, eft::qt::EftMembWidget& control, const HostOptions& o) {
    if (o.load) {
        if (auto* button = qobject_cast<QPushButton*>(control.elementWidget(QStringLiteral("cmdLoadData"))))
            button->click();
        QApplication::processEvents();
    }
    const bool saved = window.grab().save(o.screenshot, "PNG");
    if (!saved) std::fprintf(stderr, "eft-host: cannot write %s\n", qPrintable(o.screenshot));
    QApplication::exit(saved ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("EFTMemb"));
    QApplication::setApplicationName(QStringLiteral("eft-host"));
    QApplication::setApplicationDisplayName(QStringLiteral("EFTMemb"));
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(eft::kVersionMajor).arg(eft::kVersionMinor).arg(eft::kVersionRevision));
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

    QMainWindow window;
    auto* control = new eft::qt::EftMembWidget(&window);
    window.setCentralWidget(control);
    window.setWindowTitle(QStringLiteral("EFT Membership Sweep"));
    window.statusBar()->showMessage(QStringLiteral("Server: %1").arg(base));
    window.statusBar()->setSizeGripEnabled(false);
    window.show();
    window.setFixedSize(window.sizeHint());
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
