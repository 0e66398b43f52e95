#include "net/http.h"

#include <curl/curl.h>
#include <curl/header.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

// The pieces of a 2xx body on their way from the receiving thread to the reader. Small pieces
// are gathered into buffers of the read size, and the buffers are used again: fresh ones would
// fault their pages in for every piece. At most kQueuedBuffers wait, so a reply that comes
// faster than it is read waits in the socket, as it would for a reader on the same thread.
class PieceQueue {
public:
    explicit PieceQueue(std::size_t bufferBytes) : bufferBytes_(bufferBytes) {}

    // Receiving thread: false once the reader has stopped.
    bool push(std::string_view piece) {
        std::unique_lock lock(mutex_);
        while (!piece.empty()) {
            if (stopped_) return false;
            if (queued_.empty() || queued_.back().size() >= bufferBytes_) {
                if (queued_.size() >= kQueuedBuffers) {
                    room_.wait(lock, [&] { return stopped_ || queued_.size() < kQueuedBuffers; });
                    continue;
                }
                queued_.push_back(freshBuffer());
            }
            std::string& tail = queued_.back();
            const std::size_t n = std::min(piece.size(), bufferBytes_ - tail.size());
            tail.append(piece.data(), n);
            piece.remove_prefix(n);
            bytes_.notify_one();
        }
        return true;
    }

    // Receiving thread: no more pieces will come.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        bytes_.notify_one();
    }

    // Reader: stops the receiver's pushes and wakes it.
    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        room_.notify_one();
    }

    // Reader: the next buffer into `out` (whose old one goes back to the pool), waiting at most
    // until `until`. False when none came: the queue is empty and, if `ended`, closed.
    bool pop(std::string& out, std::chrono::steady_clock::time_point until, bool& ended) {
        std::unique_lock lock(mutex_);
        bytes_.wait_until(lock, until, [&] { return closed_ || !queued_.empty(); });
        if (out.capacity() >= bufferBytes_) {
            out.clear();
            pool_.push_back(std::move(out));
        }
        ended = closed_ && queued_.empty();
        if (queued_.empty()) return false;
        out = std::move(queued_.front());
        queued_.pop_front();
        room_.notify_one();
        return true;
    }

private:
    static constexpr std::size_t kQueuedBuffers = 4;

    std::string freshBuffer() {
        if (pool_.empty()) {
            std::string b;
            b.reserve(bufferBytes_);
            return b;
        }
        std::string b = std::move(pool_.back());
        pool_.pop_back();
        return b;
    }

    const std::size_t bufferBytes_;
    std::mutex mutex_;
    std::condition_variable bytes_, room_;
    std::deque<std::string> queued_;
    std::vector<std::string> pool_;
    bool closed_ = false;
    bool stopped_ = false;
};

// What one hop of a GET received. The status is judged at the first body byte: only a 2xx
// body goes on to the reader, and nothing leaves this callback by exception (curl is C).
// Everything here but `queue` belongs to the receiving thread until it has ended.
struct HopSink {
    CURL* curl = nullptr;
    PieceQueue* queue = nullptr;
    std::size_t maxBytes = 0;
    bool judged = false;
    bool passOn = false;
    std::size_t bytes = 0;  // all body bytes of the hop, passed on or not, against the cap
    bool overflow = false;
    bool stopped = false;  // the reader stopped taking the body
    std::atomic<long long> total{-1};  // the announced length, once the body starts
    std::string encoding;  // a 2xx body's encoding that was not asked for
};

constexpr std::chrono::milliseconds kTurnEvery{20};
constexpr std::size_t kReadBufferBytes = 512 * 1024;

std::size_t writeHop(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<HopSink*>(user);
    const std::size_t n = size * count;
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
            sink->total = announcedLength(sink->curl);
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
        if (!sink->queue->push(std::string_view(data, n))) {
            sink->stopped = true;
            return 0;
        }
    } catch (...) {
        sink->stopped = true;
        return 0;
    }
    return n;
}

using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Runs the one transfer on `multi` to its end: libcurl on a thread of its own, receiving while
// the reader reads the piece before (the kernel's copy of the reply and libcurl's work are off
// the reader's thread), and `consume`, the turns and the progress on the calling thread.
CURLcode drive(CURLM* multi, const BodyConsumer& consume, const TransferWait& wait, HopSink& sink,
               bool& readerStopped, std::exception_ptr& thrown) {
    PieceQueue queue(kReadBufferBytes);
    sink.queue = &queue;
    std::atomic<bool> quit{false};
    CURLcode code = CURLE_FAILED_INIT;
    std::thread receiver([&] {
        int running = 1;
        while (running > 0 && !quit.load(std::memory_order_relaxed)) {
            if (curl_multi_perform(multi, &running) != CURLM_OK || running == 0) break;
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
            if (msg->msg == CURLMSG_DONE) code = msg->data.result;
        if (code == CURLE_FAILED_INIT && quit.load()) code = CURLE_ABORTED_BY_CALLBACK;
        queue.close();
    });
    const auto stop = [&] {
        readerStopped = true;
        quit = true;
        queue.stop();
        curl_multi_wakeup(multi);
    };
    long long consumed = 0, reported = -1;
    auto turnDue = std::chrono::steady_clock::now() + kTurnEvery;
    std::string piece;
    bool cancelled = false;
    try {
        for (bool ended = false; !ended;) {
            // Without a turn to run the wait blocks until the body comes or ends.
            const auto until = wait.turn ? turnDue : std::chrono::steady_clock::now() + std::chrono::seconds(1);
            if (queue.pop(piece, until, ended)) {
                if (!consume(piece)) {
                    stop();
                    break;
                }
                consumed += static_cast<long long>(piece.size());
                if (wait.progress && consumed != reported) {
                    reported = consumed;
                    wait.progress(consumed, sink.total.load());
                }
            }
            if (wait.turn && std::chrono::steady_clock::now() >= turnDue) {
                wait.turn();
                turnDue = std::chrono::steady_clock::now() + kTurnEvery;
            }
            if (wait.cancelled && wait.cancelled()) {
                cancelled = true;
                stop();
                break;
            }
        }
    } catch (...) {
        thrown = std::current_exception();
        stop();
    }
    receiver.join();
    if (cancelled) return CURLE_ABORTED_BY_CALLBACK;
    // A reader that stopped after the last byte came still stopped the transfer.
    if (readerStopped && code == CURLE_OK) code = CURLE_WRITE_ERROR;
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
        sink.maxBytes = limits.maxReplyBytes;
        // A sweep reply runs to hundreds of megabytes: libcurl's default of 16 KB a read costs a
        // system call and a pass through the reader's piece handling every 16 KB.
        curl_easy_setopt(easy.get(), CURLOPT_BUFFERSIZE, static_cast<long>(kReadBufferBytes));
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &writeHop);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
        IdleWatch idle;
        watchIdle(easy.get(), idle, limits.lowSpeedTime);
        if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) {
            result.error = ui::phrase::kNotStarted;
            return result;
        }
        bool readerStopped = false;
        std::exception_ptr thrown;
        const CURLcode code = drive(multi.get(), consume, wait, sink, readerStopped, thrown);
        curl_multi_remove_handle(multi.get(), easy.get());
        if (thrown) std::rethrow_exception(thrown);
        sink.stopped = sink.stopped || readerStopped;
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
