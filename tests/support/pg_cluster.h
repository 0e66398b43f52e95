#pragma once
// A throwaway PostgreSQL cluster for one test: initdb into a temporary folder, a postmaster
// listening only on a Unix socket in that folder, one database, and everything stopped and
// deleted when the object goes.
//
// PostgreSQL refuses to run as root, and CI runs the tests as root: the cluster's programs then
// run as the `postgres` user that Debian's server packages create (or `nobody` without it).
// The test process, as root, reaches the socket and the folder whatever their owner.
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace eft::test {

class PgCluster {
public:
    // Starts a cluster with one database named `database`. When it cannot, ready() is false
    // and why() says what was missing or what failed. `settings` ("-c name=value ...") go to
    // the server after the cluster's own, and so override them.
    explicit PgCluster(const std::string& database = "eft", const std::string& settings = {});
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool ready() const { return !uri_.empty(); }
    // No PostgreSQL server is installed here: the one case in which a test skips rather than
    // fails, since scripts/install-deps.sh installs it wherever the archive is reachable.
    bool missing() const { return bin_.empty(); }
    const std::string& why() const { return why_; }
    // "postgresql:///eft?host=/tmp/eft-pg-XXXXXX&port=5432": the database for libpq.
    const std::string& uri() const { return uri_; }
    // The same server, another database (created by createDatabase()).
    std::string uriOf(const std::string& database) const;
    bool createDatabase(const std::string& name);
    // The temporary folder holding the data and the socket; gone with the object.
    const std::filesystem::path& folder() const { return dir_; }
    // The server's log so far, for a failing test's message.
    std::string log() const;

    // Stops the server as an administrator would (its clients are told and cut off), and
    // starts it again on the same data; each waits until done and says whether it worked.
    bool stop();
    bool start();

    // The folder of the server programs (initdb, pg_ctl), newest version first; empty when
    // no PostgreSQL server is installed.
    static std::filesystem::path binaries();

private:
    int runAsOwner(const std::vector<std::string>& argv) const;

    std::filesystem::path bin_;
    std::filesystem::path dir_;  // the socket and the data folder's parent
    uid_t owner_ = 0;
    gid_t ownerGroup_ = 0;
    bool started_ = false;
    std::string options_;  // the server's, for each start
    std::string uri_;
    std::string why_;
};

}  // namespace eft::test
