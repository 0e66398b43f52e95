#include "server/bank/cpa005.h"

#include "server/bank/bank_text.h"

namespace eft::server::bank {
namespace {

struct Writer {
    std::string& out;
    std::string control;  // originator id and file creation number
    std::int64_t count = 0;

    void add(std::string record) {
        if (record.size() > kCpaRecordLength)
            throw FieldError("internal: a CPA-005 record of " + std::to_string(record.size()) + " characters");
        record.resize(kCpaRecordLength, ' ');
        out += record;
        out += "\r\n";
    }
    std::string start(char type) { return type + numberField(++count, 9, "logical record count") + control; }
};

std::string segment(const Payment& p, const BankBatch& batch, const Originator& o, const std::string& due) {
    const BankAccount& a = p.account;
    if (!allDigits(a.institution, kCpaInstitution.width(), kCpaInstitution.width()) ||
        !allDigits(a.transit, kCpaTransit.width(), kCpaTransit.width()) || !allDigits(a.number, 1, kCpaAccount.width()))
        throw FieldError("center " + std::to_string(p.centerId) + " has no valid Canadian account");
    std::string out = (p.cents > 0 ? o.cpaDebitCode : o.cpaCreditCode) +
                      numberField(p.cents > 0 ? p.cents : -p.cents, kCpaAmount.width(), "amount") + due + "0" +
                      a.institution + a.transit + alphaField(a.number, kCpaAccount.width(), "account number") +
                      std::string(22, '0') + "000" + nameField(o.companyShortName, 15) + nameField(p.name, 30) +
                      nameField(o.companyName, 30) + alphaField(o.cpaOriginatorId, 10, "cpaOriginatorId");
    // The fields the bank's returned items are read back by must be where their positions say.
    if (out.size() != kCpaCrossReference.from - 1)
        throw FieldError("internal: a CPA-005 cross reference at position " + std::to_string(out.size() + 1));
    return out + alphaField(std::to_string(batch.batchNo) + "-" + std::to_string(p.centerId), kCpaCrossReference.width(),
                            "cross reference") +
           "0" + o.returnInstitution + o.returnTransit + alphaField(o.returnAccount, 12, "returnAccount") +
           std::string(15, ' ') + std::string(22, ' ') + std::string(2, ' ') + std::string(11, '0');
}

}  // namespace

BankFile cpa005File(const BankBatch& batch, const Originator& o) {
    BankFile file = startBankFile("CA", batch);
    const FileSummary& sum = file.summary;
    const Date created = batch.createdAt.date();
    const std::string due = julianDate(batch.effectiveDate);

    const std::int64_t segments = sum.entries();
    file.text.reserve(static_cast<std::size_t>(segments / 6 + 4) * (kCpaRecordLength + 2));
    Writer w{file.text, alphaField(o.cpaOriginatorId, 10, "cpaOriginatorId") +
                            numberField(batch.fileCreationNumber, 4, "file creation number")};
    if (batch.fileCreationNumber < 1) throw FieldError("the file creation number must be 1 to 9999");
    w.add(w.start('A') + julianDate(created) + alphaField(o.cpaDataCentre, 5, "cpaDataCentre") + std::string(20, ' ') +
          "CAD");
    for (const bool debits : {true, false}) {
        std::string record;
        std::size_t inRecord = 0;
        for (const Payment& p : batch.payments) {
            if (p.cents == 0 || (p.cents > 0) != debits) continue;
            if (inRecord == 0) record = w.start(debits ? 'D' : 'C');
            record += segment(p, batch, o, due);
            if (++inRecord == kCpaSegmentsPerRecord) {
                w.add(std::move(record));
                inRecord = 0;
            }
        }
        if (inRecord > 0) w.add(std::move(record));
    }
    w.add(w.start('Z') + numberField(sum.debitCents, 14, "total debits") + numberField(sum.debitCount, 8, "debit count") +
          numberField(sum.creditCents, 14, "total credits") + numberField(sum.creditCount, 8, "credit count") +
          std::string(14, '0') + std::string(8, '0') + std::string(14, '0') + std::string(8, '0'));
    return file;
}

}  // namespace eft::server::bank
