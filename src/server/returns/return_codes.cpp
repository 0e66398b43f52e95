#include "server/returns/return_codes.h"

#include <algorithm>

namespace eft::server::returns {
namespace {

constexpr int kTwoBankingDays = 2;
constexpr int kSixtyDays = 60;

using C = ReturnCategory;

const std::vector<ReturnCode>& table() {
    static const std::vector<ReturnCode> rows = {
        // NACHA return reason codes
        {"R01", "Insufficient funds", C::MayRetry, kTwoBankingDays},
        {"R02", "Account closed", C::Administrative, kTwoBankingDays},
        {"R03", "No account / unable to locate account", C::Administrative, kTwoBankingDays},
        {"R04", "Invalid account number structure", C::Administrative, kTwoBankingDays},
        {"R05", "Unauthorized debit to consumer account using corporate SEC code", C::Unauthorized, kSixtyDays},
        {"R06", "Returned per ODFI's request", C::ManualReview, kTwoBankingDays},
        {"R07", "Authorization revoked by customer", C::Unauthorized, kSixtyDays},
        {"R08", "Payment stopped", C::ManualReview, kTwoBankingDays},
        {"R09", "Uncollected funds", C::MayRetry, kTwoBankingDays},
        {"R10", "Customer advises not authorized", C::Unauthorized, kSixtyDays},
        {"R11", "Customer advises entry not in accordance with the terms of the authorization", C::Unauthorized,
         kSixtyDays},
        {"R12", "Account sold to another DFI", C::Administrative, kTwoBankingDays},
        {"R13", "Invalid ACH routing number", C::ManualReview, kTwoBankingDays},
        {"R14", "Representative payee deceased", C::ManualReview, kTwoBankingDays},
        {"R15", "Beneficiary or account holder deceased", C::ManualReview, kTwoBankingDays},
        {"R16", "Account frozen", C::ManualReview, kTwoBankingDays},
        {"R17", "File record edit criteria", C::ManualReview, kTwoBankingDays},
        {"R20", "Non-transaction account", C::Administrative, kTwoBankingDays},
        {"R23", "Credit entry refused by receiver", C::ManualReview, kTwoBankingDays},
        {"R24", "Duplicate entry", C::ManualReview, kTwoBankingDays},
        {"R29", "Corporate customer advises not authorized", C::Unauthorized, kTwoBankingDays},
        {"R31", "Permissible return entry", C::ManualReview, kTwoBankingDays},
        // Payments Canada returned item reason codes
        {"901", "NSF (debit only)", C::MayRetry, kTwoBankingDays},
        {"902", "Account not found", C::Administrative, kTwoBankingDays},
        {"903", "Payment stopped/recalled", C::ManualReview, kTwoBankingDays},
        {"904", "Post/stale dated", C::ManualReview, kTwoBankingDays},
        {"905", "Account closed", C::Administrative, kTwoBankingDays},
        {"907", "No debit allowed", C::Administrative, kTwoBankingDays},
        {"908", "Funds not cleared", C::MayRetry, kTwoBankingDays},
        {"909", "Currency/account mismatch", C::Administrative, kTwoBankingDays},
        {"910", "Payor/payee deceased", C::ManualReview, kTwoBankingDays},
        {"911", "Account frozen", C::Administrative, kTwoBankingDays},
        {"912", "Invalid/incorrect account number", C::Administrative, kTwoBankingDays},
        {"914", "Incorrect payor/payee name", C::ManualReview, kTwoBankingDays},
        {"915", "No agreement existed - business/personal", C::Unauthorized, kSixtyDays},
        {"916", "Not in accordance with agreement - personal", C::Unauthorized, kSixtyDays},
        {"917", "Agreement revoked - personal", C::Unauthorized, kSixtyDays},
        {"918", "No confirmation/pre-notification - personal", C::Unauthorized, kSixtyDays},
        {"919", "Not in accordance with agreement - business", C::Unauthorized, kSixtyDays},
        {"920", "Agreement revoked - business", C::Unauthorized, kSixtyDays},
        {"921", "No pre-notification - business", C::Unauthorized, kSixtyDays},
        {"922", "Customer initiated return", C::ManualReview, kTwoBankingDays},
        {"990", "Institution in default", C::ManualReview, kTwoBankingDays},
    };
    return rows;
}

}  // namespace

ReturnCode returnCode(std::string_view code) {
    const auto& rows = table();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const ReturnCode& r) { return r.code == code; });
    if (it != rows.end()) return *it;
    return {code, "Unknown return code", C::ManualReview, kTwoBankingDays};
}

const std::vector<ReturnCode>& returnCodes() { return table(); }

std::string_view categoryName(ReturnCategory c) {
    switch (c) {
        case C::MayRetry: return "may retry";
        case C::Administrative: return "administrative";
        case C::Unauthorized: return "unauthorized";
        case C::ManualReview: return "manual review";
    }
    return "manual review";
}

ChangeCode changeCode(std::string_view code) {
    static constexpr ChangeCode rows[] = {
        {"C01", "Incorrect DFI account number"},
        {"C02", "Incorrect routing number"},
        {"C03", "Incorrect routing number and incorrect DFI account number"},
        {"C04", "Incorrect individual name / receiving company name"},
        {"C05", "Incorrect transaction code"},
        {"C06", "Incorrect DFI account number and incorrect transaction code"},
        {"C07", "Incorrect routing number, incorrect DFI account number, and incorrect transaction code"},
        {"C08", "Incorrect receiving DFI identification (IAT only)"},
        {"C09", "Incorrect individual identification number"},
    };
    for (const ChangeCode& c : rows)
        if (c.code == code) return c;
    return {code, "Unknown change code"};
}

}  // namespace eft::server::returns
