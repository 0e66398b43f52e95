#include "server/embedded_server.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <eftmemb/version.h>

#include "net/pages.h"
#include "server/http/access.h"
#include "server/http/access_log.h"
#include "server/http/connection.h"
#include "server/http/metrics_page.h"
#include "server/http/router.h"
#include "server/metrics/metrics.h"
#include "server/pages/service.h"
#include "server/store/database.h"

namespace eft::server {
namespace {

// A wildcard address cannot be dialled; the base address names the loopback instead.
std::string dialHost(const std::string& host) {
    if (host.empty() || host == "0.0.0.0") return "127.0.0.1";
    if (host == "::") return "[::1]";
    if (host.find(':') != std::string::npos) return "[" + host + "]";
    return host;
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

// The sweep goes out in pieces of this size, each written while the rows are read.
constexpr std::size_t kSweepPieceBytes = 256 * 1024;

Answer answerOf(HttpReply reply) {
    Answer a;
    a.reply = std::move(reply);
    return a;
}

// The pages behind the engine: who may ask, and the answers.
class PagesSite final : public Site {
public:
    PagesSite(Service& service, Gate& gate, EventLog& log, std::string scheme)
        : service_(service), gate_(gate), log_(log), scheme_(std::move(scheme)) {}

    std::optional<Answer> screen(const RequestHead& req, std::string& user) override {
        if (req.path == "/health") {
            if (req.method != "GET" && req.method != "HEAD")
                return refuse(req, 405, "The health check answers GET only", {{"Allow", "GET, HEAD"}});
            if (!service_.healthy()) return answerOf(unavailableReply("the database does not answer"));
            // A delivery in doubt waits for the administrator; the body still starts with "ok", which
            // is what a proxy's check looks for.
            std::string body = "ok";
            for (const std::string& doubt : service_.deliveriesInDoubt()) body += "\ndelivery in doubt: " + doubt;
            for (const std::string& rate : service_.returnRateWarnings()) body += "\nreturn rate: " + rate;
            Answer ok = answerOf(textReply(200, std::move(body)));
            ok.headers = {{"Server", "eft-server/" EFTMEMB_VERSION_STRING}};  // for a client's About box
            return ok;
        }
        // A web page from elsewhere that guesses the port must not reach the pages: its
        // browser names the page's origin, which is not ours.
        if (req.has("Origin") && lower(req.header("Origin")) != lower(scheme_ + "://" + std::string(req.header("Host"))))
            return refuse(req, 403, "Requests from another origin are refused");
        // What a browser sends for an <img> or a link on another site, Origin or not.
        if (lower(req.header("Sec-Fetch-Site")) == "cross-site")
            return refuse(req, 403, "Requests from another site are refused");
        // Without passwords only the loopback is served, and a name that merely resolves
        // there (a rebinding attack) is not the loopback.
        if (!gate_.enabled() && !loopbackHostHeader(req.header("Host")))
            return refuse(req, 403, "Requests must name the loopback address");
        const HttpRequest head{req.method, req.path, req.query, {}};
        // A browser sends a header of its page's own only after a preflight, which this
        // server never grants: a change cannot be made by a page on another site.
        if (changesState(head) && req.header(pages::kRequestHeaderName) != pages::kRequestHeaderValue)
            return refuse(req, 403, "A change must carry the header " + std::string(pages::kRequestHeaderName));
        const Gate::Outcome login = gate_.check(std::string(req.client), req.header("Authorization"));
        // A refused login still names who was tried, for the log; no page ever sees it.
        user = login.user;
        if (login.verdict == Gate::Verdict::Throttled) metrics::loginRefused(metrics::Refusal::Throttled);
        if (login.verdict == Gate::Verdict::Wrong) metrics::loginRefused(metrics::Refusal::Wrong);
        if (login.verdict == Gate::Verdict::Throttled)
            return refuse(req, 429, "Too many failed logins; try again later",
                          {{"Retry-After", std::to_string(login.retryAfterSeconds)}});
        if (login.verdict != Gate::Verdict::Allowed)
            return refuse(req, 401,
                          login.verdict == Gate::Verdict::Missing ? "Authentication is required" : "Wrong name or password",
                          {{"WWW-Authenticate", "Basic realm=\"EFTMemb\", charset=\"UTF-8\""}});
        if (req.path == kMetricsPath) {
            if (req.method != "GET" && req.method != "HEAD")
                return refuse(req, 405, "The metrics answer GET only", {{"Allow", "GET, HEAD"}});
            return answerOf(metricsReply(service_));
        }
        if (pageOf(req.path) != Page::None && !pageMethod(req.method))
            return refuse(req, 405, "The method " + std::string(req.method) + " is not allowed here",
                          {{"Allow", "GET, POST"}});
        return std::nullopt;
    }

    Answer respond(const RequestHead& req, const std::string& user) override {
        const std::string who = operatorKey(req, user);
        HttpReply reply = route(service_, {req.method, req.path, req.query, {}, user, who, std::nullopt,
                                           req.header("Accept-Language")});
        const std::optional<int> country = reply.sweepCountry;
        Answer a = answerOf(std::move(reply));
        // The sweep is written while its rows are read: no whole document is ever held.
        if (country)
            a.body = [&service = service_, country = *country](const PieceSink& sink, const LentSink& lend) {
                return service.writeSweep(country, sink, kSweepPieceBytes, lend);
            };
        return a;
    }

    std::unique_ptr<PostReader> reader(const RequestHead& req, const std::string& user) override {
        const std::string who = operatorKey(req, user);
        std::optional<std::string_view> stamp;
        if (req.has(kSweepStampHeader)) stamp = req.header(kSweepStampHeader);
        return postReader(service_, {req.method, req.path, req.query, {}, user, who, stamp, req.header("Accept-Language")});
    }

    Answer finish(PostReader& reader, const std::string&) override { return answerOf(reader.finish()); }

private:
    // Whose sweep loads a request's save is judged against: the login, or without credentials
    // the client's address.
    static std::string operatorKey(const RequestHead& req, const std::string& user) {
        return user.empty() ? "address " + std::string(req.client) : "login " + user;
    }

    Answer refuse(const RequestHead& req, int status, const std::string& why,
                  std::vector<std::pair<std::string, std::string>> headers = {}) {
        log_.event(LogLevel::Warning, "refused", {{"client", req.client},
                               {"status", std::to_string(status)},
                               {"method", req.method},
                               {"path", req.path},
                               {"reason", why}});
        Answer a = answerOf(textReply(status, why));
        a.headers = std::move(headers);
        return a;
    }

    Service& service_;
    Gate& gate_;
    EventLog& log_;
    std::string scheme_;
};

}  // namespace

struct EmbeddedServer::Impl {
    // Declared in the order they are needed; the engine goes first on the way down.
    std::unique_ptr<EventLog> log;
    std::unique_ptr<Gate> gate;
    std::unique_ptr<Service> service;
    std::unique_ptr<PagesSite> site;
    std::unique_ptr<HttpEngine> engine;
    std::string scheme = "http";
    std::string host;
    std::uint16_t port = 0;
    bool seeded = false;
    bool stopped = false;
};

std::size_t defaultSweepCacheBytes() { return SweepCache::defaultCap(); }

std::unique_ptr<EmbeddedServer> EmbeddedServer::start(const EmbeddedOptions& options) {
    auto impl = std::make_unique<Impl>();
    impl->log = std::make_unique<EventLog>(options.logFormat, options.log);
    impl->gate = std::make_unique<Gate>(options.credentialsFile.empty() ? std::vector<Credential>{}
                                                                        : loadCredentials(options.credentialsFile));
    if (!impl->gate->enabled() && !isLoopbackHost(options.listenHost))
        throw std::runtime_error("without --credentials the server listens on a loopback address only, not " +
                                 options.listenHost);
    if (!options.tlsKey.empty()) requirePrivateFile(options.tlsKey, "TLS key");
    // Bound before the database is opened, so a port in use leaves no new database behind.
    EngineOptions engine;
    engine.host = options.listenHost;
    engine.port = options.port;
    engine.tlsCert = options.tlsCert;
    engine.tlsKey = options.tlsKey;
    engine.workers = std::max(options.workers, 1);
    engine.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
    impl->engine = std::make_unique<HttpEngine>(engine, *impl->log);
    if (impl->engine->tls()) impl->scheme = "https";
    impl->port = impl->engine->port();
    impl->host = dialHost(options.listenHost);

    EventLog* log = impl->log.get();
    DeliveryOptions delivery{options.deliverCommand, options.deliverTimeout, options.deliverRetry};
    delivery.lastRetry = std::max(delivery.firstRetry, delivery.lastRetry);
    impl->service = std::make_unique<Service>(
        ServiceOptions{options.dbPath, options.exportDir, {}, options.originatorFile, std::move(delivery),
                       [log](LogLevel level, std::string_view line) { log->event(level, "note", {{"text", line}}); },
                       options.holidaysFile, options.settleEvery, options.returnMarginDays, options.sweepCacheBytes});
    if (options.seedDemo) impl->seeded = impl->service->seedDemo();
    impl->service->onExport([log](bool failed, std::string_view report) {
        log->event(failed ? LogLevel::Error : LogLevel::Info, "export", {{"report", report}});
    });
    impl->site = std::make_unique<PagesSite>(*impl->service, *impl->gate, *impl->log, impl->scheme);

    log->event(LogLevel::Info, "start", {{"address", impl->scheme + "://" + impl->host + ":" + std::to_string(impl->port) + "/eft/"},
                         {"listen", options.listenHost},
                         {"database", isPostgresUri(options.dbPath.string())
                                          ? displayLocation(options.dbPath.string())
                                          : std::filesystem::absolute(options.dbPath).string()},
                         {"export_dir", impl->service->exportDir().string()},
                         {"originator", impl->service->originatorText()},
                         {"authentication", impl->gate->enabled() ? "on" : "off"},
                         {"tls", impl->engine->tls() ? "on" : "off"},
                         {"workers", std::to_string(engine.workers)}});
    for (const std::string& rate : impl->service->returnRateWarnings())
        log->event(LogLevel::Warning, "note", {{"text", "return rate: " + rate}});
    impl->engine->run(*impl->site);
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
    impl_->engine->stop();
    impl_->log->event(LogLevel::Info, "stop", {});
}

}  // namespace eft::server
