#pragma once
// A canned-reply HTTP server on 127.0.0.1, run inside the benchmark process, so the control's
// requests take the real HTTP path (libcurl over loopback) without a server's own work in
// the figures. Replies are set before requests are made.
#include <chrono>
#include <memory>
#include <string>

namespace eft::bench {

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:PORT/eft/": the control's server base address.
    const std::string& base() const { return base_; }
    // GETs match on path and query ("EFTMember.asp?countryID=1&Load=1"), POSTs on the path.
    void onGet(const std::string& target, std::string body);
    void onPost(const std::string& path, std::string body, std::chrono::milliseconds delay);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string base_;
};

}  // namespace eft::bench
