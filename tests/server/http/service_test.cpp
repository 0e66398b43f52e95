// The real eft-server process on 127.0.0.1, as an administrator runs it and an attacker
// meets it: refusals, the log, TLS, slow clients and stopping.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "net/pages.h"
#include "server/import/importer.h"
#include "server/pages/save_record.h"
#include "server/store/seed.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPassword = "Gr33n-Tea;Pot";  // ';' and '-' survive into the hash intact
const std::string kChange = std::string(pages::kRequestHeader);  // what the control sends with a change

std::string db(const TempDir& dir) { return (dir.path() / "eft.db").string(); }

// A credentials file for alice, made the way an administrator makes it.
std::string credentialsFile(const TempDir& dir) {
    const Ran hashed = runProgram(std::string(EFT_SERVER_PATH) + " --hash-password alice", std::string(kPassword) + "\n");
    EXPECT_EQ(hashed.status, 0) << hashed.out;
    EXPECT_TRUE(hashed.out.starts_with("alice:$argon2id$")) << hashed.out;
    const auto file = dir.path() / "credentials";
    std::ofstream(file) << "# site users\n" << hashed.out;
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return file.string();
}

class ServiceTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(ServiceTest, EveryRefusalHasItsStatusAndNothingIsExported) {
    ServerProcess server({"--db=" + db(dir), "--seed-demo", "--credentials=" + credentialsFile(dir)}, {}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::string list = pages::batchListAddress(server.base());
    const std::string exportAddress = pages::exportAddress(server.base(), 9, 2);
    const std::string alice = std::string("alice:") + kPassword;
    const struct {
        const char* what;
        std::string url;
        FetchOptions options;
        long status;
        const char* header;  // a header the reply must carry
    } cases[] = {
        {"no login", list, {}, 401, "WWW-Authenticate: Basic realm=\"EFTMemb\""},
        {"wrong password", list, {.user = "alice:green-tea"}, 401, "WWW-Authenticate: Basic"},
        {"unknown user", list, {.user = std::string("bob:") + kPassword}, 401, "WWW-Authenticate: Basic"},
        {"login", list, {.user = alice}, 200, "Content-Type: text/xml"},
        {"foreign origin", exportAddress, {.headers = {"Origin: http://evil.example"}, .user = alice}, 403, ""},
        {"foreign port", exportAddress, {.headers = {"Origin: http://127.0.0.1:1"}, .user = alice}, 403, ""},
        {"own origin", list, {.headers = {"Origin: " + server.origin()}, .user = alice}, 200, ""},
        {"HEAD export", exportAddress, {.method = "HEAD", .user = alice}, 405, "Allow: GET, POST"},
        {"PUT", list, {.method = "PUT", .user = alice}, 405, "Allow: GET, POST"},
        {"health without login", server.origin() + "/health", {}, 200, ""},
    };
    for (const auto& c : cases) {
        const Fetched got = fetch(c.url, c.options);
        EXPECT_EQ(got.status, c.status) << c.what << ": " << got.error << got.body;
        EXPECT_NE(got.headers.find(c.header), std::string::npos) << c.what << ": " << got.headers;
    }
    // Not one of the refused exports ran.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "eft-export")) << server.log();
    EXPECT_EQ(fetch(server.origin() + "/health").body, "ok\n");
}

TEST_F(ServiceTest, TheJsonLogHasEveryFieldAndNoSecret) {
    // Configured through the environment alone, as the service unit does.
    const std::string credentials = credentialsFile(dir);
    ServerProcess server({}, {"EFT_DB=" + db(dir), "EFT_CREDENTIALS=" + credentials, "EFT_LOG_FORMAT=json",
                              "EFT_SEED_DEMO=1", "EFT_EXPORT_DIR=" + (dir.path() / "out").string()},
                         dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::string alice = std::string("alice:") + kPassword;
    EXPECT_EQ(fetch(pages::sweepRowsAddress(server.base(), 2), {.user = alice}).status, 200);
    EXPECT_EQ(fetch(server.base() + "EFTMember.asp?token=s3cr3t",
                    {.method = "POST", .body = "RecordCount=0", .headers = {kChange}, .user = alice}).status,
              400);
    EXPECT_EQ(fetch(server.base() + "EFTMember.asp", {.method = "POST", .body = "RecordCount=0", .headers = {kChange}, .user = alice}).status,
              200);
    EXPECT_EQ(fetch(pages::batchListAddress(server.base()), {.user = "alice:wrong"}).status, 401);
    // Hidden controls in a path reach the log escaped, never as themselves.
    EXPECT_EQ(fetch(server.base() + "%C2%9B%E2%80%AE", {.headers = {"Origin: http://evil.example"}, .user = alice}).status,
              403);
    ASSERT_EQ(server.terminate(5s), 0);

    const std::string log = server.log();
    for (const std::string_view secret : {std::string_view(kPassword), std::string_view("s3cr3t"),
                                          std::string_view("RecordCount"), std::string_view("YWxpY2U6")})  // base64 of "alice:"
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in\n" << log;
    EXPECT_NE(log.find(R"("path":"/eft/\u009b\u202e")"), std::string::npos) << log;
    for (const std::string_view raw : {"\xC2\x9B", "\xE2\x80\xAE"}) EXPECT_EQ(log.find(raw), std::string::npos);
    std::vector<nlohmann::json> requests;
    nlohmann::json start;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line);  // every line is JSON, with its level
        ASSERT_TRUE(j.contains("time")) << line;
        const std::string level = j.value("level", "");
        EXPECT_TRUE(level == "error" || level == "warning" || level == "info") << line;
        if (j.contains("event") && j["event"] == "start") start = j;
        if (j.contains("status") && j.contains("bytes")) requests.push_back(j);
    }
    EXPECT_EQ(start.value("authentication", ""), "on");
    EXPECT_EQ(start.value("originator", ""), "the demo originator (fictitious bank details)");
    EXPECT_TRUE(start["workers"].is_number()) << start;
    EXPECT_EQ(start.value("tls", ""), "off");
    EXPECT_EQ(start.value("database", ""), db(dir));
    EXPECT_EQ(start.value("export_dir", ""), (dir.path() / "out").string());
    ASSERT_EQ(requests.size(), 5u) << log;
    const struct {
        const char *user, *method, *path;
        int status;
        const char* level;
    } want[] = {
        {"alice", "GET", "/eft/EFTMember.asp?countryID=2&Load=1", 200, "info"},
        {"alice", "POST", "/eft/EFTMember.asp?token", 400, "warning"},
        {"alice", "POST", "/eft/EFTMember.asp", 200, "info"},
        {"alice", "GET", "/eft/EFTMemberBatch.asp?TSQL=BatchList", 401, "warning"},  // the name tried
    };
    // Lines of requests on different connections may come in either order.
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const auto r = std::find_if(requests.begin(), requests.end(), [&](const nlohmann::json& j) {
            return j["path"] == want[i].path && j["status"] == want[i].status;
        });
        ASSERT_NE(r, requests.end()) << want[i].path << "\n" << log;
        EXPECT_EQ((*r)["client"], "127.0.0.1") << i;
        EXPECT_EQ((*r)["user"], want[i].user) << i;
        EXPECT_EQ((*r)["method"], want[i].method) << i;
        EXPECT_EQ((*r)["level"], want[i].level) << i;
        EXPECT_GT((*r)["bytes"].get<int>(), 0) << i;
        EXPECT_GE((*r)["ms"].get<double>(), 0.0) << i;
    }
    for (const auto& r : requests) {
        if (r["path"] == want[0].path) {
            EXPECT_GT(r["bytes"].get<int>(), 100000);  // the sweep's own size, not a header's
        }
    }
}

// A port taken, an open address without logins, a secret others can read or a credentials line
// that could never log anyone in: the start stops, names what is wrong and leaves no database.
TEST_F(ServiceTest, StartUpRefusalsLeaveNoDatabase) {
    ServerProcess first({"--db=" + (dir.path() / "first.db").string()}, {}, dir.path());
    ASSERT_TRUE(first.started());
    const std::string credentials = credentialsFile(dir);
    const std::string content = fileText(credentials);
    const std::string good = content.substr(content.find('\n') + 1);  // the line without the comment
    using P = std::filesystem::perms;
    const P owner = P::owner_read | P::owner_write;
    const auto write = [&](const std::string& name, const std::string& text, P mode) {
        const auto file = dir.path() / name;
        std::ofstream(file) << text;
        std::filesystem::permissions(file, mode);
        return file.string();
    };
    const std::string groupReadable = write("c640", good, owner | P::group_read);
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {"port in use", {"--port=" + std::to_string(first.port())}, "Address already in use"},
        {"open address without credentials", {"--listen=0.0.0.0"}, "loopback address only"},
        {"bad log format", {"--log-format=xml"}, "xml"},
        {"certificate without key", {"--tls-cert=" + credentials}, "tls-key"},
        {"credentials 0644", {"--credentials=" + write("c644", good, owner | P::group_read | P::others_read)}, "mode 0644"},
        {"credentials 0666",
         {"--credentials=" + write("c666", good, owner | P::group_read | P::group_write | P::others_read | P::others_write)},
         "mode 0666"},
        {"a truncated hash", {"--credentials=" + write("short", "# users\n" + good.substr(0, good.size() - 6) + "\n", owner)},
         "short line 2: the hash is not a whole one"},
        {"a byte-order mark", {"--credentials=" + write("bom", "\xEF\xBB\xBF" + good, owner)},
         "bom line 1: starts with a byte-order mark"},
        {"a TLS key 0644",
         {"--credentials=" + groupReadable, "--tls-cert=" + groupReadable,
          "--tls-key=" + write("key", "k", owner | P::group_read | P::others_read)},
         "TLS key"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--db=" + db(dir));
        ServerProcess server(args, {}, dir.path());
        EXPECT_FALSE(server.started()) << c.what;
        EXPECT_NE(server.wait(5s), 0) << c.what;
        EXPECT_NE(server.log().find(c.says), std::string::npos) << c.what << ": " << server.log();
        EXPECT_FALSE(std::filesystem::exists(db(dir))) << c.what;
    }
    // A credentials file its group may read is the administrator's choice.
    ServerProcess fine({"--credentials=" + groupReadable, "--db=" + db(dir)}, {}, dir.path());
    EXPECT_TRUE(fine.started()) << fine.log();
    const Ran version = runProgram(std::string(EFT_SERVER_PATH) + " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("eft-server [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

TEST_F(ServiceTest, CommandLineEdges) {
    const std::string server = EFT_SERVER_PATH;
    const std::filesystem::path typo = dir.path() / "eft.bd", goneFolder = dir.path() / "var-lib-eftmemb";
    const std::string csv = (dir.path() / "centers.csv").string();
    std::ofstream(csv) << "center_id,name,country\n12,Austin North,US\n";
    const struct {
        const char* what;
        std::string command;
        std::string input;
        int status;  // -1: any failure
        std::string says;
    } cases[] = {
        {"name with a colon", server + " --hash-password bad:name", "pw\n", 2, "cannot go in a credentials file"},
        {"name starting with #", server + " --hash-password '#alice'", "pw\n", 2, "cannot go in a credentials file"},
        {"password from a pipe, once", server + " --hash-password alice", "pw\n", 0, "alice:$argon2id$"},
        {"bad variable", "EFT_PORT=eighty " + server + " --db=" + db(dir), "", -1, "EFT_PORT=eighty"},
        {"variable beaten by the option", "EFT_PORT=eighty " + server + " --db=" + db(dir) + " --port=x", "", -1,
         "--port"},
        {"partial originator, every missing field named",
         server + " --db=" + db(dir) + " --originator=" + (dir.path() / "o.json").string(), "", 1,
         R"(the fields \"companyShortName\", \"companyId\", )"},  // quotes escaped in the log
        {"dry run on a mistyped database", server + " import --dry-run --db=" + typo.string() + " " + csv, "", 1,
         "no database " + typo.string()},
        {"missing state folder", server + " --db=" + (goneFolder / "eft.sqlite").string(), "", 1,
         "the folder " + goneFolder.string() + " does not exist"},
    };
    std::ofstream(dir.path() / "o.json") << R"({"companyName": "Franchisor Inc"})";
    for (const auto& c : cases) {
        const Ran ran = runProgram(c.command, c.input);
        if (c.status < 0) EXPECT_NE(ran.status, 0) << c.what << ": " << ran.out;
        else EXPECT_EQ(ran.status, c.status) << c.what << ": " << ran.out;
        EXPECT_NE(ran.out.find(c.says), std::string::npos) << c.what << ": " << ran.out;
    }
    EXPECT_NE(runProgram(cases[5].command).out.find(R"(\"returnAccount\" are missing)"), std::string::npos);
    EXPECT_EQ(runProgram("EFT_PORT=x " + server + " --db=" + db(dir) + " --port=x").out.find("EFT_PORT"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(typo));
    EXPECT_FALSE(std::filesystem::exists(goneFolder));
}

// Runs `command` (through /bin/sh) on a terminal of its own, typing each answer once its prompt
// shows; its exit status and all it wrote there.
Ran onTerminal(const std::string& command, const std::vector<std::pair<std::string, std::string>>& answers) {
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) return {};
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Ran ran;
    const auto readFor = [&](std::chrono::milliseconds limit) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(terminal, buf, sizeof buf);
        if (n <= 0) return false;  // EIO once the program has ended
        ran.out.append(buf, static_cast<std::size_t>(n));
        return true;
    };
    std::size_t from = 0;
    for (const auto& [prompt, answer] : answers) {
        while (ran.out.find(prompt, from) == std::string::npos && readFor(20s)) {
        }
        from = ran.out.find(prompt, from);
        if (from == std::string::npos) break;
        from += prompt.size();
        const std::string line = answer + "\n";
        if (::write(terminal, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    }
    while (readFor(10s)) {
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

// Typed at a terminal, unseen, a password is asked for twice, and a slip is refused.
TEST_F(ServiceTest, AHashedPasswordIsTypedTwiceOnATerminal) {
    const std::string command = std::string(EFT_SERVER_PATH) + " --hash-password alice";
    const struct {
        const char* what;
        const char* again;
        int status;
        const char* says;
    } cases[] = {
        {"the same twice", "Tea-Pot-42", 0, "alice:$argon2id$"},
        {"a slip", "Tea-Pot-43", 2, "the two passwords differ"},
    };
    for (const auto& c : cases) {
        const Ran ran = onTerminal(command, {{"Password: ", "Tea-Pot-42"}, {"The same password again: ", c.again}});
        EXPECT_EQ(ran.status, c.status) << c.what << ": " << ran.out;
        EXPECT_NE(ran.out.find(c.says), std::string::npos) << c.what << ": " << ran.out;
        EXPECT_EQ(ran.out.find("Tea-Pot"), std::string::npos) << c.what << ": the password was shown: " << ran.out;
        EXPECT_EQ(ran.out.find("$argon2id$") != std::string::npos, c.status == 0) << c.what << ": " << ran.out;
    }
}

// The settings template of the package names every variable the server reads, so a site can
// set each without reading the source.
TEST_F(ServiceTest, TheSettingsTemplateNamesEveryVariable) {
    const Ran help = runProgram(std::string(EFT_SERVER_PATH) + " --help");
    ASSERT_EQ(help.status, 0) << help.out;
    std::set<std::string> variables;
    const std::regex named("Env:(EFT_[A-Z_]+)");
    for (auto m = std::sregex_iterator(help.out.begin(), help.out.end(), named); m != std::sregex_iterator(); ++m)
        variables.insert((*m)[1]);
    ASSERT_GE(variables.size(), 10u) << help.out;
    const std::string settings = fileText(EFT_PACKAGING_DIR "/eft-server.env");
    ASSERT_FALSE(settings.empty());
    for (const std::string& v : variables)
        EXPECT_TRUE(std::regex_search(settings, std::regex("(^|\n)#?" + v + "="))) << v << " is not in eft-server.env";
}

TEST_F(ServiceTest, WithoutAnOriginatorOnlyADemoDatabaseExports) {
    {
        Store store(db(dir));
        fillFixture(store);
        store.db().exec("DELETE FROM settings WHERE name = 'demo'");
    }
    ServerProcess server({"--db=" + db(dir), "--log-format=json"}, {}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const Fetched refused = fetch(pages::exportAddress(server.base(), 9, 2), {.headers = {kChange}});
    EXPECT_NE(refused.body.find("<Export><Refused>The export failed, nothing was exported: this database is not a "
                                "demo one"),
              std::string::npos)
        << refused.body;
    // The failure is logged with its reason, as JSON like every line.
    const std::string log = server.logWith("not a demo one");
    EXPECT_NE(log.find("\"event\":\"export\""), std::string::npos) << log;
}

TEST_F(ServiceTest, SigtermEndsPromptlyWithAStalledClient) {
    ServerProcess server({"--db=" + db(dir), "--seed-demo"}, {}, dir.path());
    ASSERT_TRUE(server.started());
    RawClient stalled(server.port());
    ASSERT_TRUE(stalled.send("GET /eft/EFTMember.asp?countryID=1&Lo"));
    RawClient posting(server.port());
    ASSERT_TRUE(posting.send("POST /eft/EFTMember.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\nSQL1="));
    std::this_thread::sleep_for(300ms);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(server.terminate(2s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

// One address holds no more connections than its cap: past it each new one is turned away at
// once, while the ones it holds and other addresses are served. The log has a line when the
// turning away starts and one with the count when it ends, not one a connection.
TEST_F(ServiceTest, OneAddressHoldsNoMoreConnectionsThanItsCap) {
    ServerProcess server({"--db=" + db(dir)}, {"EFT_MAX_CONNECTIONS_PER_ADDRESS=8"}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::string health = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 8; ++i) {
        held.push_back(std::make_unique<RawClient>(server.port(), "127.0.0.2"));
        ASSERT_TRUE(held.back()->connected());
    }
    for (int i = 0; i < 5; ++i) {
        RawClient over(server.port(), "127.0.0.2");
        over.send(health);
        const std::string got = over.readAll(2s);
        EXPECT_TRUE(got.empty() || got.starts_with("HTTP/1.1 503")) << i << ": " << got;
        EXPECT_TRUE(over.closedByPeer()) << i;
    }
    EXPECT_EQ(fetch(server.origin() + "/health", {.fromAddress = "127.0.0.3"}).status, 200);
    ASSERT_TRUE(held.front()->send(health));
    EXPECT_TRUE(held.front()->readAll(2s).starts_with("HTTP/1.1 200"));
    held.clear();
    long again = 0;
    for (int i = 0; i < 100 && again != 200; ++i) {
        again = fetch(server.origin() + "/health", {.fromAddress = "127.0.0.2"}).status;
        if (again != 200) std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(again, 200);
    const std::string log = server.logWith("refused=5");
    const auto lines = [&log](const std::string& pattern) {
        const std::regex re(pattern);
        return std::distance(std::sregex_iterator(log.begin(), log.end(), re), std::sregex_iterator());
    };
    EXPECT_EQ(lines("event=refused client=127\\.0\\.0\\.2 status=503 "), 2) << log;
    EXPECT_EQ(lines("event=refused client=127\\.0\\.0\\.2 status=503 refused=5 "), 1) << log;
}

// A sweep of tens of megabytes to a client that takes none of it: the server's sends wait,
// bounded, on a worker, and neither other clients nor a stop wait for them.
class StalledSweep : public ServiceTest {
protected:
    void SetUp() override {
        {
            Store store(db(dir));
            seedSynthetic(store, 30000);  // some 24 MB, past what the sockets' buffers hold
        }
        server = std::make_unique<ServerProcess>(std::vector<std::string>{"--db=" + db(dir)}, std::vector<std::string>{},
                                                 dir.path());
        ASSERT_TRUE(server->started()) << server->log();
        stalled = std::make_unique<RawClient>(server->port());
        ASSERT_TRUE(stalled->send("GET " + pages::sweepRowsAddress("/eft/", 1) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        std::this_thread::sleep_for(500ms);
    }

    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<RawClient> stalled;
};

TEST_F(StalledSweep, OtherClientsAndAStopGoOn) {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(server->origin() + "/health", {.timeoutMs = 2000}).status, 200);
    EXPECT_EQ(fetch(pages::batchListAddress(server->base()), {.timeoutMs = 2000}).status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(server->terminate(4s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 3s);
}

TEST_F(StalledSweep, IsCutOffWithoutItsLastChunkOnceTheWriteTimeIsUp) {
    std::this_thread::sleep_for(6s);  // the write time is 5 s
    const auto t0 = std::chrono::steady_clock::now();
    const std::string got = stalled->readAll(20s);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s) << "the server kept the connection open";
    EXPECT_TRUE(got.starts_with("HTTP/1.1 200")) << got.substr(0, 200);
    EXPECT_GT(got.size(), 1000000u);
    EXPECT_LT(got.size(), 20000000u) << "the whole sweep went out";
    EXPECT_FALSE(got.ends_with("\r\n0\r\n\r\n"));
    EXPECT_EQ(fetch(server->origin() + "/health", {.timeoutMs = 2000}).status, 200);
}

// The real server and its commands over a database of each engine.
class ServerOnEngines : public OnEngine {
protected:
    // The command with the database named as an administrator would (quoted for the shell).
    std::string command(const std::string& args) const {
        return std::string(EFT_SERVER_PATH) + " " + args + " --db '" + db + "'";
    }
};

TEST_P(ServerOnEngines, SavesAndExportsRecordTheLoginBesideThePersonId) {
    // An export folder of the test's own: on PostgreSQL the default is relative to the folder
    // the server starts in.
    ServerProcess server({"--db=" + db, "--seed-demo", "--credentials=" + credentialsFile(dir),
                          "--export-dir=" + (dir.path() / "out").string()},
                         {}, dir.path());
    ASSERT_TRUE(server.started()) << server.log();
    const std::string alice = std::string("alice:") + kPassword;
    std::string body;
    {
        Store store(db);
        body = controlSaveBody(store, 1, 3, 4242, 3);
    }
    EXPECT_EQ(fetch(server.base() + "EFTMember.asp", {.method = "POST", .body = body, .headers = {kChange}, .user = alice}).status, 200);
    EXPECT_EQ(fetch(pages::exportAddress(server.base(), 4242, 3), {.headers = {kChange}, .user = alice}).status, 200);
    Store store(db);
    Statement saved = store.db().prepare(
        "SELECT COUNT(*), MIN(saved_by), MIN(saved_by_type), MIN(saved_login), MAX(saved_login) FROM charges "
        "WHERE state = 20");
    ASSERT_TRUE(saved.step());
    EXPECT_EQ(saved.integer(0), 3);
    EXPECT_EQ(saved.integer(1), 4242);
    EXPECT_EQ(saved.integer(2), 3);
    EXPECT_EQ(saved.text(3), "alice");
    EXPECT_EQ(saved.text(4), "alice");
    Statement batch = store.db().prepare("SELECT person_id, login FROM batches");
    ASSERT_TRUE(batch.step());
    EXPECT_EQ(batch.integer(0), 4242);
    EXPECT_EQ(batch.text(1), "alice");
}

TEST_P(ServerOnEngines, TheFilesAndImportCommandsWorkOnTheDatabase) {
    {
        ServerProcess server({"--db=" + db, "--seed-demo", "--export-dir=" + (dir.path() / "out").string()}, {},
                             dir.path());
        ASSERT_TRUE(server.started()) << server.log();
        std::string body;
        {
            Store store(db);
            body = controlSaveBody(store, 2, 3, 7, 2);
        }
        EXPECT_EQ(fetch(server.base() + "EFTMember.asp", {.method = "POST", .body = body, .headers = {kChange}}).status, 200);
        const Fetched exported = fetch(pages::exportAddress(server.base(), 7, 2), {.headers = {kChange}});
        EXPECT_NE(exported.body.find("EFT_CA_0000000001.txt"), std::string::npos) << exported.body;
        EXPECT_EQ(server.terminate(std::chrono::seconds(10)), 0);
    }
    const Ran files = runProgram(command("files"));
    EXPECT_EQ(files.status, 0) << files.out;
    EXPECT_NE(files.out.find("\nEFT_CA_0000000001.txt\t1\tCA\t1\t"), std::string::npos) << files.out;
    // For a program: a value a field, the amounts apart from their counts.
    const Ran json = runProgram(command("files --format json"));
    ASSERT_EQ(json.status, 0) << json.out;
    const nlohmann::json listed = nlohmann::json::parse(json.out.substr(json.out.find('{')))["files"];
    ASSERT_EQ(listed.size(), 1u) << json.out;
    EXPECT_EQ(listed[0]["file"], "EFT_CA_0000000001.txt");
    EXPECT_EQ(listed[0]["batch"], 1);
    EXPECT_EQ(listed[0]["entries"], 1);
    EXPECT_EQ(listed[0]["debit_count"].get<int>() + listed[0]["credit_count"].get<int>(), 1);
    EXPECT_TRUE(listed[0]["debits"].is_number() && listed[0]["credits"].is_number()) << json.out;
    EXPECT_EQ(listed[0]["published"], true);
    EXPECT_EQ(listed[0]["delivery"], "not attempted");
    EXPECT_EQ(listed[0]["kept"], true);
    const Ran csvList = runProgram(command("files --format csv"));
    EXPECT_TRUE(csvList.out.starts_with("file,batch,country,entries,debits,debit_count,credits,credit_count,sha256,"
                                        "published,published_at,delivery,delivery_at,delivery_attempts,delivery_note,kept,exported_at\r\n"
                                        "EFT_CA_0000000001.txt,1,CA,1,"))
        << csvList.out;
    EXPECT_NE(runProgram(command("files --format xml")).status, 0);

    const std::filesystem::path samples = EFT_SAMPLES_DIR;
    const std::string csv = (samples / "centers.csv").string() + " " + (samples / "members.csv").string() + " " +
                            (samples / "charges.csv").string();
    const Ran imported = runProgram(command("import " + csv));
    EXPECT_EQ(imported.status, 0) << imported.out;
    EXPECT_TRUE(imported.out.starts_with("Imported.\n")) << imported.out;
    // Every row of the samples went in: a second import finds each of them as it is.
    const Ran again = runProgram(command("import --dry-run " + csv));
    for (const char* table : {"centers: 0 added, 0 changed, 4 unchanged", "members: 0 added, 0 changed, 4 unchanged",
                              "charges: 0 added, 0 changed, 6 unchanged"})
        EXPECT_NE(again.out.find(table), std::string::npos) << again.out;
    const Ran csvReport = runProgram(command("import --dry-run --format csv " + csv));
    EXPECT_EQ(csvReport.status, 0) << csvReport.out;
    EXPECT_TRUE(csvReport.out.starts_with("record,dry_run,written,faults,table,added,changed,unchanged,skipped,refused,"
                                          "file,line,column,reason\r\nimport,true,false,0,,,,,,,,,,\r\n"
                                          "tables,,,,centers,0,0,4,0,0,,,,\r\n"))
        << csvReport.out;
}

INSTANTIATE_TEST_SUITE_P(On, ServerOnEngines, kEngines, engineName);

// The grants of docs/administrator.md, and nothing more, are enough for everything the servers do.
class ReadmeGrants : public ::testing::TestWithParam<Engine> {};

TEST_P(ReadmeGrants, AreAllTheServersNeed) {
    TempDir dir;
    std::string why;
    const std::string superuser = freshDatabase(GetParam(), dir.path(), why);
    if (superuser.empty()) GTEST_SKIP() << why;
    const std::size_t slash = superuser.find('/', superuser.find("://") + 3);
    const std::string database = superuser.substr(slash + 1, superuser.find('?') - slash - 1);
    const auto as = [&superuser](const std::string& role) {
        const std::size_t from = superuser.find("://") + 3;
        return superuser.substr(0, from) + role + superuser.substr(superuser.find('@'));
    };
    const std::string owner = database + "_admin", server = database + "_server";
    {
        Database db(superuser);
        db.exec(("CREATE ROLE " + owner + " LOGIN; CREATE ROLE " + server + " LOGIN; ALTER DATABASE " + database +
                 " OWNER TO " + owner + "; REVOKE CREATE ON SCHEMA public FROM PUBLIC; GRANT CONNECT, TEMPORARY ON DATABASE " +
                 database + " TO " + server + "; GRANT USAGE ON SCHEMA public TO " + server +
                 "; ALTER DEFAULT PRIVILEGES FOR ROLE " + owner +
                 " IN SCHEMA public GRANT SELECT, INSERT, UPDATE ON TABLES TO " + server +
                 "; ALTER DEFAULT PRIVILEGES FOR ROLE " + owner + " IN SCHEMA public GRANT USAGE ON SEQUENCES TO " + server)
                    .c_str());
    }
    { Store tables(as(owner)); }
    Store store(as(server));
    EXPECT_THROW(store.db().exec("CREATE TABLE intruder (x integer)"), StoreError);
    fillFixture(store);
    Service service(ServiceOptions{as(server), dir.path() / "export", fixedNow});
    service.startSweepLoad("alice", 1);
    ASSERT_EQ(service.save(controlSaveBody(store, 1, 2, 7, 2)), "");
    EXPECT_NE(service.exportBatches(7, 2).find("batch 1"), std::string::npos);
    EXPECT_EQ(service.commitStatus("GoodMemb=1001&PersonID=7&PersonType=2&BatchNo=1&"), "");
    const std::filesystem::path samples = EFT_SAMPLES_DIR;
    const ImportReport imported =
        importCsv(store, {samples / "centers.csv", samples / "members.csv", samples / "charges.csv"}, false);
    EXPECT_TRUE(imported.written) << (imported.faults.empty() ? "" : imported.faults[0].text());
}

// The grants are PostgreSQL's; SQLite has none.
INSTANTIATE_TEST_SUITE_P(On, ReadmeGrants, ::testing::Values(Engine::PostgreSQL), engineName);

}  // namespace
}  // namespace eft::server::testing
