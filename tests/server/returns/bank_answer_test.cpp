// A bank's answer read: each format told by its content and read field by field, the shapes
// banks send that are accepted, and every fault that refuses the file whole, named by its
// line and field.
#include <gtest/gtest.h>

#include <sodium.h>

#include <functional>

#include "answer_files.h"
#include "server/returns/bank_answer.h"

namespace eft::server::testing {
namespace {

using returns::AnswerFormat;
using returns::Direction;
using returns::ReadOptions;
using returns::SentEntry;

const bank::BankAccount kUs{"011000015", "", "", "12345678", bank::AccountType::Checking};
const bank::BankAccount kUsSavings{"021000021", "", "", "987654321", bank::AccountType::Savings};
const bank::BankAccount kCa{"", "003", "00011", "7654321", bank::AccountType::Checking};

SentEntry sent(std::int32_t batch, std::int32_t center, std::int64_t cents, Direction d, std::string trace) {
    return {batch, center, cents, d, std::move(trace), "2011-03-07", false, "", ""};
}

const std::vector<AnswerItem> kNachaItems = {
    {sent(1, 12, 9200, Direction::Debit, "011000010010001"), "R01", "2011-03-09", kUs, ""},
    {sent(1, 14, 15000, Direction::Credit, "011000010010002"), "R03", "2011-03-09", kUsSavings, ""},
    {sent(1, 16, 500, Direction::Debit, "011000010010003"), "C01", "2011-03-09", kUs, "1234567890"},
};
const std::vector<AnswerItem> kCpaItems = {
    {sent(8, 501, 100, Direction::Debit, ""), "901", "2011-03-10", kCa, ""},
    {sent(8, 502, 250, Direction::Credit, ""), "905", "2011-03-10", kCa, ""},
    {sent(8, 504, 300, Direction::Debit, ""), "", "2011-03-10", kCa, ""},  // no code written
};
const std::vector<AnswerItem> kCsvItems = {
    {sent(8, 501, 19265, Direction::Debit, ""), "901", "2011-03-10", kCa, ""},
    {sent(1, 12, 5, Direction::Credit, ""), "R02", "2011-03-11", kUs, ""},
    {sent(1, 13, 700, Direction::Debit, ""), "?", "2011-03-11", kUs, ""},
};

// A returned entry on one line, every field the reader fills.
std::string describe(const returns::ReturnedEntry& r) {
    return std::to_string(r.country) + " " + r.code + " trace=" + r.originalTrace + " " + std::to_string(r.batchNo) + "-" +
           std::to_string(r.centerId) + " " + std::to_string(r.cents) + (r.direction == Direction::Debit ? " debit" : " credit") +
           " on " + r.returnDate + " of " + r.originalEffectiveDate + " at " + r.routing + "|" + r.institution + "|" +
           r.transit + "|" + r.account + " own=" + r.ownTrace + " line " + std::to_string(r.line);
}

std::string describe(const returns::ChangeNotice& n) {
    return n.code + " trace=" + n.originalTrace + " center " + std::to_string(n.centerId) + " data=" + n.correctedData +
           " on " + n.date + " own=" + n.ownTrace + " line " + std::to_string(n.line);
}

struct GoodFile {
    const char* name;
    std::function<std::string()> file;
    ReadOptions options;
    AnswerFormat format;
    std::vector<std::string> returns;
    std::vector<std::string> changes;
};

class ReadBankAnswer : public ::testing::TestWithParam<GoodFile> {};

TEST_P(ReadBankAnswer, EveryFieldAsTheLayoutPlacesIt) {
    const GoodFile& c = GetParam();
    const std::string text = c.file();
    const returns::BankAnswer answer = returns::readBankAnswer(text, c.options);
    EXPECT_EQ(answer.format, c.format);
    std::vector<std::string> got;
    for (const auto& r : answer.returns) got.push_back(describe(r));
    EXPECT_EQ(got, c.returns);
    got.clear();
    for (const auto& n : answer.changes) got.push_back(describe(n));
    EXPECT_EQ(got, c.changes);
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    std::string hex;
    for (const unsigned char b : digest) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    EXPECT_EQ(answer.sha256, hex);
}

std::string lfOnly(std::string text) {
    std::string out;
    for (const char ch : text)
        if (ch != '\r') out += ch;
    return out;
}

const std::vector<std::string> kNachaReturns = {
    "1 R01 trace=011000010010001 0-12 9200 debit on 2011-03-09 of  at 01100001|||12345678 own=021000020000001 line 3",
    "1 R03 trace=011000010010002 0-14 15000 credit on 2011-03-09 of  at 02100002|||987654321 own=021000020000002 line 5",
};
const std::vector<std::string> kNachaChanges = {
    "C01 trace=011000010010003 center 16 data=1234567890 on 2011-03-09 own=021000020000003 line 9"};
const std::vector<std::string> kCpaReturns = {
    "2 901 trace= 8-501 100 debit on 2011-03-10 of 2011-03-07 at |003|00011|7654321 own=2-1 line 2",
    "2  trace= 8-504 300 debit on 2011-03-10 of 2011-03-07 at |003|00011|7654321 own=2-2 line 2",
    "2 905 trace= 8-502 250 credit on 2011-03-10 of 2011-03-07 at |003|00011|7654321 own=3-1 line 3",
};
const std::vector<std::string> kCsvReturns = {
    "2 901 trace= 8-501 19265 debit on 2011-03-10 of  at ||| own=line 2 line 2",
    "1 R02 trace= 1-12 5 credit on 2011-03-11 of  at ||| own=line 3 line 3",
    "0  trace= 1-13 700 debit on 2011-03-11 of  at ||| own=line 4 line 4",
};

std::vector<std::string> withCode(std::vector<std::string> rows, std::size_t row, const std::string& from,
                                  const std::string& to) {
    rows[row].replace(rows[row].find(from), from.size(), to);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ReadBankAnswer,
    ::testing::Values(
        GoodFile{"NachaReturnsAndNotices", [] { return nachaAnswerFile(kNachaItems); }, {}, AnswerFormat::NachaReturns,
                 kNachaReturns, kNachaChanges},
        GoodFile{"NachaWithLineFeedsOnly", [] { return lfOnly(nachaAnswerFile(kNachaItems)); }, {},
                 AnswerFormat::NachaReturns, kNachaReturns, kNachaChanges},
        GoodFile{"NachaWithEmptyLinesAtTheEnd", [] { return nachaAnswerFile(kNachaItems) + "\r\n\n"; }, {},
                 AnswerFormat::NachaReturns, kNachaReturns, kNachaChanges},
        GoodFile{"NachaWithoutFillerNorLastLineEnd",
                 [] {
                     std::string t = nachaAnswerFile(kNachaItems);
                     return t.substr(0, t.find(std::string(94, '9')) - 2);
                 },
                 {}, AnswerFormat::NachaReturns, kNachaReturns, kNachaChanges},
        GoodFile{"NachaUnreadableCodeIsUnknown",
                 [] {
                     auto items = kNachaItems;
                     items[0].code = "R0";
                     return nachaAnswerFile(items);
                 },
                 {}, AnswerFormat::NachaReturns, withCode(kNachaReturns, 0, " R01 ", "  "), kNachaChanges},
        GoodFile{"CpaReturnedDebitsAndCredits", [] { return cpaAnswerFile(kCpaItems); }, {}, AnswerFormat::CpaReturns,
                 kCpaReturns, {}},
        GoodFile{"CpaCodeWhereTheOriginatorSaysItIs", [] { return cpaAnswerFile(kCpaItems, {}, 191); }, {191},
                 AnswerFormat::CpaReturns, kCpaReturns, {}},
        GoodFile{"CpaCodeElsewhereIsUnknown", [] { return cpaAnswerFile(kCpaItems, {}, 191); }, {},
                 AnswerFormat::CpaReturns, withCode(withCode(kCpaReturns, 0, " 901 ", "  "), 2, " 905 ", "  "), {}},
        GoodFile{"CsvReport", [] { return csvAnswerFile(kCsvItems); }, {}, AnswerFormat::Csv, kCsvReturns, {}},
        GoodFile{"CsvWithoutHeaderWithBlankLinesAndQuotes",
                 [] {
                     std::string t = csvAnswerFile(kCsvItems);
                     t = "\r\n" + t.substr(t.find('\n') + 1) + "\r\n";
                     t.replace(t.find("901"), 3, "\" 901\"");
                     return t;
                 },
                 {}, AnswerFormat::Csv, kCsvReturns, {}}),
    [](const auto& info) { return info.param.name; });

struct BadFile {
    const char* name;
    std::function<std::string()> file;
    std::size_t line;
    const char* field;
};

class RefusedWhole : public ::testing::TestWithParam<BadFile> {};

TEST_P(RefusedWhole, NamingTheLineAndField) {
    const BadFile& c = GetParam();
    try {
        const auto answer = returns::readBankAnswer(c.file());
        ADD_FAILURE() << "read " << answer.returns.size() << " returns";
    } catch (const returns::AnswerFileError& e) {
        EXPECT_EQ(e.line(), c.line) << e.what();
        EXPECT_EQ(e.field(), c.field) << e.what();
    }
}

// The good NACHA file's records: 0 file header; 1 return batch header; 2, 4 entries and 3, 5
// their addenda; 6 batch control; 7 COR batch header; 8 entry, 9 addenda; 10 batch control;
// 11 file control; 12 to 19 filler.
std::function<std::string()> nacha(std::function<void(std::vector<std::string>&)> change) {
    return [change] {
        std::vector<std::string> r = recordsOf(nachaAnswerFile(kNachaItems));
        change(r);
        return fileOf(r);
    };
}
// 0 header A; 1 J with two segments; 2 I; 3 trailer Z.
std::function<std::string()> cpa(std::function<void(std::vector<std::string>&)> change) {
    return [change] {
        std::vector<std::string> r = recordsOf(cpaAnswerFile(kCpaItems));
        change(r);
        return fileOf(r);
    };
}
std::function<std::string()> csv(std::function<void(std::vector<std::string>&)> change) {
    return [change] {
        std::vector<std::string> r = recordsOf(csvAnswerFile(kCsvItems));
        change(r);
        return fileOf(r);
    };
}
std::function<std::string()> text(std::string t) {
    return [t] { return t; };
}
void put(std::string& record, std::size_t from, const std::string& value) { record.replace(from - 1, value.size(), value); }

INSTANTIATE_TEST_SUITE_P(
    Faults, RefusedWhole,
    ::testing::Values(
        BadFile{"EmptyFile", text(""), 1, ""},
        BadFile{"OnlyLineEnds", text("\r\n\r\n"), 2, ""},
        BadFile{"NeitherFormat", text("hello\r\n"), 1, "record type"},
        BadFile{"NonAsciiByte", nacha([](auto& r) { r[4][60] = '\xe9'; }), 5, ""},
        BadFile{"TabInARecord", nacha([](auto& r) { r[2][60] = '\t'; }), 3, ""},
        BadFile{"ShortRecord", nacha([](auto& r) { r[4].pop_back(); }), 5, "record length"},
        BadFile{"UnknownRecordType", nacha([](auto& r) { r[4][0] = '4'; }), 5, "record type"},
        BadFile{"NoFileHeader", nacha([](auto& r) { r.erase(r.begin()); }), 1, "record type"},
        BadFile{"AddendaWithNoEntry", nacha([](auto& r) { r.erase(r.begin() + 2); }), 3, "record type"},
        BadFile{"EntryOutsideABatch", nacha([](auto& r) { r.erase(r.begin() + 1); }), 2, "record type"},
        BadFile{"AnnouncedAddendaMissing", nacha([](auto& r) { r.erase(r.begin() + 3); }), 3, "addenda record indicator"},
        BadFile{"BatchHeaderInsideABatch", nacha([](auto& r) { r.erase(r.begin() + 6); }), 7, "record type"},
        BadFile{"AmountNotAddingUp", nacha([](auto& r) { put(r[2], 30, "0000009201"); }), 7,
                "total debit entry dollar amount"},
        BadFile{"CreditsNotAddingUp", nacha([](auto& r) { put(r[6], 33, "000000015001"); }), 7,
                "total credit entry dollar amount"},
        BadFile{"EntryHashNotAddingUp", nacha([](auto& r) { put(r[4], 4, "01100002"); }), 7, "entry hash"},
        BadFile{"BatchCountNotAddingUp", nacha([](auto& r) { put(r[6], 5, "000005"); }), 7, "entry/addenda count"},
        BadFile{"BatchNumberDiffers", nacha([](auto& r) { put(r[6], 88, "0000009"); }), 7, "batch number"},
        BadFile{"FileBatchCount", nacha([](auto& r) { put(r[11], 2, "000003"); }), 12, "batch count"},
        BadFile{"FileBlockCount", nacha([](auto& r) { put(r[11], 8, "000001"); }), 12, "block count"},
        BadFile{"FileEntryCount", nacha([](auto& r) { put(r[11], 14, "00000007"); }), 12, "entry/addenda count"},
        BadFile{"FileHash", nacha([](auto& r) { put(r[11], 22, "0000000001"); }), 12, "entry hash"},
        BadFile{"FileDebits", nacha([](auto& r) { put(r[11], 32, "000000000001"); }), 12, "total debit entry dollar amount"},
        BadFile{"FillerBeforeFileControl", nacha([](auto& r) { r.insert(r.begin() + 11, std::string(94, '9')); }), 12,
                "record type"},
        BadFile{"FileControlMissing", nacha([](auto& r) { r.resize(11); }), 11, "record type"},
        BadFile{"EntryAfterFileControl", nacha([](auto& r) { r[15] = r[2]; }), 16, "record type"},
        BadFile{"NotANumber", nacha([](auto& r) { put(r[2], 30, "00000092O0"); }), 3, "amount"},
        BadFile{"BadEffectiveDate", nacha([](auto& r) { put(r[1], 70, "110230"); }), 2, "effective entry date"},
        BadFile{"NoticeAddendaInAReturnBatch", nacha([](auto& r) { put(r[3], 2, "98"); }), 4, "addenda type code"},
        BadFile{"ForwardEntryNotAReturn", nacha([](auto& r) { put(r[2], 2, "27"); }), 3, "transaction code"},
        BadFile{"CpaRecordLength", cpa([](auto& r) { r[1] += " "; }), 2, "record length"},
        BadFile{"CpaRecordCount", cpa([](auto& r) { put(r[2], 2, "000000009"); }), 3, "logical record count"},
        BadFile{"CpaTrailerMissing", cpa([](auto& r) { r.pop_back(); }), 3, "record type"},
        BadFile{"CpaSecondHeader", cpa([](auto& r) { r[2][0] = 'A'; }), 3, "record type"},
        BadFile{"CpaOtherOriginator", cpa([](auto& r) { put(r[1], 11, "OTHER"); }), 2, "originator id"},
        BadFile{"CpaDebitTotal", cpa([](auto& r) { put(r[1], 25 + 3, "0000000101"); }), 4, "total value of debits"},
        BadFile{"CpaCreditCount", cpa([](auto& r) { put(r[3], 61, "00000002"); }), 4, "total number of credits"},
        BadFile{"CpaSegmentAmount", cpa([](auto& r) { put(r[1], 24 + 240 + 4, "00000003X0"); }), 2, "segment 2 amount"},
        BadFile{"CpaSegmentDate", cpa([](auto& r) { put(r[2], 24 + 14, "011400"); }), 3, "segment 1 date"},
        BadFile{"CpaForwardRecord", cpa([](auto& r) { r[1][0] = 'D'; }), 2, "record type"},
        BadFile{"CsvColumns", csv([](auto& r) { r[2] = "12,1,R02,0.05"; }), 3, ""},
        BadFile{"CsvHeader", csv([](auto& r) { r[0] = "centre,batch,code,amount,date"; }), 1, "center"},
        BadFile{"CsvCenter", csv([](auto& r) { r[1] = "x501,8,901,192.65,2011-03-10"; }), 2, "center"},
        BadFile{"CsvBatch", csv([](auto& r) { r[1] = "501,0,901,192.65,2011-03-10"; }), 2, "batch"},
        BadFile{"CsvAmount", csv([](auto& r) { r[1] = "501,8,901,192,2011-03-10"; }), 2, "amount"},
        BadFile{"CsvZeroAmount", csv([](auto& r) { r[1] = "501,8,901,0.00,2011-03-10"; }), 2, "amount"},
        BadFile{"CsvDate", csv([](auto& r) { r[3] = "13,1,R01,7.00,2011-02-30"; }), 4, "date"},
        BadFile{"CsvNonAscii", csv([](auto& r) { r[3] = "13,1,R01,7.00,2011-03-11 \xc3\xa9"; }), 4, ""}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace eft::server::testing
