#include "answer_files.h"

#include <cstdio>
#include <stdexcept>

namespace eft::server::testing {
namespace {

std::string num(std::int64_t value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (value < 0 || digits.size() > width) throw std::invalid_argument("fixture: " + digits + " in " + std::to_string(width));
    return std::string(width - digits.size(), '0') + digits;
}

std::string alpha(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

int isoPart(const std::string& iso, std::size_t at, std::size_t n) { return std::stoi(iso.substr(at, n)); }

std::string yymmdd(const std::string& iso) {
    return num(isoPart(iso, 2, 2), 2) + num(isoPart(iso, 5, 2), 2) + num(isoPart(iso, 8, 2), 2);
}

std::string julian(const std::string& iso) {
    static constexpr int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int year = isoPart(iso, 0, 4), month = isoPart(iso, 5, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return "0" + num(year % 100, 2) + num(kBefore[month - 1] + (leap && month > 2 ? 1 : 0) + isoPart(iso, 8, 2), 3);
}

constexpr const char* kBankRouting = "021000021";  // the returning bank

// One NACHA batch: the header, entries each with one addenda, the control.
void nachaBatch(std::vector<std::string>& out, const std::vector<const AnswerItem*>& items, bool notices, int number,
                std::int64_t& sequence, std::int64_t& fileHash, std::int64_t& fileDebits, std::int64_t& fileCredits,
                const bank::Originator& o) {
    std::vector<std::string> body;
    std::int64_t hash = 0, debits = 0, credits = 0;
    bool anyDebit = false, anyCredit = false;
    for (const AnswerItem* item : items) {
        const returns::SentEntry& e = item->original;
        const bool savings = item->account.type == bank::AccountType::Savings;
        const bool debit = e.direction == returns::Direction::Debit;
        // 26 and 36 return debits (27, 37), 21 and 31 credits (22, 32): the first digit names
        // the account, the second the return's family.
        const std::string code = std::string(savings ? "3" : "2") + (debit ? "6" : "1");
        const std::int64_t cents = notices ? 0 : e.cents;
        (debit ? debits : credits) += cents;
        (debit ? anyDebit : anyCredit) = true;
        hash += std::stoll(o.odfiRouting.substr(0, 8));
        const std::string trace = std::string(kBankRouting).substr(0, 8) + num(++sequence, 7);
        body.push_back("6" + code + o.odfiRouting + alpha(item->account.number, 17) + num(cents, 10) +
                       alpha(std::to_string(e.centerId), 15) + alpha("CENTER " + std::to_string(e.centerId), 22) + "  1" +
                       trace);
        body.push_back(std::string("7") + (notices ? "98" : "99") + alpha(item->code, 3) + alpha(e.trace, 15) +
                       std::string(6, ' ') + item->account.routing.substr(0, 8) +
                       (notices ? alpha(item->correctedData, 29) + std::string(15, ' ') : std::string(44, ' ')) + trace);
    }
    hash %= 10'000'000'000;
    const std::string serviceClass = anyDebit && anyCredit ? "200" : anyCredit ? "220" : "225";
    const std::string date = items.front()->date;
    out.push_back("5" + serviceClass + alpha(o.companyName, 16) + alpha("", 20) + alpha(o.companyId, 10) +
                  (notices ? "COR" : "CCD") + alpha(notices ? "NOC" : o.entryDescription, 10) + std::string(6, ' ') +
                  yymmdd(date) + "   " + "1" + std::string(kBankRouting).substr(0, 8) + num(number, 7));
    out.insert(out.end(), body.begin(), body.end());
    out.push_back("8" + serviceClass + num(static_cast<std::int64_t>(body.size()), 6) + num(hash, 10) + num(debits, 12) +
                  num(credits, 12) + alpha(o.companyId, 10) + std::string(25, ' ') +
                  std::string(kBankRouting).substr(0, 8) + num(number, 7));
    fileHash = (fileHash + hash) % 10'000'000'000;
    fileDebits += debits;
    fileCredits += credits;
}

}  // namespace

std::string nachaAnswerFile(const std::vector<AnswerItem>& items, const bank::Originator& o) {
    std::vector<const AnswerItem*> groups[2];
    for (const AnswerItem& item : items) groups[item.code.starts_with("C") ? 1 : 0].push_back(&item);
    const std::string date = items.empty() ? "2011-03-09" : items.front().date;
    std::vector<std::string> r;
    r.push_back("101 " + o.odfiRouting + " " + kBankRouting + yymmdd(date) + "0800" + "A094101" +
                alpha(o.originName, 23) + alpha("RETURNING BANK", 23) + alpha("", 8));
    std::int64_t sequence = 0, hash = 0, debits = 0, credits = 0, batches = 0;
    for (const bool notices : {false, true}) {
        if (groups[notices ? 1 : 0].empty()) continue;
        nachaBatch(r, groups[notices ? 1 : 0], notices, static_cast<int>(++batches), sequence, hash, debits, credits, o);
    }
    const std::int64_t records = static_cast<std::int64_t>(r.size()) + 1;
    r.push_back("9" + num(batches, 6) + num((records + 9) / 10, 6) + num(static_cast<std::int64_t>(items.size()) * 2, 8) +
                num(hash, 10) + num(debits, 12) + num(credits, 12) + std::string(39, ' '));
    while (r.size() % 10 != 0) r.push_back(std::string(94, '9'));
    return fileOf(r);
}

std::string cpaAnswerFile(const std::vector<AnswerItem>& items, const bank::Originator& o, std::size_t reasonPosition) {
    const std::string date = items.empty() ? "2011-03-09" : items.front().date;
    const std::string control = alpha(o.cpaOriginatorId, 10) + "0042";
    std::vector<std::string> r;
    const auto start = [&](char type) { return type + num(static_cast<std::int64_t>(r.size()) + 1, 9) + control; };
    r.push_back(start('A') + julian(date) + o.cpaDataCentre + std::string(20, ' ') + "CAD");
    std::int64_t totals[2] = {0, 0}, counts[2] = {0, 0};
    for (const bool debits : {true, false}) {
        std::string record;
        int inRecord = 0;
        for (const AnswerItem& item : items) {
            const returns::SentEntry& e = item.original;
            if ((e.direction == returns::Direction::Debit) != debits) continue;
            if (inRecord == 0) record = start(debits ? 'J' : 'I');
            const std::string reference =
                e.trace.empty() ? std::to_string(e.batchNo) + "-" + std::to_string(e.centerId) : e.trace;
            std::string segment = std::string(debits ? o.cpaDebitCode : o.cpaCreditCode) + num(e.cents, 10) +
                                  julian(e.effectiveDate.empty() ? date : e.effectiveDate) + "0" +
                                  item.account.institution + item.account.transit + alpha(item.account.number, 12) +
                                  num(static_cast<std::int64_t>(r.size()) * 10 + inRecord, 22) + "000" +
                                  alpha(o.companyShortName, 15) + alpha("CENTER " + std::to_string(e.centerId), 30) +
                                  alpha(o.companyName, 30) + alpha(o.cpaOriginatorId, 10) + alpha(reference, 19) + "0" +
                                  o.returnInstitution + o.returnTransit + alpha(o.returnAccount, 12) +
                                  std::string(15, ' ') + std::string(22, ' ') + "  " + std::string(11, ' ');
            segment.replace(reasonPosition - 1, 3, alpha(item.code, 3));
            record += segment;
            totals[debits ? 0 : 1] += e.cents;
            ++counts[debits ? 0 : 1];
            if (++inRecord == 6) {
                r.push_back(alpha(record, 1464));
                inRecord = 0;
            }
        }
        if (inRecord > 0) r.push_back(alpha(record, 1464));
    }
    r.push_back(start('Z') + num(totals[0], 14) + num(counts[0], 8) + num(totals[1], 14) + num(counts[1], 8) +
                std::string(44, '0'));
    for (std::string& record : r) record = alpha(record, 1464);
    return fileOf(r);
}

std::string csvAnswerFile(const std::vector<AnswerItem>& items) {
    std::string out = "center,batch,code,amount,date\r\n";
    for (const AnswerItem& item : items) {
        const returns::SentEntry& e = item.original;
        char amount[32];
        std::snprintf(amount, sizeof amount, "%s%lld.%02lld", e.direction == returns::Direction::Credit ? "-" : "",
                      static_cast<long long>(e.cents / 100), static_cast<long long>(e.cents % 100));
        out += std::to_string(e.centerId) + "," + std::to_string(e.batchNo) + "," + item.code + "," + amount + "," +
               item.date + "\r\n";
    }
    return out;
}

std::vector<std::string> recordsOf(const std::string& file) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < file.size()) {
        const std::size_t end = file.find("\r\n", at);
        out.push_back(file.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? file.size() : end + 2;
    }
    return out;
}

std::string fileOf(const std::vector<std::string>& records) {
    std::string out;
    for (const std::string& r : records) out += r + "\r\n";
    return out;
}

}  // namespace eft::server::testing
