#include "net/pages.h"

#include <charconv>
#include <utility>

#include "base/large_buffer.h"
#include "net/url_encode.h"

namespace eft::pages {
namespace {

std::string join(std::string_view base, std::string_view page) {
    std::string out(base);
    out += page;
    return out;
}

void appendPair(std::string& body, std::string_view key, std::string_view value) {
    body += key;
    body += '=';
    body += urlEncode(value);
    body += '&';
}

}  // namespace

std::string sweepRowsAddress(std::string_view base, std::int16_t countryId) {
    return join(base, kMemberPage) + "?countryID=" + std::to_string(countryId) + "&Load=1";
}

std::string saveAddress(std::string_view base) { return join(base, kMemberPage); }

std::string batchListAddress(std::string_view base) { return join(base, kBatchPage) + "?TSQL=BatchList"; }

std::string statusAddress(std::string_view base) { return join(base, kBatchPage); }

std::string exportAddress(std::string_view base, std::int32_t personId, std::int16_t personType) {
    return join(base, kBatchPage) + "?ProcessExport=True&PersonID=" + std::to_string(personId) +
           "&PersonTypeID=" + std::to_string(personType);
}

void SaveBodyWriter::reserve(std::size_t records) { reserveLargeBuffer(body_, records * 400 + 1024); }

void SaveBodyWriter::add(std::string_view record) {
    appendKey();
    appendUrlEncoded(body_, record);
    body_ += '&';
}

void SaveBodyWriter::addEncoded(std::string_view encodedRecord) {
    appendKey();
    body_ += encodedRecord;
    body_ += '&';
}

void SaveBodyWriter::appendKey() {
    char number[24];
    body_ += kSaveRecordKey;
    body_.append(number, static_cast<std::size_t>(std::to_chars(number, number + sizeof number, ++count_).ptr - number));
    body_ += '=';
}

std::string SaveBodyWriter::finish() {
    body_ += kRecordCountKey;
    body_ += '=';
    body_ += std::to_string(count_);
    count_ = 0;
    return std::exchange(body_, std::string());
}

std::string saveBody(const std::vector<std::string>& records) {
    SaveBodyWriter body;
    body.reserve(records.size());
    for (const auto& record : records) body.add(record);
    return body.finish();
}

std::string statusBody(const std::vector<std::string>& clearedIds, const std::vector<std::string>& failedIds,
                       std::int32_t personId, std::int16_t personType, std::int32_t batchNo) {
    std::string body;
    for (const auto& id : clearedIds) appendPair(body, kGoodMemberKey, id);
    for (const auto& id : failedIds) appendPair(body, kBadMemberKey, id);
    appendPair(body, kPersonIdKey, std::to_string(personId));
    appendPair(body, kPersonTypeKey, std::to_string(personType));
    appendPair(body, kBatchNoKey, std::to_string(batchNo));
    return body;
}

}  // namespace eft::pages
