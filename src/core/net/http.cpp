#include "net/http.h"

#include <curl/curl.h>
#include <curl/header.h>

#include <exception>
#include <memory>
#include <mutex>

#include "net/address.h"
#include "net/curl_common.h"
#include "net/pages.h"
#include "ui/phrases.h"

namespace eft {

void ensureCurlReady() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

// What one hop of a GET received. The status is judged at the first body byte: only a 2xx
// body goes to the consumer, and nothing leaves this callback by exception (curl is C).
struct HopSink {
    CURL* curl = nullptr;
    const BodyConsumer* consume = nullptr;
    std::size_t maxBytes = 0;
    bool judged = false;
    bool passOn = false;
    std::size_t bytes = 0;  // all body bytes of the hop, consumed or not, against the cap
    long long consumed = 0;
    bool overflow = false;
    bool stopped = false;
    std::exception_ptr thrown;
    // A reply that comes faster than it is read must not keep the host's events waiting:
    // past this time since they last ran the hop pauses, to go on once they have.
    bool yields = false;
    std::chrono::steady_clock::time_point turnDue{};
    bool paused = false;
    std::string encoding;  // a 2xx body's encoding that was not asked for
};

constexpr std::chrono::milliseconds kTurnEvery{20};
constexpr long kReadBufferBytes = 512L * 1024;

std::size_t writeHop(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<HopSink*>(user);
    const std::size_t n = size * count;
    if (sink->yields && std::chrono::steady_clock::now() >= sink->turnDue) {
        sink->paused = true;
        return CURL_WRITEFUNC_PAUSE;  // libcurl keeps the piece and hands it over again
    }
    if (!sink->judged) {
        long status = 0;
        curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
        sink->passOn = isSuccessStatus(status);
        sink->judged = true;
        if (sink->passOn) {
            try {
                sink->encoding = unaskedEncoding(sink->curl);
            } catch (...) {
                sink->encoding = "unknown";
            }
        }
    }
    if (!sink->encoding.empty()) return 0;  // bytes nobody can read: the reader never sees them
    if (sink->bytes + n > sink->maxBytes) {
        sink->overflow = true;
        return 0;  // makes libcurl end the transfer with a write error
    }
    sink->bytes += n;
    if (!sink->passOn) return n;  // a redirect's or a refusal's body: nobody reads it
    try {
        if (!(*sink->consume)(std::string_view(data, n))) {
            sink->stopped = true;
            return 0;
        }
    } catch (...) {
        sink->thrown = std::current_exception();
        return 0;
    }
    sink->consumed += static_cast<long long>(n);
    return n;
}

using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Runs the one transfer on `multi` to its end, spending the wait as `wait` says.
CURLcode drive(CURLM* multi, const TransferWait& wait, HopSink& sink) {
    long long reported = -1;
    auto report = [&] {
        if (!wait.progress || !sink.passOn || sink.consumed == reported) return;
        reported = sink.consumed;
        wait.progress(sink.consumed, announcedLength(sink.curl));
    };
    sink.yields = static_cast<bool>(wait.turn);
    sink.turnDue = std::chrono::steady_clock::now() + kTurnEvery;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        report();
        if (running == 0) break;
        if (wait.turn) {
            wait.turn();
            sink.turnDue = std::chrono::steady_clock::now() + kTurnEvery;
        }
        if (wait.cancelled && wait.cancelled()) {
            sink.stopped = true;
            return CURLE_ABORTED_BY_CALLBACK;
        }
        if (sink.paused) {
            // What the pause held back is read at once, without waiting on the socket.
            sink.paused = false;
            curl_easy_pause(sink.curl, CURLPAUSE_CONT);
            continue;
        }
        curl_multi_poll(multi, nullptr, 0, wait.turn ? 50 : 1000, nullptr);
    }
    CURLcode code = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
        if (msg->msg == CURLMSG_DONE) code = msg->data.result;
    return code;
}

}  // namespace

FetchResult httpGet(const std::string& address, const HttpLimits& limits, const BodyConsumer& consume,
                    const TransferWait& wait) {
    ensureCurlReady();
    FetchResult result;
    MultiHandle multi(curl_multi_init(), &curl_multi_cleanup);
    if (!multi) {
        result.error = ui::phrase::kNoClient;
        return result;
    }
    std::string url = address;
    HeaderList headers(curl_slist_append(nullptr, std::string(pages::kRequestHeader).c_str()), &curl_slist_free_all);
    headers.reset(curl_slist_append(headers.release(), kAcceptIdentity));
    if (!limits.acceptLanguage.empty())
        headers.reset(curl_slist_append(headers.release(), ("Accept-Language: " + limits.acceptLanguage).c_str()));
    // The limit is the operator's wait, not a hop's: a server that redirects to itself must
    // not stretch it by the number of hops.
    const auto deadline = std::chrono::steady_clock::now() + limits.getTimeout;
    for (int redirects = 0;; ++redirects) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.error = ui::fill(ui::phrase::kTookLonger, {std::to_string(limits.getTimeout.count())});
            result.cause = operatorCause(CURLE_OPERATION_TIMEDOUT, 0, false, false, limits);
            return result;
        }
        EasyHandle easy(curl_easy_init(), &curl_easy_cleanup);
        if (!easy) {
            result.error = ui::phrase::kNoClient;
            return result;
        }
        char errorText[CURL_ERROR_SIZE] = {};
        // The original address carries the credentials; a redirect's address does not.
        configureTransfer(easy.get(), address, limits, left, errorText);
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
        HopSink sink;
        sink.curl = easy.get();
        sink.consume = &consume;
        sink.maxBytes = limits.maxReplyBytes;
        // A sweep reply runs to hundreds of megabytes: libcurl's default of 16 KB a read costs a
        // system call and a pass through the reader's piece handling every 16 KB.
        curl_easy_setopt(easy.get(), CURLOPT_BUFFERSIZE, kReadBufferBytes);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &writeHop);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
        IdleWatch idle;
        watchIdle(easy.get(), idle, limits.lowSpeedTime);
        if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) {
            result.error = ui::phrase::kNotStarted;
            return result;
        }
        const CURLcode code = drive(multi.get(), wait, sink);
        curl_multi_remove_handle(multi.get(), easy.get());
        if (sink.thrown) std::rethrow_exception(sink.thrown);
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &result.status);
        if (!sink.encoding.empty()) {
            result.error = ui::fill(ui::phrase::kEncoded, {sink.encoding});
            result.cause = unaskedEncodingCause(sink.encoding);
            return result;
        }
        if (code != CURLE_OK) {
            result.error = sink.stopped ? std::string(ui::phrase::kReaderStopped)
                                        : describeCurlFailure(code, errorText, limits, sink.overflow, idle);
            if (!sink.stopped)
                result.cause = operatorCause(code, 0, sink.overflow, wentIdle(code, errorText, idle), limits);
            return result;
        }
        if (result.status >= 300 && result.status <= 399) {
            char* location = nullptr;
            curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &location);
            if (location) {
                const std::string next = location;
                if (!sameOrigin(url, next)) {
                    result.error = ui::fill(ui::phrase::kRedirectedElsewhere, {redactedAddress(next)});
                    result.cause = operatorCause(CURLE_OK, result.status, false, false, limits);
                    return result;
                }
                if (redirects == kMaxRedirects) {
                    result.error = ui::fill(ui::phrase::kRedirectedTooOften, {std::to_string(kMaxRedirects)});
                    result.cause = operatorCause(CURLE_OK, result.status, false, false, limits);
                    return result;
                }
                url = next;
                continue;
            }
        }
        if (!isSuccessStatus(result.status)) {
            result.error = statusFailure(result.status);
            result.cause = operatorCause(CURLE_OK, result.status, false, false, limits);
            return result;
        }
        result.ok = true;
        curl_header* stamp = nullptr;
        if (curl_easy_header(easy.get(), std::string(pages::kSweepStampHeader).c_str(), 0, CURLH_HEADER, -1, &stamp) ==
                CURLHE_OK &&
            stamp != nullptr) {
            const std::string_view value = stamp->value;
            // Only digits go back in a header of ours: a hostile server's text never does.
            if (!value.empty() && value.size() <= 18 && value.find_first_not_of("0123456789") == std::string_view::npos)
                result.sweepStamp = value;
        }
        return result;
    }
}

HttpReply httpGet(const std::string& address, const HttpLimits& limits) {
    HttpReply reply;
    const FetchResult r = httpGet(address, limits, [&](std::string_view piece) {
        reply.body.append(piece);
        return true;
    });
    reply.ok = r.ok;
    reply.status = r.status;
    reply.error = r.error;
    return reply;
}

Fetch blockingFetch(const HttpLimits& limits) {
    return [limits](const std::string& address, const BodyConsumer& consume) { return httpGet(address, limits, consume); };
}

}  // namespace eft
