#pragma once
// Inputs shared by the benchmarks, built once per process: generated sweep replies and sweep
// tables read from them with every row's shown amounts derived, as the control holds them
// after a load.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tables/table.h"

namespace eft::bench {

// The United States reply of `rows` rows over 500 centers (cached per size).
const std::string& sweepReply(std::size_t rows);

// A copy made with room for the reader's terminating zero, so the reader never reallocates
// and a baseline parse of the same copy does the same work on the same bytes.
std::string freshCopy(const std::string& reply);

// A sweep table read from sweepReply(rows), sorted by CenterID, amounts derived. Throws
// EftError when the read fails.
Table loadedSweepTable(std::size_t rows);

// The MemberID of every visible row in visiting order.
std::vector<std::int32_t> memberIds(Table& sweep);

// " F = a OR F = b ..." as the control writes its filters.
std::string orFilter(const char* field, const std::vector<std::int32_t>& values);

}  // namespace eft::bench
