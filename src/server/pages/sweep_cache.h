#pragma once
// Each center's sweep rows as last written, kept by this process to be served again without
// reading them from the database. An entry is served only while the center's change values,
// read in the reading GET's own transaction, are the ones it was written at: the database moves
// them in the same transaction as every change of the rows (triggers, on both engines), so a
// change committed through any server on the database is never served stale.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/store/store.h"

namespace eft::server {

class SweepCache {
public:
    // The rows of one center, written, and where each row ends in them: served again to a
    // sender that takes pieces of its own, they are cut as when read from the database.
    struct Rows {
        std::string bytes;
        std::vector<std::size_t> ends;
        std::size_t size() const { return bytes.size() + ends.size() * sizeof(std::size_t); }
    };

    // Keeps at most capBytes of rows (Rows::size); zero keeps none.
    explicit SweepCache(std::size_t capBytes) : cap_(capBytes) {}
    // An eighth of the machine's memory, at most 1 GiB: a sweep of a million rows (some 820 MB)
    // fits on a server of 8 GiB or more, and a small machine is not asked for more than it has.
    static std::size_t defaultCap();

    std::size_t cap() const { return cap_; }
    // One GET's walk: entries it used are not evicted for the rows it writes later, so a sweep
    // larger than the cap still finds the same part kept from one GET to the next.
    std::uint64_t startPass();
    // Whether rows written now might be kept: there is room, or an entry this pass did not use.
    bool mayKeep(std::uint64_t pass) const;
    // The center's rows as they stand at its values, or null.
    std::shared_ptr<const Rows> find(const SweepCenter& center, std::uint64_t pass);
    // Keeps the rows written for the center at its values, evicting whole centers used before
    // this pass, longest unused first; kept only if room is made.
    void keep(const SweepCenter& center, Rows rows, std::uint64_t pass);
    std::size_t bytes() const;

private:
    struct Entry {
        std::string name;
        std::int64_t changedAt = 0;
        std::int64_t shownChanges = 0;
        std::shared_ptr<const Rows> rows;
        std::uint64_t lastPass = 0;
    };
    void drop(std::unordered_map<std::int32_t, Entry>::iterator it);

    const std::size_t cap_;
    mutable std::mutex mutex_;
    std::unordered_map<std::int32_t, Entry> entries_;
    std::size_t bytes_ = 0;
    std::uint64_t passes_ = 0;
};

}  // namespace eft::server
