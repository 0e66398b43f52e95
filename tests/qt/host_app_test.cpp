// eft-host run as the operator's machine would run it, without a display: against a given
// server, and with its own in-process demo server.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "support/canned_server.h"

#ifndef EFT_HOST_PATH
#error "EFT_HOST_PATH names the eft-host executable"
#endif

namespace {

struct HostRun {
    int exitCode = -1;
    QString errors;
};

HostRun runHost(const QStringList& arguments, const QString& home) {
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The demo database's default place lives under the home folder.
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), QDir(home).filePath(QStringLiteral("data")));
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(EFT_HOST_PATH), arguments);
    EXPECT_TRUE(host.waitForFinished(60'000)) << "eft-host did not end";
    return {host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1,
            QString::fromLocal8Bit(host.readAllStandardError())};
}

QSize pngSize(const QString& path) { return QImage(path, "PNG").size(); }

TEST(HostAppTest, ScreenshotAgainstAGivenServerAfterALoad) {
    QTemporaryDir dir;
    eft::test::CannedServer server;
    server.on("EFTMember.asp?countryID=1&Load=1", {"<rows/>"});
    const QString png = dir.filePath(QStringLiteral("host.png"));
    std::string base = server.base();
    base.pop_back();  // the host supplies the final "/"
    const HostRun run = runHost({"--server", QString::fromStdString(base), "--person-id", "9", "--person-type", "2",
                             "--screenshot", png, "--load"},
                            dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_GT(pngSize(png).width(), 500);
    std::vector<std::string> gets;
    for (const auto& r : server.requests()) gets.push_back(r.method + " " + r.target);
    EXPECT_EQ(gets, std::vector<std::string>{"GET EFTMember.asp?countryID=1&Load=1"});
}

TEST(HostAppTest, WithoutAServerTheDemoServerRunsInProcess) {
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("demo.png"));
    const QString db = dir.filePath(QStringLiteral("db/demo.sqlite"));
    const HostRun run = runHost({"--db", db, "--screenshot", png, "--load"}, dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains(QStringLiteral("eft-host: [")))
        << "a box came up: " << run.errors.toStdString();
    EXPECT_TRUE(QFileInfo::exists(db));
    EXPECT_GT(pngSize(png).width(), 500);

    // The default database sits in the application data folder.
    const HostRun byDefault = runHost({"--screenshot", png}, dir.path());
    EXPECT_EQ(byDefault.exitCode, 0) << byDefault.errors.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("data/EFTMemb/eft-host/eftmemb-demo.sqlite"))));
}

TEST(HostAppTest, ABadCommandLineIsRefused) {
    QTemporaryDir dir;
    for (const QStringList& args : {QStringList{"--person-type", "70000", "--screenshot", "x.png"},
                                    QStringList{"--person-id", "abc"}, QStringList{"--load"},
                                    QStringList{"--server", "http://h/", "--db", "x.sqlite"}}) {
        const HostRun run = runHost(args, dir.path());
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
    }
}

}  // namespace
