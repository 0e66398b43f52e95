// The two posts that carry a whole sweep, against the real eft-server over HTTP, on SQLite and
// on PostgreSQL: the save of 28,000 rows and the status commit of a batch of 55,000 items, each
// beside an anchor measured in the same round on the same database, a plain read of as many
// rows: the rows the save changes, and the batch's items with their charges.
//
//   server_bulk [--runs K] [--items N] [--save-rows N] [--only sqlite|postgresql] [--timeout S]
//
// Each round and engine: a fresh copy of a database seeded once with N United States charges
// (seedSynthetic, 1,000 to a center), a fresh eft-server on it, the operator's sweep load
// (its stamp goes back with the saves, as the control sends it), the save of the first rows
// (timed), the save of the rest, the export (one batch of N items), then the status commit of
// the whole batch with one pair per item, as the control posts it, every tenth center failed
// (timed). Every reply is checked, and so is the batch afterwards.
//
// Wall time is the client's, from the request's first byte to the reply's last. CPU is the
// server process's and, on PostgreSQL, the cluster's; an anchor's is this process's and the
// cluster's. The cluster is a throwaway one (the tests' helper) on a Unix socket, with fsync
// off and PostgreSQL's default shared_buffers; SQLite keeps synchronous=FULL. The anchors read through the store's own database layer, three times, and the
// median counts. Ratios are taken within a round; medians of the rounds close the table. The
// target: each post in at most 2 s of wall time.
#include <httplib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/pages.h"
#include "process_cpu.h"
#include "server/pages/save_record.h"
#include "server/store/seed.h"
#include "server/store/store.h"
#include "server_process.h"
#include "support/pg_cluster.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using eft::server::testing::ServerProcess;

// Ctrl-C ends the run between steps, so the server, the cluster and the scratch folder go the
// way they came.
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onSignal(int) { g_interrupted = 1; }

constexpr std::int32_t kPerson = 7;
constexpr std::int16_t kPersonType = 2;
constexpr double kTargetSeconds = 2.0;
// What the anchors read goes here, so that no value read is left unused.
volatile double g_sink = 0;

double ownCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Cost {
    double wall = 0;
    double cpu = 0;
};

struct Round {
    Cost save, saveAnchor, exportRun, commit, commitAnchor;
};

// What a round measured with, by engine; the cluster is null for SQLite.
struct Measure {
    pid_t server = -1;
    const eft::test::PgCluster* cluster = nullptr;

    // The post's cost: the server's CPU and the cluster's, over the client's wall time.
    template <typename Request>
    Cost post(Request&& request) const {
        const double serverBefore = eft::bench::processCpu(server);
        const auto dbBefore = cluster ? eft::bench::clusterCpu(*cluster) : std::map<pid_t, double>{};
        const auto t0 = Clock::now();
        request();
        Cost c;
        c.wall = std::chrono::duration<double>(Clock::now() - t0).count();
        c.cpu = eft::bench::processCpu(server) - serverBefore;
        if (cluster) c.cpu += eft::bench::cpuSince(dbBefore, eft::bench::clusterCpu(*cluster));
        return c;
    }

    // An anchor's cost: this process's CPU and the cluster's; the median of three reads after
    // one that warms the caches.
    template <typename Read>
    Cost read(Read&& reading) const {
        reading();
        std::vector<double> walls, cpus;
        for (int k = 0; k < 3; ++k) {
            const double ownBefore = ownCpu();
            const auto dbBefore = cluster ? eft::bench::clusterCpu(*cluster) : std::map<pid_t, double>{};
            const auto t0 = Clock::now();
            reading();
            walls.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
            double cpu = ownCpu() - ownBefore;
            if (cluster) cpu += eft::bench::cpuSince(dbBefore, eft::bench::clusterCpu(*cluster));
            cpus.push_back(cpu);
        }
        return {median(walls), median(cpus)};
    }
};

// Every column of the rows the save changes, read as a client of the database reads them.
std::size_t readSavedRows(eft::server::Database& db, std::size_t rows) {
    eft::server::Statement s = db.prepare(
        "SELECT id, member_id, center_id, source, sweep_sequence, source_description, sweep_date, type, "
        "conversion_rate, royalty, nac, royalty_reserve, franchise_fee, franchise_fee_reserve, gst, pst, nmc_payment, "
        "trust_id FROM charges WHERE state = 0 ORDER BY id LIMIT ?1");
    s.bind(1, static_cast<std::int64_t>(rows));
    std::size_t n = 0;
    double sum = 0;
    while (s.step()) {
        for (const int c : {0, 1, 2, 3, 4, 7, 17}) sum += static_cast<double>(s.integer(c));
        for (const int c : {5, 6}) sum += static_cast<double>(s.text(c).size());
        for (int c = 8; c <= 16; ++c) sum += s.real(c);
        ++n;
    }
    g_sink = sum;
    return n;
}

// One waiting item of the batch, as the batch list gives it to the control.
struct Item {
    std::int32_t center = 0;
    std::int32_t member = 0;
    bool sourceTwo = false;
};

std::vector<Item> readBatch(eft::server::Database& db, std::int32_t batchNo) {
    eft::server::Statement s = db.prepare(
        "SELECT ch.center_id, ch.member_id, ch.source, bi.amount, bi.charge_id FROM batch_items bi "
        "JOIN charges ch ON ch.id = bi.charge_id WHERE bi.batch_no = ?1 "
        "ORDER BY ch.center_id, ch.member_id, ch.source, ch.sweep_sequence");
    s.bind(1, batchNo);
    std::vector<Item> items;
    double sum = 0;
    while (s.step()) {
        items.push_back({static_cast<std::int32_t>(s.integer(0)), static_cast<std::int32_t>(s.integer(1)),
                         s.integer(2) == 2});
        sum += s.real(3) + static_cast<double>(s.integer(4));
    }
    g_sink = sum;
    return items;
}

std::int64_t scalar(eft::server::Database& db, const char* sql, std::optional<std::int64_t> parameter = {}) {
    eft::server::Statement s = db.prepare(sql);
    if (parameter) s.bind(1, *parameter);
    s.step();
    return s.integer(0);
}

// The status body the control posts for the batch: one pair per item, center by center, the
// ids of a center's items cleared or failed together; every tenth center failed. The number of
// items failed comes back in `failed`.
std::string statusBodyOf(const std::vector<Item>& items, std::int32_t batchNo, std::int64_t& failed) {
    std::vector<std::string> cleared, bad;
    std::int32_t center = 0;
    int centers = 0;
    failed = 0;
    for (const Item& item : items) {
        if (item.center != center) {
            center = item.center;
            ++centers;
        }
        const bool fails = centers % 10 == 0;
        (fails ? bad : cleared).push_back((item.sourceTwo ? "-" : "") + std::to_string(item.member));
        failed += fails ? 1 : 0;
    }
    return eft::pages::statusBody(cleared, bad, kPerson, kPersonType, batchNo);
}

struct Setup {
    const char* name;
    bool postgres;
};

class Bench {
public:
    Bench(std::size_t items, std::size_t saveRows, int timeout, bool postgres)
        : items_(items), saveRows_(std::min(saveRows, items)), timeout_(timeout) {
        fs::create_directories(dir_);
        const fs::path seed = dir_ / "seed.sqlite";
        {
            eft::server::Store store(seed);
            eft::server::seedSynthetic(store, items_, 1);
            // The control's records of every row, in the order the sweep sends them.
            std::vector<std::string> first, rest;
            store.forEachSweepRow(1, [&](const eft::server::SweepRowView& r) {
                (first.size() < saveRows_ ? first : rest)
                    .push_back(eft::server::controlRecordText(r.key, r.type, r.amounts, r.salesTaxExempt, r.subscription,
                                                              r.trustId, kPerson, kPersonType));
            });
            if (first.size() + rest.size() != items_) throw std::runtime_error("the seeded sweep is not whole");
            firstSave_ = eft::pages::saveBody(first);
            restSave_ = eft::pages::saveBody(rest);
        }
        if (!postgres) return;
        // PostgreSQL's own default for shared_buffers rather than the tests' 16 MB: with 16 MB
        // the backend writes out pages of a batch it is still changing, which no installed
        // server does.
        cluster_ = std::make_unique<eft::test::PgCluster>("seed", "-c shared_buffers=128MB");
        if (!cluster_->ready()) {
            postgresMissing_ = cluster_->why();
            cluster_.reset();
            return;
        }
        postgresMissing_.clear();
        eft::server::Store store(cluster_->uri());
        eft::server::seedSynthetic(store, items_, 1);
    }
    ~Bench() {
        cluster_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    const std::string& postgresMissing() const { return postgresMissing_; }
    std::size_t saveRows() const { return saveRows_; }

    Round run(const Setup& setup, int round) {
        std::string db;
        if (setup.postgres) {
            const std::string name = "r" + std::to_string(round);
            eft::server::Database admin(cluster_->uriOf("postgres"));
            admin.exec(("CREATE DATABASE " + name + " TEMPLATE seed").c_str());
            db = cluster_->uriOf(name);
        } else {
            db = (dir_ / ("round" + std::to_string(round) + ".sqlite")).string();
            fs::copy_file(dir_ / "seed.sqlite", db, fs::copy_options::overwrite_existing);
        }
        Round r;
        {
            const fs::path exportDir = dir_ / ("export-" + std::string(setup.name) + "-" + std::to_string(round));
            ServerProcess server({"--db=" + db, "--port=0", "--export-dir=" + exportDir.string()}, {}, dir_);
            if (!server.started()) throw std::runtime_error("eft-server did not start: " + server.log());
            const Measure measure{server.pid(), setup.postgres ? cluster_.get() : nullptr};
            httplib::Client client("127.0.0.1", server.port());
            client.set_connection_timeout(10);
            client.set_read_timeout(timeout_);
            client.set_write_timeout(timeout_);
            client.set_default_headers(
                {{std::string(eft::pages::kRequestHeaderName), std::string(eft::pages::kRequestHeaderValue)}});
            const std::string origin = server.origin();
            const auto path = [&origin](const std::string& address) { return address.substr(origin.size()); };

            // The operator's load, whose stamp the control sends back with its saves.
            const auto sweep = client.Get(path(eft::pages::sweepRowsAddress(server.base(), 1)));
            if (!sweep || sweep->status != 200) throw std::runtime_error("the sweep was not sent");
            const httplib::Headers stamp{{std::string(eft::pages::kSweepStampHeader),
                                          sweep->get_header_value(std::string(eft::pages::kSweepStampHeader))}};
            const auto save = [&](const std::string& body) {
                const auto res = client.Post(path(eft::pages::saveAddress(server.base())), stamp, body,
                                             "application/x-www-form-urlencoded");
                if (!res || res->status != 200 || !res->body.empty())
                    throw std::runtime_error("a save was refused: " +
                                             (res ? std::to_string(res->status) + " " + res->body.substr(0, 300)
                                                  : httplib::to_string(res.error())));
            };

            eft::server::Database reader(db);
            r.saveAnchor = measure.read([&] {
                if (readSavedRows(reader, saveRows_) != saveRows_) throw std::runtime_error("the save's rows are not there");
            });
            r.save = measure.post([&] { save(firstSave_); });
            if (items_ > saveRows_) save(restSave_);
            r.exportRun = measure.post([&] {
                const auto res = client.Get(path(eft::pages::exportAddress(server.base(), kPerson, kPersonType)));
                if (!res || res->status != 200 || res->body.find("EFT_US_") == std::string::npos)
                    throw std::runtime_error("the export made no file: " + (res ? res->body.substr(0, 300) : std::string()));
            });
            const auto batchNo = static_cast<std::int32_t>(scalar(reader, "SELECT MAX(batch_no) FROM batches"));
            std::vector<Item> items;
            r.commitAnchor = measure.read([&] { items = readBatch(reader, batchNo); });
            if (items.size() != items_) throw std::runtime_error("the batch holds " + std::to_string(items.size()) + " items");
            std::int64_t failed = 0;
            const std::string body = statusBodyOf(items, batchNo, failed);
            r.commit = measure.post([&] {
                const auto res = client.Post(path(eft::pages::statusAddress(server.base())), body,
                                             "application/x-www-form-urlencoded");
                if (!res || res->status != 200 || !res->body.empty())
                    throw std::runtime_error("the status commit was refused: " +
                                             (res ? std::to_string(res->status) + " " + res->body.substr(0, 300)
                                                  : httplib::to_string(res.error())));
            });
            if (scalar(reader, "SELECT COUNT(*) FROM batch_items WHERE batch_no = ?1 AND outcome IS NULL", batchNo) != 0 ||
                scalar(reader, "SELECT COUNT(*) FROM batch_items WHERE batch_no = ?1 AND outcome = 2", batchNo) != failed ||
                scalar(reader, "SELECT COUNT(*) FROM charges WHERE state = 30") != static_cast<std::int64_t>(items_) - failed)
                throw std::runtime_error("the batch is not recorded as posted");
            server.terminate(std::chrono::seconds(20));
        }
        if (!setup.postgres) {
            for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db + suffix);
        }
        return r;
    }

private:
    std::size_t items_, saveRows_;
    int timeout_;
    fs::path dir_ = fs::temp_directory_path() / ("eft-bulk-bench-" + std::to_string(::getpid()));
    std::string firstSave_, restSave_;
    std::unique_ptr<eft::test::PgCluster> cluster_;
    std::string postgresMissing_ = "not asked for";
};

std::string met(const std::vector<double>& walls) {
    const auto within = std::count_if(walls.begin(), walls.end(), [](double w) { return w <= kTargetSeconds; });
    return (within == static_cast<long>(walls.size()) ? "met" : "NOT met") + std::string(" (") +
           std::to_string(within) + " of " + std::to_string(walls.size()) + " rounds within 2 s)";
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3, timeout = 900;
    std::size_t items = 55000, saveRows = 28000;
    std::optional<std::string> only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--runs") runs = std::atoi(argv[i + 1]);
        else if (a == "--items") items = static_cast<std::size_t>(std::atol(argv[i + 1]));
        else if (a == "--save-rows") saveRows = static_cast<std::size_t>(std::atol(argv[i + 1]));
        else if (a == "--timeout") timeout = std::atoi(argv[i + 1]);
        else if (a == "--only") only = argv[i + 1];
        else {
            std::fprintf(stderr, "server_bulk: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (only && *only != "sqlite" && *only != "postgresql") {
        std::fprintf(stderr, "server_bulk: --only takes sqlite or postgresql\n");
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    try {
        std::vector<Setup> setups;
        if (!only || *only == "sqlite") setups.push_back({"sqlite", false});
        const bool postgres = !only || *only == "postgresql";
        Bench bench(items, saveRows, timeout, postgres);
        if (postgres) {
            if (bench.postgresMissing().empty()) setups.push_back({"postgres", true});
            else std::printf("PostgreSQL skipped: %s\n", bench.postgresMissing().c_str());
        }
        std::printf("a save of %zu rows and the status commit of a batch of %zu items; wall s, CPU s, ratios to the "
                    "plain read of as many rows\n",
                    bench.saveRows(), items);
        std::printf("round  engine    save_s  save_cpu  read_s  read_cpu  save/read  cpu/read  export_s  commit_s  "
                    "commit_cpu  read_s  read_cpu  commit/read  cpu/read\n");
        std::fflush(stdout);
        std::map<std::string, std::vector<double>> saveWall, saveCpu, saveRatio, saveCpuRatio, commitWall, commitCpu,
            commitRatio, commitCpuRatio;
        for (int round = 1; round <= runs && !g_interrupted; ++round) {
            for (const Setup& s : setups) {
                if (g_interrupted) break;
                const Round r = bench.run(s, round);
                saveWall[s.name].push_back(r.save.wall);
                saveCpu[s.name].push_back(r.save.cpu);
                saveRatio[s.name].push_back(r.save.wall / r.saveAnchor.wall);
                saveCpuRatio[s.name].push_back(r.save.cpu / std::max(r.saveAnchor.cpu, 0.001));
                commitWall[s.name].push_back(r.commit.wall);
                commitCpu[s.name].push_back(r.commit.cpu);
                commitRatio[s.name].push_back(r.commit.wall / r.commitAnchor.wall);
                commitCpuRatio[s.name].push_back(r.commit.cpu / std::max(r.commitAnchor.cpu, 0.001));
                std::printf("%5d  %-8s  %6.3f  %8.2f  %6.3f  %8.2f  %9.1f  %8.1f  %8.3f  %8.3f  %10.2f  %6.3f  %8.2f  %11.1f  "
                            "%8.1f\n",
                            round, s.name, r.save.wall, r.save.cpu, r.saveAnchor.wall, r.saveAnchor.cpu,
                            saveRatio[s.name].back(), saveCpuRatio[s.name].back(), r.exportRun.wall, r.commit.wall,
                            r.commit.cpu, r.commitAnchor.wall, r.commitAnchor.cpu, commitRatio[s.name].back(),
                            commitCpuRatio[s.name].back());
                std::fflush(stdout);
            }
        }
        if (g_interrupted) throw std::runtime_error("interrupted");
        for (const Setup& s : setups) {
            std::printf("median %-8s  save %.3f s (CPU %.2f s), %.1fx the read, CPU %.1fx; commit %.3f s (CPU %.2f s), "
                        "%.1fx the read, CPU %.1fx\n",
                        s.name, median(saveWall[s.name]), median(saveCpu[s.name]), median(saveRatio[s.name]),
                        median(saveCpuRatio[s.name]), median(commitWall[s.name]), median(commitCpu[s.name]),
                        median(commitRatio[s.name]), median(commitCpuRatio[s.name]));
            std::printf("target %-8s  save in at most 2 s: %s; commit in at most 2 s: %s\n", s.name,
                        met(saveWall[s.name]).c_str(), met(commitWall[s.name]).c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "server_bulk: %s\n", e.what());
        return 1;
    }
    return 0;
}
