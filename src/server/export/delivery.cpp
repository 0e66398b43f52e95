#include "server/export/delivery.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "server/export/file_claim.h"
#include "server/export/own_file.h"
#include "server/metrics/metrics.h"
#include "server/store/store.h"

extern char** environ;

namespace eft::server {
namespace {

constexpr int kTimedOut = 124;
// The shell's status for a command it could not run: the file was refused before the command.
constexpr int kNotRun = 126;
// Files the administrator asked to deliver again are found at least this often.
constexpr std::chrono::seconds kLongestPoll{60};
// The waits between tries of an outcome's record.
constexpr std::chrono::seconds kFirstRecordWait{1};
constexpr std::chrono::seconds kLastRecordWait{30};
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

// The deliverers of this process that run now, by the name their claims carry: a claim of one
// of them that has stopped is no longer worked on, though the process still runs.
std::mutex liveMutex;
std::set<std::string> liveDeliverers;
std::atomic<int> deliverersMade = 0;

bool holderWorking(const FileClaim& claim, std::int64_t now) {
    if (claim.until < now) return false;
    if (claim.by.starts_with(thisProcess() + "#")) {
        std::lock_guard lock(liveMutex);
        return liveDeliverers.contains(claim.by);
    }
    return !claimAbandoned(claim, now);
}

// Why the file may not be handed to the command, or nothing: it must be the folder's own file
// with the bytes the database holds (a file swapped for another, a hard link to a key
// included).
std::string fileFault(const std::filesystem::path& folder, const PendingDelivery& file) {
    try {
        const auto bytes = readOwnFile(folder, file.name);
        if (!bytes) return file.name + " is not in the export folder " + folder.string();
        if (*bytes != file.content)
            return file.name + " in the export folder is not the file the database holds for batch " +
                   std::to_string(file.batchNo);
        return {};
    } catch (const std::runtime_error& e) {
        return e.what();
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

bool deliveryUnderWay(const DeliveryAttempt& attempt, const std::optional<FileClaim>& claim, std::int64_t now) {
    return !attempt.exitStatus && attempt.resolution.empty() && claim && !attempt.startedBy.empty() &&
           claim->by == attempt.startedBy && holderWorking(*claim, now);
}

std::vector<OpenDelivery> deliveriesInDoubt(Store& store) {
    const std::int64_t now = epochSeconds();
    std::vector<OpenDelivery> doubts;
    for (OpenDelivery& open : store.openDeliveries())
        if (!deliveryUnderWay(open.attempt, open.claim, now)) doubts.push_back(std::move(open));
    return doubts;
}

std::string serverText(std::string_view by) {
    // "host/pid:[namespace] pid#deliverer" (file_claim.h: thisProcess)
    const std::size_t space = by.rfind(' ');
    if (space == std::string_view::npos) return std::string(by);
    const std::string_view pid = by.substr(space + 1, by.find('#', space) - space - 1);
    const std::string_view host = by.substr(0, std::min(by.find('/'), space));
    if (pid.empty() || host.empty()) return std::string(by);
    return "pid " + std::string(pid) + " on host " + std::string(host);
}

std::string doubtText(const OpenDelivery& doubt) {
    const DeliveryAttempt& a = doubt.attempt;
    std::string text = doubt.name + " (batch " + std::to_string(a.batchNo) + "): attempt " + std::to_string(a.attempt) +
                       " started " + a.startedAt;
    if (!a.startedBy.empty()) text += " by the server with " + serverText(a.startedBy);
    return text + ", no outcome recorded";
}

Deliverer::Deliverer(std::filesystem::path dbPath, std::filesystem::path exportDir, DeliveryOptions options,
                     Clock clock, Note note)
    : dbPath_(std::move(dbPath)),
      exportDir_(std::filesystem::absolute(exportDir).lexically_normal()),
      options_(std::move(options)),
      clock_(std::move(clock)),
      note_(std::move(note)),
      holder_(thisProcess() + "#" + std::to_string(++deliverersMade)) {
    {
        std::lock_guard lock(liveMutex);
        liveDeliverers.insert(holder_);
    }
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
    std::lock_guard lock(liveMutex);
    liveDeliverers.erase(holder_);
}

void Deliverer::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

bool Deliverer::stopping() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void Deliverer::run() {
    using Steady = std::chrono::steady_clock;
    std::map<std::int32_t, Steady::time_point> notBefore;  // a failed file's next try; 0: the next pass
    std::set<std::int32_t> refusedNames;                   // said once
    std::unique_ptr<Store> store;
    const std::string place = publishPlace(exportDir_);
    const auto poll = std::min<std::chrono::seconds>(options_.firstRetry, kLongestPoll);
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            Steady::time_point next = Steady::now() + poll;
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
                if (stopping()) return;
                // The name comes from the database, which others may write: a path there (an
                // absolute one, or one with "..") would hand the bank a file of anyone's choice.
                if (!isFileNameOf(p.name, p.batchNo)) {
                    if (refusedNames.insert(p.batchNo).second)
                        note_(LogLevel::Error, "refused to deliver the file of batch " + std::to_string(p.batchNo) +
                                                   ": its name \"" + p.name +
                                                   "\" is not the export's name for it; nothing was run");
                    continue;
                }
                std::chrono::seconds retryIn{0};
                bool delivered = false;
                if (!deliver(store, p, retryIn, delivered)) return;
                if (delivered) notBefore.erase(p.batchNo);
                else if (retryIn.count() > 0) notBefore[p.batchNo] = Steady::now() + retryIn;
            }
        } catch (const std::exception& e) {
            note_(LogLevel::Error, std::string("deliveries paused: ") + e.what());
            store.reset();
            notBefore[0] = Steady::now() + options_.firstRetry;  // the whole pass, again after a wait
        }
    }
}

bool Deliverer::deliver(std::unique_ptr<Store>& store, const PendingDelivery& p, std::chrono::seconds& retryIn,
                        bool& delivered) {
    // Long enough for the command's time limit and the recording after it.
    const auto lease = std::chrono::duration_cast<std::chrono::seconds>(options_.timeout) + std::chrono::seconds(60);
    std::int64_t attempt = 0;
    {
        // Under the writer lock: no other server starts an attempt of the file meanwhile, and
        // none starts one once this one is recorded, until it has its outcome.
        Transaction t(store->db(), Transaction::Mode::Write);
        const std::int64_t now = epochSeconds();
        if (const auto held = store->fileClaim(p.batchNo); held && held->by != holder_ && holderWorking(*held, now))
            return true;
        const auto started = store->startDelivery(p.batchNo, isoText(clock_()), holder_);
        if (!started) return true;
        store->setFileClaim(p.batchNo, FileClaim{holder_, now + lease.count()});
        t.commit();
        attempt = *started;
    }
    // Recorded as started: from here the attempt ends with its outcome recorded, or in doubt.
    const std::string name = p.name + " (attempt " + std::to_string(attempt) + ")";
    CommandOutcome outcome;
    // Just before the command runs, so what it is handed is what was checked.
    const std::string refused = fileFault(exportDir_, p);
    if (!refused.empty()) {
        outcome = {kNotRun, "not run: " + refused + "\n"};
    } else if (stop_) {
        // Known not to have run: tried again at the next start, not left in doubt.
        outcome = {kNotRun, "not run: the server was stopping\n"};
        record(store, p, attempt, outcome);
        return false;
    } else {
        try {
            const auto ran = runCommand(options_.command, exportDir_ / p.name, options_.timeout, &stop_);
            if (!ran) {
                metrics::delivery(metrics::Delivery::InDoubt);
                note_(LogLevel::Warning, "stopped with the server while delivering " + name +
                      ": whether the bank got the file is not known, so it is in doubt and is not delivered again "
                      "until `eft-server files --delivered " + std::to_string(p.batchNo) + "` or `--redeliver " +
                      std::to_string(p.batchNo) + "`");
                return false;
            }
            outcome = *ran;
        } catch (const std::exception& e) {
            outcome = {127, std::string(e.what()) + "\n"};
        }
    }
    if (!record(store, p, attempt, outcome)) return false;
    metrics::delivery(outcome.exitStatus == 0 ? metrics::Delivery::Delivered : metrics::Delivery::Failed);
    if (outcome.exitStatus == 0) {
        delivered = true;
        note_(LogLevel::Info, "delivered " + name);
        return true;
    }
    // 1, 2, 4 ... times the first wait, up to the last.
    auto wait = options_.firstRetry;
    for (std::int64_t k = 1; k < attempt && wait < options_.lastRetry; ++k) wait *= 2;
    retryIn = std::min(wait, options_.lastRetry);
    const std::string next = "; next try in " + std::to_string(retryIn.count()) + " s";
    if (!refused.empty())
        note_(LogLevel::Error, "refused to deliver " + name + ": " + refused + "; nothing was run" + next);
    else
        note_(LogLevel::Error, "could not deliver " + name + ", exit status " + std::to_string(outcome.exitStatus) +
                                   ": " + firstLine(outcome.stderrHead) + next);
    return true;
}

bool Deliverer::record(std::unique_ptr<Store>& store, const PendingDelivery& p, std::int64_t attempt,
                       const CommandOutcome& outcome) {
    const std::string what = p.name + " (attempt " + std::to_string(attempt) + ", exit status " +
                             std::to_string(outcome.exitStatus) + ")";
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstRecordWait);
    for (bool told = false;;) {
        try {
            if (!store) store = std::make_unique<Store>(dbPath_);
            Transaction t(store->db(), Transaction::Mode::Write);
            store->recordDeliveryOutcome(p.batchNo, attempt, outcome.exitStatus, outcome.stderrHead, isoText(clock_()));
            if (const auto held = store->fileClaim(p.batchNo); held && held->by == holder_)
                store->setFileClaim(p.batchNo, std::nullopt);
            t.commit();
            if (told) note_(LogLevel::Info, "recorded the outcome of " + what);
            return true;
        } catch (const std::exception& e) {
            store.reset();
            if (!told)
                note_(LogLevel::Error, "could not record the outcome of " + what + ": " + e.what() +
                      "; the record is tried again until it is written, and the command is not run again");
            told = true;
        }
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, wait, [this] { return stopping_; })) {
            metrics::delivery(metrics::Delivery::InDoubt);
            note_(LogLevel::Warning, "stopped before the outcome of " + what +
                                         " could be recorded: it is in doubt, and is not delivered again until "
                                         "`eft-server files --delivered " + std::to_string(p.batchNo) +
                                         "` or `--redeliver " + std::to_string(p.batchNo) + "`");
            return false;
        }
        wait = std::min(wait * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLastRecordWait));
    }
}

}  // namespace eft::server
