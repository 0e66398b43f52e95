#include "server/returns/answer_records.h"

#include <charconv>
#include <cstdio>

#include "server/bank/cpa005.h"
#include "server/bank/nacha.h"

namespace eft::server::returns::records {
namespace {

constexpr std::int64_t kHashModulus = 10'000'000'000;

[[noreturn]] void refuse(const Line& line, const char* field, const std::string& why) {
    throw AnswerFileError(line.number, field, why);
}

void expectNumber(const Line& line, std::size_t from, std::size_t to, const char* name, std::int64_t want) {
    const std::int64_t got = digits(line, from, to, name);
    if (got != want)
        refuse(line, name, "the record says " + std::to_string(got) + ", the file adds up to " + std::to_string(want));
}

bool allOf(std::string_view text, char c) { return text.find_first_not_of(c) == std::string_view::npos; }

}  // namespace

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t number = 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const auto c = static_cast<unsigned char>(content[i]);
        if (c == '\n' || (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n')) {
            lines.push_back({number++, content.substr(start, i - start)});
            if (c == '\r') ++i;
            start = i + 1;
        } else if (c < 0x20 || c > 0x7E) {
            throw AnswerFileError(number, "", "the file holds a byte that is not printable ASCII (" +
                                                  std::to_string(static_cast<int>(c)) + ") at column " +
                                                  std::to_string(i - start + 1));
        }
    }
    if (start < content.size()) lines.push_back({number, content.substr(start)});
    bool blank = true;
    for (const Line& l : lines) blank = blank && trimmed(l.text).empty();
    if (blank) throw AnswerFileError(lines.empty() ? 1 : lines.size(), "", "the file is empty");
    // Empty lines at the end are line ends doubled, not records.
    while (lines.back().text.empty()) lines.pop_back();
    return lines;
}

std::string_view field(const Line& line, std::size_t from, std::size_t to) {
    if (from < 1 || to < from || to > line.text.size()) refuse(line, "record length", "the record is too short");
    return line.text.substr(from - 1, to - from + 1);
}

std::string trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::int64_t digits(const Line& line, std::size_t from, std::size_t to, const char* name) {
    const std::string_view f = field(line, from, to);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), value);
    if (f.size() > 18 || ec != std::errc{} || end != f.data() + f.size() || f.front() == '-' || f.front() == '+')
        refuse(line, name, "\"" + std::string(f) + "\" is not a number");
    return value;
}

Date yymmdd(const Line& line, std::size_t from, const char* name) {
    const int yy = static_cast<int>(digits(line, from, from + 1, name));
    const int mm = static_cast<int>(digits(line, from + 2, from + 3, name));
    const int dd = static_cast<int>(digits(line, from + 4, from + 5, name));
    if (!isValidDate(2000 + yy, mm, dd)) refuse(line, name, "\"" + std::string(field(line, from, from + 5)) + "\" is not a date");
    return Date{2000 + yy, mm, dd};
}

Date julian(const Line& line, std::size_t from, const char* name) {
    const std::int64_t value = digits(line, from, from + 5, name);
    const int year = 2000 + static_cast<int>(value / 1000 % 100);
    const int day = static_cast<int>(value % 1000);
    const int length = isValidDate(year, 2, 29) ? 366 : 365;
    if (value >= 100'000 || day < 1 || day > length)
        refuse(line, name, "\"" + std::string(field(line, from, from + 5)) + "\" is not a date (0YYDDD)");
    return addDays(Date{year, 1, 1}, day - 1);
}

std::string isoDate(const Date& day) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", day.year, day.month, day.day);
    return buf;
}

bool nachaDebitCode(std::string_view transactionCode) {
    return transactionCode.size() == 2 && transactionCode[1] >= '5' && transactionCode[1] <= '9';
}

NachaFile readNacha(const std::vector<Line>& lines) {
    NachaFile file;
    NachaBatch* batch = nullptr;
    std::int64_t fileHash = 0, fileDebits = 0, fileCredits = 0, fileRecords = 0;
    std::int64_t batchHash = 0, batchDebits = 0, batchCredits = 0, batchRecords = 0;
    bool ended = false;
    for (const Line& line : lines) {
        if (line.text.size() != bank::kNachaRecordLength)
            refuse(line, "record length",
                   std::to_string(bank::kNachaRecordLength) + " characters expected, found " + std::to_string(line.text.size()));
        const char type = line.text[0];
        if (ended) {
            if (!allOf(line.text, '9')) refuse(line, "record type", "only '9' filler records may follow the file control");
            continue;
        }
        if (line.number == lines.front().number) {
            if (type != '1') refuse(line, "record type", "a NACHA file starts with its file header (1)");
            file.header = line;
            continue;
        }
        switch (type) {
        case '5':
            if (batch != nullptr) refuse(line, "record type", "a batch header inside a batch (its batch control is missing)");
            batch = &file.batches.emplace_back();
            batch->header = line;
            digits(line, 2, 4, "service class code");
            digits(line, 88, 94, "batch number");
            batchHash = batchDebits = batchCredits = batchRecords = 0;
            break;
        case '6': {
            if (batch == nullptr) refuse(line, "record type", "an entry outside a batch");
            const std::string_view code = field(line, 2, 3);
            digits(line, 2, 3, "transaction code");
            batchHash = (batchHash + digits(line, 4, 11, "receiving DFI identification")) % kHashModulus;
            const std::int64_t cents = digits(line, 30, 39, "amount");
            (nachaDebitCode(code) ? batchDebits : batchCredits) += cents;
            const char indicator = line.text[78];
            if (indicator != '0' && indicator != '1') refuse(line, "addenda record indicator", "must be 0 or 1");
            if (!batch->entries.empty() && batch->entries.back().line.text[78] == '1' && batch->entries.back().addenda.empty())
                refuse(batch->entries.back().line, "addenda record indicator", "the entry announces an addenda that does not follow");
            batch->entries.push_back({line, {}});
            ++batchRecords;
            break;
        }
        case '7':
            if (batch == nullptr || batch->entries.empty() || batch->entries.back().line.text[78] != '1')
                refuse(line, "record type", "an addenda record with no entry");
            digits(line, 2, 3, "addenda type code");
            batch->entries.back().addenda.push_back(line);
            ++batchRecords;
            break;
        case '8':
            if (batch == nullptr) refuse(line, "record type", "a batch control with no batch");
            if (!batch->entries.empty() && batch->entries.back().line.text[78] == '1' && batch->entries.back().addenda.empty())
                refuse(batch->entries.back().line, "addenda record indicator", "the entry announces an addenda that does not follow");
            if (field(line, 2, 4) != field(batch->header, 2, 4))
                refuse(line, "service class code", "differs from the batch header's");
            if (field(line, 88, 94) != field(batch->header, 88, 94))
                refuse(line, "batch number", "differs from the batch header's");
            expectNumber(line, 5, 10, "entry/addenda count", batchRecords);
            expectNumber(line, 11, 20, "entry hash", batchHash);
            expectNumber(line, 21, 32, "total debit entry dollar amount", batchDebits);
            expectNumber(line, 33, 44, "total credit entry dollar amount", batchCredits);
            fileHash = (fileHash + batchHash) % kHashModulus;
            fileDebits += batchDebits;
            fileCredits += batchCredits;
            fileRecords += batchRecords;
            batch = nullptr;
            break;
        case '9':
            if (batch != nullptr) refuse(line, "record type", "the file control inside a batch (its batch control is missing)");
            if (allOf(line.text, '9')) refuse(line, "record type", "a '9' filler record before the file control");
            expectNumber(line, 2, 7, "batch count", static_cast<std::int64_t>(file.batches.size()));
            expectNumber(line, 8, 13, "block count", static_cast<std::int64_t>((lines.size() + 9) / 10));
            expectNumber(line, 14, 21, "entry/addenda count", fileRecords);
            expectNumber(line, 22, 31, "entry hash", fileHash);
            expectNumber(line, 32, 43, "total debit entry dollar amount", fileDebits);
            expectNumber(line, 44, 55, "total credit entry dollar amount", fileCredits);
            ended = true;
            break;
        default:
            refuse(line, "record type", std::string("'") + type + "' is no NACHA record type");
        }
    }
    if (!ended) refuse(lines.back(), "record type", "the file control (9) is missing");
    return file;
}

CpaFile readCpa(const std::vector<Line>& lines) {
    CpaFile file;
    std::int64_t debits = 0, debitCount = 0, credits = 0, creditCount = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.text.size() != bank::kCpaRecordLength)
            refuse(line, "record length",
                   std::to_string(bank::kCpaRecordLength) + " characters expected, found " + std::to_string(line.text.size()));
        const char type = line.text[0];
        const std::int64_t count = digits(line, 2, 10, "logical record count");
        if (count != static_cast<std::int64_t>(i + 1))
            refuse(line, "logical record count", std::to_string(i + 1) + " expected, found " + std::to_string(count));
        const bool first = i == 0, last = i + 1 == lines.size();
        if (first != (type == 'A'))
            refuse(line, "record type", first ? "a CPA-005 file starts with its header (A)" : "a second header (A)");
        if (last != (type == 'Z'))
            refuse(line, "record type", last ? "the trailer (Z) is missing" : "records after the trailer (Z)");
        if (first) {
            file.header = line;
            julian(line, 25, "creation date");
            continue;
        }
        if (field(line, 11, 24) != field(file.header, 11, 24))
            refuse(line, "originator id", "the originator id and file creation number differ from the header's");
        if (last) {
            expectNumber(line, 25, 38, "total value of debits", debits);
            expectNumber(line, 39, 46, "total number of debits", debitCount);
            expectNumber(line, 47, 60, "total value of credits", credits);
            expectNumber(line, 61, 68, "total number of credits", creditCount);
            continue;
        }
        if (type != 'D' && type != 'C' && type != 'I' && type != 'J')
            refuse(line, "record type", std::string("'") + type + "' is no CPA-005 record type this server reads");
        for (std::size_t k = 0; k < bank::kCpaSegmentsPerRecord; ++k) {
            const std::string_view text = line.text.substr(24 + k * bank::kCpaSegmentLength, bank::kCpaSegmentLength);
            const std::string_view head = text.substr(0, 13);
            if (allOf(head, ' ') || allOf(head, '0')) continue;
            const CpaSegment s{line, type, count, k + 1, 24 + k * bank::kCpaSegmentLength, text};
            const std::int64_t cents = segmentDigits(s, bank::kCpaAmount.from, bank::kCpaAmount.to, "amount");
            segmentDigits(s, 20, 28, "institution and transit");
            const bool debit = type == 'D' || type == 'J';
            (debit ? debits : credits) += cents;
            ++(debit ? debitCount : creditCount);
            file.segments.push_back(s);
        }
    }
    return file;
}

std::string_view segmentField(const CpaSegment& s, std::size_t from, std::size_t to) {
    return s.text.substr(from - 1, to - from + 1);
}

namespace {

template <typename Read>
auto inSegment(const CpaSegment& s, const char* name, Read read) {
    try {
        return read();
    } catch (const AnswerFileError& e) {
        const std::string what = e.what();
        throw AnswerFileError(s.line.number, "segment " + std::to_string(s.index) + " " + name,
                              what.substr(what.find(": ") + 2));
    }
}

}  // namespace

std::int64_t segmentDigits(const CpaSegment& s, std::size_t from, std::size_t to, const char* name) {
    return inSegment(s, name, [&] { return digits(s.line, s.offset + from, s.offset + to, name); });
}

Date segmentJulian(const CpaSegment& s, std::size_t from, const char* name) {
    return inSegment(s, name, [&] { return julian(s.line, s.offset + from, name); });
}

std::int32_t positiveNumber(std::string_view text) {
    const std::string t = trimmed(text);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc{} && end == t.data() + t.size() && value > 0 ? value : 0;
}

bool crossReference(std::string_view text, std::int32_t& batchNo, std::int32_t& centerId) {
    const std::string t = trimmed(text);
    const std::size_t dash = t.find('-');
    if (dash == std::string::npos || t.find(' ') != std::string::npos) return false;
    batchNo = positiveNumber(std::string_view(t).substr(0, dash));
    centerId = positiveNumber(std::string_view(t).substr(dash + 1));
    return batchNo > 0 && centerId > 0;
}

}  // namespace eft::server::returns::records
