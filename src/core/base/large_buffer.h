#pragma once
// Buffers of megabytes that are written once, straight through.
#include <string>

namespace eft {

// Reserves `bytes` in `buffer` and, where the system offers it, asks for the reserve to be
// backed by huge pages: written through, fresh memory then faults in 2 MiB at a time instead of
// 4 KiB, which on a virtual machine costs more than writing the bytes. Only a hint; the buffer
// behaves as any other.
void reserveLargeBuffer(std::string& buffer, std::size_t bytes);

}  // namespace eft
