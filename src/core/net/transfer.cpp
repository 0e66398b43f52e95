#include "net/transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

#include "base/error.h"
#include "net/address.h"
#include "net/curl_common.h"
#include "net/pages.h"
#include "ui/phrases.h"

namespace eft {
namespace {

struct PostSink {
    std::string* reply = nullptr;
    std::size_t maxBytes = 0;
    bool overflow = false;
};

std::size_t writeReply(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<PostSink*>(user);
    const std::size_t n = size * count;
    if (sink->reply->size() + n > sink->maxBytes) {
        sink->overflow = true;
        return 0;  // makes libcurl end the transfer with a write error
    }
    try {
        sink->reply->append(data, n);
    } catch (...) {
        return 0;  // nothing may leave a libcurl callback by exception
    }
    return n;
}

}  // namespace

struct Transfer::Impl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::string body;
    PostSink sink;
    IdleWatch idle;
    char errorText[CURL_ERROR_SIZE] = {};

    Impl() {
        ensureCurlReady();
        multi = curl_multi_init();
    }
    ~Impl() {
        release();
        if (multi) curl_multi_cleanup(multi);
    }
    void release() {
        if (easy) {
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
        if (headers) {
            curl_slist_free_all(headers);
            headers = nullptr;
        }
    }
};

Transfer::Transfer(HttpLimits limits) : limits_(std::move(limits)), impl_(std::make_unique<Impl>()) {}

Transfer::~Transfer() = default;

void Transfer::execute(const std::string& address, std::string_view verb, std::string body, std::string_view header,
                       std::string_view extraHeader) {
    if (executing_) throw EftError("the transfer control is still executing the previous request");
    if (!impl_->multi) throw EftError(std::string(ui::phrase::kNoClient));
    impl_->release();
    reply_.clear();
    readPos_ = 0;
    error_.clear();
    cause_.clear();
    address_ = redactedAddress(address);
    refusedStatus_ = 0;
    refusedReply_.clear();
    outcomeUnknown_ = false;
    lastTotal_ = -1;
    impl_->easy = curl_easy_init();
    if (!impl_->easy) throw EftError(std::string(ui::phrase::kNoClient));
    impl_->body = std::move(body);
    // A post's reply is blank or a message: it is held whole, so a hostile server's endless
    // reply must not fill the memory a 1 GiB read cap would allow.
    postLimits_ = limits_;
    postLimits_.maxReplyBytes = std::min(limits_.maxReplyBytes, kMaxPostReplyBytes);
    impl_->sink = PostSink{&reply_, postLimits_.maxReplyBytes, false};
    impl_->errorText[0] = '\0';
    configureTransfer(impl_->easy, address, postLimits_, postLimits_.postTimeout, impl_->errorText);
    curl_easy_setopt(impl_->easy, CURLOPT_WRITEFUNCTION, &writeReply);
    curl_easy_setopt(impl_->easy, CURLOPT_WRITEDATA, &impl_->sink);
    watchIdle(impl_->easy, impl_->idle, limits_.lowSpeedTime);
    // The control's verb "Post" is the standard POST; any other verb goes as written.
    std::string method(verb);
    for (auto& c : method) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (method == "POST") {
        curl_easy_setopt(impl_->easy, CURLOPT_POSTFIELDS, impl_->body.data());
        curl_easy_setopt(impl_->easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(impl_->body.size()));
    } else if (method != "GET") {
        curl_easy_setopt(impl_->easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    impl_->headers = curl_slist_append(impl_->headers, std::string(header).c_str());
    if (!extraHeader.empty()) impl_->headers = curl_slist_append(impl_->headers, std::string(extraHeader).c_str());
    impl_->headers = curl_slist_append(impl_->headers, "Expect:");  // no 100-continue round trip
    impl_->headers = curl_slist_append(impl_->headers, std::string(pages::kRequestHeader).c_str());
    impl_->headers = curl_slist_append(impl_->headers, kAcceptIdentity);
    if (!postLimits_.acceptLanguage.empty())
        impl_->headers = curl_slist_append(impl_->headers, ("Accept-Language: " + postLimits_.acceptLanguage).c_str());
    curl_easy_setopt(impl_->easy, CURLOPT_HTTPHEADER, impl_->headers);
    if (curl_multi_add_handle(impl_->multi, impl_->easy) != CURLM_OK) {
        impl_->release();
        throw EftError("the transfer control could not start the request to " + redactedAddress(address));
    }
    executing_ = true;
}

bool Transfer::stillExecuting() {
    if (!executing_) return false;
    int running = 0;
    curl_multi_perform(impl_->multi, &running);
    if (running > 0) return true;
    finish();
    return false;
}

long long Transfer::announcedTotal() const { return impl_->easy ? announcedLength(impl_->easy) : lastTotal_; }

void Transfer::finish() {
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(impl_->multi, &queued))
        if (msg->msg == CURLMSG_DONE) result = msg->data.result;
    executing_ = false;
    long status = 0;
    curl_easy_getinfo(impl_->easy, CURLINFO_RESPONSE_CODE, &status);
    lastTotal_ = announcedLength(impl_->easy);
    // Only a request that left whole can have been acted on; one refused at the connection, or
    // cut off while it was being sent, cannot.
    curl_off_t bodySent = 0;
    long headerBytes = 0;
    curl_easy_getinfo(impl_->easy, CURLINFO_SIZE_UPLOAD_T, &bodySent);
    curl_easy_getinfo(impl_->easy, CURLINFO_REQUEST_SIZE, &headerBytes);
    const bool sentWhole = headerBytes > 0 && bodySent >= static_cast<curl_off_t>(impl_->body.size());
    const bool idle = wentIdle(result, impl_->errorText, impl_->idle);
    std::int16_t state = kStateResponseCompleted;
    const std::string encoding = reply_.empty() ? std::string() : unaskedEncoding(impl_->easy);
    if (!encoding.empty() && (result == CURLE_OK || status != 0)) {
        // Bytes that cannot be read are no reason and no consent. A 2xx came from a server that
        // may have acted on the post.
        error_ = ui::fill(ui::phrase::kEncoded, {encoding});
        outcomeUnknown_ = isSuccessStatus(status) && sentWhole;
        cause_ = outcomeUnknown_ ? ui::fill(ui::phrase::kAnswerEncoded, {encoding}) : unaskedEncodingCause(encoding);
        refusedStatus_ = isSuccessStatus(status) ? 0 : status;
        state = kStateError;
    } else if (result != CURLE_OK) {
        error_ = describeCurlFailure(result, impl_->errorText, postLimits_, impl_->sink.overflow, impl_->idle);
        // A refusal's status that came before the transfer broke is an answer all the same.
        outcomeUnknown_ = sentWhole && (status == 0 || isSuccessStatus(status));
        cause_ = outcomeUnknown_ ? unansweredCause(result, 0, impl_->sink.overflow, idle, postLimits_)
                                 : operatorCause(result, 0, impl_->sink.overflow, idle, postLimits_);
        state = kStateError;
    } else if (status == kGatewayTimeout && sentWhole) {
        error_ = statusFailure(status);
        outcomeUnknown_ = true;
        cause_ = unansweredCause(CURLE_OK, status, false, false, postLimits_);
        state = kStateError;
    } else if (!isSuccessStatus(status)) {
        // An error page, a login demand or a redirect: the server did not take the post, and a
        // blank body must not pass for its consent.
        error_ = statusFailure(status);
        cause_ = operatorCause(CURLE_OK, status, false, false, postLimits_);
        refusedStatus_ = status;
        refusedReply_ = std::move(reply_);
        state = kStateError;
    }
    if (state == kStateError) reply_.clear();
    impl_->release();
    if (onStateChanged) onStateChanged(state);
}

void Transfer::abort() {
    if (!executing_) return;
    executing_ = false;
    error_ = ui::phrase::kAbandoned;
    reply_.clear();
    impl_->release();
}

void Transfer::waitForActivity(std::chrono::milliseconds timeout) {
    if (!executing_) return;
    curl_multi_poll(impl_->multi, nullptr, 0, static_cast<int>(timeout.count()), nullptr);
}

std::string Transfer::getChunk(std::size_t maxBytes) {
    const std::size_t n = std::min(maxBytes, reply_.size() - readPos_);
    std::string piece = reply_.substr(readPos_, n);
    readPos_ += n;
    return piece;
}

}  // namespace eft
