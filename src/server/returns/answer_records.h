#pragma once
// The record structure of the bank files read here, ours read back and the banks' answers
// alike. Each reader checks the file whole (record lengths and types, their order, the
// counts, hashes and totals the control records carry) and throws AnswerFileError naming the
// line and field at fault; what the records mean is left to the caller.
//
// Positions are 1-based and inclusive, as the published layouts count them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"
#include "server/bank/cpa005.h"
#include "server/returns/bank_answer.h"

namespace eft::server::returns::records {

struct Line {
    std::size_t number = 0;  // 1-based
    std::string_view text;   // without its line end
};

// The lines of a file, ended by CR LF or LF (the last may have no end), without the empty lines
// at its end. Refuses an empty file and any byte that is not printable ASCII.
std::vector<Line> splitLines(std::string_view content);

std::string_view field(const Line& line, std::size_t from, std::size_t to);
// Without leading and trailing blanks.
std::string trimmed(std::string_view text);
// A field of digits only; otherwise AnswerFileError naming `name`.
std::int64_t digits(const Line& line, std::size_t from, std::size_t to, const char* name);
// "YYMMDD" and "0YYDDD" at `from`, years 2000 to 2099.
Date yymmdd(const Line& line, std::size_t from, const char* name);
Date julian(const Line& line, std::size_t from, const char* name);
std::string isoDate(const Date& day);

// NACHA: 94-character records 1 5 (6 7*)* 8 ... 9, then '9' padding records.
struct NachaEntry {
    Line line;
    std::vector<Line> addenda;
};
struct NachaBatch {
    Line header;
    std::vector<NachaEntry> entries;
};
struct NachaFile {
    Line header;
    std::vector<NachaBatch> batches;
};
NachaFile readNacha(const std::vector<Line>& lines);

// The transaction codes whose entries the control records count as debits: x5 to x9.
bool nachaDebitCode(std::string_view transactionCode);

// CPA-005: 1464-character logical records A (D|C|I|J)* Z, each with up to six 240-character
// segments; a segment blank or zero in its type and amount is unused.
struct CpaSegment {
    Line line;
    char type = 0;            // the record's type: D, C, I or J
    std::int64_t record = 0;  // the logical record count
    std::size_t index = 0;    // 1..6 within the record
    std::size_t offset = 0;   // the record position before the segment's first
    std::string_view text;    // 240 characters
};
struct CpaFile {
    Line header;
    std::vector<CpaSegment> segments;
};
CpaFile readCpa(const std::vector<Line>& lines);

// Within a segment: a field of `segment`, positions counted from the segment's start; a fault
// names the segment and the field.
std::string_view segmentField(const CpaSegment& segment, std::size_t from, std::size_t to);
std::int64_t segmentDigits(const CpaSegment& segment, std::size_t from, std::size_t to, const char* name);
Date segmentJulian(const CpaSegment& segment, std::size_t from, const char* name);
inline std::string_view field(const CpaSegment& segment, const bank::CpaField& f) {
    return segmentField(segment, f.from, f.to);
}

// A positive whole number written in `text` (blanks around it allowed); 0 when it is none.
std::int32_t positiveNumber(std::string_view text);

// The cross reference this server writes, "<batch>-<center>"; false when it is not one.
bool crossReference(std::string_view text, std::int32_t& batchNo, std::int32_t& centerId);

}  // namespace eft::server::returns::records
