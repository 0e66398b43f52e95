#include "server/export/file_claim.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "server/store/store.h"

namespace eft::server {
namespace {

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

// The processes a pid can be checked against: this host's, in this pid namespace (two
// containers may share a host name, never a namespace).
std::string processSpace() {
    std::error_code ec;
    const std::filesystem::path ns = std::filesystem::read_symlink("/proc/self/ns/pid", ec);
    return hostName() + (ec ? std::string() : "/" + ns.string());
}

bool running(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

}  // namespace

std::string thisProcess() { return processSpace() + " " + std::to_string(::getpid()); }

std::string publishPlace(const std::filesystem::path& dir) {
    return hostName() + ":" + std::filesystem::absolute(dir).lexically_normal().string();
}

std::int64_t epochSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool claimAbandoned(const FileClaim& claim, std::int64_t now) {
    if (claim.until < now) return true;
    const std::size_t space = claim.by.rfind(' ');
    if (space == std::string::npos || claim.by.substr(0, space) != processSpace()) return false;
    return !running(std::strtol(claim.by.c_str() + space + 1, nullptr, 10));
}

bool claimFile(Store& store, std::int32_t batchNo, std::chrono::seconds lease) {
    const std::int64_t now = epochSeconds();
    const std::string me = thisProcess();
    if (const auto held = store.fileClaim(batchNo); held && held->by != me && !claimAbandoned(*held, now)) return false;
    store.setFileClaim(batchNo, FileClaim{me, now + lease.count()});
    return true;
}

}  // namespace eft::server
