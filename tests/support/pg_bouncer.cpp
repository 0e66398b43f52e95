#include "support/pg_bouncer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace eft::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = "/usr/sbin/pgbouncer";
constexpr const char* kUser = "eft";

// A port nothing listens on now; the pooler takes it a moment later.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool answers(const std::string& uri) {
    PGconn* conn = PQconnectdb((uri + "?connect_timeout=2").c_str());
    const bool ok = PQstatus(conn) == CONNECTION_OK;
    PQfinish(conn);
    return ok;
}

bool zombieOrGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    // "pid (name) S ...": the state follows the name's closing parenthesis.
    const std::size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z';
}

}  // namespace

void stopProcess(pid_t pid, int signal) {
    if (pid <= 0 || ::kill(pid, signal) != 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
        // Our own child is reaped here; another's is gone once it is a zombie.
        if (::waitpid(pid, nullptr, WNOHANG) == pid || zombieOrGone(pid)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PgBouncer::PgBouncer(const fs::path& cluster, const std::string& mode, const std::string& database) {
    if (!fs::exists(kProgram)) {
        missing_ = true;
        why_ = std::string("no ") + kProgram + " (scripts/install-deps.sh installs pgbouncer)";
        return;
    }
    struct stat owner {};
    if (::stat(cluster.c_str(), &owner) != 0) {
        why_ = "no cluster at " + cluster.string();
        return;
    }
    std::string pattern = "/tmp/eft-pgbouncer-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        why_ = "cannot make a folder under /tmp";
        return;
    }
    dir_ = pattern;
    const bool switchUser = geteuid() == 0;
    if (switchUser && chown(dir_.c_str(), owner.st_uid, owner.st_gid) != 0) {
        why_ = "cannot hand " + dir_.string() + " to the cluster's user";
        return;
    }
    const int port = freePort();
    std::ofstream(dir_ / "users.txt") << '"' << kUser << "\" \"\"\n";
    // The pools of the databases a run makes and leaves behind close their sessions soon, so
    // that they never add up to the cluster's max_connections. A database that takes no
    // connection (the outage cases) is an error to the client within seconds, not a wait, and
    // the first connection after it tries the database again at once.
    std::ofstream(dir_ / "pgbouncer.ini") << "[databases]\n"
                                          << "* = host=" << cluster.string() << " port=5432\n"
                                          << "[pgbouncer]\n"
                                          << "listen_addr = 127.0.0.1\n"
                                          << "listen_port = " << port << "\n"
                                          << "unix_socket_dir =\n"
                                          << "auth_type = trust\n"
                                          << "auth_file = " << (dir_ / "users.txt").string() << "\n"
                                          << "auth_user = " << kUser << "\n"
                                          << "pool_mode = " << mode << "\n"
                                          << "max_client_conn = 1000\n"
                                          << "default_pool_size = 20\n"
                                          << "server_idle_timeout = 3\n"
                                          << "query_wait_timeout = 10\n"
                                          << "server_login_retry = 0\n";
    const std::string config = (dir_ / "pgbouncer.ini").string();
    const std::string logFile = (dir_ / "pgbouncer.log").string();
    std::vector<std::string> args = {kProgram, config};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
        why_ = "fork failed";
        return;
    }
    if (pid_ == 0) {
        // Its own session, and standard streams of its own: a ctest fixture that starts it
        // ends before it does, and ctest waits for the end of every stream the fixture had.
        setsid();
        if (switchUser && (setgroups(0, nullptr) != 0 || setgid(owner.st_gid) != 0 || setuid(owner.st_uid) != 0))
            _exit(125);
        const int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(125);
        const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::ofstream(dir_ / "pid") << pid_ << "\n";
    const std::string uri = "postgresql://" + std::string(kUser) + "@127.0.0.1:" + std::to_string(port) + "/";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            why_ = "pgbouncer ended at start: " + log();
            return;
        }
        if (answers(uri + database)) {
            uri_ = uri + database;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "pgbouncer did not answer within 30 s: " + log();
}

PgBouncer::~PgBouncer() {
    if (kept_ || dir_.empty()) return;
    // SIGTERM: PgBouncer's immediate shutdown.
    stopProcess(pid_, SIGTERM);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void PgBouncer::stop(const fs::path& folder) {
    long pid = 0;
    std::ifstream(folder / "pid") >> pid;
    stopProcess(static_cast<pid_t>(pid), SIGTERM);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::string PgBouncer::log() const {
    std::ifstream in(dir_ / "pgbouncer.log");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace eft::test
