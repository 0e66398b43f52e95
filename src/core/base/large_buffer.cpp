#include "base/large_buffer.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace eft {

void reserveLargeBuffer(std::string& buffer, std::size_t bytes) {
    buffer.reserve(bytes);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Under one huge page there is nothing to gain. Only whole pages inside the allocation may
    // be advised; a refusal changes nothing.
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (buffer.capacity() < 2 * kHugePage) return;
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
    const std::uintptr_t last = (begin + buffer.capacity()) & ~(page - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace eft
