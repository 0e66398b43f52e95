// The demo and synthetic data: deterministic, complete rows, both directions of money.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <map>

#include "server/pages/save_record.h"
#include "server/store/seed.h"
#include "server_fixture.h"
#include "text/text_forms.h"

namespace eft::server::testing {
namespace {

std::int64_t scalar(Store& store, const char* sql) {
    Statement s = store.db().prepare(sql);
    s.step();
    return s.integer(0);
}

TEST(DemoSeed, IsTheSameEveryTime) {
    TempDir dir;
    Service a({dir.path() / "a.db", {}, fixedNow});
    Service b({dir.path() / "b.db", {}, fixedNow});
    ASSERT_TRUE(a.seedDemo());
    ASSERT_TRUE(b.seedDemo());
    EXPECT_EQ(a.sweepXml(1), b.sweepXml(1));
    EXPECT_EQ(a.sweepXml(2), b.sweepXml(2));
}

TEST(DemoSeed, OnlyAnEmptyDatabaseIsFilled) {
    TempDir dir;
    Store store(dir.path() / "eft.db");
    fillFixture(store);
    EXPECT_FALSE(seedDemo(store));
    EXPECT_EQ(scalar(store, "SELECT COUNT(*) FROM centers"), 3);
}

const std::string kCountriesOfType =
    "SELECT COUNT(DISTINCT ce.country) FROM charges c JOIN centers ce ON ce.id = c.center_id WHERE type = ";

TEST(DemoSeed, HasTheMixOfRowsTheControlShows) {
    TempDir dir;
    Store store(dir.path() / "eft.db");
    ASSERT_TRUE(seedDemo(store));
    EXPECT_EQ(scalar(store, "SELECT COUNT(*) FROM centers WHERE country = 1"), 40);
    EXPECT_EQ(scalar(store, "SELECT COUNT(*) FROM centers WHERE country = 2"), 15);
    const auto members = scalar(store, "SELECT COUNT(*) FROM members");
    EXPECT_GE(members, 200);
    EXPECT_LE(members, 800);
    const struct {
        std::string what;
        std::string sql;
    } present[] = {
        {"type 1 in both countries", kCountriesOfType + "1"},
        {"type 2 in both countries", kCountriesOfType + "2"},
        {"type 3 in both countries", kCountriesOfType + "3"},
        {"subscription and exempt members", "SELECT (SELECT COUNT(*) > 0 FROM members WHERE subscription) + "
                                            "(SELECT COUNT(*) > 0 FROM members WHERE tax_exempt)"},
        {"trusts and reserves", "SELECT (SELECT COUNT(*) > 0 FROM charges WHERE trust_id > 0) + "
                                "(SELECT COUNT(*) > 0 FROM charges WHERE royalty_reserve > 0)"},
    };
    for (const auto& p : present) EXPECT_EQ(scalar(store, p.sql.c_str()), 2) << p.what;
    EXPECT_EQ(scalar(store, "SELECT COUNT(*) FROM charges c JOIN centers ce ON ce.id = c.center_id "
                            "WHERE ce.country = 1 AND (gst <> 0 OR pst <> 0)"),
              0);
    // Ordinary Canadian type-1 rows carry GST and PST as rates; the others as amounts.
    EXPECT_EQ(scalar(store, "SELECT COUNT(*) FROM charges c JOIN centers ce ON ce.id = c.center_id "
                            "JOIN members m ON m.id = c.member_id WHERE ce.country = 2 AND type = 1 "
                            "AND NOT m.subscription AND (abs(gst - 0.05) > 1e-6 OR pst >= 1)"),
              0);
    EXPECT_GT(scalar(store, "SELECT COUNT(*) FROM charges c JOIN centers ce ON ce.id = c.center_id "
                            "WHERE ce.country = 2 AND type = 3 AND gst > 0.1"),
              0);
}

TEST(SyntheticSeed, FillsTheAskedNumberAndTheControlsBodySavesThem) {
    TempDir dir;
    {
        Store store(dir.path() / "eft.db");
        seedSynthetic(store, 2500, 2);
        EXPECT_EQ(store.countSweepRows(2), 2500);
        EXPECT_EQ(store.countSweepRows(1), 0);
        EXPECT_THROW(seedSynthetic(store, 10, 2), StoreError);
        seedSynthetic(store, 30, 1, 10);  // the other country goes beside it, on new ids
        EXPECT_EQ(store.countSweepRows(1), 30);
    }
    Service service({dir.path() / "eft.db", {}, fixedNow});
    Store store(dir.path() / "eft.db");
    EXPECT_EQ(service.save(controlSaveBody(store, 2, 700, 7, 2)), "");
    EXPECT_EQ(store.countSweepRows(2), 1800);
    EXPECT_EQ(store.savedCenters(2).size(), 1u);  // 700 charges of the first center
    EXPECT_TRUE(store.savedCenters(2)[0].account.has_value());
}

}  // namespace
}  // namespace eft::server::testing
