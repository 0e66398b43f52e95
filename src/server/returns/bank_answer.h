#pragma once
// What a bank sends back after a batch: returned entries (NACHA returns, addenda 99; CPA-005
// returned items, records I and J; or a bank's CSV report) and notifications of change (NACHA
// COR entries, addenda 98). Reading a file checks it whole: a malformed file is refused with
// the line and field at fault and yields nothing. Per-entry problems (an unknown code, a trace
// no batch sent) are not the reader's to judge; the matcher lists them for review.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/bank/originator.h"

namespace eft::server::returns {

enum class AnswerFormat { NachaReturns, CpaReturns, Csv };

// A debit takes money from the center (due in); a credit pays it (due out).
enum class Direction { Debit, Credit };

struct ReturnedEntry {
    int country = 1;            // 1 United States, 2 Canada; 0 when a CSV row's code does not say
    std::string code;           // "R01", "901"; empty when the file's code cannot be read
    std::string originalTrace;  // NACHA: the 15-digit trace of the entry returned; else empty
    std::int32_t batchNo = 0;   // CPA cross reference or CSV; 0 when the file does not say
    std::int32_t centerId = 0;  // NACHA identification number, CPA cross reference, CSV
    std::int64_t cents = 0;     // positive
    Direction direction = Direction::Debit;
    std::string returnDate;              // ISO "YYYY-MM-DD"; the file's date when it has no other
    std::string originalEffectiveDate;   // ISO; empty when the file does not carry it
    // What the return names the account as (for the check against the original).
    std::string routing;      // United States: the receiving bank's first 8 digits
    std::string institution;  // Canada, 3 digits
    std::string transit;      // Canada, 5 digits
    std::string account;
    // The return's own identity within its file: the return entry's trace (NACHA), the item's
    // record and segment (CPA), the line (CSV). With the file's hash it makes a replay harmless.
    std::string ownTrace;
    std::size_t line = 0;  // 1-based, for messages
};

// A CSV report's row is "center,batch,code,amount,date" (an optional header line naming those
// columns): the amount in the "0.00" form, negative for a returned credit, the date ISO; an
// empty or unreadable code is kept empty.

// A notification of change: the entry was posted, and the receiving bank asks that the next
// entries carry corrected data.
struct ChangeNotice {
    std::string code;  // "C01" .. "C09"
    std::string originalTrace;
    std::int32_t centerId = 0;
    std::string correctedData;  // as the addenda carries it (29 characters, trailing blanks cut)
    std::string date;           // ISO
    std::string ownTrace;
    std::size_t line = 0;
};

struct BankAnswer {
    AnswerFormat format = AnswerFormat::NachaReturns;
    std::string sha256;  // of the file's bytes, lower-case hex
    std::vector<ReturnedEntry> returns;
    std::vector<ChangeNotice> changes;
};

// A file refused whole.
class AnswerFileError : public std::runtime_error {
public:
    AnswerFileError(std::size_t line, std::string field, const std::string& why)
        : std::runtime_error("line " + std::to_string(line) + (field.empty() ? "" : ", " + field) + ": " + why),
          line_(line), field_(std::move(field)) {}
    std::size_t line() const { return line_; }
    const std::string& field() const { return field_; }

private:
    std::size_t line_;
    std::string field_;
};

// Where a CPA-005 returned item carries its 900-series reason code unless the originator file
// says otherwise (originator.h).
inline constexpr std::size_t kCpaReasonPosition = bank::kCpaReasonPosition;

struct ReadOptions {
    // Where a CPA-005 I or J (returned credit or debit) segment carries its 900-series reason
    // code, 1-based within the 240-character segment, 3 characters. Banks do not agree; the
    // originator file may set it (originator.h).
    std::size_t cpaReasonPosition = 0;  // 0: kCpaReasonPosition
};

// The options the originator sets (validated by bank::validate).
ReadOptions readOptions(const bank::Originator& originator);

// Tells the format by the content and reads it. Throws AnswerFileError.
BankAnswer readBankAnswer(std::string_view content, const ReadOptions& options = {});

// One entry of a file this server sent, as read back from the stored file's bytes: what a
// return is matched against.
struct SentEntry {
    std::int32_t batchNo = 0;
    std::int32_t centerId = 0;
    std::int64_t cents = 0;  // positive
    Direction direction = Direction::Debit;
    std::string trace;          // NACHA: 15 digits; CPA: the cross reference "<batch>-<center>"
    std::string effectiveDate;  // ISO
    bool retry = false;         // sent in a "RETRY PYMT" batch (NACHA; a CPA-005 file does not say)
    // CPA-005: the institution and account the entry went to, which a returned item must name;
    // empty for NACHA.
    std::string institution;
    std::string account;
};

// Reads one of our own NACHA or CPA-005 files back. Throws AnswerFileError.
std::vector<SentEntry> sentEntries(std::string_view bankFileText, std::int32_t batchNo);

}  // namespace eft::server::returns
