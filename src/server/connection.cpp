#include "connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>

namespace eft::server {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks whether the server is stopping.
constexpr milliseconds kStopCheck{100};
// How long the unread rest of a refused request's body is taken in before the connection closes.
constexpr milliseconds kLinger{2000};

std::string numericAddress(const sockaddr_storage& addr, socklen_t length, int& port) {
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    port = std::atoi(service);
    std::string h = host;
    // A v4 client of a dual-stack socket reads as it would on a v4 one.
    if (h.starts_with("::ffff:") && h.find('.') != std::string::npos) h.erase(0, 7);
    return h;
}

// One connection's bytes, plain or TLS, on a non-blocking socket; every wait has an end.
class Channel final : public httplib::Stream {
public:
    Channel(int sock, SSL* ssl, const ConnectionLimits& limits, const std::atomic<int>& listening)
        : sock_(sock), ssl_(ssl), limits_(limits), listening_(listening) {}

    // A request begins: its headers are due by `due`.
    void beginRequest(Clock::time_point due) {
        headersDue_ = due;
        headersRead_ = false;
        timedOut_ = false;
    }
    void headersRead() {
        headersRead_ = true;
        bodyDue_ = Clock::now() + limits_.body;
    }
    bool timedOut() const { return timedOut_; }
    bool stopping() const { return listening_.load() == INVALID_SOCKET; }

    // Waits until the socket is ready for events, the deadline passes or the server stops.
    bool waitFor(short events, Clock::time_point until) const {
        for (;;) {
            if (stopping()) return false;
            const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
            if (left.count() <= 0) {
                timedOut_ = true;
                return false;
            }
            pollfd p{sock_, events, 0};
            const int n = ::poll(&p, 1, static_cast<int>(std::min(left, kStopCheck).count()));
            if (n > 0) return true;
            if (n < 0 && errno != EINTR) return false;
        }
    }

    Clock::time_point readDue() const {
        if (!headersRead_) return headersDue_;
        return std::min(Clock::now() + limits_.read, bodyDue_);
    }

    bool is_readable() const override {
        if (ssl_ && SSL_pending(ssl_) > 0) return true;
        return waitFor(POLLIN, readDue());
    }
    bool is_writable() const override { return waitFor(POLLOUT, Clock::now() + limits_.write); }

    ssize_t read(char* ptr, size_t size) override {
        const auto due = readDue();
        for (;;) {
            if (ssl_) {
                const int n = SSL_read(ssl_, ptr, static_cast<int>(std::min<size_t>(size, 1 << 30)));
                if (n > 0) return n;
                const int err = SSL_get_error(ssl_, n);
                if (err == SSL_ERROR_ZERO_RETURN) return 0;
                if (!retry(err, due)) return -1;
            } else {
                const ssize_t n = ::recv(sock_, ptr, size, 0);
                if (n >= 0) return n;
                if (errno == EINTR) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
                if (!waitFor(POLLIN, due)) return -1;
            }
        }
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            const auto due = Clock::now() + limits_.write;
            ssize_t n = -1;
            if (ssl_) {
                const int w = SSL_write(ssl_, ptr, static_cast<int>(std::min<size_t>(size, 1 << 30)));
                if (w > 0) n = w;
                else if (!retry(SSL_get_error(ssl_, w), due)) return -1;
            } else {
                n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
                    if (!waitFor(POLLOUT, due)) return -1;
                }
            }
            if (n >= 0) {
                currentRequest().bytesSent += static_cast<std::size_t>(n);
                return n;
            }
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t length = sizeof addr;
        if (getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &length) == 0) ip = numericAddress(addr, length, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t length = sizeof addr;
        if (getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &length) == 0) ip = numericAddress(addr, length, port);
    }
    int socket() const override { return sock_; }

    // TLS wants the socket readable or writable before it can go on.
    bool retry(int sslError, Clock::time_point due) const {
        if (sslError == SSL_ERROR_WANT_READ) return waitFor(POLLIN, due);
        if (sslError == SSL_ERROR_WANT_WRITE) return waitFor(POLLOUT, due);
        return false;
    }

    bool waitForRequest(Clock::time_point until) const {
        if (ssl_ && SSL_pending(ssl_) > 0) return true;
        return waitFor(POLLIN, until);
    }

private:
    int sock_;
    SSL* ssl_;
    const ConnectionLimits& limits_;
    const std::atomic<int>& listening_;
    Clock::time_point headersDue_{};
    Clock::time_point bodyDue_{};
    bool headersRead_ = false;
    mutable bool timedOut_ = false;
};

}  // namespace

RequestScope& currentRequest() {
    thread_local RequestScope scope;
    return scope;
}

void serveConnection(int sock, SSL_CTX* tls, const ConnectionLimits& limits, const std::atomic<int>& listening,
                     const std::function<void(std::string_view, std::string_view)>& dropped,
                     const ProcessOne& processOne) {
    const auto accepted = Clock::now();
    ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL, 0) | O_NONBLOCK);
    SSL* ssl = tls ? SSL_new(tls) : nullptr;
    bool usable = !tls || (ssl != nullptr && SSL_set_fd(ssl, sock) == 1);
    Channel channel(sock, ssl, limits, listening);
    std::string client;
    int port = 0;
    channel.get_remote_ip_and_port(client, port);
    auto drop = [&](std::string_view why) {
        if (dropped) dropped(client, why);
    };

    if (tls) {
        // The handshake counts against the first request's header time.
        channel.beginRequest(accepted + limits.headers);
        while (usable) {
            const int r = SSL_accept(ssl);
            if (r == 1) break;
            if (!channel.retry(SSL_get_error(ssl, r), accepted + limits.headers)) {
                if (channel.timedOut()) drop("the TLS handshake took too long");
                else if (!channel.stopping()) drop("the TLS handshake failed");
                usable = false;
            }
        }
        ERR_clear_error();
    }

    bool lingering = false;
    for (std::size_t served = 0; usable && served < limits.requestsPerConnection; ++served) {
        // The first request is due from the moment of the connection; later ones may idle first.
        const auto waitUntil = served == 0 ? accepted + limits.headers : Clock::now() + limits.idle;
        if (!channel.waitForRequest(waitUntil)) {
            if (served == 0 && channel.timedOut()) drop("no request within the header time");
            break;
        }
        channel.beginRequest(served == 0 ? accepted + limits.headers : Clock::now() + limits.headers);
        RequestScope& scope = currentRequest();
        scope = RequestScope{};
        scope.started = Clock::now();
        bool closed = false;
        const bool last = served + 1 == limits.requestsPerConnection;
        const bool ok = processOne(channel, last, closed, [&](httplib::Request& req) {
            channel.headersRead();
            if (ssl) req.ssl = ssl;
        });
        if (channel.timedOut()) drop("the client stalled");
        lingering = currentRequest().closeAfter;
        if (!ok || closed || lingering || channel.stopping()) break;
    }

    if (ssl) {
        if (usable) SSL_shutdown(ssl);
        SSL_free(ssl);
        ERR_clear_error();
    }
    // A client still sending the body of a refused request would meet a reset and never read
    // the refusal; the rest of its body is taken and dropped for a short while instead.
    if (lingering) {
        ::shutdown(sock, SHUT_WR);
        char sink[16 * 1024];
        const auto until = Clock::now() + kLinger;
        while (channel.waitFor(POLLIN, until)) {
            const ssize_t n = ::recv(sock, sink, sizeof sink, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

}  // namespace eft::server
