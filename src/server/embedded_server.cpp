#include "embedded_server.h"

#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "router.h"
#include "service.h"

namespace eft::server {
namespace {

// A wildcard address cannot be dialled; the base address names the loopback instead.
std::string dialHost(const std::string& host) {
    if (host.empty() || host == "0.0.0.0") return "127.0.0.1";
    if (host == "::") return "[::1]";
    if (host.find(':') != std::string::npos) return "[" + host + "]";
    return host;
}

std::string_view queryOf(const std::string& target) {
    const std::size_t at = target.find('?');
    return at == std::string::npos ? std::string_view{} : std::string_view(target).substr(at + 1);
}

}  // namespace

struct EmbeddedServer::Impl {
    std::unique_ptr<Service> service;
    httplib::Server http;
    std::thread thread;
    std::string host;
    std::uint16_t port = 0;
    bool seeded = false;
    bool stopped = false;
    std::atomic<bool> loopEnded = false;
};

std::unique_ptr<EmbeddedServer> EmbeddedServer::start(const EmbeddedOptions& options) {
    auto impl = std::make_unique<Impl>();
    impl->service = std::make_unique<Service>(ServiceOptions{options.dbPath, options.exportDir, {}});
    if (options.seedDemo) impl->seeded = impl->service->seedDemo();

    Service& service = *impl->service;
    auto handler = [&service](const httplib::Request& req, httplib::Response& res) {
        const HttpReply reply = route(service, {req.method, req.path, queryOf(req.target), req.body});
        res.status = reply.status;
        res.set_content(reply.body, reply.contentType.c_str());
    };
    // Posts are read through a content reader: httplib's own reading of a form body stops at
    // 8 KiB, far below a save of a few hundred rows.
    auto postHandler = [&service](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& content) {
        std::string body;
        bool tooLarge = false;
        const bool complete = content([&](const char* data, std::size_t length) {
            if (body.size() + length > kMaxBodyBytes) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        // httplib refuses a declared length over the limit before reading anything.
        tooLarge = tooLarge || std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > kMaxBodyBytes;
        const HttpReply reply = tooLarge    ? textReply(413, "The request body is over the 16 MiB limit")
                                : !complete ? textReply(400, "The request body could not be read")
                                            : route(service, {req.method, req.path, queryOf(req.target), body});
        res.status = reply.status;
        res.set_content(reply.body, reply.contentType.c_str());
    };
    constexpr const char* kAnyPath = R"(.*)";
    impl->http.Get(kAnyPath, handler);
    impl->http.Post(kAnyPath, postHandler);
    impl->http.Put(kAnyPath, handler);
    impl->http.Delete(kAnyPath, handler);
    impl->http.Patch(kAnyPath, handler);
    impl->http.Options(kAnyPath, handler);
    impl->http.set_payload_max_length(kMaxBodyBytes);
    // Replies httplib makes by itself (a body over the limit, a request it cannot read)
    // still get their one line of reason.
    impl->http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const std::string line = res.status == 413 ? "The request body is over the 16 MiB limit\n"
                                                   : "Request refused (HTTP " + std::to_string(res.status) + ")\n";
        res.set_content(line, "text/plain; charset=UTF-8");
    });

    int port = 0;
    if (options.port == 0) {
        port = impl->http.bind_to_any_port(options.listenHost);
    } else {
        port = impl->http.bind_to_port(options.listenHost, options.port) ? options.port : -1;
    }
    if (port <= 0)
        throw std::runtime_error("cannot listen on " + options.listenHost + ":" + std::to_string(options.port));
    impl->port = static_cast<std::uint16_t>(port);
    impl->host = dialHost(options.listenHost);
    impl->thread = std::thread([impl = impl.get()] {
        impl->http.listen_after_bind();
        impl->loopEnded = true;
    });
    // Bound already, so connections queue; but stop() only takes effect once the loop runs.
    while (!impl->http.is_running() && !impl->loopEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::unique_ptr<EmbeddedServer>(new EmbeddedServer(std::move(impl)));
}

EmbeddedServer::EmbeddedServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

EmbeddedServer::~EmbeddedServer() { stop(); }

std::string EmbeddedServer::baseAddress() const {
    return "http://" + impl_->host + ":" + std::to_string(impl_->port) + std::string(kBasePath);
}

std::uint16_t EmbeddedServer::port() const { return impl_->port; }

bool EmbeddedServer::demoSeeded() const { return impl_->seeded; }

std::filesystem::path EmbeddedServer::exportDir() const { return impl_->service->exportDir(); }

void EmbeddedServer::stop() {
    if (impl_->stopped) return;
    impl_->stopped = true;
    impl_->http.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace eft::server
