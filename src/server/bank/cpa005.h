#pragma once
// The Canada file: a CPA-005 file of 1464-character logical records, CR LF after each.
//
//   A  header: record count 1, originator id, file creation number, creation date (0YYDDD),
//      destination data centre, currency "CAD"
//   D  debits (centers whose net is due in), then C credits (due out): up to 6 segments of
//      240 characters a record, unused segments blank; each segment holds the transaction
//      type, the amount in cents, the due date (next banking day, 0YYDDD), the center's
//      institution and transit ("0IIITTTTT") and account, the names, a cross reference
//      "<batch>-<center>" and the return account
//   Z  trailer: the value and number of the debit and of the credit transactions (segments)
//
// Every record carries its logical record count (1 for A, counting on) and the originator id
// and file creation number.
#include "server/bank/originator.h"
#include "server/bank/payment.h"

namespace eft::server::bank {

inline constexpr std::size_t kCpaRecordLength = 1464;
inline constexpr std::size_t kCpaSegmentLength = 240;
inline constexpr std::size_t kCpaSegmentsPerRecord = 6;

// A field of a D or C segment as this writer lays it out, positions 1-based within the segment;
// a bank's returned item (I or J) carries the original's fields where the original had them.
struct CpaField {
    std::size_t from;
    std::size_t to;
    constexpr std::size_t width() const { return to - from + 1; }
};
inline constexpr CpaField kCpaAmount{4, 13};
inline constexpr CpaField kCpaDueDate{14, 19};
inline constexpr CpaField kCpaInstitution{21, 23};
inline constexpr CpaField kCpaTransit{24, 28};
inline constexpr CpaField kCpaAccount{29, 40};
inline constexpr CpaField kCpaCrossReference{151, 169};

// "EFT_CA_<batch, 10 digits>.txt". Throws FieldError when a value does not fit its field.
BankFile cpa005File(const BankBatch& batch, const Originator& originator);

}  // namespace eft::server::bank
