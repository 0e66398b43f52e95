#include "router.h"

#include <charconv>
#include <exception>
#include <limits>
#include <map>
#include <optional>

#include "form.h"
#include "net/pages.h"
#include "service.h"
#include "xml_text.h"

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

HttpReply xmlReply(std::string body) { return {200, std::string(xml::kContentType), std::move(body)}; }

HttpReply sweepRows(Service& service, std::string_view query) {
    const auto pairs = queryPairs(query);
    onlyKeys(pairs, {"countryid", "load"});
    const std::string& country = required(pairs, "countryid", "countryID");
    if (country != "1" && country != "2")
        throw RequestError("countryID must be 1 (United States) or 2 (Canada), not " + quote(country));
    if (required(pairs, "load", "Load") != "1") throw RequestError("Load must be 1");
    return xmlReply(service.sweepXml(country == "1" ? 1 : 2));
}

HttpReply batchGet(Service& service, std::string_view query) {
    const auto pairs = queryPairs(query);
    if (pairs.contains("tsql")) {
        onlyKeys(pairs, {"tsql"});
        if (!sameText(pairs.at("tsql"), "BatchList")) throw RequestError("TSQL must be BatchList");
        return xmlReply(service.batchListXml());
    }
    if (pairs.contains("processexport")) {
        onlyKeys(pairs, {"processexport", "personid", "persontypeid"});
        if (!sameText(pairs.at("processexport"), "True")) throw RequestError("ProcessExport must be True");
        const auto personId = wholeNumber(required(pairs, "personid", "PersonID"), "PersonID",
                                          std::numeric_limits<std::int32_t>::max());
        const auto personType = wholeNumber(required(pairs, "persontypeid", "PersonTypeID"), "PersonTypeID",
                                            std::numeric_limits<std::int16_t>::max());
        return xmlReply(service.exportBatches(static_cast<std::int32_t>(personId),
                                              static_cast<std::int16_t>(personType)));
    }
    throw RequestError("The batch page needs TSQL=BatchList or ProcessExport=True");
}

HttpReply post(std::string reply) { return {200, std::string(kTextType), std::move(reply)}; }

HttpReply dispatch(Service& service, const HttpRequest& r) {
    const std::string path = lower(r.path);
    const std::string base(kBasePath);
    const bool memberPage = path == base + lower(pages::kMemberPage);
    const bool batchPage = path == base + lower(pages::kBatchPage);
    const bool get = r.method == "GET" || r.method == "HEAD";
    const bool isPost = r.method == "POST";
    if ((!memberPage && !batchPage) || (!get && !isPost)) return textReply(404, "Not found: " + std::string(r.path));
    if (isPost) {
        if (r.body.size() > kMaxBodyBytes) return textReply(413, "The request body is over the 16 MiB limit");
        if (!r.query.empty()) throw RequestError("A post takes no query");
        return post(memberPage ? service.save(r.body) : service.commitStatus(r.body));
    }
    return memberPage ? sweepRows(service, r.query) : batchGet(service, r.query);
}

}  // namespace

HttpReply textReply(int status, std::string line) {
    line += '\n';
    return {status, std::string(kTextType), std::move(line)};
}

HttpReply route(Service& service, const HttpRequest& request) {
    try {
        return dispatch(service, request);
    } catch (const RequestError& e) {
        return textReply(400, e.what());
    } catch (const std::exception& e) {
        return textReply(500, std::string("Server error: ") + e.what());
    }
}

}  // namespace eft::server
