// The real eft-server while its PostgreSQL stops and starts again: every request is told to
// come back (503 with Retry-After) rather than failed, and once the database is back the first
// request of each kind is served, on connections that the restart closed under the pool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/pages.h"
#include "server_fixture.h"
#include "server_process.h"
#include "support/pg_cluster.h"

namespace eft::server::testing {
namespace {

const std::string kChange(pages::kRequestHeader);

struct Request {
    const char* what;
    std::string url;
    FetchOptions options;
};

// Every page's requests, reads and changes alike, and the health check.
std::vector<Request> everyRequest(const ServerProcess& server) {
    const std::string base = server.base();
    return {
        {"health", server.origin() + "/health", {}},
        {"sweep", pages::sweepRowsAddress(base, 1), {}},
        {"batch list", pages::batchListAddress(base), {}},
        {"save", pages::saveAddress(base), {.method = "POST", .body = "RecordCount=0", .headers = {kChange}}},
        {"status", pages::statusAddress(base),
         {.method = "POST", .body = "GoodMemb=1&PersonID=9&PersonType=2&BatchNo=1&", .headers = {kChange}}},
        {"export", pages::exportAddress(base, 9, 2), {.headers = {kChange}}},
    };
}

// Each request answered 200, each in turn the first of its kind since the database came back.
void expectServed(const std::vector<Request>& requests, const std::string& when) {
    for (const Request& r : requests) {
        const Fetched got = fetch(r.url, r.options);
        EXPECT_EQ(got.status, 200) << r.what << " " << when << ": " << got.body << got.error;
    }
}

class DatabaseOutage : public ::testing::TestWithParam<Engine> {};

TEST_P(DatabaseOutage, IsA503WithRetryAfterAndNeedsNothingToRecover) {
    // A cluster of its own: stopping the one the other cases share would fail them.
    test::PgCluster cluster;
    if (cluster.missing()) GTEST_SKIP() << cluster.why();
    ASSERT_TRUE(cluster.ready()) << cluster.why();
    TempDir dir;
    ServerProcess server({"--db=" + cluster.uri(), "--seed-demo", "--export-dir=" + (dir.path() / "out").string()}, {},
                         dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::vector<Request> requests = everyRequest(server);
    expectServed(requests, "before the outage");

    // Stopped and started with no request between: every connection in the pool was closed
    // while it waited there.
    ASSERT_TRUE(cluster.stop()) << cluster.why();
    ASSERT_TRUE(cluster.start()) << cluster.why();
    expectServed(requests, "after a restart");

    ASSERT_TRUE(cluster.stop()) << cluster.why();
    for (const Request& r : requests) {
        const Fetched got = fetch(r.url, r.options);
        EXPECT_EQ(got.status, 503) << r.what << ": " << got.body << got.error;
        EXPECT_NE(got.headers.find("Retry-After: 5\r\n"), std::string::npos) << r.what << ": " << got.headers;
    }
    ASSERT_TRUE(cluster.start()) << cluster.why();
    expectServed(requests, "after the outage");
}

INSTANTIATE_TEST_SUITE_P(Engines, DatabaseOutage, ::testing::Values(Engine::PostgreSQL), engineName);

}  // namespace
}  // namespace eft::server::testing
