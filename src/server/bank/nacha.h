#pragma once
// The United States file: a NACHA ACH file of 94-character records, CR LF after each.
//
//   1 file header      immediate destination and origin, creation date and time, id modifier
//   5 batch header     one CCD batch; service class 200 (debits and credits), 225 (debits
//                      only) or 220 (credits only); effective entry date the next banking day
//   6 entry detail     one per center with a net to move: debit (27 checking, 37 savings)
//                      when due in, credit (22, 32) when due out; trace number = ODFI's
//                      first 8 digits + a 7-digit sequence
//   8 batch control    entry count, entry hash (sum of the receiving banks' first 8 routing
//                      digits, last 10 digits kept), total debits, total credits
//   9 file control     batch count, block count, entry count, hash, totals
//   then "9" filler records up to a multiple of 10 (blocking factor 10).
//
// A batch whose centers all net zero makes a file with no batch.
#include "server/bank/originator.h"
#include "server/bank/payment.h"

namespace eft::server::bank {

inline constexpr std::size_t kNachaRecordLength = 94;

// "EFT_US_<batch, 10 digits>.txt". Throws FieldError when a value does not fit its field.
BankFile nachaFile(const BankBatch& batch, const Originator& originator);

}  // namespace eft::server::bank
