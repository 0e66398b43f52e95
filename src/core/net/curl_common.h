#pragma once
// The libcurl settings every transfer of the control shares: bounded connect and total
// time, a capped reply body, only http and https, no redirects to other schemes.
#include <curl/curl.h>

#include <chrono>
#include <string>

namespace eft {

struct BodySink {
    std::string* body;
    std::size_t maxBytes;
    bool overflow = false;
};

void configureTransfer(CURL* curl, const std::string& address, std::chrono::milliseconds connectTimeout,
                       std::chrono::milliseconds totalTimeout, BodySink& sink, char* errorText);

std::string describeCurlFailure(CURLcode code, const char* errorText, const BodySink& sink);

}  // namespace eft
