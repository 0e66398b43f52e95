#pragma once
// The library's version numbers, shown on both version labels: the project's version, as the
// installed <eftmemb/version.h> gives it to hosts.
#include "eftmemb/version.h"

namespace eft {
inline constexpr int kVersionMajor = EFTMEMB_VERSION_MAJOR;
inline constexpr int kVersionMinor = EFTMEMB_VERSION_MINOR;
inline constexpr int kVersionRevision = EFTMEMB_VERSION_PATCH;
}  // namespace eft
