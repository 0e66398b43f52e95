// The control driven as an operator drives it, against an in-process HTTP server on loopback.
// Load figures include the loopback transfer of the reply; BM_LoopbackGet100k shows that
// transfer alone so it can be taken off.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>

#include "bench_data.h"
#include "control/context.h"
#include "control/eftmemb.h"
#include "driver/scripted_host.h"
#include "loopback_server.h"
#include "members/member_save.h"
#include "net/http.h"
#include "net/pages.h"
#include "sweep_generator.h"

namespace eft::bench {
namespace {

constexpr std::size_t kRows = 100'000;
constexpr Date kToday{2026, 12, 6};

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the calling thread only: the in-process server's threads are not the control's.
double threadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double processCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

LoopbackServer& sweepServer() {
    static LoopbackServer server;
    static const bool ready = [] {
        server.onGet(pages::sweepRowsAddress("", 1), sweepReply(kRows));
        return true;
    }();
    (void)ready;
    return server;
}

// A control with the 100,000-row United States sweep loaded.
struct LoadedControl {
    driver::ScriptedHost host{kToday};
    EFTMemb control{host};

    LoadedControl() {
        control.SetVariables(sweepServer().base(), 7, 2);
        load();
    }
    ui::Screen& screen() { return control.screen(); }
    // "&Load Data" the first time; it disables itself, so later loads go through the option.
    void load() {
        if (!screen().cmdLoadData.operatorClick()) screen().optCountry.operatorChoose(1);
    }
    // Anything the operator was shown is a failure of the load or a handler.
    bool failed(benchmark::State& state) {
        if (host.shown().empty()) return false;
        state.SkipWithError(("the control showed: " + host.shown().back().request.text).c_str());
        return true;
    }
    void detailsOfAll() {
        screen().cmdSelectAllCenters.operatorClick();
        screen().cmdViewCenterDetails.operatorClick();
    }
};

void BM_LoopbackGet100k(benchmark::State& state) {
    const std::string address = pages::sweepRowsAddress(sweepServer().base(), 1);
    std::size_t bytes = 0;
    for (auto _ : state) {
        HttpReply r = httpGet(address, HttpLimits{});
        bytes = r.body.size();
        benchmark::DoNotOptimize(r.body.data());
        if (!r.ok) state.SkipWithError(r.error.c_str());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_LoopbackGet100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Fetch, read, derive every row's amounts and FillCenterList.
void BM_ControlLoad100k(benchmark::State& state) {
    LoadedControl c;  // the first load warms the server and the connection path
    for (auto _ : state) c.load();
    if (c.failed(state)) return;
    state.counters["rows"] = static_cast<double>(c.control.sweepTable()->rowCount());
    state.counters["centers"] = c.screen().lstEFTCenter.lineCount();
}
BENCHMARK(BM_ControlLoad100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Select All centers, "&Details" of all 100,000 rows, "&Cancel" back.
void BM_ControlDetailsAll100k(benchmark::State& state) {
    LoadedControl c;
    int lines = 0;
    for (auto _ : state) {
        c.detailsOfAll();
        lines = c.screen().lstEFTMember.lineCount();
        c.screen().cmdCancelMerchandiseList.operatorClick();
    }
    if (c.failed(state)) return;
    if (lines != static_cast<int>(kRows)) state.SkipWithError("Details did not list every row");
    state.counters["member_lines"] = lines;
}
BENCHMARK(BM_ControlDetailsAll100k)->Unit(benchmark::kMillisecond);

// A click on the member list's Total column header with 100,000 lines listed in another order.
void BM_MemberColumnSort100k(benchmark::State& state) {
    LoadedControl c;
    c.detailsOfAll();
    ui::ListView& list = c.screen().lstEFTMember;
    for (auto _ : state) {
        state.PauseTiming();
        list.operatorColumnClick(4);  // by member: the Total column is out of order again
        state.ResumeTiming();
        list.operatorColumnClick(6);
        benchmark::DoNotOptimize(list.lines().data());
    }
    if (c.failed(state)) return;
    state.counters["lines"] = list.lineCount();
}
BENCHMARK(BM_MemberColumnSort100k)->Unit(benchmark::kMillisecond);

// One tick or untick of a member line among 100,000, with the selected total kept.
void BM_MemberTick100k(benchmark::State& state) {
    LoadedControl c;
    c.detailsOfAll();
    ui::ListView& list = c.screen().lstEFTMember;
    const int lines = list.lineCount();
    int line = 0;
    bool check = true;
    for (auto _ : state) {
        list.operatorSetChecked(line, check);
        c.screen().flush();  // what a host does after each event
        if (++line == lines) {
            line = 0;
            check = !check;
        }
    }
    if (c.failed(state)) return;
    benchmark::DoNotOptimize(c.screen().lblMerchandiseSelected.caption().data());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemberTick100k);

// "&Save" of 32,767 rows to a server that answers after 2 seconds: how much of a core the
// control's thread burns while it waits. The window runs from the first turn of the wait loop
// to its last, so building the records before and refreshing the lists after stay out.
void BM_SaveWaitCpu(benchmark::State& state) {
    constexpr std::size_t kSaveRows = kMaxSaveRecords;
    constexpr auto kDelay = std::chrono::milliseconds(2000);
    LoopbackServer server;
    server.onGet(pages::sweepRowsAddress("", 1), makeSweepReply({.rows = kSaveRows}));
    server.onPost(std::string(pages::saveAddress("")), "", kDelay);

    driver::ScriptedHost host(kToday);
    EFTMemb control(host);
    control.SetVariables(server.base(), 7, 2);
    ui::Screen& s = control.screen();

    struct Mark {
        double wall = 0, cpu = 0, process = 0;
    };
    auto now = [] { return Mark{seconds(Clock::now().time_since_epoch()), threadCpuSeconds(), processCpuSeconds()}; };
    Mark first, last;
    int turns = 0;
    host.onProcessEvents = [&] {
        last = now();
        if (turns++ == 0) first = last;
    };

    double waitWall = 0, waitCpu = 0, waitProcess = 0, clickWall = 0, clickCpu = 0;
    for (auto _ : state) {
        if (!s.cmdLoadData.operatorClick()) s.optCountry.operatorChoose(1);
        s.cmdSelectAllCenters.operatorClick();
        s.cmdViewCenterDetails.operatorClick();
        s.cmdSelectAllMerchandise.operatorClick();
        host.clearShown();
        host.queueAnswer(MsgAnswer::Yes);
        turns = 0;
        const Mark before = now();
        s.cmdSaveMerchandise.operatorClick();
        const Mark after = now();
        state.SetIterationTime(after.wall - before.wall);
        // The question, then nothing: a second box is the failure of the save.
        if (host.shown().size() != 1 || s.tabEFT.selected() != kTabCenters || turns < 2) {
            state.SkipWithError(host.shown().size() > 1 ? ("the control showed: " + host.shown().back().request.text).c_str()
                                                        : "the save did not complete");
            return;
        }
        if (last.wall - first.wall < 0.9 * std::chrono::duration<double>(kDelay).count()) {
            state.SkipWithError("the reply came before the server's delay: the post was refused");
            return;
        }
        waitWall += last.wall - first.wall;
        waitCpu += last.cpu - first.cpu;
        waitProcess += last.process - first.process;
        clickWall += after.wall - before.wall;
        clickCpu += after.cpu - before.cpu;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["wait_ms"] = waitWall / n * 1e3;
    state.counters["wait_cpu_ms"] = waitCpu / n * 1e3;
    state.counters["wait_cpu_pct"] = 100.0 * waitCpu / waitWall;
    state.counters["wait_proc_cpu_pct"] = 100.0 * waitProcess / waitWall;
    state.counters["click_cpu_ms"] = clickCpu / n * 1e3;
    state.counters["click_ms"] = clickWall / n * 1e3;
    state.counters["loop_turns"] = turns;
}
BENCHMARK(BM_SaveWaitCpu)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace
}  // namespace eft::bench
