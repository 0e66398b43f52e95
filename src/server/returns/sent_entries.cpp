// Our own files read back through the same checks as a bank's answer, so that a stored file
// that no longer adds up is noticed rather than matched against.
#include "server/bank/cpa005.h"
#include "server/bank/nacha.h"
#include "server/returns/answer_records.h"

namespace eft::server::returns {
namespace {

using namespace records;

std::vector<SentEntry> nachaEntries(const std::vector<Line>& lines, std::int32_t batchNo) {
    std::vector<SentEntry> out;
    for (const NachaBatch& b : readNacha(lines).batches) {
        const std::string effective = isoDate(yymmdd(b.header, 70, "effective entry date"));
        const bool retry = trimmed(field(b.header, 54, 63)) == bank::kRetryEntryDescription;
        for (const NachaEntry& e : b.entries) {
            SentEntry s;
            s.batchNo = batchNo;
            s.centerId = positiveNumber(field(e.line, 40, 54));
            if (s.centerId == 0)
                throw AnswerFileError(e.line.number, "identification number", "not a center number");
            s.cents = digits(e.line, 30, 39, "amount");
            s.direction = nachaDebitCode(field(e.line, 2, 3)) ? Direction::Debit : Direction::Credit;
            s.trace = std::string(field(e.line, 80, 94));
            s.effectiveDate = effective;
            s.retry = retry;
            out.push_back(std::move(s));
        }
    }
    return out;
}

std::vector<SentEntry> cpaEntries(const std::vector<Line>& lines, std::int32_t batchNo) {
    std::vector<SentEntry> out;
    for (const CpaSegment& seg : readCpa(lines).segments) {
        if (seg.type != 'D' && seg.type != 'C')
            throw AnswerFileError(seg.line.number, "record type", "a returned item in a file this server sent");
        SentEntry s;
        std::int32_t referenceBatch = 0;
        if (!crossReference(field(seg, bank::kCpaCrossReference), referenceBatch, s.centerId))
            throw AnswerFileError(seg.line.number, "segment " + std::to_string(seg.index) + " cross reference",
                                  "\"" + trimmed(field(seg, bank::kCpaCrossReference)) + "\" is not <batch>-<center>");
        s.batchNo = batchNo;
        s.cents = segmentDigits(seg, bank::kCpaAmount.from, bank::kCpaAmount.to, "amount");
        s.direction = seg.type == 'D' ? Direction::Debit : Direction::Credit;
        s.trace = trimmed(field(seg, bank::kCpaCrossReference));
        s.effectiveDate = isoDate(segmentJulian(seg, bank::kCpaDueDate.from, "due date"));
        s.institution = std::string(field(seg, bank::kCpaInstitution));
        s.account = trimmed(field(seg, bank::kCpaAccount));
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace

std::vector<SentEntry> sentEntries(std::string_view bankFileText, std::int32_t batchNo) {
    const std::vector<Line> lines = splitLines(bankFileText);
    const char first = lines.front().text.empty() ? ' ' : lines.front().text[0];
    if (first == '1') return nachaEntries(lines, batchNo);
    if (first == 'A') return cpaEntries(lines, batchNo);
    throw AnswerFileError(1, "record type", "neither a NACHA nor a CPA-005 file");
}

}  // namespace eft::server::returns
