// Which requests the pages answer, and how everything else is turned away.
#include <gtest/gtest.h>

#include "server/http/router.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

class RouterTest : public ServerFixture {};

TEST_P(RouterTest, RequestsAreAnsweredOrRefusedWithOneLine) {
    const struct {
        const char* method;
        const char* path;
        const char* query;
        std::string body;
        int status;
        const char* reply;  // the start of the reply body; empty: the body is empty
    } cases[] = {
        {"GET", "/eft/EFTMember.asp", "countryID=1&Load=1", "", 200, "<?xml"},
        {"HEAD", "/eft/EFTMember.asp", "countryID=2&Load=1", "", 405, "The method 'HEAD' is not allowed here\n"},
        {"HEAD", "/eft/EFTMemberBatch.asp", "ProcessExport=True&PersonID=9&PersonTypeID=2", "", 405, "The method"},
        {"GET", "/EFT/eftmember.ASP", "COUNTRYID=2&load=1", "", 200, "<?xml"},
        {"GET", "/eft/EFTMember.asp", "countryID=3&Load=1", "", 400,
         "countryID must be 1 (United States) or 2 (Canada), not '3'\n"},
        {"GET", "/eft/EFTMember.asp", "countryID=01&Load=1", "", 400, "countryID must be 1"},
        {"GET", "/eft/EFTMember.asp", "countryID=1", "", 400, "Load is missing\n"},
        {"GET", "/eft/EFTMember.asp", "Load=1", "", 400, "countryID is missing\n"},
        {"GET", "/eft/EFTMember.asp", "countryID=1&Load=2", "", 400, "Load must be 1\n"},
        {"GET", "/eft/EFTMember.asp", "countryID=1&Load=1&x=1", "", 400, "Unexpected query key 'x'\n"},
        {"GET", "/eft/EFTMember.asp", "countryID=1&countryid=2&Load=1", "", 400,
         "Query key 'countryid' appears twice\n"},
        {"GET", "/eft/EFTMember.asp", "countryID=%ZZ&Load=1", "", 400, "Bad escape '%ZZ'\n"},
        {"GET", "/eft/EFTMember.asp", "", "", 400, "countryID is missing\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "TSQL=BatchList", "", 200, "<?xml"},
        {"GET", "/eft/EFTMemberBatch.asp", "tsql=batchlist", "", 200, "<?xml"},
        {"GET", "/eft/EFTMemberBatch.asp", "TSQL=Drop", "", 400, "TSQL must be BatchList\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "TSQL=BatchList&PersonID=1", "", 400, "Unexpected query key 'personid'\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "", "", 400, "The batch page needs TSQL=BatchList or ProcessExport=True\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "ProcessExport=True&PersonID=9&PersonTypeID=2", "", 200, "<?xml"},
        {"GET", "/eft/EFTMemberBatch.asp", "ProcessExport=False&PersonID=9&PersonTypeID=2", "", 400,
         "ProcessExport must be True\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "ProcessExport=True&PersonID=9", "", 400, "PersonTypeID is missing\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "ProcessExport=True&PersonID=-9&PersonTypeID=2", "", 400,
         "PersonID '-9' is not a valid number\n"},
        {"GET", "/eft/EFTMemberBatch.asp", "ProcessExport=True&PersonID=9&PersonTypeID=70000", "", 400,
         "PersonTypeID '70000' is not a valid number\n"},
        {"POST", "/eft/EFTMember.asp", "", "RecordCount=0", 200, ""},
        {"POST", "/eft/EFTMember.asp", "", bodyFor({kDues1001}), 200, ""},
        // Refused unread: the limit is the router's as well as the connection's.
        {"POST", "/eft/EFTMember.asp", "", std::string(kMaxBodyBytes + 1, 'x'), 413,
         "The request body is over the 16 MiB limit\n"},
        {"POST", "/eft/eftmember.asp", "", "RecordCount=x", 400, "RecordCount 'x' is not a count\n"},
        {"POST", "/eft/EFTMember.asp", "", "", 400, "RecordCount is missing\n"},
        {"POST", "/eft/EFTMember.asp", "Load=1", "RecordCount=0", 400, "A post takes no query\n"},
        {"POST", "/eft/EFTMemberBatch.asp", "", "GoodMemb=1001&PersonID=9&PersonType=2&BatchNo=4&", 200,
         "Batch 4 does not exist"},
        {"POST", "/eft/EFTMemberBatch.asp", "", "", 400, "PersonID is missing\n"},
        {"GET", "/eft/Other.asp", "", "", 404, "Not found: /eft/Other.asp\n"},
        {"GET", "/EFTMember.asp", "countryID=1&Load=1", "", 404, "Not found"},
        {"GET", "/eft/EFTMember.asp/more", "countryID=1&Load=1", "", 404, "Not found"},
        {"GET", "/eft/", "", "", 404, "Not found"},
        {"DELETE", "/eft/EFTMember.asp", "", "", 405, "The method 'DELETE'"},
        {"PUT", "/eft/EFTMemberBatch.asp", "", "", 405, "The method 'PUT'"},
        {"OPTIONS", "/eft/EFTMemberBatch.asp", "", "", 405, "The method 'OPTIONS'"},
        {"DELETE", "/eft/Other.asp", "", "", 404, "Not found"},
    };
    for (const auto& c : cases) {
        HttpReply reply = route(*service, {c.method, c.path, c.query, c.body});
        reply.body = sweepBody(*service, reply);
        const std::string what = std::string(c.method) + " " + c.path + "?" + c.query + " " + c.body.substr(0, 40);
        EXPECT_EQ(reply.status, c.status) << what << ": " << reply.body;
        const std::size_t start = std::string_view(c.reply).empty() ? std::string::npos : std::string_view(c.reply).size();
        EXPECT_EQ(reply.body.substr(0, start), c.reply) << what;
        if (reply.status != 200) {
            EXPECT_EQ(reply.body.find('\n'), reply.body.size() - 1) << what << ": not one line";
            EXPECT_EQ(reply.contentType, "text/plain; charset=UTF-8") << what;
        }
        if (std::string_view(c.reply) == "<?xml") {
            EXPECT_EQ(reply.contentType, "text/xml; charset=UTF-8") << what;
        }
    }
}

TEST_P(RouterTest, NoHeadOrOtherMethodChangesAnything) {
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    for (const char* method : {"HEAD", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
        route(*service, {method, "/eft/EFTMemberBatch.asp", "ProcessExport=True&PersonID=9&PersonTypeID=2", ""});
        route(*service, {method, "/eft/EFTMember.asp", "", bodyFor({kDues1003})});
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state <> 0"), 1);
}

// The Canada sweep of the fixture, byte for byte as the server wrote it whole before it
// streamed; every piece size must give it again.
constexpr std::string_view kCanadaSweep =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Sweep>\n"
    "<Row><MemberID>2001</MemberID><MemberName>Hélène Tremblay</MemberName><CenterID>34</CenterID><CenterName>Montréal Plateau</CenterName><ContractSigned>2008-02-01T00:00:00</ContractSigned><ConversionRate>1.3</ConversionRate><Royalty>100</Royalty><NAC>0</NAC><RoyaltyReserve>0</RoyaltyReserve><FranchiseFee>0</FranchiseFee><FranchiseFeeReserve>0</FranchiseFeeReserve><SalesTaxExempt>false</SalesTaxExempt><Source>1</Source><SourceDescription>Membership dues</SourceDescription><GST>6.5</GST><PST>10.4</PST><NMCPayment>0</NMCPayment><SweepSequence>1</SweepSequence><SweepDate>2011-03-01T06:00:00</SweepDate><Type>1</Type><TrustID>0</TrustID><INRowTotal>146.9</INRowTotal><OUTRowTotal>0</OUTRowTotal><MemberType>1</MemberType><SubscriptionMembership>true</SubscriptionMembership><DownPayment>false</DownPayment></Row>\n"
    "<Row><MemberID>2002</MemberID><MemberName>Luc Roy</MemberName><CenterID>34</CenterID><CenterName>Montréal Plateau</CenterName><ContractSigned>2008-02-01T00:00:00</ContractSigned><ConversionRate>1.3</ConversionRate><Royalty>50</Royalty><NAC>0</NAC><RoyaltyReserve>5</RoyaltyReserve><FranchiseFee>0</FranchiseFee><FranchiseFeeReserve>0</FranchiseFeeReserve><SalesTaxExempt>true</SalesTaxExempt><Source>1</Source><SourceDescription>Membership dues</SourceDescription><GST>2.25</GST><PST>3.6</PST><NMCPayment>0</NMCPayment><SweepSequence>1</SweepSequence><SweepDate>2011-03-01T06:00:00</SweepDate><Type>3</Type><TrustID>0</TrustID><INRowTotal>50.85</INRowTotal><OUTRowTotal>0</OUTRowTotal><MemberType>3</MemberType><SubscriptionMembership>false</SubscriptionMembership><DownPayment>false</DownPayment></Row>\n"
    "<Row><MemberID>2002</MemberID><MemberName>Luc Roy</MemberName><CenterID>34</CenterID><CenterName>Montréal Plateau</CenterName><ContractSigned>2008-02-01T00:00:00</ContractSigned><ConversionRate>1.3</ConversionRate><Royalty>0</Royalty><NAC>0</NAC><RoyaltyReserve>0</RoyaltyReserve><FranchiseFee>0</FranchiseFee><FranchiseFeeReserve>0</FranchiseFeeReserve><SalesTaxExempt>true</SalesTaxExempt><Source>2</Source><SourceDescription>NMC payment</SourceDescription><GST>0</GST><PST>0</PST><NMCPayment>200</NMCPayment><SweepSequence>1</SweepSequence><SweepDate>2011-03-01T06:00:00</SweepDate><Type>2</Type><TrustID>0</TrustID><INRowTotal>0</INRowTotal><OUTRowTotal>-260</OUTRowTotal><MemberType>3</MemberType><SubscriptionMembership>false</SubscriptionMembership><DownPayment>false</DownPayment></Row>\n"
    "</Sweep>\n";

TEST_P(RouterTest, TheSweepIsTheSameDocumentInPiecesOfAnySize) {
    EXPECT_EQ(service->sweepXml(2), kCanadaSweep);
    for (const std::size_t pieceBytes : {1u, 100u, 800u, 64u * 1024}) {
        std::string joined;
        std::size_t pieces = 0;
        EXPECT_TRUE(service->writeSweep(2, [&](std::string_view piece) {
            joined += piece;
            ++pieces;
            return true;
        }, pieceBytes));
        EXPECT_EQ(joined, kCanadaSweep) << pieceBytes;
        if (pieceBytes == 1) {
            EXPECT_EQ(pieces, 4u);  // one a row, and the end
        }
        if (pieceBytes == 64u * 1024) {
            EXPECT_EQ(pieces, 1u);
        }
    }
    // A sink that takes each piece's memory and gives back a used string of any length.
    for (const std::size_t pieceBytes : {1u, 800u}) {
        std::string joined, spare(3000, 'x');
        EXPECT_TRUE(service->writeSweep(2, [&](std::string& piece) {
            joined += piece;
            piece.swap(spare);
            spare.assign(joined.size() % 5000, 'y');
            return true;
        }, pieceBytes));
        EXPECT_EQ(joined, kCanadaSweep) << pieceBytes;
    }
    // Rows kept from the GETs above are lent, several centers a piece, between pieces written.
    for (const std::size_t pieceBytes : {1u, 64u * 1024}) {
        std::string joined;
        std::size_t lent = 0;
        EXPECT_TRUE(service->writeSweep(
            2,
            [&](std::string_view piece) {
                joined += piece;
                return true;
            },
            pieceBytes,
            [&](std::span<const std::string_view> parts) {
                ++lent;
                for (const std::string_view part : parts) joined += part;
                return true;
            }));
        EXPECT_EQ(joined, kCanadaSweep) << pieceBytes;
        EXPECT_GT(lent, 0u) << pieceBytes;
    }
    // A reader that goes away stops the writing at once, whether it was given a piece or lent one.
    std::size_t pieces = 0;
    EXPECT_FALSE(service->writeSweep(2, [&](std::string_view) { return ++pieces < 2; }, 1));
    EXPECT_EQ(pieces, 2u);
    pieces = 0;
    EXPECT_FALSE(service->writeSweep(
        2, [&](std::string_view) { return ++pieces > 0; }, 1,
        [&](std::span<const std::string_view>) { return ++pieces == 0; }));
    EXPECT_EQ(pieces, 1u);
}

INSTANTIATE_TEST_SUITE_P(On, RouterTest, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
