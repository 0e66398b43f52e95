#include "server/pages/save_body.h"

#include <charconv>

#include "members/save_record_text.h"

namespace eft::server {
namespace {

// "SQL<k>" with k in plain decimal from 1; nothing for any other key.
std::optional<std::int64_t> recordNumber(std::string_view key) {
    if (!key.starts_with("SQL")) return std::nullopt;
    const std::string_view digits = key.substr(3);
    if (!allDigits(digits) || digits.front() == '0' || digits.size() > 9) return std::nullopt;
    std::int64_t k = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), k);
    return k;
}

}  // namespace

SaveBodyReader::SaveBodyReader()
    : decoder_([this](FormPair&& p) { take(std::move(p)); }, kMaxSaveRecords + 1) {}

void SaveBodyReader::take(FormPair&& p) {
    if (p.key == "RecordCount") {
        if (count_) throw RequestError("RecordCount appears twice");
        if (!allDigits(p.value) || p.value.size() > 9) throw RequestError("RecordCount " + quote(p.value) + " is not a count");
        count_ = std::stoll(p.value);
        if (static_cast<std::uint64_t>(*count_) < kMaxSaveRecords) decoder_.setMaxPairs(static_cast<std::size_t>(*count_) + 1);
    } else if (const auto k = recordNumber(p.key)) {
        if (records_.contains(*k) || faults_.contains(*k))
            throw RequestError("Record SQL" + std::to_string(*k) + " appears twice");
        try {
            records_.emplace(*k, parseSaveRecord(p.value));
        } catch (const RequestError& e) {
            faults_.emplace(*k, e.what());
        }
    } else {
        throw RequestError("Unexpected key " + quote(p.key));
    }
}

void SaveBodyReader::feed(std::string_view piece) { decoder_.feed(piece); }

std::vector<SaveRecord> SaveBodyReader::finish() {
    decoder_.finish();
    if (!count_) throw RequestError("RecordCount is missing");
    const auto has = [this](std::int64_t k) { return records_.contains(k) || faults_.contains(k); };
    for (std::int64_t k = 1; k <= *count_; ++k)
        if (!has(k)) throw RequestError("Record SQL" + std::to_string(k) + " is missing");
    const std::size_t sent = records_.size() + faults_.size();
    if (static_cast<std::int64_t>(sent) != *count_)
        throw RequestError("RecordCount " + std::to_string(*count_) + " does not match the " + std::to_string(sent) +
                           " records sent");
    if (!faults_.empty())
        throw RequestError("Record SQL" + std::to_string(faults_.begin()->first) + ": " + faults_.begin()->second);
    std::vector<SaveRecord> out;
    out.reserve(records_.size());
    for (auto& [k, record] : records_) out.push_back(record);
    return out;
}

std::vector<SaveRecord> readSaveBody(std::string_view body) {
    SaveBodyReader reader;
    reader.feed(body);
    return reader.finish();
}

}  // namespace eft::server
