#include "server/returns/settler.h"

#include <exception>
#include <utility>

namespace eft::server::returns {

Settler::Settler(std::chrono::milliseconds period, std::function<void()> pass,
                 std::function<void(const std::exception&)> failed)
    : period_(period), pass_(std::move(pass)), failed_(std::move(failed)) {
    thread_ = std::thread([this] { run(); });
}

Settler::~Settler() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Settler::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        try {
            pass_();
        } catch (const std::exception& e) {
            failed_(e);
        }
        std::unique_lock lock(mutex_);
        // Measured on the steady clock: a wall clock set back must not stall settlement.
        if (changed_.wait_for(lock, period_, [this] { return stopping_; })) return;
    }
}

}  // namespace eft::server::returns
