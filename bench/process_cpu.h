#pragma once
// The CPU (user + system) that other processes spend: an eft-server child, and a throwaway
// PostgreSQL cluster's postmaster with its backends, read from /proc.
#include <sys/types.h>

#include <map>

namespace eft::test {
class PgCluster;
}

namespace eft::bench {

// Seconds of CPU of a process, with the children it has reaped when asked.
double processCpu(pid_t pid, bool withReaped = false);

// The CPU of a cluster's processes, each by its pid: the postmaster with the backends it has
// reaped, and each live child. Compared per process (cpuSince), so backends opened before a
// measurement count only what they do after it.
std::map<pid_t, double> clusterCpu(const eft::test::PgCluster& cluster);
double cpuSince(const std::map<pid_t, double>& before, const std::map<pid_t, double>& after);

}  // namespace eft::bench
