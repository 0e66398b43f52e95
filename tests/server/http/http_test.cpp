// The embedded server over 127.0.0.1: the five requests in the order an operator makes them;
// and the engine alone, behind a site that answers everything, at its limits.
#include <gtest/gtest.h>
#include <httplib.h>

#include <pugixml.hpp>

#include <map>
#include <mutex>

#include "net/pages.h"
#include "server/embedded_server.h"
#include "server/http/access_log.h"
#include "server/http/connection.h"
#include "server/pages/save_record.h"
#include "server_fixture.h"
#include "server_process.h"
#include "text/text_forms.h"

namespace eft::server::testing {
namespace {

constexpr const char* kSweepFields[] = {
    "MemberID", "MemberName", "CenterID", "CenterName", "ContractSigned", "ConversionRate", "Royalty", "NAC",
    "RoyaltyReserve", "FranchiseFee", "FranchiseFeeReserve", "SalesTaxExempt", "Source", "SourceDescription", "GST",
    "PST", "NMCPayment", "SweepSequence", "SweepDate", "Type", "TrustID", "INRowTotal", "OUTRowTotal", "MemberType",
    "SubscriptionMembership", "DownPayment"};

float number(const pugi::xml_node row, const char* field) { return text::parseSingle(row.child_value(field)).value(); }
int whole(const pugi::xml_node row, const char* field) { return std::stoi(row.child_value(field)); }
bool flag(const pugi::xml_node row, const char* field) { return std::string(row.child_value(field)) == "true"; }

// What the control posts for a sweep row it read.
std::string controlRecord(const pugi::xml_node row) {
    const ChargeKey key{whole(row, "MemberID"), whole(row, "CenterID"), static_cast<std::int16_t>(whole(row, "Source")),
                        static_cast<std::int16_t>(whole(row, "SweepSequence"))};
    const Amounts a{number(row, "ConversionRate"), number(row, "Royalty"), number(row, "NAC"),
                    number(row, "RoyaltyReserve"), number(row, "FranchiseFee"), number(row, "FranchiseFeeReserve"),
                    number(row, "GST"), number(row, "PST"), number(row, "NMCPayment")};
    return controlRecordText(key, static_cast<std::int16_t>(whole(row, "Type")), a,
                                             flag(row, "SalesTaxExempt"), flag(row, "SubscriptionMembership"),
                                             whole(row, "TrustID"), 7, 2);
}

class HttpTest : public OnEngine {
protected:
    void SetUp() override {
        OnEngine::SetUp();
        if (IsSkipped()) return;
        server = EmbeddedServer::start({db, dir.path() / "out", true});
        ASSERT_TRUE(server->demoSeeded());
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        client->set_default_headers({{std::string(pages::kRequestHeaderName), std::string(pages::kRequestHeaderValue)}});
        path = "/eft/";
    }

    pugi::xml_node load(pugi::xml_document& doc, const std::string& page) {
        const auto res = client->Get((path + page).c_str());
        EXPECT_TRUE(res);
        if (!res) return {};
        EXPECT_EQ(res->status, 200) << res->body;
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/xml; charset=UTF-8");
        EXPECT_TRUE(doc.load_string(res->body.c_str())) << page;
        return doc.document_element();
    }

    std::string post(const std::string& page, const std::string& body) {
        const auto res = client->Post((path + page).c_str(), body, "application/x-www-form-urlencoded");
        EXPECT_TRUE(res);
        return res ? res->body : "(no reply)";
    }

    std::unique_ptr<EmbeddedServer> server;
    std::unique_ptr<httplib::Client> client;
    std::string path;
};

TEST_P(HttpTest, TheBaseAddressIsALoopbackFolder) {
    EXPECT_EQ(server->baseAddress(), "http://127.0.0.1:" + std::to_string(server->port()) + "/eft/");
}

TEST_P(HttpTest, SweepRowsCarryEveryFieldInCenterOrder) {
    for (const int country : {1, 2}) {
        pugi::xml_document doc;
        const auto root = load(doc, pages::sweepRowsAddress("", static_cast<std::int16_t>(country)));
        int rows = 0;
        int lastCenter = 0;
        std::map<int, float> net;
        for (const pugi::xml_node row : root.children()) {
            ++rows;
            std::vector<std::string> names;
            for (const pugi::xml_node f : row.children()) names.push_back(f.name());
            ASSERT_EQ(names, std::vector<std::string>(std::begin(kSweepFields), std::end(kSweepFields)));
            const int center = whole(row, "CenterID");
            EXPECT_GE(center, lastCenter);
            lastCenter = center;
            net[center] += number(row, "INRowTotal") + number(row, "OUTRowTotal");
        }
        EXPECT_GT(rows, 100) << country;
        int centersIn = 0, centersOut = 0;
        for (const auto& [center, amount] : net) (amount > 0 ? centersIn : centersOut) += 1;
        EXPECT_GT(centersIn, 0) << country;
        EXPECT_GT(centersOut, 0) << country;
    }
}

TEST_P(HttpTest, SaveExportListAndCommitRoundTrip) {
    // The operator takes the first center's rows of each country.
    std::vector<std::string> records;
    for (const int country : {1, 2}) {
        pugi::xml_document doc;
        const auto root = load(doc, pages::sweepRowsAddress("", static_cast<std::int16_t>(country)));
        const std::string firstCenter = root.first_child().child_value("CenterID");
        for (const pugi::xml_node row : root.children())
            if (firstCenter == row.child_value("CenterID")) records.push_back(controlRecord(row));
    }
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(post(std::string(pages::kMemberPage), pages::saveBody(records)), "");
    EXPECT_EQ(post(std::string(pages::kMemberPage), pages::saveBody(records)).substr(0, 12), "Record SQL1:");

    pugi::xml_document report;
    const std::string reportText = load(report, pages::exportAddress("", 9, 2)).child_value();
    EXPECT_NE(reportText.find("United States: file EFT_US_0000000001.txt, batch 1,"), std::string::npos) << reportText;
    EXPECT_NE(reportText.find("Canada: file EFT_CA_0000000002.txt, batch 2,"), std::string::npos) << reportText;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out" / "EFT_US_0000000001.txt"));

    pugi::xml_document list;
    std::vector<std::string> good;
    std::string batch1;
    for (const pugi::xml_node item : load(list, pages::batchListAddress("")).children()) {
        if (std::string(item.child_value("BatchControl")) != "1") continue;
        good.push_back((whole(item, "Source") == 2 ? "-" : "") + std::string(item.child_value("MemberID")));
    }
    ASSERT_FALSE(good.empty());
    EXPECT_EQ(post(std::string(pages::kBatchPage), pages::statusBody(good, {}, 9, 2, 1)), "");

    pugi::xml_document after;
    for (const pugi::xml_node item : load(after, pages::batchListAddress("")).children())
        EXPECT_STREQ(item.child_value("BatchControl"), "2");
}

// The connection refuses a body past the limit by its length, before the router sees it.
TEST_P(HttpTest, AnOversizedBodyIsRefused) {
    const auto huge = client->Post("/eft/EFTMember.asp", std::string((16u << 20) + 1, 'x'),
                                   "application/x-www-form-urlencoded");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
    EXPECT_FALSE(huge->body.empty());
}

// The sweep is streamed in chunks while its rows are read, and the next time from the rows
// kept; the bytes are the document's.
TEST_P(HttpTest, TheStreamedSweepIsTheWholeDocument) {
    ServiceOptions options{db, dir.path() / "out", {}};
    options.sweepCacheBytes = 0;
    Service reference(std::move(options));
    for (const char* time : {"read", "kept"}) {
        for (const int country : {1, 2}) {
            const auto res = client->Get(pages::sweepRowsAddress("/eft/", static_cast<std::int16_t>(country)).c_str());
            ASSERT_TRUE(res);
            EXPECT_EQ(res->get_header_value("Transfer-Encoding"), "chunked");
            EXPECT_GT(res->body.size(), 64u * 1024) << "one chunk only";
            EXPECT_EQ(res->body, reference.sweepXml(country)) << time << " " << country;
        }
    }
}

TEST_P(HttpTest, StopEndsServingAndCanBeRepeated) {
    const int port = server->port();
    server->stop();
    server->stop();
    httplib::Client late("127.0.0.1", port);
    late.set_connection_timeout(1);
    EXPECT_FALSE(late.Get("/eft/EFTMemberBatch.asp?TSQL=BatchList"));
}

INSTANTIATE_TEST_SUITE_P(On, HttpTest, kEngines, engineName);

using namespace std::chrono_literals;

// Answers every request 200 "ok", and takes a post's body whole.
class OkSite final : public Site {
public:
    std::optional<Answer> screen(const RequestHead&, std::string&) override { return std::nullopt; }
    Answer respond(const RequestHead&, const std::string&) override { return ok(); }
    std::unique_ptr<PostReader> reader(const RequestHead&, const std::string&) override {
        struct Taker final : PostReader {
            bool feed(std::string_view) override { return true; }
            HttpReply finish() override { return textReply(200, "ok"); }
        };
        return std::make_unique<Taker>();
    }
    Answer finish(PostReader& reader, const std::string&) override {
        Answer a;
        a.reply = reader.finish();
        return a;
    }

private:
    static Answer ok() {
        Answer a;
        a.reply = textReply(200, "ok");
        return a;
    }
};

class EngineTest : public ::testing::Test {
protected:
    void start() {
        options.host = "127.0.0.1";
        engine = std::make_unique<HttpEngine>(options, log);
        engine->run(site);
    }

    std::string logged() {
        std::lock_guard lock(mutex);
        return lines;
    }

    EngineOptions options;
    std::mutex mutex;
    std::string lines;
    EventLog log{LogFormat::Text, [this](std::string_view line) {
                     std::lock_guard lock(mutex);
                     lines += line;
                 }};
    OkSite site;
    std::unique_ptr<HttpEngine> engine;
};

// With the slots nearly all held, the last eighth go only to addresses that hold none: the
// address that took the rest is turned away, new ones are served.
TEST_F(EngineTest, TheLastSlotsAreKeptForAddressesThatHoldNone) {
    options.maxConnections = 16;
    start();
    const std::string health = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 14; ++i) {
        held.push_back(std::make_unique<RawClient>(engine->port(), "127.0.0.2"));
        ASSERT_TRUE(held.back()->connected());
    }
    RawClient more(engine->port(), "127.0.0.2");
    more.send(health);
    const std::string refused = more.readAll(2s);
    EXPECT_TRUE(refused.empty() || refused.starts_with("HTTP/1.1 503")) << refused;
    for (const char* from : {"127.0.0.3", "127.0.0.4"}) {
        held.push_back(std::make_unique<RawClient>(engine->port(), from));
        ASSERT_TRUE(held.back()->send(health));
        EXPECT_TRUE(held.back()->readAll(2s).starts_with("HTTP/1.1 200")) << from;
    }
}

// A body that stops coming is answered 408, not merely cut off.
TEST_F(EngineTest, AStalledBodyIsAnswered408) {
    options.limits.stall = 300ms;
    start();
    RawClient c(engine->port());
    ASSERT_TRUE(c.send("POST /eft/EFTMember.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\nabc"));
    const std::string got = c.readAll(3s);
    EXPECT_TRUE(got.starts_with("HTTP/1.1 408")) << got;
    EXPECT_NE(logged().find("the request body came too slowly"), std::string::npos) << logged();
}

}  // namespace
}  // namespace eft::server::testing
