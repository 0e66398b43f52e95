#pragma once
// Bank answer files for tests, written from the published layouts (not from the server's
// writers): a NACHA return file (entries with addenda 99) with notifications of change (COR
// entries with addenda 98), a CPA-005 returned-items file (records I and J), and a bank's CSV
// report. Each is whole: control records with their counts, hashes and totals, '9' filler.
#include <cstddef>
#include <string>
#include <vector>

#include "server/bank/originator.h"
#include "server/bank/payment.h"
#include "server/returns/bank_answer.h"

namespace eft::server::testing {

struct AnswerItem {
    returns::SentEntry original;  // the entry returned (trace, center, amount, direction, date)
    std::string code;             // "R01" or "C01" (NACHA), "901" (CPA-005), any text (CSV)
    std::string date = "2011-03-09";  // ISO: when the bank returns it
    // The account the original went to: NACHA names its routing's first 8 digits and the
    // account, CPA-005 the institution, transit and account.
    bank::BankAccount account{"011000015", "003", "00011", "7654321", bank::AccountType::Checking};
    std::string correctedData;  // a notification of change's (NACHA, 29 characters at most)
};

// Returns in one batch, then notifications of change (codes starting with 'C') in a COR batch;
// each return entry's own trace is the returning bank's routing and its position.
std::string nachaAnswerFile(const std::vector<AnswerItem>& items, const bank::Originator& originator = {});

// Returned debits in J records, returned credits in I records, six segments a record; the
// code written at `reasonPosition` (1-based within the segment).
std::string cpaAnswerFile(const std::vector<AnswerItem>& items, const bank::Originator& originator = {},
                          std::size_t reasonPosition = returns::kCpaReasonPosition);

// "center,batch,code,amount,date" with a header line; a returned credit's amount negative.
std::string csvAnswerFile(const std::vector<AnswerItem>& items);

// A file's records without their CR LF ends, and records joined into a file again: for tests
// that break one record.
std::vector<std::string> recordsOf(const std::string& file);
std::string fileOf(const std::vector<std::string>& records);

}  // namespace eft::server::testing
