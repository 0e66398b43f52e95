#pragma once
// Keys by the hundred thousand, as an import meets them: one flat array probed slot after slot
// (open addressing), so a key is found with about one cache miss and added without an
// allocation of its own, where a node table allocates, follows and at the end frees every key.
// Keys are never removed.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace eft::server {

// `Hash` gives any 64 bits of a key; they are spread over the table here.
template <typename Key, typename Value, typename Hash>
class KeyTable {
public:
    // Room for `keys` keys in all without growing.
    void reserve(std::size_t keys) {
        if (keys * 10 > slots_.size() * 7) rehash(std::max<std::size_t>(64, std::bit_ceil(keys * 10 / 7 + 1)));
    }

    // The key's value, and true when the key was added with `value` just now.
    std::pair<Value*, bool> tryEmplace(const Key& key, const Value& value) {
        if ((size_ + 1) * 10 > slots_.size() * 7) rehash(std::max<std::size_t>(64, slots_.size() * 2));
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
    struct Slot {
        Key key{};
        Value value{};
        bool used = false;
    };

    // The key's slot, or the free slot where it would go.
    Slot& probe(const Key& key) {
        const std::size_t mask = slots_.size() - 1;
        // Fibonacci hashing: the high bits of the product depend on every bit of the hash.
        for (std::size_t i = static_cast<std::size_t>((Hash{}(key) * 0x9E3779B97F4A7C15ull) >> shift_);;
             i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (!s.used || s.key == key) return s;
        }
    }

    void rehash(std::size_t slots) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(slots, Slot{});
        shift_ = 64 - std::countr_zero(slots);
        for (const Slot& s : old)
            if (s.used) probe(s.key) = s;
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    int shift_ = 64;
};

struct IdHash {
    std::uint64_t operator()(std::int32_t id) const { return static_cast<std::uint32_t>(id); }
};

template <typename Value>
using IdTable = KeyTable<std::int32_t, Value, IdHash>;

}  // namespace eft::server
