#pragma once
// Notifications of change: the receiving bank posted the entry and asks that the next ones
// carry corrected data. The corrected data field (addenda 98) is read by change code into the
// center's fields it corrects; a field made of several values is refused unless it splits
// cleanly, so nothing half-read is ever offered.
#include <string>
#include <string_view>
#include <vector>

namespace eft::server::returns {

// The fields a correction names, as listed.
inline constexpr std::string_view kFieldAccount = "account";
inline constexpr std::string_view kFieldRouting = "routing";
inline constexpr std::string_view kFieldName = "name";
inline constexpr std::string_view kFieldAccountType = "account type";  // "checking" or "savings"
inline constexpr std::string_view kFieldIdentification = "identification";

struct FieldChange {
    std::string field;
    std::string value;
};

struct ParsedCorrection {
    std::vector<FieldChange> changes;
    std::string refused;  // why the data was not read; empty when read
};

// C01–C07 and C09; any other code is refused.
ParsedCorrection parseCorrection(std::string_view code, std::string_view correctedData);

}  // namespace eft::server::returns
