#pragma once
// An address read by libcurl's URL parser, the one the transfers use, so that what is shown,
// compared or sent as credentials is what a transfer would take the address to mean.
#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

namespace eft {

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// The parsed address; null when libcurl does not read it as an address.
UrlHandle parseUrl(std::string_view address, unsigned flags = 0);

// One part of a parsed address; empty when it has none.
std::string urlPart(CURLU* url, CURLUPart part, unsigned flags);

}  // namespace eft
