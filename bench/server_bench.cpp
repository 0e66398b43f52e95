// The reference server: the sweep document of 100,000 charges, a save of 32,767 records, the
// export of 100,000 saved charges next to a plain write of the same file bytes, a bounded
// concurrent load over loopback, the streamed sweep against a static server of the same bytes,
// and the memory of a 16 MiB body of tiny pairs with and without the pair cap:
//   eftmemb_bench --benchmark_filter=BM_Server
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>

#include "loopback_server.h"
#include "net/pages.h"
#include "server/embedded_server.h"
#include "server/http/router.h"
#include "server/pages/form.h"
#include "server/pages/service.h"
#include "server/pages/save_record.h"
#include "server/store/seed.h"
#include "server/store/store.h"

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

// The streamed sweep's own work: rows read and written as XML pieces that go nowhere.
void BM_ServerSweepPieces100k(benchmark::State& state) {
    server::Service service({seededDb(), scratch().path / "export", {}});
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        service.writeSweep(1, [&bytes](std::string_view piece) {
            bytes += piece.size();
            return true;
        }, 256 * 1024);
    }
    state.counters["xml_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ServerSweepPieces100k)->Unit(benchmark::kMillisecond);

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

// The streamed sweep of 100,000 charges over loopback against its anchor: a static cpp-httplib
// server handing out the same bytes from memory. Both are read by the same client, which only
// counts the bytes, in the same run; ratio = streamed / static.
// CPU seconds the whole process (server threads and client) has used so far.
double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double fetchSeconds(int port, const std::string& target, std::size_t& bytes) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(120);
    bytes = 0;
    const auto t0 = Clock::now();
    const auto res = client.Get(target.c_str(), [&bytes](const char*, std::size_t n) {
        bytes += n;
        return true;
    });
    if (!res || res->status != 200) return -1;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void BM_ServerSweepStreamVsStatic100k(benchmark::State& state) {
    server::EmbeddedOptions options;
    options.dbPath = seededDb();
    options.exportDir = scratch().path / "export";
    auto srv = server::EmbeddedServer::start(options);
    const std::string target = "/eft/" + pages::sweepRowsAddress("", 1);
    LoopbackServer anchor;
    {
        server::Service service({seededDb(), scratch().path / "export", {}});
        anchor.onGet(pages::sweepRowsAddress("", 1), service.sweepXml(1));
    }
    const int anchorPort = std::stoi(anchor.base().substr(anchor.base().rfind(':') + 1));
    double streamed = 0, fixed = 0;
    // On a shared machine the fastest of each is the figure least disturbed by other work.
    double streamedBest = 1e9, fixedBest = 1e9;
    // CPU time spent, which other work on a shared machine disturbs far less than wall time.
    double streamedCpu = 0, fixedCpu = 0;
    std::size_t bytes = 0, anchorBytes = 0;
    for (auto _ : state) {
        const double c0 = processCpuSeconds();
        const double a = fetchSeconds(anchorPort, target, anchorBytes);
        const double c1 = processCpuSeconds();
        const double s = fetchSeconds(srv->port(), target, bytes);
        fixedCpu += c1 - c0;
        streamedCpu += processCpuSeconds() - c1;
        if (a < 0 || s < 0 || bytes != anchorBytes) {
            state.SkipWithError("a sweep failed or the two replies differ in size");
            break;
        }
        fixed += a;
        streamed += s;
        fixedBest = std::min(fixedBest, a);
        streamedBest = std::min(streamedBest, s);
        state.SetIterationTime(s);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["static_ms"] = fixed / n * 1e3;
    state.counters["stream_ms"] = streamed / n * 1e3;
    state.counters["ratio"] = fixed > 0 ? streamed / fixed : 0;
    state.counters["ratio_best"] = streamedBest / fixedBest;
    state.counters["ratio_cpu"] = fixedCpu > 0 ? streamedCpu / fixedCpu : 0;
    state.counters["reply_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ServerSweepStreamVsStatic100k)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

// Heap in use, sampled while a body is decoded.
std::size_t heapInUse() {
    const auto m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// A 16 MiB save body of tiny pairs (SQL1=&SQL2=&..., each a distinct record number, so only
// the cap stops them): decoded with the pair cap, the request ends at the first pair past it;
// the anchor decodes the same body whole, without a cap, as the server once did.
void BM_ServerPairCap16MiB(benchmark::State& state) {
    const bool capped = state.range(0) == 1;
    std::string body;
    body.reserve(16u << 20);
    for (int k = 1; body.size() + 16 < (16u << 20); ++k) body += "SQL" + std::to_string(k) + "=&";
    server::Service service({seededDb(), scratch().path / "export", {}});
    std::size_t peak = 0;
    for (auto _ : state) {
        const std::size_t before = heapInUse();
        peak = 0;
        if (capped) {
            const auto reader = server::postReader(service, {"POST", "/eft/EFTMember.asp", "", {}});
            for (std::size_t at = 0; at < body.size(); at += 64 * 1024) {
                const bool more = reader->feed(std::string_view(body).substr(at, 64 * 1024));
                peak = std::max(peak, heapInUse() - before);
                if (!more) break;
            }
            benchmark::DoNotOptimize(reader->finish());
        } else {
            const auto pairs = server::decodeForm(body);
            peak = heapInUse() - before;
            benchmark::DoNotOptimize(pairs.data());
        }
    }
    state.counters["peak_heap_MB"] = static_cast<double>(peak) / 1e6;
}
BENCHMARK(BM_ServerPairCap16MiB)->Arg(1)->Arg(0)->ArgName("capped")->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace eft::bench
