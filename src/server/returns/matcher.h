#pragma once
// Which sent entry each return of a bank's answer returns, and whether it may be applied. Pure:
// the caller reads what was sent and what was already returned, and applies the outcome.
//
// A NACHA return names the entry by its original trace. Traces are unique across files from
// batch numbers on, but a file made before restarted them at 1, so an old trace may name an
// entry in several files. Those are told apart by the entry's effective date, when the return
// carries it, else by the latest file settled on or before the return date; among them the
// entry must have the return's amount and identification number (center). One left is matched
// "by date and amount"; none or several are unmatched.
// A CPA-005 item and a CSV line name the batch and center themselves.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/calendar.h"
#include "server/bank/bank_calendar.h"
#include "server/bank/payment.h"
#include "server/returns/bank_answer.h"
#include "server/returns/return_codes.h"

namespace eft::server::returns {

struct SentBatch {
    std::int32_t batchNo = 0;
    int country = 1;
    Date settlement;  // the effective date: the first banking day after the export
    std::vector<SentEntry> entries;
};

enum class MatchOutcome {
    Matched,       // applied: the center's item fails
    Unmatched,     // no entry sent carries it
    Duplicate,     // the item was returned already (by an earlier file, or earlier in this one)
    Late,          // past the code's return window
    Differing,     // amount, direction, center or account not those sent
    OutsideBatch,  // the batch it names has no entry for the center
    UnknownCode,   // the entry is found; the code is not in the table or could not be read
};
std::string_view outcomeName(MatchOutcome o);

// Whether the outcome changes the item. An unknown code still means the money came back, so
// the item fails, for manual review; every other outcome is listed and left for review.
bool applies(MatchOutcome o);

struct Match {
    std::size_t index = 0;  // in the answer's returns
    MatchOutcome outcome = MatchOutcome::Unmatched;
    std::int32_t batchNo = 0;  // of the entry found; 0 when none
    std::int32_t centerId = 0;
    bool byFallback = false;  // found by effective date and amount, the trace naming several files
    bool retry = false;       // the entry returned was a retry
    std::string detail;       // why, for the table
};

struct MatchContext {
    std::vector<SentBatch> batches;
    // Items (batch, center) with a return applied before.
    std::set<std::pair<std::int32_t, std::int32_t>> returned;
    // The centers' accounts as recorded now: a CPA-005 item is checked against the institution
    // and account its entry was sent to, and against these only when the entry does not say.
    std::map<std::int32_t, bank::BankAccount> accounts;
    bank::BankCalendar calendar;
    int marginDays = 0;  // days allowed past the window for the returns file to arrive
};

std::vector<Match> matchReturns(const std::vector<ReturnedEntry>& returns, const MatchContext& context);

// The last day a return of `code` may come for an entry settled on `settlement`: two banking
// days of the country after it, or sixty calendar days for the codes the network gives that
// long, plus the margin.
Date returnDeadline(const ReturnCode& code, int country, const Date& settlement, const bank::BankCalendar& calendar,
                    int marginDays);

// Whether the code is in the table.
bool knownCode(std::string_view code);

}  // namespace eft::server::returns
