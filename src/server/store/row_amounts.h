#pragma once
// The amounts of one charge as the control derives them from a sweep row, and the server's
// own figures built on them: the row's IN and OUT totals and the amount a saved charge
// carries into a batch. All arithmetic is single precision, as the control's.
#include <cstdint>
#include <optional>

namespace eft::server {

// The raw money fields of a charge, as stored and as sent in the sweep rows.
struct Amounts {
    float conversionRate = 1;
    float royalty = 0;
    float nac = 0;
    float royaltyReserve = 0;
    float franchiseFee = 0;
    float franchiseFeeReserve = 0;
    float gst = 0;  // a rate on the converted royalty for ordinary type-1 rows, else an amount
    float pst = 0;
    float nmcPayment = 0;
};

// What the control shows for a row: the rate after the type rule and the six show amounts.
struct ShowAmounts {
    float conversionRate = 1;
    float royalty = 0;
    float nac = 0;
    float franchiseFee = 0;
    float gst = 0;
    float pst = 0;
    float nmc = 0;
};

// Types 1 (converted), 2 (NMC payment only, converted) and 3 (unconverted); any other type
// shows nothing.
ShowAmounts showAmounts(std::int16_t type, const Amounts& a, bool salesTaxExempt, bool subscription);

// IN: what the row brings in to the franchisor (the show amounts of royalty, NAC, franchise
// fee, GST and PST), never negative. OUT: what it pays out (the NMC payment) as a negative
// amount, never positive. A side that comes out with the other sign moves to the other side,
// so IN + OUT is the row's net. Both rounded to cents, half to even.
struct RowTotals {
    float in = 0;
    float out = 0;
};
RowTotals rowTotals(std::int16_t type, const Amounts& a, bool salesTaxExempt, bool subscription);

// The converted amounts a save record carries for a row.
struct PostedAmounts {
    float royalty = 0;
    float nac = 0;
    float royaltyReserve = 0;
    float franchiseFee = 0;
    float franchiseFeeReserve = 0;
    float gst = 0;
    float pst = 0;
    float nmc = 0;
};

// The Total the member list shows for a row, in whole cents, exactly as its "0.00" text reads
// (the rule itself is the control's, sweep/row_total.h). `centerOutSum` is the OUT sum of the
// row's center so far, in sweep order, this row included. Nothing when the Total is not kept
// to the cent (text::holdsEveryCent): such a row is never saved.
std::optional<std::int64_t> totalCents(const RowTotals& row, bool subscription, float centerOutSum);

inline constexpr float kMaxAmount = 1e9f;  // every number a save record carries stays below this

// Why an amount at or above text::kCentExactLimit is refused, as every refusal words it.
inline constexpr const char* kAboveCentExactText =
    "at or above 131,072.00, the most an amount can be and still be kept to the cent";

}  // namespace eft::server
