#pragma once
// Serving one accepted connection under firm time limits, in place of httplib's own loop:
// httplib waits up to its read timeout for each byte, so a client sending one header byte
// every two seconds holds a worker forever, and a stop waits for every stalled client.
// Here a request's headers must be complete within a deadline, every wait gives way within
// a tenth of a second once the server stops, and TLS runs over the same non-blocking socket.
#include <httplib.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>
#include <unistd.h>

namespace eft::server {

struct ConnectionLimits {
    std::chrono::milliseconds headers{5000};    // from the first byte of a request to its blank line
    std::chrono::milliseconds idle{5000};       // between requests on a kept-alive connection
    std::chrono::milliseconds read{5000};       // for each wait on a body's bytes
    std::chrono::milliseconds write{5000};      // for each wait until the client takes more
    std::chrono::milliseconds body{120000};     // for a whole body
    std::size_t requestsPerConnection = 100;
};

// What the handlers of the request under way on this thread leave for the connection and
// the log.
struct RequestScope {
    std::chrono::steady_clock::time_point started;
    std::size_t bytesSent = 0;
    std::string user;
    bool closeAfter = false;  // the body was left unread: the connection cannot carry another request
};
RequestScope& currentRequest();

// Serves requests on sock until it closes, the limits end it or the server stops (listening
// becomes INVALID_SOCKET), then closes it. processOne is httplib's request processing; it is
// given a callback to pass to process_request as its setup_request. tls may be null.
using ProcessOne =
    std::function<bool(httplib::Stream&, bool closeConnection, bool& connectionClosed,
                       const std::function<void(httplib::Request&)>& setupRequest)>;
void serveConnection(int sock, SSL_CTX* tls, const ConnectionLimits& limits, const std::atomic<int>& listening,
                     const std::function<void(std::string_view client, std::string_view why)>& dropped,
                     const ProcessOne& processOne);

// An httplib server (plain or TLS) whose connections go through serveConnection.
template <class Base>
class GuardedServer final : public Base {
public:
    template <class... Args>
    explicit GuardedServer(Args&&... args) : Base(std::forward<Args>(args)...) {}

    ConnectionLimits limits;
    std::function<void(std::string_view client, std::string_view why)> dropped;

    // httplib listens with a backlog of 5, which overflows as soon as a few clients connect
    // at once and costs each overflowing one a second's retry.
    void widenBacklog(int backlog) { ::listen(this->svr_sock_, backlog); }
    // A bound socket whose loop never ran is not closed by httplib.
    void closeListening() {
        const int sock = this->svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET) ::close(sock);
    }

private:
    SSL_CTX* tlsContext() const {
        if constexpr (std::is_same_v<Base, httplib::SSLServer>) return this->ssl_context();
        else return nullptr;
    }

    bool process_and_close_socket(int sock) override {
        serveConnection(sock, tlsContext(), limits, this->svr_sock_, dropped,
                        [this](httplib::Stream& strm, bool closeConnection, bool& connectionClosed,
                               const std::function<void(httplib::Request&)>& setup) {
                            return this->process_request(strm, closeConnection, connectionClosed, setup);
                        });
        return true;
    }
};

}  // namespace eft::server
