#pragma once
// `eft-server returns`: the bank's answer files read, matched to the entries sent, and applied
// by the return codes' rules in one transaction; and the batches whose return window has passed
// settled by rule.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "server/bank/bank_calendar.h"
#include "server/output/records.h"
#include "server/returns/bank_answer.h"
#include "server/returns/matcher.h"

#include "server/store/store.h"

namespace eft::server::returns {

// The network lets a returned debit be presented again at most this often, within this many
// days of its first presentment.
inline constexpr int kMaxRetries = 2;
inline constexpr int kRetryDays = 180;

struct AnswerInput {
    std::string name;  // as given, for messages and the record
    std::string content;
};

struct ApplyOptions {
    bool dryRun = false;
    std::string by;  // who applies: the account running the command
    Timestamp at;
    bank::BankCalendar calendar;
    int marginDays = 1;  // past the return window, for the returns file to arrive
    ReadOptions read;
    bool applyCorrections = false;  // apply each notification of change as it is read
};

struct AppliedLine {
    std::string file;
    ReturnedEntry entry;
    Match match;
    std::string effect;  // what was done, or would be ("failed, back in the sweep as a retry")
};

struct ApplyResult {
    std::vector<AppliedLine> lines;
    std::vector<ChangeNoticeRow> notices;  // proposed (or applied) corrections, new ones only
    std::vector<std::int32_t> settled;  // batches settled by rule after the returns
    std::string text() const;           // the match table and what it did
    // The same as records: "returns" (a row per return), "corrections" and "settled".
    std::vector<output::Records> records() const;
};

// Reads every file first: one malformed file refuses the run, naming the file, line and field,
// with nothing changed (AnswerFileError's text, after the file's name, in a std::runtime_error).
// Then matches and, unless dry, applies in one write transaction; a return applied before (the
// same file's return of the same trace) is a duplicate and changes nothing.
ApplyResult applyReturns(Store& store, const std::vector<AnswerInput>& files, const ApplyOptions& options);

// The same for answers already read: `names` beside them, one each.
struct NamedAnswer {
    std::string name;
    BankAnswer answer;
};
ApplyResult applyAnswers(Store& store, const std::vector<NamedAnswer>& answers, const ApplyOptions& options);

// Settles every batch whose return window (two banking days of its country after settlement,
// plus the margin) has passed by `at`: its items not returned are cleared, as a status commit
// would. Within the caller's write transaction. The batches settled.
std::vector<std::int32_t> settleByRule(Store& store, const bank::BankCalendar& calendar, int marginDays,
                                       const Timestamp& at);

// The command line's work, printing to `out` and `err`; the exit status (0 done, 1 refused).
struct ReturnsArgs {
    std::string db;
    std::vector<std::string> files;
    bool dryRun = false;
    int marginDays = 1;
    std::string holidays;    // a closures file (bank_calendar.h); empty for the rules alone
    std::string originator;  // the originator file, for where CPA-005 returns carry their code
    std::string by;
    bool applyCorrections = false;
    bool report = false;  // the return rates instead of files
    bool settle = false;  // no files needed: settle the batches whose window has passed
    int days = 60;
    std::string format = "text";  // of the report or the match table: text, csv or json (output/records.h)
};
int runReturns(const ReturnsArgs& args, std::ostream& out, std::ostream& err);

// `eft-server accounts`: lists the centers' holds in `format`; with a center, records a new
// authorization of its debits by `by`, now.
int runAccounts(const std::string& db, std::int32_t authorizeCenter, const std::string& by, output::Format format,
                std::ostream& out, std::ostream& err);

// The holds, lifted ones too, a line each; and as records, "holds".
std::string holdsText(const std::vector<CenterHold>& holds);
output::Records holdRecords(const std::vector<CenterHold>& holds);

// Applies a proposed correction to its center, recorded as applied by `by` at `at`; a block a
// return put on the center's account ends. Throws std::runtime_error when it cannot be applied
// (refused data, no center, applied already, an identification number).
void applyCorrection(Store& store, const ChangeNoticeRow& notice, std::string_view at, std::string_view by);

// The corrections as a table: id, center, field, old and new value, code, date, state.
std::string correctionsText(const std::vector<ChangeNoticeRow>& notices);
// The same as records, "corrections".
output::Records correctionRecords(const std::vector<ChangeNoticeRow>& notices);

// `eft-server corrections`: lists the proposed corrections in `format`, or applies one by its id.
int runCorrections(const std::string& db, std::int64_t applyId, const std::string& by, output::Format format,
                   std::ostream& out, std::ostream& err);

// When a batch exported at `exportedAt` settles: the first banking day after.
Date settlementDate(int country, const Timestamp& exportedAt, const bank::BankCalendar& calendar);

}  // namespace eft::server::returns
