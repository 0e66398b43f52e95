// The sweep rows a server keeps to serve again: every write, through whichever path or server,
// is in the next GET, which reads byte for byte as a server keeping nothing would send it.
#include <gtest/gtest.h>

#include <functional>

#include "server/pages/sweep_cache.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

class SweepKept : public ServerFixture {
public:
    // For the write cases' tables.
    using ServerFixture::import;
    using ServerFixture::returnCenter12;
    using ServerFixture::sql;

    // The sweep as a server that keeps nothing, and settles nothing at its start, sends it.
    std::string unkept(int country) {
        ServiceOptions o{dbPath(), dir.path() / "unkept-export", fixedNow};
        o.settleEvery = std::chrono::milliseconds(0);
        o.sweepCacheBytes = 0;
        return Service(std::move(o)).sweepXml(country);
    }

    void save(std::initializer_list<ChargeKey> keys) { ASSERT_EQ(service->save(bodyFor(keys)), ""); }
    void exportSaved() { ASSERT_NE(service->exportBatches(9, 2).find("batch 1"), std::string::npos); }
    void failBack1001() { ASSERT_EQ(service->commitStatus("BadMemb=1001&PersonID=9&PersonType=2&BatchNo=1&"), ""); }

};

struct WriteCase {
    const char* name;
    std::function<void(SweepKept&)> before;  // done before the first GET
    std::function<void(SweepKept&)> change;  // done between the two GETs
    bool shown;                              // whether the sweep of the United States changes
};

std::function<void(SweepKept&)> saveCenter12() {
    return [](SweepKept& t) { t.save({kDues1001, kDues1001Second}); };
}
std::function<void(SweepKept&)> saveAndExport() {
    return [](SweepKept& t) {
        t.save({kDues1001, kDues1001Second});
        t.exportSaved();
    };
}
std::function<void(SweepKept&)> sql(std::string statement) {
    return [statement](SweepKept& t) { t.sql(statement); };
}
std::function<void(SweepKept&)> import(std::string name, std::string text) {
    return [name, text](SweepKept& t) { t.import(name, text); };
}

const std::string kMembers =
    "MemberID,Name,CenterID,MemberType,SubscriptionMembership,SalesTaxExempt,DownPayment,ContractSigned\n";
const std::string kCharges =
    "MemberID,CenterID,Source,SweepSequence,SourceDescription,SweepDate,Type,ConversionRate,Royalty,NAC,"
    "RoyaltyReserve,FranchiseFee,FranchiseFeeReserve,GST,PST,NMCPayment,TrustID\n";

const WriteCase kWrites[] = {
    {"Save", {}, [](SweepKept& t) { t.save({kDues1003}); }, true},
    {"Export", saveCenter12(), [](SweepKept& t) { t.exportSaved(); }, false},
    {"StatusCommitFailsACenterBack", saveAndExport(), [](SweepKept& t) { t.failBack1001(); }, true},
    {"ReturnFailsACenterBack", saveAndExport(), [](SweepKept& t) { t.returnCenter12(); }, true},
    {"ImportOfAMembersName", {}, import("members.csv", kMembers + "1001,Mary Smyth,12,1,0,0,1,2009-05-03T00:00:00\n"), true},
    {"ImportOfANewCharge", {},
     import("charges.csv", kCharges + "1003,15,1,9,Membership dues,2011-03-01T06:00:00,1,1,7,0,0,0,0,0,0,0,0\n"), true},
    {"ImportOfAChargesAmount", {},
     import("charges.csv", kCharges + "1001,12,1,1,Membership dues,2011-03-01T06:00:00,1,1,26,10,5,40,8,0,0,0,0\n"), true},
    {"MembersName", {}, sql("UPDATE members SET name = 'Mary Smyth' WHERE id = 1001"), true},
    {"MembersContractDate", {}, sql("UPDATE members SET contract_signed = NULL WHERE id = 1003"), true},
    {"MembersType", {}, sql("UPDATE members SET member_type = 3 WHERE id = 1002"), true},
    {"MembersDownPayment", {}, sql("UPDATE members SET down_payment = 0 WHERE id = 1001"), true},
    {"MembersSubscription", {}, sql("UPDATE members SET subscription = 1 WHERE id = 1003"), true},
    {"CentersName", {}, sql("UPDATE centers SET name = 'Austin South' WHERE id = 12"), true},
    {"CenterMovesToCanada", {}, sql("UPDATE centers SET country = 2 WHERE id = 15"), true},
    {"ChargeGone", {}, sql("DELETE FROM charges WHERE member_id = 1003"), true},
    {"CanadasCharge", {}, sql("UPDATE charges SET royalty = 101 WHERE member_id = 2001"), false},
    {"MemberWithNothingInTheSweep", saveCenter12(), sql("UPDATE members SET name = 'M. Smith' WHERE id = 1001"), false},
};

TEST_P(SweepKept, EveryWritePathIsInTheNextGet) {
    for (const WriteCase& c : kWrites) {
        SCOPED_TRACE(c.name);
        open(dir.path() / c.name);
        if (IsSkipped()) return;
        if (c.before) c.before(*this);
        const std::string first = service->sweepXml(1);
        ASSERT_EQ(service->sweepXml(1), first);  // served from what was kept
        ASSERT_EQ(first, unkept(1));
        c.change(*this);
        const std::string after = service->sweepXml(1);
        EXPECT_EQ(after, unkept(1));
        EXPECT_EQ(after != first, c.shown);
        EXPECT_EQ(service->sweepXml(2), unkept(2));
    }
}

// Behind a reverse proxy each server keeps its own rows; the other's writes must reach them.
TEST_P(SweepKept, AnotherServersWriteIsInTheNextGet) {
    ServiceOptions o{dbPath(), dir.path() / "other-export", fixedNow};
    o.settleEvery = std::chrono::milliseconds(0);
    Service other(std::move(o));
    const std::string first = service->sweepXml(1);
    ASSERT_EQ(other.sweepXml(1), first);
    ASSERT_EQ(other.save(bodyFor({kDues1003})), "");
    const std::string saved = service->sweepXml(1);
    EXPECT_NE(saved, first);
    EXPECT_EQ(saved, other.sweepXml(1));
    EXPECT_EQ(saved, unkept(1));
    sql("UPDATE members SET name = 'Mary Smyth' WHERE id = 1001");  // a third writer
    EXPECT_NE(service->sweepXml(1), saved);
    EXPECT_EQ(service->sweepXml(1), other.sweepXml(1));
    EXPECT_EQ(service->sweepXml(1), unkept(1));
}

INSTANTIATE_TEST_SUITE_P(On, SweepKept, kEngines, engineName);

SweepCenter center(std::int32_t id, std::int64_t changedAt = 1, std::int64_t shown = 0, std::string name = "C") {
    return {id, std::move(name), changedAt, shown};
}

// Rows of this size as the cache counts them: one row's end, and the rest its bytes.
SweepCache::Rows rows(std::size_t size) { return {std::string(size - sizeof(std::size_t), 'r'), {size - sizeof(std::size_t)}}; }

// What is kept and what goes, in a cache of 100 bytes; each step is one GET's pass.
TEST(SweepCache, KeepsWholeCentersWithinItsCapAndNeverServesOtherValues) {
    const struct {
        const char* what;
        std::function<void(SweepCache&)> steps;
        std::vector<std::int32_t> found;  // centers found at (1, 0, "C") afterwards
    } cases[] = {
        {"kept", [](SweepCache& c) { c.keep(center(1), rows(40), c.startPass()); }, {1}},
        {"another change value",
         [](SweepCache& c) {
             c.keep(center(1), rows(40), c.startPass());
             EXPECT_EQ(c.find(center(1, 2), c.startPass()), nullptr);
         },
         {}},  // dropped once seen outdated
        {"another shown value", [](SweepCache& c) { c.keep(center(1, 1, 5), rows(40), c.startPass()); }, {}},
        {"another name", [](SweepCache& c) { c.keep(center(1, 1, 0, "D"), rows(40), c.startPass()); }, {}},
        {"larger than the cap", [](SweepCache& c) { c.keep(center(1), rows(101), c.startPass()); }, {}},
        {"the least recently used goes",
         [](SweepCache& c) {
             const auto p = c.startPass();
             c.keep(center(1), rows(40), p);
             c.keep(center(2), rows(40), p);
             const auto q = c.startPass();
             EXPECT_NE(c.find(center(1), q), nullptr);
             c.keep(center(3), rows(40), c.startPass());
         },
         {1, 3}},
        {"what this pass used stays, and the newcomer is not kept",
         [](SweepCache& c) {
             const auto p = c.startPass();
             c.keep(center(1), rows(50), p);
             c.keep(center(2), rows(50), p);
             const auto q = c.startPass();
             EXPECT_NE(c.find(center(1), q), nullptr);
             EXPECT_NE(c.find(center(2), q), nullptr);
             EXPECT_FALSE(c.mayKeep(q));
             c.keep(center(3), rows(40), q);
         },
         {1, 2}},
        {"a center kept again replaces itself",
         [](SweepCache& c) {
             const auto p = c.startPass();
             c.keep(center(1, 0), rows(60), p);
             c.keep(center(1), rows(60), p);
             EXPECT_EQ(c.bytes(), 60u);
             EXPECT_EQ(rows(60).size(), 60u);
         },
         {1}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        SweepCache cache(100);
        k.steps(cache);
        std::vector<std::int32_t> found;
        const auto pass = cache.startPass();
        for (const std::int32_t id : {1, 2, 3})
            if (cache.find(center(id), pass)) found.push_back(id);
        EXPECT_EQ(found, k.found);
        EXPECT_LE(cache.bytes(), cache.cap());
    }
    SweepCache none(0);
    EXPECT_FALSE(none.mayKeep(none.startPass()));
}

}  // namespace
}  // namespace eft::server::testing
