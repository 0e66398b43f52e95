// eft-host: the host application of the EFTMemb control. It places the control in a main
// window, hands it the server base address and the operator's identity from the command line
// and leaves the rest to the operator. Without --server it runs the reference server in this
// process, on a loopback port, over a demo database it fills on first use.
//
// --screenshot renders the window to a PNG once the event loop has settled and exits, so the
// screen can be looked at on machines without a display (QT_QPA_PLATFORM=offscreen); with
// --load it exits 3 when the load failed, saying why on the error stream.
//
// The window can be resized and maximized, and comes back at the size it was left at. The
// server address and the user (when the operator asks to remember it) live in the settings;
// the password is asked by the sign-in dialog and never taken from the command line.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "eftmemb/eftmemb_widget.h"
#include "eftmemb/embedded_server.h"
#include "host_window.h"

namespace {

struct HostOptions {
    QString server;
    QString user;
    QString caFile;
    int personId = 1;
    int personType = 1;
    QString db;
    QString screenshot;
    bool load = false;
    QString language;
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
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("The user to sign in as; the password is asked for."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption caFile(QStringLiteral("ca-file"),
                                    QStringLiteral("A CA bundle for a server certified by a private CA (default: the "
                                                   "system's, or $SSL_CERT_FILE)."),
                                    QStringLiteral("FILE"));
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
    const QCommandLineOption language(
        QStringLiteral("language"),
        QStringLiteral("The language of the window: fr or en; without it the one chosen in View > Language, "
                       "else the system's."),
        QStringLiteral("LANG"));
    parser.addOptions({server, user, caFile, personId, personType, db, screenshot, load, language});
    parser.process(app);

    HostOptions o;
    o.server = parser.value(server);
    o.user = parser.value(user);
    o.caFile = parser.value(caFile);
    if (!o.caFile.isEmpty() && !QFileInfo(o.caFile).isReadable()) {
        std::fprintf(stderr, "eft-host: cannot read the CA file %s\n", qPrintable(o.caFile));
        parser.showHelp(2);
    }
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
    o.language = parser.value(language);
    if (!o.language.isEmpty() && !eft::qt::EftMembWidget::languages().contains(o.language)) {
        std::fprintf(stderr, "eft-host: --language takes one of: %s\n",
                     qPrintable(eft::qt::EftMembWidget::languages().join(QStringLiteral(", "))));
        parser.showHelp(2);
    }
    if (o.load && o.screenshot.isEmpty()) {
        std::fprintf(stderr, "eft-host: --load goes with --screenshot\n");
        parser.showHelp(2);
    }
    if (!o.server.isEmpty() && !o.db.isEmpty()) {
        std::fprintf(stderr, "eft-host: --db is for the in-process server; it cannot go with --server\n");
        parser.showHelp(2);
    }
    if (!QUrl(o.server).password().isEmpty()) {
        // Every user of the machine can read a command line.
        std::fprintf(stderr, "eft-host: leave the password out of --server; the sign-in dialog asks for it\n");
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

// Exit status of --screenshot: the picture was written, and the load asked for ran.
constexpr int kScreenshotTaken = 0;
constexpr int kScreenshotNotWritten = 1;
constexpr int kLoadFailed = 3;

void takeScreenshot(eft::host::HostWindow& window, eft::qt::EftMembWidget& control, const HostOptions& o) {
    // A picture of an empty list must not pass for a sweep that loaded: a script reads the exit
    // status, not the picture.
    bool loaded = false;
    QString failure;
    if (o.load) {
        const auto sweep = QObject::connect(&control, &eft::qt::EftMembWidget::sweepLoaded, &window,
                                            [&loaded](int, int) { loaded = true; });
        const auto error = QObject::connect(&control, &eft::qt::EftMembWidget::errorOccurred, &window,
                                            [&failure](const QString& message) { failure = message; });
        if (auto* button = qobject_cast<QPushButton*>(control.elementWidget(QStringLiteral("cmdLoadData"))))
            button->click();
        QApplication::processEvents();
        QObject::disconnect(sweep);
        QObject::disconnect(error);
    }
    const bool saved = window.grab().save(o.screenshot, "PNG");
    if (!saved) std::fprintf(stderr, "eft-host: cannot write %s\n", qPrintable(o.screenshot));
    // What the status bar says, for those who look at the screen through the picture.
    std::printf("status: %s\n", qPrintable(window.statusText()));
    int rc = saved ? kScreenshotTaken : kScreenshotNotWritten;
    if (o.load && !loaded) {
        std::fprintf(stderr, "eft-host: --load: the sweep was not loaded%s%s\n", failure.isEmpty() ? "" : ": ",
                     qPrintable(failure.simplified()));
        rc = kLoadFailed;
    }
    window.close();
    QApplication::exit(rc);
}

}  // namespace

// The login to start with: the command line's, else the remembered one. A user written into
// the address is the user to sign in as.
eft::host::Login startingLogin(const HostOptions& o) {
    QSettings settings;
    eft::host::Login login;
    login.address = o.server.isEmpty() ? settings.value(QStringLiteral("server/address")).toString() : o.server;
    login.rememberUser = settings.value(QStringLiteral("server/rememberUser")).toBool();
    login.user = o.user.isEmpty() && login.rememberUser ? settings.value(QStringLiteral("server/user")).toString()
                                                        : o.user;
    QUrl url(login.address);
    if (!url.userName().isEmpty()) {
        if (login.user.isEmpty()) login.user = url.userName();
        url.setUserInfo(QString());
        login.address = url.toString();
    }
    return login;
}

int main(int argc, char** argv) {
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        setIdentity();
        parseOptions(app);  // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    setIdentity();
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("eft-host"), QIcon(QStringLiteral(":/eft-host.svg"))));
    QApplication::setDesktopFileName(QStringLiteral("eft-host"));
    const HostOptions o = parseOptions(app);

    eft::host::Login login = o.db.isEmpty() ? startingLogin(o) : eft::host::Login{};
    std::unique_ptr<eft::server::EmbeddedServer> server;
    if (login.address.isEmpty()) {
        try {
            server = startDemoServer(o.db);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "eft-host: the demo server did not start: %s\n", e.what());
            return 1;
        }
        login = eft::host::Login{QString::fromStdString(server->baseAddress()), {}, {}, false};
    }

    eft::host::HostWindow window(o.personId, o.personType);
    eft::qt::EftMembWidget* control = window.control();
    // The command line, else the operator's last choice, else the system's language.
    window.setLanguage(o.language.isEmpty() ? QSettings().value(QStringLiteral("view/language")).toString() : o.language);
    eft::ControlOptions controlOptions;
    // libcurl reads no environment of its own: the variable OpenSSL's tools honour is honoured here.
    const QString caFile = o.caFile.isEmpty() ? qEnvironmentVariable("SSL_CERT_FILE") : o.caFile;
    controlOptions.limits.caFile = caFile.toStdString();
    control->setControlOptions(controlOptions);
    window.restoreSize();
    window.show();
    // The window comes up with the keyboard, so a screen reader's keys reach it at once.
    window.activateWindow();
    window.connectTo(login);
    // A screenshot has nobody to sign in: a refused login must end the run, not wait on a dialog.
    window.setAttended(o.screenshot.isEmpty());
    window.setServerVersionSource([&window, caFile] { return eft::host::serverVersionOf(window.login().address, caFile); });

    if (!o.screenshot.isEmpty()) {
        // Nobody is there to answer a box: its text goes to the error stream instead.
        control->setMessageBoxHandler([](const eft::MessageBoxRequest& request) {
            std::fprintf(stderr, "eft-host: [%s] %s\n", request.title.c_str(), request.text.c_str());
            return request.buttons == eft::MsgButtons::YesNo ? eft::MsgAnswer::No : eft::MsgAnswer::Ok;
        });
        QTimer::singleShot(0, &window, [&] { takeScreenshot(window, *control, o); });
    } else if (!login.user.isEmpty() && login.password.isEmpty()) {
        QTimer::singleShot(0, &window, [&] { window.signIn(); });
    }
    const int rc = QApplication::exec();
    // The window, and with it the control, goes before the server it talks to.
    return rc;
}
