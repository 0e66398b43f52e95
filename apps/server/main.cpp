// eft-server: the reference server of the EFT membership sweep pages, over a SQLite file.
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "server/embedded_server.h"
#include "server/export/files_report.h"
#include "server/http/access.h"
#include "server/http/access_log.h"
#include "server/import/importer.h"
#include "server/output/records.h"
#include "server/returns/returns_command.h"
#include "server/store/clock.h"
#include "server/store/store.h"

namespace {

// One line of stdin; on a terminal, asked for with `prompt` and not echoed.
std::string readPassword(const char* prompt) {
    std::string password;
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << prompt << std::flush;
    }
    std::getline(std::cin, password);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

// Reads a password and prints its hash, as a credentials line when a name is given. Typed at a
// terminal, where a slip cannot be seen, it is asked for twice; from a pipe, once.
int printPasswordHash(const std::string& name) {
    // The credentials file splits a line at its first ':' and skips lines starting with '#'.
    if (name.find(':') != std::string::npos || name.starts_with('#')) {
        std::cerr << "eft-server: the name \"" << name
                  << "\" cannot go in a credentials file (no ':', and no '#' at its start)\n";
        return 2;
    }
    const std::string password = readPassword("Password: ");
    if (password.empty()) {
        std::cerr << "eft-server: give the password on standard input\n";
        return 2;
    }
    if (::isatty(STDIN_FILENO) == 1 && readPassword("The same password again: ") != password) {
        std::cerr << "eft-server: the two passwords differ; nothing was printed\n";
        return 2;
    }
    const std::string hash = eft::server::hashPassword(password);
    std::cout << (name.empty() ? hash : name + ":" + hash) << "\n";
    return 0;
}

// An older database is upgraded by whichever command opens it first; each says so.
void sayUpgrade(const eft::server::Store& store, const std::string& db) {
    if (const auto& upgrade = store.upgraded())
        std::cerr << "eft-server: " << eft::server::upgradeText(*upgrade, db) << "\n";
}

// Who resolves a delivery: the account running the command, and the person behind sudo, as
// the packaged service's account is shared by every administrator.
std::string operatingUser() {
    const passwd* entry = ::getpwuid(::geteuid());
    std::string user = entry != nullptr ? entry->pw_name : "uid " + std::to_string(::geteuid());
    if (const char* sudo = std::getenv("SUDO_USER"); sudo != nullptr && *sudo != 0 && user != sudo)
        user += " (sudo from " + std::string(sudo) + ")";
    return user;
}

// `resolveBatch`: the batch of the file whose delivery in doubt `resolution` resolves, or 0 to
// list the files.
int listFiles(const std::string& db, std::int32_t resolveBatch, eft::server::Resolution resolution,
              const std::string& by, eft::server::output::Format format) {
    if (!eft::server::isPostgresUri(db) && !std::filesystem::exists(db)) {
        std::cerr << "eft-server: no database " << db << "\n";
        return 1;
    }
    try {
        eft::server::Store store(db);
        sayUpgrade(store, db);
        if (resolveBatch == 0 && format != eft::server::output::Format::Text)
            std::cout << eft::server::output::render({eft::server::filesRecords(store)}, format);
        else if (resolveBatch == 0) std::cout << eft::server::filesReport(store);
        else
            std::cout << eft::server::resolveDelivery(store, resolveBatch, resolution, operatingUser(), by,
                                                      eft::server::isoText(eft::server::localNow()));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "eft-server: " << e.what() << "\n";
        return 1;
    }
}

// A value from the environment is named by its variable, which is where the fault has to be
// mended; CLI11 names only the option.
std::string parseFault(const CLI::App& app, const CLI::ParseError& e, int argc, char** argv) {
    std::string what = e.what();
    for (const CLI::Option* o : app.get_options()) {
        const std::string& variable = o->get_envname();
        if (variable.empty() || std::getenv(variable.c_str()) == nullptr) continue;
        const std::string name = o->get_name();
        if (what.find(name) == std::string::npos) continue;
        bool given = false;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            given = given || arg == name || arg.rfind(name + "=", 0) == 0;
        }
        if (!given) return "the environment variable " + variable + "=" + std::getenv(variable.c_str()) + ": " + what;
    }
    return what;
}

int runImport(const std::string& db, const std::vector<std::string>& files, bool dryRun,
              eft::server::output::Format format) {
    // A mistyped path would otherwise leave an empty database behind a run that writes nothing.
    if (dryRun && !eft::server::isPostgresUri(db) && !std::filesystem::exists(db)) {
        std::cerr << "eft-server: no database " << db
                  << "; a dry run checks against an existing one and creates none\n";
        return 1;
    }
    try {
        eft::server::Store store(db, dryRun ? eft::server::Store::Older::Refuse : eft::server::Store::Older::Upgrade);
        sayUpgrade(store, db);
        const auto report = eft::server::importCsv(store, {files.begin(), files.end()}, dryRun);
        if (format == eft::server::output::Format::Text) std::cout << eft::server::importReportText(report, dryRun);
        else std::cout << eft::server::output::render(eft::server::importRecords(report, dryRun), format);
        return report.faultCount == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "eft-server: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    eft::server::EmbeddedOptions options;
    std::string db, exportDir, credentials, tlsCert, tlsKey, originator, holidays, hashFor;
    auto format = eft::server::LogFormat::Text;
    bool hashing = false;

    CLI::App app{"eft-server: the reference server of the EFT membership sweep pages, over a SQLite file\n"
                 "or a PostgreSQL database (several servers may share one).\n"
                 "Prints the base address it serves, then serves until SIGINT or SIGTERM.\n"
                 "Every option can also be given by the environment variable shown with it."};
    app.set_version_flag("--version", std::string("eft-server ") + EFT_VERSION);
    app.add_option("--db", db,
                   "the SQLite database file, created when missing, or a PostgreSQL connection URI "
                   "(postgresql://user@host/db?sslmode=verify-full), whose tables are made when missing")->envname("EFT_DB");
    app.add_option("--listen", options.listenHost, "the address to listen on")
        ->envname("EFT_LISTEN")
        ->capture_default_str();
    app.add_option("--port", options.port, "the port; 0: any free port")
        ->envname("EFT_PORT")
        ->capture_default_str();
    app.add_option("--export-dir", exportDir, "where batch files are written (default: <db name>-export beside a SQLite file; "
                                             "eft-export in the working folder for PostgreSQL)")
        ->envname("EFT_EXPORT_DIR");
    app.add_flag("--seed-demo", options.seedDemo, "fill an empty database with the demo sweep")->envname("EFT_SEED_DEMO");
    app.add_option("--credentials", credentials,
                   "lines of name:hash; every request then needs HTTP Basic authentication. "
                   "Without it only a loopback address is served")
        ->envname("EFT_CREDENTIALS")
        ->check(CLI::ExistingFile);
    auto* cert = app.add_option("--tls-cert", tlsCert, "serve HTTPS with this PEM certificate (chain)")
                     ->envname("EFT_TLS_CERT")
                     ->check(CLI::ExistingFile);
    auto* key = app.add_option("--tls-key", tlsKey, "the PEM private key of the certificate")
                    ->envname("EFT_TLS_KEY")
                    ->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    app.add_option("--originator", originator, "the originator's details for the export files")
        ->envname("EFT_ORIGINATOR")
        ->check(CLI::ExistingFile);
    app.add_option("--holidays", holidays,
                   "bank closures to skip beyond the Federal Reserve and Payments Canada holidays: one a line, "
                   "US or CA, a date YYYY-MM-DD and an optional name (\"CA 2026-08-03 Civic Holiday\"); "
                   "blank lines and lines starting with # are ignored")
        ->envname("EFT_HOLIDAYS")
        ->check(CLI::ExistingFile);
    const std::map<std::string, eft::server::LogFormat> formats{{"text", eft::server::LogFormat::Text},
                                                                {"json", eft::server::LogFormat::Json}};
    app.add_option("--log-format", format, "the log on standard error: text or json")
        ->envname("EFT_LOG_FORMAT")
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
    app.add_option("--workers", options.workers, "threads for database and password work")
        ->envname("EFT_WORKERS")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--max-connections-per-address", options.maxConnectionsPerAddress,
                   "connections one client address may hold at once; past it a new one is closed at once")
        ->envname("EFT_MAX_CONNECTIONS_PER_ADDRESS")
        ->capture_default_str()
        ->check(CLI::Range(1, 1 << 20));
    app.add_option("--hash-password", hashFor,
                   "read a password from standard input (asked twice on a terminal) and print its hash (with a "
                   "name: its credentials line)")
        ->expected(0, 1)
        ->each([&hashing](const std::string&) { hashing = true; });
    std::int64_t deliverTimeout = options.deliverTimeout.count();
    std::int64_t deliverRetry = options.deliverRetry.count();
    app.add_option("--deliver-command", options.deliverCommand,
                   "run after each bank file is published, with the file's path as its argument "
                   "(through /bin/sh); a failure is retried, waiting longer each time, but a delivery whose outcome "
                   "is unknown is in doubt and waits for `eft-server files --delivered N` or `--redeliver N`")
        ->envname("EFT_DELIVER_COMMAND");
    app.add_option("--deliver-timeout", deliverTimeout, "seconds a delivery may take before it is stopped")
        ->envname("EFT_DELIVER_TIMEOUT")
        ->capture_default_str()
        ->check(CLI::Range(1, 86400));
    app.add_option("--deliver-retry", deliverRetry,
                   "seconds before the first retry of a failed delivery; doubled each time, up to an hour")
        ->envname("EFT_DELIVER_RETRY")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    std::int64_t settleEvery = options.settleEvery.count();
    app.add_option("--settle-every", settleEvery,
                   "seconds between the server's looks for batches whose return window has passed, which then "
                   "settle by themselves (returned centers failed, the others cleared); it also looks at the start. "
                   "0: only `eft-server returns` settles")
        ->envname("EFT_SETTLE_EVERY")
        ->capture_default_str()
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{7 * 86400}));
    app.add_option("--return-margin", options.returnMarginDays,
                   "days past a batch's return window (two banking days after it settles) for the returns file "
                   "to arrive, before the batch settles by itself")
        ->envname("EFT_RETURN_MARGIN")
        ->capture_default_str()
        ->check(CLI::Range(0, 30));
    std::size_t sweepCacheMb = options.sweepCacheBytes >> 20;
    app.add_option("--sweep-cache-mb", sweepCacheMb,
                   "megabytes of sweep rows kept in memory to answer the next loads without reading them from "
                   "the database again (default: an eighth of the memory, at most 1024); 0: none")
        ->envname("EFT_SWEEP_CACHE_MB")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 20));
    auto* import = app.add_subcommand(
        "import", "load centers (with their bank accounts), members and charges from CSV files into the database, "
                  "all or nothing; see docs/administrator.md for the columns");
    std::string importDb;
    std::vector<std::string> importFiles;
    bool dryRun = false;
    import->add_option("--db", importDb, "the SQLite database file or PostgreSQL URI")->envname("EFT_DB")->required();
    import->add_flag("--dry-run", dryRun, "check and report, write nothing");
    const auto outputFormat = [](const std::string& name) {
        return eft::server::output::formatNamed(name) ? std::string() : "not text, csv or json: " + name;
    };
    std::string importFormat = "text";
    import->add_option("--format", importFormat, "the report: text, csv or json (the counts, faults and skips as records)")
        ->check(outputFormat);
    import->add_option("csv", importFiles, "CSV files, each a table told by its header")
        ->required()
        ->check(CLI::ExistingFile);
    auto* files = app.add_subcommand("files", "list every bank file: name, batch, country, entries, totals, "
                                              "SHA-256, when published and when delivered, after the deliveries "
                                              "in doubt; or resolve a delivery in doubt");
    std::string filesDb, resolvedBy;
    std::int32_t deliveredBatch = 0, redeliverBatch = 0;
    // Checked when the command runs: CLI11 checks a subcommand's variables even when it is not used.
    files->add_option("--db", filesDb, "the SQLite database file or PostgreSQL URI")->envname("EFT_DB")->required();
    auto* delivered = files->add_option("--delivered", deliveredBatch,
                                        "record that the bank got the file of batch N, whose delivery is in doubt: "
                                        "it is not delivered again")
                          ->check(CLI::Range(1, 2147483647));
    auto* redeliver = files->add_option("--redeliver", redeliverBatch,
                                        "record that the bank did not get the file of batch N, whose delivery is in "
                                        "doubt: a running server delivers it again")
                          ->check(CLI::Range(1, 2147483647));
    delivered->excludes(redeliver);
    std::string filesFormat = "text";
    files->add_option("--format", filesFormat, "the list: text, csv or json (a value a field)")
        ->check(outputFormat)
        ->excludes(delivered)
        ->excludes(redeliver);
    auto* by = files->add_option("--by", resolvedBy,
                                 "with --delivered or --redeliver: the name of the person who checked with the bank, "
                                 "recorded beside the account running the command");
    by->check([](const std::string& name) {
        for (const char c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::string("a name has no control characters");
        return std::string();
    });
    auto* returnsCommand = app.add_subcommand(
        "returns", "read the bank's return files (NACHA returns, CPA-005 returned items, or a CSV report), match "
                   "each return to the entry sent and apply it by its code, in one transaction; see docs/returns.md");
    eft::server::returns::ReturnsArgs returnsArgs;
    returnsCommand->add_option("--db", returnsArgs.db, "the SQLite database file or PostgreSQL URI")->envname("EFT_DB")->required();
    returnsCommand->add_flag("--dry-run", returnsArgs.dryRun, "print the match table, write nothing");
    returnsCommand->add_option("--return-margin", returnsArgs.marginDays,
                               "days past a batch's return window (two banking days after it settles) for the "
                               "returns file to arrive, before the batch settles by itself")
        ->envname("EFT_RETURN_MARGIN")->capture_default_str()->check(CLI::Range(0, 30));
    returnsCommand->add_option("--holidays", returnsArgs.holidays, "bank closures, as for the server")
        ->envname("EFT_HOLIDAYS")->check(CLI::ExistingFile);
    returnsCommand->add_option("--originator", returnsArgs.originator,
                               "the originator file, as for the server: where its bank's CPA-005 returns carry "
                               "their reason code")
        ->envname("EFT_ORIGINATOR")->check(CLI::ExistingFile);
    returnsCommand->add_flag("--apply-corrections", returnsArgs.applyCorrections,
                             "apply each notification of change as it is read, rather than listing it for "
                             "`eft-server corrections --apply ID`");
    returnsCommand->add_flag("--report", returnsArgs.report,
                             "print, per country, the entries sent, the returns by category and their rates against "
                             "the network's thresholds (0.5 % unauthorized, 3 % administrative, 15 % overall)");
    returnsCommand->add_flag("--settle", returnsArgs.settle,
                             "with no file: only settle the batches whose return window has passed (a daily run)");
    returnsCommand->add_option("--days", returnsArgs.days, "with --report: the window, in days")
        ->capture_default_str()->check(CLI::Range(1, 3660));
    returnsCommand->add_option("--format", returnsArgs.format,
                               "text, csv or json: the match table (a row per return, then the corrections read) or, "
                               "with --report, a row per country")
        ->check(outputFormat);
    returnsCommand->add_option("file", returnsArgs.files, "the bank's files")->check(CLI::ExistingFile);
    auto* accounts = app.add_subcommand("accounts", "list the centers a return blocked or stopped, or record a new "
                                                    "authorization of a center's debits");
    std::string accountsDb;
    std::int32_t authorizeCenter = 0;
    accounts->add_option("--db", accountsDb, "the SQLite database file or PostgreSQL URI")->envname("EFT_DB")->required();
    accounts->add_option("--authorize", authorizeCenter, "record who authorized the center's debits again, and when")
        ->check(CLI::Range(1, 2147483647));
    std::string accountsFormat = "text";
    accounts->add_option("--format", accountsFormat, "the list: text, csv or json (a value a field)")
        ->check(outputFormat)
        ->excludes("--authorize");
    auto* corrections = app.add_subcommand("corrections", "list the corrections the bank proposed in notifications "
                                                          "of change (center, field, old and new value, code, date), "
                                                          "or apply one");
    std::string correctionsDb;
    std::int64_t applyCorrection = 0;
    corrections->add_option("--db", correctionsDb, "the SQLite database file or PostgreSQL URI")->envname("EFT_DB")->required();
    corrections->add_option("--apply", applyCorrection, "apply the correction of this id, recording who did")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{9'000'000'000'000'000'000}));
    std::string correctionsFormat = "text";
    corrections->add_option("--format", correctionsFormat, "the list: text, csv or json (a value a field)")
        ->check(outputFormat)
        ->excludes("--apply");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "eft-server: " << parseFault(app, e, argc, argv) << "\n";
        return e.get_exit_code();
    }
    if (*import) return runImport(importDb, importFiles, dryRun, *eft::server::output::formatNamed(importFormat));
    if (*returnsCommand) {
        returnsArgs.by = operatingUser();
        return eft::server::returns::runReturns(returnsArgs, std::cout, std::cerr);
    }
    if (*corrections)
        return eft::server::returns::runCorrections(correctionsDb, applyCorrection, operatingUser(),
                                                    *eft::server::output::formatNamed(correctionsFormat), std::cout,
                                                    std::cerr);
    if (*accounts)
        return eft::server::returns::runAccounts(accountsDb, authorizeCenter, operatingUser(),
                                                 *eft::server::output::formatNamed(accountsFormat), std::cout, std::cerr);
    if (*files) {
        if (!resolvedBy.empty() && deliveredBatch == 0 && redeliverBatch == 0) {
            std::cerr << "eft-server: --by goes with --delivered or --redeliver\n";
            return 2;
        }
        return listFiles(filesDb, deliveredBatch != 0 ? deliveredBatch : redeliverBatch,
                         deliveredBatch != 0 ? eft::server::Resolution::Delivered : eft::server::Resolution::Redeliver,
                         resolvedBy, *eft::server::output::formatNamed(filesFormat));
    }
    if (hashing || app.count("--hash-password") > 0) {
        try {
            return printPasswordHash(hashFor);
        } catch (const std::exception& e) {
            std::cerr << "eft-server: " << e.what() << "\n";
            return 1;
        }
    }
    if (db.empty()) {
        std::cerr << "eft-server: --db is required\n" << app.help();
        return 2;
    }
    options.dbPath = db;
    options.exportDir = exportDir;
    options.credentialsFile = credentials;
    options.tlsCert = tlsCert;
    options.tlsKey = tlsKey;
    options.originatorFile = originator;
    options.holidaysFile = holidays;
    options.logFormat = format;
    options.log = [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    };
    options.deliverTimeout = std::chrono::seconds(deliverTimeout);
    options.deliverRetry = std::chrono::seconds(deliverRetry);
    options.settleEvery = std::chrono::seconds(settleEvery);
    options.sweepCacheBytes = sweepCacheMb << 20;
    // What the program itself says goes in the same log, so a JSON log is JSON throughout.
    eft::server::EventLog log(format, options.log);

    // Every open connection is a descriptor: take all the system grants (the unit's
    // LimitNOFILE), so thousands of idle clients do not run the server out of them.
    rlimit descriptors{};
    if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur < descriptors.rlim_max) {
        descriptors.rlim_cur = descriptors.rlim_max;
        setrlimit(RLIMIT_NOFILE, &descriptors);
    }

    // Blocked before any thread starts, so every thread inherits the mask and the signals
    // wait for sigwait below instead of killing a worker mid-transaction.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        auto server = eft::server::EmbeddedServer::start(options);
        if (options.seedDemo && !server->demoSeeded())
            log.event(eft::server::LogLevel::Warning, "note",
                      {{"text", "the database is not empty; demo data not added"}});
        std::cout << server->baseAddress() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        server->stop();
    } catch (const std::exception& e) {
        log.event(eft::server::LogLevel::Error, "error", {{"text", e.what()}});
        return 1;
    }
    return 0;
}
