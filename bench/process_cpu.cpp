#include "process_cpu.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/pg_cluster.h"

namespace eft::bench {
namespace {

namespace fs = std::filesystem;

pid_t parentOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string state;
    pid_t parent = -1;
    fields >> state >> parent;
    return parent;
}

}  // namespace

double processCpu(pid_t pid, bool withReaped) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
    // After the name: state is field 3, utime 14, stime 15, cutime 16, cstime 17.
    if (f.size() < 15) return 0;
    double ticks = std::stod(f[11]) + std::stod(f[12]);
    if (withReaped) ticks += std::stod(f[13]) + std::stod(f[14]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::map<pid_t, double> clusterCpu(const eft::test::PgCluster& cluster) {
    std::map<pid_t, double> out;
    std::ifstream pidFile(cluster.folder() / "data" / "postmaster.pid");
    pid_t postmaster = 0;
    if (!(pidFile >> postmaster)) return out;
    out[postmaster] = processCpu(postmaster, true);
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (parentOf(pid) == postmaster) out[pid] = processCpu(pid);
    }
    return out;
}

double cpuSince(const std::map<pid_t, double>& before, const std::map<pid_t, double>& after) {
    double sum = 0;
    for (const auto& [pid, cpu] : after) {
        const auto was = before.find(pid);
        sum += cpu - (was == before.end() ? 0 : was->second);
    }
    return sum;
}

}  // namespace eft::bench
