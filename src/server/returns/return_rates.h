#pragma once
// The returns of a window set against the entries sent, per country, and the network's
// thresholds: 0.5 % unauthorized, 3 % administrative, 15 % overall.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "server/output/records.h"
#include "server/returns/return_codes.h"

namespace eft::server {
class Store;
}

namespace eft::server::returns {

inline constexpr double kUnauthorizedThreshold = 0.005;
inline constexpr double kAdministrativeThreshold = 0.03;
inline constexpr double kOverallThreshold = 0.15;

struct CountryRates {
    int country = 1;
    std::int64_t sent = 0;
    std::array<std::int64_t, 4> returns{};  // by ReturnCategory
    std::int64_t total() const { return returns[0] + returns[1] + returns[2] + returns[3]; }
    double rate(std::int64_t n) const { return sent == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(sent); }
    // "unauthorized returns 0.61 % over 0.5 %", one a threshold passed.
    std::vector<std::string> warnings() const;
};

// Within the caller's transaction.
std::vector<CountryRates> returnRates(Store& store, const Timestamp& now, int days);

std::string ratesText(const std::vector<CountryRates>& rates, int days);

// The same as records ("rates"): a row per country, the rates in percent with two decimals,
// the warnings joined by "; ".
output::Records rateRecords(const std::vector<CountryRates>& rates, int days);

// Every threshold passed over the last 60 days, "United States: ..."; empty when none.
std::vector<std::string> rateWarnings(Store& store, const Timestamp& now);

}  // namespace eft::server::returns
