// What the operator waits for: "&Load Data" in a fresh eft-driver process with its embedded
// reference server over a database of N charges, from process start to the filled center
// list, against anchors measured in the same rounds on the same reply bytes:
//
//   static   the reply served from memory by cpp-httplib, read by libcurl into a buffer
//            sized from Content-Length (the floor of moving the bytes over loopback);
//   pugixml  pugixml's copy, parse and full walk of the reply in a fresh child process, so
//            its pages are as cold as a control's that loads once.
//
// The load is split into steps by further runs: the same driver doing no load (start-up),
// the server's sweep GET on its own, and the driver loading the same bytes from the static
// server (the control's share: receive, read, amounts, center list). Peak memory is the
// driver's ru_maxrss minus that of the same driver doing no load, divided by the reply.
//
//   load_data [--sizes 10k,100k] [--1m] [--runs K] [--timeout SECONDS] [--driver PATH]
//
// Figures are medians over the rounds; ratios are taken within a round, then the median,
// so a machine shared with other work still gives steady ratios.
#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <pugixml.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "net/pages.h"
#include "server/embedded_server.h"
#include "server/seed.h"
#include "server/store.h"

#ifndef EFT_DRIVER_PATH
#define EFT_DRIVER_PATH "eft-driver"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onSignal(int) { g_interrupted = 1; }

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A private folder for the databases and scripts, removed however the run ends.
struct Scratch {
    fs::path path;
    Scratch() {
        std::string name = (fs::temp_directory_path() / "eftmemb-load-XXXXXX").string();
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a scratch folder");
        path = name;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

struct Options {
    std::vector<std::size_t> sizes{10'000, 100'000};
    int runs = 3;
    double timeout = 0;  // 0: scaled with the size
    std::string driver = EFT_DRIVER_PATH;
};

std::size_t parseSize(std::string s) {
    std::size_t scale = 1;
    if (!s.empty() && (s.back() == 'k' || s.back() == 'K')) scale = 1000, s.pop_back();
    else if (!s.empty() && (s.back() == 'm' || s.back() == 'M')) scale = 1'000'000, s.pop_back();
    const long long n = std::atoll(s.c_str());
    if (n <= 0) throw std::invalid_argument("a size must be a positive count such as 10k or 100000");
    return static_cast<std::size_t>(n) * scale;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--sizes" && hasValue) {
            o.sizes.clear();
            std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                o.sizes.push_back(parseSize(list.substr(at, comma - at)));
                at = comma + 1;
            }
        } else if (a == "--1m") {
            o.sizes.push_back(1'000'000);
        } else if (a == "--runs" && hasValue) {
            o.runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--timeout" && hasValue) {
            o.timeout = std::atof(argv[++i]);
        } else if (a == "--driver" && hasValue) {
            o.driver = argv[++i];
        } else {
            throw std::invalid_argument(
                "usage: load_data [--sizes 10k,100k] [--1m] [--runs K] [--timeout SECONDS] [--driver PATH]");
        }
    }
    return o;
}

// ---- the driver in a child process ----------------------------------------------------

struct DriverRun {
    double toList = 0;      // seconds from fork to the dump line
    long maxRssKb = 0;      // the child's peak resident set
    std::size_t centerLines = 0;
};

// Runs the driver on a script ending in "dump" and times it up to the dump line, which it
// prints once the script's last click has returned. Kills the child past the deadline.
DriverRun runDriver(const Options& o, const std::vector<std::string>& args, double timeout) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(o.driver.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, STDIN_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);

    DriverRun run;
    std::string text;
    bool dumped = false, eof = false, reaped = false, killed = false;
    int status = 0;
    rusage usage{};
    for (;;) {
        if (!eof) {
            pollfd p{out[0], POLLIN, 0};
            ::poll(&p, 1, 50);
            char buf[65536];
            const ssize_t got = p.revents ? ::read(out[0], buf, sizeof buf) : -1;
            if (got == 0) eof = true;
            if (got > 0) text.append(buf, static_cast<std::size_t>(got));
            const std::size_t at = text.find("\"event\":\"dump\"");
            if (!dumped && at != std::string::npos && text.find('\n', at) != std::string::npos) {
                run.toList = since(t0);
                dumped = true;
            }
        } else {
            ::usleep(10'000);
        }
        if (!reaped && ::wait4(pid, &status, WNOHANG, &usage) == pid) reaped = true;
        if (reaped && eof) break;
        if (since(t0) > timeout || g_interrupted) {
            if (reaped) break;  // something else still holds the pipe; the driver is gone
            if (!killed) ::kill(pid, SIGKILL);
            killed = true;
        }
    }
    ::close(out[0]);
    if (g_interrupted) throw std::runtime_error("interrupted");
    if (killed) throw std::runtime_error("the driver took longer than " + std::to_string(timeout) + " s; killed");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !dumped)
        throw std::runtime_error("the driver failed (status " + std::to_string(status) + "); it printed:\n" +
                                 text.substr(0, 2000));
    run.maxRssKb = usage.ru_maxrss;

    // A message box in place of rows (a failed load) must not pass for a fast load.
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        const auto event = nlohmann::json::parse(text.substr(from, nl - from), nullptr, false);
        if (event.is_discarded()) continue;
        if (event.value("event", "") == "msgbox" || event.value("event", "") == "error")
            throw std::runtime_error("the driver showed: " + event.dump());
        if (event.value("event", "") == "dump")
            run.centerLines = event["lists"]["lstEFTCenter"]["lines"].size();
    }
    return run;
}

fs::path writeScript(const fs::path& dir, const std::string& name, const std::string& server, bool load) {
    const fs::path p = dir / name;
    std::ofstream f(p);
    f << "set-variables " << server << " 7 2\n";
    if (load) f << "click cmdLoadData\n";
    f << "dump\n";
    if (!f) throw std::runtime_error("cannot write " + p.string());
    return p;
}

// ---- anchors --------------------------------------------------------------------------

struct Sink {
    CURL* curl = nullptr;
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0, size = 0;
};

std::size_t onBody(char* data, std::size_t, std::size_t n, void* user) {
    auto& s = *static_cast<Sink*>(user);
    if (!s.buffer) {
        curl_off_t length = -1;
        curl_easy_getinfo(s.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length < 0) return 0;  // the anchor is defined for a known length only
        s.capacity = static_cast<std::size_t>(length);
        s.buffer.reset(new char[s.capacity]);  // fresh pages, as a control's first load gets
    }
    if (s.size + n > s.capacity) return 0;
    std::memcpy(s.buffer.get() + s.size, data, n);
    s.size += n;
    return n;
}

// A GET on a fresh connection into a buffer sized from Content-Length; returns the body
// when `keep` is set, and the time in `seconds`.
std::string timedGet(const std::string& url, double timeout, double& seconds, bool keep) {
    Sink s;
    s.curl = curl_easy_init();
    curl_easy_setopt(s.curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(s.curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(s.curl, CURLOPT_WRITEDATA, &s);
    curl_easy_setopt(s.curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(s.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(s.curl, CURLOPT_PROXY, "");
    const auto t0 = Clock::now();
    const CURLcode rc = curl_easy_perform(s.curl);
    seconds = since(t0);
    long status = 0;
    curl_easy_getinfo(s.curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(s.curl);
    if (rc != CURLE_OK || status != 200 || s.size != s.capacity)
        throw std::runtime_error("GET " + url + " failed: " + curl_easy_strerror(rc) + ", status " +
                                 std::to_string(status));
    return keep ? std::string(s.buffer.get(), s.size) : std::string();
}

// Sums every name and value so no part of the tree goes unread.
std::size_t walk(pugi::xml_node node) {
    std::size_t n = std::strlen(node.name()) + std::strlen(node.value());
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) n += walk(c);
    return n;
}

// pugixml's copy, parse and walk in a forked child, timed there and reported through a pipe.
// The same options as a DOM reader of the replies would take.
double pugixmlCold(const std::string& reply, double timeout) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        double t = -1;
        {
            const auto t0 = Clock::now();
            pugi::xml_document doc;
            const unsigned options =
                pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol | pugi::parse_comments | pugi::parse_pi;
            if (doc.load_buffer(reply.data(), reply.size(), options) && walk(doc) > reply.size() / 4) t = since(t0);
        }
        [[maybe_unused]] const ssize_t w = ::write(fds[1], &t, sizeof t);
        ::_exit(0);
    }
    ::close(fds[1]);
    double t = -1;
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout * 1000)) <= 0 || ::read(fds[0], &t, sizeof t) != sizeof t) t = -1;
    ::close(fds[0]);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    if (t < 0) throw std::runtime_error("pugixml's parse of the reply failed or timed out");
    return t;
}

// ---- one size -------------------------------------------------------------------------

struct Figures {
    std::size_t rows = 0, centers = 0, replyBytes = 0;
    double seed = 0;
    double load = 0, start = 0;           // embedded driver: with and without the click
    double server = 0;                    // the embedded server's sweep GET alone
    double control = 0;                   // driver against the static server, less its start
    double staticGet = 0, pugixml = 0;    // anchors
    double loadPerStatic = 0, serverPerStatic = 0, readPerPugixml = 0;
    double peakPerReply = 0, controlPeakPerReply = 0;
};

Figures measure(const Options& o, std::size_t rows) {
    Scratch scratch;
    Figures f;
    f.rows = rows;
    const double timeout = o.timeout > 0 ? o.timeout : 60 + static_cast<double>(rows) * 2e-4;
    const fs::path db = scratch.path / "sweep.sqlite";
    {
        const auto t0 = Clock::now();
        eft::server::Store store(db);
        eft::server::seedSynthetic(store, rows, 1);
        f.seed = since(t0);
    }
    std::cerr << "  " << rows << " charges seeded in " << f.seed << " s\n";

    eft::server::EmbeddedOptions eo;
    eo.dbPath = db;
    eo.exportDir = scratch.path / "export";
    auto server = eft::server::EmbeddedServer::start(eo);
    const std::string sweepUrl = eft::pages::sweepRowsAddress(server->baseAddress(), 1);
    double ignored = 0;
    const std::string reply = timedGet(sweepUrl, timeout, ignored, true);
    f.replyBytes = reply.size();

    eft::bench::LoopbackServer bytes;
    const std::string staticUrl = eft::pages::sweepRowsAddress(bytes.base(), 1);
    bytes.onGet(staticUrl.substr(bytes.base().size()), reply);

    const fs::path loadEmbedded = writeScript(scratch.path, "load.txt", "$SERVER", true);
    const fs::path idleEmbedded = writeScript(scratch.path, "idle.txt", "$SERVER", false);
    const fs::path loadStatic = writeScript(scratch.path, "load-static.txt", bytes.base(), true);
    const fs::path idleStatic = writeScript(scratch.path, "idle-static.txt", bytes.base(), false);
    const std::vector<std::string> embedded{"--embedded-server", "--db", db.string()};
    auto with = [](std::vector<std::string> args, const fs::path& script) {
        args.push_back(script.string());
        return args;
    };

    std::vector<double> load, start, serverGet, control, staticGet, pugi;
    std::vector<double> loadRatio, serverRatio, readRatio, peak, controlPeak;
    for (int round = 0; round < o.runs; ++round) {
        double s = 0;
        timedGet(staticUrl, timeout, s, false);
        staticGet.push_back(s);
        pugi.push_back(pugixmlCold(reply, timeout));
        timedGet(sweepUrl, timeout, s, false);
        serverGet.push_back(s);

        const DriverRun idle = runDriver(o, with(embedded, idleEmbedded), timeout);
        const DriverRun loaded = runDriver(o, with(embedded, loadEmbedded), timeout);
        const DriverRun idleS = runDriver(o, with({}, idleStatic), timeout);
        const DriverRun loadedS = runDriver(o, with({}, loadStatic), timeout);
        if (loaded.centerLines == 0 || loaded.centerLines != loadedS.centerLines)
            throw std::runtime_error("the center list was not filled (" + std::to_string(loaded.centerLines) +
                                     " and " + std::to_string(loadedS.centerLines) + " lines)");
        f.centers = loaded.centerLines;

        load.push_back(loaded.toList);
        start.push_back(idle.toList);
        control.push_back(loadedS.toList - idleS.toList);
        loadRatio.push_back(loaded.toList / staticGet.back());
        serverRatio.push_back(serverGet.back() / staticGet.back());
        // What the control spends beyond receiving the bytes: reading, amounts, center list.
        readRatio.push_back((control.back() - staticGet.back()) / pugi.back());
        const double replyKb = static_cast<double>(reply.size()) / 1024;
        peak.push_back(static_cast<double>(loaded.maxRssKb - idle.maxRssKb) / replyKb);
        controlPeak.push_back(static_cast<double>(loadedS.maxRssKb - idleS.maxRssKb) / replyKb);
        std::cerr << "  round " << round + 1 << ": load " << loaded.toList << " s, static " << staticGet.back()
                  << " s\n";
    }
    server->stop();
    f.load = median(load);
    f.start = median(start);
    f.server = median(serverGet);
    f.control = median(control);
    f.staticGet = median(staticGet);
    f.pugixml = median(pugi);
    f.loadPerStatic = median(loadRatio);
    f.serverPerStatic = median(serverRatio);
    f.readPerPugixml = median(readRatio);
    f.peakPerReply = median(peak);
    f.controlPeakPerReply = median(controlPeak);
    return f;
}

void print(const std::vector<Figures>& all) {
    std::printf("\n%9s %8s %8s | %8s %8s %8s %9s | %8s %9s | %9s %8s %9s | %8s %8s\n", "charges", "centers",
                "reply_MB", "load_s", "start_s", "server_s", "control_s", "static_s", "pugixml_s", "load/stat",
                "srv/stat", "read/pugi", "peak/rep", "ctl_peak");
    for (const Figures& f : all)
        std::printf("%9zu %8zu %8.1f | %8.3f %8.3f %8.3f %9.3f | %8.3f %9.3f | %9.1f %8.2f %9.2f | %8.2f %8.2f\n",
                    f.rows, f.centers, static_cast<double>(f.replyBytes) / 1e6, f.load, f.start, f.server,
                    f.control, f.staticGet, f.pugixml, f.loadPerStatic, f.serverPerStatic, f.readPerPugixml,
                    f.peakPerReply, f.controlPeakPerReply);
    std::printf(
        "\nload_s     process start to the filled center list: eft-driver --embedded-server, click cmdLoadData\n"
        "start_s    the same process without the click (start-up, server start, dump)\n"
        "server_s   the embedded server's sweep GET alone, read by libcurl into a sized buffer\n"
        "control_s  the driver loading the same bytes from the static server, less its start-up\n"
        "static_s   anchor: the same bytes from a static cpp-httplib server into a sized buffer\n"
        "pugixml_s  anchor: pugixml's copy, parse and full walk of the bytes in a fresh process\n"
        "read/pugi  (control_s - static_s) / pugixml_s: the control's read, amounts and list per DOM parse\n"
        "peak/rep   driver's peak RSS less its idle peak, over the reply (server in-process included)\n"
        "ctl_peak   the same for the control alone (driver against the static server)\n");

    std::printf("\ntargets\n");
    auto verdict = [](bool met) { return met ? "met" : "NOT met"; };
    for (const Figures& f : all) {
        if (f.rows == 100'000)
            std::printf("  Load Data 100k <= 1.0 s: %.2f s, %s\n", f.load, verdict(f.load <= 1.0));
        if (f.rows == 1'000'000)
            std::printf("  Load Data 1M <= 10 s: %.2f s, %s\n", f.load, verdict(f.load <= 10.0));
        std::printf("  %zu: read/pugixml <= 0.5: %.2f, %s; control peak/reply <= 0.5: %.2f, %s; "
                    "server/static <= 1.3: %.2f, %s\n",
                    f.rows, f.readPerPugixml, verdict(f.readPerPugixml <= 0.5), f.controlPeakPerReply,
                    verdict(f.controlPeakPerReply <= 0.5), f.serverPerStatic, verdict(f.serverPerStatic <= 1.3));
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options o = parseOptions(argc, argv);
        if (::access(o.driver.c_str(), X_OK) != 0) throw std::runtime_error("no driver at " + o.driver);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
        std::vector<Figures> all;
        for (std::size_t rows : o.sizes) {
            std::cerr << rows << " charges\n";
            all.push_back(measure(o, rows));
        }
        print(all);
        curl_global_cleanup();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "load_data: " << e.what() << "\n";
        return 1;
    }
}
