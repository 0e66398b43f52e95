#pragma once
// Equality of two short byte ranges without a call: tag and field names are a few bytes to
// a couple of dozen, compared once or twice for every element of a reply, where a call to
// memcmp costs more than the comparison. Every load stays inside both ranges.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace eft {

namespace detail {
template <typename W>
inline W loadBytes(const char* p) {
    W w;
    std::memcpy(&w, p, sizeof w);  // one unaligned load once compiled
    return w;
}
}  // namespace detail

inline bool sameBytes(const char* a, const char* b, std::size_t n) {
    using detail::loadBytes;
    if (n >= 8) {
        if (n > 16) return std::memcmp(a, b, n) == 0;
        // Two words that overlap when n < 16 cover the range.
        return ((loadBytes<std::uint64_t>(a) ^ loadBytes<std::uint64_t>(b)) |
                (loadBytes<std::uint64_t>(a + n - 8) ^ loadBytes<std::uint64_t>(b + n - 8))) == 0;
    }
    if (n >= 4)
        return ((loadBytes<std::uint32_t>(a) ^ loadBytes<std::uint32_t>(b)) |
                (loadBytes<std::uint32_t>(a + n - 4) ^ loadBytes<std::uint32_t>(b + n - 4))) == 0;
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

}  // namespace eft
