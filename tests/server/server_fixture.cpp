#include "server_fixture.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include <libpq-fe.h>
#include <unistd.h>

#include "net/pages.h"
#include "server/import/importer.h"
#include "server/pages/save_record.h"
#include "server/returns/bank_answer.h"
#include "server/returns/returns_command.h"
#include "support/pg_cluster.h"

namespace eft::server::testing {
namespace {

// The cluster ctest started for every case (EFT_TEST_PG_FILE names the file that holds its URI),
// or else a server EFT_TEST_PG names, or else one started for this process's cases.
struct SharedCluster {
    std::string server;  // a URI of a database there from which to make others
    std::string why;
    std::unique_ptr<eft::test::PgCluster> own;
};

SharedCluster& cluster() {
    static SharedCluster shared = [] {
        SharedCluster c;
        if (const char* file = std::getenv("EFT_TEST_PG_FILE"); file != nullptr) {
            std::ifstream in(file);
            if (std::getline(in, c.server) && !c.server.empty()) return c;
            // No URI but a reason: what the cases need to reach the database is not installed.
            if (std::getline(in, c.why) && !c.why.empty()) return c;
        }
        if (const char* given = std::getenv("EFT_TEST_PG"); given != nullptr && *given != 0) {
            c.server = given;
            return c;
        }
        c.own = std::make_unique<eft::test::PgCluster>("eft");
        if (c.own->missing()) c.why = "PostgreSQL is not installed (scripts/install-deps.sh installs it): " + c.own->why();
        else if (!c.own->ready()) throw std::runtime_error("the test PostgreSQL cluster did not start: " + c.own->why());
        else c.server = c.own->uri();
        return c;
    }();
    return shared;
}

// `uri` with its database replaced by `name`.
std::string withDatabase(const std::string& uri, const std::string& name) {
    const std::size_t from = uri.find("://") + 3;
    const std::size_t slash = uri.find('/', from);
    const std::size_t query = uri.find('?', slash);
    return uri.substr(0, slash + 1) + name + (query == std::string::npos ? "" : uri.substr(query));
}

}  // namespace

std::string engineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::PostgreSQL ? "PostgreSQL" : "SQLite";
}

std::string freshDatabase(Engine engine, const std::filesystem::path& dir, std::string& why) {
    if (engine == Engine::SQLite) return (dir / "eft.db").string();
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    SharedCluster& c = cluster();
    if (c.server.empty()) {
        why = c.why;
        return {};
    }
    static std::atomic<int> made = 0;
    const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(c.server.c_str()), &PQfinish);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error(std::string("the test PostgreSQL does not answer: ") + PQerrorMessage(conn.get()));
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(conn.get(), ("CREATE DATABASE " + name).c_str()), &PQclear);
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
        throw std::runtime_error(std::string("CREATE DATABASE failed: ") + PQresultErrorMessage(r.get()));
    return withDatabase(c.server, name);
}

void ServerFixture::sql(const std::string& statement) {
    Transaction t(inspect->db(), Transaction::Mode::Write);
    inspect->db().exec(statement.c_str());
    t.commit();
}

void ServerFixture::import(const std::string& name, const std::string& text) {
    const std::filesystem::path file = dir.path() / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const ImportReport report = importCsv(*inspect, {file}, false);
    ASSERT_TRUE(report.written) << importReportText(report, false);
}

void ServerFixture::returnCenter12() {
    returns::ReturnedEntry r;
    for (const SentFile& f : inspect->sentFiles())
        for (const returns::SentEntry& e : returns::sentEntries(f.content, f.batchNo))
            if (e.centerId == 12) r.originalTrace = e.trace, r.cents = e.cents, r.direction = e.direction;
    ASSERT_FALSE(r.originalTrace.empty());
    r.country = 1;
    r.code = "R01";
    r.centerId = 12;
    r.returnDate = "2011-03-08";
    r.ownTrace = "t1";
    r.line = 1;
    returns::BankAnswer a;
    a.sha256 = "a1";
    a.returns = {r};
    returns::ApplyOptions o;
    o.by = "ann";
    o.at = Timestamp::from(Date{2011, 3, 8}, 9);
    ASSERT_EQ(returns::applyAnswers(*inspect, {{"returns-a1", a}}, o).lines.size(), 1u);
}

std::string ServerFixture::bodyFor(std::initializer_list<ChargeKey> keys, std::int32_t personId,
                                   std::int16_t personType) {
    std::vector<std::string> records;
    for (const ChargeKey& wanted : keys) {
        bool found = false;
        for (const int country : {1, 2}) {
            inspect->forEachSweepRow(country, [&](const SweepRowView& r) {
                if (!(r.key == wanted)) return;
                records.push_back(controlRecordText(r.key, r.type, r.amounts, r.salesTaxExempt,
                                                                    r.subscription, r.trustId, personId, personType));
                found = true;
            });
        }
        if (!found) ADD_FAILURE() << "charge of member " << wanted.memberId << " is not in the sweep";
    }
    return pages::saveBody(records);
}

}  // namespace eft::server::testing
