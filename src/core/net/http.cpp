#include "net/http.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "net/curl_common.h"

namespace eft {

void ensureCurlReady() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

struct ConsumerSink {
    const BodyConsumer* consume;
    std::size_t maxBytes;
    std::size_t received = 0;
    bool overflow = false;
};

std::size_t writeToConsumer(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<ConsumerSink*>(user);
    const std::size_t n = size * count;
    if (sink->received + n > sink->maxBytes) {
        sink->overflow = true;
        return 0;  // makes libcurl end the transfer with a write error
    }
    sink->received += n;
    return (*sink->consume)(std::string_view(data, n)) ? n : 0;
}

}  // namespace

FetchResult httpGet(const std::string& address, const HttpLimits& limits, const BodyConsumer& consume) {
    ensureCurlReady();
    FetchResult result;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        result.error = "the HTTP client could not be created";
        return result;
    }
    std::string unused;
    BodySink bodySink{&unused, limits.maxReplyBytes};
    char errorText[CURL_ERROR_SIZE] = {};
    configureTransfer(curl.get(), address, limits.connectTimeout, limits.getTimeout, bodySink, errorText);
    ConsumerSink sink{&consume, limits.maxReplyBytes};
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &writeToConsumer);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
    if (rc != CURLE_OK) {
        bodySink.overflow = sink.overflow;
        result.error = describeCurlFailure(rc, errorText, bodySink);
        return result;
    }
    result.ok = true;
    return result;
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
