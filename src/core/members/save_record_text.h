#pragma once
// One save record: the text the control posts for a chosen member row and the server reads
// back. Apart from the save itself, so the server takes the record's rule without the control.
#include <cstdint>
#include <optional>
#include <string>

#include "base/error.h"
#include "sweep/row_amounts.h"
#include "ui/phrases.h"

namespace eft {

namespace pages {
class SaveBodyWriter;
}

// What one save record carries of a sweep row.
struct SaveRow {
    std::optional<std::int32_t> MemberID, CenterID, Source, SweepSequence, TrustID;
    Amount ConversionRate, Royalty, NAC, RoyaltyReserve, FranchiseFee, FranchiseFeeReserve;
    Amount GSTshow, PSTshow, NMCshow;
};

// A chosen row that cannot make a record: the operator has to learn which one, since the
// save sends nothing.
class UnsavableRow : public EftError {
public:
    // `row` named as the operator knows it; its ids are the control's words, a member's name is data.
    UnsavableRow(std::string_view row, std::string missing)
        : EftError(ui::fill(ui::phrase::kChosenRowHasNo, {row, missing})), missing_(std::move(missing)) {}
    // The field the row lacks ("MemberID").
    const std::string& missing() const { return missing_; }

private:
    std::string missing_;
};

// The 17 key=value pairs of one row, in their fixed order; throws UnsavableRow without
// MemberID or rate.
std::string saveRecord(const SaveRow& row, std::int32_t personId, std::int16_t personType);
// The same record added to a save body, written in its encoded form.
void addSaveRecord(pages::SaveBodyWriter& body, const SaveRow& row, std::int32_t personId, std::int16_t personType);

// One save carries at most this many rows: records are numbered with 16-bit integers.
inline constexpr std::size_t kMaxSaveRecords = 32767;

}  // namespace eft
