#pragma once
// Sweep replies for the benchmarks: a page's XML document of any number of rows, shaped as a
// production server sends it (declaration, indented elements, CRLF line ends, escaped names),
// with values drawn from a fixed seed so every run measures the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace eft::bench {

struct SweepReplyOptions {
    std::size_t rows = 100'000;
    int centers = 500;  // rows are spread over this many centers, unevenly, grouped by center
    int country = 1;    // 1 United States (rate 1, no sales taxes), 2 Canada
    std::uint64_t seed = 2011;
};

std::string makeSweepReply(const SweepReplyOptions& options);

}  // namespace eft::bench
