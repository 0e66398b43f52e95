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

std::int64_t traceSequence(std::int32_t batchNo, std::int64_t position) {
    if (position < 1 || position > 9999)
        throw FieldError("a NACHA file holds at most 9999 entries (entry " + std::to_string(position) + ")");
    return static_cast<std::int64_t>(batchNo % 1000) * 10'000 + position;
}

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

    // The first batch carries the regular payments, the second the retried ones.
    std::vector<const Payment*> groups[2];
    for (const Payment& p : batch.payments)
        if (p.cents != 0) groups[p.retry ? 1 : 0].push_back(&p);
    const std::string companyId = alphaField(o.companyId, 10, "companyId");
    std::int64_t hash = 0, batches = 0, position = 0;
    for (const bool retry : {false, true}) {
        const std::vector<const Payment*>& payments = groups[retry ? 1 : 0];
        if (payments.empty()) continue;
        std::int64_t batchHash = 0, debits = 0, credits = 0, debitCount = 0;
        for (const Payment* p : payments) {
            (p->cents > 0 ? debits : credits) += p->cents > 0 ? p->cents : -p->cents;
            debitCount += p->cents > 0 ? 1 : 0;
        }
        const std::int64_t count = static_cast<std::int64_t>(payments.size());
        const char* serviceClass = debitCount == count ? "225" : debitCount == 0 ? "220" : "200";
        const std::string batchNumber = numberField(++batches, 7, "batch number");
        add(out,
            std::string("5") + serviceClass + nameField(o.companyName, 16) +
                alphaField("BATCH " + std::to_string(batch.batchNo), 20, "discretionary data") + companyId + "CCD" +
                nameField(retry ? kRetryEntryDescription : std::string_view(o.entryDescription), 10) + yymmdd(created) +
                yymmdd(batch.effectiveDate) + "   " + "1" + odfi + batchNumber,
            records);
        for (const Payment* p : payments) {
            const bool savings = p->account.type == AccountType::Savings;
            const char* code = p->cents > 0 ? (savings ? "37" : "27") : (savings ? "32" : "22");
            const std::string& routing = p->account.routing;
            if (!validRoutingNumber(routing))
                throw FieldError("center " + std::to_string(p->centerId) + " has no valid routing number");
            batchHash = (batchHash + std::stoll(routing.substr(0, 8))) % kHashModulus;
            add(out,
                std::string("6") + code + routing + alphaField(p->account.number, 17, "account number") +
                    numberField(p->cents > 0 ? p->cents : -p->cents, 10, "entry amount") +
                    alphaField(std::to_string(p->centerId), 15, "identification number") + nameField(p->name, 22) +
                    "  " + "0" + odfi + numberField(traceSequence(batch.batchNo, ++position), 7, "trace sequence"),
                records);
        }
        add(out,
            std::string("8") + serviceClass + numberField(count, 6, "entry count") + numberField(batchHash, 10, "entry hash") +
                numberField(debits, 12, "total debits") + numberField(credits, 12, "total credits") + companyId +
                std::string(19, ' ') + std::string(6, ' ') + odfi + batchNumber,
            records);
        hash = (hash + batchHash) % kHashModulus;
    }
    const std::int64_t blocks = (records + 1 + 9) / 10;
    add(out,
        "9" + numberField(batches, 6, "batch count") + numberField(blocks, 6, "block count") +
            numberField(sum.entries(), 8, "entry count") + numberField(hash, 10, "entry hash") +
            numberField(sum.debitCents, 12, "total debits") + numberField(sum.creditCents, 12, "total credits") +
            std::string(39, ' '),
        records);
    while (records % 10 != 0) add(out, std::string(kNachaRecordLength, '9'), records);
    return file;
}

}  // namespace eft::server::bank
