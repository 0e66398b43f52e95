// Saving a selection: all records in one transaction, nothing ever half saved, each charge
// saved once however many clients try.
#include <gtest/gtest.h>

#include <thread>

#include "net/url_encode.h"
#include "server/pages/form.h"
#include "server/pages/save_record.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

constexpr int kInSweep = 0;
constexpr int kSaved = 14;

class SaveTest : public ServerFixture {};

TEST_P(SaveTest, ASaveMovesEveryNamedChargeOutOfTheSweep) {
    EXPECT_EQ(service->save(bodyFor({kDues1001, kNmc1002, kDues2001})), "");
    EXPECT_EQ(stateOf(kDues1001), kSaved);
    EXPECT_EQ(stateOf(kNmc1002), kSaved);
    EXPECT_EQ(stateOf(kDues2001), kSaved);
    EXPECT_EQ(stateOf(kDues1001Second), kInSweep);
    EXPECT_EQ(service->sweepXml(1).find("<MemberID>1002</MemberID>"), std::string::npos);
    EXPECT_NE(service->sweepXml(1).find("<MemberID>1003</MemberID>"), std::string::npos);
}

TEST_P(SaveTest, TheSavedRowKeepsWhatWasPostedAndWhoPostedIt) {
    ASSERT_EQ(service->save(bodyFor({kNmc2002}, 9, 3)), "");
    Statement s = inspect->db().prepare(
        "SELECT posted_rate, posted_nmc, posted_amount, posted_trust, saved_by, saved_by_type, saved_at "
        "FROM charges WHERE member_id = 2002 AND source = 2");
    ASSERT_TRUE(s.step());
    EXPECT_FLOAT_EQ(static_cast<float>(s.real(0)), 1.3f);
    EXPECT_FLOAT_EQ(static_cast<float>(s.real(1)), 260);
    EXPECT_FLOAT_EQ(static_cast<float>(s.real(2)), -260);
    EXPECT_EQ(s.integer(3), 0);
    EXPECT_EQ(s.integer(4), 9);
    EXPECT_EQ(s.integer(5), 3);
    EXPECT_EQ(s.text(6), "2011-03-05T10:20:30");
}

TEST_P(SaveTest, AnAmountNotKeptToTheCentRefusesTheWholeSave) {
    const std::string good = bodyFor({kDues1001});
    const std::string goodRecord = "Royalty%3D25%3B";
    ASSERT_NE(good.find(goodRecord), std::string::npos);
    const std::string cent = "is at or above 131,072.00, the most an amount can be and still be kept to the cent";
    const struct {
        const char* royalty;
        std::string refusal;  // empty: accepted
    } cases[] = {{"1000000000000", "is out of range"}, {"1000000000", "is out of range"},
                 {"999999999", "is out of range"},  // a single holds it as 10^9
                 {"99999999.99", cent}, {"131072.01", cent}, {"-131073", cent},
                 {"131072", ""}};  // seven digits of 131,071.99: the charge's own Total decides
    for (const auto& c : cases) {
        std::string body = bodyFor({kDues1003}) ;
        body = body.substr(0, body.find("&RecordCount")) + "&" + good.substr(0, good.find("&RecordCount"));
        body.replace(body.find("SQL1=", 1), 5, "SQL2=");
        body.replace(body.find(goodRecord), goodRecord.size(), std::string("Royalty%3D") + c.royalty + "%3B");
        body += "&RecordCount=2";
        if (!c.refusal.empty()) {
            try {
                service->save(body);
                ADD_FAILURE() << c.royalty << " was accepted";
            } catch (const RequestError& e) {
                EXPECT_EQ(std::string(e.what()), std::string("Record SQL2: Royalty '") + c.royalty + "' " + c.refusal);
            }
            EXPECT_EQ(stateOf(kDues1003), kInSweep) << c.royalty;
        } else {
            EXPECT_EQ(service->save(body), "") << c.royalty;
            EXPECT_EQ(stateOf(kDues1001), kSaved) << c.royalty;
            return;
        }
    }
    ADD_FAILURE() << "no case was accepted";
}

TEST_P(SaveTest, TheWorkedExampleBodySavesBothCharges) {
    const std::string body =
        "SQL1=MemberID%3D1001%3BStatus%3D14%3BPersonID%3D7%3BPersonType%3D2%3BConversionRate%3D1%3BCenterID%3D12%3B"
        "Source%3D1%3BRoyalty%3D25%3BNAC%3D10%3BRoyaltyReserve%3D5%3BFranchiseFee%3D40%3BFranchiseFeeReserve%3D8%3B"
        "GSTshow%3D1.75%3BPSTShow%3D0%3BNMCshow%3D0%3BSweepSequence%3D1%3BTrust%3DFalse&SQL2=MemberID%3D1002%3B"
        "Status%3D14%3BPersonID%3D7%3BPersonType%3D2%3BConversionRate%3D0.75%3BCenterID%3D15%3BSource%3D2%3B"
        "Royalty%3D22.5%3BNAC%3D9%3BRoyaltyReserve%3D3%3BFranchiseFee%3D37.5%3BFranchiseFeeReserve%3D7.5%3B"
        "GSTshow%3D1.25%3BPSTShow%3D0.5%3BNMCshow%3D0%3BSweepSequence%3D2%3BTrust%3DTrue&RecordCount=2";
    EXPECT_EQ(service->save(body), "");
    EXPECT_EQ(stateOf(kDues1001), kSaved);
    EXPECT_EQ(stateOf(kNmc1002), kSaved);
}

TEST_P(SaveTest, AMalformedBodyChangesNothing) {
    std::string body = bodyFor({kDues1001, kDues1003});
    body.replace(body.find("RecordCount=2"), 13, "RecordCount=3");
    EXPECT_THROW(service->save(body), RequestError);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state <> 0"), 0);
}

TEST_P(SaveTest, TheFirstRecordOutOfTheSweepIsNamedWithWhereItsChargeWent) {
    // Records made while every charge is in the sweep; then 1001's first dues are cleared,
    // 2001's exported and 2002's NMC payment saved.
    const auto record = [this](const ChargeKey& k) {
        const std::string body = bodyFor({k});
        return body.substr(0, body.find("&RecordCount"));
    };
    const std::string cleared = record(kDues1001), exported = record(kDues2001), saved = record(kNmc2002);
    const std::string inSweep = record(kDues1003), alsoInSweep = record(kDues2002);
    const std::string unknown = "SQL1=" + urlEncode(controlRecordText({1002, 15, 2, 9}, 2, {1, 0, 0, 0, 0, 0, 0, 0, 5},
                                                                      false, false, 0, 7, 2));
    ASSERT_EQ(service->save(bodyFor({kDues1001})), "");
    service->exportBatches(9, 2);
    ASSERT_EQ(service->commitStatus("GoodMemb=1001&PersonID=9&PersonType=2&BatchNo=1&"), "");
    ASSERT_EQ(service->save(bodyFor({kDues2001})), "");
    service->exportBatches(9, 2);
    ASSERT_EQ(service->save(bodyFor({kNmc2002})), "");
    ASSERT_EQ(stateOf(kDues2001), 20);

    // Each record is numbered by its place in the body.
    const auto body = [](std::initializer_list<std::string> records) {
        std::string out;
        int n = 0;
        for (const std::string& r : records) out += "SQL" + std::to_string(++n) + r.substr(r.find('=')) + "&";
        return out + "RecordCount=" + std::to_string(n);
    };
    const struct {
        std::string body;
        std::string reply;
    } cases[] = {
        {body({inSweep, cleared}), "Record SQL2: member 1001 at center 12 (source 1, sequence 1) is not in the sweep (already cleared)"},
        {body({inSweep, exported}),
         "Record SQL2: member 2001 at center 34 (source 1, sequence 1) is not in the sweep (already exported in a batch)"},
        {body({alsoInSweep, saved}), "Record SQL2: member 2002 at center 34 (source 2, sequence 1) is not in the sweep (already saved)"},
        {body({inSweep, unknown, exported}),
         "Record SQL2: member 1002 at center 15 (source 2, sequence 9) is not in the sweep (no such charge)"},
        {body({exported, unknown}),
         "Record SQL1: member 2001 at center 34 (source 1, sequence 1) is not in the sweep (already exported in a batch)"},
        {body({inSweep, alsoInSweep, inSweep, cleared}),
         "Record SQL3: member 1003 at center 15 (source 1, sequence 1) is not in the sweep (already saved)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(service->save(c.body), c.reply);
        EXPECT_EQ(stateOf(kDues1003), kInSweep) << c.reply;
        EXPECT_EQ(stateOf(kDues2002), kInSweep) << c.reply;
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 1) << c.reply;
    }
    EXPECT_EQ(service->save(body({inSweep, alsoInSweep})), "");
}

// Two clients post overlapping selections at the same moment, through one server and through
// two servers on the same file: every charge ends saved exactly once, and the loser is told.
void raceTwoSaves(Service& first, Service& second, const std::string& bodyA, const std::string& bodyB,
                  std::string& replyA, std::string& replyB) {
    std::thread a([&] { replyA = first.save(bodyA); });
    std::thread b([&] { replyB = second.save(bodyB); });
    a.join();
    b.join();
}

TEST_P(SaveTest, ConcurrentSavesOfTheSameChargesStoreEachOnce) {
    const std::string bodyA = bodyFor({kDues1001, kNmc1002, kDues1003});
    const std::string bodyB = bodyFor({kDues1003, kDues1001Second});
    Service other(ServiceOptions{dbPath(), dir.path() / "export", fixedNow});
    for (Service* second : {service.get(), &other}) {
        std::string replyA, replyB;
        raceTwoSaves(*service, *second, bodyA, bodyB, replyA, replyB);
        // Exactly one wins; the loser names the charge the winner took.
        ASSERT_NE(replyA.empty(), replyB.empty()) << replyA << " | " << replyB;
        const std::string& refusal = replyA.empty() ? replyB : replyA;
        EXPECT_NE(refusal.find("member 1003 at center 15 (source 1, sequence 1) is not in the sweep (already saved)"),
                  std::string::npos)
            << refusal;
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), replyA.empty() ? 3 : 2);
        EXPECT_EQ(stateOf(kDues1003), kSaved);

        // Back to the sweep for the next round.
        inspect->db().exec("UPDATE charges SET state = 0");
    }
}

INSTANTIATE_TEST_SUITE_P(On, SaveTest, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
