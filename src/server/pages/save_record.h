#pragma once
// The save post: its body of numbered, form-encoded save records and the record itself, a
// line of 17 key=value pairs in a fixed order. Parsing is strict; every way a record can be
// malformed is refused with a one-line reason, so nothing doubtful is ever saved.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/charge.h"
#include "server/store/row_amounts.h"

namespace eft::server {

// The 17 keys in the order a record carries them.
inline constexpr std::string_view kSaveRecordKeys[] = {
    "MemberID",     "Status",         "PersonID",    "PersonType",          "ConversionRate", "CenterID",
    "Source",       "Royalty",        "NAC",         "RoyaltyReserve",      "FranchiseFee",   "FranchiseFeeReserve",
    "GSTshow",      "PSTShow",        "NMCshow",     "SweepSequence",       "Trust"};

// One decoded record. Throws RequestError naming the fault (without the record's name).
SaveRecord parseSaveRecord(std::string_view record);

// Whether s is one or more decimal digits and nothing else.
bool allDigits(std::string_view s);

// The record text the control sends for a sweep row it derived from these stored values,
// made by the control's own code so the server and the control can never drift apart.
std::string controlRecordText(const ChargeKey& key, std::int16_t type, const Amounts& amounts, bool salesTaxExempt,
                              bool subscription, std::int32_t trustId, std::int32_t personId,
                              std::int16_t personType);

// The same record, decoded.
SaveRecord controlRecordFor(const ChargeKey& key, std::int16_t type, const Amounts& amounts, bool salesTaxExempt,
                            bool subscription, std::int32_t trustId, std::int32_t personId, std::int16_t personType);

class Store;

// The save body the control posts after ticking the first `maxRecords` sweep rows of the
// country (all of them when there are fewer), in the control's own record text.
std::string controlSaveBody(Store& store, int country, std::size_t maxRecords, std::int32_t personId,
                            std::int16_t personType);

}  // namespace eft::server
