#include "server/returns/return_rates.h"

#include <cstdio>

#include "server/store/clock.h"
#include "server/store/store.h"

namespace eft::server::returns {
namespace {

std::string percent(double r) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %%", r * 100);
    return text;
}

std::string countryText(int country) { return country == 2 ? "Canada" : "United States"; }

}  // namespace

std::vector<std::string> CountryRates::warnings() const {
    std::vector<std::string> out;
    const auto check = [&](const char* what, std::int64_t n, double threshold) {
        if (rate(n) > threshold)
            out.push_back(std::string(what) + " returns " + percent(rate(n)) + ", over " + percent(threshold));
    };
    check("unauthorized", returns[static_cast<int>(ReturnCategory::Unauthorized)], kUnauthorizedThreshold);
    check("administrative", returns[static_cast<int>(ReturnCategory::Administrative)], kAdministrativeThreshold);
    check("all", total(), kOverallThreshold);
    return out;
}

std::vector<CountryRates> returnRates(Store& store, const Timestamp& now, int days) {
    const std::string since = isoText(Timestamp::from(addDays(now.date(), -days)));
    std::vector<CountryRates> out{{1, 0, {}}, {2, 0, {}}};
    for (const auto& [country, n] : store.entriesSentSince(since)) out[country == 2 ? 1 : 0].sent = n;
    for (const Store::ReturnCount& r : store.returnsSince(since.substr(0, 10)))
        out[r.country == 2 ? 1 : 0].returns[static_cast<int>(returnCode(r.code).category)] += r.count;
    return out;
}

std::string ratesText(const std::vector<CountryRates>& rates, int days) {
    std::string out = "Returns over the last " + std::to_string(days) + " days\n";
    for (const CountryRates& c : rates) {
        out += countryText(c.country) + ": " + std::to_string(c.sent) + " entries sent, " + std::to_string(c.total()) +
               " returned (" + percent(c.rate(c.total())) + ", threshold " + percent(kOverallThreshold) + ")\n";
        for (const ReturnCategory k : {ReturnCategory::MayRetry, ReturnCategory::Administrative,
                                       ReturnCategory::Unauthorized, ReturnCategory::ManualReview}) {
            const std::int64_t n = c.returns[static_cast<int>(k)];
            out += "  " + std::string(categoryName(k)) + ": " + std::to_string(n) + " (" + percent(c.rate(n));
            if (k == ReturnCategory::Administrative) out += ", threshold " + percent(kAdministrativeThreshold);
            if (k == ReturnCategory::Unauthorized) out += ", threshold " + percent(kUnauthorizedThreshold);
            out += ")\n";
        }
        for (const std::string& w : c.warnings()) out += "  WARNING: " + w + "\n";
    }
    return out;
}

output::Records rateRecords(const std::vector<CountryRates>& rates, int days) {
    output::Records r{"rates",
                      {"country", "days", "entries_sent", "may_retry", "administrative", "unauthorized", "manual_review",
                       "returned", "administrative_percent", "unauthorized_percent", "overall_percent", "warnings"},
                      {}};
    const auto percentOnly = [](double rate) {
        std::string p = percent(rate);
        return p.substr(0, p.size() - 2);  // without " %"
    };
    for (const CountryRates& c : rates) {
        std::string warnings;
        for (const std::string& w : c.warnings()) warnings += (warnings.empty() ? "" : "; ") + w;
        r.add({countryText(c.country), std::int64_t{days}, c.sent, c.returns[0], c.returns[1], c.returns[2],
               c.returns[3], c.total(), percentOnly(c.rate(c.returns[1])), percentOnly(c.rate(c.returns[2])),
               percentOnly(c.rate(c.total())), warnings});
    }
    return r;
}

std::vector<std::string> rateWarnings(Store& store, const Timestamp& now) {
    std::vector<std::string> out;
    for (const CountryRates& c : returnRates(store, now, 60))
        for (const std::string& w : c.warnings()) out.push_back(countryText(c.country) + ": " + w);
    return out;
}

}  // namespace eft::server::returns
