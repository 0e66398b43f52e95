#pragma once
// An HTTP server on a loopback address for tests: answers each request target with a canned
// reply and records every request it received.
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace eft::test {

class CannedServer {
public:
    struct Request {
        std::string method;
        std::string target;  // path and query, without the base
        std::string body;
        std::string contentType;
        std::string authorization;
        std::string requestHeader;  // X-EFTMemb-Request
        std::string acceptEncoding = {};
        std::string acceptLanguage = {};
    };
    struct Reply {
        std::string body;
        int status = 200;
        std::chrono::milliseconds delay{0};
        bool cutMidway = false;    // sends half the body, then closes the connection
        std::string location{};    // a Location header, for redirects
        // Sends the body in pieces of this size with `delay` before each (instead of once,
        // up front); the length is announced.
        std::size_t paceBytes = 0;
        bool stallMidway = false;  // sends half the body, then nothing until the server stops
        // Passes the request on to the server relayTo() names and answers with its answer,
        // after `delay`: the server behind has acted on it before the answer is late.
        bool relay = false;
        // With paceBytes: each piece goes as a chunk of its own, the length not announced.
        bool chunked = false;
        std::string contentEncoding{};  // a Content-Encoding header
    };

    struct Tls {
        std::string certFile;  // PEM
        std::string keyFile;
    };

    // `host`: the loopback address to listen on; with `tls`, HTTPS.
    explicit CannedServer(const std::string& host = "127.0.0.1", const Tls* tls = nullptr);
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    // The base address: "http://HOST:PORT/eft/" (https with TLS).
    std::string base() const { return base_; }
    int port() const { return port_; }
    // The reply to a target ("EFTMember.asp?countryID=1&Load=1"); POSTs match on the path.
    void on(const std::string& target, Reply reply);
    // Passes every request without a reply of its own on to the server at `base`
    // ("http://127.0.0.1:PORT/eft/"), and its answer back: a gateway in front of a real server.
    void relayTo(const std::string& base);
    std::vector<Request> requests() const;
    std::size_t countOf(const std::string& method) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string base_;
    int port_ = 0;
};

// A sweep reply built from rows of field=value pairs.
std::string sweepReply(const std::vector<std::map<std::string, std::string>>& rows);

}  // namespace eft::test
