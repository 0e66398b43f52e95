#pragma once
// The two server pages and the five requests the control sends them: every address and the
// framing of both POST bodies are formed here and nowhere else. The reference server reads
// the same names from here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace eft::pages {

inline constexpr std::string_view kMemberPage = "EFTMember.asp";
inline constexpr std::string_view kBatchPage = "EFTMemberBatch.asp";
inline constexpr std::string_view kPostVerb = "Post";
inline constexpr std::string_view kFormHeader = "Content-Type: application/x-www-form-urlencoded";
// The sweep reply names its load with this header, and a save from those rows names it back, so
// the server can refuse a save whose centers changed since.
inline constexpr std::string_view kSweepStampHeader = "X-EFTMemb-Sweep-Stamp";
// Sent with all five requests: a header no browser sends across sites without a preflight,
// so a server that demands it of every change cannot be made to change by another site.
inline constexpr std::string_view kRequestHeaderName = "X-EFTMemb-Request";
inline constexpr std::string_view kRequestHeaderValue = "1";
inline constexpr std::string_view kRequestHeader = "X-EFTMemb-Request: 1";

// Keys of the POST bodies.
inline constexpr std::string_view kSaveRecordKey = "SQL";
inline constexpr std::string_view kRecordCountKey = "RecordCount";
inline constexpr std::string_view kGoodMemberKey = "GoodMemb";
inline constexpr std::string_view kBadMemberKey = "BadMemb";
inline constexpr std::string_view kPersonIdKey = "PersonID";
inline constexpr std::string_view kPersonTypeKey = "PersonType";
inline constexpr std::string_view kBatchNoKey = "BatchNo";

// The document element of the export's report: a reply without it is no report.
inline constexpr std::string_view kExportRoot = "Export";
// A report whose text stands in this child element of the document element is the server's
// refusal to export, nothing exported: it reads as the same text to a reader that only takes
// the document's text, and as a failure to the control.
inline constexpr std::string_view kExportRefusal = "Refused";

// GET: the sweep rows of a country (1 United States, 2 Canada).
std::string sweepRowsAddress(std::string_view base, std::int16_t countryId);
// POST: save the chosen member rows.
std::string saveAddress(std::string_view base);
// GET: the batch list.
std::string batchListAddress(std::string_view base);
// POST: the cleared/failed status of a batch.
std::string statusAddress(std::string_view base);
// GET: export the batch files.
std::string exportAddress(std::string_view base, std::int32_t personId, std::int16_t personType);

// The save body: "SQL<k>=" + the encoded record + "&" for each record, then "RecordCount=<n>".
std::string saveBody(const std::vector<std::string>& records);

// The same body built record by record into one buffer.
class SaveBodyWriter {
public:
    void reserve(std::size_t records);
    void add(std::string_view record);
    // A record already written in its encoded form.
    void addEncoded(std::string_view encodedRecord);
    std::size_t count() const { return count_; }
    // The body with its closing "RecordCount=<n>"; the writer starts afresh.
    std::string finish();

private:
    void appendKey();

    std::string body_;
    std::size_t count_ = 0;
};

// The status body: one "GoodMemb=" pair per cleared id, one "BadMemb=" pair per failed id,
// then PersonID, PersonType and BatchNo; every pair ends with "&".
std::string statusBody(const std::vector<std::string>& clearedIds, const std::vector<std::string>& failedIds,
                       std::int32_t personId, std::int16_t personType, std::int32_t batchNo);

}  // namespace eft::pages
