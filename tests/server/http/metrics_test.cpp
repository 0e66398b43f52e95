// The metrics at /metrics, read from the real eft-server: the counters after a known sequence
// of requests, the text checked by promtool, and a real Prometheus scraping it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "eftmemb/version.h"
#include "net/pages.h"
#include "server/store/schema.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPassword = "scrape-me";
const std::string kChange = std::string(pages::kRequestHeader);

// A credentials file for alice.
std::string credentialsFile(const std::filesystem::path& dir) {
    const Ran hashed = runProgram(std::string(EFT_SERVER_PATH) + " --hash-password alice", std::string(kPassword) + "\n");
    EXPECT_EQ(hashed.status, 0) << hashed.out;
    const auto file = dir / "credentials";
    std::ofstream(file) << hashed.out;
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return file.string();
}

// The value of one series ("name{label=\"v\"}") in the text format; NaN when it is absent.
double sample(const std::string& text, const std::string& series) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(series + " ")) return std::stod(line.substr(series.size() + 1));
    return std::nan("");
}

FetchOptions as(std::string user, std::string method = "GET", std::string body = {}) {
    return {.method = std::move(method), .body = std::move(body), .headers = {kChange}, .user = std::move(user)};
}

class MetricsSequence : public ServerFixture {};

TEST_P(MetricsSequence, CountersAfterAKnownSequenceOfRequests) {
    const std::string body = bodyFor({kDues1001, kDues2001});
    service.reset();
    // The bank takes the US file and refuses the Canadian one, which is not tried again here.
    ServerProcess server({"--db=" + dbPath().string(), "--export-dir=" + exportDir().string(),
                          "--credentials=" + credentialsFile(dir.path()),
                          "--deliver-command=sh -c 'case \"$0\" in *_CA_*) exit 1;; esac'", "--deliver-retry=3600"},
                         {}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::string alice = std::string("alice:") + kPassword;
    const struct {
        const char* what;
        std::string url;
        FetchOptions options;
        long status;
        const char* reply;  // how the reply starts
    } steps[] = {
        {"load the US sweep", pages::sweepRowsAddress(server.base(), 1), as(alice), 200, "<?xml"},
        {"load the Canadian sweep", pages::sweepRowsAddress(server.base(), 2), as(alice), 200, "<?xml"},
        {"save a charge", pages::saveAddress(server.base()), as(alice, "POST", body), 200, ""},
        {"save it again", pages::saveAddress(server.base()), as(alice, "POST", body), 200, "Record SQL1:"},
        {"a wrong password", pages::batchListAddress(server.base()), as("alice:guess"), 401, ""},
        // Five failures of one user at one address lock it there; alice is not held back.
        {"guess 1", pages::batchListAddress(server.base()), as("mallory:guess"), 401, ""},
        {"guess 2", pages::batchListAddress(server.base()), as("mallory:guess"), 401, ""},
        {"guess 3", pages::batchListAddress(server.base()), as("mallory:guess"), 401, ""},
        {"guess 4", pages::batchListAddress(server.base()), as("mallory:guess"), 401, ""},
        {"guess 5", pages::batchListAddress(server.base()), as("mallory:guess"), 401, ""},
        {"guess 6, braked", pages::batchListAddress(server.base()), as("mallory:guess"), 429, ""},
        {"export", pages::exportAddress(server.base(), 9, 2), as(alice), 200, "<?xml"},
        {"commit a batch that is not there", pages::statusAddress(server.base()),
         as(alice, "POST", pages::statusBody({"1001"}, {}, 9, 2, 99)), 200, "Batch"},
    };
    for (const auto& s : steps) {
        const Fetched got = fetch(s.url, s.options);
        ASSERT_EQ(got.status, s.status) << s.what << ": " << got.error << got.body;
        EXPECT_TRUE(got.body.starts_with(s.reply)) << s.what << ": " << got.body;
    }
    EXPECT_EQ(fetch(server.origin() + "/metrics").status, 401);
    // The files are delivered in the background: scraped until both attempts are counted.
    const std::string delivered = R"(eftmemb_bank_file_deliveries_total{outcome="delivered"})";
    const std::string failed = R"(eftmemb_bank_file_deliveries_total{outcome="failed"})";
    int scrapes = 0;
    EXPECT_TRUE(waitUntil([&] {
        const Fetched got = fetch(server.origin() + "/metrics", as(alice));
        scrapes += got.status == 200 ? 1 : 0;
        return sample(got.body, delivered) + sample(got.body, failed) == 2;
    })) << server.log();
    const Fetched scraped = fetch(server.origin() + "/metrics", as(alice));
    ASSERT_EQ(scraped.status, 200) << scraped.body;
    EXPECT_NE(scraped.headers.find("Content-Type: text/plain; version=0.0.4"), std::string::npos) << scraped.headers;

    const std::string engine = GetParam() == Engine::SQLite ? "sqlite" : "postgresql";
    const struct {
        std::string series;
        double value;
    } expected[] = {
        {R"(eftmemb_http_requests_total{page="member",status="200"})", 4},
        {R"(eftmemb_http_requests_total{page="batch",status="200"})", 2},
        {R"(eftmemb_http_requests_total{page="batch",status="401"})", 6},
        {R"(eftmemb_http_requests_total{page="batch",status="429"})", 1},
        // A scrape is counted as its reply starts, after its text is made.
        {R"(eftmemb_http_requests_total{page="metrics",status="200"})", static_cast<double>(scrapes)},
        {R"(eftmemb_http_requests_total{page="metrics",status="401"})", 1},
        {R"(eftmemb_http_request_duration_seconds_count{page="member"})", 4},
        {R"(eftmemb_sweep_rows_served_total{country="US"})", 4},
        {R"(eftmemb_sweep_rows_served_total{country="CA"})", 3},
        {R"(eftmemb_saves_total{outcome="done"})", 1},
        {R"(eftmemb_saves_total{outcome="refused"})", 1},
        {R"(eftmemb_saves_total{outcome="failed"})", 0},
        {R"(eftmemb_exports_total{outcome="done"})", 1},
        {R"(eftmemb_exports_total{outcome="refused"})", 0},
        {R"(eftmemb_status_commits_total{outcome="refused"})", 1},
        {R"(eftmemb_status_commits_total{outcome="done"})", 0},
        {"eftmemb_bank_files_published_total", 2},
        {delivered, 1},
        {failed, 1},
        {R"(eftmemb_bank_file_deliveries_total{outcome="in_doubt"})", 0},
        {"eftmemb_bank_files_in_doubt", 0},
        {R"(eftmemb_logins_refused_total{reason="wrong"})", 6},
        {R"(eftmemb_logins_refused_total{reason="throttled"})", 1},
        {R"(eftmemb_login_lockouts_total{scope="user_at_address"})", 1},
        {R"(eftmemb_login_lockouts_total{scope="user"})", 0},
        {R"(eftmemb_database_errors_total{engine=")" + engine + R"("})", 0},
        {"eftmemb_database_up", 1},
        {"eftmemb_worker_queue_depth", 0},
        {"eftmemb_schema_version", kSchemaVersion},
        {R"(eftmemb_build_info{version=")" EFTMEMB_VERSION_STRING R"("})", 1},
    };
    for (const auto& e : expected) EXPECT_EQ(sample(scraped.body, e.series), e.value) << e.series << "\n" << scraped.body;
    // This scrape's own connection; others may not have gone back to waiting yet.
    EXPECT_GE(sample(scraped.body, R"(eftmemb_http_connections{state="serving"})"), 1) << scraped.body;
}

INSTANTIATE_TEST_SUITE_P(Engines, MetricsSequence, kEngines, engineName);

class MetricsTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(MetricsTest, PromtoolFindsNothingToSayOfTheText) {
    if (std::string(EFT_PROMTOOL_PATH).empty()) GTEST_SKIP() << "promtool is not installed";
    ServerProcess server({"--db=" + (dir.path() / "eft.db").string(), "--seed-demo"}, {}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    // Every kind of series present: a histogram with samples, labels made by requests.
    ASSERT_EQ(fetch(pages::sweepRowsAddress(server.base(), 2)).status, 200);
    ASSERT_EQ(fetch(server.origin() + "/nowhere").status, 404);
    const Fetched scraped = fetch(server.origin() + "/metrics");
    ASSERT_EQ(scraped.status, 200);
    const Ran checked = runProgram(std::string(EFT_PROMTOOL_PATH) + " check metrics 2>&1", scraped.body);
    EXPECT_EQ(checked.status, 0) << checked.out << scraped.body;
    EXPECT_EQ(checked.out, "") << scraped.body;
}

// A free TCP port on 127.0.0.1 at the time of asking.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Prometheus as a child process, stopped when this ends.
class Prometheus {
public:
    Prometheus(const std::filesystem::path& dir, int port) {
        const std::string config = "--config.file=" + (dir / "prometheus.yml").string();
        const std::string data = "--storage.tsdb.path=" + (dir / "data").string();
        const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port);
        const std::string log = (dir / "prometheus.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execl(EFT_PROMETHEUS_PATH, EFT_PROMETHEUS_PATH, config.c_str(), data.c_str(), listen.c_str(), nullptr);
            ::_exit(127);
        }
    }
    ~Prometheus() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Prometheus(const Prometheus&) = delete;
    Prometheus& operator=(const Prometheus&) = delete;

private:
    pid_t pid_ = -1;
};

TEST_F(MetricsTest, PrometheusScrapesTheServerAndAnswersACounterBack) {
    if (std::string(EFT_PROMETHEUS_PATH).empty()) GTEST_SKIP() << "prometheus is not installed";
    ServerProcess server({"--db=" + (dir.path() / "eft.db").string(), "--seed-demo",
                          "--credentials=" + credentialsFile(dir.path())},
                         {}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::string alice = std::string("alice:") + kPassword;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(fetch(pages::batchListAddress(server.base()), as(alice)).status, 200);
    std::ofstream(dir.path() / "prometheus.yml") << "global:\n"
                                                    "  scrape_interval: 1s\n"
                                                    "scrape_configs:\n"
                                                    "  - job_name: eft\n"
                                                    "    basic_auth:\n"
                                                    "      username: alice\n"
                                                    "      password: " << kPassword << "\n"
                                                    "    static_configs:\n"
                                                    "      - targets: ['127.0.0.1:" << server.port() << "']\n";
    const int port = freePort();
    const Prometheus prometheus(dir.path(), port);
    const std::string query = "http://127.0.0.1:" + std::to_string(port) +
                              "/api/v1/query?query=eftmemb_http_requests_total%7Bpage%3D%22batch%22%2Cstatus%3D%22200%22%7D";
    std::string value, last;
    waitUntil(
        [&] {
            const Fetched got = fetch(query, {.timeoutMs = 2000});
            last = got.body;
            const auto json = nlohmann::json::parse(got.body, nullptr, false);
            if (got.status != 200 || json.is_discarded() || json["data"]["result"].empty()) return false;
            value = json["data"]["result"][0]["value"][1].get<std::string>();
            return true;
        },
        60s);
    EXPECT_EQ(value, "3") << last << "\n" << fileText(dir.path() / "prometheus.log");
}

}  // namespace
}  // namespace eft::server::testing
