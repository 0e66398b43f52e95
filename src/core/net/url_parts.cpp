#include "net/url_parts.h"

namespace eft {

UrlHandle parseUrl(std::string_view address, unsigned flags) {
    UrlHandle url(curl_url(), &curl_url_cleanup);
    if (url && curl_url_set(url.get(), CURLUPART_URL, std::string(address).c_str(), flags) != CURLUE_OK) url.reset();
    return url;
}

std::string urlPart(CURLU* url, CURLUPart part, unsigned flags) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return {};
    std::string out(text);
    curl_free(text);
    return out;
}

}  // namespace eft
