#pragma once
// What identifies a stored charge, and what a save stores for one.
#include <cstdint>

#include "server/store/row_amounts.h"

namespace eft::server {

// A charge is one member's charge at one center from one source in one sweep sequence.
struct ChargeKey {
    std::int32_t memberId = 0;
    std::int32_t centerId = 0;
    std::int16_t source = 0;
    std::int16_t sweepSequence = 0;
    friend bool operator==(const ChargeKey&, const ChargeKey&) = default;
};

struct SaveRecord {
    ChargeKey key;
    std::int32_t personId = 0;
    std::int16_t personType = 0;
    float conversionRate = 1;
    PostedAmounts amounts;
    bool trust = false;
};

}  // namespace eft::server
