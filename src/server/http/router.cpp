#include "server/http/router.h"

#include <charconv>
#include <exception>
#include <limits>
#include <map>
#include <optional>

#include "net/pages.h"
#include "server/metrics/metrics.h"
#include "server/output/shown_text.h"
#include "server/pages/form.h"
#include "server/pages/reasons.h"
#include "server/pages/save_body.h"
#include "server/pages/service.h"
#include "server/pages/status_form.h"
#include "server/pages/xml_text.h"
#include "server/store/database.h"

namespace eft::server {
namespace {

constexpr std::string_view kTextType = "text/plain; charset=UTF-8";

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool sameText(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

// Query keys in lower case (query keys are case-blind on the pages' home servers), each once.
std::map<std::string, std::string> queryPairs(std::string_view query) {
    std::map<std::string, std::string> pairs;
    for (FormPair& p : decodeForm(query)) {
        std::string key = lower(p.key);
        if (pairs.contains(key)) throw RequestError("Query key " + quote(p.key) + " appears twice");
        pairs.emplace(std::move(key), std::move(p.value));
    }
    return pairs;
}

void onlyKeys(const std::map<std::string, std::string>& pairs, std::initializer_list<std::string_view> allowed) {
    for (const auto& [key, value] : pairs) {
        bool known = false;
        for (const std::string_view a : allowed) known = known || key == a;
        if (!known) throw RequestError("Unexpected query key " + quote(key));
    }
}

const std::string& required(const std::map<std::string, std::string>& pairs, std::string_view key,
                            std::string_view shownAs) {
    const auto at = pairs.find(std::string(key));
    if (at == pairs.end()) throw RequestError(std::string(shownAs) + " is missing");
    return at->second;
}

std::int64_t wholeNumber(std::string_view value, std::string_view shownAs, std::int64_t max) {
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (value.empty() || value.front() == '-' || ec != std::errc() || ptr != value.data() + value.size() || v > max)
        throw RequestError(std::string(shownAs) + " " + quote(value) + " is not a valid number");
    return v;
}

HttpReply reply(int status, std::string_view type, std::string body) {
    HttpReply r;
    r.status = status;
    r.contentType = type;
    r.body = std::move(body);
    return r;
}

HttpReply xmlReply(std::string body) { return reply(200, xml::kContentType, std::move(body)); }

HttpReply sweepRows(Service& service, const HttpRequest& r) {
    const auto pairs = queryPairs(r.query);
    onlyKeys(pairs, {"countryid", "load"});
    const std::string& country = required(pairs, "countryid", "countryID");
    if (country != "1" && country != "2")
        throw RequestError("countryID must be 1 (United States) or 2 (Canada), not " + quote(country));
    if (required(pairs, "load", "Load") != "1") throw RequestError("Load must be 1");
    HttpReply rows = xmlReply({});
    rows.sweepCountry = country == "1" ? 1 : 2;
    // Taken before the rows are read, so a change made meanwhile counts as one made after the
    // load: a save from it may be refused when it need not be, never taken when it must not.
    rows.headers.emplace_back(kSweepStampHeader,
                              std::to_string(service.startSweepLoad(std::string(r.operatorKey), *rows.sweepCountry)));
    return rows;
}

HttpReply batchGet(Service& service, std::string_view query, std::string_view login, std::string_view acceptLanguage) {
    const auto pairs = queryPairs(query);
    if (pairs.contains("tsql")) {
        onlyKeys(pairs, {"tsql"});
        if (!sameText(pairs.at("tsql"), "BatchList")) throw RequestError("TSQL must be BatchList");
        return xmlReply(service.batchListXml(acceptLanguage));
    }
    if (pairs.contains("processexport")) {
        onlyKeys(pairs, {"processexport", "personid", "persontypeid"});
        if (!sameText(pairs.at("processexport"), "True")) throw RequestError("ProcessExport must be True");
        const auto personId = wholeNumber(required(pairs, "personid", "PersonID"), "PersonID",
                                          std::numeric_limits<std::int32_t>::max());
        const auto personType = wholeNumber(required(pairs, "persontypeid", "PersonTypeID"), "PersonTypeID",
                                            std::numeric_limits<std::int16_t>::max());
        return xmlReply(service.exportBatches(static_cast<std::int32_t>(personId),
                                              static_cast<std::int16_t>(personType), login));
    }
    throw RequestError("The batch page needs TSQL=BatchList or ProcessExport=True");
}

HttpReply post(std::string text) { return reply(200, kTextType, std::move(text)); }

// The reply to a request a failure ended: the request's fault, the database's absence (which
// passes, so the client is told to come back), or the server's.
HttpReply failureReply(const std::exception& e) {
    if (dynamic_cast<const RequestError*>(&e) != nullptr) return textReply(400, e.what());
    if (dynamic_cast<const DatabaseGone*>(&e) != nullptr) return unavailableReply(e.what());
    if (dynamic_cast<const DatabaseUnreachable*>(&e) != nullptr)
        return unavailableReply(std::string("The database does not answer: ") + e.what());
    return textReply(500, std::string("Server error: ") + e.what());
}

HttpReply tooLarge() { return textReply(413, "The request body is over the 16 MiB limit"); }

// The body of a save or a status post, fed to its page's reader; the first fault ends it.
class PageReader final : public PostReader {
public:
    PageReader(Service& service, Page page, std::string_view login, SweepClaim claim, std::string_view language)
        : service_(service), page_(page), login_(login), claim_(std::move(claim)), language_(language) {
        try {
            if (page_ == Page::Member) save_.emplace();
            else status_.emplace(service_.statusPairCap());
        } catch (const std::exception& e) {
            refusal_ = failureReply(e);
        }
    }

    bool feed(std::string_view piece) override {
        if (refusal_) return false;
        bytes_ += piece.size();
        if (bytes_ > kMaxBodyBytes) {
            refusal_ = tooLarge();
            return false;
        }
        try {
            save_ ? save_->feed(piece) : status_->feed(piece);
        } catch (const RequestError& e) {
            refusal_ = textReply(400, e.what());
        }
        return !refusal_;
    }

    HttpReply finish() override {
        HttpReply r = answer();
        const auto outcome = r.status >= 500 ? metrics::Outcome::Failed
                             : r.status != 200 || !r.body.empty() ? metrics::Outcome::Refused
                                                                   : metrics::Outcome::Done;
        (page_ == Page::Member ? metrics::save : metrics::statusCommit)(failed_ ? metrics::Outcome::Failed : outcome);
        return r;
    }

private:
    HttpReply answer() {
        if (refusal_) return *refusal_;
        try {
            const std::string said = save_ ? service_.save(save_->finish(), claim_, login_)
                                           : service_.commitStatus(status_->finish(), login_);
            failed_ = reasons::failure(said);
            return post(reasons::inLanguage(said, language_));
        } catch (const std::exception& e) {
            return failureReply(e);
        }
    }

    Service& service_;
    Page page_;
    std::string login_;
    SweepClaim claim_;
    std::string language_;
    std::size_t bytes_ = 0;
    std::optional<SaveBodyReader> save_;
    std::optional<StatusBodyReader> status_;
    std::optional<HttpReply> refusal_;
    bool failed_ = false;  // the service's reason says it failed
};

// A post refused before its body is read.
class RefusedPost final : public PostReader {
public:
    explicit RefusedPost(HttpReply reply) : reply_(std::move(reply)) {}
    bool feed(std::string_view) override { return false; }
    HttpReply finish() override { return reply_; }

private:
    HttpReply reply_;
};

HttpReply dispatch(Service& service, const HttpRequest& r) {
    const Page page = pageOf(r.path);
    if (page == Page::None) return textReply(404, "Not found: " + escapedText(r.path));
    if (!pageMethod(r.method)) return textReply(405, "The method " + quote(r.method) + " is not allowed here");
    if (r.method == "POST") {
        const auto reader = postReader(service, r);
        reader->feed(r.body);
        return reader->finish();
    }
    return page == Page::Member ? sweepRows(service, r) : batchGet(service, r.query, r.user, r.acceptLanguage);
}

}  // namespace

Page pageOf(std::string_view path) {
    const std::string p = lower(path);
    const std::string base(kBasePath);
    if (p == base + lower(pages::kMemberPage)) return Page::Member;
    if (p == base + lower(pages::kBatchPage)) return Page::Batch;
    return Page::None;
}

bool pageMethod(std::string_view method) { return method == "GET" || method == "POST"; }

bool changesState(const HttpRequest& request) {
    const Page page = pageOf(request.path);
    if (page == Page::None) return false;
    if (request.method == "POST") return true;
    if (request.method != "GET" || page != Page::Batch) return false;
    try {
        return queryPairs(request.query).contains("processexport");
    } catch (const RequestError&) {
        return true;
    }
}

std::unique_ptr<PostReader> postReader(Service& service, const HttpRequest& head) {
    const Page page = pageOf(head.path);
    if (page == Page::None || head.method != "POST") return nullptr;
    if (!head.query.empty()) return std::make_unique<RefusedPost>(textReply(400, "A post takes no query"));
    SweepClaim claim{std::string(head.operatorKey), std::nullopt};
    if (head.sweepStamp) {
        const std::string_view v = *head.sweepStamp;
        std::int64_t stamp = 0;
        const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), stamp);
        if (v.empty() || v.front() == '-' || v.front() == '+' || ec != std::errc() || ptr != v.data() + v.size())
            return std::make_unique<RefusedPost>(
                textReply(400, std::string(kSweepStampHeader) + " " + quote(v) + " is not a sweep stamp"));
        claim.stamp = stamp;
    }
    return std::make_unique<PageReader>(service, page, head.user, std::move(claim), head.acceptLanguage);
}

std::string sweepBody(Service& service, const HttpReply& reply) {
    return reply.sweepCountry ? service.sweepXml(*reply.sweepCountry) : reply.body;
}

HttpReply textReply(int status, std::string line) {
    line += '\n';
    return reply(status, kTextType, std::move(line));
}

HttpReply unavailableReply(std::string line) {
    HttpReply r = textReply(503, std::move(line));
    r.headers.emplace_back("Retry-After", std::to_string(kRetryAfterSeconds));
    return r;
}

HttpReply route(Service& service, const HttpRequest& request) {
    try {
        return dispatch(service, request);
    } catch (const std::exception& e) {
        return failureReply(e);
    }
}

}  // namespace eft::server
