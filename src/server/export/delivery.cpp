#include "server/export/delivery.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

    CommandOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto left = [&deadline] {
        return std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - std::chrono::steady_clock::now()).count());
    };
    bool timedOut = false;
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    char buffer[4096];
    for (bool open = true; open && !stopped();) {
        pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n > 0) keepHead(outcome.stderrHead, buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR) open = false;
        } else if (left() == 0) {
            timedOut = true;
            break;
        }
    }
    ::close(pipeFds[0]);
    int wait = 0;
    // The command may close its stderr and go on running.
    while (!timedOut && !stopped()) {
        const pid_t done = ::waitpid(pid, &wait, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) break;
        if (left() == 0) timedOut = true;
        else ::usleep(10000);
    }
    if (stopped() && !timedOut && ::waitpid(pid, &wait, WNOHANG) != pid) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &wait, 0) < 0 && errno == EINTR) {
        }
        return std::nullopt;
    }
    if (timedOut) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &wait, 0) < 0 && errno == EINTR) {
        }
        outcome.exitStatus = kTimedOut;
        outcome.stderrHead += "(stopped after " + std::to_string(timeout.count() / 1000) + " s, its time limit)\n";
        return outcome;
    }
    outcome.exitStatus = statusOf(wait);
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
