#include "server/pages/sweep_cache.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace eft::server {

std::size_t SweepCache::defaultCap() {
    constexpr std::size_t kMost = std::size_t{1} << 30;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageBytes = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageBytes <= 0) return std::size_t{256} << 20;
    const std::size_t eighth = static_cast<std::size_t>(pages) / 8 * static_cast<std::size_t>(pageBytes);
    // Whole megabytes, as the option counts them.
    return std::min(kMost, eighth) >> 20 << 20;
}

std::uint64_t SweepCache::startPass() {
    std::lock_guard lock(mutex_);
    return ++passes_;
}

void SweepCache::drop(std::unordered_map<std::int32_t, Entry>::iterator it) {
    bytes_ -= it->second.rows->size();
    entries_.erase(it);
}

bool SweepCache::mayKeep(std::uint64_t pass) const {
    if (cap_ == 0) return false;
    std::lock_guard lock(mutex_);
    if (bytes_ < cap_) return true;
    return std::any_of(entries_.begin(), entries_.end(), [pass](const auto& e) { return e.second.lastPass < pass; });
}

std::shared_ptr<const SweepCache::Rows> SweepCache::find(const SweepCenter& center, std::uint64_t pass) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(center.id);
    if (it == entries_.end()) return nullptr;
    Entry& e = it->second;
    if (e.changedAt != center.changedAt || e.shownChanges != center.shownChanges || e.name != center.name) {
        // Never right again: the values only grow.
        drop(it);
        return nullptr;
    }
    e.lastPass = std::max(e.lastPass, pass);
    return e.rows;
}

void SweepCache::keep(const SweepCenter& center, Rows rows, std::uint64_t pass) {
    const std::size_t size = rows.size();
    if (size > cap_) return;
    std::lock_guard lock(mutex_);
    if (const auto it = entries_.find(center.id); it != entries_.end()) drop(it);
    if (bytes_ + size > cap_) {
        std::vector<std::pair<std::uint64_t, std::int32_t>> old;
        for (const auto& [id, e] : entries_)
            if (e.lastPass < pass) old.emplace_back(e.lastPass, id);
        std::sort(old.begin(), old.end());
        std::size_t freeable = 0;
        for (const auto& [lastPass, id] : old) freeable += entries_.at(id).rows->size();
        if (bytes_ - freeable + size > cap_) return;
        for (const auto& [lastPass, id] : old) {
            if (bytes_ + size <= cap_) break;
            drop(entries_.find(id));
        }
    }
    bytes_ += size;
    entries_[center.id] = Entry{center.name, center.changedAt, center.shownChanges,
                                std::make_shared<const Rows>(std::move(rows)), pass};
}

std::size_t SweepCache::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

}  // namespace eft::server
