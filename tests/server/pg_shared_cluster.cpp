// One PostgreSQL cluster for the whole PostgreSQL half of a ctest run, so each case makes a
// database (a fraction of a second) rather than a cluster (seconds):
//   pg_shared_cluster start FILE   starts it and writes its URI and folder into FILE
//   pg_shared_cluster stop FILE    stops it and removes its folder and FILE
//   pg_shared_cluster bounce CLUSTER MODE FILE
//                                  starts a PgBouncer in pool mode MODE in front of the cluster
//                                  CLUSTER names, and writes its URI and folder into FILE (which
//                                  stop stops in turn); without pgbouncer installed, FILE
//                                  says why, and the cases skip
// Without a PostgreSQL server installed, start writes nothing, and the cases skip as they
// would alone. A case run by itself, without FILE, starts a cluster of its own.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "support/pg_bouncer.h"
#include "support/pg_cluster.h"

namespace {

int start(const std::filesystem::path& file) {
    std::filesystem::remove(file);
    eft::test::PgCluster cluster("eft");
    if (cluster.missing()) {
        std::cout << "no shared cluster: " << cluster.why() << "\n";
        return 0;
    }
    if (!cluster.ready()) {
        std::cerr << cluster.why() << "\n";
        return 1;
    }
    std::ofstream(file) << cluster.uri() << "\n" << cluster.folder().string() << "\n";
    std::cout << "cluster " << cluster.uri() << "\n";
    std::cout.flush();
    // Gone without the destructor, which would stop the cluster the cases are about to use.
    _exit(0);
}

int bounce(const std::filesystem::path& clusterFile, const std::string& mode, const std::filesystem::path& file) {
    std::filesystem::remove(file);
    std::ifstream in(clusterFile);
    std::string uri, folder;
    if (!std::getline(in, uri) || !std::getline(in, folder)) {
        std::cout << "no shared cluster to pool\n";
        return 0;
    }
    eft::test::PgBouncer bouncer(folder, mode);
    if (bouncer.missing()) {
        // No URI, and why: the cases skip, saying so.
        std::ofstream(file) << "\n" << bouncer.why() << "\n";
        std::cout << bouncer.why() << "\n";
        return 0;
    }
    if (!bouncer.ready()) {
        std::cerr << bouncer.why() << "\n";
        return 1;
    }
    bouncer.keep();
    std::ofstream(file) << bouncer.uri() << "\n" << bouncer.folder().string() << "\n";
    std::cout << "pgbouncer " << mode << " " << bouncer.uri() << "\n";
    return 0;
}

int stop(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string uri, folder;
    if (!std::getline(in, uri) || !std::getline(in, folder) || uri.empty()) {
        std::filesystem::remove(file);
        return 0;
    }
    if (std::filesystem::exists(std::filesystem::path(folder) / "pgbouncer.ini")) {
        eft::test::PgBouncer::stop(folder);
        std::filesystem::remove(file);
        return 0;
    }
    long pid = 0;
    std::ifstream(std::filesystem::path(folder) / "data" / "postmaster.pid") >> pid;
    // SIGQUIT: the immediate shutdown; nothing in it is worth keeping.
    eft::test::stopProcess(static_cast<pid_t>(pid), SIGQUIT);
    // The folder holds a database for each case of each run (some gigabytes): it goes in the
    // background, so that ctest does not wait for a loaded disk.
    if (fork() == 0) {
        setsid();
        const int devNull = open("/dev/null", O_RDWR);
        for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(devNull, fd);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        _exit(0);
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc == 3 ? argv[1] : "";
    if (what == "start") return start(argv[2]);
    if (what == "stop") return stop(argv[2]);
    if (argc == 5 && std::string(argv[1]) == "bounce") return bounce(argv[2], argv[3], argv[4]);
    std::cerr << "usage: pg_shared_cluster start|stop FILE, or bounce CLUSTER MODE FILE\n";
    return 2;
}
