#pragma once
// The one function every fuzz target defines: libFuzzer calls it with each input it makes up,
// and the replay program (replay_main.cpp) with each file of a corpus. It must not crash, leak,
// hang or trip a sanitizer on any input; anything it rejects is rejected through the code's
// own failure path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace eft::fuzz {

// A promise of the code under test that the input broke: a fault, like a crash.
inline void require(bool promiseKept) {
    if (!promiseKept) std::abort();
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace eft::fuzz
