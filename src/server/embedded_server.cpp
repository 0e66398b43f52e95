#include "embedded_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <eftmemb/version.h>

#include "access.h"
#include "access_log.h"
#include "connection.h"
#include "router.h"
#include "service.h"

namespace eft::server {
namespace {

constexpr std::string_view kTextType = "text/plain; charset=UTF-8";
// Connections waiting to be accepted: far more than the clients a site runs at once.
constexpr int kListenBacklog = 1024;

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

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The host of a Host header names the loopback: "localhost", 127.x.x.x or [::1], any port.
// A request without one comes from no browser, so it cannot be a rebinding attack.
bool loopbackHostHeader(std::string_view host) {
    if (host.empty()) return true;
    std::string name;
    if (host.starts_with('[')) {
        name = host.substr(1, host.find(']') - 1);
    } else {
        name = host.substr(0, host.find(':'));
    }
    name = lower(name);
    if (name == "localhost") return true;
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, name.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// The sweep's rows are read and written as XML on a thread of their own while the worker
// sends the pieces already made, so reading the database and sending overlap. A few pieces
// wait at most; a client that reads slowly holds the writer back rather than filling memory.
class SweepPump {
public:
    SweepPump(Service& service, int country) {
        writer_ = std::thread([this, &service, country] {
            bool whole = false;
            try {
                whole = service.writeSweep(country, [this](std::string_view piece) { return push(piece); }, kPieceBytes);
            } catch (const std::exception&) {
                whole = false;
            }
            std::lock_guard lock(mutex_);
            finished_ = true;
            whole_ = whole;
            changed_.notify_all();
        });
    }
    ~SweepPump() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
            changed_.notify_all();
        }
        writer_.join();
    }

    // Sends every piece; true when the whole document went out.
    bool sendTo(httplib::DataSink& sink) {
        for (;;) {
            std::string piece;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !pieces_.empty() || finished_; });
                if (pieces_.empty()) return whole_;
                piece = std::move(pieces_.front());
                pieces_.pop_front();
                changed_.notify_all();
            }
            if (!sink.write(piece.data(), piece.size())) return false;
        }
    }

private:
    static constexpr std::size_t kPiecesAhead = 8;
    static constexpr std::size_t kPieceBytes = 64 * 1024;

    bool push(std::string_view piece) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return pieces_.size() < kPiecesAhead || cancelled_; });
        if (cancelled_) return false;
        pieces_.emplace_back(piece);
        changed_.notify_all();
        return true;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> pieces_;
    bool finished_ = false;
    bool whole_ = false;
    bool cancelled_ = false;
    std::thread writer_;
};

void setReply(httplib::Response& res, const HttpReply& reply) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
    res.set_content(reply.body, reply.contentType.c_str());
}

// Whose sweep loads a request's save is judged against: the login, or without credentials the
// client's address.
std::string operatorKey(const httplib::Request& req) {
    const std::string& user = currentRequest().user;
    return user.empty() ? "address " + req.remote_addr : "login " + user;
}

std::optional<std::string_view> sweepStampOf(const httplib::Request& req) {
    const auto at = req.headers.find(std::string(kSweepStampHeader));
    if (at == req.headers.end()) return std::nullopt;
    return std::string_view(at->second);
}

}  // namespace

struct EmbeddedServer::Impl {
    std::unique_ptr<Service> service;
    std::unique_ptr<Gate> gate;
    std::unique_ptr<EventLog> log;
    std::unique_ptr<httplib::Server> http;
    std::function<void()> closeUnbound;
    std::thread thread;
    std::string scheme = "http";
    std::string host;
    std::uint16_t port = 0;
    bool seeded = false;
    bool stopped = false;
    std::atomic<bool> loopEnded = false;

    void refuse(const httplib::Request& req, httplib::Response& res, int status, std::string_view why) {
        res.status = status;
        res.set_content(std::string(why) + "\n", std::string(kTextType));
        // A refused request's body is never read, so the connection cannot carry another.
        if (req.method != "GET" && req.method != "HEAD") {
            currentRequest().closeAfter = true;
            res.set_header("Connection", "close");
        }
        log->event("refused", {{"client", req.remote_addr},
                               {"status", std::to_string(status)},
                               {"method", req.method},
                               {"path", req.path},
                               {"reason", why}});
    }

    // Everything decided from the headers alone, before a body is read.
    httplib::Server::HandlerResponse screen(const httplib::Request& req, httplib::Response& res) {
        using Handled = httplib::Server::HandlerResponse;
        if (req.path == "/health") {
            if (req.method != "GET" && req.method != "HEAD") {
                res.set_header("Allow", "GET, HEAD");
                refuse(req, res, 405, "The health check answers GET only");
            } else if (service->healthy()) {
                // The version, for a client's About box.
                res.set_header("Server", "eft-server/" EFTMEMB_VERSION_STRING);
                res.set_content("ok\n", std::string(kTextType));
            } else {
                res.status = 503;
                res.set_content("the database does not answer\n", std::string(kTextType));
            }
            return Handled::Handled;
        }
        // A web page from elsewhere that guesses the port must not reach the pages: its
        // browser names the page's origin, which is not ours.
        const std::string origin = req.get_header_value("Origin");
        if (req.has_header("Origin") && lower(origin) != lower(scheme + "://" + req.get_header_value("Host"))) {
            refuse(req, res, 403, "Requests from another origin are refused");
            return Handled::Handled;
        }
        // Without passwords only the loopback is served, and a name that merely resolves
        // there (a rebinding attack) is not the loopback.
        if (!gate->enabled() && !loopbackHostHeader(req.get_header_value("Host"))) {
            refuse(req, res, 403, "Requests must name the loopback address");
            return Handled::Handled;
        }
        const Gate::Outcome login = gate->check(req.remote_addr, req.get_header_value("Authorization"));
        currentRequest().user = login.verdict == Gate::Verdict::Allowed ? login.user : std::string();
        if (login.verdict == Gate::Verdict::Throttled) {
            res.set_header("Retry-After", std::to_string(login.retryAfterSeconds));
            refuse(req, res, 429, "Too many failed logins from this address; try again later");
            return Handled::Handled;
        }
        if (login.verdict != Gate::Verdict::Allowed) {
            res.set_header("WWW-Authenticate", "Basic realm=\"EFTMemb\", charset=\"UTF-8\"");
            refuse(req, res, 401,
                   login.verdict == Gate::Verdict::Missing ? "Authentication is required" : "Wrong name or password");
            return Handled::Handled;
        }
        if (pageOf(req.path) != Page::None && !pageMethod(req.method)) {
            res.set_header("Allow", "GET, POST");
            refuse(req, res, 405, "The method " + req.method + " is not allowed here");
            return Handled::Handled;
        }
        return Handled::Unhandled;
    }

    void get(const httplib::Request& req, httplib::Response& res) {
        const std::string who = operatorKey(req);
        const HttpReply reply = route(*service, {req.method, req.path, queryOf(req.target), {}, currentRequest().user, who});
        if (!reply.sweepCountry) return setReply(res, reply);
        // The sweep is written while its rows are read: no whole document is ever held.
        res.status = 200;
        for (const auto& [name, value] : reply.headers) res.set_header(name, value);
        Service* s = service.get();
        const int country = *reply.sweepCountry;
        res.set_chunked_content_provider(reply.contentType, [s, country](std::size_t, httplib::DataSink& sink) {
            SweepPump pump(*s, country);
            // A failure part-way ends the reply without its last chunk, which the client sees.
            const bool whole = pump.sendTo(sink);
            if (whole) sink.done();
            return whole;
        });
    }

    void post(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& content) {
        const std::string who = operatorKey(req);
        const HttpRequest head{req.method, req.path, queryOf(req.target), {}, currentRequest().user, who, sweepStampOf(req)};
        const auto reader = postReader(*service, head);
        if (!reader) return setReply(res, route(*service, head));
        if (std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > kMaxBodyBytes) {
            currentRequest().closeAfter = true;
            return setReply(res, textReply(413, "The request body is over the 16 MiB limit"));
        }
        bool accepted = true;
        const bool complete = content([&](const char* data, std::size_t length) {
            accepted = reader->feed({data, length});
            return accepted;
        });
        if (!complete) currentRequest().closeAfter = true;
        // A body cut short is never acted on, even when what came reads as a whole form.
        setReply(res, complete || !accepted ? reader->finish() : textReply(400, "The request body could not be read"));
    }
};

std::unique_ptr<EmbeddedServer> EmbeddedServer::start(const EmbeddedOptions& options) {
    auto impl = std::make_unique<Impl>();
    impl->log = std::make_unique<EventLog>(options.logFormat, options.log);
    impl->gate = std::make_unique<Gate>(options.credentialsFile.empty() ? std::vector<Credential>{}
                                                                        : loadCredentials(options.credentialsFile));
    if (!impl->gate->enabled() && !isLoopbackHost(options.listenHost))
        throw std::runtime_error("without --credentials the server listens on a loopback address only, not " +
                                 options.listenHost);
    const bool tls = !options.tlsCert.empty() || !options.tlsKey.empty();
    if (tls && (options.tlsCert.empty() || options.tlsKey.empty()))
        throw std::runtime_error("TLS needs both a certificate and its key");

    auto guard = [&impl](auto& server) {
        server.limits = ConnectionLimits{};
        EventLog* log = impl->log.get();
        server.dropped = [log](std::string_view client, std::string_view why) {
            log->event("dropped", {{"client", client}, {"reason", why}});
        };
        impl->closeUnbound = [&server] { server.closeListening(); };
    };
    if (tls) {
        auto server = std::make_unique<GuardedServer<httplib::SSLServer>>(options.tlsCert.c_str(), options.tlsKey.c_str());
        if (!server->is_valid())
            throw std::runtime_error("cannot load the TLS certificate " + options.tlsCert.string() + " with its key " +
                                     options.tlsKey.string());
        guard(*server);
        impl->http = std::move(server);
        impl->scheme = "https";
    } else {
        auto server = std::make_unique<GuardedServer<httplib::Server>>();
        guard(*server);
        impl->http = std::move(server);
    }
    httplib::Server& http = *impl->http;
    // httplib's default also sets SO_REUSEPORT, which lets a second server bind the same port
    // and take half of the connections; a port in use must be an error instead.
    http.set_socket_options([](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const std::size_t workers = static_cast<std::size_t>(std::max(options.workers, 1));
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };

    // Bound before the database is opened, so a port in use leaves no new database behind.
    errno = 0;
    int port = 0;
    if (options.port == 0) {
        port = http.bind_to_any_port(options.listenHost);
    } else {
        port = http.bind_to_port(options.listenHost, options.port) ? options.port : -1;
    }
    if (port <= 0) {
        const std::string reason = errno != 0 ? std::strerror(errno) : "the address does not resolve";
        throw std::runtime_error("cannot listen on " + options.listenHost + ":" + std::to_string(options.port) + ": " +
                                 reason);
    }
    if (tls) static_cast<GuardedServer<httplib::SSLServer>&>(http).widenBacklog(kListenBacklog);
    else static_cast<GuardedServer<httplib::Server>&>(http).widenBacklog(kListenBacklog);
    impl->port = static_cast<std::uint16_t>(port);
    impl->host = dialHost(options.listenHost);

    try {
        EventLog* notes = impl->log.get();
        DeliveryOptions delivery{options.deliverCommand, options.deliverTimeout, options.deliverRetry};
        delivery.lastRetry = std::max(delivery.firstRetry, delivery.lastRetry);
        impl->service = std::make_unique<Service>(
            ServiceOptions{options.dbPath, options.exportDir, {}, options.originatorFile, std::move(delivery),
                           [notes](std::string_view line) { notes->event("note", {{"text", line}}); },
                           options.holidaysFile});
        if (options.seedDemo) impl->seeded = impl->service->seedDemo();
    } catch (...) {
        impl->closeUnbound();
        throw;
    }
    EventLog* log = impl->log.get();
    impl->service->onExport([log](std::string_view report) { log->event("export", {{"report", report}}); });

    Impl* self = impl.get();
    http.set_pre_routing_handler([self](const httplib::Request& req, httplib::Response& res) { return self->screen(req, res); });
    http.Get(R"(.*)", [self](const httplib::Request& req, httplib::Response& res) { self->get(req, res); });
    http.Post(R"(.*)", [self](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& c) {
        self->post(req, res, c);
    });
    auto other = [self](const httplib::Request& req, httplib::Response& res) {
        setReply(res, route(*self->service, {req.method, req.path, queryOf(req.target), {}}));
    };
    http.Put(R"(.*)", other);
    http.Delete(R"(.*)", other);
    http.Patch(R"(.*)", other);
    http.Options(R"(.*)", other);
    http.set_payload_max_length(kMaxBodyBytes);
    // Replies httplib makes by itself (a request it cannot read) still get their one line.
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty() || res.is_chunked_content_provider_) return;
        const std::string line = res.status == 413 ? "The request body is over the 16 MiB limit\n"
                                                   : "Request refused (HTTP " + std::to_string(res.status) + ")\n";
        res.set_content(line, std::string(kTextType));
    });
    http.set_logger([log](const httplib::Request& req, const httplib::Response& res) {
        const RequestScope& scope = currentRequest();
        log->access({req.remote_addr, scope.user, req.method, logPath(req.method, req.target), res.status,
                     scope.bytesSent,
                     std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                           scope.started)});
    });

    log->event("start", {{"address", impl->scheme + "://" + impl->host + ":" + std::to_string(impl->port) + "/eft/"},
                         {"listen", options.listenHost},
                         {"database", std::filesystem::absolute(options.dbPath).string()},
                         {"export_dir", impl->service->exportDir().string()},
                         {"originator", impl->service->originatorText()},
                         {"authentication", impl->gate->enabled() ? "on" : "off"},
                         {"tls", tls ? "on" : "off"},
                         {"workers", std::to_string(workers)}});

    impl->thread = std::thread([self] {
        self->http->listen_after_bind();
        self->loopEnded = true;
    });
    // Bound already, so connections queue; but stop() only takes effect once the loop runs.
    while (!impl->http->is_running() && !impl->loopEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::unique_ptr<EmbeddedServer>(new EmbeddedServer(std::move(impl)));
}

EmbeddedServer::EmbeddedServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

EmbeddedServer::~EmbeddedServer() { stop(); }

std::string EmbeddedServer::baseAddress() const {
    return impl_->scheme + "://" + impl_->host + ":" + std::to_string(impl_->port) + std::string(kBasePath);
}

std::uint16_t EmbeddedServer::port() const { return impl_->port; }

bool EmbeddedServer::demoSeeded() const { return impl_->seeded; }

std::filesystem::path EmbeddedServer::exportDir() const { return impl_->service->exportDir(); }

void EmbeddedServer::stop() {
    if (impl_->stopped) return;
    impl_->stopped = true;
    impl_->http->stop();
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->log->event("stop", {});
}

}  // namespace eft::server
