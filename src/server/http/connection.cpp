// Boost 1.74's awaitable.hpp uses std::exchange without including <utility>.
#include <utility>

#include "server/http/connection.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <span>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <unordered_map>

#include "server/http/access_log.h"
#include "server/http/metrics_page.h"
#include "server/metrics/metrics.h"

namespace eft::server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using asio::awaitable;
using asio::use_awaitable;
using ErrorCode = boost::system::error_code;
using namespace std::chrono_literals;

constexpr int kListenBacklog = 1024;
// A body gets this long before its rate is judged: a connection's first packets are slow.
constexpr std::chrono::seconds kBodyGrace{5};
constexpr std::size_t kBodyPiece = 16 * 1024;
// How long the unread rest of a refused body is taken in before the connection closes, so
// the client reads the refusal instead of meeting a reset.
constexpr std::chrono::milliseconds kLinger{2000};
constexpr std::chrono::milliseconds kStopGrace{1500};
// How long a TLS close_notify may take to go out; the peer's own is not waited for.
constexpr std::chrono::milliseconds kCloseNotify{1000};
// Descriptors kept back from connections for the database, the export files and the log.
constexpr rlim_t kDescriptorReserve = 64;
constexpr std::string_view kTextType = "text/plain; charset=UTF-8";
// What a plain connection past its address's cap is told before it is closed, in one send.
constexpr std::string_view kTurnedAwayBody = "This address holds too many connections; try again later\n";
// TLS 1.2 with forward secrecy and authenticated encryption only; every TLS 1.3 suite is so.
constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// Beast 1.74 speaks boost::string_view.
std::string_view view(beast::string_view s) { return {s.data(), s.size()}; }

bool sameLetters(std::string_view a, std::string_view b) { return beast::iequals(beast::string_view(a.data(), a.size()), beast::string_view(b.data(), b.size())); }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A path's %XX escapes as bytes; nothing when one is malformed.
std::optional<std::string> decodePath(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            out += raw[i];
            continue;
        }
        const int hi = i + 2 < raw.size() ? hexValue(raw[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(raw[i + 2]) : -1;
        if (lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// A request target in origin form ("/path?query"), from the absolute form a client speaking
// to a proxy sends ("http://host:port/path?query", RFC 9112 section 3.2.2) or as it came; and
// that form's authority, which stands for the Host header. A one-line refusal otherwise.
struct OriginForm {
    std::string target;
    std::optional<std::string_view> authority;
    std::string_view refusal;
};

OriginForm originForm(std::string_view target) {
    if (target.starts_with('/')) return {std::string(target), std::nullopt, {}};
    const std::size_t colon = target.find("://");
    if (colon == std::string_view::npos) return {{}, std::nullopt, "The request's address is malformed"};
    const std::string_view scheme = target.substr(0, colon);
    if (!sameLetters(scheme, "http") && !sameLetters(scheme, "https"))
        return {{}, std::nullopt, "Only http and https addresses are served"};
    const std::string_view rest = target.substr(colon + 3);
    const std::size_t end = std::min(rest.find_first_of("/?"), rest.size());
    const std::string_view authority = rest.substr(0, end);
    // A login in the address has no place in HTTP (RFC 9110 section 4.2.4).
    if (authority.empty() || authority.find('@') != std::string_view::npos)
        return {{}, std::nullopt, "The request's address is malformed"};
    std::string path(rest.substr(end));
    if (!path.starts_with('/')) path.insert(0, 1, '/');
    return {std::move(path), authority, {}};
}

std::string clientAddress(const tcp::endpoint& e) {
    asio::ip::address a = e.address();
    // A v4 client of a dual-stack socket reads as it would on a v4 one.
    if (a.is_v6() && a.to_v6().is_v4_mapped()) a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
    return a.to_string();
}

std::unique_ptr<asio::ssl::context> tlsContext(const std::filesystem::path& cert, const std::filesystem::path& key) {
    auto ctx = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    ctx->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1 |
                     asio::ssl::context::single_dh_use);
    SSL_CTX* native = ctx->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    ErrorCode ec;
    if (SSL_CTX_set_cipher_list(native, kTls12Ciphers) != 1) ec = asio::error::invalid_argument;
    if (!ec) ctx->use_certificate_chain_file(cert.string(), ec);
    if (!ec) ctx->use_private_key_file(key.string(), asio::ssl::context::pem, ec);
    if (ec || SSL_CTX_check_private_key(native) != 1)
        throw std::runtime_error("cannot load the TLS certificate " + cert.string() + " with its key " + key.string());
    return ctx;
}

template <class Stream>
constexpr bool kIsTls = !std::is_same_v<Stream, beast::tcp_stream>;

// A connection's deadline. Beast's own timeouts close the socket; this one cancels the wait
// under way and leaves the socket open, so that a 408 or a TLS close_notify can still go out.
// Lives on the connection's strand, with its coroutine.
class Deadline {
public:
    explicit Deadline(beast::tcp_stream& socket)
        : timer_(socket.get_executor()), state_(std::make_shared<State>(State{&socket})) {}
    ~Deadline() { state_->socket = nullptr; }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    void at(Clock::time_point when) {
        state_->passed = false;
        timer_.expires_at(when);
        timer_.async_wait([state = state_, generation = ++state_->generation](const ErrorCode& ec) {
            // A wait replaced or the connection gone since: a handler already queued does nothing.
            if (ec || !state->socket || state->generation != generation) return;
            state->passed = true;
            ErrorCode ignored;
            state->socket->socket().cancel(ignored);
        });
    }
    void after(std::chrono::milliseconds wait) { at(Clock::now() + wait); }
    void clear() {
        ++state_->generation;
        timer_.cancel();
    }
    // Whether the last deadline set has passed.
    bool passed() const { return state_->passed; }

private:
    struct State {
        beast::tcp_stream* socket;
        std::uint64_t generation = 0;
        bool passed = false;
    };
    asio::steady_timer timer_;
    std::shared_ptr<State> state_;
};

// What a connection carries from one step to the next.
struct Link {
    Link(beast::tcp_stream& socket, std::string address) : deadline(socket), client(std::move(address)) {}
    Deadline deadline;
    std::string client;
    bool handshaken = false;  // TLS: a close_notify is owed at the end
    bool lost = false;        // the peer is gone or the session broken: nothing more goes out
    metrics::InState state{metrics::ConnectionState::Waiting};

    // After a failed read: the peer is still there to be told the end when it only fell
    // silent, when the server stops, or when it sent its own close_notify (TLS's end of
    // stream); a reset, a TCP end without close_notify or a broken TLS record leave no one.
    void readFailed(const ErrorCode& ec) {
        if (!(deadline.passed() || ec == asio::error::operation_aborted || ec == asio::error::eof ||
              ec == http::error::end_of_stream || ec == http::error::partial_message))
            lost = true;
    }
};

// Connections held per client address, so that one address cannot take every slot: past its
// cap a new one is turned away at once, and the last eighth of all the slots go only to
// addresses that hold none, so a new address still gets in near the open-file limit. A burst
// of turned-away connections makes two log lines, when it starts and with its count when it
// ends (the address gets one in again, or holds none).
class AddressSlots {
public:
    explicit AddressSlots(EventLog& log) : log_(log) {}

    void configure(std::size_t total, std::size_t perAddress) {
        total_ = total;
        perAddress_ = std::max<std::size_t>(perAddress, 1);
        reserve_ = total / 8;
    }

    // Counts a new connection from the address when it may be held, with `open` held in all.
    bool take(const std::string& address, std::size_t open) {
        std::lock_guard lock(mutex_);
        Held& h = held_[address];
        const bool overCap = h.connections >= perAddress_;
        if (overCap || (h.connections > 0 && open + reserve_ >= total_)) {
            if (h.turnedAway++ == 0)
                log_.event(LogLevel::Warning, "refused", {{"client", address},
                                       {"status", "503"},
                                       {"reason", overCap ? "over the " + std::to_string(perAddress_) +
                                                                " connections one address may hold"
                                                          : std::string("the last connections are kept for addresses "
                                                                        "that hold none")}});
            return false;
        }
        endBurst(address, h);
        ++h.connections;
        return true;
    }

    void give(const std::string& address) {
        std::lock_guard lock(mutex_);
        const auto h = held_.find(address);
        if (h == held_.end() || --h->second.connections > 0) return;
        endBurst(address, h->second);
        held_.erase(h);
    }

private:
    struct Held {
        std::size_t connections = 0;
        std::size_t turnedAway = 0;  // in the burst under way
    };

    void endBurst(const std::string& address, Held& h) {
        if (h.turnedAway > 1)
            log_.event(LogLevel::Warning, "refused", {{"client", address},
                                   {"status", "503"},
                                   {"refused", std::to_string(h.turnedAway)},
                                   {"reason", "connections turned away in one burst"}});
        h.turnedAway = 0;
    }

    EventLog& log_;
    std::size_t total_ = 0, perAddress_ = 1, reserve_ = 0;
    std::mutex mutex_;
    std::unordered_map<std::string, Held> held_;
};

// The outcome of reading a post's body.
enum class BodyRead { Complete, Refused, Stalled, Gone };

// A streamed body over TLS: the writer runs on a thread of its own and the engine sends the
// pieces already made, as the encryption must happen on the connection's strand. A few pieces
// wait at most; a client that reads slowly holds the writer back rather than filling memory.
// Each side wakes the other only when there is a batch of work for it: a wake-up (a switch
// of threads, and the engine's trip to a worker) costs about as much CPU as making a piece.
class BodyPump {
public:
    explicit BodyPump(const BodyWriter& body) {
        writer_ = std::thread([this, &body] {
            bool whole = false;
            try {
                whole = body([this](std::string& piece) { return push(piece); }, {});
            } catch (const std::exception&) {
                whole = false;
            }
            {
                std::lock_guard lock(mutex_);
                finished_ = true;
                whole_ = whole;
            }
            made_.notify_all();
        });
    }
    ~BodyPump() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        room_.notify_all();
        writer_.join();
    }
    BodyPump(const BodyPump&) = delete;
    BodyPump& operator=(const BodyPump&) = delete;

    // The next piece, waiting for a batch of them; nothing once the body is over. Blocks.
    std::optional<std::string> next() {
        std::unique_lock lock(mutex_);
        made_.wait(lock, [this] { return pieces_.size() >= kPiecesAwaited || finished_; });
        return take(lock);
    }

    // The next piece if one is made already; nothing otherwise.
    std::optional<std::string> ready() {
        std::unique_lock lock(mutex_);
        return take(lock);
    }

    bool whole() const {
        std::lock_guard lock(mutex_);
        return finished_ && whole_ && pieces_.empty();
    }

    // A sent piece, whose memory makes a later one.
    void recycle(std::string piece) {
        std::lock_guard lock(mutex_);
        if (spare_.size() < kPiecesAhead) spare_.push_back(std::move(piece));
    }

private:
    static constexpr std::size_t kPiecesAhead = 8;
    static constexpr std::size_t kPiecesAwaited = kPiecesAhead / 2;

    std::optional<std::string> take(std::unique_lock<std::mutex>& lock) {
        if (pieces_.empty()) return std::nullopt;
        std::string piece = std::move(pieces_.front());
        pieces_.pop_front();
        const bool roomMade = pieces_.size() == kPiecesAwaited;
        lock.unlock();
        if (roomMade) room_.notify_one();
        return piece;
    }

    // Takes the writer's piece whole and gives it a sent piece's memory to write the next in,
    // so the body's megabytes are neither copied nor faulted into fresh pages.
    bool push(std::string& piece) {
        std::unique_lock lock(mutex_);
        if (pieces_.size() >= kPiecesAhead)
            room_.wait(lock, [this] { return pieces_.size() <= kPiecesAwaited || cancelled_; });
        if (cancelled_) return false;
        pieces_.push_back(std::move(piece));
        piece.clear();
        if (!spare_.empty()) {
            piece.swap(spare_.back());
            spare_.pop_back();
        }
        const bool batchMade = pieces_.size() == kPiecesAwaited;
        lock.unlock();
        if (batchMade) made_.notify_one();
        return true;
    }

    mutable std::mutex mutex_;
    std::condition_variable made_;  // the engine waits for a batch of pieces, or the end
    std::condition_variable room_;  // the writer waits for the engine to send half of what waits
    std::deque<std::string> pieces_;
    std::vector<std::string> spare_;  // sent pieces, kept for their memory
    bool finished_ = false;
    bool whole_ = false;
    bool cancelled_ = false;
    std::thread writer_;
};

// A streamed body over plain TCP, written and sent on the calling worker: each piece goes out
// as a chunk as soon as it is made, from the cache it was written in, and lent bytes from
// where they stand, with no hand-over between threads. A wait for the client to take more
// ends after `stall`; `stopping` ends the body at the next piece.
class DirectChunks {
public:
    DirectChunks(int fd, std::chrono::milliseconds stall, const std::atomic<bool>& stopping)
        : fd_(fd), stall_(stall), stopping_(stopping) {}

    // Whether the whole body went out, its last chunk included.
    bool send(const BodyWriter& body) {
        bool whole = false;
        try {
            const auto lend = [this](std::span<const std::string_view> parts) { return chunk(parts); };
            const auto take = [&lend](std::string& piece) {
                const std::string_view text(piece);
                return lend({&text, 1});
            };
            whole = body(take, lend);
        } catch (const std::exception&) {
            whole = false;
        }
        const std::string_view last = "0\r\n\r\n";
        return whole && !gone_ && sendAll({&last, 1});
    }

    std::size_t bytes() const { return bytes_; }

private:
    // The parts as one chunk, in one system call while the socket takes them.
    bool chunk(std::span<const std::string_view> parts) {
        if (stopping_.load() || gone_) return false;
        std::size_t size = 0;
        for (const std::string_view part : parts) size += part.size();
        if (size == 0) return true;
        char head[24];
        const int n = std::snprintf(head, sizeof head, "%zx\r\n", size);
        chunk_.clear();
        chunk_.push_back({head, static_cast<std::size_t>(n)});
        chunk_.insert(chunk_.end(), parts.begin(), parts.end());
        chunk_.push_back("\r\n");
        return sendAll(chunk_);
    }

    bool sendAll(std::span<const std::string_view> parts) {
        vec_.clear();
        for (const std::string_view part : parts)
            if (!part.empty()) vec_.push_back({const_cast<char*>(part.data()), part.size()});
        iovec* at = vec_.data();
        std::size_t count = vec_.size();
        while (count > 0) {
            msghdr message{};
            message.msg_iov = at;
            message.msg_iovlen = count;
            const ssize_t n = ::sendmsg(fd_, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && writable())) continue;
                gone_ = true;
                return false;
            }
            auto left = static_cast<std::size_t>(n);
            bytes_ += left;
            for (; count > 0 && left >= at->iov_len; ++at, --count) left -= at->iov_len;
            if (count > 0) {
                at->iov_base = static_cast<char*>(at->iov_base) + left;
                at->iov_len -= left;
            }
        }
        return true;
    }

    // Waits, at most `stall`, for the client to take more; a stop ends the wait within a slice.
    bool writable() const {
        constexpr std::chrono::milliseconds kSlice{100};
        const auto until = Clock::now() + stall_;
        for (;;) {
            if (stopping_.load()) return false;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (left <= 0ms) return false;
            pollfd ready{fd_, POLLOUT, 0};
            const int n = ::poll(&ready, 1, static_cast<int>(std::min(left, kSlice).count()));
            if (n > 0) return (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
            if (n < 0 && errno != EINTR) return false;
        }
    }

    const int fd_;
    const std::chrono::milliseconds stall_;
    const std::atomic<bool>& stopping_;
    std::size_t bytes_ = 0;
    bool gone_ = false;
    std::vector<std::string_view> chunk_;  // a chunk's parts, its head and end around the body's
    std::vector<iovec> vec_;
};

}  // namespace

std::string_view RequestHead::header(std::string_view name) const {
    for (const auto& [n, v] : fields)
        if (sameLetters(n, name)) return v;
    return {};
}

bool RequestHead::has(std::string_view name) const {
    return std::any_of(fields.begin(), fields.end(), [name](const auto& f) { return sameLetters(f.first, name); });
}

struct HttpEngine::Impl {
    Impl(const EngineOptions& o, EventLog& l)
        : options(o), limits(o.limits), log(l), acceptor(io), workers(static_cast<std::size_t>(std::max(o.workers, 1))) {}

    EngineOptions options;
    ConnectionLimits limits;
    EventLog& log;
    // On stop, every connection's wait is cancelled on its own strand, and no new wait starts:
    // each request under way ends with its reply and its log line, each idle connection closes.
    // Declared before the io_context, whose destructor ends the coroutines that hold them.
    std::atomic<bool> stopping = false;
    std::mutex liveMutex;
    std::map<std::uint64_t, beast::tcp_stream*> live;
    std::uint64_t nextId = 0;

    // A connection on the list for as long as its coroutine lives, however it ends.
    struct Listed {
        Listed(Impl& impl, beast::tcp_stream& socket) : impl_(impl) {
            std::lock_guard lock(impl_.liveMutex);
            id_ = ++impl_.nextId;
            impl_.live.emplace(id_, &socket);
        }
        ~Listed() {
            std::lock_guard lock(impl_.liveMutex);
            impl_.live.erase(id_);
        }
        Listed(const Listed&) = delete;
        Listed& operator=(const Listed&) = delete;

    private:
        Impl& impl_;
        std::uint64_t id_ = 0;
    };
    // Runs on each connection's strand, where its coroutine cannot be running, so a socket
    // still listed is still alive.
    void cancelAll() {
        std::lock_guard lock(liveMutex);
        for (const auto& [id, socket] : live)
            asio::post(socket->get_executor(), [this, id = id] {
                std::lock_guard inner(liveMutex);
                if (const auto found = live.find(id); found != live.end()) found->second->cancel();
            });
    }

    // Destroyed after everything below: its destructor ends the connections' coroutines.
    asio::io_context io;
    tcp::acceptor acceptor;
    std::unique_ptr<asio::ssl::context> tls;
    asio::thread_pool workers;
    std::vector<std::thread> threads;
    std::atomic<std::size_t> open{0};
    std::size_t maxConnections = 0;
    AddressSlots slots{log};
    Site* site = nullptr;
    bool stopped = false;

    void dropped(std::string_view client, std::string_view why) {
        log.event(LogLevel::Warning, "dropped", {{"client", client}, {"reason", why}});
    }

    // Runs f on a worker and resumes the connection with its result.
    template <class F>
    awaitable<std::invoke_result_t<F&>> onWorker(F f) {
        using R = std::invoke_result_t<F&>;
        metrics::queued();
        co_return co_await asio::co_spawn(
            workers.get_executor(),
            [f = std::move(f)]() mutable -> awaitable<R> {
                metrics::dequeued();
                co_return f();
            },
            use_awaitable);
    }

    void bind() {
        const std::string host = options.host.empty() ? "0.0.0.0" : options.host;
        const std::string where = host + ":" + std::to_string(options.port);
        ErrorCode ec;
        tcp::resolver resolver(io);
        const auto found = resolver.resolve(host, std::to_string(options.port),
                                            tcp::resolver::passive | tcp::resolver::numeric_service, ec);
        if (ec || found.empty()) throw std::runtime_error("cannot listen on " + where + ": the address does not resolve");
        const tcp::endpoint endpoint = found.begin()->endpoint();
        acceptor.open(endpoint.protocol(), ec);
        // SO_REUSEADDR only: SO_REUSEPORT would let a second server share the port.
        if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec && endpoint.address().is_v6() && endpoint.address().is_unspecified())
            acceptor.set_option(asio::ip::v6_only(false), ec);
        if (!ec) acceptor.bind(endpoint, ec);
        if (!ec) acceptor.listen(kListenBacklog, ec);
        if (ec) throw std::runtime_error("cannot listen on " + where + ": " + ec.message());
    }

    awaitable<void> acceptLoop() {
        asio::steady_timer pause(io);
        for (;;) {
            ErrorCode ec;
            // Past the cap, or out of descriptors, new connections wait in the listen queue
            // until some end, instead of the loop spinning on accept.
            if (open.load() >= maxConnections) {
                pause.expires_after(10ms);
                co_await pause.async_wait(asio::redirect_error(use_awaitable, ec));
                if (!acceptor.is_open()) co_return;
                continue;
            }
            tcp::socket socket = co_await acceptor.async_accept(asio::any_io_executor(asio::make_strand(io)),
                                                                asio::redirect_error(use_awaitable, ec));
            if (!acceptor.is_open() || ec == asio::error::operation_aborted) co_return;
            if (ec) {
                pause.expires_after(50ms);
                co_await pause.async_wait(asio::redirect_error(use_awaitable, ec));
                continue;
            }
            socket.set_option(tcp::no_delay(true), ec);
            const tcp::endpoint peer = socket.remote_endpoint(ec);
            if (ec) continue;
            std::string client = clientAddress(peer);
            if (!slots.take(client, open.load())) {
                turnAway(socket);
                continue;
            }
            ++open;
            const auto executor = socket.get_executor();
            auto ended = [this, client](std::exception_ptr) {
                slots.give(client);
                --open;
            };
            if (tls) {
                asio::co_spawn(executor,
                               serve(beast::ssl_stream<beast::tcp_stream>(beast::tcp_stream(std::move(socket)), *tls),
                                     std::move(client)),
                               ended);
            } else {
                asio::co_spawn(executor, serve(beast::tcp_stream(std::move(socket)), std::move(client)), ended);
            }
        }
    }

    // A connection past its address's cap, closed at once: a plain one is told why in what
    // one send takes, a TLS one would need a handshake first.
    void turnAway(tcp::socket& socket) {
        if (!tls) {
            static const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + std::string(kTextType) +
                                            "\r\nContent-Length: " + std::to_string(kTurnedAwayBody.size()) +
                                            "\r\nRetry-After: 5\r\nConnection: close\r\n\r\n" +
                                            std::string(kTurnedAwayBody);
            [[maybe_unused]] const ssize_t sent =
                ::send(socket.native_handle(), busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        }
        ErrorCode ignored;
        socket.close(ignored);
    }

    template <class Stream>
    awaitable<void> serve(Stream stream, std::string client) {
        auto& socket = beast::get_lowest_layer(stream);
        const auto opened = Clock::now();
        const Listed listed(*this, socket);
        Link link(socket, std::move(client));
        ErrorCode ec;
        if constexpr (kIsTls<Stream>) {
            link.state.move(metrics::ConnectionState::Handshake);
            // The handshake counts against the first request's header time.
            link.deadline.at(opened + limits.headers);
            co_await stream.async_handshake(asio::ssl::stream_base::server, asio::redirect_error(use_awaitable, ec));
            if (ec) {
                if (!stopping)
                    dropped(link.client, link.deadline.passed() ? "the TLS handshake took too long" : "the TLS handshake failed");
                co_return;
            }
            link.handshaken = true;
        }
        beast::flat_buffer buffer(limits.headerBytes + 4096);
        for (std::size_t served = 0; served < limits.requestsPerConnection; ++served) {
            if (stopping) break;
            link.state.move(metrics::ConnectionState::Waiting);
            // Waiting for a request holds no parser: an idle connection costs its socket only.
            if (buffer.size() == 0) {
                link.deadline.at(served == 0 ? opened + limits.headers : Clock::now() + limits.idle);
                const std::size_t n =
                    co_await stream.async_read_some(buffer.prepare(1024), asio::redirect_error(use_awaitable, ec));
                if (ec) {
                    if (link.deadline.passed() && served == 0) dropped(link.client, "no request within the header time");
                    link.readFailed(ec);
                    break;
                }
                buffer.commit(n);
            }
            const auto due = served == 0 ? opened + limits.headers : Clock::now() + limits.headers;
            if (!co_await exchange(stream, buffer, link, due, limits.requestsPerConnection - served - 1)) break;
        }
        co_await closeNotify(stream, link);
        link.deadline.clear();
        socket.socket().shutdown(tcp::socket::shutdown_both, ec);
        socket.close();
    }

    // Writes a reply made by the engine itself, logs the refusal and ends the connection,
    // whose rest is left unread.
    template <class Stream>
    awaitable<void> refuse(Stream& stream, Link& link, int status, std::string_view why) {
        log.event(LogLevel::Warning, "refused", {{"client", link.client}, {"status", std::to_string(status)}, {"reason", why}});
        Answer a;
        a.reply = textReply(status, std::string(why));
        co_await write(stream, link, a, false, true, 0);
        co_await linger(stream, link);
    }

    // One request and its reply; false when the connection must close.
    template <class Stream>
    awaitable<bool> exchange(Stream& stream, beast::flat_buffer& buffer, Link& link, Clock::time_point due,
                             std::size_t left) {
        const std::string& client = link.client;
        ErrorCode ec;
        http::request_parser<http::empty_body> parser;
        parser.header_limit(static_cast<std::uint32_t>(limits.headerBytes));
        // The body is read and judged below, not by the parser, whose default cap is 1 MiB.
        parser.body_limit(std::numeric_limits<std::uint64_t>::max());
        link.deadline.at(due);
        co_await http::async_read_header(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
        const auto started = Clock::now();
        if (ec && link.deadline.passed()) {
            dropped(client, "the client stalled");
            co_return false;
        }
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            co_await refuse(stream, link, 431, "The request's headers are over the limit");
            co_return false;
        }
        const bool unreadable = ec && ec.category() == make_error_code(http::error::bad_method).category() &&
                                ec != http::error::end_of_stream && ec != http::error::partial_message;
        if (ec && !unreadable) {  // the client went away
            link.readFailed(ec);
            co_return false;
        }
        if (unreadable) {
            // Nothing after an unreadable request can be trusted to start where it seems to.
            co_await refuse(stream, link, 400, "The request could not be read");
            co_return false;
        }

        link.state.move(metrics::ConnectionState::Serving);
        auto& req = parser.get();
        const std::string method(view(req.method_string()));
        const std::string target(view(req.target()));
        RequestHead head;
        head.method = method;
        head.target = target;
        head.client = client;
        for (const auto& f : req) head.fields.emplace_back(view(f.name_string()), view(f.value()));
        if (head.fields.size() > limits.headerFields) {
            co_await refuse(stream, link, 431, "The request has over " + std::to_string(limits.headerFields) + " headers");
            co_return false;
        }
        const OriginForm form = originForm(target);
        if (!form.refusal.empty()) {
            co_await refuse(stream, link, 400, form.refusal);
            co_return false;
        }
        // The authority of an absolute address is the Host, whatever the header says (RFC 9112
        // section 3.2.2), and meets every rule a Host header meets.
        if (form.authority) {
            std::erase_if(head.fields, [](const auto& f) { return sameLetters(f.first, "Host"); });
            head.fields.emplace_back("Host", *form.authority);
        }
        const std::size_t q = form.target.find('?');
        const auto path = decodePath(std::string_view(form.target).substr(0, q));
        if (!path) {
            co_await refuse(stream, link, 400, "The request's address is malformed");
            co_return false;
        }
        head.path = *path;
        if (q != std::string::npos) head.query = std::string_view(form.target).substr(q + 1);

        // One plain Content-Length or none: every other framing is how one request is
        // smuggled inside another, and a front proxy might read it differently.
        const std::size_t lengths = req.count(http::field::content_length);
        if (req.count(http::field::transfer_encoding) > 0 || lengths > 1 ||
            (lengths == 1 && view(req[http::field::content_length]).find(',') != std::string_view::npos)) {
            co_await refuse(stream, link, 400, "The request's length is ambiguous");
            co_return false;
        }
        const std::uint64_t length = parser.content_length().value_or(0);
        const bool post = method == "POST";
        if (!post && length > 0) {
            co_await refuse(stream, link, 400, "Only a post carries a body");
            co_return false;
        }
        if (post && lengths == 0) {
            co_await refuse(stream, link, 411, "A post needs a Content-Length");
            co_return false;
        }
        if (length > kMaxBodyBytes) {
            co_await refuse(stream, link, 413, "The request body is over the 16 MiB limit");
            co_return false;
        }
        const std::string_view expect = view(req[http::field::expect]);
        if (!expect.empty() && !sameLetters(expect, "100-continue")) {
            co_await refuse(stream, link, 417, "Only Expect: 100-continue is understood");
            co_return false;
        }

        std::string user;
        bool bodyUnread = length > 0;
        std::optional<Answer> answer = co_await onWorker([&] { return site->screen(head, user); });
        if (!answer && post) {
            std::unique_ptr<PostReader> reader = co_await onWorker([&] { return site->reader(head, user); });
            if (reader) {
                // Only a request that may go on is told to send its body.
                if (!expect.empty()) {
                    static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
                    link.deadline.after(limits.write);
                    co_await asio::async_write(stream, asio::buffer(kContinue), asio::redirect_error(use_awaitable, ec));
                    if (ec) {
                        link.lost = true;
                        co_return false;
                    }
                }
                const BodyRead read = co_await readBody(stream, buffer, link, length, *reader);
                if (read == BodyRead::Gone) co_return false;
                bodyUnread = read != BodyRead::Complete;
                if (read == BodyRead::Stalled) {
                    dropped(client, "the request body came too slowly");
                    answer.emplace().reply = textReply(408, "The request body came too slowly");
                } else {
                    answer = co_await onWorker([&] { return site->finish(*reader, user); });
                }
            }
        }
        if (!answer) answer = co_await onWorker([&] { return site->respond(head, user); });

        const int status = answer->reply.status;
        metrics::request(pageLabel(head.path), status);
        const bool close = left == 0 || !req.keep_alive() || answer->close || bodyUnread || status == 400;
        const Sent sent = co_await write(stream, link, *answer, method == "HEAD", close, left);
        const auto took = Clock::now() - started;
        log.access({client, user, method, logPath(method, form.target), status, sent.bytes,
                    std::chrono::duration_cast<std::chrono::microseconds>(took)});
        metrics::requestTime(pageLabel(head.path), took);
        // A reply cut short cannot be followed by another on the same connection.
        if (!sent.whole) co_return false;
        // Closing where the client meant to go on: what it sends meanwhile is taken in for a
        // moment, so the reply is not lost to a reset.
        if (close && (bodyUnread || req.keep_alive())) co_await linger(stream, link);
        co_return !close;
    }

    // Feeds the body to the reader as it arrives, holding it to the minimum rate.
    template <class Stream>
    awaitable<BodyRead> readBody(Stream& stream, beast::flat_buffer& buffer, Link& link, std::uint64_t length,
                                 PostReader& reader) {
        const auto start = Clock::now();
        std::uint64_t got = std::min<std::uint64_t>(buffer.size(), length);
        if (got > 0) {
            const bool accepted = reader.feed({static_cast<const char*>(buffer.data().data()), static_cast<std::size_t>(got)});
            buffer.consume(static_cast<std::size_t>(got));
            if (!accepted) co_return BodyRead::Refused;
        }
        std::vector<char> piece(kBodyPiece);
        while (got < length) {
            const auto owed = std::chrono::microseconds(got * 1000000 / limits.minBodyBytesPerSecond);
            link.deadline.at(std::min({start + limits.body, Clock::now() + limits.stall, start + kBodyGrace + owed}));
            ErrorCode ec;
            const std::size_t n = co_await stream.async_read_some(
                asio::buffer(piece.data(), static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - got))),
                asio::redirect_error(use_awaitable, ec));
            if (ec && link.deadline.passed()) co_return BodyRead::Stalled;
            if (ec) {
                link.readFailed(ec);
                co_return BodyRead::Gone;
            }
            got += n;
            if (!reader.feed({piece.data(), n})) co_return BodyRead::Refused;
        }
        co_return BodyRead::Complete;
    }

    // What went out of an answer: its bytes, and whether all of it did.
    struct Sent {
        std::size_t bytes = 0;
        bool whole = true;
    };

    // Sends the answer.
    template <class Stream>
    awaitable<Sent> write(Stream& stream, Link& link, Answer& a, bool headOnly, bool close, std::size_t left) {
        http::response<http::string_body> res{static_cast<http::status>(a.reply.status), 11};
        if (!a.reply.contentType.empty()) res.set(http::field::content_type, a.reply.contentType);
        for (const auto& [name, value] : a.reply.headers) res.set(name, value);
        for (const auto& [name, value] : a.headers) res.set(name, value);
        if (close) {
            res.set(http::field::connection, "close");
        } else {
            // What the connection will really take: the idle time and the requests left.
            res.set(http::field::keep_alive, "timeout=" + std::to_string(limits.idle.count() / 1000) +
                                                 ", max=" + std::to_string(left));
        }
        Sent sent;
        ErrorCode ec;
        if (a.body) res.chunked(true);
        else {
            res.body() = std::move(a.reply.body);
            res.prepare_payload();
        }
        http::response_serializer<http::string_body> sr{res};
        sr.split(headOnly || a.body);
        while (!(sr.split() ? sr.is_header_done() : sr.is_done())) {
            link.deadline.after(limits.write);
            sent.bytes += co_await http::async_write_some(stream, sr, asio::redirect_error(use_awaitable, ec));
            if (ec) {
                link.lost = true;
                co_return Sent{sent.bytes, false};
            }
        }
        if (!a.body || headOnly) co_return sent;
        const Sent body = co_await writeBody(stream, link, a.body);
        co_return Sent{sent.bytes + body.bytes, body.whole};
    }

    // A streamed body in chunks; one cut short ends without its last chunk, which the client sees.
    template <class Stream>
    awaitable<Sent> writeBody(Stream& stream, Link& link, const BodyWriter& body) {
        if constexpr (!kIsTls<Stream>) {
            // Nothing else touches the socket while the worker sends.
            auto& socket = beast::get_lowest_layer(stream);
            link.deadline.clear();
            DirectChunks chunks(socket.socket().native_handle(), limits.write, stopping);
            const bool whole = co_await onWorker([&] { return chunks.send(body); });
            co_return Sent{chunks.bytes(), whole};
        } else {
            Sent sent;
            ErrorCode ec;
            BodyPump pump(body);
            for (;;) {
                std::optional<std::string> piece = pump.ready();
                if (!piece) piece = co_await onWorker([&pump] { return pump.next(); });
                if (!piece) break;
                link.deadline.after(limits.write);
                sent.bytes += co_await asio::async_write(stream, http::make_chunk(asio::buffer(*piece)),
                                                         asio::redirect_error(use_awaitable, ec));
                if (ec) {
                    link.lost = true;
                    co_return Sent{sent.bytes, false};
                }
                pump.recycle(std::move(*piece));
            }
            if (!pump.whole()) co_return Sent{sent.bytes, false};
            link.deadline.after(limits.write);
            sent.bytes += co_await asio::async_write(stream, http::make_chunk_last(), asio::redirect_error(use_awaitable, ec));
            sent.whole = !ec;
            link.lost = link.lost || ec;
            co_return sent;
        }
    }

    // The end of a connection the client may still send on: the end is sent (a TLS
    // close_notify, then the TCP one), and what comes meanwhile is read and dropped for a
    // moment, so the reply is not lost to a reset.
    template <class Stream>
    awaitable<void> linger(Stream& stream, Link& link) {
        auto& socket = beast::get_lowest_layer(stream);
        if (stopping) co_return;
        co_await closeNotify(stream, link);
        ErrorCode ec;
        socket.socket().shutdown(tcp::socket::shutdown_send, ec);
        link.deadline.after(kLinger);
        char sink[16 * 1024];
        while (!ec) co_await socket.async_read_some(asio::buffer(sink), asio::redirect_error(use_awaitable, ec));
        link.lost = true;
    }

    // A TLS connection that completed its handshake ends with close_notify (RFC 8446 section
    // 6.1), so the client can tell a whole reply from one cut by the network, unless the peer
    // is gone. The peer's own close_notify is not waited for: the closing side need not.
    template <class Stream>
    awaitable<void> closeNotify(Stream& stream, Link& link) {
        if constexpr (kIsTls<Stream>) {
            SSL* ssl = stream.native_handle();
            if (!link.handshaken || link.lost || (SSL_get_shutdown(ssl) & SSL_SENT_SHUTDOWN) != 0) co_return;
            SSL_set_shutdown(ssl, SSL_get_shutdown(ssl) | SSL_RECEIVED_SHUTDOWN);
            link.deadline.after(kCloseNotify);
            ErrorCode ec;
            co_await stream.async_shutdown(asio::redirect_error(use_awaitable, ec));
            link.lost = link.lost || ec;
        }
        co_return;
    }
};

HttpEngine::HttpEngine(const EngineOptions& options, EventLog& log) : impl_(std::make_unique<Impl>(options, log)) {
    if (!options.tlsCert.empty() || !options.tlsKey.empty()) {
        if (options.tlsCert.empty() || options.tlsKey.empty()) throw std::runtime_error("TLS needs both a certificate and its key");
        impl_->tls = tlsContext(options.tlsCert, options.tlsKey);
    }
    impl_->bind();
    std::size_t cap = options.maxConnections;
    if (cap == 0) {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        cap = files.rlim_cur == RLIM_INFINITY ? 65536
              : files.rlim_cur > 2 * kDescriptorReserve ? files.rlim_cur - kDescriptorReserve
                                                        : files.rlim_cur / 2;
    }
    impl_->maxConnections = cap;
    impl_->slots.configure(cap, options.maxConnectionsPerAddress);
}

HttpEngine::~HttpEngine() { stop(); }

std::uint16_t HttpEngine::port() const { return impl_->acceptor.local_endpoint().port(); }

bool HttpEngine::tls() const { return impl_->tls != nullptr; }

void HttpEngine::run(Site& site) {
    impl_->site = &site;
    asio::co_spawn(impl_->io, impl_->acceptLoop(), asio::detached);
    const unsigned cores = std::max(2u, std::min(4u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < cores; ++i) impl_->threads.emplace_back([this] { impl_->io.run(); });
}

void HttpEngine::stop() {
    if (impl_->stopped) return;
    impl_->stopped = true;
    impl_->stopping = true;
    asio::post(impl_->io, [this] {
        ErrorCode ignored;
        impl_->acceptor.close(ignored);
    });
    impl_->cancelAll();
    // Replies under way get a moment to go out; a client that will not take one is not waited for.
    const auto until = Clock::now() + kStopGrace;
    while (impl_->open.load() > 0 && Clock::now() < until) std::this_thread::sleep_for(10ms);
    impl_->io.stop();
    for (std::thread& t : impl_->threads) t.join();
    ErrorCode ignored;
    impl_->acceptor.close(ignored);
    // Work under way (a save, an export) ends whole; its connection is gone already.
    impl_->workers.join();
}

}  // namespace eft::server
