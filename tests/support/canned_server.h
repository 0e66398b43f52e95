#pragma once
// An HTTP server on 127.0.0.1 for tests: answers each request target with a canned reply and
// records every request it received.
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
    };
    struct Reply {
        std::string body;
        int status = 200;
        std::chrono::milliseconds delay{0};
        bool cutMidway = false;  // sends half the body, then closes the connection
    };

    CannedServer();
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    // The base address: "http://127.0.0.1:PORT/eft/".
    std::string base() const { return base_; }
    // The reply to a target ("EFTMember.asp?countryID=1&Load=1"); POSTs match on the path.
    void on(const std::string& target, Reply reply);
    std::vector<Request> requests() const;
    std::size_t countOf(const std::string& method) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string base_;
};

// A sweep reply built from rows of field=value pairs.
std::string sweepReply(const std::vector<std::map<std::string, std::string>>& rows);

}  // namespace eft::test
