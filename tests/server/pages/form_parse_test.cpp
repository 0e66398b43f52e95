// The parsers of the two posts: form decoding, the save record and body, the status body.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "members/member_save.h"
#include "net/pages.h"
#include "net/url_encode.h"
#include "server/pages/form.h"
#include "server/pages/save_body.h"
#include "server/pages/save_record.h"
#include "server/pages/status_form.h"

namespace eft::server {
namespace {

constexpr std::string_view kRecord1 =
    "MemberID=1001;Status=14;PersonID=7;PersonType=2;ConversionRate=1;CenterID=12;Source=1;Royalty=25;NAC=10;"
    "RoyaltyReserve=5;FranchiseFee=40;FranchiseFeeReserve=8;GSTshow=1.75;PSTShow=0;NMCshow=0;SweepSequence=1;"
    "Trust=False";

constexpr std::string_view kWorkedBody =
    "SQL1=MemberID%3D1001%3BStatus%3D14%3BPersonID%3D7%3BPersonType%3D2%3BConversionRate%3D1%3BCenterID%3D12%3B"
    "Source%3D1%3BRoyalty%3D25%3BNAC%3D10%3BRoyaltyReserve%3D5%3BFranchiseFee%3D40%3BFranchiseFeeReserve%3D8%3B"
    "GSTshow%3D1.75%3BPSTShow%3D0%3BNMCshow%3D0%3BSweepSequence%3D1%3BTrust%3DFalse&SQL2=MemberID%3D1002%3B"
    "Status%3D14%3BPersonID%3D7%3BPersonType%3D2%3BConversionRate%3D0.75%3BCenterID%3D15%3BSource%3D2%3B"
    "Royalty%3D22.5%3BNAC%3D9%3BRoyaltyReserve%3D3%3BFranchiseFee%3D37.5%3BFranchiseFeeReserve%3D7.5%3B"
    "GSTshow%3D1.25%3BPSTShow%3D0.5%3BNMCshow%3D0%3BSweepSequence%3D2%3BTrust%3DTrue&RecordCount=2";

// kRecord1 with the text `from` replaced by `to`.
std::string record1With(std::string_view from, std::string_view to) {
    std::string r(kRecord1);
    const auto at = r.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) r.replace(at, from.size(), to);
    return r;
}

std::string errorOf(auto&& parse) {
    try {
        parse();
    } catch (const RequestError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(FormDecoding, ComponentsDecodeBlanksEscapesAndWindows1252) {
    const struct {
        std::string_view in, out;
    } cases[] = {
        {"", ""},
        {"A+b", "A b"},
        {"a%26b%3Dc", "a&b=c"},
        {"50%25", "50%"},
        {"%2B", "+"},
        {"%7e", "~"},
        {"*-._", "*-._"},
        {"%0D%0A", "\r\n"},
        {"%E9", "\u00e9"},
        {"%80", "\u20ac"},
        {"%81", "\xEF\xBF\xBD"},  // unassigned in the code page: the replacement character
    };
    for (const auto& c : cases) EXPECT_EQ(decodeComponent(c.in), c.out) << c.in;
}

TEST(FormDecoding, EveryTextTheControlEncodesComesBack) {
    for (const std::string_view text : {"MemberID=1001;Trust=True", "Montr\u00e9al & Sons", "a+b 50%", "\u20ac~!'()"})
        EXPECT_EQ(decodeComponent(urlEncode(text)), text);
}

TEST(FormDecoding, BadEscapesAndPairsWithoutEqualsAreRefused) {
    for (const std::string_view bad : {"a=%", "a=%4", "a=%G1", "a=1&b", "=1"})
        EXPECT_THROW(decodeForm(bad), RequestError) << bad;
}

TEST(FormDecoding, QuotedTextsStayOnOneShortLine) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"abc", "'abc'"},
        {"a\r\nb", "'a??b'"},
        {std::string(41, 'x'), "'" + std::string(40, 'x') + "...'"},
        {std::string(39, 'x') + "\u00e9z", "'" + std::string(39, 'x') + "...'"},  // not half an e-acute
    };
    for (const auto& c : cases) EXPECT_EQ(quote(c.in), c.out) << c.in;
}

TEST(FormDecoding, OnePairStopsAt64KiBInWhateverPiecesItComes) {
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{70000}, std::size_t{1} << 20}) {
        FormDecoder decoder([](FormPair&&) {}, 10);
        std::string error;
        std::size_t fed = 0;
        try {
            decoder.feed("SQL1=");
            for (; fed < (std::size_t{16} << 20); fed += piece) decoder.feed(std::string(piece, 'x'));
        } catch (const RequestError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, "A pair is over 64 KiB") << piece;
        EXPECT_LE(fed, 64u * 1024) << piece;
    }
    // Just under the cap is a pair like any other.
    const auto pairs = decodeForm("a=" + std::string(64 * 1024 - 2, 'x') + "&b=1");
    ASSERT_EQ(pairs.size(), 2u);
}

TEST(FormDecoding, PairsKeepOrderAndSkipEmptyPieces) {
    const auto pairs = decodeForm("GoodMemb=1&&GoodMemb=-2&x=&");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].key, "GoodMemb");
    EXPECT_EQ(pairs[1].value, "-2");
    EXPECT_EQ(pairs[2].value, "");
}

TEST(SaveRecord, TheWorkedExampleBodyParses) {
    ASSERT_EQ(kWorkedBody.size(), 604u);
    const auto records = readSaveBody(kWorkedBody);
    ASSERT_EQ(records.size(), 2u);
    const SaveRecord& a = records[0];
    EXPECT_EQ(a.key, (ChargeKey{1001, 12, 1, 1}));
    EXPECT_EQ(a.personId, 7);
    EXPECT_EQ(a.personType, 2);
    EXPECT_EQ(a.conversionRate, 1.0f);
    EXPECT_EQ(a.amounts.royalty, 25.0f);
    EXPECT_EQ(a.amounts.franchiseFeeReserve, 8.0f);
    EXPECT_EQ(a.amounts.gst, 1.75f);
    EXPECT_FALSE(a.trust);
    const SaveRecord& b = records[1];
    EXPECT_EQ(b.key, (ChargeKey{1002, 15, 2, 2}));
    EXPECT_EQ(b.conversionRate, 0.75f);
    EXPECT_EQ(b.amounts.royalty, 22.5f);
    EXPECT_EQ(b.amounts.nac, 9.0f);
    EXPECT_EQ(b.amounts.pst, 0.5f);
    EXPECT_TRUE(b.trust);
}

TEST(SaveRecord, EveryMalformedRecordIsRefusedWithItsReason) {
    const struct {
        std::string record;
        std::string reason;
    } cases[] = {
        {"", "the record is empty"},
        {record1With(";Status=14", ""), "key 'PersonID' is out of order (expected 'Status')"},
        {record1With(";Trust=False", ""), "key 'Trust' is missing"},
        {record1With("Trust=False", "Trust=False;"), "pair 18 is empty"},
        {record1With(";Status=14", ";;Status=14"), "pair 2 is empty"},
        {record1With("NAC=10", "NAC"), "pair 'NAC' has no '='"},
        {record1With("NAC=10", "Nac=10"), "unknown key 'Nac'"},
        {record1With("PSTShow=0", "PSTshow=0"), "unknown key 'PSTshow'"},
        {record1With("Trust=False", "Trust=False;NAC=1"), "key 'NAC' appears twice"},
        {record1With("NAC=10;RoyaltyReserve=5", "RoyaltyReserve=5;NAC=10"),
         "key 'RoyaltyReserve' is out of order (expected 'NAC')"},
        {record1With("MemberID=1001", "MemberID="), "MemberID is empty"},
        {record1With("Royalty=25", "Royalty="), "Royalty is empty"},
        {record1With("MemberID=1001", "MemberID=10x1"), "MemberID '10x1' is not a whole number"},
        {record1With("MemberID=1001", "MemberID=+1001"), "MemberID '+1001' is not a whole number"},
        {record1With("MemberID=1001", "MemberID=3000000000"), "MemberID '3000000000' is out of range"},
        {record1With("Source=1", "Source=40000"), "Source '40000' is out of range"},
        {record1With("SweepSequence=1", "SweepSequence=1.5"), "SweepSequence '1.5' is not a whole number"},
        {record1With("Status=14", "Status=15"), "Status must be 14, not '15'"},
        {record1With("Royalty=25", "Royalty=2,5"), "Royalty '2,5' is not a number"},
        {record1With("Royalty=25", "Royalty=1e3"), "Royalty '1e3' is not a number"},
        {record1With("Royalty=25", "Royalty=.5"), "Royalty '.5' is not a number"},
        {record1With("Royalty=25", "Royalty=5."), "Royalty '5.' is not a number"},
        {record1With("Royalty=25", "Royalty= 25"), "Royalty ' 25' is not a number"},
        {record1With("Royalty=25", "Royalty=" + std::string(60, '9')),
         "Royalty '" + std::string(40, '9') + "...' is out of range"},
        {record1With("ConversionRate=1", "ConversionRate=0"), "ConversionRate must be above 0, not '0'"},
        {record1With("Trust=False", "Trust=false"), "Trust must be True or False, not 'false'"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf([&] { parseSaveRecord(c.record); }), c.reason) << c.record;
}

TEST(SaveRecord, NegativeAmountsAndIdsAreNumbers) {
    const SaveRecord r = parseSaveRecord(record1With("NMCshow=0", "NMCshow=-260.5"));
    EXPECT_EQ(r.amounts.nmc, -260.5f);
    EXPECT_EQ(parseSaveRecord(record1With("PersonID=7", "PersonID=-7")).personId, -7);
}

TEST(SaveBody, BodyFaultsNameTheRecordOrTheCount) {
    const std::string r1 = "SQL1=" + urlEncode(kRecord1);
    const std::string r2 = "SQL2=" + urlEncode(record1With("MemberID=1001", "MemberID=1002"));
    const std::string bad2 = "SQL2=" + urlEncode(record1With(";NAC=10", ""));
    const struct {
        std::string body;
        std::string reason;
    } cases[] = {
        {r1, "RecordCount is missing"},
        {"RecordCount=1&RecordCount=1", "RecordCount appears twice"},
        // The count caps the pairs: the one past it is refused whatever it is.
        {r1 + "&RecordCount=1&RecordCount=1", "The form has more than 2 pairs"},
        {"RecordCount=1&" + r1 + "&" + r2, "The form has more than 2 pairs"},
        {r1 + "&RecordCount=x", "RecordCount 'x' is not a count"},
        {r1 + "&RecordCount=-1", "RecordCount '-1' is not a count"},
        {r1 + "&RecordCount=2", "Record SQL2 is missing"},
        {r1 + "&" + r2 + "&RecordCount=1", "The form has more than 2 pairs"},
        {r1 + "&SQL3=" + urlEncode(kRecord1) + "&RecordCount=2", "Record SQL2 is missing"},
        {r2 + "&RecordCount=1", "Record SQL1 is missing"},
        {r1 + "&" + r1 + "&RecordCount=2", "Record SQL1 appears twice"},
        {r1 + "&SQL01=x&RecordCount=1", "Unexpected key 'SQL01'"},
        {r1 + "&PersonID=7&RecordCount=1", "Unexpected key 'PersonID'"},
        {r1 + "&" + bad2 + "&RecordCount=2", "Record SQL2: key 'RoyaltyReserve' is out of order (expected 'NAC')"},
        {"SQL1=MemberID%3&RecordCount=1", "Bad escape '%3'"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf([&] { readSaveBody(c.body); }), c.reason) << c.body;
}

// Every way of cutting a body into pieces gives what the whole body gives.
TEST(SaveBody, PiecesOfEverySizeReadAsTheWholeBody) {
    const std::string bad = std::string(kWorkedBody).replace(kWorkedBody.find("Trust%3DTrue"), 12, "Trust%3Dyes");
    for (const std::string_view body : {kWorkedBody, std::string_view(bad)}) {
        const std::string whole = errorOf([&] { readSaveBody(body); });
        for (std::size_t size = 1; size <= body.size(); ++size) {
            SaveBodyReader reader;
            std::string got;
            try {
                for (std::size_t at = 0; at < body.size(); at += size) reader.feed(body.substr(at, size));
                const auto records = reader.finish();
                ASSERT_EQ(records.size(), 2u);
                EXPECT_EQ(records[1].amounts.royalty, 22.5f);
                got = "(accepted)";
            } catch (const RequestError& e) {
                got = e.what();
            }
            ASSERT_EQ(got, whole) << "pieces of " << size;
        }
    }
}

// Distinct record numbers with nothing in them: only the cap stops them, long before 16 MiB.
TEST(SaveBody, TinyPairsStopAtTheCapBeforeTheCount) {
    SaveBodyReader reader;
    std::string error;
    std::int64_t k = 1;
    try {
        for (; k < 2'000'000; ++k) reader.feed("SQL" + std::to_string(k) + "=&");
    } catch (const RequestError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "The form has more than 32768 pairs");
    EXPECT_EQ(k, 32769);
}

TEST(SaveBody, RecordsMayComeInAnyOrderAndAnEmptySaveIsValid) {
    const std::string r1 = "SQL1=" + urlEncode(kRecord1);
    const std::string r2 = "SQL2=" + urlEncode(record1With("MemberID=1001", "MemberID=1002"));
    const auto records = readSaveBody("RecordCount=2&" + r2 + "&" + r1);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].key.memberId, 1001);
    EXPECT_EQ(records[1].key.memberId, 1002);
    EXPECT_TRUE(readSaveBody("RecordCount=0").empty());
}

TEST(StatusBody, TheWorkedExampleParses) {
    const StatusForm f = parseStatusBody("GoodMemb=1001&GoodMemb=-1002&BadMemb=2001&PersonID=9&PersonType=2&BatchNo=57&");
    EXPECT_EQ(f.cleared, (std::vector<MemberRef>{{1001, false}, {1002, true}}));
    EXPECT_EQ(f.failed, (std::vector<MemberRef>{{2001, false}}));
    EXPECT_EQ(f.personId, 9);
    EXPECT_EQ(f.personType, 2);
    EXPECT_EQ(f.batchNo, 57);
}

TEST(StatusBody, AMemberListedOncePerItemCountsOnce) {
    const StatusForm f = parseStatusBody("GoodMemb=1001&GoodMemb=1001&GoodMemb=-1001&PersonID=9&PersonType=2&BatchNo=5&");
    EXPECT_EQ(f.cleared, (std::vector<MemberRef>{{1001, false}, {1001, true}}));
}

TEST(StatusBody, FaultsAreNamed) {
    const std::string tail = "PersonID=9&PersonType=2&BatchNo=57&";
    const struct {
        std::string body;
        std::string reason;
    } cases[] = {
        {"GoodMemb=1&PersonType=2&BatchNo=57&", "PersonID is missing"},
        {"GoodMemb=1&PersonID=9&BatchNo=57&", "PersonType is missing"},
        {"GoodMemb=1&PersonID=9&PersonType=2&", "BatchNo is missing"},
        {tail, "No member ids were given"},
        {"GoodMemb=1&BatchNo=3&" + tail, "BatchNo appears twice"},
        {"GoodMemb=abc&" + tail, "GoodMemb 'abc' is not a valid number"},
        {"GoodMemb=0&" + tail, "GoodMemb '0' is not a member id"},
        {"BadMemb=-&" + tail, "BadMemb '-' is not a member id"},
        {"BadMemb=--5&" + tail, "BadMemb '-5' is not a valid number"},
        {"GoodMemb=5&BadMemb=5&" + tail, "Member 5 is named both cleared and failed"},
        {"GoodMemb=-5&BadMemb=-5&" + tail, "Member -5 is named both cleared and failed"},
        {"GoodMemb=1&Status=3&" + tail, "Unexpected key 'Status'"},
        {"GoodMemb=1&PersonID=9&PersonType=99999&BatchNo=57&", "PersonType '99999' is not a valid number"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf([&] { parseStatusBody(c.body); }), c.reason) << c.body;
}

TEST(StatusBody, APairPastTheCapIsRefused) {
    const std::string body = "GoodMemb=1&GoodMemb=1&BadMemb=2&PersonID=9&PersonType=2&BatchNo=57&";
    StatusBodyReader fits(6);
    fits.feed(body);
    EXPECT_EQ(fits.finish().failed.size(), 1u);
    StatusBodyReader over(5);
    EXPECT_EQ(errorOf([&] {
                  over.feed(body);
                  over.finish();
              }),
              "The form has more than 5 pairs");
}

TEST(StatusBody, PlainAndDashedIdsOfOneMemberAreDifferentItems) {
    const StatusForm f = parseStatusBody("GoodMemb=5&BadMemb=-5&PersonID=1&PersonType=1&BatchNo=1&");
    EXPECT_EQ(f.cleared, (std::vector<MemberRef>{{5, false}}));
    EXPECT_EQ(f.failed, (std::vector<MemberRef>{{5, true}}));
}

}  // namespace
}  // namespace eft::server
