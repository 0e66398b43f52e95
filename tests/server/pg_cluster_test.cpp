// The tests' throwaway PostgreSQL: two clusters side by side (ctest runs tests in parallel),
// each answering on its own socket only, and nothing left behind.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/pg_cluster.h"

namespace eft::test {
namespace {

// One row's first column of a query, or the error.
std::string queryOne(const std::string& uri, const char* sql) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(uri.c_str()), &PQfinish);
    if (PQstatus(conn.get()) != CONNECTION_OK) return std::string("no connection: ") + PQerrorMessage(conn.get());
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(conn.get(), sql), &PQclear);
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) return std::string("error: ") + PQresultErrorMessage(r.get());
    return PQgetvalue(r.get(), 0, 0);
}

TEST(PgCluster, TwoClustersAnswerOnTheirOwnSocketsAndLeaveNothingBehind) {
    std::filesystem::path folders[2];
    {
        PgCluster a("first"), b("second");
        if (a.missing()) GTEST_SKIP() << a.why();
        ASSERT_TRUE(a.ready()) << a.why();
        ASSERT_TRUE(b.ready()) << b.why();
        EXPECT_NE(a.uri(), b.uri());
        const struct {
            const PgCluster& cluster;
            const char* database;
        } table[] = {{a, "first"}, {b, "second"}};
        for (const auto& row : table) {
            EXPECT_EQ(queryOne(row.cluster.uri(), "SELECT current_database()"), row.database);
            EXPECT_EQ(queryOne(row.cluster.uri(), "SHOW listen_addresses"), "") << "the cluster listens on TCP";
        }
        ASSERT_TRUE(a.createDatabase("another")) << a.why();
        EXPECT_EQ(queryOne(a.uriOf("another"), "SELECT count(*) FROM pg_database WHERE datname = 'another'"), "1");
        // A table made in one cluster is not seen by the other.
        EXPECT_EQ(queryOne(a.uri(), "CREATE TABLE t AS SELECT 42 AS x; SELECT x FROM t"), "42");
        EXPECT_NE(queryOne(b.uri(), "SELECT x FROM t"), "42");
        folders[0] = a.folder();
        folders[1] = b.folder();
    }
    for (const auto& folder : folders) EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
}

}  // namespace
}  // namespace eft::test
