// One PostgreSQL cluster for the whole PostgreSQL half of a ctest run, so each case makes a
// database (a fraction of a second) rather than a cluster (seconds):
//   pg_shared_cluster start FILE   starts it and writes its URI and folder into FILE
//   pg_shared_cluster stop FILE    stops it and removes its folder and FILE
// Without a PostgreSQL server installed, start writes nothing, and the cases skip as they
// would alone. A case run by itself, without FILE, starts a cluster of its own.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

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

int stop(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string uri, folder;
    if (!std::getline(in, uri) || !std::getline(in, folder)) return 0;
    long pid = 0;
    std::ifstream(std::filesystem::path(folder) / "data" / "postmaster.pid") >> pid;
    // SIGQUIT: the immediate shutdown; nothing in it is worth keeping.
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), SIGQUIT) == 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (::kill(static_cast<pid_t>(pid), 0) == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::remove(file, ignored);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc == 3 ? argv[1] : "";
    if (what == "start") return start(argv[2]);
    if (what == "stop") return stop(argv[2]);
    std::cerr << "usage: pg_shared_cluster start|stop FILE\n";
    return 2;
}
