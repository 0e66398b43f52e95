// The reference server under 8 clients of 2,000 requests each, in three set-ups measured in the
// same run: one instance on SQLite (the anchor: the embedded default), one instance on
// PostgreSQL, and two instances on one PostgreSQL with the clients split between them, as
// behind a reverse proxy. Each set-up gets a fresh database imported from the same CSV files
// and fresh eft-server processes.
//
//   server_instances [--runs K] [--clients N] [--requests N] [--only save|list|sweep]
//
// The request mix is a back office's busy hour, each client an operator on its own members:
// of every 10 requests, 6 saves of one member's two charges (a write transaction each), 3
// batch lists (the status tab, over 1,000 exported items waiting) and 1 sweep of the small
// country (1,000 charges; "&Load Data"). Every reply is checked: a save must be accepted.
// --only runs every request of one kind, to see what each kind costs.
//
// Printed per set-up: requests per second, the median and 99th percentile latency, the CPU
// (user + system) of the eft-server processes and of the PostgreSQL processes during the
// clients' run, CPU per 1,000 requests, and the ratios to the SQLite anchor of the same round.
// With --only list, each PostgreSQL set-up's list is judged against its target (at most 1.5
// times SQLite's CPU in every round), met or NOT met, with the wall ratio beside.
// The PostgreSQL set-ups need the server programs (scripts/install-deps.sh) and are skipped,
// saying why, without them.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "import_files.h"
#include "process_cpu.h"
#include "net/pages.h"
#include "demo_originator.h"
#include "server/pages/save_record.h"
#include "server_process.h"
#include "support/pg_cluster.h"

namespace {

namespace fs = std::filesystem;

// Ctrl-C ends the run between requests, so the servers, the cluster and the scratch folder go
// the way they came: the cluster runs in a session of its own and would outlive the program.
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onSignal(int) { g_interrupted = 1; }
using Clock = std::chrono::steady_clock;
using eft::bench::ChargeBlock;
using eft::bench::clusterCpu;
using eft::bench::cpuSince;
using eft::bench::processCpu;
using eft::server::testing::ServerProcess;

// Saves come from the first block (each client its own members), the sweep read is the second
// block's country, and the third is saved and exported before the clients start, so the batch
// list has items to show.
const ChargeBlock kSaved{20000, 1, 1, 100000};
const ChargeBlock kSwept{1000, 2, 500, 200000};
const ChargeBlock kPending{1000, 1, 900, 300000};
constexpr std::int32_t kPerson = 7;
constexpr std::int16_t kPersonType = 2;
// The batch list on PostgreSQL against the same on SQLite, in CPU of the servers and the database.
constexpr double kListTarget = 1.5;

// A member's charges as the control posts them when the operator saves that member.
std::string saveBodyOfMember(const ChargeBlock& block, long firstCharge, long count) {
    std::vector<std::string> records;
    for (long n = firstCharge; n < firstCharge + count && n < block.charges; ++n) {
        const auto c = eft::bench::importCharge(block, n);
        eft::server::Amounts a;
        a.royalty = static_cast<float>(c.royaltyCents) / 100;
        a.royaltyReserve = 0.95f;
        a.nmcPayment = static_cast<float>(c.nmcPaymentCents) / 100;
        records.push_back(eft::server::controlRecordText(
            {static_cast<std::int32_t>(c.member), static_cast<std::int32_t>(c.center),
             static_cast<std::int16_t>(c.source), static_cast<std::int16_t>(c.sequence)},
            static_cast<std::int16_t>(c.type), a, false, false, c.trust, kPerson, kPersonType));
    }
    return eft::pages::saveBody(records);
}

struct Figures {
    double perSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double serverCpu = 0;
    double dbCpu = 0;
    long errors = 0;
    std::string firstError;
};

double percentile(std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void runQuietly(const std::vector<std::string>& args) {
    std::string command;
    for (const std::string& a : args) command += "'" + a + "' ";
    if (std::system((command + ">/dev/null").c_str()) != 0) throw std::runtime_error("failed: " + command);
}

enum class Kind { Sweep, List, Save };

// The k-th request of the mix: of every 10, 1 sweep, 3 batch lists, 6 saves.
Kind kindOf(int k) {
    const int slot = k % 10;
    return slot == 0 ? Kind::Sweep : slot <= 3 ? Kind::List : Kind::Save;
}

struct Setup {
    const char* name;
    bool postgres;
    int instances;
};

class Bench {
public:
    Bench(int clients, int requests, std::optional<Kind> only) : clients_(clients), requests_(requests), only_(only) {
        fs::create_directories(dir_);
        eft::bench::writeImportCsv(dir_, {kSaved, kSwept, kPending});
        for (int c = 0; c < clients_; ++c) {
            std::vector<std::string> bodies;
            // Client c saves members c, c + clients, ...: two charges to a member.
            for (long m = c; 2 * m < kSaved.charges && static_cast<int>(bodies.size()) < requests_; m += clients_)
                bodies.push_back(saveBodyOfMember(kSaved, 2 * m, 2));
            saves_.push_back(std::move(bodies));
        }
        pendingSave_ = saveBodyOfMember(kPending, 0, kPending.charges);
        eft::bench::writeDemoOriginator(dir_ / "originator.json");
    }
    ~Bench() {
        cluster_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Why the PostgreSQL set-ups cannot run here; empty when they can.
    std::string postgresMissing() {
        if (!cluster_) cluster_ = std::make_unique<eft::test::PgCluster>("probe");
        if (!cluster_->ready()) return cluster_->why();
        return {};
    }

    Figures run(const Setup& setup, int round) {
        std::string db;
        if (setup.postgres) {
            const std::string name = "r" + std::to_string(round) + "_" + std::to_string(setup.instances);
            if (!cluster_->createDatabase(name)) throw std::runtime_error(cluster_->why());
            db = cluster_->uriOf(name);
        } else {
            db = (dir_ / ("round" + std::to_string(round) + ".sqlite")).string();
        }
        runQuietly({EFT_SERVER_PATH, "import", "--db", db, (dir_ / "centers.csv").string(), (dir_ / "members.csv").string(),
                    (dir_ / "charges.csv").string()});
        std::vector<std::unique_ptr<ServerProcess>> servers;
        for (int i = 0; i < setup.instances; ++i) {
            const fs::path exportDir = dir_ / ("export-" + std::to_string(round) + "-" + setup.name + "-" + std::to_string(i));
            servers.push_back(std::make_unique<ServerProcess>(
                std::vector<std::string>{"--db=" + db, "--port=0", "--export-dir=" + exportDir.string(),
                                         "--originator=" + (dir_ / "originator.json").string()},
                std::vector<std::string>{}, dir_));
            if (!servers.back()->started()) throw std::runtime_error("eft-server did not start: " + servers.back()->log());
        }
        prepare(*servers.front());

        std::vector<double> before;
        for (const auto& s : servers) before.push_back(processCpu(s->pid()));
        const auto dbBefore = setup.postgres ? clusterCpu(*cluster_) : std::map<pid_t, double>{};
        std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients_));
        std::atomic<long> errors{0};
        std::string firstError;
        std::mutex firstErrorMutex;
        const auto t0 = Clock::now();
        {
            std::vector<std::jthread> threads;
            for (int c = 0; c < clients_; ++c) {
                threads.emplace_back([&, c] {
                    const ServerProcess& server = *servers[static_cast<std::size_t>(c) % servers.size()];
                    const auto& saves = saves_[static_cast<std::size_t>(c)];
                    const std::string origin = server.origin();
                    const std::string sweep = eft::pages::sweepRowsAddress(server.base(), 2).substr(origin.size());
                    const std::string list = eft::pages::batchListAddress(server.base()).substr(origin.size());
                    const std::string save = eft::pages::saveAddress(server.base()).substr(origin.size());
                    httplib::Client client("127.0.0.1", server.port());
                    client.set_connection_timeout(10);
                    client.set_read_timeout(60);
                    client.set_default_headers({{std::string(eft::pages::kRequestHeaderName),
                                                 std::string(eft::pages::kRequestHeaderValue)}});
                    auto& mine = latencies[static_cast<std::size_t>(c)];
                    std::size_t saved = 0;
                    for (int k = 0; k < requests_ && !g_interrupted; ++k) {
                        const Kind kind = only_ ? *only_ : kindOf(k);
                        const bool isSave = kind == Kind::Save;
                        const auto start = Clock::now();
                        const httplib::Result res =
                            kind == Kind::Sweep ? client.Get(sweep.c_str())
                            : !isSave           ? client.Get(list.c_str())
                                                : client.Post(save.c_str(), saves[saved++ % saves.size()],
                                                              "application/x-www-form-urlencoded");
                        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                        const bool good = res && res->status == 200 && (isSave ? res->body.empty() : !res->body.empty());
                        if (!good) {
                            if (errors++ == 0) {
                                std::lock_guard lock(firstErrorMutex);
                                firstError = res ? std::to_string(res->status) + " " + res->body.substr(0, 200)
                                                 : httplib::to_string(res.error());
                            }
                        }
                    }
                });
            }
        }
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        if (g_interrupted) throw std::runtime_error("interrupted");
        Figures f;
        for (std::size_t i = 0; i < servers.size(); ++i) f.serverCpu += processCpu(servers[i]->pid()) - before[i];
        if (setup.postgres) f.dbCpu = cpuSince(dbBefore, clusterCpu(*cluster_));
        for (auto& s : servers) s->terminate(std::chrono::seconds(20));
        std::vector<double> all;
        for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
        std::sort(all.begin(), all.end());
        f.perSecond = static_cast<double>(all.size()) / wall;
        f.p50Ms = percentile(all, 0.50);
        f.p99Ms = percentile(all, 0.99);
        f.errors = errors;
        f.firstError = firstError;
        return f;
    }

    int clients() const { return clients_; }
    int requests() const { return requests_; }

private:
    // The batch list's items: one save of the pending block and an export, as an operator would.
    void prepare(const ServerProcess& server) {
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(120);
        client.set_default_headers(
            {{std::string(eft::pages::kRequestHeaderName), std::string(eft::pages::kRequestHeaderValue)}});
        const std::string origin = server.origin();
        auto saved = client.Post(eft::pages::saveAddress(server.base()).substr(origin.size()).c_str(), pendingSave_,
                                 "application/x-www-form-urlencoded");
        if (!saved || saved->status != 200 || !saved->body.empty())
            throw std::runtime_error("the pending block was not saved: " + (saved ? saved->body : std::string("no reply")));
        auto exported =
            client.Get(eft::pages::exportAddress(server.base(), kPerson, kPersonType).substr(origin.size()).c_str());
        if (!exported || exported->status != 200 || exported->body.find("EFT_US_") == std::string::npos)
            throw std::runtime_error("the pending block was not exported: " +
                                     (exported ? exported->body : std::string("no reply")));
    }

    int clients_, requests_;
    std::optional<Kind> only_;
    fs::path dir_ = fs::temp_directory_path() / ("eft-instances-bench-" + std::to_string(::getpid()));
    std::vector<std::vector<std::string>> saves_;
    std::string pendingSave_;
    std::unique_ptr<eft::test::PgCluster> cluster_;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 1, clients = 8, requests = 2000;
    std::optional<Kind> only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--runs") runs = std::atoi(argv[i + 1]);
        else if (a == "--clients") clients = std::atoi(argv[i + 1]);
        else if (a == "--requests") requests = std::atoi(argv[i + 1]);
        else if (a == "--only") {
            const std::string kind = argv[i + 1];
            if (kind == "save") only = Kind::Save;
            else if (kind == "list") only = Kind::List;
            else if (kind == "sweep") only = Kind::Sweep;
            else {
                std::fprintf(stderr, "server_instances: --only takes save, list or sweep\n");
                return 2;
            }
        }
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    try {
        Bench bench(clients, requests, only);
        const std::vector<Setup> all{{"sqlite-1", false, 1}, {"pg-1", true, 1}, {"pg-2", true, 2}};
        std::vector<Setup> setups{all.front()};
        if (const std::string missing = bench.postgresMissing(); !missing.empty())
            std::printf("PostgreSQL set-ups skipped: %s\n", missing.c_str());
        else
            setups.insert(setups.end(), all.begin() + 1, all.end());
        const char* mix = !only                ? "mix of 10: 6 saves of a member, 3 batch lists, 1 sweep of 1,000 charges"
                          : *only == Kind::Save  ? "saves of a member only"
                          : *only == Kind::List  ? "batch lists only"
                                                 : "sweeps of 1,000 charges only";
        std::printf("%d clients x %d requests; %s\n", clients, requests, mix);
        std::printf("round  setup     req_per_s  p50_ms  p99_ms  server_cpu  db_cpu  cpu_per_1k  rate/sqlite  "
                    "p99/sqlite  cpu/sqlite  errors\n");
        // Flushed before any child is started: a forked child would print what is buffered again.
        std::fflush(stdout);
        std::map<std::string, std::vector<double>> rate, p50, p99, cpu, rateRatio, p99Ratio, cpuRatio;
        for (int r = 1; r <= runs; ++r) {
            Figures anchor;
            for (const Setup& s : setups) {
                Figures f;
                try {
                    f = bench.run(s, r);
                } catch (const std::exception& e) {
                    // The anchor's failure ends the run; a PostgreSQL set-up's is reported.
                    if (!s.postgres || g_interrupted) throw;
                    std::printf("%5d  %-8s  failed: %s\n", r, s.name, e.what());
                    continue;
                }
                if (!s.postgres) anchor = f;
                const double total = static_cast<double>(clients) * requests;
                const double cpuPer1k = (f.serverCpu + f.dbCpu) / total * 1000;
                const double anchorCpuPer1k = (anchor.serverCpu + anchor.dbCpu) / total * 1000;
                rate[s.name].push_back(f.perSecond);
                p50[s.name].push_back(f.p50Ms);
                p99[s.name].push_back(f.p99Ms);
                cpu[s.name].push_back(cpuPer1k);
                rateRatio[s.name].push_back(f.perSecond / anchor.perSecond);
                p99Ratio[s.name].push_back(f.p99Ms / anchor.p99Ms);
                cpuRatio[s.name].push_back(cpuPer1k / anchorCpuPer1k);
                std::printf("%5d  %-8s  %9.0f  %6.2f  %6.2f  %10.2f  %6.2f  %10.3f  %11.2f  %10.2f  %10.2f  %6ld%s%s\n", r,
                            s.name, f.perSecond, f.p50Ms, f.p99Ms, f.serverCpu, f.dbCpu, cpuPer1k, rateRatio[s.name].back(),
                            p99Ratio[s.name].back(), cpuRatio[s.name].back(), f.errors, f.errors ? "  first: " : "",
                            f.firstError.c_str());
                std::fflush(stdout);
            }
        }
        for (const Setup& s : setups)
            if (!rate[s.name].empty())
                std::printf("median %-8s  %9.0f  %6.2f  %6.2f  %10s  %6s  %10.3f  %11.2f  %10.2f  %10.2f\n", s.name,
                        median(rate[s.name]), median(p50[s.name]), median(p99[s.name]), "", "", median(cpu[s.name]),
                        median(rateRatio[s.name]), median(p99Ratio[s.name]), median(cpuRatio[s.name]));
        // The batch list's target holds only if every round holds it: one good round of three
        // is the machine's noise, not the server.
        if (only == Kind::List)
            for (const Setup& s : setups) {
                if (!s.postgres || cpuRatio[s.name].empty()) continue;
                const auto& ratios = cpuRatio[s.name];
                const double worst = *std::max_element(ratios.begin(), ratios.end());
                std::printf("target %-8s  batch list CPU <= %.1fx SQLite's: %s (CPU %.2fx median, %.2fx worst of %zu; "
                            "wall %.2fx median)\n",
                            s.name, kListTarget, worst <= kListTarget ? "met" : "NOT met", median(ratios), worst,
                            ratios.size(), 1 / median(rateRatio[s.name]));
            }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "server_instances: %s\n", e.what());
        return 1;
    }
    return 0;
}
