#include "loopback_server.h"

#include <httplib.h>

#include <map>
#include <mutex>
#include <thread>

namespace eft::bench {
namespace {
constexpr std::string_view kBasePath = "/eft/";

struct Reply {
    std::shared_ptr<const std::string> body;
    std::chrono::milliseconds delay{0};
};
}  // namespace

struct LoopbackServer::Impl {
    httplib::Server server;
    std::thread thread;
    std::mutex mutex;
    std::map<std::string, Reply> gets, posts;
};

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {
    auto reply = [this](const httplib::Request& req, httplib::Response& res, bool post) {
        std::string target = req.target;
        if (target.compare(0, kBasePath.size(), kBasePath) == 0) target.erase(0, kBasePath.size());
        if (post) target = target.substr(0, target.find('?'));
        Reply r;
        {
            std::lock_guard lock(impl_->mutex);
            auto& table = post ? impl_->posts : impl_->gets;
            auto it = table.find(target);
            if (it == table.end()) {
                res.status = 404;
                res.set_content("no canned reply\n", "text/plain");
                return;
            }
            r = it->second;
        }
        if (r.delay.count() > 0) std::this_thread::sleep_for(r.delay);
        if (r.body->empty()) {
            res.set_content("", "text/xml");
            return;
        }
        // A content provider hands out the shared body without copying 100 MB per request.
        auto body = r.body;
        res.set_content_provider(body->size(), "text/xml",
                                 [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     return sink.write(body->data() + offset, length);
                                 });
    };
    impl_->server.Get(".*", [reply](const httplib::Request& req, httplib::Response& res) { reply(req, res, false); });
    // The body is read here rather than by httplib, which refuses form bodies over 8 KiB.
    impl_->server.Post(".*", [reply](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& read) {
        read([](const char*, std::size_t) { return true; });  // drained, not kept: replies are canned
        reply(req, res, true);
    });
    const int port = impl_->server.bind_to_any_port("127.0.0.1");
    base_ = "http://127.0.0.1:" + std::to_string(port) + std::string(kBasePath);
    impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
    // stop() issued before the loop runs would be lost and the join would hang.
    while (!impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
    impl_->server.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void LoopbackServer::onGet(const std::string& target, std::string body) {
    std::lock_guard lock(impl_->mutex);
    impl_->gets[target] = {std::make_shared<const std::string>(std::move(body)), {}};
}

void LoopbackServer::onPost(const std::string& path, std::string body, std::chrono::milliseconds delay) {
    std::lock_guard lock(impl_->mutex);
    impl_->posts[path] = {std::make_shared<const std::string>(std::move(body)), delay};
}

}  // namespace eft::bench
