#pragma once
// Taking published bank files to the bank: an administrator's command (sftp, curl, a
// script) run with the file's path as its argument, within a time limit. Every attempt is
// recorded in the database; a failed one is retried with a growing wait, and a file whose
// delivery succeeded is never delivered again.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "server/store/clock.h"

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

// One thread that delivers what is published and not yet delivered: at once after start and
// after each wake(), and again when a failed file's wait is over. Owns its own connection.
class Deliverer {
public:
    using Note = std::function<void(std::string_view line)>;
    Deliverer(std::filesystem::path dbPath, std::filesystem::path exportDir, DeliveryOptions options, Clock clock,
              Note note);
    ~Deliverer();  // stops, killing a command under way (its file is tried again at the next start)
    Deliverer(const Deliverer&) = delete;
    Deliverer& operator=(const Deliverer&) = delete;

    // Something new may be published.
    void wake();

private:
    void run();

    std::filesystem::path dbPath_;
    std::filesystem::path exportDir_;
    DeliveryOptions options_;
    Clock clock_;
    Note note_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = true;
    bool stopping_ = false;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

}  // namespace eft::server
