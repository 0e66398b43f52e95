#pragma once
// A PgBouncer for tests, in front of a PgCluster: listening on 127.0.0.1 at a free port, with a
// configuration and an authentication file of its own in a temporary folder, every database of
// the cluster reachable through it (a new one too). Stopped and deleted when the object goes,
// unless kept.
//
// PgBouncer refuses to run as root, as PostgreSQL does: as root it runs as the user the
// cluster runs as.
#include <filesystem>
#include <string>

#include <sys/types.h>

namespace eft::test {

class PgBouncer {
public:
    // `cluster` is the folder of the cluster's socket (PgCluster::folder()); `mode` PgBouncer's
    // pool_mode: session, transaction or statement. ready() once a client gets through to
    // `database`.
    PgBouncer(const std::filesystem::path& cluster, const std::string& mode, const std::string& database = "eft");
    ~PgBouncer();
    PgBouncer(const PgBouncer&) = delete;
    PgBouncer& operator=(const PgBouncer&) = delete;

    bool ready() const { return !uri_.empty(); }
    // No pgbouncer installed here (scripts/install-deps.sh installs it).
    bool missing() const { return missing_; }
    const std::string& why() const { return why_; }
    // "postgresql://eft@127.0.0.1:PORT/eft"
    const std::string& uri() const { return uri_; }
    const std::filesystem::path& folder() const { return dir_; }
    std::string log() const;

    // Leaves the pooler running and its folder in place past the object: stop(folder()) ends it.
    void keep() { kept_ = true; }
    // Stops the pooler whose folder this is and removes the folder.
    static void stop(const std::filesystem::path& folder);

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    bool missing_ = false;
    bool kept_ = false;
    std::string uri_;
    std::string why_;
};

// Ends the process `pid` with `signal` and waits (up to 30 s) until it is gone, whoever its
// parent is: a zombie nobody reaps counts as gone.
void stopProcess(pid_t pid, int signal);

}  // namespace eft::test
