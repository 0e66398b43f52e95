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
        {"R01", "Insufficient funds", C::MayRetry, kTwoBankingDays,
         "Provision insuffisante"},
        {"R02", "Account closed", C::Administrative, kTwoBankingDays,
         "Compte fermé"},
        {"R03", "No account / unable to locate account", C::Administrative, kTwoBankingDays,
         "Compte inexistant ou introuvable"},
        {"R04", "Invalid account number structure", C::Administrative, kTwoBankingDays,
         "Structure du numéro de compte invalide"},
        {"R05", "Unauthorized debit to consumer account using corporate SEC code", C::Unauthorized, kSixtyDays,
         "Débit non autorisé d'un compte de particulier sous un code SEC d'entreprise"},
        {"R06", "Returned per ODFI's request", C::ManualReview, kTwoBankingDays,
         "Retourné à la demande de l'ODFI"},
        {"R07", "Authorization revoked by customer", C::Unauthorized, kSixtyDays,
         "Autorisation révoquée par le client"},
        {"R08", "Payment stopped", C::ManualReview, kTwoBankingDays,
         "Paiement arrêté"},
        {"R09", "Uncollected funds", C::MayRetry, kTwoBankingDays,
         "Fonds non encaissés"},
        {"R10", "Customer advises not authorized", C::Unauthorized, kSixtyDays,
         "Le client déclare ne pas l'avoir autorisé"},
        {"R11", "Customer advises entry not in accordance with the terms of the authorization", C::Unauthorized,
         kSixtyDays,
         "Le client déclare l'écriture non conforme aux termes de l'autorisation"},
        {"R12", "Account sold to another DFI", C::Administrative, kTwoBankingDays,
         "Compte cédé à une autre institution"},
        {"R13", "Invalid ACH routing number", C::ManualReview, kTwoBankingDays,
         "Numéro d'acheminement ACH invalide"},
        {"R14", "Representative payee deceased", C::ManualReview, kTwoBankingDays,
         "Bénéficiaire représentant décédé"},
        {"R15", "Beneficiary or account holder deceased", C::ManualReview, kTwoBankingDays,
         "Bénéficiaire ou titulaire du compte décédé"},
        {"R16", "Account frozen", C::ManualReview, kTwoBankingDays,
         "Compte bloqué"},
        {"R17", "File record edit criteria", C::ManualReview, kTwoBankingDays,
         "Critères de validation de l'enregistrement"},
        {"R20", "Non-transaction account", C::Administrative, kTwoBankingDays,
         "Compte non transactionnel"},
        {"R23", "Credit entry refused by receiver", C::ManualReview, kTwoBankingDays,
         "Crédit refusé par le destinataire"},
        {"R24", "Duplicate entry", C::ManualReview, kTwoBankingDays,
         "Écriture en double"},
        {"R29", "Corporate customer advises not authorized", C::Unauthorized, kTwoBankingDays,
         "L'entreprise cliente déclare ne pas l'avoir autorisé"},
        {"R31", "Permissible return entry", C::ManualReview, kTwoBankingDays,
         "Retour admissible"},
        // Payments Canada returned item reason codes
        {"901", "NSF (debit only)", C::MayRetry, kTwoBankingDays,
         "Provision insuffisante (débit seulement)"},
        {"902", "Account not found", C::Administrative, kTwoBankingDays,
         "Compte introuvable"},
        {"903", "Payment stopped/recalled", C::ManualReview, kTwoBankingDays,
         "Paiement arrêté ou rappelé"},
        {"904", "Post/stale dated", C::ManualReview, kTwoBankingDays,
         "Postdaté ou périmé"},
        {"905", "Account closed", C::Administrative, kTwoBankingDays,
         "Compte fermé"},
        {"907", "No debit allowed", C::Administrative, kTwoBankingDays,
         "Aucun débit permis"},
        {"908", "Funds not cleared", C::MayRetry, kTwoBankingDays,
         "Fonds non compensés"},
        {"909", "Currency/account mismatch", C::Administrative, kTwoBankingDays,
         "Devise et compte incompatibles"},
        {"910", "Payor/payee deceased", C::ManualReview, kTwoBankingDays,
         "Payeur ou bénéficiaire décédé"},
        {"911", "Account frozen", C::Administrative, kTwoBankingDays,
         "Compte bloqué"},
        {"912", "Invalid/incorrect account number", C::Administrative, kTwoBankingDays,
         "Numéro de compte invalide ou erroné"},
        {"914", "Incorrect payor/payee name", C::ManualReview, kTwoBankingDays,
         "Nom du payeur ou du bénéficiaire erroné"},
        {"915", "No agreement existed - business/personal", C::Unauthorized, kSixtyDays,
         "Aucune entente - entreprise ou particulier"},
        {"916", "Not in accordance with agreement - personal", C::Unauthorized, kSixtyDays,
         "Non conforme à l'entente - particulier"},
        {"917", "Agreement revoked - personal", C::Unauthorized, kSixtyDays,
         "Entente révoquée - particulier"},
        {"918", "No confirmation/pre-notification - personal", C::Unauthorized, kSixtyDays,
         "Aucune confirmation ni préavis - particulier"},
        {"919", "Not in accordance with agreement - business", C::Unauthorized, kSixtyDays,
         "Non conforme à l'entente - entreprise"},
        {"920", "Agreement revoked - business", C::Unauthorized, kSixtyDays,
         "Entente révoquée - entreprise"},
        {"921", "No pre-notification - business", C::Unauthorized, kSixtyDays,
         "Aucun préavis - entreprise"},
        {"922", "Customer initiated return", C::ManualReview, kTwoBankingDays,
         "Retour à l'initiative du client"},
        {"990", "Institution in default", C::ManualReview, kTwoBankingDays,
         "Institution en défaut"},
    };
    return rows;
}

}  // namespace

ReturnCode returnCode(std::string_view code) {
    const auto& rows = table();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const ReturnCode& r) { return r.code == code; });
    if (it != rows.end()) return *it;
    return {code, "Unknown return code", C::ManualReview, kTwoBankingDays, "Code de retour inconnu"};
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
