#include "server/returns/matcher.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "text/text_forms.h"

namespace eft::server::returns {
namespace {

struct Found {
    const SentBatch* batch = nullptr;
    const SentEntry* entry = nullptr;
};

std::optional<Date> isoDate(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto t = parseTimestamp(text);
    if (!t) return std::nullopt;
    return t->date();
}

std::int64_t dayNumber(const Date& d) { return Timestamp::from(d).seconds / 86400; }

std::string isoOf(const Date& d) {
    char text[11];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

// The entries of the country's batches that carry the trace.
std::vector<Found> byTrace(const MatchContext& c, int country, std::string_view trace) {
    std::vector<Found> out;
    for (const SentBatch& b : c.batches) {
        if (b.country != country) continue;
        for (const SentEntry& e : b.entries)
            if (e.trace == trace) out.push_back({&b, &e});
    }
    return out;
}

// An old trace names entries of several files: keep those of the return's amount and center on
// its effective date, or, without one, of the latest file settled by the return date.
std::vector<Found> narrowed(const std::vector<Found>& candidates, const ReturnedEntry& r) {
    std::vector<Found> same;
    for (const Found& f : candidates)
        if (f.entry->cents == r.cents && f.entry->centerId == r.centerId) same.push_back(f);
    if (const auto effective = isoDate(r.originalEffectiveDate)) {
        std::erase_if(same, [&](const Found& f) { return isoDate(f.entry->effectiveDate) != effective; });
        return same;
    }
    const auto returned = isoDate(r.returnDate);
    if (!returned) return {};
    std::erase_if(same, [&](const Found& f) { return dayNumber(f.batch->settlement) > dayNumber(*returned); });
    if (same.empty()) return same;
    const auto latest = std::max_element(same.begin(), same.end(), [](const Found& a, const Found& b) {
        return dayNumber(a.batch->settlement) < dayNumber(b.batch->settlement);
    });
    const std::int64_t day = dayNumber(latest->batch->settlement);
    std::erase_if(same, [&](const Found& f) { return dayNumber(f.batch->settlement) != day; });
    return same;
}

const SentBatch* batchOf(const MatchContext& c, std::int32_t batchNo) {
    for (const SentBatch& b : c.batches)
        if (b.batchNo == batchNo) return &b;
    return nullptr;
}

// What of the entry found differs from the return; empty when nothing.
std::string difference(const MatchContext& c, int country, const ReturnedEntry& r, const SentEntry& e) {
    if (e.centerId != r.centerId)
        return "identification number " + std::to_string(r.centerId) + ", sent " + std::to_string(e.centerId);
    if (e.direction != r.direction)
        return std::string("a returned ") + (r.direction == Direction::Debit ? "debit" : "credit") + ", sent a " +
               (e.direction == Direction::Debit ? "debit" : "credit");
    if (e.cents != r.cents) return "amount " + text::amount(r.cents) + ", sent " + text::amount(e.cents);
    if (country == 2 && (!r.institution.empty() || !r.account.empty())) {
        // The account the file carried; a batch known without its file is checked against the
        // center's account as recorded now.
        std::string institution = e.institution, account = e.account;
        if (institution.empty() && account.empty())
            if (const auto a = c.accounts.find(e.centerId); a != c.accounts.end()) {
                institution = a->second.institution;
                account = a->second.number;
            }
        if (!r.institution.empty() && !institution.empty() && r.institution != institution)
            return "institution " + r.institution + ", sent " + institution;
        if (!r.account.empty() && !account.empty() && r.account != account)
            return "account " + r.account + ", sent " + account;
    }
    return {};
}

}  // namespace

std::string_view outcomeName(MatchOutcome o) {
    switch (o) {
        case MatchOutcome::Matched: return "matched";
        case MatchOutcome::Unmatched: return "unmatched";
        case MatchOutcome::Duplicate: return "duplicate";
        case MatchOutcome::Late: return "late";
        case MatchOutcome::Differing: return "differing";
        case MatchOutcome::OutsideBatch: return "outside batch";
        case MatchOutcome::UnknownCode: return "unknown code";
    }
    return "unmatched";
}

bool applies(MatchOutcome o) { return o == MatchOutcome::Matched || o == MatchOutcome::UnknownCode; }

bool knownCode(std::string_view code) {
    const auto& rows = returnCodes();
    return std::any_of(rows.begin(), rows.end(), [&](const ReturnCode& r) { return r.code == code; });
}

Date returnDeadline(const ReturnCode& code, int country, const Date& settlement, const bank::BankCalendar& calendar,
                    int marginDays) {
    Date last = settlement;
    if (code.returnDays >= 60) last = addDays(settlement, code.returnDays);
    else
        for (int i = 0; i < code.returnDays; ++i) last = calendar.nextBankingDay(country, last);
    return addDays(last, marginDays);
}

std::vector<Match> matchReturns(const std::vector<ReturnedEntry>& returns, const MatchContext& context) {
    std::vector<Match> out;
    std::set<std::pair<std::int32_t, std::int32_t>> returned = context.returned;
    for (std::size_t i = 0; i < returns.size(); ++i) {
        const ReturnedEntry& r = returns[i];
        Match m;
        m.index = i;
        Found found;
        if (!r.originalTrace.empty()) {
            const std::vector<Found> candidates = byTrace(context, r.country, r.originalTrace);
            if (candidates.size() == 1) {
                found = candidates.front();
            } else if (candidates.size() > 1) {
                const std::vector<Found> left = narrowed(candidates, r);
                if (left.size() == 1) {
                    found = left.front();
                    m.byFallback = true;
                } else {
                    m.detail = "trace " + r.originalTrace + " names " + std::to_string(candidates.size()) +
                               " entries, " + std::to_string(left.size()) + " of them of this date and amount";
                }
            } else {
                m.detail = "no file sent trace " + r.originalTrace;
            }
        } else if (const SentBatch* b = batchOf(context, r.batchNo);
                   b == nullptr || (r.country != 0 && b->country != r.country)) {
            m.detail = "no batch " + std::to_string(r.batchNo) + (b == nullptr ? "" : " of this country");
        } else {
            m.batchNo = b->batchNo;
            m.centerId = r.centerId;
            for (const SentEntry& e : b->entries)
                if (e.centerId == r.centerId && e.direction == r.direction) found = {b, &e};
            if (found.entry == nullptr)
                for (const SentEntry& e : b->entries)
                    if (e.centerId == r.centerId) found = {b, &e};
            if (found.entry == nullptr) {
                m.outcome = MatchOutcome::OutsideBatch;
                m.detail = "batch " + std::to_string(b->batchNo) + " sent nothing to center " +
                           std::to_string(r.centerId);
                out.push_back(std::move(m));
                continue;
            }
        }
        if (found.entry == nullptr) {
            m.outcome = MatchOutcome::Unmatched;
            out.push_back(std::move(m));
            continue;
        }
        m.batchNo = found.batch->batchNo;
        m.centerId = found.entry->centerId;
        m.retry = found.entry->retry;
        const auto returnDate = isoDate(r.returnDate);
        if (std::string why = difference(context, found.batch->country, r, *found.entry); !why.empty()) {
            m.outcome = MatchOutcome::Differing;
            m.detail = std::move(why);
        } else if (returned.contains({m.batchNo, m.centerId})) {
            m.outcome = MatchOutcome::Duplicate;
            m.detail = "batch " + std::to_string(m.batchNo) + " center " + std::to_string(m.centerId) +
                       " was returned already";
        } else if (const Date last = returnDeadline(returnCode(r.code), found.batch->country, found.batch->settlement,
                                                    context.calendar, context.marginDays);
                   returnDate && dayNumber(*returnDate) > dayNumber(last)) {
            m.outcome = MatchOutcome::Late;
            m.detail = "returned " + r.returnDate + ", the window closed " + isoOf(last);
        } else if (!knownCode(r.code)) {
            m.outcome = MatchOutcome::UnknownCode;
            m.detail = r.code.empty() ? "the code cannot be read" : "code " + r.code + " is not in the table";
        } else {
            m.outcome = MatchOutcome::Matched;
            if (m.byFallback) m.detail = "old trace, by effective date and amount";
        }
        if (applies(m.outcome)) returned.insert({m.batchNo, m.centerId});
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace eft::server::returns
