#include "server/bank/originator.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "server/bank/bank_text.h"
#include "server/bank/cpa005.h"

namespace eft::server::bank {
namespace {

// Fields whose default sends no demo detail to a bank, so a file may leave them out.
constexpr const char* kOptionalFields[] = {"cpaReasonPosition"};

}  // namespace

std::vector<std::pair<const char*, std::string Originator::*>> originatorFields() {
    return {{"companyName", &Originator::companyName},
            {"companyShortName", &Originator::companyShortName},
            {"companyId", &Originator::companyId},
            {"entryDescription", &Originator::entryDescription},
            {"odfiRouting", &Originator::odfiRouting},
            {"originName", &Originator::originName},
            {"destinationRouting", &Originator::destinationRouting},
            {"destinationName", &Originator::destinationName},
            {"cpaOriginatorId", &Originator::cpaOriginatorId},
            {"cpaDataCentre", &Originator::cpaDataCentre},
            {"cpaDebitCode", &Originator::cpaDebitCode},
            {"cpaCreditCode", &Originator::cpaCreditCode},
            {"returnInstitution", &Originator::returnInstitution},
            {"returnTransit", &Originator::returnTransit},
            {"returnAccount", &Originator::returnAccount},
            {"cpaReasonPosition", &Originator::cpaReasonPosition}};
}

namespace {

void require(bool ok, const char* field, const std::string& value, const char* rule) {
    if (!ok) throw FieldError(std::string(field) + " \"" + value + "\" must be " + rule);
}

bool printable(const std::string& s, std::size_t maxLength) {
    if (s.empty() || s.size() > maxLength) return false;
    for (const char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

}  // namespace

void validate(const Originator& o) {
    require(printable(o.companyName, 30), "companyName", o.companyName, "1 to 30 ASCII characters");
    require(printable(o.companyShortName, 15), "companyShortName", o.companyShortName, "1 to 15 ASCII characters");
    require(printable(o.companyId, 10), "companyId", o.companyId, "1 to 10 ASCII characters");
    require(printable(o.entryDescription, 10), "entryDescription", o.entryDescription, "1 to 10 ASCII characters");
    require(validRoutingNumber(o.odfiRouting), "odfiRouting", o.odfiRouting, "a routing number (9 digits, check digit)");
    require(printable(o.originName, 23), "originName", o.originName, "1 to 23 ASCII characters");
    require(validRoutingNumber(o.destinationRouting), "destinationRouting", o.destinationRouting,
            "a routing number (9 digits, check digit)");
    require(printable(o.destinationName, 23), "destinationName", o.destinationName, "1 to 23 ASCII characters");
    require(printable(o.cpaOriginatorId, 10), "cpaOriginatorId", o.cpaOriginatorId, "1 to 10 ASCII characters");
    require(allDigits(o.cpaDataCentre, 5, 5), "cpaDataCentre", o.cpaDataCentre, "5 digits");
    require(allDigits(o.cpaDebitCode, 3, 3), "cpaDebitCode", o.cpaDebitCode, "3 digits");
    require(allDigits(o.cpaCreditCode, 3, 3), "cpaCreditCode", o.cpaCreditCode, "3 digits");
    require(allDigits(o.returnInstitution, 3, 3), "returnInstitution", o.returnInstitution, "3 digits");
    require(allDigits(o.returnTransit, 5, 5), "returnTransit", o.returnTransit, "5 digits");
    require(allDigits(o.returnAccount, 1, 12), "returnAccount", o.returnAccount, "1 to 12 digits");
    require(allDigits(o.cpaReasonPosition, 1, 3) && std::stoi(o.cpaReasonPosition) >= 1 &&
                std::stoi(o.cpaReasonPosition) <= static_cast<int>(kCpaSegmentLength - 2),
            "cpaReasonPosition", o.cpaReasonPosition, "a position from 1 to 238");
}

Originator loadOriginator(const std::filesystem::path& file) {
    Originator o;
    if (file.empty()) return o;
    const std::string where = "originator file " + file.string() + ": ";
    std::ifstream in(file);
    if (!in) throw std::runtime_error(where + "cannot be read");
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(where + "is not JSON (" + e.what() + ")");
    }
    if (!json.is_object()) throw std::runtime_error(where + "must hold one JSON object");
    const auto known = originatorFields();
    for (const char* key : kOptionalFields)
        if (!json.contains(key))
            for (const auto& [name, member] : known)
                if (std::string_view(name) == key) json[key] = o.*member;
    for (const auto& [key, value] : json.items()) {
        auto it = known.begin();
        while (it != known.end() && key != it->first) ++it;
        if (it == known.end()) throw std::runtime_error(where + "unknown field \"" + key + "\"");
        if (!value.is_string()) throw std::runtime_error(where + "field \"" + key + "\" must be a text");
        o.*(it->second) = value.get<std::string>();
    }
    // A real originator names every field: a default left in place would send demo details to a bank.
    // All at once: the administrator mends the file once, not once per start.
    std::string missing;
    std::size_t count = 0;
    for (const auto& [key, member] : known) {
        if (json.contains(key)) continue;
        missing += (count++ > 0 ? ", \"" : "\"") + std::string(key) + "\"";
    }
    if (count == 1) throw std::runtime_error(where + "the field " + missing + " is missing");
    if (count > 1) throw std::runtime_error(where + "the fields " + missing + " are missing");
    try {
        validate(o);
    } catch (const FieldError& e) {
        throw std::runtime_error(where + e.what());
    }
    return o;
}

}  // namespace eft::server::bank
