#pragma once
// The running server's settlement by rule: a thread that settles the batches whose return window
// has passed at once when started, and then once a period, so that no operator or timer has to
// ask for it. The work itself is the owner's (it holds the write discipline); a pass that fails
// is told to the owner's log and tried again at the next period.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace eft::server::returns {

class Settler {
public:
    // `pass` runs on the thread; whatever it throws is handed to `failed`, and the thread goes on.
    Settler(std::chrono::milliseconds period, std::function<void()> pass,
            std::function<void(const std::exception&)> failed);
    // Stops at once between passes; a pass under way ends first (it is one transaction).
    ~Settler();
    Settler(const Settler&) = delete;
    Settler& operator=(const Settler&) = delete;

private:
    void run();

    std::chrono::milliseconds period_;
    std::function<void()> pass_;
    std::function<void(const std::exception&)> failed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace eft::server::returns
