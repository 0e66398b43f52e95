// The real eft-server against requests made to mislead it: smuggled pairs, oversized or
// malformed headers, requests from other sites, guessed passwords, a database deleted under
// it, and text meant to fool whoever reads its replies and log.
#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "net/pages.h"
#include "server/http/access.h"
#include "server/http/access_log.h"
#include "server/pages/save_record.h"
#include "server_fixture.h"
#include "server_process.h"

namespace eft::server::testing {
namespace {

using namespace std::chrono_literals;

const std::string kChange(pages::kRequestHeader);

std::size_t count(const std::string& text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string base64(std::string_view s) {
    std::string out(sodium_base64_ENCODED_LEN(s.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(s.data()), s.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);
    return out;
}

class HostileRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db=" + (dir.path() / "eft.db").string(), "--seed-demo"}, std::vector<std::string>{},
            dir.path());
        ASSERT_TRUE(server->started()) << server->log();
    }

    // Sends the bytes on one connection; what came back before the server closed it (or 3 s).
    std::string exchange(std::string_view bytes, bool& closed) {
        RawClient c(server->port());
        EXPECT_TRUE(c.connected());
        c.send(bytes);
        const std::string got = c.readAll(3s);
        closed = c.closedByPeer();
        return got;
    }

    TempDir dir;
    std::unique_ptr<ServerProcess> server;
};

// Each case carries a second request inside or after the first, smuggled in or behind headers
// past the caps; only the expected replies may come back, and the inner request must never run.
TEST_F(HostileRequestTest, SmuggledRequestsAreRefusedAndTheConnectionCloses) {
    const std::string inner = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string len = std::to_string(inner.size());
    const std::string post = "POST /eft/EFTMember.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kChange + "\r\n";
    std::string many = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 200; ++i) many += "a" + std::to_string(i) + ": b\r\n";
    const struct {
        const char* what;
        std::string bytes;
        const char* status;  // the first reply's status line
        std::size_t replies;
        bool closes;
    } cases[] = {
        {"a kept-alive pair is served twice", inner + inner, "HTTP/1.1 200 OK", 2, false},
        {"length and chunked", post + "Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + inner,
         "HTTP/1.1 400", 1, true},
        {"chunked in odd case and spacing", post + "Transfer-Encoding:   ChUnKeD \r\nContent-Length: 5\r\n\r\n0\r\n\r\n" + inner,
         "HTTP/1.1 400", 1, true},
        {"chunked alone", post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + inner, "HTTP/1.1 400", 1, true},
        {"two lengths", post + "Content-Length: 0\r\nContent-Length: " + len + "\r\n\r\n" + inner, "HTTP/1.1 400", 1, true},
        {"a list of lengths", post + "Content-Length: " + len + ", " + len + "\r\n\r\n" + inner, "HTTP/1.1 400", 1, true},
        {"a body on a GET", "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + len + "\r\n\r\n" + inner,
         "HTTP/1.1 400", 1, true},
        {"a post to an unknown page", "POST /eft/Nothing.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + len +
                                          "\r\n\r\n" + inner,
         "HTTP/1.1 404", 1, true},
        {"the lines after a 400", "GET /eft/EFTMember.asp?countryID=9&Load=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" + inner,
         "HTTP/1.1 400", 1, true},
        {"a NUL in the request line", std::string("GET /hea\0lth HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 42) + inner + inner,
         "HTTP/1.1 400", 1, true},
        {"a post without a length", post + "\r\n" + inner, "HTTP/1.1 411", 1, true},
        {"200 header fields", many + "\r\n" + inner, "HTTP/1.1 431", 1, true},
        {"one 20 KiB header field",
         "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + std::string(20 * 1024, 'x') + "\r\n\r\n" + inner,
         "HTTP/1.1 431", 1, true},
    };
    for (const auto& c : cases) {
        bool closed = false;
        const std::string got = exchange(c.bytes, closed);
        EXPECT_TRUE(got.starts_with(c.status)) << c.what << ":\n" << got;
        EXPECT_EQ(count(got, "HTTP/1.1 "), c.replies) << c.what << ":\n" << got;
        EXPECT_EQ(closed, c.closes) << c.what;
    }
}

// A Range of thousands of parts once multiplied the reply; the server answers whole.
TEST_F(HostileRequestTest, RangeIsIgnored) {
    std::string ranges = "bytes=0-0";
    for (int i = 1; i < 2600; ++i) ranges += ",0-" + std::to_string(i % 3);
    for (const std::string path : {"/health", "/eft/EFTMemberBatch.asp?TSQL=BatchList"}) {
        const Fetched got = fetch(server->origin() + path, {.headers = {"Range: " + ranges}});
        EXPECT_EQ(got.status, 200) << path;
        EXPECT_EQ(got.headers.find("Content-Range"), std::string::npos) << path;
        EXPECT_LT(got.body.size(), 64u * 1024) << path;
    }
}

// What a page on another site can make a browser send: a plain GET (an <img>), a form post,
// a cross-site fetch. None of them carries the control's header, so none changes anything. A
// page on a name the attacker points at 127.0.0.1 is same-origin to the browser; without
// credentials only requests naming the loopback are served.
TEST_F(HostileRequestTest, ChangesNeedTheControlsHeaderAndNoOtherSite) {
    const std::string base = server->base();
    const std::string port = std::to_string(server->port());
    const std::string save = base + "EFTMember.asp";
    const std::string status = base + "EFTMemberBatch.asp";
    const struct {
        const char* what;
        std::string url;
        FetchOptions options;
        long status;
    } cases[] = {
        {"export from an <img>", pages::exportAddress(base, 9, 2),
         {.headers = {"Referer: http://evil.example/", "Sec-Fetch-Site: cross-site"}}, 403},
        {"export without the header", pages::exportAddress(base, 9, 2), {}, 403},
        {"export by an escaped key", base + "EFTMemberBatch.asp?%50rocessExport=True&PersonID=9&PersonTypeID=2", {}, 403},
        {"save without the header", save, {.method = "POST", .body = "RecordCount=0"}, 403},
        {"status without the header", status, {.method = "POST", .body = "PersonID=9&PersonType=2&BatchNo=1&"}, 403},
        {"header with another value", save, {.method = "POST", .body = "RecordCount=0", .headers = {"X-EFTMemb-Request: 0"}}, 403},
        {"a cross-site read", pages::batchListAddress(base), {.headers = {"Sec-Fetch-Site: cross-site"}}, 403},
        {"a rebinding page", pages::batchListAddress(base),
         {.headers = {"Host: evil.example:" + port, "Origin: http://evil.example:" + port}}, 403},
        {"a rebinding name", pages::batchListAddress(base), {.headers = {"Host: evil.example:" + port}}, 403},
        {"localhost", pages::batchListAddress(base), {.headers = {"Host: localhost:" + port, "Origin: http://localhost:" + port}},
         200},
        {"the control's save", save, {.method = "POST", .body = "RecordCount=0", .headers = {kChange}}, 200},
        {"the control's list", pages::batchListAddress(base), {}, 200},
        {"a same-origin save", save,
         {.method = "POST", .body = "RecordCount=0", .headers = {kChange, "Sec-Fetch-Site: same-origin"}}, 200},
    };
    for (const auto& c : cases) {
        const Fetched got = fetch(c.url, c.options);
        EXPECT_EQ(got.status, c.status) << c.what << ": " << got.error << got.body;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "eft-export" / "EFT_US_0000000001.txt"));
    EXPECT_EQ(fetch(pages::exportAddress(base, 9, 2), {.headers = {kChange}}).status, 200);
}

// A request line may name the whole address, as a client speaking to a proxy does: its
// authority stands for the Host header (which is then ignored), passes the same loopback and
// origin checks, and the page is found by its path and query.
TEST_F(HostileRequestTest, AbsoluteFormTargetsAreServedByTheirPath) {
    const std::string own = "127.0.0.1:" + std::to_string(server->port());
    const std::string list = "/eft/EFTMemberBatch.asp?TSQL=BatchList";
    const auto get = [](const std::string& target, const std::string& headers) {
        return "GET " + target + " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n";
    };
    const struct {
        const char* what;
        std::string bytes;
        const char* status;
    } cases[] = {
        {"http, the Host alike", get("http://" + own + list, "Host: " + own + "\r\n"), "HTTP/1.1 200"},
        {"https", get("https://" + own + list, "Host: " + own + "\r\n"), "HTTP/1.1 200"},
        {"a scheme in capitals, no Host", get("HTTP://" + own + list, ""), "HTTP/1.1 200"},
        {"localhost, another Host ignored", get("http://localhost:" + std::to_string(server->port()) + list,
                                                "Host: evil.example\r\n"),
         "HTTP/1.1 200"},
        {"a rebinding name, a loopback Host", get("http://evil.example" + list, "Host: " + own + "\r\n"), "HTTP/1.1 403"},
        {"an origin of the authority", get("http://" + own + list, "Host: evil.example\r\nOrigin: http://" + own + "\r\n"),
         "HTTP/1.1 200"},
        {"an origin of the Host only", get("http://" + own + list, "Host: evil.example\r\nOrigin: http://evil.example\r\n"),
         "HTTP/1.1 403"},
        {"ftp", get("ftp://" + own + list, "Host: " + own + "\r\n"), "HTTP/1.1 400"},
        {"a scheme without an authority", get("http:" + list, ""), "HTTP/1.1 400"},
        {"a login in the authority", get("http://alice:pw@" + own + list, ""), "HTTP/1.1 400"},
        {"an empty host", get("http://" + list, ""), "HTTP/1.1 400"},
        {"no path", get("http://" + own, ""), "HTTP/1.1 404"},
        {"a post", "POST http://" + own + "/eft/EFTMember.asp HTTP/1.1\r\nHost: " + own + "\r\n" + kChange +
                       "\r\nContent-Length: 13\r\nConnection: close\r\n\r\nRecordCount=0",
         "HTTP/1.1 200"},
    };
    for (const auto& c : cases) {
        bool closed = false;
        const std::string got = exchange(c.bytes, closed);
        EXPECT_TRUE(got.starts_with(c.status)) << c.what << ":\n" << got;
        if (std::string_view(c.status) == "HTTP/1.1 200" && c.bytes.starts_with("GET")) {
            EXPECT_TRUE(got.ends_with("</BatchList>\n")) << c.what << ":\n" << got;
        }
    }
    // The log shows the path the page was found by, as for any other request.
    const std::string log = server->logWith(" POST /eft/EFTMember.asp 200 ");
    EXPECT_NE(log.find(" GET " + list + " 200 "), std::string::npos) << log;
    EXPECT_EQ(log.find("GET http"), std::string::npos) << log;
}

TEST_F(HostileRequestTest, KeepAliveSaysWhatTheConnectionTakes) {
    RawClient c(server->port());
    const std::string health = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::string all;
    for (int i = 0; i < 100; ++i) all += health;
    ASSERT_TRUE(c.send(all));
    const std::string got = c.readAll(5s);
    EXPECT_EQ(count(got, "HTTP/1.1 200"), 100u);
    EXPECT_NE(got.find("Keep-Alive: timeout=5, max=99\r\n"), std::string::npos) << got.substr(0, 300);
    EXPECT_NE(got.find("Keep-Alive: timeout=5, max=1\r\n"), std::string::npos);
    EXPECT_EQ(count(got, "Connection: close"), 1u);
    EXPECT_TRUE(c.closedByPeer());
}

// Text that would reorder or hide what a reader of a reply or the log sees is escaped.
TEST_F(HostileRequestTest, InvalidUtf8AndHiddenControlsAreEscaped) {
    const Fetched missing = fetch(server->base() + "%FF%C2%9B%E2%80%AEtxt.exe");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "Not found: /eft/\\xFF\\u{009B}\\u{202E}txt.exe\n");
    const Fetched refused = fetch(server->base() + "%C2%9B%E2%80%AE", {.headers = {"Origin: http://evil.example"}});
    EXPECT_EQ(refused.status, 403);
    const std::string log = server->logWith("u{202E}");
    EXPECT_NE(log.find("path=/eft/\\u{009B}\\u{202E}"), std::string::npos) << log;
    for (const std::string_view raw : {"\xC2\x9B", "\xE2\x80\xAE", "\xFF"}) EXPECT_EQ(log.find(raw), std::string::npos);
}

TEST_F(HostileRequestTest, TheDatabaseDeletedUnderTheServerServesNothing) {
    // A saved charge, which an export would turn into a bank file.
    std::vector<std::string> records;
    {
        Store inspect(dir.path() / "eft.db");
        inspect.forEachSweepRow(1, [&](const SweepRowView& r) {
            if (records.empty())
                records.push_back(controlRecordText(r.key, r.type, r.amounts, r.salesTaxExempt, r.subscription, r.trustId, 9, 2));
        });
    }
    const Fetched saved = fetch(server->base() + "EFTMember.asp",
                                {.method = "POST", .body = pages::saveBody(records), .headers = {kChange}});
    ASSERT_EQ(saved.status, 200);
    ASSERT_EQ(saved.body, "");
    std::filesystem::remove(dir.path() / "eft.db");
    const struct {
        const char* what;
        std::string url;
        FetchOptions options;
    } cases[] = {
        {"health", server->origin() + "/health", {}},
        {"sweep", pages::sweepRowsAddress(server->base(), 1), {}},
        {"batch list", pages::batchListAddress(server->base()), {}},
        {"save", server->base() + "EFTMember.asp", {.method = "POST", .body = "RecordCount=0", .headers = {kChange}}},
        {"status", server->base() + "EFTMemberBatch.asp",
         {.method = "POST", .body = "GoodMemb=1&PersonID=9&PersonType=2&BatchNo=1&", .headers = {kChange}}},
        {"export", pages::exportAddress(server->base(), 9, 2), {.headers = {kChange}}},
    };
    for (const auto& c : cases) {
        const Fetched got = fetch(c.url, c.options);
        EXPECT_EQ(got.status, 503) << c.what << ": " << got.body;
        EXPECT_NE(got.headers.find("Retry-After: 5\r\n"), std::string::npos) << c.what << ": " << got.headers;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "eft.db"));
    const auto out = dir.path() / "eft-export";
    EXPECT_TRUE(!std::filesystem::exists(out) || std::filesystem::is_empty(out));
}

// Expect: 100-continue is answered only once the request may go on.
class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream file(dir.path() / "credentials");
        for (const char* name : {"alice", "bob"}) {
            const Ran hashed = runProgram(std::string(EFT_SERVER_PATH) + " --hash-password " + name,
                                          std::string(name) + "-pw\n");
            ASSERT_EQ(hashed.status, 0) << hashed.out;
            file << hashed.out;
        }
        file.close();
        std::filesystem::permissions(dir.path() / "credentials", std::filesystem::perms::owner_read);
        server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--db=" + (dir.path() / "eft.db").string(),
                                     "--credentials=" + (dir.path() / "credentials").string()},
            std::vector<std::string>{}, dir.path());
        ASSERT_TRUE(server->started()) << server->log();
        list = pages::batchListAddress(server->base());
    }

    long get(const std::string& user, const std::string& from) { return fetch(list, {.user = user, .fromAddress = from}).status; }

    TempDir dir;
    std::unique_ptr<ServerProcess> server;
    std::string list;
};

TEST_F(LoginTest, ContinueComesOnlyAfterTheLoginIsJudged) {
    const std::string head = "POST /eft/EFTMember.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kChange +
                             "\r\nContent-Length: 13\r\nExpect: 100-continue\r\n";
    RawClient stranger(server->port());
    ASSERT_TRUE(stranger.send(head + "\r\n"));
    // Each read stops at the first head: the limits only bound a server that never answers
    // (judging a password takes a hash, slow on a busy machine).
    const std::string refused = stranger.readUntil("\r\n\r\n", 30s);
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 401")) << refused;
    EXPECT_EQ(refused.find("100 Continue"), std::string::npos);

    RawClient alice(server->port());
    ASSERT_TRUE(alice.send(head + "Authorization: Basic " + base64("alice:alice-pw") + "\r\n\r\n"));
    const std::string interim = alice.readUntil("\r\n\r\n", 30s);
    EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(alice.send("RecordCount=0"));
    const std::string reply = alice.readUntil("\r\n\r\n", 30s);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
}

// Guesses in parallel get no more hashes than one at a time: five, then the pair waits, while
// the right password from another address gets in. The log has a line a request, the user once
// logged in, and never a password or a guess.
TEST_F(LoginTest, ParallelGuessesGetNoMoreThanFiveHashes) {
    std::atomic<int> wrong = 0, braked = 0;
    std::vector<std::thread> guessers;
    for (int i = 0; i < 64; ++i)
        guessers.emplace_back([&, i] {
            const long s = get("alice:guess" + std::to_string(i), "127.0.0.2");
            if (s == 401) ++wrong;
            if (s == 429) ++braked;
        });
    for (auto& t : guessers) t.join();
    EXPECT_EQ(wrong + braked, 64);
    // One at a time, the guesses the burst left go on until the lock: five in all.
    for (int i = 0; i < 10 && get("alice:late" + std::to_string(i), "127.0.0.2") == 401; ++i) ++wrong;
    EXPECT_EQ(wrong.load(), 5);
    // The pair is locked, right password or not.
    const Fetched locked = fetch(list, {.user = "alice:alice-pw", .fromAddress = "127.0.0.2"});
    EXPECT_EQ(locked.status, 429);
    EXPECT_TRUE(std::regex_search(locked.headers, std::regex("Retry-After: [1-9][0-9]*"))) << locked.headers;
    EXPECT_EQ(get("alice:alice-pw", "127.0.0.3"), 200);

    const std::string log = server->logWith(" 127.0.0.3 alice GET ");
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(Z warning 127\.0\.0\.2 alice GET /eft/EFTMemberBatch\.asp\?TSQL=BatchList 401 [0-9]+ [0-9.]+ms\n)")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(Z warning event=refused client=127\.0\.0\.2 status=429 )"))) << log;
    EXPECT_NE(log.find("Z info 127.0.0.3 alice GET /eft/EFTMemberBatch.asp?TSQL=BatchList 200 "), std::string::npos) << log;
    for (const char* secret : {"guess", "late0", "alice-pw"}) EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

// A name tried at the login is logged as a path is: escaped, so it cannot forge a line or hide
// what follows, and cut to a readable length that still says how long it was.
TEST_F(LoginTest, ANameTriedIsLoggedEscapedAndCapped) {
    const std::string name = "\x1B[2J\xE2\x80\xAE" + std::string(400, 'm') + "\xC3\xA9";
    EXPECT_EQ(get(name + ":pw", "127.0.0.4"), 401);
    EXPECT_EQ(get("\xFF\nfake line:pw", "127.0.0.4"), 401);
    const std::string log = server->logWith("fake line");
    const std::string shown = "\\x1B[2J\\u{202E}" + std::string(kLoggedNameBytes - 7, 'm') + "\u2026(" +
                              std::to_string(name.size()) + " bytes)";
    EXPECT_NE(log.find(" 127.0.0.4 \"" + shown + "\" GET "), std::string::npos) << log;
    EXPECT_NE(log.find(" 127.0.0.4 \"\\xFF\\x0Afake line\" GET "), std::string::npos) << log;
    for (const std::string_view raw : {"\x1B", "\xE2\x80\xAE", "\xFF", "\nfake"})
        EXPECT_EQ(log.find(raw), std::string::npos) << log;
}

// An insider logged in as bob cannot guess alice's password by clearing his own failures.
TEST_F(LoginTest, ASuccessClearsOnlyItsOwnUsersFailures) {
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(get("bob:bob-pw", "127.0.0.4"), 200) << round;
        for (int i = 0; i < 2; ++i) get("alice:guess" + std::to_string(round) + std::to_string(i), "127.0.0.4");
    }
    EXPECT_EQ(get("alice:guess-more", "127.0.0.4"), 429);
    EXPECT_EQ(get("bob:bob-pw", "127.0.0.4"), 200);
}

// Guesses at one user from ever new addresses are braked across them all, except at the
// addresses where that user signed in: alice stays in at her desk, and only a new address
// waits out the lock.
TEST_F(LoginTest, GuessesFromRotatingAddressesAreBrakedPerUser) {
    ASSERT_EQ(get("alice:alice-pw", "127.0.0.7"), 200);
    int wrong = 0, braked = 0;
    for (int i = 1; i <= 40; ++i) {
        const long s = get("alice:guess" + std::to_string(i), "127.0.8." + std::to_string(i));
        wrong += s == 401 ? 1 : 0;
        braked += s == 429 ? 1 : 0;
    }
    EXPECT_EQ(wrong, 10);
    EXPECT_EQ(braked, 30);
    EXPECT_EQ(get("alice:alice-pw", "127.0.0.7"), 200);
    const Fetched locked = fetch(list, {.user = "alice:alice-pw", .fromAddress = "127.0.9.1"});
    EXPECT_EQ(locked.status, 429);
    EXPECT_TRUE(std::regex_search(locked.headers, std::regex("Retry-After: [1-9][0-9]*"))) << locked.headers;
    EXPECT_EQ(get("bob:bob-pw", "127.0.9.1"), 200);
}

// The table of failed logins behind the brake, filled by one user's guesses from ever new
// addresses (with the brake across addresses lifted, so that the table fills).
class LoginTableTest : public ::testing::Test {
protected:
    Gate make(std::size_t cap) {
        LoginBrake brake;
        brake.userFailuresAnywhere = 1 << 30;
        brake.maxEntries = cap;
        return Gate({{"alice", hash}}, brake);
    }
    static std::string address(int i) { return "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1); }
    Gate::Verdict check(Gate& gate, const std::string& from, const std::string& login) {
        return gate.check(from, "Basic " + base64(login)).verdict;
    }

    static inline const std::string hash = hashPassword("alice-pw");
};

// A check once scanned the whole table past 10,000 entries; now its cost does not grow with it.
TEST_F(LoginTableTest, ACheckCostsNoMoreWithTwentyThousandEntries) {
    Gate gate = make(65536);
    int next = 0;
    ASSERT_EQ(check(gate, address(next++), "alice:guess"), Gate::Verdict::Wrong);  // hashed once, known after
    // The fastest of a few batches of checks, each from a new address: a busy machine only
    // ever slows a batch.
    const auto perCheck = [&] {
        std::chrono::nanoseconds fastest = std::chrono::hours(1);
        for (int b = 0; b < 7; ++b) {
            const auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < 200; ++i) EXPECT_EQ(check(gate, address(next++), "alice:guess"), Gate::Verdict::Wrong);
            fastest = std::min<std::chrono::nanoseconds>(fastest, (std::chrono::steady_clock::now() - t0) / 200);
        }
        return fastest;
    };
    const auto few = perCheck();
    while (next < 20000) check(gate, address(next++), "alice:guess");
    const auto many = perCheck();
    EXPECT_LT(many, 5 * few) << "a check took " << few.count() << " ns with " << 1400 << " entries, " << many.count()
                             << " ns with 20,000";
}

// At its cap the table lets go of the oldest failures, never of a lock; full of locks, it takes
// no new guess, though known credentials still get in.
TEST_F(LoginTableTest, KeepsToItsCapWithoutLettingGoOfALock) {
    Gate gate = make(100);
    ASSERT_EQ(check(gate, "127.2.0.1", "alice:alice-pw"), Gate::Verdict::Allowed);
    for (int i = 0; i < 5; ++i) check(gate, "127.2.0.2", "alice:guess");
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(check(gate, address(i), "alice:guess"), Gate::Verdict::Wrong) << i;
    EXPECT_LE(gate.tallies(), 300u);
    EXPECT_EQ(check(gate, "127.2.0.2", "alice:alice-pw"), Gate::Verdict::Throttled);

    for (int i = 1000; i < 1100; ++i)
        for (int n = 0; n < 5; ++n) check(gate, address(i), "alice:guess");
    EXPECT_LE(gate.tallies(), 300u);
    EXPECT_EQ(check(gate, "127.2.0.3", "alice:guess"), Gate::Verdict::Throttled);
    EXPECT_EQ(check(gate, "127.2.0.4", "alice:alice-pw"), Gate::Verdict::Allowed);
}

// Behind an office's shared address, someone guessing other names does not lock alice out,
// and a flood of wrong passwords does not make her wait behind their hashes.
TEST_F(LoginTest, GuessesFromASharedAddressDoNotStopAnOperator) {
    for (int i = 0; i < 12; ++i) EXPECT_EQ(get("user" + std::to_string(i) + ":guess", "127.0.0.5"), 401) << i;
    EXPECT_EQ(get("alice:alice-pw", "127.0.0.5"), 200);

    std::atomic<bool> done = false;
    std::vector<std::thread> flood;
    for (int t = 0; t < 16; ++t)
        flood.emplace_back([&, t] {
            for (int i = 0; i < 20 && !done; ++i) get("user" + std::to_string(t * 100 + i) + ":wrong", "127.0.0.6");
        });
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(get("alice:alice-pw", "127.0.0.5"), 200);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s) << i;
    }
    done = true;
    for (auto& t : flood) t.join();
    // "basic" in small letters is the same scheme.
    EXPECT_EQ(fetch(list, {.headers = {"Authorization: basic " + base64("alice:alice-pw")}}).status, 200);
}

}  // namespace
}  // namespace eft::server::testing
