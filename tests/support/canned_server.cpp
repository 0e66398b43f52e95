#include "support/canned_server.h"

#include <httplib.h>

#include <algorithm>
#include <condition_variable>

namespace eft::test {

struct CannedServer::Impl {
    std::unique_ptr<httplib::Server> owned;
    httplib::Server& server;
    explicit Impl(std::unique_ptr<httplib::Server> s) : owned(std::move(s)), server(*owned) {}
    std::thread thread;
    mutable std::mutex mutex;
    std::condition_variable stopping;
    bool stopped = false;
    std::map<std::string, Reply> replies;
    std::vector<Request> requests;
    std::string relayBase;
};

namespace {
constexpr const char* kBasePath = "/eft/";
}

namespace {

std::unique_ptr<httplib::Server> makeServer(const CannedServer::Tls* tls) {
    if (!tls) return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(tls->certFile.c_str(), tls->keyFile.c_str());
}

// The headers of the control's requests and answers that a relay passes on, beside the body's
// type.
constexpr const char* kRelayedHeaders[] = {"Authorization", "X-EFTMemb-Request", "X-EFTMemb-Sweep-Stamp"};

// The request sent on to `base` (plain HTTP: "http://HOST:PORT/PATH/") and its answer.
void relay(const std::string& base, const httplib::Request& req, const std::string& target, const std::string& body,
           httplib::Response& res) {
    const std::string rest = base.substr(std::string("http://").size());
    const std::string hostPort = rest.substr(0, rest.find('/'));
    const std::string path = rest.substr(hostPort.size()) + target;
    const std::size_t colon = hostPort.rfind(':');
    httplib::Client client(hostPort.substr(0, colon), std::stoi(hostPort.substr(colon + 1)));
    httplib::Headers headers;
    for (const char* name : kRelayedHeaders)
        if (req.has_header(name)) headers.emplace(name, req.get_header_value(name));
    const httplib::Result answer =
        req.method == "POST" ? client.Post(path, headers, body, req.get_header_value("Content-Type"))
                             : client.Get(path, headers);
    if (!answer) {
        res.status = 502;
        return;
    }
    res.status = answer->status;
    for (const char* name : kRelayedHeaders)
        if (answer->has_header(name)) res.set_header(name, answer->get_header_value(name));
    res.set_content(answer->body, answer->get_header_value("Content-Type"));
}

}  // namespace

CannedServer::CannedServer(const std::string& host, const Tls* tls)
    : impl_(std::make_unique<Impl>(makeServer(tls))) {
    auto handle = [this](const httplib::Request& req, httplib::Response& res, const std::string& body) {
        std::string target = req.target.substr(0, std::string(kBasePath).size()) == kBasePath
                                 ? req.target.substr(std::string(kBasePath).size())
                                 : req.target;
        Reply reply;
        bool found = false;
        std::string relayBase;
        {
            std::lock_guard lock(impl_->mutex);
            impl_->requests.push_back(Request{req.method, target, body, req.get_header_value("Content-Type"),
                                              req.get_header_value("Authorization"),
                                              req.get_header_value("X-EFTMemb-Request"),
                                              req.get_header_value("Accept-Encoding"),
                                              req.get_header_value("Accept-Language")});
            const std::string key = req.method == "POST" ? target.substr(0, target.find('?')) : target;
            auto it = impl_->replies.find(key);
            if (it != impl_->replies.end()) {
                reply = it->second;
                found = true;
            }
            relayBase = impl_->relayBase;
        }
        if ((!found || reply.relay) && !relayBase.empty()) {
            relay(relayBase, req, target, body, res);
            if (reply.delay.count() > 0) std::this_thread::sleep_for(reply.delay);
            return;
        }
        if (!found) {
            res.status = 404;
            res.set_content("no canned reply", "text/plain");
            return;
        }
        if (reply.delay.count() > 0 && reply.paceBytes == 0) std::this_thread::sleep_for(reply.delay);
        res.status = reply.status;
        if (!reply.location.empty()) res.set_header("Location", reply.location);
        if (!reply.contentEncoding.empty()) res.set_header("Content-Encoding", reply.contentEncoding);
        if (reply.paceBytes > 0 && reply.chunked) {
            auto body = std::make_shared<std::string>(reply.body);
            const std::size_t piece = reply.paceBytes;
            const auto delay = reply.delay;
            res.set_chunked_content_provider("text/xml", [body, piece, delay](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= body->size()) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(delay);
                sink.write(body->data() + offset, std::min(piece, body->size() - offset));
                return true;
            });
        } else if (reply.paceBytes > 0) {
            auto body = std::make_shared<std::string>(reply.body);
            const std::size_t piece = reply.paceBytes;
            const auto delay = reply.delay;
            res.set_content_provider(body->size(), "text/xml",
                                     [body, piece, delay](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         std::this_thread::sleep_for(delay);
                                         sink.write(body->data() + offset, std::min(piece, body->size() - offset));
                                         return true;
                                     });
        } else if (reply.stallMidway) {
            auto body = std::make_shared<std::string>(reply.body);
            Impl* impl = impl_.get();
            res.set_content_provider(body->size(), "text/xml",
                                     [body, impl](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         if (offset == 0) {
                                             sink.write(body->data(), body->size() / 2);
                                             return true;
                                         }
                                         std::unique_lock lock(impl->mutex);
                                         impl->stopping.wait_for(lock, std::chrono::seconds(20),
                                                                 [impl] { return impl->stopped; });
                                         return false;
                                     });
        } else if (reply.cutMidway) {
            auto body = std::make_shared<std::string>(reply.body);
            res.set_content_provider(body->size(), "text/xml",
                                     [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         if (offset > 0) return false;  // close with the rest missing
                                         sink.write(body->data(), body->size() / 2);
                                         return true;
                                     });
        } else {
            res.set_content(reply.body, "text/xml");
        }
    };
    impl_->server.Get(".*", [handle](const httplib::Request& req, httplib::Response& res) { handle(req, res, ""); });
    // A content reader, since httplib reads at most 8 KiB of a form body by itself.
    impl_->server.Post(".*", [handle](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& content) {
        std::string body;
        content([&](const char* data, std::size_t length) {
            body.append(data, length);
            return true;
        });
        handle(req, res, body);
    });
    port_ = impl_->server.bind_to_any_port(host);
    base_ = std::string(tls ? "https://" : "http://") + host + ":" + std::to_string(port_) + kBasePath;
    // The socket listens from bind_to_any_port on, so requests queue until the loop runs.
    impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
    // stop() before the loop has started would be lost, and the join would never return.
    while (!impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

CannedServer::~CannedServer() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopped = true;
    }
    impl_->stopping.notify_all();
    impl_->server.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void CannedServer::relayTo(const std::string& base) {
    std::lock_guard lock(impl_->mutex);
    impl_->relayBase = base;
}

void CannedServer::on(const std::string& target, Reply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->replies[target] = std::move(reply);
}

std::vector<CannedServer::Request> CannedServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t CannedServer::countOf(const std::string& method) const {
    std::lock_guard lock(impl_->mutex);
    std::size_t n = 0;
    for (const auto& r : impl_->requests) n += r.method == method;
    return n;
}

std::string sweepReply(const std::vector<std::map<std::string, std::string>>& rows) {
    std::string xml = "<?xml version=\"1.0\"?>\n<rows>\n";
    for (const auto& row : rows) {
        xml += "  <row>";
        for (const auto& [field, value] : row) xml += "<" + field + ">" + value + "</" + field + ">";
        xml += "</row>\n";
    }
    return xml + "</rows>\n";
}

}  // namespace eft::test
