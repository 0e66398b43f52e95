// The reference server: the sweep document of 100,000 charges, a save of 32,767 records, the
// export of 100,000 saved charges next to a plain write of the same file bytes, and a bounded
// concurrent load over loopback.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/pages.h"
#include "server/embedded_server.h"
#include "server/seed.h"
#include "server/service.h"
#include "server/store.h"

namespace eft::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kCharges = 100'000;

// A scratch folder for the process's databases, removed at exit.
struct ScratchDir {
    fs::path path = fs::temp_directory_path() / ("eftmemb-bench-" + std::to_string(::getpid()));
    ScratchDir() { fs::create_directories(path); }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

// 100,000 United States charges, seeded once; the store is closed so the file stands alone.
const fs::path& seededDb() {
    static const fs::path db = [] {
        fs::path p = scratch().path / "seeded.db";
        server::Store store(p);
        server::seedSynthetic(store, kCharges, 1);
        return p;
    }();
    return db;
}

void removeDb(const fs::path& db) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
}

void BM_ServerSweepXml100k(benchmark::State& state) {
    server::Service service({seededDb(), scratch().path / "export", {}});
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string xml = service.sweepXml(1);
        bytes = xml.size();
        benchmark::DoNotOptimize(xml.data());
    }
    state.counters["charges"] = static_cast<double>(kCharges);
    state.counters["xml_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ServerSweepXml100k)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each save runs against a fresh copy of the seeded database: a saved charge leaves the sweep.
void BM_ServerSave32767(benchmark::State& state) {
    const std::string body = [] {
        server::Store store(seededDb());
        return server::controlSaveBody(store, 1, 32767, 7, 2);
    }();
    const fs::path work = scratch().path / "save.db";
    for (auto _ : state) {
        state.PauseTiming();
        removeDb(work);
        fs::copy_file(seededDb(), work);
        auto service = std::make_unique<server::Service>(server::ServiceOptions{work, scratch().path / "export", {}});
        state.ResumeTiming();
        const std::string reply = service->save(body);
        state.PauseTiming();
        if (!reply.empty()) state.SkipWithError(("the save was refused: " + reply).c_str());
        service.reset();
        state.ResumeTiming();
    }
    removeDb(work);
    state.counters["records"] = 32767;
    state.counters["body_MB"] = static_cast<double>(body.size()) / 1e6;
}
BENCHMARK(BM_ServerSave32767)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100,000 charges saved over 2,000 centers, half of each country, 50 to a center; saved
// through the control's own bodies, once. Every export starts from a copy of this file.
constexpr std::size_t kExportCharges = 100'000;
constexpr std::size_t kChargesPerCenter = 50;

const fs::path& savedDb() {
    static const fs::path db = [] {
        fs::path p = scratch().path / "saved.db";
        {
            server::Store store(p);
            server::seedSynthetic(store, kExportCharges / 2, 1, kChargesPerCenter);
            server::seedSynthetic(store, kExportCharges / 2, 2, kChargesPerCenter);
        }
        server::Service service({p, scratch().path / "unused-export", {}});
        server::Store store(p);
        for (const int country : {1, 2})
            while (store.countSweepRows(country) > 0)
                if (!service.save(server::controlSaveBody(store, country, 32767, 7, 2)).empty()) std::abort();
        return p;
    }();
    return db;
}

// The export: both batches formed, both bank files written, synced, committed and published.
void BM_ServerExport100k(benchmark::State& state) {
    const fs::path work = scratch().path / "export.db";
    const fs::path out = scratch().path / "export-files";
    std::string report;
    for (auto _ : state) {
        state.PauseTiming();
        removeDb(work);
        fs::remove_all(out);
        fs::copy_file(savedDb(), work);
        auto service = std::make_unique<server::Service>(server::ServiceOptions{work, out, {}});
        state.ResumeTiming();
        report = service->exportBatches(7, 2);
        state.PauseTiming();
        if (report.find("EFT_CA_") == std::string::npos || report.find("EFT_US_") == std::string::npos)
            state.SkipWithError(("the export did not write both files: " + report).c_str());
        service.reset();
        state.ResumeTiming();
    }
    std::uintmax_t bytes = 0;
    for (const auto& f : fs::directory_iterator(out)) bytes += f.file_size();
    removeDb(work);
    state.counters["charges"] = static_cast<double>(kExportCharges);
    state.counters["centers"] = static_cast<double>(kExportCharges / kChargesPerCenter);
    state.counters["file_KB"] = static_cast<double>(bytes) / 1e3;
}
BENCHMARK(BM_ServerExport100k)->Unit(benchmark::kMillisecond)->UseRealTime();

// The anchor: the same two files' bytes written plainly (no database, no sync), so the ratio
// shows what the export costs beyond putting its bytes on disk.
void BM_ServerExportPlainWrite(benchmark::State& state) {
    std::vector<std::pair<std::string, std::string>> files;
    {
        const fs::path work = scratch().path / "anchor.db";
        const fs::path out = scratch().path / "anchor-files";
        removeDb(work);
        fs::remove_all(out);
        fs::copy_file(savedDb(), work);
        server::Service({work, out, {}}).exportBatches(7, 2);
        for (const auto& f : fs::directory_iterator(out)) {
            std::ifstream in(f.path(), std::ios::binary);
            files.emplace_back(f.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {}));
        }
        removeDb(work);
    }
    const fs::path plain = scratch().path / "plain";
    fs::create_directories(plain);
    for (auto _ : state) {
        for (const auto& [name, bytes] : files) {
            std::ofstream(plain / name, std::ios::binary | std::ios::trunc) << bytes;
        }
    }
    state.counters["files"] = static_cast<double>(files.size());
}
BENCHMARK(BM_ServerExportPlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// 8 clients, 2,000 requests in all: sweeps of both countries and the batch list.
void BM_ServerConcurrentLoad(benchmark::State& state) {
    constexpr int kClients = 8;
    constexpr int kRequests = 2000;
    const fs::path db = scratch().path / "demo.db";
    removeDb(db);
    server::EmbeddedOptions options;
    options.dbPath = db;
    options.seedDemo = true;
    auto srv = server::EmbeddedServer::start(options);
    const std::string base = srv->baseAddress();
    const std::string origin = "http://127.0.0.1:" + std::to_string(srv->port());
    const std::string paths[] = {pages::sweepRowsAddress(base, 1).substr(origin.size()),
                                 pages::sweepRowsAddress(base, 2).substr(origin.size()),
                                 pages::batchListAddress(base).substr(origin.size())};

    std::atomic<long> errors{0};
    std::atomic<long long> bytes{0};
    for (auto _ : state) {
        errors = 0;
        const auto t0 = Clock::now();
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&, c] {
                httplib::Client client("127.0.0.1", srv->port());
                client.set_connection_timeout(10);
                client.set_read_timeout(30);
                for (int k = c; k < kRequests; k += kClients) {
                    auto res = client.Get(paths[k % 3].c_str());
                    if (!res || res->status != 200 || res->body.empty()) ++errors;
                    else bytes += static_cast<long long>(res->body.size());
                }
            });
        }
        for (auto& t : clients) t.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    srv->stop();
    state.counters["requests"] = kRequests;
    state.counters["errors"] = static_cast<double>(errors.load());
    state.counters["req_per_s"] =
        benchmark::Counter(static_cast<double>(kRequests) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["reply_KB_avg"] = static_cast<double>(bytes.load()) / kRequests / 1e3 /
                                     static_cast<double>(state.iterations());
}
BENCHMARK(BM_ServerConcurrentLoad)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

}  // namespace
}  // namespace eft::bench
