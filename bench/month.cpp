// A franchisor's month against the real eft-server, on PostgreSQL with two instances sharing one
// cluster (the operators split between them), then on SQLite with one instance, in one run.
//
//   month [--days N] [--operators N] [--charges N] [--centers N] [--only sqlite|postgresql] [--keep yes]
//         [--slow-ms N]
//
// The month (defaults): 200 centers (three quarters in the United States), 50,000 members and
// 220,000 charges spread over 23 working days from 1 March 2011, each day's charges imported by
// `eft-server import` that morning. A day is a round of work:
//   - the bank's returns of the last working day's United States batches (a CSV report, one entry
//     in 20 R01 and one in 50 R09, of centers with one entry in the file) applied by
//     `eft-server returns`, which settles every batch past its window (or `returns --settle` on a
//     day without a file);
//   - every operator at once loads both countries' sweeps, then saves its own centers one by
//     one with the control's record text and the load's sweep stamp (a stale save reloads once);
//   - the day's export, whose files a --deliver-command records (path and SHA-256);
//   - every operator loads the batch list; Canada's batches are committed by hand, one center
//     in 7 failed (another each day); the United States' wait for the returns and settle by rule.
// The servers and every command run on a clock moved to the simulated day through libfaketime
// (its timestamp file, read again each second), so export dates, return windows and settlement
// follow the month. The month closes two weeks after its last day with a settlement.
//
// Printed per engine and request kind: count, throughput (over the time requests of that kind
// were under way), p50, p99 and maximum latency, requests refused for load (429, 503) and any
// other failure; then the money invariants, each failing the run loudly:
//   - every charge imported is in exactly one known state, waiting in one batch exactly when
//     exported, cleared by exactly one item exactly when cleared, and none left saved;
//   - every batch equals its file: the file kept in the export folder reads back (the same
//     parser `returns` checks our files with) to the batch's items' net per center, its totals
//     and SHA-256 are those `eft-server files` lists, and every batch has one;
//   - no file delivered twice, and every file delivered.
// And the targets: p99 of a save <= 250 ms, p99 of a country's sweep load <= 2 s with every
// operator loading at once, no request refused for load. A latency is the client's, from the
// request's first byte to the reply's last (a sweep's reading into the table is not in it).
// --slow-ms N has PostgreSQL log the statements of N ms or more and sums them up by statement;
// --keep yes leaves the scratch folder (the servers' logs, the files) in place.
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/calendar.h"
#include "import_files.h"
#include "members/member_save.h"
#include "net/pages.h"
#include "net/xml_reader.h"
#include "process_cpu.h"
#include "demo_originator.h"
#include "server/returns/bank_answer.h"
#include "server/store/database.h"
#include "server_process.h"
#include "support/pg_cluster.h"
#include "sweep/row_amounts.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using eft::server::testing::ServerProcess;

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onSignal(int) { g_interrupted = 1; }

constexpr std::int32_t kPerson = 7;
constexpr std::int16_t kPersonType = 2;
constexpr double kSaveTargetMs = 250;
constexpr double kSweepTargetMs = 2000;
constexpr const char* kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
const eft::Date kFirstDay{2011, 3, 1};

enum Kind { SweepLoad, Save, Export, BatchList, StatusCommit, Returns, KindCount };
constexpr const char* kKindNames[] = {"sweep load", "save", "export", "batch list", "status commit", "returns"};

struct Options {
    int days = 23;
    int operators = 20;
    long charges = 220000;
    int centers = 200;
    std::string only;
    bool keep = false;  // the scratch folder (the servers' logs, the files) stays
    int slowMs = 0;     // PostgreSQL logs statements that take this long, summed up at the end
};

std::string isoDay(const eft::Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::vector<eft::Date> workingDays(int count) {
    std::vector<eft::Date> days;
    for (eft::Date d = kFirstDay; static_cast<int>(days.size()) < count; d = eft::addDays(d, 1))
        if (const int w = eft::weekday(d); w != 0 && w != 6) days.push_back(d);
    return days;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// One request as measured: when it started and ended (seconds from the run's start).
struct Sample {
    double start = 0, end = 0;
};

struct KindFigures {
    std::vector<Sample> samples;
    long refused = 0;  // 429 or 503
    long failed = 0;
    long stale = 0;  // saves refused for a stale sweep, then made again after a reload
    std::string firstFailure;
};

class Recorder {
public:
    explicit Recorder(Clock::time_point t0) : t0_(t0) {}
    double now() const { return std::chrono::duration<double>(Clock::now() - t0_).count(); }
    void add(Kind k, Sample s) {
        std::lock_guard lock(mutex_);
        kinds_[k].samples.push_back(s);
    }
    void refused(Kind k) {
        std::lock_guard lock(mutex_);
        ++kinds_[k].refused;
    }
    void stale(Kind k) {
        std::lock_guard lock(mutex_);
        ++kinds_[k].stale;
    }
    void failed(Kind k, const std::string& why) {
        std::lock_guard lock(mutex_);
        if (kinds_[k].failed++ == 0) kinds_[k].firstFailure = why;
        std::fprintf(stderr, "month: %s failed: %s\n", kKindNames[k], why.c_str());
    }
    const KindFigures& kind(Kind k) const { return kinds_[k]; }

private:
    Clock::time_point t0_;
    std::mutex mutex_;
    KindFigures kinds_[KindCount];
};

// Sends a request, timing it and sorting its outcome; the reply when it was a 200.
template <typename Send>
httplib::Result timed(Recorder& rec, Kind kind, Send&& send, bool& ok) {
    Sample s;
    s.start = rec.now();
    httplib::Result res = send();
    s.end = rec.now();
    rec.add(kind, s);
    ok = res && res->status == 200;
    if (res && (res->status == 429 || res->status == 503)) rec.refused(kind);
    else if (!ok)
        rec.failed(kind, res ? std::to_string(res->status) + " " + res->body.substr(0, 200)
                             : "no reply: " + httplib::to_string(res.error()));
    return res;
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

// Seconds during which at least one request of the kind was under way.
double busySeconds(std::vector<Sample> samples) {
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.start < b.start; });
    if (samples.empty()) return 0;
    double busy = 0, from = samples.front().start, to = samples.front().end;
    for (const Sample& s : samples) {
        if (s.start > to) {
            busy += to - from;
            from = s.start;
            to = s.end;
        } else {
            to = std::max(to, s.end);
        }
    }
    return busy + to - from;
}

// The charges of the month, as the franchisor's system hands them over day by day.
struct Month {
    std::vector<eft::Date> days;
    long charges = 0, members = 0;
    int centers = 0;
    int usCenters = 0;

    int countryOf(long center) const { return center <= usCenters ? 1 : 2; }

    // centers.csv, members.csv and charges-<day>.csv. A member's 4 or 5 charges fall on days
    // spread over the month; the last is an NMC payment for one member in 10.
    void write(const fs::path& dir, const Options& o) {
        days = workingDays(o.days);
        centers = o.centers;
        usCenters = std::max(1, centers * 3 / 4);
        members = std::max<long>(centers, o.charges * 5 / 22);
        const int d = static_cast<int>(days.size());
        std::ofstream c(dir / "centers.csv"), m(dir / "members.csv");
        eft::bench::writeCentersHeader(c);
        for (long center = 1; center <= centers; ++center) eft::bench::writeCenterLine(c, center, countryOf(center));
        eft::bench::writeMembersHeader(m);
        std::vector<std::ofstream> daily;
        for (const eft::Date& day : days) {
            daily.emplace_back(dir / ("charges-" + isoDay(day) + ".csv"));
            eft::bench::writeChargesHeader(daily.back());
        }
        charges = 0;
        for (long k = 0; k < members && charges < o.charges; ++k) {
            eft::bench::ImportCharge ch;
            ch.member = 100000 + k;
            ch.center = 1 + k * centers / members;
            eft::bench::writeMemberLine(m, ch.member, ch.center, k % 3 == 0);
            const int count = k % 5 < 2 ? 5 : 4;
            for (int j = 0; j < count && charges < o.charges; ++j, ++charges) {
                const bool nmc = j == count - 1 && k % 10 == 9;
                const int day = static_cast<int>((k % d + j * d / count) % d);
                ch.source = nmc ? 2 : 1;
                ch.sequence = j + 1;
                ch.type = nmc ? 2 : 1;
                ch.royaltyCents = nmc ? 0 : (19 + k % 130) * 100 + 10 + (k * 7 + j) % 90;
                ch.nmcPaymentCents = nmc ? 12550 : 0;
                ch.trust = k % 4 == 0 ? 57 : 0;
                ch.sweepDate = isoDay(days[static_cast<std::size_t>(day)]) + "T06:00:00";
                eft::bench::writeChargeLine(daily[static_cast<std::size_t>(day)], ch);
            }
        }
    }
};

// Who works on which centers: operator o takes every operators-th center from o + 1.
bool ownedBy(long center, int op, int operators) { return (center - 1) % operators == op; }

struct SweepCenter {
    std::vector<eft::SaveRow> rows;
};

// A country's sweep as the control reads it, the rows of the given operator's centers.
std::map<std::int32_t, SweepCenter> readSweep(const std::string& reply, int op, int operators) {
    eft::Table t = eft::makeTable("rsSweep", eft::sweepFields());
    eft::readXmlRowsFromBuffer(t, reply, "CenterID", "sweep");
    std::map<std::int32_t, SweepCenter> out;
    for (t.moveFirst(); !t.eof(); t.moveNext()) {
        const std::int32_t center = t.integer(eft::sweep_field::CenterID).value_or(0);
        if (!ownedBy(center, op, operators)) continue;
        eft::applyRowAmounts(t);
        out[center].rows.push_back(eft::saveRowOf(t));
    }
    return out;
}

std::string saveBodyOf(const SweepCenter& c) {
    eft::pages::SaveBodyWriter body;
    body.reserve(c.rows.size());
    for (const eft::SaveRow& r : c.rows) eft::addSaveRecord(body, r, kPerson, kPersonType);
    return body.finish();
}

struct BatchItem {
    std::int32_t batch = 0, center = 0, member = 0;
    bool sourceTwo = false;
    int country = 0;
    bool returned = false;
};

std::vector<BatchItem> readBatchList(const std::string& reply) {
    namespace F = eft::batch_field;
    eft::Table t = eft::makeTable("rsBatch", eft::batchFields());
    eft::readXmlRowsFromBuffer(t, reply, "BatchControl", "batch list");
    std::vector<BatchItem> items;
    for (t.moveFirst(); !t.eof(); t.moveNext())
        items.push_back({t.integer(F::BatchControl).value_or(0), t.integer(F::CenterID).value_or(0),
                         t.integer(F::MemberID).value_or(0), t.integer(F::Source) == 2, t.integer(F::Country).value_or(0),
                         !t.text(F::ReturnCode).value_or("").empty()});
    return items;
}

// The status body the control posts for a batch: a pair per item, one center in 7 failed (a
// different one each day, so a failed center's charges go out again and clear), and a center
// the bank returned failed as it is.
std::string statusBodyOf(const std::vector<BatchItem>& items, std::int32_t batch, std::size_t day) {
    std::vector<std::string> cleared, failed;
    for (const BatchItem& i : items) {
        if (i.batch != batch) continue;
        const bool fails = i.returned || (static_cast<std::size_t>(i.center) + day) % 7 == 3;
        (fails ? failed : cleared).push_back((i.sourceTwo ? "-" : "") + std::to_string(i.member));
    }
    return eft::pages::statusBody(cleared, failed, kPerson, kPersonType, batch);
}

httplib::Headers requestHeaders() {
    return {{std::string(eft::pages::kRequestHeaderName), std::string(eft::pages::kRequestHeaderValue)}};
}

std::string pathOf(const ServerProcess& s, const std::string& address) { return address.substr(s.origin().size()); }

class MonthRun {
public:
    MonthRun(const Options& o, const Month& month, fs::path dir, std::string name, std::string db, int instances,
             const eft::test::PgCluster* cluster = nullptr)
        : o_(o), month_(month), dir_(std::move(dir)), name_(std::move(name)), db_(std::move(db)),
          instances_(instances), cluster_(cluster), rec_(Clock::now()) {
        clockFile_ = dir_ / (name_ + "-clock");
        deliveryLog_ = dir_ / (name_ + "-delivered.log");
        std::ofstream(dir_ / (name_ + "-deliver.sh")) << "sha256sum \"$1\" >> " << quoted(deliveryLog_.string()) << "\n";
        env_ = {std::string("LD_PRELOAD=") + kFakeTime, "FAKETIME_TIMESTAMP_FILE=" + clockFile_.string(),
                "FAKETIME_CACHE_DURATION=1", "FAKETIME_DONT_FAKE_MONOTONIC=1"};
    }

    const Recorder& recorder() const { return rec_; }

    // The month; the invariants' verdict.
    bool run() {
        setClock(month_.days.front(), 6);
        command("import", {"import", "--db", db_, (dir_ / "centers.csv").string(), (dir_ / "members.csv").string()});
        for (int i = 0; i < instances_; ++i) {
            servers_.push_back(std::make_unique<ServerProcess>(
                std::vector<std::string>{
                    "--db=" + db_, "--port=0", "--export-dir=" + exportDir(i).string(),
                    "--originator=" + (dir_ / "originator.json").string(),
                    "--deliver-command=/bin/sh " + quoted((dir_ / (name_ + "-deliver.sh")).string()),
                    "--deliver-retry=1", "--settle-every=1"},
                env_, dir_));
            if (!servers_.back()->started()) throw std::runtime_error("eft-server did not start: " + servers_.back()->log());
        }
        std::vector<std::int32_t> yesterdaysUs;
        for (std::size_t d = 0; d < month_.days.size() && !g_interrupted; ++d) {
            const eft::Date day = month_.days[d];
            setClock(day, 7);
            const auto importStart = Clock::now();
            command("import", {"import", "--db", db_, (dir_ / ("charges-" + isoDay(day) + ".csv")).string()});
            importSeconds_ += std::chrono::duration<double>(Clock::now() - importStart).count();
            const double imported = rec_.now();
            bankAnswer(day, yesterdaysUs);
            const double answered = rec_.now();
            operatorsWork(d);
            const double worked = rec_.now();
            yesterdaysUs = exportAndCommit(d);
            std::printf("  %s %s at %.0f s: import %.1f s, returns %.1f s, operators %.1f s, export and status %.1f s\n",
                        name_.c_str(), isoDay(day).c_str(), rec_.now(), importSeconds_, answered - imported,
                        worked - answered, rec_.now() - worked);
            std::fflush(stdout);
        }
        if (g_interrupted) throw std::runtime_error("interrupted");
        // Two weeks on, every window has passed.
        setClock(eft::addDays(month_.days.back(), 14), 7);
        bankAnswer(eft::addDays(month_.days.back(), 14), {});
        waitForDeliveries();
        for (const auto& s : servers_) serverCpu_ += eft::bench::processCpu(s->pid());
        if (cluster_) databaseCpu_ = eft::bench::cpuSince({}, eft::bench::clusterCpu(*cluster_));
        for (auto& s : servers_) s->terminate(std::chrono::seconds(20));
        return checkInvariants();
    }

    double importSeconds() const { return importSeconds_; }
    double serverCpu() const { return serverCpu_; }
    double databaseCpu() const { return databaseCpu_; }

private:
    fs::path exportDir(int i) const { return dir_ / (name_ + "-export-" + std::to_string(i)); }

    // The servers' and the commands' clock: the day at `hour`, running on from there.
    void setClock(const eft::Date& day, int hour) {
        std::tm t{};
        t.tm_year = day.year - 1900;
        t.tm_mon = day.month - 1;
        t.tm_mday = day.day;
        t.tm_hour = hour;
        t.tm_isdst = -1;
        const long offset = static_cast<long>(std::mktime(&t) - std::time(nullptr));
        {
            std::ofstream(clockFile_.string() + ".new") << (offset >= 0 ? "+" : "") << offset << "\n";
        }
        fs::rename(clockFile_.string() + ".new", clockFile_);
        // The servers read the file again once a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }

    std::string command(const char* what, const std::vector<std::string>& args) {
        std::string line;
        for (const std::string& e : env_) line += e + " ";
        line += quoted(EFT_SERVER_PATH);
        for (const std::string& a : args) line += " " + quoted(a);
        const auto ran = eft::server::testing::runProgram(line);
        if (ran.status != 0) throw std::runtime_error(std::string("eft-server ") + what + " failed: " + ran.out);
        return ran.out;
    }

    nlohmann::json files() {
        const std::string out = command("files", {"files", "--db", db_, "--format", "json"});
        return nlohmann::json::parse(out.substr(out.find('{')))["files"];
    }

    fs::path keptFile(const std::string& name) const {
        for (int i = 0; i < instances_; ++i)
            if (fs::exists(exportDir(i) / name)) return exportDir(i) / name;
        return {};
    }

    // The bank's CSV report of the returns of yesterday's United States batches, applied; then
    // (or without a file) every batch past its window settles.
    void bankAnswer(const eft::Date& day, const std::vector<std::int32_t>& batches) {
        std::ostringstream csv;
        csv << "center,batch,code,amount,date\n";
        long returns = 0;
        if (!batches.empty()) {
            const nlohmann::json listed = files();
            for (const std::int32_t batch : batches) {
                for (const auto& f : listed) {
                    if (f["batch"] != batch) continue;
                    const fs::path path = keptFile(f["file"].get<std::string>());
                    if (path.empty()) throw std::runtime_error("the file of batch " + std::to_string(batch) + " is not kept");
                    const auto entries = eft::server::returns::sentEntries(eft::server::testing::fileText(path), batch);
                    std::map<std::int32_t, int> perCenter;
                    for (const auto& e : entries) ++perCenter[e.centerId];
                    std::size_t n = 0;
                    for (const auto& e : entries) {
                        const char* code = n % 20 == 7 ? "R01" : n % 50 == 11 ? "R09" : nullptr;
                        ++n;
                        // A report names an entry by batch and center, so a center that has a
                        // retry's entry beside its own in the batch cannot be told apart.
                        if (!code || perCenter[e.centerId] > 1 || e.direction != eft::server::returns::Direction::Debit)
                            continue;
                        csv << e.centerId << ',' << batch << ',' << code << ',' << eft::text::amount(e.cents) << ','
                            << isoDay(day) << '\n';
                        ++returns;
                    }
                }
            }
        }
        std::vector<std::string> args{"returns", "--db", db_, "--format", "json"};
        if (returns) {
            const fs::path file = dir_ / (name_ + "-returns-" + isoDay(day) + ".csv");
            std::ofstream(file) << csv.str();
            args.push_back(file.string());
        } else {
            args.push_back("--settle");
        }
        Sample s;
        s.start = rec_.now();
        std::string out;
        try {
            out = command("returns", args);
        } catch (const std::exception& e) {
            rec_.failed(Returns, e.what());
            return;
        }
        s.end = rec_.now();
        rec_.add(Returns, s);
        const nlohmann::json j = nlohmann::json::parse(out.substr(out.find('{')));
        long matched = 0;
        for (const auto& r : j.value("returns", nlohmann::json::array())) matched += r["outcome"] == "matched";
        returnsApplied_ += matched;
        settled_ += static_cast<long>(j.value("settled", nlohmann::json::array()).size());
        if (matched != returns)
            rec_.failed(Returns, std::to_string(returns - matched) + " of " + std::to_string(returns) +
                                     " returns not matched on " + isoDay(day) + ": " + out.substr(0, 400));
    }

    // Every operator at once: both sweeps, then a save per center of its own.
    void operatorsWork(std::size_t day) {
        std::barrier start(o_.operators);
        std::vector<std::jthread> threads;
        for (int op = 0; op < o_.operators; ++op) {
            threads.emplace_back([&, op] {
                const ServerProcess& server = *servers_[static_cast<std::size_t>(op + static_cast<int>(day)) % servers_.size()];
                httplib::Client client("127.0.0.1", server.port());
                client.set_connection_timeout(10);
                client.set_read_timeout(120);
                client.set_default_headers(requestHeaders());
                const std::string save = pathOf(server, eft::pages::saveAddress(server.base()));
                struct Loaded {
                    std::string stamp;
                    std::map<std::int32_t, SweepCenter> centers;
                };
                const auto load = [&](std::int16_t country) {
                    const std::string address = pathOf(server, eft::pages::sweepRowsAddress(server.base(), country));
                    bool ok = false;
                    const auto res = timed(rec_, SweepLoad, [&] { return client.Get(address); }, ok);
                    Loaded l;
                    if (!ok) return l;
                    l.stamp = res->get_header_value(std::string(eft::pages::kSweepStampHeader));
                    if (l.stamp.empty()) rec_.failed(SweepLoad, "no sweep stamp");
                    l.centers = readSweep(res->body, op, o_.operators);
                    return l;
                };
                start.arrive_and_wait();
                try {
                    Loaded countries[2] = {load(1), load(2)};
                    for (int c = 0; c < 2 && !g_interrupted; ++c) {
                        for (const auto& [center, rows] : countries[c].centers) {
                            const auto post = [&](const Loaded& from, const SweepCenter& what, bool& ok) {
                                return timed(rec_, Save, [&] {
                                    return client.Post(save, {{std::string(eft::pages::kSweepStampHeader), from.stamp}},
                                                       saveBodyOf(what), "application/x-www-form-urlencoded");
                                }, ok);
                            };
                            bool ok = false;
                            auto res = post(countries[c], rows, ok);
                            if (!ok) continue;
                            if (res->body.empty()) continue;
                            // As the operator would: the center changed since the load, so load again.
                            if (res->body.find("changed since it was loaded") != std::string::npos) {
                                rec_.stale(Save);
                                const Loaded again = load(static_cast<std::int16_t>(c + 1));
                                const auto it = again.centers.find(center);
                                if (it == again.centers.end()) continue;
                                res = post(again, it->second, ok);
                                if (!ok || res->body.empty()) continue;
                            }
                            rec_.failed(Save, "center " + std::to_string(center) + ": " + res->body.substr(0, 300));
                        }
                    }
                } catch (const std::exception& e) {
                    rec_.failed(SweepLoad, std::string("operator's reading: ") + e.what());
                }
            });
        }
    }

    // The day's export, the batch list on every operator's screen, and Canada's batches
    // committed by hand; the United States batches the export made.
    std::vector<std::int32_t> exportAndCommit(std::size_t day) {
        const ServerProcess& server = *servers_[day % servers_.size()];
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(300);
        client.set_default_headers(requestHeaders());
        bool ok = false;
        const auto exported = timed(rec_, Export, [&] {
            return client.Get(pathOf(server, eft::pages::exportAddress(server.base(), kPerson, kPersonType)));
        }, ok);
        if (ok) {
            std::string failure;
            bool refused = false;
            const std::string report = eft::documentTextFromBuffer(exported->body, &failure, true, eft::XmlPath::FastFirst,
                                                                   eft::pages::kExportRefusal, &refused);
            if (refused || !failure.empty()) rec_.failed(Export, failure + report.substr(0, 300));
        }
        std::vector<std::vector<BatchItem>> lists(static_cast<std::size_t>(o_.operators));
        {
            std::vector<std::jthread> threads;
            for (int op = 0; op < o_.operators; ++op)
                threads.emplace_back([&, op] {
                    const ServerProcess& s = *servers_[static_cast<std::size_t>(op + static_cast<int>(day)) % servers_.size()];
                    httplib::Client c("127.0.0.1", s.port());
                    c.set_read_timeout(120);
                    c.set_default_headers(requestHeaders());
                    bool good = false;
                    const std::string address = pathOf(s, eft::pages::batchListAddress(s.base()));
                    const auto res = timed(rec_, BatchList, [&] { return c.Get(address); }, good);
                    if (good) lists[static_cast<std::size_t>(op)] = readBatchList(res->body);
                });
        }
        const std::vector<BatchItem>& items = lists.front();
        std::set<std::int32_t> canada, unitedStates;
        for (const BatchItem& i : items) (i.country == 2 ? canada : unitedStates).insert(i.batch);
        for (const std::int32_t batch : canada) {
            const std::string body = statusBodyOf(items, batch, day);
            const auto res = timed(rec_, StatusCommit, [&] {
                return client.Post(pathOf(server, eft::pages::statusAddress(server.base())), body,
                                   "application/x-www-form-urlencoded");
            }, ok);
            if (ok && !res->body.empty()) rec_.failed(StatusCommit, "batch " + std::to_string(batch) + ": " + res->body);
        }
        std::vector<std::int32_t> fresh;
        for (const std::int32_t b : unitedStates)
            if (seenUs_.insert(b).second) fresh.push_back(b);
        return fresh;
    }

    void waitForDeliveries() {
        for (int k = 0; k < 60; ++k) {
            bool all = true;
            for (const auto& f : files()) all = all && f["delivery"] == "delivered";
            if (all) return;
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }

    bool expect(bool ok, const std::string& what) {
        std::printf("  %-7s %s\n", ok ? "ok" : "FAILED", what.c_str());
        return ok;
    }

    std::int64_t scalar(eft::server::Database& db, const std::string& sql) {
        eft::server::Statement s = db.prepare(sql);
        s.step();
        return s.integer(0);
    }

    bool checkInvariants() {
        std::printf("%s: money invariants\n", name_.c_str());
        bool good = true;
        eft::server::Database db(db_);
        eft::server::Transaction read(db, eft::server::Transaction::Mode::Read);
        // Every charge in exactly one state.
        std::map<std::int64_t, std::int64_t> byState;
        {
            eft::server::Statement s = db.prepare("SELECT state, COUNT(*) FROM charges GROUP BY state ORDER BY state");
            while (s.step()) byState[s.integer(0)] = s.integer(1);
        }
        std::int64_t total = 0;
        std::string states;
        for (const auto& [state, n] : byState) {
            total += n;
            states += " " + std::to_string(n) + " in state " + std::to_string(state) + ";";
        }
        good &= expect(total == month_.charges, std::to_string(total) + " charges of " + std::to_string(month_.charges) +
                                                    " imported:" + states);
        const auto known = [&] {
            for (const auto& [state, n] : byState)
                if (state != 0 && state != 14 && state != 20 && state != 30) return false;
            return true;
        };
        good &= expect(known(), "every state is in the sweep (0), saved (14), exported (20) or cleared (30)");
        good &= expect(scalar(db, "SELECT COUNT(*) FROM charges WHERE state = 14") == 0,
                       "no charge left saved: every save went out in an export");
        // Items by charge, counted once each: batch_items is keyed by batch first.
        const auto itemsDisagree = [&](const char* state, const char* outcome) {
            return scalar(db, std::string("SELECT COUNT(*) FROM charges c LEFT JOIN (SELECT charge_id, COUNT(*) AS n FROM "
                                          "batch_items WHERE outcome ") + outcome +
                                  " GROUP BY charge_id) i ON i.charge_id = c.id WHERE (c.state = " + state +
                                  ") <> (COALESCE(i.n, 0) = 1)");
        };
        good &= expect(itemsDisagree("20", "IS NULL") == 0 &&
                           scalar(db, "SELECT COUNT(*) FROM (SELECT charge_id FROM batch_items WHERE outcome IS NULL "
                                      "GROUP BY charge_id HAVING COUNT(*) > 1) t") == 0,
                       "a charge waits in one batch exactly when exported");
        good &= expect(itemsDisagree("30", "= 1") == 0 &&
                           scalar(db, "SELECT COUNT(*) FROM (SELECT charge_id FROM batch_items WHERE outcome = 1 "
                                      "GROUP BY charge_id HAVING COUNT(*) > 1) t") == 0,
                       "a charge is cleared by one item exactly when cleared, never twice");
        const std::int64_t failedItems = scalar(db, "SELECT COUNT(*) FROM batch_items WHERE outcome = 2");
        const std::int64_t batches = scalar(db, "SELECT COUNT(*) FROM batches");
        std::printf("  (%lld batches, %lld items failed by hand or by the bank, %ld returns applied, %ld batches "
                    "settled by rule through `returns`)\n",
                    static_cast<long long>(batches), static_cast<long long>(failedItems), returnsApplied_, settled_);

        // Every batch equal to its file.
        std::map<std::int32_t, std::map<std::int32_t, std::int64_t>> itemCents;
        {
            eft::server::Statement s = db.prepare(
                "SELECT bi.batch_no, ch.center_id, bi.amount FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id");
            while (s.step())
                itemCents[static_cast<std::int32_t>(s.integer(0))][static_cast<std::int32_t>(s.integer(1))] +=
                    eft::text::toCents(static_cast<float>(s.real(2)));
        }
        read.commit();
        std::map<std::string, int> delivered;  // file name: times in the delivery log
        std::map<std::string, std::string> deliveredSha;
        {
            std::ifstream log(deliveryLog_);
            std::string sha, path;
            while (log >> sha >> path) {
                const std::string name = fs::path(path).filename().string();
                ++delivered[name];
                deliveredSha[name] = sha;
            }
        }
        const nlohmann::json listed = files();
        std::set<std::int32_t> withFile;
        long filesEqual = 0, filesChecked = 0, notDelivered = 0, twice = 0;
        for (const auto& f : listed) {
            ++filesChecked;
            const std::int32_t batch = f["batch"];
            const std::string name = f["file"];
            withFile.insert(batch);
            const fs::path path = keptFile(name);
            std::string why;
            if (path.empty()) {
                why = "not in an export folder";
            } else {
                std::map<std::int32_t, std::int64_t> net;
                std::int64_t debits = 0, credits = 0;
                for (const auto& e : eft::server::returns::sentEntries(eft::server::testing::fileText(path), batch)) {
                    const bool debit = e.direction == eft::server::returns::Direction::Debit;
                    net[e.centerId] += debit ? e.cents : -e.cents;
                    (debit ? debits : credits) += e.cents;
                }
                std::erase_if(net, [](const auto& p) { return p.second == 0; });
                auto items = itemCents[batch];
                std::erase_if(items, [](const auto& p) { return p.second == 0; });
                const auto cents = [](const nlohmann::json& v) {
                    return v.is_string() ? eft::text::parseCents(v.get<std::string>()).value_or(-1)
                                         : std::llround(v.get<double>() * 100);
                };
                const std::string sum = eft::server::testing::runProgram("sha256sum " + quoted(path.string())).out;
                if (net != items) why = "its entries are not its items' net per center";
                else if (cents(f["debits"]) != debits || cents(f["credits"]) != credits)
                    why = "its totals are not those `files` lists";
                else if (sum.substr(0, 64) != f["sha256"]) why = "its SHA-256 is not the one kept";
                else if (deliveredSha[name] != f["sha256"]) why = "the SHA-256 delivered is not the one kept";
            }
            if (why.empty()) ++filesEqual;
            else {
                good = false;
                std::printf("  FAILED  batch %d, %s: %s\n", batch, name.c_str(), why.c_str());
            }
            notDelivered += delivered[name] == 0;
            twice += delivered[name] > 1;
        }
        good &= expect(filesEqual == filesChecked && static_cast<std::int64_t>(withFile.size()) == batches,
                       std::to_string(filesEqual) + " of " + std::to_string(batches) +
                           " batches equal their files (entries, totals, SHA-256)");
        good &= expect(twice == 0 && notDelivered == 0 && delivered.size() == listed.size(),
                       std::to_string(delivered.size()) + " files delivered, " + std::to_string(twice) + " of them twice, " +
                           std::to_string(notDelivered) + " never");
        return good;
    }

    const Options& o_;
    const Month& month_;
    fs::path dir_;
    std::string name_, db_;
    int instances_;
    const eft::test::PgCluster* cluster_;
    Recorder rec_;
    fs::path clockFile_, deliveryLog_;
    std::vector<std::string> env_;
    std::vector<std::unique_ptr<ServerProcess>> servers_;
    std::set<std::int32_t> seenUs_;
    double importSeconds_ = 0, serverCpu_ = 0, databaseCpu_ = 0;
    long returnsApplied_ = 0, settled_ = 0;
};

struct Verdict {
    std::string name;
    bool invariants = false;
    double saveP99 = 0, sweepP99 = 0;
    long refused = 0, failed = 0;
};

// CPU (user + system) of this process (the operators' clients) and of the commands it ran.
double ownCpu(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Verdict report(const std::string& name, const MonthRun& run, double wall, double clientCpu, double commandCpu,
               bool invariants) {
    Verdict v{name, invariants};
    std::printf("%s: %.0f s, of which %.1f s importing; CPU: servers %.1f s, PostgreSQL %.1f s, the operators' clients "
                "%.1f s, the commands (import, returns, files) %.1f s\n",
                name.c_str(), wall, run.importSeconds(), run.serverCpu(), run.databaseCpu(), clientCpu, commandCpu);
    std::printf("  %-14s %7s %9s %9s %9s %9s %8s %7s %6s\n", "kind", "count", "per_s", "p50_ms", "p99_ms", "max_ms",
                "refused", "failed", "stale");
    for (int k = 0; k < KindCount; ++k) {
        const KindFigures& f = run.recorder().kind(static_cast<Kind>(k));
        std::vector<double> ms;
        for (const Sample& s : f.samples) ms.push_back((s.end - s.start) * 1000);
        std::sort(ms.begin(), ms.end());
        const double busy = busySeconds(f.samples);
        std::printf("  %-14s %7zu %9.1f %9.1f %9.1f %9.1f %8ld %7ld %6ld\n", kKindNames[k], ms.size(),
                    busy > 0 ? static_cast<double>(ms.size()) / busy : 0.0, percentile(ms, 0.5), percentile(ms, 0.99),
                    ms.empty() ? 0.0 : ms.back(), f.refused, f.failed, f.stale);
        if (k == Save) v.saveP99 = percentile(ms, 0.99);
        if (k == SweepLoad) v.sweepP99 = percentile(ms, 0.99);
        v.refused += f.refused;
        v.failed += f.failed;
        if (f.failed) std::printf("    first failure: %s\n", f.firstFailure.c_str());
    }
    std::fflush(stdout);
    return v;
}

// PostgreSQL's statements logged for taking --slow-ms or more, by their first words: how many,
// their time in all, the longest.
void printSlowStatements(const std::string& log) {
    struct Slow {
        long count = 0;
        double totalMs = 0, maxMs = 0;
    };
    std::map<std::string, Slow> slow;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("duration: ");
        if (at == std::string::npos) continue;
        const double ms = std::atof(line.c_str() + at + 10);
        auto text = line.find(": ", line.find(" ms ", at));
        if (text == std::string::npos) continue;
        std::string key = line.substr(text + 2, 90);
        Slow& s = slow[key];
        ++s.count;
        s.totalMs += ms;
        s.maxMs = std::max(s.maxMs, ms);
    }
    std::vector<std::pair<std::string, Slow>> byTotal(slow.begin(), slow.end());
    std::sort(byTotal.begin(), byTotal.end(), [](const auto& a, const auto& b) { return a.second.totalMs > b.second.totalMs; });
    std::printf("  PostgreSQL's slow statements: count, total s, max ms, statement\n");
    for (std::size_t k = 0; k < byTotal.size() && k < 12; ++k)
        std::printf("  %6ld %8.1f %8.0f  %s\n", byTotal[k].second.count, byTotal[k].second.totalMs / 1000,
                    byTotal[k].second.maxMs, byTotal[k].first.c_str());
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--days") o.days = std::atoi(argv[i + 1]);
        else if (a == "--operators") o.operators = std::atoi(argv[i + 1]);
        else if (a == "--charges") o.charges = std::atol(argv[i + 1]);
        else if (a == "--centers") o.centers = std::atoi(argv[i + 1]);
        else if (a == "--only") o.only = argv[i + 1];
        else if (a == "--keep") o.keep = std::string(argv[i + 1]) == "yes";
        else if (a == "--slow-ms") o.slowMs = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: month [--days N] [--operators N] [--charges N] [--centers N] "
                                 "[--only sqlite|postgresql] [--keep yes] [--slow-ms N]\n");
            return 2;
        }
    }
    if (o.days < 1 || o.operators < 1 || o.centers < o.operators || o.charges < o.centers) {
        std::fprintf(stderr, "month: needs a day, an operator, at least as many centers as operators and charges as centers\n");
        return 2;
    }
    if (!fs::exists(kFakeTime)) {
        std::fprintf(stderr, "month: %s is missing (Debian's libfaketime): the servers' clock follows the month through it\n",
                     kFakeTime);
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    eft::server::testing::raiseOpenFileLimit();
    const fs::path dir = fs::temp_directory_path() / ("eft-month-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    int status = 0;
    try {
        Month month;
        month.write(dir, o);
        eft::bench::writeDemoOriginator(dir / "originator.json");
        std::printf("month: %ld charges, %ld members, %d centers (%d in the United States), %zu working days from %s, "
                    "%d operators; load average %s\n",
                    month.charges, month.members, month.centers, month.usCenters, month.days.size(),
                    isoDay(month.days.front()).c_str(), o.operators, loadAverage().c_str());
        std::fflush(stdout);
        std::vector<Verdict> verdicts;
        std::unique_ptr<eft::test::PgCluster> cluster;
        if (o.only != "sqlite") {
            cluster = std::make_unique<eft::test::PgCluster>(
                "month", "-c shared_buffers=128MB" +
                             (o.slowMs > 0 ? " -c log_min_duration_statement=" + std::to_string(o.slowMs) : std::string()));
            if (!cluster->ready()) {
                std::printf("PostgreSQL skipped: %s\n", cluster->why().c_str());
            } else {
                const auto t0 = Clock::now();
                const double self = ownCpu(RUSAGE_SELF), children = ownCpu(RUSAGE_CHILDREN);
                MonthRun run(o, month, dir, "postgresql-2", cluster->uri(), 2, cluster.get());
                const bool held = run.run();
                verdicts.push_back(report("postgresql-2", run, std::chrono::duration<double>(Clock::now() - t0).count(),
                                          ownCpu(RUSAGE_SELF) - self,
                                          ownCpu(RUSAGE_CHILDREN) - children - run.serverCpu(), held));
                std::printf("  load average %s\n", loadAverage().c_str());
                if (o.slowMs > 0) printSlowStatements(cluster->log());
                // Before the next server is forked, which would print what is buffered again.
                std::fflush(stdout);
            }
            cluster.reset();
        }
        if (o.only != "postgresql" && !g_interrupted) {
            const auto t0 = Clock::now();
            const double self = ownCpu(RUSAGE_SELF), children = ownCpu(RUSAGE_CHILDREN);
            MonthRun run(o, month, dir, "sqlite-1", (dir / "month.sqlite").string(), 1);
            const bool held = run.run();
            verdicts.push_back(report("sqlite-1", run, std::chrono::duration<double>(Clock::now() - t0).count(),
                                      ownCpu(RUSAGE_SELF) - self, ownCpu(RUSAGE_CHILDREN) - children - run.serverCpu(),
                                      held));
            std::printf("  load average %s\n", loadAverage().c_str());
        }
        std::printf("\ntargets                                   ");
        for (const Verdict& v : verdicts) std::printf("  %-22s", v.name.c_str());
        const auto row = [&](const char* what, auto value) {
            std::printf("\n%-42s", what);
            for (const Verdict& v : verdicts) std::printf("  %-22s", value(v).c_str());
        };
        const auto met = [](bool ok, double figure, const char* unit) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%s (%.0f %s)", ok ? "met" : "NOT met", figure, unit);
            return std::string(buf);
        };
        row("p99 of a save <= 250 ms", [&](const Verdict& v) { return met(v.saveP99 <= kSaveTargetMs, v.saveP99, "ms"); });
        row("p99 of a sweep load <= 2 s, all at once", [&](const Verdict& v) {
            return met(v.sweepP99 <= kSweepTargetMs, v.sweepP99, "ms");
        });
        row("no request refused for load", [&](const Verdict& v) {
            return met(v.refused == 0, static_cast<double>(v.refused), "refused");
        });
        row("money invariants", [](const Verdict& v) { return std::string(v.invariants ? "hold" : "BROKEN"); });
        row("other failures", [](const Verdict& v) { return std::to_string(v.failed); });
        std::printf("\n");
        for (const Verdict& v : verdicts)
            if (!v.invariants || v.failed || v.refused) status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "month: %s\n", e.what());
        status = 1;
    }
    std::error_code ignored;
    if (o.keep) std::printf("kept: %s\n", dir.c_str());
    else fs::remove_all(dir, ignored);
    return status;
}
