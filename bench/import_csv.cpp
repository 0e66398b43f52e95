// `eft-server import` of N charges (a million by default) in a fresh process, against the
// anchor of the sqlite3 shell's `.import` of the same CSV files into plain tables of the
// same columns, measured in the same rounds. The import checks every field, every key and
// every reference and maintains the server's indexes; the anchor only stores text.
//
//   import_csv [--charges N] [--runs K] [--server PATH]
//
// The CSV files (1,000 charges to a center, two to a member) are written once. Each round
// imports into a new database, then imports the same files again into it (nothing changes:
// the re-import), and runs the anchor. Wall and CPU (user + system of the child) are printed
// per round with the ratios; the medians follow, and the target (import CPU at most 1.5 times
// the anchor's) is printed as met or NOT met.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "import_files.h"

#ifndef EFT_SERVER_PATH
#define EFT_SERVER_PATH "eft-server"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Timing {
    double wall = 0;
    double cpu = 0;
};

// Runs the program with stdin from `input` (empty: /dev/null) and stdout to /dev/null.
Timing run(const std::vector<std::string>& args, const fs::path& input = {}) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(), 0, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 01, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Timing t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
    return t;
}

// The anchor's tables: every column as text, no keys, as `.import` makes them from a header.
const char* kAnchorScript = ".mode csv\n.import '%s/centers.csv' centers\n.import '%s/members.csv' members\n"
                            ".import '%s/charges.csv' charges\n";

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    long charges = 1'000'000;
    int runs = 3;
    std::string server = EFT_SERVER_PATH;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--charges") charges = std::atol(argv[i + 1]);
        else if (a == "--runs") runs = std::atoi(argv[i + 1]);
        else if (a == "--server") server = argv[i + 1];
    }
    const fs::path dir = fs::temp_directory_path() / ("eft-import-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    try {
        eft::bench::writeImportCsv(dir, {{charges, 1, 1, 100000}});
        char script[4096];
        const std::string d = dir.string();
        std::snprintf(script, sizeof script, kAnchorScript, d.c_str(), d.c_str(), d.c_str());
        std::ofstream(dir / "anchor.sql") << script;

        std::printf("%ld charges; CPU is user + system of the child\n", charges);
        std::printf("round  import_s  import_cpu  again_s  again_cpu  sqlite3_s  sqlite3_cpu  import/sqlite3  cpu_ratio\n");
        std::vector<double> importWall, importCpu, againWall, againCpu, anchorWall, anchorCpu, ratio, cpuRatio;
        const std::vector<std::string> files{(dir / "centers.csv").string(), (dir / "members.csv").string(),
                                             (dir / "charges.csv").string()};
        for (int r = 1; r <= runs; ++r) {
            for (const char* f : {"eft.sqlite", "eft.sqlite-wal", "eft.sqlite-shm", "anchor.sqlite"}) fs::remove(dir / f);
            std::vector<std::string> args{server, "import", "--db", (dir / "eft.sqlite").string()};
            args.insert(args.end(), files.begin(), files.end());
            const Timing first = run(args);
            const Timing again = run(args);
            const Timing anchor = run({"sqlite3", (dir / "anchor.sqlite").string()}, dir / "anchor.sql");
            importWall.push_back(first.wall);
            importCpu.push_back(first.cpu);
            againWall.push_back(again.wall);
            againCpu.push_back(again.cpu);
            anchorWall.push_back(anchor.wall);
            anchorCpu.push_back(anchor.cpu);
            ratio.push_back(first.wall / anchor.wall);
            cpuRatio.push_back(first.cpu / anchor.cpu);
            std::printf("%5d  %8.2f  %10.2f  %7.2f  %9.2f  %9.2f  %11.2f  %14.2f  %9.2f\n", r, first.wall, first.cpu,
                        again.wall, again.cpu, anchor.wall, anchor.cpu, ratio.back(), cpuRatio.back());
        }
        std::printf("median %8.2f  %10.2f  %7.2f  %9.2f  %9.2f  %11.2f  %14.2f  %9.2f\n", median(importWall),
                    median(importCpu), median(againWall), median(againCpu), median(anchorWall), median(anchorCpu),
                    median(ratio), median(cpuRatio));
        // Judged in CPU time, which holds on a shared machine; the wall ratio is for reference.
        std::printf("\ntarget\n  import CPU / sqlite3 CPU  %6.2f  <= 1.5  %-8s (wall ratio %.2f)\n", median(cpuRatio),
                    median(cpuRatio) <= 1.5 ? "met" : "NOT met", median(ratio));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "import_csv: %s\n", e.what());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
