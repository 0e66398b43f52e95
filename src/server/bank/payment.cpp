#include "server/bank/payment.h"

#include "server/bank/bank_text.h"

namespace eft::server::bank {

std::string accountFault(const BankAccount& a, int country) {
    if (country == 2) {
        if (!allDigits(a.institution, 3, 3)) return "no institution number (3 digits)";
        if (!allDigits(a.transit, 5, 5)) return "no transit number (5 digits)";
        if (!allDigits(a.number, 1, 12)) return "no account number (up to 12 digits)";
    } else {
        if (!validRoutingNumber(a.routing)) return "no valid routing number";
        if (a.number.empty() || a.number.size() > 17) return "no account number (up to 17 characters)";
        for (const char c : a.number)
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '-'))
                return "an account number with characters other than digits, capitals and '-'";
    }
    if (a.type != AccountType::Checking && a.type != AccountType::Savings) return "no account type";
    return {};
}

FileSummary summarize(const std::vector<Payment>& payments) {
    FileSummary s;
    for (const Payment& p : payments) {
        // Checked first, so no sum below can overflow.
        if (p.cents > kMaxEntryCents || p.cents < -kMaxEntryCents)
            throw FieldError("the amount of center " + std::to_string(p.centerId) + " does not fit in 10 digits of cents");
        if (p.cents > 0) {
            ++s.debitCount;
            s.debitCents += p.cents;
        } else if (p.cents < 0) {
            ++s.creditCount;
            s.creditCents -= p.cents;
        }
    }
    if (s.debitCents > kMaxFileTotalCents || s.creditCents > kMaxFileTotalCents)
        throw FieldError("the file's totals do not fit in 12 digits of cents");
    return s;
}

BankFile startBankFile(std::string_view countryTag, const BankBatch& batch) {
    BankFile file;
    file.name = "EFT_" + std::string(countryTag) + "_" + numberField(batch.batchNo, 10, "batch number") + ".txt";
    file.summary = summarize(batch.payments);
    return file;
}

}  // namespace eft::server::bank
