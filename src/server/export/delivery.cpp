#include "server/export/delivery.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include "server/export/file_claim.h"
#include "server/store/store.h"

extern char** environ;

namespace eft::server {
namespace {

constexpr int kTimedOut = 124;
constexpr std::size_t kStderrLines = 10;
constexpr std::size_t kStderrBytes = 2000;

// The first lines of what the command wrote to stderr; the rest is read and dropped so the
// command never blocks on a full pipe.
void keepHead(std::string& head, const char* data, std::size_t length) {
    const auto lines = static_cast<std::size_t>(std::count(head.begin(), head.end(), '\n'));
    if (lines >= kStderrLines || head.size() >= kStderrBytes) return;
    std::size_t take = std::min(length, kStderrBytes - head.size());
    std::size_t seen = lines;
    for (std::size_t i = 0; i < take; ++i)
        if (data[i] == '\n' && ++seen == kStderrLines) take = i + 1;
    head.append(data, take);
}

int statusOf(int wait) {
    if (WIFEXITED(wait)) return WEXITSTATUS(wait);
    if (WIFSIGNALED(wait)) return 128 + WTERMSIG(wait);
    return 255;
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? "no message" : line;
}

// Reads what the pipe (non-blocking) holds now, without waiting for more.
void drain(int fd, std::string& head) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) keepHead(head, buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR) return;
    }
}

void killAndReap(pid_t pid, int& wait) {
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &wait, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::optional<CommandOutcome> runCommand(const std::string& command, const std::filesystem::path& file,
                                         std::chrono::milliseconds timeout, const std::atomic<bool>* stop) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    // The server's sockets are no business of the command's: a listening socket it inherited
    // would keep the port taken after the server died, and a background child of the command
    // would hold it for as long as it runs.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The server blocks its stop signals in every thread; the command must not inherit that.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const std::string script = command + " \"$1\"";
    const std::string path = file.string();
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()),
                    const_cast<char*>("sh"), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error(std::string("cannot start /bin/sh: ") + std::strerror(spawned));
    }
    int errors = pipeFds[0];
    // The command's end is its exit, which a descriptor of the process reports at once; where
    // the kernel has none, a short tick looks for it instead.
    const int exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));

    CommandOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto left = [&deadline] {
        return std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - std::chrono::steady_clock::now()).count());
    };
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    int wait = 0;
    bool exited = false;
    char buffer[4096];
    for (;;) {
        const pid_t done = ::waitpid(pid, &wait, WNOHANG);
        if (done == pid) {
            exited = true;
            break;
        }
        if (done < 0 && errno != EINTR) break;
        if (stopped() || left() == 0) break;
        // A pipe at its end is left out: it would report itself ready again and again.
        pollfd p[2] = {{errors, POLLIN, 0}, {exitFd, POLLIN, 0}};
        const long long tick = exitFd >= 0 ? 1000 : 20;
        const int ready = ::poll(p, 2, static_cast<int>(std::min(left(), tick)));
        if (ready <= 0 || errors < 0 || (p[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = ::read(errors, buffer, sizeof buffer);
        if (n > 0) {
            keepHead(outcome.stderrHead, buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(errors);
            errors = -1;
        }
    }
    if (exitFd >= 0) ::close(exitFd);
    if (errors >= 0) {
        // What the command wrote before it exited is in the pipe; a child it left behind may
        // hold the pipe open for as long as it likes, and is not waited for.
        if (exited) {
            ::fcntl(errors, F_SETFL, ::fcntl(errors, F_GETFL) | O_NONBLOCK);
            drain(errors, outcome.stderrHead);
        }
        ::close(errors);
    }
    if (exited) {
        outcome.exitStatus = statusOf(wait);
        return outcome;
    }
    killAndReap(pid, wait);
    if (stopped()) return std::nullopt;
    outcome.exitStatus = kTimedOut;
    outcome.stderrHead += "(stopped after " + std::to_string(timeout.count() / 1000) + " s, its time limit)\n";
    return outcome;
}

Deliverer::Deliverer(std::filesystem::path dbPath, std::filesystem::path exportDir, DeliveryOptions options,
                     Clock clock, Note note)
    : dbPath_(std::move(dbPath)),
      exportDir_(std::move(exportDir)),
      options_(std::move(options)),
      clock_(std::move(clock)),
      note_(std::move(note)) {
    thread_ = std::thread([this] { run(); });
}

Deliverer::~Deliverer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_ = true;
    changed_.notify_all();
    thread_.join();
}

void Deliverer::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

void Deliverer::run() {
    using Steady = std::chrono::steady_clock;
    std::map<std::int32_t, Steady::time_point> notBefore;  // a failed file's next try
    std::unique_ptr<Store> store;
    const std::string place = publishPlace(exportDir_);
    // Long enough for the command's time limit and the recording after it.
    const auto lease = std::chrono::duration_cast<std::chrono::seconds>(options_.timeout) + std::chrono::seconds(60);
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            Steady::time_point next = Steady::time_point::max();
            for (const auto& [batch, at] : notBefore) next = std::min(next, at);
            changed_.wait_until(lock, next, [this, next] { return woken_ || stopping_ || Steady::now() >= next; });
            if (stopping_) return;
            woken_ = false;
        }
        notBefore.erase(0);
        try {
            if (!store) store = std::make_unique<Store>(dbPath_);
            for (const PendingDelivery& p : store->pendingDeliveries(place)) {
                if (const auto wait = notBefore.find(p.batchNo); wait != notBefore.end() && Steady::now() < wait->second)
                    continue;
                {
                    std::lock_guard lock(mutex_);
                    if (stopping_) return;
                }
                // A server sharing this folder may be delivering the file, or have just done so.
                {
                    Transaction t(store->db(), Transaction::Mode::Write);
                    if (store->delivered(p.batchNo) || !claimFile(*store, p.batchNo, lease)) continue;
                    t.commit();
                }
                const std::string startedAt = isoText(clock_());
                CommandOutcome outcome;
                try {
                    const auto ran = runCommand(options_.command, exportDir_ / p.name, options_.timeout, &stop_);
                    if (!ran) return;
                    outcome = *ran;
                } catch (const std::exception& e) {
                    outcome = {127, std::string(e.what()) + "\n"};
                }
                const std::int64_t attempt = p.attempts + 1;
                {
                    Transaction t(store->db(), Transaction::Mode::Write);
                    store->recordDelivery(p.batchNo, attempt, startedAt, outcome.exitStatus, outcome.stderrHead);
                    store->setFileClaim(p.batchNo, std::nullopt);
                    t.commit();
                }
                if (outcome.exitStatus == 0) {
                    notBefore.erase(p.batchNo);
                    note_("delivered " + p.name + " (attempt " + std::to_string(attempt) + ")");
                    continue;
                }
                // 1, 2, 4 ... times the first wait, up to the last.
                auto wait = options_.firstRetry;
                for (std::int64_t k = 1; k < attempt && wait < options_.lastRetry; ++k) wait *= 2;
                wait = std::min(wait, options_.lastRetry);
                notBefore[p.batchNo] = Steady::now() + wait;
                note_("could not deliver " + p.name + " (attempt " + std::to_string(attempt) + ", exit status " +
                      std::to_string(outcome.exitStatus) + ": " + firstLine(outcome.stderrHead) + "); next try in " +
                      std::to_string(wait.count()) + " s");
            }
        } catch (const std::exception& e) {
            note_(std::string("deliveries paused: ") + e.what());
            store.reset();
            notBefore[0] = Steady::now() + options_.firstRetry;  // the whole pass, again after a wait
        }
    }
}

}  // namespace eft::server
