// Large amounts: what the sweep sends reads back as what the database holds, and nothing that
// cannot be kept to the cent, or that no bank file entry could carry, gets in.
#include <gtest/gtest.h>

#include <vector>

#include "net/pages.h"
#include "server/pages/save_record.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

class LargeAmounts : public ServerFixture {
protected:
    // Center 60 (United States) with member 6001 and `charges` unconverted charges of `royalty`.
    void addCenter60(int charges, float royalty) {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->insertCenter({60, "Big Center", 1});
        inspect->setCenterAccount(60, {"011000015", "", "", "60", bank::AccountType::Checking});
        inspect->insertMember({6001, "Big Spender", 60, 1, false, false, false, ""});
        for (int seq = 1; seq <= charges; ++seq)
            inspect->insertCharge({{6001, 60, 1, static_cast<std::int16_t>(seq)}, "Membership dues",
                                  "2011-03-01T06:00:00", 3, {1, royalty, 0, 0, 0, 0, 0, 0, 0}, 0});
        t.commit();
    }
    static std::string bodyOf60(int first, int last, float royalty) {
        std::vector<std::string> records;
        for (int seq = first; seq <= last; ++seq)
            records.push_back(controlRecordText({6001, 60, 1, static_cast<std::int16_t>(seq)}, 3,
                                                {1, royalty, 0, 0, 0, 0, 0, 0, 0}, false, false, 0, 7, 2));
        return pages::saveBody(records);
    }
};

TEST_P(LargeAmounts, TheSweepSendsEveryAmountAsTheSingleItIs) {
    addCenter60(2, 100000.01f);
    const std::string xml = service->sweepXml(1);
    EXPECT_NE(xml.find("<Royalty>100000.01</Royalty>"), std::string::npos);
    EXPECT_NE(xml.find("<INRowTotal>100000.01</INRowTotal>"), std::string::npos) << xml.substr(xml.size() - 2000);
    // Saved, the Total the database and the file carry is the one the screen read.
    ASSERT_EQ(service->save(bodyOf60(1, 1, 100000.01f)), "");
    EXPECT_EQ(count("SELECT batch_cents FROM charges WHERE member_id = 6001 AND sweep_sequence = 1"), 10000001);
}

TEST_P(LargeAmounts, AChargeNotKeptToTheCentIsNeverStored) {
    const struct {
        const char* what;
        std::int16_t type;
        Amounts amounts;
        const char* named;
    } cases[] = {
        {"a royalty of 131,072.00", 3, {1, 131072, 0, 0, 0, 0, 0, 0, 0}, "Royalty 131072"},
        {"an NMC payment beyond it", 2, {1, 0, 0, 0, 0, 0, 0, 0, 200000}, "NMCPayment 200000"},
        {"a row whose converted royalty passes it", 1, {1.3f, 110000, 0, 0, 0, 0, 0, 0, 0}, "INRowTotal 143000"},
        {"a row whose parts together pass it", 3, {1, 70000, 70000, 0, 0, 0, 0, 0, 0}, "INRowTotal 140000"},
    };
    for (const auto& c : cases) {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        try {
            inspect->insertCharge({{1003, 15, 1, 7}, "Membership dues", "2011-03-01T06:00:00", c.type, c.amounts, 0});
            ADD_FAILURE() << c.what << " was stored";
        } catch (const StoreError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("the charge of member 1003 at center 15 (source 1, sequence 7) has ") +
                                                 c.named + ", at or above 131,072.00, the most an amount can be and "
                                                           "still be kept to the cent")
                << c.what;
        }
    }
    Transaction t(inspect->db(), Transaction::Mode::Write);
    EXPECT_NO_THROW(inspect->insertCharge(
        {{1003, 15, 1, 7}, "Membership dues", "2011-03-01T06:00:00", 3, {1, 131071.99f, 0, 0, 0, 0, 0, 0, 0}, 0}));
}

TEST_P(LargeAmounts, ARowWhoseTotalIsNotKeptToTheCentIsNotSaved) {
    // Stored before the limit was enforced: the control's text says 131072, the Total is more.
    const std::string body = bodyFor({kDues1001, kDues1003});
    inspect->db().exec("UPDATE charges SET royalty = 131072.5 WHERE member_id = 1003");
    EXPECT_EQ(service->save(body), "Record SQL2: member 1003 at center 15 (source 1, sequence 1) has a Total at or "
                                   "above 131,072.00, the most an amount can be and still be kept to the cent");
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 0);
}

TEST_P(LargeAmounts, ASaveThatWouldOverfillTheCentersBankEntryIsRefusedWhole) {
    // 800 rows of 125,000.00 are 100,000,000.00: one cent more than an entry's ten digits.
    addCenter60(800, 125000);
    EXPECT_EQ(service->save(bodyOf60(1, 800, 125000)),
              "Record SQL1: member 6001 at center 60 (source 1, sequence 1) would take the saved amount of center "
              "0060 to 100,000,000.00, more than one bank file entry carries (99,999,999.99); save fewer rows of it");
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 0);
    // 799 rows fit; the 800th, saved alone later, does not.
    ASSERT_EQ(service->save(bodyOf60(1, 799, 125000)), "");
    EXPECT_NE(service->save(bodyOf60(800, 800, 125000)).find("to 100,000,000.00"), std::string::npos);
    // What was saved is exported in one entry.
    const std::string report = service->exportBatches(9, 2);
    EXPECT_NE(report.find("debits 99,875,000.00 (1)"), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(On, LargeAmounts, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
