#pragma once
// "&Save": the chosen member rows as save records, posted to the server in one form.
#include <cstdint>
#include <optional>
#include <string>

#include "sweep/row_amounts.h"

namespace eft {

class Context;
class Table;
namespace pages {
class SaveBodyWriter;
}

// What one save record carries of a sweep row.
struct SaveRow {
    std::optional<std::int32_t> MemberID, CenterID, Source, SweepSequence, TrustID;
    Amount ConversionRate, Royalty, NAC, RoyaltyReserve, FranchiseFee, FranchiseFeeReserve;
    Amount GSTshow, PSTshow, NMCshow;
};

// The 17 key=value pairs of one row, in their fixed order; throws without MemberID or rate.
std::string saveRecord(const SaveRow& row, std::int32_t personId, std::int16_t personType);
// The same record added to a save body, written in its encoded form.
void addSaveRecord(pages::SaveBodyWriter& body, const SaveRow& row, std::int32_t personId, std::int16_t personType);
SaveRow saveRowOf(const Table& sweep);

// One save carries at most this many rows: records are numbered with 16-bit integers.
inline constexpr std::size_t kMaxSaveRecords = 32767;

void cmdSaveMerchandise_Click(Context& ctx);

}  // namespace eft
