#include "members/save_record_text.h"

#include <charconv>
#include <cstring>

#include "net/pages.h"
#include "net/url_encode.h"
#include "text/text_forms.h"

namespace eft {
namespace {

// The record's marks, plain or as the save body carries them. Every value a record holds is a
// number text, "True" or "False", all characters the form encoding keeps as they are, so the
// two forms differ only in their marks.
struct PlainMarks {
    static constexpr std::string_view kEquals = "=", kSeparator = ";";
};
struct EncodedMarks {
    static constexpr FormPiece kEqualsPiece = formPiece('='), kSeparatorPiece = formPiece(';');
    static constexpr std::string_view kEquals = kEqualsPiece.view(), kSeparator = kSeparatorPiece.view();
};

// 17 fields, each a key under 20 characters, two marks of at most 3 and a value of at most a
// single's text (a whole number is shorter).
constexpr std::size_t kRecordMax = 2048;
static_assert(17 * (20 + 6 + text::kSingleTextMax) <= kRecordMax);

// Writes a record's "key=value" pairs, ";" between them, into a buffer of kRecordMax.
template <class Marks>
class RecordWriter {
public:
    explicit RecordWriter(char* at) : start_(at), p_(at) {}

    void whole(std::string_view key, std::int64_t v) {
        keyed(key);
        wholeValue(v);
    }
    void whole(std::string_view key, const std::optional<std::int32_t>& v) {
        keyed(key);
        if (v) wholeValue(*v);
    }
    void single(std::string_view key, float v) {
        keyed(key);
        p_ = text::writeSingleText(p_, v);
    }
    // An amount as the server receives it: rounded to cents (an exact half to even), then the
    // number text of a single. No value sends nothing after the key.
    void cents(std::string_view key, Amount v) {
        keyed(key);
        if (v) p_ = text::writeCentsText(p_, *v);
    }
    void text(std::string_view key, std::string_view v) {
        keyed(key);
        put(v);
    }
    std::string_view written() const { return {start_, static_cast<std::size_t>(p_ - start_)}; }

private:
    void put(std::string_view s) {
        std::memcpy(p_, s.data(), s.size());
        p_ += s.size();
    }
    // The separator (none before the first pair), the key and "=".
    void keyed(std::string_view key) {
        if (p_ != start_) put(Marks::kSeparator);
        put(key);
        put(Marks::kEquals);
    }
    void wholeValue(std::int64_t v) { p_ = std::to_chars(p_, p_ + 24, v).ptr; }

    char* start_;
    char* p_;
};

Amount times(Amount v, float rate) {
    if (!v) return std::nullopt;
    return *v * rate;
}

// "member 1001 of center 0012 (sweep sequence 3)", or without the member when it is missing.
std::string rowName(const SaveRow& row) {
    std::string name = row.CenterID ? ui::fill(ui::phrase::kCenterId, {text::centerNumber(*row.CenterID)})
                                    : std::string(ui::phrase::kNoCenter);
    if (row.MemberID) name = ui::fill(ui::phrase::kMemberOfCenter, {text::wholeNumber(*row.MemberID), name});
    if (row.SweepSequence) name = ui::fill(ui::phrase::kWithSequence, {name, text::wholeNumber(*row.SweepSequence)});
    return name;
}

template <class Marks>
std::string_view writeSaveRecord(char* buffer, const SaveRow& row, std::int32_t personId, std::int16_t personType) {
    if (!row.MemberID) throw UnsavableRow(rowName(row), "MemberID");
    if (!row.ConversionRate) throw UnsavableRow(rowName(row), "ConversionRate");
    const float rate = *row.ConversionRate;
    RecordWriter<Marks> r(buffer);
    r.whole("MemberID", *row.MemberID);
    r.text("Status", "14");
    r.whole("PersonID", personId);
    r.whole("PersonType", personType);
    r.single("ConversionRate", rate);
    r.whole("CenterID", row.CenterID);
    r.whole("Source", row.Source);
    r.cents("Royalty", times(row.Royalty, rate));
    r.cents("NAC", times(row.NAC, rate));
    r.cents("RoyaltyReserve", times(row.RoyaltyReserve, rate));
    r.cents("FranchiseFee", times(row.FranchiseFee, rate));
    r.cents("FranchiseFeeReserve", times(row.FranchiseFeeReserve, rate));
    r.cents("GSTshow", row.GSTshow);
    r.cents("PSTShow", row.PSTshow);
    r.cents("NMCshow", row.NMCshow);
    r.whole("SweepSequence", row.SweepSequence);
    r.text("Trust", row.TrustID.value_or(0) > 0 ? "True" : "False");
    return r.written();
}

}  // namespace

std::string saveRecord(const SaveRow& row, std::int32_t personId, std::int16_t personType) {
    char buffer[kRecordMax];
    return std::string(writeSaveRecord<PlainMarks>(buffer, row, personId, personType));
}

void addSaveRecord(pages::SaveBodyWriter& body, const SaveRow& row, std::int32_t personId, std::int16_t personType) {
    char buffer[kRecordMax];
    body.addEncoded(writeSaveRecord<EncodedMarks>(buffer, row, personId, personType));
}

}  // namespace eft
