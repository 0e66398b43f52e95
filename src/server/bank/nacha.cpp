#include "server/bank/nacha.h"

#include "server/bank/bank_text.h"

namespace eft::server::bank {
namespace {

constexpr std::int64_t kHashModulus = 10'000'000'000;

void add(std::string& out, const std::string& record, std::int64_t& count) {
    if (record.size() != kNachaRecordLength)
        throw FieldError("internal: a NACHA record of " + std::to_string(record.size()) + " characters");
    out += record;
    out += "\r\n";
    ++count;
}

std::string hhmm(const Timestamp& t) {
    return numberField(t.hour(), 2, "hour") + numberField(t.minute(), 2, "minute");
}

}  // namespace

BankFile nachaFile(const BankBatch& batch, const Originator& o) {
    BankFile file = startBankFile("US", batch);
    const FileSummary& sum = file.summary;
    const Date created = batch.createdAt.date();
    const std::string odfi = o.odfiRouting.substr(0, 8);

    std::string& out = file.text;
    out.reserve((static_cast<std::size_t>(sum.entries()) + 14) * (kNachaRecordLength + 2));
    std::int64_t records = 0;
    add(out,
        "101 " + alphaField(o.destinationRouting, 9, "destinationRouting") + " " +
            alphaField(o.odfiRouting, 9, "odfiRouting") + yymmdd(created) + hhmm(batch.createdAt) +
            batch.fileIdModifier + "094" + "10" + "1" + nameField(o.destinationName, 23) + nameField(o.originName, 23) +
            alphaField(std::to_string(batch.batchNo % 100'000'000), 8, "reference code"),
        records);

    std::int64_t hash = 0;
    if (sum.entries() > 0) {
        const char* serviceClass = sum.creditCount == 0 ? "225" : sum.debitCount == 0 ? "220" : "200";
        const std::string companyId = alphaField(o.companyId, 10, "companyId");
        add(out,
            std::string("5") + serviceClass + nameField(o.companyName, 16) +
                alphaField("BATCH " + std::to_string(batch.batchNo), 20, "discretionary data") + companyId + "CCD" +
                nameField(o.entryDescription, 10) + yymmdd(created) + yymmdd(batch.effectiveDate) + "   " + "1" +
                odfi + "0000001",
            records);
        std::int64_t sequence = 0;
        for (const Payment& p : batch.payments) {
            if (p.cents == 0) continue;
            const bool savings = p.account.type == AccountType::Savings;
            const char* code = p.cents > 0 ? (savings ? "37" : "27") : (savings ? "32" : "22");
            const std::string& routing = p.account.routing;
            if (!validRoutingNumber(routing))
                throw FieldError("center " + std::to_string(p.centerId) + " has no valid routing number");
            hash = (hash + std::stoll(routing.substr(0, 8))) % kHashModulus;
            add(out,
                std::string("6") + code + routing + alphaField(p.account.number, 17, "account number") +
                    numberField(p.cents > 0 ? p.cents : -p.cents, 10, "entry amount") +
                    alphaField(std::to_string(p.centerId), 15, "identification number") + nameField(p.name, 22) +
                    "  " + "0" + odfi + numberField(++sequence, 7, "trace sequence"),
                records);
        }
        add(out,
            std::string("8") + serviceClass + numberField(sum.entries(), 6, "entry count") +
                numberField(hash, 10, "entry hash") + numberField(sum.debitCents, 12, "total debits") +
                numberField(sum.creditCents, 12, "total credits") + companyId + std::string(19, ' ') +
                std::string(6, ' ') + odfi + "0000001",
            records);
    }
    const std::int64_t blocks = (records + 1 + 9) / 10;
    add(out,
        "9" + numberField(sum.entries() > 0 ? 1 : 0, 6, "batch count") + numberField(blocks, 6, "block count") +
            numberField(sum.entries(), 8, "entry count") + numberField(hash, 10, "entry hash") +
            numberField(sum.debitCents, 12, "total debits") + numberField(sum.creditCents, 12, "total credits") +
            std::string(39, ' '),
        records);
    while (records % 10 != 0) add(out, std::string(kNachaRecordLength, '9'), records);
    return file;
}

}  // namespace eft::server::bank
