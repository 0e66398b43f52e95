#pragma once
// Keys by the hundred thousand, as an import meets them: one flat array probed slot after slot
// (open addressing), so a key is added without an allocation of its own, where a node table
// allocates, follows and at the end frees every key. Keys are never removed.
//
// Files list their keys mostly in order, so neighbouring keys are kept in neighbouring slots: a
// key's hash places it in a block of kBlock slots (its upper bits, spread over the table) and
// within it (its low bits, as they are). Keys met in order then walk through memory rather
// than miss the cache at every line, and keys in any pattern still spread by blocks.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace eft::server {

// `Hash` gives 64 bits of a key: the low kBlockBits say where in its block the key goes, the
// rest which block, and are spread over the table here. Neighbouring keys should share the
// upper bits, and no more than a few keys the same 64.
inline constexpr int kBlockBits = 6;

template <typename Key, typename Value, typename Hash>
class KeyTable {
public:
    // Room for `keys` keys in all without growing.
    void reserve(std::size_t keys) {
        if (keys * 10 > slots_.size() * 7) rehash(std::max<std::size_t>(kMinSlots, std::bit_ceil(keys * 10 / 7 + 1)));
    }

    // The key's value, and true when the key was added with `value` just now.
    std::pair<Value*, bool> tryEmplace(const Key& key, const Value& value) {
        if ((size_ + 1) * 10 > slots_.size() * 7) rehash(std::max<std::size_t>(kMinSlots, slots_.size() * 2));
        Slot& s = probe(key);
        if (s.used) return {&s.value, false};
        s = Slot{key, value, true};
        ++size_;
        return {&s.value, true};
    }

    const Value* find(const Key& key) const {
        if (size_ == 0) return nullptr;
        const Slot& s = const_cast<KeyTable*>(this)->probe(key);
        return s.used ? &s.value : nullptr;
    }
    bool contains(const Key& key) const { return find(key) != nullptr; }
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;
    static constexpr std::size_t kMinSlots = 2 * kBlock;

    struct Slot {
        Key key{};
        Value value{};
        bool used = false;
    };

    // The key's slot, or the free slot where it would go.
    Slot& probe(const Key& key) {
        const std::size_t mask = slots_.size() - 1;
        const std::uint64_t h = Hash{}(key);
        // Fibonacci hashing of the block: the high bits of the product depend on every bit.
        const auto block = static_cast<std::size_t>(((h >> kBlockBits) * 0x9E3779B97F4A7C15ull) >> shift_);
        for (std::size_t i = (block << kBlockBits | (h & (kBlock - 1))) & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (!s.used || s.key == key) return s;
        }
    }

    void rehash(std::size_t slots) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(slots, Slot{});
        shift_ = 64 - (std::countr_zero(slots) - kBlockBits);
        for (const Slot& s : old)
            if (s.used) probe(s.key) = s;
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    int shift_ = 64;
};

// Consecutive ids in consecutive slots.
struct IdHash {
    std::uint64_t operator()(std::int32_t id) const { return static_cast<std::uint32_t>(id); }
};

template <typename Value>
using IdTable = KeyTable<std::int32_t, Value, IdHash>;

}  // namespace eft::server
