#pragma once
// The five requests of the two pages, told apart by page, method and query, and everything
// else turned away: 404 for another address, 405 for another method on a page (HEAD too: a
// HEAD of the export address must not export), 400 with a one-line reason for a request that
// is malformed, 413 for a body over the limit. Page names match in any letter case, as they
// do on the web servers the control was written for.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace eft::server {

class Service;

inline constexpr std::string_view kBasePath = "/eft/";
inline constexpr std::size_t kMaxBodyBytes = 16u << 20;

struct HttpRequest {
    std::string_view method;  // "GET", "HEAD", "POST", ...
    std::string_view path;    // decoded, without the query
    std::string_view query;   // raw, after '?'
    std::string_view body;
    std::string_view user = {};  // the authenticated login; empty without authentication
    // Who asks: "login NAME" when authenticated, else "address ADDRESS"; empty for no one known.
    std::string_view operatorKey = {};
    // The X-EFTMemb-Sweep-Stamp header, when sent.
    std::optional<std::string_view> sweepStamp = {};
    // The Accept-Language header: a post's reasons, and a return's meaning in the batch list,
    // come in the language it prefers.
    std::string_view acceptLanguage = {};
};

struct HttpReply {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // beyond the content type
    // A sweep: the body is written while the rows are read, not held here.
    std::optional<int> sweepCountry;
};

enum class Page { None, Member, Batch };
Page pageOf(std::string_view path);
// Whether the method is one of the page's own (GET and POST); anything else gets 405.
bool pageMethod(std::string_view method);

// Whether the request would change something: a post to a page, or an export. A query that
// cannot be read counts as one, so an escaped key cannot slip past.
bool changesState(const HttpRequest& request);

// A post read in pieces: its body decoded while it arrives, acted on once complete.
class PostReader {
public:
    virtual ~PostReader() = default;
    // False once the body is refused (too large, malformed, too many pairs); stop reading then.
    virtual bool feed(std::string_view piece) = 0;
    // The reply: the refusal, or the outcome of the post.
    virtual HttpReply finish() = 0;
};

// The reader of a POST to a page; nothing for any other request, which route() answers.
std::unique_ptr<PostReader> postReader(Service& service, const HttpRequest& head);

// A one-line plain-text reply.
HttpReply textReply(int status, std::string line);

// How long a client is told to wait before it asks again while the database does not answer:
// a restart of PostgreSQL takes a few seconds.
inline constexpr int kRetryAfterSeconds = 5;

// 503 with Retry-After: the database does not answer, or is no longer the file opened.
HttpReply unavailableReply(std::string line);

HttpReply route(Service& service, const HttpRequest& request);

// The sweep rows of a reply whose sweepCountry is set, as one string (for tests and tools;
// the server streams them).
std::string sweepBody(Service& service, const HttpReply& reply);

}  // namespace eft::server
