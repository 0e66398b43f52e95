#include "support/pg_cluster.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

namespace eft::test {
namespace {

namespace fs = std::filesystem;

// No TCP at all: the socket's name is all the port number is used for, so every cluster can
// use the same one in a folder of its own.
constexpr const char* kPort = "5432";
constexpr const char* kSuperuser = "eft";

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The number of a version folder ("15", "9.6"), for picking the newest; -1 when not a number.
double versionOf(const fs::path& folder) {
    try {
        return std::stod(folder.filename().string());
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace

fs::path PgCluster::binaries() {
    fs::path best;
    double bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const fs::path bin = entry.path() / "bin";
        const double version = versionOf(entry.path());
        if (version > bestVersion && fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl")) {
            best = bin;
            bestVersion = version;
        }
    }
    return best;
}

PgCluster::PgCluster(const std::string& database, const std::string& settings) : bin_(binaries()) {
    if (bin_.empty()) {
        why_ = "no PostgreSQL server under /usr/lib/postgresql/*/bin (scripts/install-deps.sh installs it)";
        return;
    }
    owner_ = geteuid();
    ownerGroup_ = getegid();
    if (owner_ == 0) {
        const passwd* pw = getpwnam("postgres");
        if (!pw) pw = getpwnam("nobody");
        if (!pw) {
            why_ = "running as root and neither a postgres nor a nobody user to run the cluster as";
            return;
        }
        owner_ = pw->pw_uid;
        ownerGroup_ = pw->pw_gid;
    }
    // Unix socket paths are short (108 bytes): a long TMPDIR gives way to /tmp, and so does any
    // TMPDIR when the cluster runs as another user, who may not be able to reach root's.
    fs::path tmp = fs::temp_directory_path();
    if (tmp.string().size() > 60 || owner_ != geteuid()) tmp = "/tmp";
    std::string pattern = (tmp / "eft-pg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        why_ = "cannot make a folder under " + tmp.string();
        return;
    }
    dir_ = pattern;
    if (chown(dir_.c_str(), owner_, ownerGroup_) != 0) {
        why_ = "cannot hand " + dir_.string() + " to the cluster's user";
        return;
    }

    const std::string data = (dir_ / "data").string();
    if (runAsOwner({(bin_ / "initdb").string(), "-D", data, "-U", kSuperuser, "--auth=trust", "--encoding=UTF8",
                    "--locale=C", "--no-sync", "--no-instructions"}) != 0) {
        why_ = "initdb failed: " + log();
        return;
    }
    // Durability is not what these clusters test: what the server relies on is the database's
    // locking and transactions, which fsync does not change.
    options_ = "-c listen_addresses='' -k " + dir_.string() + " -p " + kPort +
               " -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
               " -c shared_buffers=16MB -c max_connections=200 " + settings;
    if (!start()) return;
    if (!createDatabase(database)) return;
    uri_ = uriOf(database);
}

bool PgCluster::start() {
    if (runAsOwner({(bin_ / "pg_ctl").string(), "start", "-D", (dir_ / "data").string(), "-w", "-t", "60", "-l",
                    (dir_ / "server.log").string(), "-o", options_}) != 0) {
        why_ = "pg_ctl start failed: " + log();
        return false;
    }
    started_ = true;
    return true;
}

bool PgCluster::stop() {
    if (runAsOwner({(bin_ / "pg_ctl").string(), "stop", "-D", (dir_ / "data").string(), "-m", "fast", "-w", "-t",
                    "60"}) != 0) {
        why_ = "pg_ctl stop failed: " + log();
        return false;
    }
    started_ = false;
    return true;
}

PgCluster::~PgCluster() {
    if (started_)
        runAsOwner({(bin_ / "pg_ctl").string(), "stop", "-D", (dir_ / "data").string(), "-m", "immediate", "-w"});
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

std::string PgCluster::uriOf(const std::string& database) const {
    return "postgresql://" + std::string(kSuperuser) + "@/" + database + "?host=" + dir_.string() + "&port=" + kPort;
}

bool PgCluster::createDatabase(const std::string& name) {
    PGconn* conn = PQconnectdb(uriOf("postgres").c_str());
    bool done = false;
    if (PQstatus(conn) != CONNECTION_OK) {
        why_ = std::string("cannot connect to the new cluster: ") + PQerrorMessage(conn);
    } else {
        char* quoted = PQescapeIdentifier(conn, name.c_str(), name.size());
        PGresult* r = PQexec(conn, ("CREATE DATABASE " + std::string(quoted)).c_str());
        PQfreemem(quoted);
        done = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!done) why_ = std::string("CREATE DATABASE failed: ") + PQresultErrorMessage(r);
        PQclear(r);
    }
    PQfinish(conn);
    return done;
}

std::string PgCluster::log() const { return readAll(dir_ / "setup.log") + readAll(dir_ / "server.log"); }

int PgCluster::runAsOwner(const std::vector<std::string>& argv) const {
    // Everything the child needs is made before the fork: a test process has threads, and the
    // child may only make async-signal-safe calls until it execs.
    std::vector<std::string> args = argv;
    std::vector<char*> a;
    for (auto& s : args) a.push_back(s.data());
    a.push_back(nullptr);
    const std::string logFile = (dir_ / "setup.log").string();
    const std::string cwd = dir_.string();
    const bool switchUser = geteuid() != owner_;
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (switchUser && (setgroups(0, nullptr) != 0 || setgid(ownerGroup_) != 0 || setuid(owner_) != 0))
            _exit(125);
        if (chdir(cwd.c_str()) != 0) _exit(125);
        const int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(125);
        const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        execv(a[0], a.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace eft::test
