#pragma once
// One country's batch as the bank files carry it: a payment per center, the center's bank
// account, and what a written file adds up to.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"

namespace eft::server::bank {

enum class AccountType : int { Checking = 1, Savings = 2 };

// A United States account has a routing number; a Canadian one an institution and a transit.
struct BankAccount {
    std::string routing;      // 9 digits, check digit last (United States)
    std::string institution;  // 3 digits (Canada)
    std::string transit;      // 5 digits (Canada)
    std::string number;       // up to 17 characters (United States) or 12 digits (Canada)
    AccountType type = AccountType::Checking;
};

// Empty when the account can carry a payment of the country; otherwise why not.
std::string accountFault(const BankAccount& a, int country);

// The most one entry and one file total can carry: 10 and 12 digits of cents.
inline constexpr std::int64_t kMaxEntryCents = 9'999'999'999;
inline constexpr std::int64_t kMaxFileTotalCents = 999'999'999'999;

struct Payment {
    std::int32_t centerId = 0;
    std::string name;  // UTF-8
    BankAccount account;
    // The center's net: above 0 due in (a debit of its account), below 0 due out (a credit),
    // 0 nothing to move (no entry).
    std::int64_t cents = 0;
    // A debit presented again after a return the network lets us retry: it travels in a batch
    // of its own ("RETRY PYMT"), at the amount first presented.
    bool retry = false;
};

struct BankBatch {
    std::int32_t batchNo = 0;
    int country = 1;  // 1 United States, 2 Canada
    Timestamp createdAt;
    Date effectiveDate;                // when it settles: the first banking day after creation
    char fileIdModifier = 'A';         // NACHA: tells apart the files of one day
    std::int32_t fileCreationNumber = 1;  // CPA-005: 1..9999, per originator
    std::vector<Payment> payments;     // ascending center id
};

struct FileSummary {
    std::int64_t debitCount = 0;
    std::int64_t debitCents = 0;
    std::int64_t creditCount = 0;
    std::int64_t creditCents = 0;
    std::int64_t entries() const { return debitCount + creditCount; }
};

struct BankFile {
    std::string name;
    std::string text;
    FileSummary summary;
};

// Totals of the payments that make entries.
FileSummary summarize(const std::vector<Payment>& payments);

// A batch's file before its records: "EFT_<country tag>_<batch number, 10 digits>.txt" and its
// totals (which refuse amounts no record could carry).
BankFile startBankFile(std::string_view countryTag, const BankBatch& batch);

}  // namespace eft::server::bank
