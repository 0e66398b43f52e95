#include "server/returns/returns_command.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <set>
#include <stdexcept>

#include "server/bank/originator.h"
#include "server/metrics/metrics.h"
#include "server/returns/corrections.h"
#include "server/returns/return_rates.h"
#include "server/store/clock.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server::returns {
namespace {

Timestamp timestampOf(std::string_view iso) {
    const auto t = parseTimestamp(iso);
    if (!t) throw std::runtime_error("unreadable time " + std::string(iso));
    return *t;
}

std::int64_t dayNumber(const Date& d) { return Timestamp::from(d).seconds / 86400; }

// What a return applied does to the center, by its code's category, and the words for it.
std::string apply(Store& store, const ReturnedEntry& r, const Match& m, const std::string& file,
                  const ApplyOptions& o) {
    const ReturnCode code = returnCode(r.code);
    const std::string at = isoText(o.at);
    bool retry = false;
    std::string effect;
    switch (code.category) {
        case ReturnCategory::MayRetry: {
            const RetryCount count = store.retriesOf(m.batchNo, m.centerId);
            const bool inTime = count.firstPresented.empty() ||
                                dayNumber(o.at.date()) - dayNumber(timestampOf(count.firstPresented).date()) <= kRetryDays;
            retry = r.direction == Direction::Debit && count.retries < kMaxRetries && inTime;
            effect = retry ? "failed; presented again as retry " + std::to_string(count.retries + 1) + " of " +
                                 std::to_string(kMaxRetries)
                     : r.direction == Direction::Credit ? "failed; a credit, for manual review"
                                                        : "failed; retries spent, for manual review";
            break;
        }
        case ReturnCategory::Administrative:
            effect = "failed; account blocked until corrected";
            break;
        case ReturnCategory::Unauthorized:
            effect = "failed; debits stopped until a new authorization";
            break;
        case ReturnCategory::ManualReview:
            effect = "failed; for manual review";
            break;
    }
    if (o.dryRun) return "would be " + effect;
    store.returnItem({m.batchNo, m.centerId, r.code.empty() ? "?" : r.code, std::string(code.meaning), r.returnDate,
                      file, at, retry});
    if (code.category == ReturnCategory::Administrative)
        store.holdCenter(m.centerId, HoldKind::Account, r.code, std::string(code.meaning), at, file);
    if (code.category == ReturnCategory::Unauthorized)
        store.holdCenter(m.centerId, HoldKind::Authorization, r.code, std::string(code.meaning), at, file);
    return effect;
}

std::string padded(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

output::Value textOrNone(const std::string& s) { return s.empty() ? output::Value{} : output::Value{s}; }
output::Value numberOrNone(std::int64_t n) { return n == 0 ? output::Value{} : output::Value{n}; }

std::string holdName(const CenterHold& h) { return h.kind == HoldKind::Account ? "account blocked" : "debits stopped"; }

std::string_view correctionState(const ChangeNoticeRow& n) {
    return !n.refused.empty() ? "refused" : n.appliedAt.empty() ? "proposed" : "applied";
}

}  // namespace

output::Records correctionRecords(const std::vector<ChangeNoticeRow>& notices) {
    output::Records r{"corrections",
                      {"id", "center", "field", "old", "new", "code", "date", "state", "refused", "applied_at",
                       "applied_by", "file"},
                      {}};
    for (const ChangeNoticeRow& n : notices)
        r.add({numberOrNone(n.id), numberOrNone(n.centerId), n.field, n.oldValue, n.newValue, n.code, textOrNone(n.date),
               std::string(correctionState(n)), textOrNone(n.refused), textOrNone(n.appliedAt),
               textOrNone(n.appliedBy), textOrNone(n.fileName)});
    return r;
}

std::string correctionsText(const std::vector<ChangeNoticeRow>& notices) {
    if (notices.empty()) return "No corrections.\n";
    std::string out = padded("Id", 6) + padded("Center", 8) + padded("Field", 15) + padded("Old", 20) +
                      padded("New", 20) + padded("Code", 6) + padded("Date", 12) + "State\n";
    for (const ChangeNoticeRow& n : notices)
        out += padded(n.id != 0 ? std::to_string(n.id) : "-", 6) +
               padded(n.centerId != 0 ? text::centerNumber(n.centerId) : "-", 8) + padded(n.field, 15) +
               padded(n.oldValue, 19) + " " + padded(n.newValue, 19) + " " + padded(n.code, 6) + padded(n.date, 12) +
               std::string(correctionState(n)) +
               (!n.refused.empty() ? ": " + n.refused
                : n.appliedAt.empty() ? ""
                                      : " " + n.appliedAt + " by " + n.appliedBy) +
               "\n";
    return out;
}

Date settlementDate(int country, const Timestamp& exportedAt, const bank::BankCalendar& calendar) {
    return calendar.nextBankingDay(country, exportedAt.date());
}

ApplyResult applyReturns(Store& store, const std::vector<AnswerInput>& files, const ApplyOptions& options) {
    std::vector<NamedAnswer> read;
    for (const AnswerInput& f : files) {
        try {
            read.push_back({f.name, readBankAnswer(f.content, options.read)});
        } catch (const AnswerFileError& e) {
            throw std::runtime_error(f.name + ": refused, nothing applied: " + e.what());
        }
    }
    return applyAnswers(store, read, options);
}

ApplyResult applyAnswers(Store& store, const std::vector<NamedAnswer>& read, const ApplyOptions& options) {
    ApplyResult result;
    Transaction t(store.db(), options.dryRun ? Transaction::Mode::Read : Transaction::Mode::Write);
    MatchContext context;
    context.calendar = options.calendar;
    context.marginDays = options.marginDays;
    for (const SentFile& f : store.sentFiles())
        context.batches.push_back({f.batchNo, f.country, settlementDate(f.country, timestampOf(f.exportedAt), options.calendar),
                                   sentEntries(f.content, f.batchNo)});
    // A batch exported before files were kept is known by its items alone: a CPA-005 or CSV
    // return names it by batch and center, and its account is checked as recorded now.
    for (const UnkeptEntry& u : store.unkeptEntries()) {
        if (context.batches.empty() || context.batches.back().batchNo != u.batchNo)
            context.batches.push_back(
                {u.batchNo, u.country, settlementDate(u.country, timestampOf(u.exportedAt), options.calendar), {}});
        SentEntry e;
        e.batchNo = u.batchNo;
        e.centerId = u.centerId;
        e.cents = u.cents > 0 ? u.cents : -u.cents;
        e.direction = u.cents > 0 ? Direction::Debit : Direction::Credit;
        if (u.country == 2) e.trace = std::to_string(u.batchNo) + "-" + std::to_string(u.centerId);
        e.effectiveDate = isoText(Timestamp::from(context.batches.back().settlement)).substr(0, 10);
        context.batches.back().entries.push_back(std::move(e));
    }
    for (const auto& item : store.returnedItems()) context.returned.insert(item);
    for (auto& [center, account] : store.centerAccounts()) context.accounts[center] = std::move(account);
    std::set<std::pair<std::string, std::string>> recorded;
    for (const ReturnRecord& r : store.returnRecords()) recorded.insert({r.fileSha256, r.ownTrace});

    for (const NamedAnswer& f : read) {
        const std::vector<Match> matches = matchReturns(f.answer.returns, context);
        for (const Match& m : matches) {
            const ReturnedEntry& r = f.answer.returns[m.index];
            AppliedLine line{f.name, r, m, {}};
            if (recorded.contains({f.answer.sha256, r.ownTrace})) {
                // A replay: recorded with the file's first run, whatever the match says now.
                line.match.outcome = MatchOutcome::Duplicate;
                line.match.detail = "this file's return was applied before";
                line.effect = "nothing";
                result.lines.push_back(std::move(line));
                continue;
            }
            recorded.insert({f.answer.sha256, r.ownTrace});
            if (!options.dryRun) {
                const bool fresh = store.recordReturn({f.answer.sha256, r.ownTrace, f.name, isoText(options.at),
                                                       options.by, r.code, std::string(outcomeName(m.outcome)),
                                                       m.batchNo, m.centerId, r.cents, r.returnDate, m.detail});
                if (!fresh) {
                    line.match.outcome = MatchOutcome::Duplicate;
                    line.effect = "nothing";
                    result.lines.push_back(std::move(line));
                    continue;
                }
            }
            if (applies(m.outcome)) {
                line.effect = apply(store, r, m, f.name, options);
                if (!options.dryRun) metrics::returnApplied(categoryName(returnCode(r.code).category));
                // A later file of the run sees it returned.
                context.returned.insert({m.batchNo, m.centerId});
            } else {
                line.effect = "left for review";
            }
            result.lines.push_back(std::move(line));
        }
    }
    for (const NamedAnswer& f : read)
        for (const ChangeNotice& n : f.answer.changes) {
            std::int32_t center = context.accounts.contains(n.centerId) ? n.centerId : 0;
            for (const SentBatch& b : context.batches)
                for (const SentEntry& e : b.entries)
                    if (center == 0 && !n.originalTrace.empty() && e.trace == n.originalTrace) center = e.centerId;
            ChangeNoticeRow row{0, f.answer.sha256, n.ownTrace, f.name, center, n.code, "-", "", n.correctedData,
                                n.date, "", "", ""};
            const ParsedCorrection parsed = parseCorrection(n.code, n.correctedData);
            std::vector<ChangeNoticeRow> rows;
            if (center == 0) row.refused = "no center of this server has identification number " +
                                           std::to_string(n.centerId) + " or trace " + n.originalTrace;
            else if (!parsed.refused.empty()) row.refused = parsed.refused;
            if (!row.refused.empty()) rows.push_back(row);
            else
                for (const FieldChange& c : parsed.changes) {
                    ChangeNoticeRow one = row;
                    one.field = c.field;
                    one.newValue = c.value;
                    const auto account = context.accounts.find(center);
                    if (c.field == kFieldAccount) one.oldValue = account->second.number;
                    else if (c.field == kFieldRouting) one.oldValue = account->second.routing;
                    else if (c.field == kFieldAccountType)
                        one.oldValue = account->second.type == bank::AccountType::Savings ? "savings" : "checking";
                    else if (c.field == kFieldName) one.oldValue = store.centerName(center).value_or("");
                    else if (c.field == kFieldIdentification) one.oldValue = std::to_string(center);
                    rows.push_back(std::move(one));
                }
            for (ChangeNoticeRow& r : rows) {
                if (options.dryRun) {
                    result.notices.push_back(std::move(r));
                    continue;
                }
                if (!store.recordChangeNotice(r)) continue;
                if (options.applyCorrections && r.refused.empty() && r.field != kFieldIdentification) {
                    const auto stored = store.changeNotices();
                    r.id = stored.back().id;
                    applyCorrection(store, r, isoText(options.at), options.by);
                    r.appliedAt = isoText(options.at);
                    r.appliedBy = options.by;
                }
                result.notices.push_back(std::move(r));
            }
        }
    if (!options.dryRun) {
        result.settled = settleByRule(store, options.calendar, options.marginDays, options.at);
        t.commit();
    }
    return result;
}

std::vector<std::int32_t> settleByRule(Store& store, const bank::BankCalendar& calendar, int marginDays,
                                       const Timestamp& at) {
    // The window every code shares: two banking days (the sixty-day codes come after clearing,
    // as reversals).
    const ReturnCode window{"", "", ReturnCategory::ManualReview, 2, ""};
    std::vector<std::int32_t> settled;
    for (const Store::WaitingBatch& b : store.waitingBatches()) {
        const Date last = returnDeadline(window, b.country, settlementDate(b.country, timestampOf(b.exportedAt), calendar),
                                         calendar, marginDays);
        if (dayNumber(at.date()) <= dayNumber(last)) continue;
        store.settleBatch(b.batchNo, isoText(at), 0, 0);
        settled.push_back(b.batchNo);
    }
    return settled;
}

std::string ApplyResult::text() const {
    std::string out = padded("File", 18) + padded("Line", 6) + padded("Code", 6) + padded("Center", 8) +
                      padded("Batch", 7) + padded("Amount", 12) + padded("Outcome", 15) + "Effect\n";
    if (lines.empty()) out = "No returns.\n";
    std::map<std::string, int> counts;
    for (const AppliedLine& l : lines) {
        const std::string outcome = std::string(outcomeName(l.match.outcome)) + (l.match.byFallback ? "*" : "");
        out += padded(l.file, 17) + " " + padded(std::to_string(l.entry.line), 6) +
               padded(l.entry.code.empty() ? "?" : l.entry.code, 6) +
               padded(text::centerNumber(l.match.centerId != 0 ? l.match.centerId : l.entry.centerId), 8) +
               padded(l.match.batchNo != 0 ? std::to_string(l.match.batchNo) : "-", 7) +
               padded((l.entry.direction == Direction::Credit ? "-" : "") + text::amount(l.entry.cents), 12) +
               padded(outcome, 15) + l.effect + (l.match.detail.empty() ? "" : " (" + l.match.detail + ")") + "\n";
        ++counts[std::string(outcomeName(l.match.outcome))];
    }
    if (!lines.empty()) {
        out += std::to_string(lines.size()) + " returns";
        for (const auto& [outcome, n] : counts) out += ", " + std::to_string(n) + " " + outcome;
        out += "\n";
    }
    bool fallback = false;
    for (const AppliedLine& l : lines) fallback = fallback || l.match.byFallback;
    if (fallback) out += "* an old trace, matched by effective date and amount\n";
    if (!notices.empty()) out += "Notifications of change (the entries were posted; nothing failed):\n" + correctionsText(notices);
    for (const std::int32_t b : settled) out += "Batch " + std::to_string(b) + " settled: its return window has passed\n";
    return out;
}

std::vector<output::Records> ApplyResult::records() const {
    output::Records returned{"returns",
                             {"file", "line", "country", "code", "meaning", "category", "center", "batch", "amount",
                              "direction", "return_date", "outcome", "by_fallback", "effect", "detail"},
                             {}};
    for (const AppliedLine& l : lines) {
        const ReturnCode code = returnCode(l.entry.code);
        const std::int32_t center = l.match.centerId != 0 ? l.match.centerId : l.entry.centerId;
        returned.add({l.file, static_cast<std::int64_t>(l.entry.line),
                      l.entry.country == 0 ? output::Value{} : output::Value{std::string(l.entry.country == 2 ? "CA" : "US")},
                      textOrNone(l.entry.code), std::string(code.meaning), std::string(categoryName(code.category)),
                      numberOrNone(center), numberOrNone(l.match.batchNo), output::Amount{l.entry.cents},
                      std::string(l.entry.direction == Direction::Credit ? "credit" : "debit"), textOrNone(l.entry.returnDate),
                      std::string(outcomeName(l.match.outcome)), l.match.byFallback, l.effect,
                      textOrNone(l.match.detail)});
    }
    output::Records settledBatches{"settled", {"batch"}, {}};
    for (const std::int32_t b : settled) settledBatches.add({std::int64_t{b}});
    return {returned, correctionRecords(notices), settledBatches};
}

void applyCorrection(Store& store, const ChangeNoticeRow& n, std::string_view at, std::string_view by) {
    const std::string which = "correction " + std::to_string(n.id);
    if (!n.refused.empty()) throw std::runtime_error(which + " was refused when read: " + n.refused);
    if (!n.appliedAt.empty()) throw std::runtime_error(which + " was applied on " + n.appliedAt + " by " + n.appliedBy);
    if (n.field == kFieldIdentification)
        throw std::runtime_error(which + ": the identification number is the center's number; it is changed by import");
    std::optional<bank::BankAccount> account;
    for (auto& [center, a] : store.centerAccounts())
        if (center == n.centerId) account = std::move(a);
    if (n.field == kFieldName) {
        store.setCenterName(n.centerId, n.newValue);
    } else {
        if (!account) throw std::runtime_error(which + ": center " + std::to_string(n.centerId) + " has no account");
        if (n.field == kFieldAccount) account->number = n.newValue;
        else if (n.field == kFieldRouting) account->routing = n.newValue;
        else if (n.field == kFieldAccountType)
            account->type = n.newValue == "savings" ? bank::AccountType::Savings : bank::AccountType::Checking;
        if (const std::string fault = bank::accountFault(*account, 1); !fault.empty())
            throw std::runtime_error(which + " would make an account the bank files cannot carry: " + fault);
        store.setCenterAccount(n.centerId, *account);
        store.liftHolds(n.centerId, HoldKind::Account, at, by, "corrected by change notice " + n.code);
    }
    store.markChangeApplied(n.id, at, by);
}

int runCorrections(const std::string& db, std::int64_t applyId, const std::string& by, output::Format format,
                   std::ostream& out, std::ostream& err) {
    try {
        if (!isPostgresUri(db) && !std::filesystem::exists(db)) throw std::runtime_error("no database " + db);
        Store store(db);
        store.createSchema();
        Transaction t(store.db(), applyId != 0 ? Transaction::Mode::Write : Transaction::Mode::Read);
        const std::vector<ChangeNoticeRow> notices = store.changeNotices();
        if (applyId != 0) {
            const auto n = std::find_if(notices.begin(), notices.end(), [&](const ChangeNoticeRow& r) { return r.id == applyId; });
            if (n == notices.end()) throw std::runtime_error("no correction " + std::to_string(applyId));
            applyCorrection(store, *n, isoText(localNow()), by);
            t.commit();
            out << "Correction " << applyId << " applied: center " << text::centerNumber(n->centerId) << " " << n->field
                << " " << n->oldValue << " -> " << n->newValue << ", by " << by << "\n";
            return 0;
        }
        if (format == output::Format::Text) out << correctionsText(notices);
        else out << output::render({correctionRecords(notices)}, format);
        return 0;
    } catch (const std::exception& e) {
        err << "eft-server: " << e.what() << "\n";
        return 1;
    }
}

int runReturns(const ReturnsArgs& args, std::ostream& out, std::ostream& err) {
    try {
        if (!isPostgresUri(args.db) && !std::filesystem::exists(args.db)) throw std::runtime_error("no database " + args.db);
        if (args.report && !args.files.empty()) throw std::runtime_error("--report reads no files");
        if (!args.report && !args.settle && args.files.empty())
            throw std::runtime_error("give the bank's files, or --settle, or --report");
        const auto format = output::formatNamed(args.format);
        if (!format) throw std::runtime_error("--format: not text, csv or json: " + args.format);
        if (args.report) {
            Store store(args.db);
            store.createSchema();
            Transaction t(store.db(), Transaction::Mode::Read);
            const std::vector<CountryRates> rates = returnRates(store, localNow(), args.days);
            if (*format == output::Format::Text) out << ratesText(rates, args.days);
            else out << output::render({rateRecords(rates, args.days)}, *format);
            return 0;
        }
        std::vector<AnswerInput> files;
        for (const std::string& name : args.files) {
            std::ifstream in(name, std::ios::binary);
            if (!in) throw std::runtime_error("cannot read " + name);
            std::ostringstream content;
            content << in.rdbuf();
            files.push_back({std::filesystem::path(name).filename().string(), content.str()});
        }
        ApplyOptions o;
        o.dryRun = args.dryRun;
        o.by = args.by;
        o.at = localNow();
        o.marginDays = args.marginDays;
        o.applyCorrections = args.applyCorrections;
        if (!args.holidays.empty()) o.calendar = bank::BankCalendar::withClosures(args.holidays);
        if (!args.originator.empty()) o.read = readOptions(bank::loadOriginator(args.originator));
        Store store(args.db, args.dryRun ? Store::Older::Refuse : Store::Older::Upgrade);
        const ApplyResult result = applyReturns(store, files, o);
        if (*format != output::Format::Text) {
            // A dry run's effects say "would be"; a program reads no closing line.
            out << output::render(result.records(), *format);
            return 0;
        }
        out << result.text();
        if (args.dryRun) out << "Dry run: nothing was written.\n";
        return 0;
    } catch (const std::exception& e) {
        err << "eft-server: " << e.what() << "\n";
        return 1;
    }
}

std::string holdsText(const std::vector<CenterHold>& holds) {
    if (holds.empty()) return "No center has been held by a return.\n";
    std::string out;
    for (const CenterHold& h : holds)
        out += "Center " + text::centerNumber(h.centerId) + ": " +
               holdName(h) + " since " + h.since +
               " by return " + h.code + " (" + h.reason + ")" + (h.fileName.empty() ? "" : " in " + h.fileName) +
               (h.liftedAt.empty() ? "" : "; lifted " + h.liftedAt + " by " + h.liftedBy + ": " + h.liftedHow) + "\n";
    return out;
}

output::Records holdRecords(const std::vector<CenterHold>& holds) {
    output::Records r{"holds",
                      {"center", "hold", "since", "code", "reason", "file", "lifted_at", "lifted_by", "lifted_how"},
                      {}};
    for (const CenterHold& h : holds)
        r.add({std::int64_t{h.centerId}, holdName(h), h.since,
               h.code, h.reason, textOrNone(h.fileName), textOrNone(h.liftedAt), textOrNone(h.liftedBy),
               textOrNone(h.liftedHow)});
    return r;
}

int runAccounts(const std::string& db, std::int32_t authorizeCenter, const std::string& by, output::Format format,
                std::ostream& out, std::ostream& err) {
    try {
        if (!isPostgresUri(db) && !std::filesystem::exists(db)) throw std::runtime_error("no database " + db);
        Store store(db);
        store.createSchema();
        if (authorizeCenter != 0) {
            Transaction t(store.db(), Transaction::Mode::Write);
            if (!store.centerCountry(authorizeCenter)) throw std::runtime_error("no center " + std::to_string(authorizeCenter));
            const std::int64_t lifted =
                store.liftHolds(authorizeCenter, HoldKind::Authorization, isoText(localNow()), by, "new authorization");
            t.commit();
            out << "Center " << text::centerNumber(authorizeCenter) << ": "
                << (lifted > 0 ? "new authorization recorded by " + by + "; its debits go out again\n"
                               : "no debits were stopped; nothing changed\n");
            return 0;
        }
        Transaction t(store.db(), Transaction::Mode::Read);
        const std::vector<CenterHold> holds = store.centerHolds(true);
        if (format == output::Format::Text) out << holdsText(holds);
        else out << output::render({holdRecords(holds)}, format);
        return 0;
    } catch (const std::exception& e) {
        err << "eft-server: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace eft::server::returns
