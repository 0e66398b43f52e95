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

HttpReply httpGet(const std::string& address, const HttpLimits& limits) {
    ensureCurlReady();
    HttpReply reply;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        reply.error = "the HTTP client could not be created";
        return reply;
    }
    BodySink sink{&reply.body, limits.maxReplyBytes};
    char errorText[CURL_ERROR_SIZE] = {};
    configureTransfer(curl.get(), address, limits.connectTimeout, limits.getTimeout, sink, errorText);
    const CURLcode rc = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
    if (rc != CURLE_OK) {
        reply.error = describeCurlFailure(rc, errorText, sink);
        return reply;
    }
    reply.ok = true;
    return reply;
}

}  // namespace eft
