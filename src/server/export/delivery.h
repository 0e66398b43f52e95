#pragma once
// Taking published bank files to the bank: an administrator's command (sftp, curl, a
// script) run with the file's path as its argument, within a time limit.
//
// A bank that gets a file twice debits every center twice, so a file is handed to the command
// at most once unless the administrator says otherwise. Each attempt is recorded as started in
// the database before the command runs, and its outcome after; a failed record is tried again,
// never the command. An attempt that has no outcome is under way, or, once its server no longer
// works on it (stopped or killed mid-command, or unable to record the outcome), in doubt: the
// command may or may not have delivered the file. A file in doubt is delivered by no server
// until the administrator resolves it (`eft-server files --delivered` or `--redeliver`). A
// failed attempt (the command ran and exited with another status than 0) is retried with a
// growing wait.
//
// Only the export folder's own files are delivered: a name of the export's own pattern for its
// batch, a regular file right inside the folder (never through a link) with the bytes the
// database holds, checked just before the command runs.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "eftmemb/embedded_server.h"  // LogLevel
#include "server/store/clock.h"
#include "server/store/store.h"

namespace eft::server {

struct DeliveryOptions {
    std::string command;  // empty: files are not delivered
    std::chrono::seconds timeout{300};
    std::chrono::seconds firstRetry{60};  // doubled after each failure, up to lastRetry
    std::chrono::seconds lastRetry{3600};
};

struct CommandOutcome {
    int exitStatus = 0;      // the exit code; 128 + the signal; 124 when the time limit ran out
    std::string stderrHead;  // the first lines of its standard error
};

// Runs `sh -c 'COMMAND "$1"' sh FILE` in a process group of its own, killed when `timeout`
// runs out or, within a second, once `*stop` is set (then nothing is returned). The command
// ends when its process exits: what it wrote to stderr by then is kept, and whatever it left
// running in the background (holding stderr or not) is neither waited for nor stopped. Throws
// std::runtime_error only when the command cannot be started.
std::optional<CommandOutcome> runCommand(const std::string& command, const std::filesystem::path& file,
                                         std::chrono::milliseconds timeout, const std::atomic<bool>* stop = nullptr);

// Whether an attempt without an outcome is still worked on by the server that started it, at
// `now` (epochSeconds): the file's claim is that server's, its lease has not run out, and the
// server still runs.
bool deliveryUnderWay(const DeliveryAttempt& attempt, const std::optional<FileClaim>& claim, std::int64_t now);

// Every delivery in doubt, by batch.
std::vector<OpenDelivery> deliveriesInDoubt(Store& store);

// What is known of a delivery in doubt, on one line: the file, its batch, the attempt, when it
// started and by which server.
std::string doubtText(const OpenDelivery& doubt);

// A server process as a delivery records it (file_claim.h), as people read it: "pid 4242 on
// host db-1"; the text as it is when it is not of that form.
std::string serverText(std::string_view by);

// One thread that delivers what is published into its folder and not yet delivered: at once
// after start and after each wake(), again when a failed file's wait is over, and at least every
// minute (or --deliver-retry, when shorter), which finds the files the administrator asked to
// deliver again. Owns its own connection.
class Deliverer {
public:
    // Takes each line for the log, with its level: a delivery that failed or could not be
    // recorded is an error, one left in doubt a warning.
    using Note = std::function<void(LogLevel level, std::string_view line)>;
    Deliverer(std::filesystem::path dbPath, std::filesystem::path exportDir, DeliveryOptions options, Clock clock,
              Note note);
    // Stops, killing a command under way: its file is then in doubt, as is one whose outcome
    // could not be recorded by then.
    ~Deliverer();
    Deliverer(const Deliverer&) = delete;
    Deliverer& operator=(const Deliverer&) = delete;

    // Something new may be published.
    void wake();

private:
    void run();
    // Runs the command for one file, between the record of its start and that of its outcome.
    // False when the deliverer stops meanwhile.
    bool deliver(std::unique_ptr<Store>& store, const PendingDelivery& file, std::chrono::seconds& retryIn,
                 bool& delivered);
    // Writes the outcome, trying again with a wait until it is written; false when the deliverer
    // stops first (the attempt is then in doubt).
    bool record(std::unique_ptr<Store>& store, const PendingDelivery& file, std::int64_t attempt,
                const CommandOutcome& outcome);
    bool stopping();

    std::filesystem::path dbPath_;
    std::filesystem::path exportDir_;  // absolute
    DeliveryOptions options_;
    Clock clock_;
    Note note_;
    std::string holder_;  // this deliverer, as its claims and attempts name it
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = true;
    bool stopping_ = false;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

}  // namespace eft::server
