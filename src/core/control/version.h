#pragma once
// The library's version numbers, shown on both version labels.
namespace eft {
inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 7;
}  // namespace eft
