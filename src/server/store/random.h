#pragma once
// SplitMix64: a tiny generator that gives the same numbers on every platform and library,
// unlike the standard distributions, so demo and benchmark data are the same everywhere.
#include <array>
#include <cstddef>
#include <cstdint>

namespace eft::server {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }
    // An amount in whole cents between lo and hi dollars.
    float dollars(int lo, int hi) { return static_cast<float>(between(lo * 100, hi * 100)) / 100.0f; }
    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) { return items[below(static_cast<int>(N))]; }
    template <typename T, std::size_t N>
    const T& pick(const std::array<T, N>& items) { return items[below(static_cast<int>(N))]; }

private:
    std::uint64_t state_;
};

}  // namespace eft::server
