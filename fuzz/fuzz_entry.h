#pragma once
// The one function every fuzz target defines: libFuzzer calls it with each input it makes up,
// and the replay program (replay_main.cpp) with each file of a corpus. It must not crash, leak,
// hang or trip a sanitizer on any input; anything it rejects is rejected through the code's
// own failure path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/fetch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace eft::fuzz {

// A promise of the code under test that the input broke: a fault, like a crash.
inline void require(bool promiseKept) {
    if (!promiseKept) std::abort();
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A fetch that hands `reply` over in pieces of `piece` bytes, as a transfer would, and succeeds.
inline Fetch fetchInPieces(std::string_view reply, std::size_t piece) {
    return [reply, piece](const std::string&, const BodyConsumer& consume) {
        for (std::size_t at = 0; at < reply.size(); at += piece)
            if (!consume(reply.substr(at, piece))) break;
        FetchResult result;
        result.ok = true;
        result.status = 200;
        return result;
    };
}

}  // namespace eft::fuzz
