#pragma once
// The United States file: a NACHA ACH file of 94-character records, CR LF after each.
//
//   1 file header      immediate destination and origin, creation date and time, id modifier
//   5 batch header     a CCD batch; service class 200 (debits and credits), 225 (debits
//                      only) or 220 (credits only); effective entry date the next banking day;
//                      batch number 1, then 2
//   6 entry detail     one per center with a net to move: debit (27 checking, 37 savings)
//                      when due in, credit (22, 32) when due out; trace number = ODFI's
//                      first 8 digits + a 7-digit sequence (traceSequence)
//   8 batch control    entry count, entry hash (sum of the receiving banks' first 8 routing
//                      digits, last 10 digits kept), total debits, total credits
//   9 file control     batch count, block count, entry count, hash, totals
//   then "9" filler records up to a multiple of 10 (blocking factor 10).
//
// The payments make one batch under the originator's entry description; retried debits
// (Payment::retry) make a second batch of their own, "RETRY PYMT", with the same company name
// and id, as the network requires of a debit presented again. A batch whose centers all net
// zero makes a file with no batch.
#include <cstdint>
#include <string_view>

#include "server/bank/originator.h"
#include "server/bank/payment.h"

namespace eft::server::bank {

inline constexpr std::size_t kNachaRecordLength = 94;
inline constexpr std::string_view kRetryEntryDescription = "RETRY PYMT";

// The last 7 digits of an entry's trace number: the batch number's last 3 digits, then the
// entry's position in its file (1 to 9999, both NACHA batches counted through), so a trace
// names its file as well as its entry. Traces repeat only 1000 batch numbers apart (and the
// files written before this rule, numbered 1, 2, ... in every file, share theirs with batch
// numbers ending in 000): a returned trace is therefore matched with the entry's effective
// date and amount too. A position past 9999 is a FieldError.
std::int64_t traceSequence(std::int32_t batchNo, std::int64_t position);

// "EFT_US_<batch, 10 digits>.txt". Throws FieldError when a value does not fit its field.
BankFile nachaFile(const BankBatch& batch, const Originator& originator);

}  // namespace eft::server::bank
