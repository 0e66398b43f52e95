#pragma once
// Who sends the bank files: the franchisor's company and the banks it deals with, read from a
// JSON file (--originator FILE) that names every field but the optional ones. Without a file
// the demo defaults hold (fictitious numbers), and only a demo database exports with them.
//
//   {
//     "companyName": "EFTMEMB DEMO",          NACHA company name (16), CPA long name (30)
//     "companyShortName": "EFTMEMB",          CPA short name (15)
//     "companyId": "1234567890",              NACHA company identification (10)
//     "entryDescription": "MEMBERSHIP",       NACHA company entry description (10)
//     "odfiRouting": "011000015",             ODFI: immediate origin, trace numbers
//     "originName": "EFTMEMB DEMO",           immediate origin name (23)
//     "destinationRouting": "011000015",      immediate destination
//     "destinationName": "DEMO BANK",         immediate destination name (23)
//     "cpaOriginatorId": "EFTMEMB001",        CPA originator id (10)
//     "cpaDataCentre": "00330",               CPA destination data centre (5 digits)
//     "cpaDebitCode": "730",                  CPA transaction type of debits
//     "cpaCreditCode": "729",                 CPA transaction type of credits
//     "returnInstitution": "003",             account for returned items (CPA)
//     "returnTransit": "00011",
//     "returnAccount": "1234567",
//     "cpaReasonPosition": "230"              optional: where the bank's CPA-005 returned items
//                                             carry their 3-character reason code, 1-based in
//                                             the 240-character segment (1 to 238); banks differ
//   }
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace eft::server::bank {

// The first three of a returned item segment's last field (230-240, the invalid data element
// identifier): where the reason code is read unless the originator file says otherwise.
inline constexpr std::size_t kCpaReasonPosition = 230;

struct Originator {
    std::string companyName = "EFTMEMB DEMO";
    std::string companyShortName = "EFTMEMB";
    std::string companyId = "1234567890";
    std::string entryDescription = "MEMBERSHIP";
    std::string odfiRouting = "011000015";
    std::string originName = "EFTMEMB DEMO";
    std::string destinationRouting = "011000015";
    std::string destinationName = "DEMO BANK";
    std::string cpaOriginatorId = "EFTMEMB001";
    std::string cpaDataCentre = "00330";
    std::string cpaDebitCode = "730";
    std::string cpaCreditCode = "729";
    std::string returnInstitution = "003";
    std::string returnTransit = "00011";
    std::string returnAccount = "1234567";
    std::string cpaReasonPosition = std::to_string(kCpaReasonPosition);  // optional in a file
};

// The fields of a file, by name, in the order above (the optional ones last).
std::vector<std::pair<const char*, std::string Originator::*>> originatorFields();

// Checks every field against what the files can carry; throws FieldError naming the first
// that cannot be carried.
void validate(const Originator& o);

// The demo defaults for an empty path; otherwise the file. Throws std::runtime_error naming the
// file and the fault (unreadable, not JSON, a field that is not a text, an unknown field, every
// missing field, a value that fails validate()). An optional field left out keeps its default.
Originator loadOriginator(const std::filesystem::path& file);

}  // namespace eft::server::bank
