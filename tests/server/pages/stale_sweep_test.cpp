// A save computes what its operator saw, or is refused: every change of a center's sweep rows
// after the operator's load, other than that load's own saves, refuses a save that touches it.
#include <gtest/gtest.h>

#include <functional>

#include <httplib.h>

#include "net/pages.h"
#include "server/embedded_server.h"
#include "server/pages/save_body.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

constexpr ChargeKey kNmc4001{4001, 40, 2, 1};  // pays out 100.00
constexpr ChargeKey kSub4002{4002, 40, 1, 1};  // a subscriber's 40.00: shown as 0.00 after the NMC row

const std::string kStale = "The sweep of center 0040 changed since it was loaded; load it again.";

class StaleSweep : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (IsSkipped()) return;
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->insertCenter({40, "Subscription Center", 1});
        inspect->setCenterAccount(40, {"011000015", "", "", "555", bank::AccountType::Checking});
        inspect->insertMember({4001, "Nora Payee", 40, 1, false, false, false, ""});
        inspect->insertMember({4002, "Sam Subscriber", 40, 1, true, false, false, ""});
        inspect->insertCharge({kNmc4001, "NMC payment", "2011-03-01T06:00:00", 2, {1, 0, 0, 0, 0, 0, 0, 0, 100}, 0});
        inspect->insertCharge({kSub4002, "Membership dues", "2011-03-01T06:00:00", 1, {1, 40, 0, 0, 0, 0, 0, 0, 0}, 0});
        t.commit();
    }
    std::string saveAs(const std::string& who, std::initializer_list<ChargeKey> keys,
                       std::optional<std::int64_t> stamp = std::nullopt) {
        return service->save(readSaveBody(bodyFor(keys)), SweepClaim{who, stamp});
    }
    std::int64_t savedCents(const ChargeKey& k) {
        Statement s = inspect->db().prepare("SELECT batch_cents FROM charges WHERE member_id = ?1 AND source = ?2");
        s.bind(1, k.memberId).bind(2, int{k.source});
        return s.step() ? s.integer(0) : -1;
    }
};

TEST_P(StaleSweep, SawZeroWhileAnotherSavedTheNmcPayment) {
    service->startSweepLoad("alice", 1);
    service->startSweepLoad("bob", 1);
    ASSERT_EQ(saveAs("bob", {kNmc4001}), "");
    // Alice's list showed the subscriber's Total as 0.00; now it would be 40.00.
    EXPECT_EQ(saveAs("alice", {kSub4002, kDues1003}), kStale);
    EXPECT_EQ(stateOf(kSub4002), 0);
    EXPECT_EQ(stateOf(kDues1003), 0);  // refused whole
    service->startSweepLoad("alice", 1);
    EXPECT_EQ(saveAs("alice", {kSub4002}), "");
    EXPECT_EQ(savedCents(kSub4002), 4000);
}

TEST_P(StaleSweep, SawFortyWhileAFailedNmcPaymentCameBack) {
    ASSERT_EQ(service->save(bodyFor({kNmc4001})), "");
    ASSERT_NE(service->exportBatches(9, 2).find("batch 1"), std::string::npos);
    service->startSweepLoad("alice", 1);  // the subscriber shows 40.00
    ASSERT_EQ(service->commitStatus("BadMemb=-4001&PersonID=9&PersonType=2&BatchNo=1&"), "");
    EXPECT_EQ(saveAs("alice", {kSub4002}), kStale);
    service->startSweepLoad("alice", 1);  // now it shows 0.00
    EXPECT_EQ(saveAs("alice", {kSub4002}), "");
    EXPECT_EQ(savedCents(kSub4002), 0);
}

TEST_P(StaleSweep, TheLoadsOwnSavesAndOtherCentersChangesDoNotCount) {
    service->startSweepLoad("alice", 1);
    service->startSweepLoad("bob", 1);
    ASSERT_EQ(saveAs("bob", {kDues1001}), "");         // center 12: not Alice's business
    ASSERT_EQ(saveAs("alice", {kNmc4001}), "");        // her own save of center 40 ...
    EXPECT_EQ(saveAs("alice", {kSub4002}), "");        // ... her list then showed the rest
    EXPECT_EQ(savedCents(kSub4002), 4000);
    EXPECT_EQ(saveAs("alice", {kDues1003}), "");
}

TEST_P(StaleSweep, AStampNamesItsOwnLoadWhateverTheOperatorLoadedSince) {
    const std::int64_t first = service->startSweepLoad("alice", 1);
    ASSERT_EQ(saveAs("bob", {kNmc4001}), "");
    const std::int64_t second = service->startSweepLoad("alice", 1);  // another window of hers
    EXPECT_NE(first, second);
    EXPECT_EQ(saveAs("alice", {kSub4002}, first), kStale);
    EXPECT_EQ(saveAs("alice", {kSub4002}, second), "");
    // A stamp this server never gave is no load at all.
    EXPECT_EQ(saveAs("alice", {kDues1003}, second + 1000),
              "The sweep stamp " + std::to_string(second + 1000) + " was not given by this server; load the sweep again.");
}

// What the database's triggers count as a change of center 40's sweep rows, whoever writes.
TEST_P(StaleSweep, EveryChangeOfTheCentersRowsAndNothingElseMakesALoadStale) {
    const struct {
        const char* what;
        std::function<void(Store&)> change;
        bool stale;
    } cases[] = {
        {"a member's subscription", [](Store& s) { s.db().exec("UPDATE members SET subscription = 0 WHERE id = 4002"); }, true},
        {"a member's tax exemption", [](Store& s) { s.db().exec("UPDATE members SET tax_exempt = 1 WHERE id = 4001"); }, true},
        {"a member's name", [](Store& s) { s.db().exec("UPDATE members SET name = 'Nora' WHERE id = 4001"); }, false},
        {"another center's member", [](Store& s) { s.db().exec("UPDATE members SET tax_exempt = 1 WHERE id = 1001"); }, false},
        {"a charge's amount", [](Store& s) { s.db().exec("UPDATE charges SET royalty = 41 WHERE member_id = 4002"); }, true},
        {"a new charge",
         [](Store& s) {
             s.insertCharge({{4001, 40, 1, 7}, "Membership dues", "2011-03-01T06:00:00", 1, {1, 5, 0, 0, 0, 0, 0, 0, 0}, 0});
         },
         true},
        {"a charge gone", [](Store& s) { s.db().exec("DELETE FROM charges WHERE member_id = 4001 AND source = 1"); }, true},
        {"another center's charge", [](Store& s) { s.db().exec("UPDATE charges SET royalty = 26 WHERE member_id = 1001"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int64_t stamp = service->startSweepLoad("alice", 1);
        {
            Transaction t(inspect->db(), Transaction::Mode::Write);
            c.change(*inspect);
            t.commit();
        }
        EXPECT_EQ(saveAs("alice", {kSub4002}, stamp), c.stale ? kStale : "");
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->db().exec("UPDATE charges SET state = 0 WHERE member_id = 4002");
        t.commit();
    }
}

// Behind a reverse proxy a load and the save chosen from it may reach different servers.
TEST_P(StaleSweep, AStampHoldsAcrossServersOnOneDatabase) {
    Service other(ServiceOptions{dbPath(), dir.path() / "other-export", fixedNow});
    const std::int64_t stamp = service->startSweepLoad("alice", 1);
    ASSERT_EQ(other.save(readSaveBody(bodyFor({kNmc4001})), SweepClaim{"bob", std::nullopt}), "");
    EXPECT_EQ(other.save(readSaveBody(bodyFor({kSub4002})), SweepClaim{"alice", stamp}), kStale);
    EXPECT_EQ(stateOf(kSub4002), 0);
    const std::int64_t again = other.startSweepLoad("alice", 1);
    EXPECT_GT(again, stamp);
    EXPECT_EQ(service->save(readSaveBody(bodyFor({kSub4002})), SweepClaim{"alice", again}), "");
    EXPECT_EQ(savedCents(kSub4002), 4000);  // the Total her second load showed
}

TEST_P(StaleSweep, ASaveWithNoLoadKnownIsTakenAsItComes) {
    ASSERT_EQ(saveAs("bob", {kNmc4001}), "");
    EXPECT_EQ(saveAs("carol", {kSub4002}), "");  // never loaded through this server
}

TEST_P(StaleSweep, TheStampTravelsInAHeaderBothWays) {
    service.reset();
    EmbeddedOptions options;
    options.dbPath = dbPath();
    options.exportDir = dir.path() / "export";
    auto server = EmbeddedServer::start(options);
    httplib::Client client("127.0.0.1", server->port());
    client.set_default_headers({{std::string(pages::kRequestHeaderName), std::string(pages::kRequestHeaderValue)}});
    const auto load = [&client] {
        const auto res = client.Get("/eft/EFTMember.asp?countryID=1&Load=1");
        EXPECT_TRUE(res && res->status == 200);
        return res ? res->get_header_value("X-EFTMemb-Sweep-Stamp") : std::string();
    };
    const std::string stamp = load();
    ASSERT_FALSE(stamp.empty());
    ASSERT_EQ(std::to_string(std::stoll(stamp)), stamp);
    // Another window on this machine loads and saves the NMC payment, naming its own load; then
    // the first window's operator loads again in a third.
    const std::string otherStamp = load();
    ASSERT_EQ(client.Post("/eft/EFTMember.asp", {{"X-EFTMemb-Sweep-Stamp", otherStamp}}, bodyFor({kNmc4001}),
                          "application/x-www-form-urlencoded")
                  ->body,
              "");
    EXPECT_NE(load(), stamp);
    // Without the header the latest load of this address is judged, so only the header tells
    // the stale window from the fresh one.
    const auto save = [&](const httplib::Headers& headers) {
        const auto res = client.Post("/eft/EFTMember.asp", headers, bodyFor({kSub4002}), "application/x-www-form-urlencoded");
        return res ? std::to_string(res->status) + " " + res->body : std::string("no reply");
    };
    EXPECT_EQ(save({{"X-EFTMemb-Sweep-Stamp", stamp}}), "200 " + kStale);
    EXPECT_EQ(save({{"X-EFTMemb-Sweep-Stamp", "12a"}}), "400 X-EFTMemb-Sweep-Stamp '12a' is not a sweep stamp\n");
    EXPECT_EQ(stateOf(kSub4002), 0);
    EXPECT_EQ(save({}), "200 ");
    EXPECT_EQ(stateOf(kSub4002), 14);
}

INSTANTIATE_TEST_SUITE_P(On, StaleSweep, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
