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
        // Each page of each action is also checked where the control sends it (the canned
        // server answers only the exact target); here the arguments at their edges.
        {sweepRowsAddress(base, 2), "http://h/eft/EFTMember.asp?countryID=2&Load=1"},
        {exportAddress(base, 1234567, -3),
         "http://h/eft/EFTMemberBatch.asp?ProcessExport=True&PersonID=1234567&PersonTypeID=-3"},
        // Nothing is put between the base and the page, whatever the base looks like.
        {saveAddress("https://x.example:8443/a/b/"), "https://x.example:8443/a/b/EFTMember.asp"},
        {batchListAddress(""), "EFTMemberBatch.asp?TSQL=BatchList"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
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
