#include "server/returns/bank_answer.h"

#include <openssl/evp.h>

#include "server/returns/answer_records.h"
#include "text/text_forms.h"

namespace eft::server::returns {
namespace {

using namespace records;

std::string sha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("sha256 failed");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

bool codeShape(std::string_view code, bool letter) {
    if (code.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = code[i];
        const bool ok = (i == 0 && letter) ? (c >= 'A' && c <= 'Z') : (c >= '0' && c <= '9');
        if (!ok) return false;
    }
    return true;
}

// A code as the file writes it, or empty when it is not one: an unreadable code is unknown,
// never guessed.
std::string readableCode(std::string_view text, bool letter) {
    return codeShape(text, letter) ? std::string(text) : std::string();
}

void readNachaAnswer(const std::vector<Line>& lines, BankAnswer& answer) {
    const NachaFile file = readNacha(lines);
    const std::string fileDate = isoDate(yymmdd(file.header, 24, "file creation date"));
    for (const NachaBatch& b : file.batches) {
        const bool notices = field(b.header, 51, 53) == "COR";
        // The return batch's effective date is the day the bank returns the entries.
        const std::string date = trimmed(field(b.header, 70, 75)).empty()
                                     ? fileDate
                                     : isoDate(yymmdd(b.header, 70, "effective entry date"));
        for (const NachaEntry& e : b.entries) {
            if (e.addenda.size() != 1)
                throw AnswerFileError(e.line.number, "addenda record indicator",
                                      notices ? "a notification of change carries one addenda (98)"
                                              : "a return carries one addenda (99)");
            const Line& a = e.addenda.front();
            const std::string_view type = field(a, 2, 3);
            if (type != (notices ? "98" : "99"))
                throw AnswerFileError(a.number, "addenda type code",
                                      std::string(notices ? "98 expected in a COR batch" : "99 expected in a return batch") +
                                          ", found " + std::string(type));
            const std::string_view code = field(e.line, 2, 3);
            if (code[1] != '1' && code[1] != '6')
                throw AnswerFileError(e.line.number, "transaction code",
                                      std::string(code) + " is not a return or notification of change (x1, x6)");
            const std::int32_t centerId = positiveNumber(field(e.line, 40, 54));
            if (notices) {
                ChangeNotice n;
                n.code = readableCode(field(a, 4, 6), true);
                n.originalTrace = std::string(field(a, 7, 21));
                n.centerId = centerId;
                std::string data(field(a, 36, 64));
                while (!data.empty() && data.back() == ' ') data.pop_back();
                n.correctedData = std::move(data);
                n.date = date;
                n.ownTrace = std::string(field(a, 80, 94));
                n.line = e.line.number;
                answer.changes.push_back(std::move(n));
                continue;
            }
            ReturnedEntry r;
            r.country = 1;
            r.code = readableCode(field(a, 4, 6), true);
            r.originalTrace = std::string(field(a, 7, 21));
            r.centerId = centerId;
            r.cents = digits(e.line, 30, 39, "amount");
            r.direction = nachaDebitCode(code) ? Direction::Debit : Direction::Credit;
            r.returnDate = date;
            r.routing = std::string(field(a, 28, 35));
            r.account = trimmed(field(e.line, 13, 29));
            r.ownTrace = std::string(field(a, 80, 94));
            r.line = e.line.number;
            answer.returns.push_back(std::move(r));
        }
    }
}

void readCpaAnswer(const std::vector<Line>& lines, const ReadOptions& options, BankAnswer& answer) {
    const std::size_t at = options.cpaReasonPosition == 0 ? kCpaReasonPosition : options.cpaReasonPosition;
    if (at + 2 > 240) throw std::invalid_argument("the CPA-005 reason code position must be 1 to 238");
    const CpaFile file = readCpa(lines);
    const std::string fileDate = isoDate(julian(file.header, 25, "creation date"));
    for (const CpaSegment& s : file.segments) {
        if (s.type != 'I' && s.type != 'J')
            throw AnswerFileError(s.line.number, "record type",
                                  std::string("'") + s.type + "': a returned-items file holds I and J records");
        ReturnedEntry r;
        r.country = 2;
        r.code = readableCode(segmentField(s, at, at + 2), false);
        crossReference(field(s, bank::kCpaCrossReference), r.batchNo, r.centerId);
        r.cents = segmentDigits(s, bank::kCpaAmount.from, bank::kCpaAmount.to, "amount");
        r.direction = s.type == 'J' ? Direction::Debit : Direction::Credit;
        r.returnDate = fileDate;
        r.originalEffectiveDate = isoDate(segmentJulian(s, bank::kCpaDueDate.from, "date"));
        r.institution = std::string(field(s, bank::kCpaInstitution));
        r.transit = std::string(field(s, bank::kCpaTransit));
        r.account = trimmed(field(s, bank::kCpaAccount));
        r.ownTrace = std::to_string(s.record) + "-" + std::to_string(s.index);
        r.line = s.line.number;
        answer.returns.push_back(std::move(r));
    }
}

std::vector<std::string> csvFields(std::string_view line) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (true) {
        const std::size_t comma = line.find(',', at);
        std::string f = trimmed(line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = trimmed(f.substr(1, f.size() - 2));
        out.push_back(std::move(f));
        if (comma == std::string_view::npos) return out;
        at = comma + 1;
    }
}

void readCsvAnswer(const std::vector<Line>& lines, BankAnswer& answer) {
    static constexpr const char* kColumns[] = {"center", "batch", "code", "amount", "date"};
    bool first = true;
    for (const Line& line : lines) {
        if (trimmed(line.text).empty()) continue;
        const std::vector<std::string> f = csvFields(line.text);
        const bool header = first && positiveNumber(f[0]) == 0;
        first = false;
        if (f.size() != 5)
            throw AnswerFileError(line.number, "",
                                  "5 columns expected (center, batch, code, amount, date), found " + std::to_string(f.size()));
        if (header) {
            for (std::size_t i = 0; i < 5; ++i) {
                std::string name = f[i];
                for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                if (name != kColumns[i])
                    throw AnswerFileError(line.number, kColumns[i], "the header names \"" + f[i] + "\" here");
            }
            continue;
        }
        ReturnedEntry r;
        r.centerId = positiveNumber(f[0]);
        if (r.centerId == 0) throw AnswerFileError(line.number, "center", "\"" + f[0] + "\" is not a center number");
        r.batchNo = positiveNumber(f[1]);
        if (r.batchNo == 0) throw AnswerFileError(line.number, "batch", "\"" + f[1] + "\" is not a batch number");
        r.code = readableCode(f[2], true);
        if (r.code.empty()) r.code = readableCode(f[2], false);
        r.country = r.code.empty() ? 0 : r.code[0] >= 'A' ? 1 : 2;
        const std::optional<text::Cents> cents = text::parseCents(f[3]);
        if (!cents || *cents == 0 || *cents > 9'999'999'999 || *cents < -9'999'999'999)
            throw AnswerFileError(line.number, "amount", "\"" + f[3] + "\" is not an amount such as 192.65");
        r.cents = *cents > 0 ? *cents : -*cents;
        r.direction = *cents > 0 ? Direction::Debit : Direction::Credit;
        if (f[4].size() != 10 || f[4][4] != '-' || f[4][7] != '-')
            throw AnswerFileError(line.number, "date", "\"" + f[4] + "\" is not a date YYYY-MM-DD");
        const std::string compact = f[4].substr(2, 2) + f[4].substr(5, 2) + f[4].substr(8, 2);
        try {
            if (f[4].substr(0, 2) != "20") throw AnswerFileError(line.number, "date", "");
            r.returnDate = isoDate(yymmdd({line.number, compact}, 1, "date"));
        } catch (const AnswerFileError&) {
            throw AnswerFileError(line.number, "date", "\"" + f[4] + "\" is not a date YYYY-MM-DD");
        }
        r.ownTrace = "line " + std::to_string(line.number);
        r.line = line.number;
        answer.returns.push_back(std::move(r));
    }
}

}  // namespace

ReadOptions readOptions(const bank::Originator& o) {
    return ReadOptions{static_cast<std::size_t>(std::stoul(o.cpaReasonPosition))};
}

BankAnswer readBankAnswer(std::string_view content, const ReadOptions& options) {
    BankAnswer answer;
    const std::vector<Line> lines = splitLines(content);
    // A CSV report may open with blank lines; a NACHA or CPA-005 file may not (its reader says so).
    std::string_view first = lines.front().text;
    for (const Line& l : lines)
        if (!trimmed(l.text).empty()) {
            first = l.text;
            break;
        }
    if (!first.empty() && first[0] == '1' && first.find(',') == std::string_view::npos) {
        answer.format = AnswerFormat::NachaReturns;
        readNachaAnswer(lines, answer);
    } else if (first.size() > 10 && first[0] == 'A' && first.find(',') == std::string_view::npos) {
        answer.format = AnswerFormat::CpaReturns;
        readCpaAnswer(lines, options, answer);
    } else if (first.find(',') != std::string_view::npos) {
        answer.format = AnswerFormat::Csv;
        readCsvAnswer(lines, answer);
    } else {
        throw AnswerFileError(lines.front().number, "record type", "neither a NACHA, a CPA-005 nor a CSV file");
    }
    answer.sha256 = sha256(content);
    return answer;
}

}  // namespace eft::server::returns
