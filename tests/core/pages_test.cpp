// The five request addresses and the framing of the two POST bodies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/pages.h"

namespace eft::pages {
namespace {

TEST(Pages, Addresses) {
    const std::string base = "http://h/eft/";
    const struct {
        std::string got;
        const char* expected;
    } cases[] = {
        {sweepRowsAddress(base, 1), "http://h/eft/EFTMember.asp?countryID=1&Load=1"},
        {sweepRowsAddress(base, 2), "http://h/eft/EFTMember.asp?countryID=2&Load=1"},
        {saveAddress(base), "http://h/eft/EFTMember.asp"},
        {batchListAddress(base), "http://h/eft/EFTMemberBatch.asp?TSQL=BatchList"},
        {statusAddress(base), "http://h/eft/EFTMemberBatch.asp"},
        {exportAddress(base, 9, 2), "http://h/eft/EFTMemberBatch.asp?ProcessExport=True&PersonID=9&PersonTypeID=2"},
        {exportAddress(base, 1234567, -3),
         "http://h/eft/EFTMemberBatch.asp?ProcessExport=True&PersonID=1234567&PersonTypeID=-3"},
        // Nothing is put between the base and the page, whatever the base looks like.
        {saveAddress("https://x.example:8443/a/b/"), "https://x.example:8443/a/b/EFTMember.asp"},
        {batchListAddress(""), "EFTMemberBatch.asp?TSQL=BatchList"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(Pages, SaveBodyOfTheTwoRecordExample) {
    const std::vector<std::string> records = {
        "MemberID=1001;Status=14;PersonID=7;PersonType=2;ConversionRate=1;CenterID=12;Source=1;"
        "Royalty=25;NAC=10;RoyaltyReserve=5;FranchiseFee=40;FranchiseFeeReserve=8;GSTshow=1.75;"
        "PSTShow=0;NMCshow=0;SweepSequence=1;Trust=False",
        "MemberID=1002;Status=14;PersonID=7;PersonType=2;ConversionRate=0.75;CenterID=15;Source=2;"
        "Royalty=22.5;NAC=9;RoyaltyReserve=3;FranchiseFee=37.5;FranchiseFeeReserve=7.5;GSTshow=1.25;"
        "PSTShow=0.5;NMCshow=0;SweepSequence=2;Trust=True",
    };
    const std::string expected =
        "SQL1=MemberID%3D1001%3BStatus%3D14%3BPersonID%3D7%3BPersonType%3D2%3BConversionRate%3D1%3B"
        "CenterID%3D12%3BSource%3D1%3BRoyalty%3D25%3BNAC%3D10%3BRoyaltyReserve%3D5%3BFranchiseFee%3D40%3B"
        "FranchiseFeeReserve%3D8%3BGSTshow%3D1.75%3BPSTShow%3D0%3BNMCshow%3D0%3BSweepSequence%3D1%3B"
        "Trust%3DFalse&SQL2=MemberID%3D1002%3BStatus%3D14%3BPersonID%3D7%3BPersonType%3D2%3B"
        "ConversionRate%3D0.75%3BCenterID%3D15%3BSource%3D2%3BRoyalty%3D22.5%3BNAC%3D9%3B"
        "RoyaltyReserve%3D3%3BFranchiseFee%3D37.5%3BFranchiseFeeReserve%3D7.5%3BGSTshow%3D1.25%3B"
        "PSTShow%3D0.5%3BNMCshow%3D0%3BSweepSequence%3D2%3BTrust%3DTrue&RecordCount=2";
    const std::string body = saveBody(records);
    EXPECT_EQ(body, expected);
    EXPECT_EQ(body.size(), 604u);
}

TEST(Pages, SaveBodyFraming) {
    const struct {
        std::vector<std::string> records;
        const char* expected;
    } cases[] = {
        {{}, "RecordCount=0"},
        {{""}, "SQL1=&RecordCount=1"},
        {{"a b"}, "SQL1=a+b&RecordCount=1"},
        {{"x=1", "y&2", "z"}, "SQL1=x%3D1&SQL2=y%262&SQL3=z&RecordCount=3"},
    };
    for (const auto& c : cases) EXPECT_EQ(saveBody(c.records), c.expected);

    // Records are numbered in order from 1, with no gap and no leading zeros.
    std::vector<std::string> many(12, "r");
    const std::string body = saveBody(many);
    EXPECT_NE(body.find("&SQL9=r&SQL10=r&SQL11=r&SQL12=r&RecordCount=12"), std::string::npos) << body;
    EXPECT_EQ(body.rfind("SQL1=r&SQL2=r&", 0), 0u) << body;
}

TEST(Pages, StatusBody) {
    const struct {
        std::vector<std::string> cleared, failed;
        int personId, personType, batchNo;
        const char* expected;
    } cases[] = {
        {{"1001", "-1002"}, {"2001"}, 9, 2, 57,
         "GoodMemb=1001&GoodMemb=-1002&BadMemb=2001&PersonID=9&PersonType=2&BatchNo=57&"},
        {{"1", "2"}, {}, 9, 2, 57, "GoodMemb=1&GoodMemb=2&PersonID=9&PersonType=2&BatchNo=57&"},
        {{}, {"-77"}, 1, 1, 3, "BadMemb=-77&PersonID=1&PersonType=1&BatchNo=3&"},
        {{}, {}, -4, 0, 0, "PersonID=-4&PersonType=0&BatchNo=0&"},
        {{"a b"}, {"c&d"}, 9, 2, 57, "GoodMemb=a+b&BadMemb=c%26d&PersonID=9&PersonType=2&BatchNo=57&"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusBody(c.cleared, c.failed, c.personId, static_cast<std::int16_t>(c.personType), c.batchNo),
                  c.expected);
}

}  // namespace
}  // namespace eft::pages
