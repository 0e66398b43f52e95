#pragma once
// The five requests of the two pages, told apart by page, method and query, and everything
// else turned away: 404 for another address, 400 with a one-line reason for a request that is
// malformed, 413 for a body over the limit. Page names match in any letter case, as they do
// on the web servers the control was written for.
#include <cstddef>
#include <string>
#include <string_view>

namespace eft::server {

class Service;

inline constexpr std::string_view kBasePath = "/eft/";
inline constexpr std::size_t kMaxBodyBytes = 16u << 20;

struct HttpRequest {
    std::string_view method;  // "GET", "HEAD", "POST", ...
    std::string_view path;    // decoded, without the query
    std::string_view query;   // raw, after '?'
    std::string_view body;
};

struct HttpReply {
    int status = 200;
    std::string contentType;
    std::string body;
};

// A one-line plain-text reply.
HttpReply textReply(int status, std::string line);

HttpReply route(Service& service, const HttpRequest& request);

}  // namespace eft::server
