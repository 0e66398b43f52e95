#include "server/pages/save_record.h"

#include "members/save_record_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>

#include "net/pages.h"
#include "server/pages/form.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

namespace {

enum Key { MemberID, Status, PersonID, PersonType, ConversionRate, CenterID, Source, Royalty, NAC, RoyaltyReserve,
           FranchiseFee, FranchiseFeeReserve, GSTshow, PSTShow, NMCshow, SweepSequence, Trust, kKeyCount };

static_assert(std::size(kSaveRecordKeys) == kKeyCount);

std::optional<int> keyIndex(std::string_view key) {
    for (int i = 0; i < kKeyCount; ++i)
        if (kSaveRecordKeys[i] == key) return i;
    return std::nullopt;
}

std::string named(int key) { return "'" + std::string(kSaveRecordKeys[key]) + "'"; }

// Plain decimal, an optional leading '-', nothing else.
template <typename Int>
Int wholeValue(int key, std::string_view value) {
    const std::string_view digits = value.starts_with('-') ? value.substr(1) : value;
    if (!allDigits(digits)) throw RequestError(std::string(kSaveRecordKeys[key]) + " " + quote(value) + " is not a whole number");
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || ptr != value.data() + value.size() || v < std::numeric_limits<Int>::min() ||
        v > std::numeric_limits<Int>::max())
        throw RequestError(std::string(kSaveRecordKeys[key]) + " " + quote(value) + " is out of range");
    return static_cast<Int>(v);
}

// The control's number text: an optional '-', digits, and optionally a point and digits.
float numberValue(int key, std::string_view value) {
    const std::string_view unsigned_ = value.starts_with('-') ? value.substr(1) : value;
    const std::size_t point = unsigned_.find('.');
    const bool wellFormed = point == std::string_view::npos
                                ? allDigits(unsigned_)
                                : allDigits(unsigned_.substr(0, point)) && allDigits(unsigned_.substr(point + 1));
    if (!wellFormed) throw RequestError(std::string(kSaveRecordKeys[key]) + " " + quote(value) + " is not a number");
    float v = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != value.data() + value.size() || !std::isfinite(v) || !(std::fabs(v) < kMaxAmount))
        throw RequestError(std::string(kSaveRecordKeys[key]) + " " + quote(value) + " is out of range");
    return v;
}

// From 131,072.00 on two cents can share one single, so such an amount could be saved as one
// figure and shown or exported as another. The control writes seven significant digits, so an
// amount just below the limit arrives as "131072": that text is let through, and the charge's
// own Total, derived from the stored amounts, is held to the limit when it is saved.
float amountValue(int key, std::string_view value) {
    const float v = numberValue(key, value);
    if (!(std::fabs(v) <= text::kCentExactLimit))
        throw RequestError(std::string(kSaveRecordKeys[key]) + " " + quote(value) + " is " + kAboveCentExactText);
    return v;
}

void storeValue(SaveRecord& r, int key, std::string_view value) {
    if (value.empty()) throw RequestError(std::string(kSaveRecordKeys[key]) + " is empty");
    switch (key) {
        case MemberID: r.key.memberId = wholeValue<std::int32_t>(key, value); break;
        case Status:
            if (value != "14") throw RequestError("Status must be 14, not " + quote(value));
            break;
        case PersonID: r.personId = wholeValue<std::int32_t>(key, value); break;
        case PersonType: r.personType = wholeValue<std::int16_t>(key, value); break;
        case ConversionRate:
            r.conversionRate = numberValue(key, value);
            if (!(r.conversionRate > 0)) throw RequestError("ConversionRate must be above 0, not " + quote(value));
            break;
        case CenterID: r.key.centerId = wholeValue<std::int32_t>(key, value); break;
        case Source: r.key.source = wholeValue<std::int16_t>(key, value); break;
        case Royalty: r.amounts.royalty = amountValue(key, value); break;
        case NAC: r.amounts.nac = amountValue(key, value); break;
        case RoyaltyReserve: r.amounts.royaltyReserve = amountValue(key, value); break;
        case FranchiseFee: r.amounts.franchiseFee = amountValue(key, value); break;
        case FranchiseFeeReserve: r.amounts.franchiseFeeReserve = amountValue(key, value); break;
        case GSTshow: r.amounts.gst = amountValue(key, value); break;
        case PSTShow: r.amounts.pst = amountValue(key, value); break;
        case NMCshow: r.amounts.nmc = amountValue(key, value); break;
        case SweepSequence: r.key.sweepSequence = wholeValue<std::int16_t>(key, value); break;
        case Trust:
            if (value == "True") r.trust = true;
            else if (value == "False") r.trust = false;
            else throw RequestError("Trust must be True or False, not " + quote(value));
            break;
        default: break;
    }
}

}  // namespace

SaveRecord parseSaveRecord(std::string_view record) {
    if (record.empty()) throw RequestError("the record is empty");
    SaveRecord r;
    bool seen[kKeyCount] = {};
    int position = 0;
    std::size_t start = 0;
    while (start <= record.size()) {
        std::size_t end = record.find(';', start);
        if (end == std::string_view::npos) end = record.size();
        const std::string_view pair = record.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) throw RequestError("pair " + std::to_string(position + 1) + " is empty");
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos) throw RequestError("pair " + quote(pair) + " has no '='");
        const std::string_view keyText = pair.substr(0, eq);
        const auto key = keyIndex(keyText);
        if (!key) throw RequestError("unknown key " + quote(keyText));
        if (seen[*key]) throw RequestError("key " + named(*key) + " appears twice");
        // Every earlier key was seen in its own place, so position is below kKeyCount here.
        if (*key != position) throw RequestError("key " + named(*key) + " is out of order (expected " + named(position) + ")");
        seen[*key] = true;
        storeValue(r, *key, pair.substr(eq + 1));
        ++position;
    }
    if (position < kKeyCount) throw RequestError("key " + named(position) + " is missing");
    return r;
}

std::string controlRecordText(const ChargeKey& key, std::int16_t type, const Amounts& a, bool salesTaxExempt,
                              bool subscription, std::int32_t trustId, std::int32_t personId,
                              std::int16_t personType) {
    const ShowAmounts show = showAmounts(type, a, salesTaxExempt, subscription);
    SaveRow row;
    row.MemberID = key.memberId;
    row.CenterID = key.centerId;
    row.Source = key.source;
    row.SweepSequence = key.sweepSequence;
    row.TrustID = trustId;
    row.ConversionRate = show.conversionRate;
    row.Royalty = a.royalty;
    row.NAC = a.nac;
    row.RoyaltyReserve = a.royaltyReserve;
    row.FranchiseFee = a.franchiseFee;
    row.FranchiseFeeReserve = a.franchiseFeeReserve;
    row.GSTshow = show.gst;
    row.PSTshow = show.pst;
    row.NMCshow = show.nmc;
    return saveRecord(row, personId, personType);
}

SaveRecord controlRecordFor(const ChargeKey& key, std::int16_t type, const Amounts& a, bool salesTaxExempt,
                            bool subscription, std::int32_t trustId, std::int32_t personId, std::int16_t personType) {
    return parseSaveRecord(
        controlRecordText(key, type, a, salesTaxExempt, subscription, trustId, personId, personType));
}

std::string controlSaveBody(Store& store, int country, std::size_t maxRecords, std::int32_t personId,
                            std::int16_t personType) {
    std::vector<std::string> records;
    store.forEachSweepRow(country, [&](const SweepRowView& r) {
        if (records.size() >= maxRecords) return;
        records.push_back(controlRecordText(r.key, r.type, r.amounts, r.salesTaxExempt, r.subscription, r.trustId,
                                            personId, personType));
    });
    return pages::saveBody(records);
}

}  // namespace eft::server
