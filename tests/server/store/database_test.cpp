// The engine layer: a location picks the engine, a URI is shown without its passwords, and a
// statement reads the same values back from either engine.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "server/store/database.h"
#include "server_fixture.h"
#include "support/pg_bouncer.h"
#include "support/pg_cluster.h"

namespace eft::server::testing {
namespace {

TEST(DatabaseLocation, PicksTheEngineAndHidesPasswords) {
    const struct {
        const char* location;
        bool postgres;
        const char* shown;
    } cases[] = {
        {"/var/lib/eftmemb/eft.sqlite", false, "/var/lib/eftmemb/eft.sqlite"},
        {"postgresql.db", false, "postgresql.db"},
        {"postgresql://eft@db.example.org/eft", true, "postgresql://eft@db.example.org/eft"},
        {"postgres://eft:s3cret@db:5432/eft?sslmode=verify-full", true, "postgres://eft@db:5432/eft?sslmode=verify-full"},
        {"postgresql:///eft?host=/tmp/x&password=s3cret&sslmode=disable", true,
         "postgresql:///eft?host=/tmp/x&password=***&sslmode=disable"},
        {"postgresql://db/eft?password=s3cret", true, "postgresql://db/eft?password=***"},
        // An '@' past the host is a parameter's: the port stays.
        {"postgresql://db:5432/eft?application_name=ops@east", true, "postgresql://db:5432/eft?application_name=ops@east"},
        {"postgresql://eft:p%40ss:w@db/eft", true, "postgresql://eft@db/eft"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPostgresUri(c.location), c.postgres) << c.location;
        EXPECT_EQ(displayLocation(c.location), c.shown);
    }
}

// A fresh database of the case's engine, opened.
class EngineValues : public OnEngine {
protected:
    void SetUp() override {
        OnEngine::SetUp();
        if (!IsSkipped()) database = std::make_unique<Database>(db);
    }
    std::unique_ptr<Database> database;
};

TEST_P(EngineValues, ReadBackAsBound) {
    const std::int64_t big = std::numeric_limits<std::int64_t>::max();
    // The parameters in reverse order, and a '?1' in a quoted text that is not one.
    Statement s = database->prepare("SELECT ?2, ?1, '?1', ?3, CAST(?4 AS INTEGER) IS NULL, 2 = 2, 2 = 3, ?5");
    s.bind(1, big).bind(2, double{0.1f}).bind(3, std::string_view("Montr\u00e9al\t<&>\n")).bindNull(4).bind(5, -7);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(static_cast<float>(s.real(0)), 0.1f);
    EXPECT_EQ(s.real(0), double{0.1f});
    EXPECT_EQ(s.integer(1), big);
    EXPECT_EQ(s.text(2), "?1");
    EXPECT_EQ(s.text(3), "Montr\u00e9al\t<&>\n");
    EXPECT_EQ(s.integer(4), 1);
    EXPECT_EQ(s.integer(5), 1);
    EXPECT_EQ(s.integer(6), 0);
    EXPECT_EQ(s.integer(7), -7);
    EXPECT_FALSE(s.step());
    // Run again with other values: the second run of a statement in a transaction is a prepared
    // one on PostgreSQL.
    Transaction read(*database, Transaction::Mode::Read);
    for (const std::int64_t n : {std::int64_t{1}, std::int64_t{-2}, big}) {
        s.reuse().bind(1, n).bind(2, 2.5).bind(3, std::string_view("x")).bind(4, 1).bind(5, 0);
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.integer(1), n);
        EXPECT_EQ(s.integer(4), 0);
    }
}

TEST_P(EngineValues, AFailedWriteLeavesNoTransactionBehind) {
    database->exec("CREATE TABLE t (x INTEGER PRIMARY KEY)");
    {
        Transaction t(*database, Transaction::Mode::Write);
        database->exec("INSERT INTO t (x) VALUES (1)");
        EXPECT_THROW(database->exec("INSERT INTO t (x) VALUES (1)"), StoreError);
    }
    Transaction t(*database, Transaction::Mode::Write);
    database->exec("INSERT INTO t (x) VALUES (2)");
    t.commit();
    Statement count = database->prepare("SELECT COUNT(*), MAX(x) FROM t");
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.integer(0), 1);
    EXPECT_EQ(count.integer(1), 2);
}

TEST_P(EngineValues, AStreamedReadLeftPartWayLeavesTheConnectionReady) {
    Statement rows = database->prepare(
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < ?1) SELECT x FROM n ORDER BY x");
    rows.streamRows();
    Statement one = database->prepare("SELECT ?1 + 1");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Transaction read(*database, Transaction::Mode::Read);
        rows.reuse().bind(1, 1000);
        for (int k = 1; k <= 3; ++k) {
            ASSERT_TRUE(rows.step());
            EXPECT_EQ(rows.integer(0), k);
        }
        // Another statement, and the transaction's end, while rows are still coming.
        ASSERT_TRUE(one.reuse().bind(1, round).step());
        EXPECT_EQ(one.integer(0), round + 1);
        read.commit();
    }
    std::int64_t sum = 0, count = 0;
    rows.reuse().bind(1, 1000);
    while (rows.step()) {
        sum += rows.integer(0);
        ++count;
    }
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(sum, 500500);
}

INSTANTIATE_TEST_SUITE_P(On, EngineValues, kEngines, engineName);

// Behind PgBouncer, whose transaction mode hands each transaction whichever server session is
// free: nothing a transaction leaves in its session may be needed by the next, nor met there
// by another client. Statement mode, which allows no transaction, is refused at the first.
struct Pooling {
    const char* mode;
    const char* refusal;  // the error's words when refused
};

void PrintTo(const Pooling& p, std::ostream* out) { *out << p.mode << " mode"; }

class PooledDatabase : public ::testing::TestWithParam<Pooling> {};

TEST_P(PooledDatabase, ATransactionLeavesNothingInItsSession) {
    eft::test::PgCluster cluster("eft");
    if (cluster.missing()) GTEST_SKIP() << cluster.why();
    ASSERT_TRUE(cluster.ready()) << cluster.why();
    eft::test::PgBouncer bouncer(cluster.folder(), GetParam().mode);
    if (bouncer.missing()) GTEST_SKIP() << bouncer.why();
    ASSERT_TRUE(bouncer.ready()) << bouncer.why();
    Database a(bouncer.uri()), b(bouncer.uri());
    a.exec("CREATE TABLE t (x bigint)");
    Statement insert = a.prepare("INSERT INTO t (x) VALUES (?1)");
    // Three runs in each transaction: the second and third run a prepared statement.
    const auto fill = [&](int from) {
        Transaction write(a, Transaction::Mode::Write);
        for (int k = from; k < from + 3; ++k) insert.reuse().bind(1, k).run();
        write.commit();
    };
    if (*GetParam().refusal != 0) {
        try {
            fill(0);
            ADD_FAILURE() << "a transaction went through in " << GetParam().mode << " mode";
        } catch (const StoreError& e) {
            EXPECT_NE(std::string(e.what()).find(GetParam().refusal), std::string::npos) << e.what();
        }
        return;
    }
    fill(0);
    {
        // PgBouncer hands out the session freed last first: b's transaction takes the one a's
        // just gave back, and a's next one runs in another.
        Transaction held(b, Transaction::Mode::Read);
        Statement left = b.prepare("SELECT count(*) FROM pg_prepared_statements");
        ASSERT_TRUE(left.step());
        EXPECT_EQ(left.integer(0), 0) << "prepared statements outlived their transaction";
        fill(3);
    }
    Statement rows = a.prepare("SELECT count(*), sum(x) FROM t");
    ASSERT_TRUE(rows.step());
    EXPECT_EQ(rows.integer(0), 6);
    EXPECT_EQ(rows.integer(1), 15);
}

// Named PostgreSQL, for the label; each starts a pooler of its own.
std::string onPostgres(const ::testing::TestParamInfo<Pooling>&) { return "PostgreSQL"; }
INSTANTIATE_TEST_SUITE_P(Session, PooledDatabase, ::testing::Values(Pooling{"session", ""}), onPostgres);
INSTANTIATE_TEST_SUITE_P(Transaction, PooledDatabase, ::testing::Values(Pooling{"transaction", ""}), onPostgres);
INSTANTIATE_TEST_SUITE_P(Statement, PooledDatabase,
                         ::testing::Values(Pooling{"statement", "not allowed in statement pooling mode"}), onPostgres);

}  // namespace
}  // namespace eft::server::testing
