#include "net/curl_common.h"

#include <cstring>

namespace eft {
namespace {

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const std::size_t n = size * count;
    if (sink->body->size() + n > sink->maxBytes) {
        sink->overflow = true;
        return 0;  // makes libcurl end the transfer with a write error
    }
    sink->body->append(data, n);
    return n;
}

}  // namespace

void configureTransfer(CURL* curl, const std::string& address, std::chrono::milliseconds connectTimeout,
                       std::chrono::milliseconds totalTimeout, BodySink& sink, char* errorText) {
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(totalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
}

std::string describeCurlFailure(CURLcode code, const char* errorText, const BodySink& sink) {
    if (sink.overflow) return "the reply is larger than " + std::to_string(sink.maxBytes) + " bytes";
    if (errorText && std::strlen(errorText) > 0) return errorText;
    return curl_easy_strerror(code);
}

}  // namespace eft
