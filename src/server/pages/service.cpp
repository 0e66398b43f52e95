#include "server/pages/service.h"

#include <sys/stat.h>

#include <cstdio>
#include <algorithm>
#include <exception>
#include <unordered_set>
#include <vector>

#include "net/pages.h"
#include "server/export/export_file.h"
#include "server/export/folder_history.h"
#include "server/metrics/metrics.h"
#include "server/returns/return_codes.h"
#include "server/returns/return_rates.h"
#include "server/returns/returns_command.h"
#include "server/pages/form.h"
#include "server/pages/reasons.h"
#include "server/pages/save_body.h"
#include "server/pages/save_record.h"
#include "server/pages/status_form.h"
#include "server/pages/xml_text.h"
#include "server/store/seed.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

// A sweep row is some 800 characters of XML.
constexpr std::size_t kSweepRowReserve = 1100;
// Kept centers lent in one piece at most: a piece goes out in one system call, whose list of
// parts the kernel bounds (1,024).
constexpr std::size_t kLentParts = 64;
constexpr std::size_t kStatusPairFloor = 4096;
// Loads remembered per operator and country: a few windows of one login, each naming its own.
constexpr std::size_t kViewsKept = 16;

std::string refusalText(SaveRefusal refusal, const std::string& record) {
    using reasons::Reason;
    switch (refusal) {
        case SaveRefusal::Unknown: return reasons::text(Reason::NoSuchCharge, {record});
        case SaveRefusal::AlreadySaved: return reasons::text(Reason::AlreadySaved, {record});
        case SaveRefusal::Exported: return reasons::text(Reason::AlreadyExported, {record});
        case SaveRefusal::Cleared: return reasons::text(Reason::AlreadyCleared, {record});
        case SaveRefusal::TooLarge: return reasons::text(Reason::TotalTooLarge, {record, kAboveCentExactText});
        case SaveRefusal::CenterFull: break;  // worded by its caller, which knows the amount
        case SaveRefusal::None: break;
    }
    return record;
}

// A row is written at a cursor into room sized for its worst case, with no per-element size
// checks: the sweep is the one reply that runs to tens of megabytes.
constexpr std::size_t kRowFixedRoom = 4096;  // tags, numbers and flags, well over their most

std::size_t rowRoom(const SweepRowView& r) {
    return kRowFixedRoom +
           6 * (r.memberName.size() + r.centerName.size() + r.contractSigned.size() + r.sourceDescription.size() +
                r.sweepDate.size());
}

// "<Name>" and "</Name>" from one name.
#define EFT_TAGS(name) "<" name ">", "</" name ">"

char* put(char* p, std::string_view s) { return std::copy(s.begin(), s.end(), p); }
// Tags are literals: copies of a size known here take a few moves, not a call.
template <std::size_t N>
char* put(char* p, const char (&literal)[N]) {
    return std::copy_n(literal, N - 1, p);
}

template <std::size_t O, std::size_t C>
char* textElement(char* p, const char (&open)[O], const char (&close)[C], std::string_view value) {
    return put(xml::writeEscaped(put(p, open), value), close);
}
template <std::size_t O, std::size_t C>
char* wholeElement(char* p, const char (&open)[O], const char (&close)[C], std::int64_t value) {
    return put(xml::writeInteger(put(p, open), value), close);
}
template <std::size_t O, std::size_t C>
char* singleElement(char* p, const char (&open)[O], const char (&close)[C], float value) {
    return put(xml::writeSingle(put(p, open), value), close);
}
template <std::size_t O, std::size_t C>
char* flagElement(char* p, const char (&open)[O], const char (&close)[C], bool value) {
    p = put(p, open);
    p = value ? put(p, "true") : put(p, "false");
    return put(p, close);
}

// What a row starts with that is the same for each of a member's charges at a center.
char* writeRowHead(char* p, const SweepRowView& r) {
    p = put(p, "<Row>");
    p = wholeElement(p, EFT_TAGS("MemberID"), r.key.memberId);
    p = textElement(p, EFT_TAGS("MemberName"), r.memberName);
    p = wholeElement(p, EFT_TAGS("CenterID"), r.key.centerId);
    p = textElement(p, EFT_TAGS("CenterName"), r.centerName);
    if (!r.contractSigned.empty()) p = textElement(p, EFT_TAGS("ContractSigned"), r.contractSigned);
    return p;
}

// A row, after its head written by writeRowHead() for the same member and center.
char* writeSweepRow(char* p, std::string_view head, const SweepRowView& r) {
    const RowTotals totals = rowTotals(r.type, r.amounts, r.salesTaxExempt, r.subscription);
    p = put(p, head);
    p = singleElement(p, EFT_TAGS("ConversionRate"), r.amounts.conversionRate);
    p = singleElement(p, EFT_TAGS("Royalty"), r.amounts.royalty);
    p = singleElement(p, EFT_TAGS("NAC"), r.amounts.nac);
    p = singleElement(p, EFT_TAGS("RoyaltyReserve"), r.amounts.royaltyReserve);
    p = singleElement(p, EFT_TAGS("FranchiseFee"), r.amounts.franchiseFee);
    p = singleElement(p, EFT_TAGS("FranchiseFeeReserve"), r.amounts.franchiseFeeReserve);
    p = flagElement(p, EFT_TAGS("SalesTaxExempt"), r.salesTaxExempt);
    p = wholeElement(p, EFT_TAGS("Source"), r.key.source);
    p = textElement(p, EFT_TAGS("SourceDescription"), r.sourceDescription);
    p = singleElement(p, EFT_TAGS("GST"), r.amounts.gst);
    p = singleElement(p, EFT_TAGS("PST"), r.amounts.pst);
    p = singleElement(p, EFT_TAGS("NMCPayment"), r.amounts.nmcPayment);
    p = wholeElement(p, EFT_TAGS("SweepSequence"), r.key.sweepSequence);
    p = textElement(p, EFT_TAGS("SweepDate"), r.sweepDate);
    p = wholeElement(p, EFT_TAGS("Type"), r.type);
    p = wholeElement(p, EFT_TAGS("TrustID"), r.trustId);
    p = singleElement(p, EFT_TAGS("INRowTotal"), totals.in);
    p = singleElement(p, EFT_TAGS("OUTRowTotal"), totals.out);
    p = wholeElement(p, EFT_TAGS("MemberType"), r.memberType);
    p = flagElement(p, EFT_TAGS("SubscriptionMembership"), r.subscription);
    p = flagElement(p, EFT_TAGS("DownPayment"), r.downPayment);
    return put(p, "</Row>\n");
}

#undef EFT_TAGS

}  // namespace

Service::Lease::Lease(Service& owner, std::unique_ptr<Store> store) : owner_(owner), store_(std::move(store)) {}

Service::Lease::~Lease() {
    std::lock_guard lock(owner_.poolMutex_);
    owner_.idle_.push_back(std::move(store_));
}

Service::Lease Service::borrow() {
    // A read of a file that is no longer the database would show what nobody changes any more;
    // a connection opened afresh would make a new, empty database at its path.
    requireSameFile();
    {
        std::lock_guard lock(poolMutex_);
        if (!idle_.empty()) {
            std::unique_ptr<Store> store = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(store));
        }
    }
    return Lease(*this, std::make_unique<Store>(dbPath_));
}

Service::Service(ServiceOptions options)
    : dbPath_(std::move(options.dbPath)),
      exportDir_(options.exportDir.empty() ? defaultExportDir(dbPath_) : std::move(options.exportDir)),
      clock_(options.clock ? std::move(options.clock) : Clock(localNow)),
      originator_(bank::loadOriginator(options.originatorFile)),
      demoOriginator_(options.originatorFile.empty()),
      note_(options.note ? std::move(options.note) : [](LogLevel, std::string_view line) {
          std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
      }),
      calendar_(options.holidaysFile.empty() ? bank::BankCalendar() : bank::BankCalendar::withClosures(options.holidaysFile)),
      returnMarginDays_(options.returnMarginDays),
      sweepCache_(options.sweepCacheBytes) {
    // Opening one connection now creates the database and reports a bad path at once.
    idle_.push_back(std::make_unique<Store>(dbPath_));
    struct stat st {};
    if (!isPostgresUri(dbPath_.string()) && ::stat(dbPath_.c_str(), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    Store& store = *idle_.back();
    metrics::schemaVersion(schemaVersion(store.db()));
    if (const auto& upgrade = store.upgraded())
        note_(LogLevel::Info, "database: " + upgradeText(*upgrade, dbPath_.string()));
    // What a crash left half done is finished before the first request; the operator may want to
    // know that it happened.
    for (const LogNote& line : finishExports(store, exportDir_, isoText(clock_())))
        note_(line.level, "export: " + line.text);
    std::vector<std::string> known = store.batchFileNames();
    std::sort(known.begin(), known.end());
    for (const std::string& name : readFolderHistory(exportDir_).files)
        if (!std::binary_search(known.begin(), known.end(), name))
            note_(LogLevel::Warning, "export: " + name + " is in the export folder but not in the database (restored "
                                     "from a backup?); its numbers are not used again, and the charges it carried "
                                     "may be saved and exported again");
    // Until the administrator resolves them, each start says so again.
    for (const OpenDelivery& doubt : server::deliveriesInDoubt(store))
        note_(LogLevel::Warning, "delivery: in doubt: " + doubtText(doubt) +
                                     "; it is not delivered again until `eft-server files --delivered " +
                                     std::to_string(doubt.attempt.batchNo) + "` or `--redeliver " +
                                     std::to_string(doubt.attempt.batchNo) + "` says what the bank got");
    if (!options.delivery.command.empty())
        deliverer_ = std::make_unique<Deliverer>(dbPath_, exportDir_, std::move(options.delivery), clock_,
                                                 [this](LogLevel level, std::string_view line) {
                                                     note_(level, "delivery: " + std::string(line));
                                                 });
    if (options.settleEvery.count() > 0)
        settler_ = std::make_unique<returns::Settler>(
            options.settleEvery, [this] { settleDue(); },
            [this](const std::exception& e) {
                note_(LogLevel::Error, std::string("settlement: failed, tried again later: ") + e.what());
            });
}

std::vector<std::int32_t> Service::settleDue() {
    std::vector<std::int32_t> settled;
    {
        std::lock_guard lock(writeMutex_);
        Lease store = borrow();
        // The writer lock: a second server settling at once waits, then finds these settled.
        Transaction t(store->db(), Transaction::Mode::Write);
        settled = returns::settleByRule(*store, calendar_, returnMarginDays_, clock_());
        t.commit();
    }
    for (const std::int32_t batch : settled)
        note_(LogLevel::Info, "settlement: batch " + std::to_string(batch) +
                                  " settled by rule: its return window has passed; returned centers failed, the "
                                  "others cleared");
    return settled;
}

std::string Service::originatorText() const {
    return demoOriginator_ ? "the demo originator (fictitious bank details)" : originator_.companyName;
}

Service::~Service() = default;

bool Service::seedDemo() {
    std::lock_guard lock(writeMutex_);
    Lease store = borrow();
    return server::seedDemo(*store);
}

std::string Service::sweepXml(int country) {
    std::string out;
    out.reserve(128 + static_cast<std::size_t>(borrow()->countSweepRows(country)) * kSweepRowReserve);
    writeSweep(country, [&out](const std::string& piece) {
        out += piece;
        return true;
    });
    return out;
}

bool Service::writeSweep(int country, const PieceSink& sink, std::size_t pieceBytes, const LentSink& lend) {
    // Stops the row walk from inside the store's visitor once the reader is gone.
    struct ReaderGone {};
    Lease store = borrow();
    // The centers' change values and the rows are read in one snapshot, so rows kept are the
    // rows of the values kept with them.
    Transaction read(store->db(), Transaction::Mode::Read);
    // Rows are written at a cursor into the string's own room, which is sized ahead, and the
    // string is cut to what was written only when it goes.
    std::string buffer;
    std::size_t used = 0;
    const auto room = [&](std::size_t bytes) {
        if (used + bytes > buffer.size()) buffer.resize(std::max(used + bytes, pieceBytes + kRowFixedRoom));
        return buffer.data() + used;
    };
    const auto hand = [&] {
        buffer.resize(used);
        const bool taken = sink(buffer);
        used = 0;
        return taken;
    };
    const auto append = [&](std::string_view s) { used = static_cast<std::size_t>(put(room(s.size()), s) - buffer.data()); };
    // Kept centers waiting to be lent, after what the buffer holds; the buffer is not written
    // again until they go. Held here, they outlive an eviction by another GET meanwhile.
    std::vector<std::shared_ptr<const SweepCache::Rows>> lent;
    std::vector<std::string_view> parts;
    std::size_t lentBytes = 0;
    const auto lendKept = [&] {
        if (lent.empty()) return true;
        parts.clear();
        if (used > 0) parts.emplace_back(buffer.data(), used);
        for (const auto& rows : lent) parts.emplace_back(rows->bytes);
        const bool taken = lend(parts);
        used = 0;
        lent.clear();
        lentBytes = 0;
        return taken;
    };
    append(xml::kDeclaration);
    append("<Sweep>\n");
    const std::uint64_t pass = sweepCache_.startPass();
    // A member's charges come one after another: their common head is written once.
    std::vector<char> headRoom;
    std::string_view head;
    ChargeKey headKey{};
    std::uint64_t rows = 0, hits = 0, misses = 0;
    SweepCache::Rows written;
    std::size_t lastWritten = 0;
    try {
        for (const SweepCenter& center : store->sweepCenters(country)) {
            if (const auto kept = sweepCache_.find(center, pass)) {
                ++hits;
                rows += kept->ends.size();
                if (lend) {
                    lent.push_back(kept);
                    lentBytes += kept->bytes.size();
                    if ((lentBytes + used >= pieceBytes || lent.size() >= kLentParts) && !lendKept()) throw ReaderGone{};
                    continue;
                }
                // Copied, since a sink may take a piece's memory, a run of rows at a time: up to
                // the row after which the walk of the database would hand the piece on.
                const std::string_view bytes = kept->bytes;
                std::size_t from = 0;
                for (auto next = kept->ends.begin(); next != kept->ends.end();) {
                    const std::size_t missing = pieceBytes > used ? pieceBytes - used : 0;
                    const auto last = std::lower_bound(next, kept->ends.end(), from + missing);
                    if (last == kept->ends.end()) {
                        append(bytes.substr(from));
                        break;
                    }
                    append(bytes.substr(from, *last - from));
                    from = *last;
                    next = last + 1;
                    if (!hand()) throw ReaderGone{};
                }
                continue;
            }
            ++misses;
            if (!lendKept()) throw ReaderGone{};
            bool keeping = sweepCache_.mayKeep(pass);
            written.bytes.clear();
            written.ends.clear();
            // Room for a center like the last, and some: a string grown by doubling copies itself.
            written.bytes.reserve(keeping ? lastWritten + lastWritten / 8 : 0);
            store->forEachSweepRow(center, [&](const SweepRowView& r) {
                ++rows;
                const std::size_t rowBytes = rowRoom(r);
                if (head.empty() || r.key.memberId != headKey.memberId || r.key.centerId != headKey.centerId) {
                    if (headRoom.size() < rowBytes) headRoom.resize(rowBytes);
                    head = {headRoom.data(), static_cast<std::size_t>(writeRowHead(headRoom.data(), r) - headRoom.data())};
                    headKey = r.key;
                }
                const std::size_t start = used;
                used = static_cast<std::size_t>(writeSweepRow(room(rowBytes), head, r) - buffer.data());
                if (keeping) {
                    if (written.size() + (used - start) + sizeof(std::size_t) > sweepCache_.cap()) {
                        keeping = false;
                        written = {};
                    } else {
                        written.bytes.append(buffer.data() + start, used - start);
                        written.ends.push_back(written.bytes.size());
                    }
                }
                if (used >= pieceBytes && !hand()) throw ReaderGone{};
            });
            if (keeping) {
                lastWritten = written.bytes.size();
                sweepCache_.keep(center, std::move(written), pass);
                written = {};
            }
        }
    } catch (const ReaderGone&) {
        metrics::sweepRows(country, rows);
        metrics::sweepCenters(hits, misses);
        return false;
    }
    metrics::sweepRows(country, rows);
    metrics::sweepCenters(hits, misses);
    if (!lendKept()) return false;
    append("</Sweep>\n");
    return hand();
}

void Service::requireSameFile() const {
    if (isPostgresUri(dbPath_.string())) return;
    // An open connection reads and writes a file that was moved or deleted under it.
    struct stat st {};
    if (::stat(dbPath_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_)
        throw DatabaseGone("the database file " + dbPath_.string() + " is no longer the one the server opened");
}

bool Service::healthy() {
    try {
        Lease store = borrow();
        store->isEmpty();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> Service::deliveriesInDoubt() {
    std::vector<std::string> lines;
    try {
        Lease store = borrow();
        for (const OpenDelivery& doubt : server::deliveriesInDoubt(*store)) lines.push_back(doubtText(doubt));
    } catch (const std::exception&) {
        lines.clear();  // the health check says whether the database answers
    }
    return lines;
}

std::vector<std::string> Service::returnRateWarnings() {
    try {
        Lease store = borrow();
        Transaction t(store->db(), Transaction::Mode::Read);
        return returns::rateWarnings(*store, clock_());
    } catch (const std::exception&) {
        return {};
    }
}

std::size_t Service::statusPairCap() {
    Lease store = borrow();
    const auto items = static_cast<std::size_t>(store->countPendingItems());
    // A few thousand pairs cost nothing to read, and below that a post naming an item that is
    // no longer waiting still gets the reason that names it.
    return std::max<std::size_t>(items, kStatusPairFloor) + 3;
}

std::int64_t Service::listClock() {
    std::unique_lock lock(clockMutex_);
    // Reads numbered from here on begin after this list was asked for.
    const std::uint64_t first = clockReadsBegun_ + 1;
    for (;;) {
        if (clockReadDone_ >= first) return clockValue_;
        if (!clockReading_) break;
        clockRead_.wait(lock);
    }
    clockReading_ = true;
    const std::uint64_t read = ++clockReadsBegun_;
    lock.unlock();
    std::int64_t value = 0;
    try {
        value = borrow()->listClock();
    } catch (...) {
        lock.lock();
        clockReading_ = false;
        lock.unlock();
        clockRead_.notify_all();  // each waiter reads for itself
        throw;
    }
    lock.lock();
    clockReading_ = false;
    clockReadDone_ = read;
    clockValue_ = value;
    lock.unlock();
    clockRead_.notify_all();
    return value;
}

std::string Service::batchListXml(std::string_view acceptLanguage) {
    const bool french = reasons::prefersFrench(acceptLanguage);
    requireSameFile();
    // Read before the rows, each in a snapshot of its own: rows read after it are at least as
    // new as the value they are kept with, so a change between the two only costs a list
    // written again.
    const std::int64_t clock = listClock();
    KeptList& kept = keptLists_[french ? 1 : 0];
    {
        std::shared_ptr<const std::string> text;
        {
            std::lock_guard lock(listMutex_);
            if (kept.text && kept.clock == clock) text = kept.text;
        }
        if (text) return *text;
    }
    Lease store = borrow();
    std::string out;
    out.reserve(4096);
    out += xml::kDeclaration;
    out += "<BatchList>\n";
    store->forEachPendingItem([&out, french](const BatchItemView& v) {
        out += "<Item>";
        xml::appendElement(out, "BatchControl", v.batchNo);
        xml::appendElement(out, "CenterID", v.centerId);
        xml::appendElement(out, "Name", v.centerName);
        xml::appendElement(out, "MemberID", v.memberId);
        xml::appendElement(out, "ExportedDate", v.exportedAt);
        xml::appendElement(out, "Source", v.source);
        xml::appendSingleElement(out, "Amount", v.amount);
        xml::appendElement(out, "Country", v.country);
        // Only a returned item has these, so a batch with no return reads as it always did.
        if (!v.returnCode.empty()) {
            const returns::ReturnCode code = returns::returnCode(v.returnCode);
            xml::appendElement(out, "ReturnCode", v.returnCode);
            xml::appendElement(out, "ReturnReason", french ? code.french : code.meaning);
            xml::appendElement(out, "ReturnedDate", v.returnDate);
        }
        out += "</Item>\n";
    });
    out += "</BatchList>\n";
    auto text = std::make_shared<const std::string>(out);
    std::lock_guard lock(listMutex_);
    kept = {clock, std::move(text)};
    return out;
}

std::string Service::save(std::string_view body) { return save(readSaveBody(body)); }

std::int64_t Service::startSweepLoad(const std::string& operatorKey, int country) {
    std::lock_guard lock(writeMutex_);
    Lease store = borrow();
    Transaction t(store->db(), Transaction::Mode::Write);
    // A value of its own, so two loads with nothing changed between them still tell apart
    // whose saves are whose.
    const std::int64_t stamp = store->advanceSweepClock();
    t.commit();
    std::vector<SweepView>& views = views_[{operatorKey, country}];
    views.push_back({stamp, {}});
    if (views.size() > kViewsKept) views.erase(views.begin());
    return stamp;
}

Service::SweepView* Service::viewFor(const SweepClaim& claim, int country) {
    std::vector<SweepView>& views = views_[{claim.operatorKey, country}];
    if (!claim.stamp) return views.empty() ? nullptr : &views.back();
    for (SweepView& v : views)
        if (v.stamp == *claim.stamp) return &v;
    // A load this server does not remember (made before a restart, or through another server
    // on the same database): its stamp still says what it saw.
    views.push_back({*claim.stamp, {}});
    if (views.size() > kViewsKept) views.erase(views.begin());
    return &views.back();
}

std::string Service::save(const std::vector<SaveRecord>& records, const SweepClaim& claim, std::string_view login) {
    const std::string now = isoText(clock_());
    try {
        std::lock_guard lock(writeMutex_);
        Lease store = borrow();
        // The writer lock: the sweep's counter, the charges' states and the Totals read below
        // stay as read until commit, so the save is taken or refused whole.
        Transaction t(store->db(), Transaction::Mode::Write);
        std::vector<std::int32_t> centers;
        for (const SaveRecord& r : records)
            if (std::find(centers.begin(), centers.end(), r.key.centerId) == centers.end()) centers.push_back(r.key.centerId);
        SweepView* view = nullptr;
        if (!centers.empty() && (claim.stamp || !claim.operatorKey.empty())) {
            if (claim.stamp && *claim.stamp > store->sweepClock())
                return reasons::text(reasons::Reason::StampNotOurs, {std::to_string(*claim.stamp)});
            if (const auto country = store->centerCountry(centers.front())) view = viewFor(claim, *country);
        }
        // The Totals are taken from the rows as they stand now: when another operator changed a
        // center's rows after this load, they are not the Totals this operator saw.
        if (view != nullptr) {
            const std::vector<std::int64_t> changedAt = store->centersChangedAt(centers);
            for (std::size_t k = 0; k < centers.size(); ++k) {
                const std::int32_t c = centers[k];
                const auto own = view->ownSaves.find(c);
                const std::int64_t seen = own == view->ownSaves.end() ? view->stamp : own->second;
                if (changedAt[k] > seen)
                    return reasons::text(reasons::Reason::CenterChanged, {text::centerNumber(c)});
            }
        }
        if (const auto failure = store->saveCharges(records, now, login)) {
            const SaveRecord& r = records[failure->index];
            const std::string record =
                reasons::text(reasons::Reason::Record,
                              {std::to_string(failure->index + 1), std::to_string(r.key.memberId),
                               std::to_string(r.key.centerId), std::to_string(r.key.source),
                               std::to_string(r.key.sweepSequence)});
            if (failure->refusal == SaveRefusal::CenterFull)
                return reasons::text(reasons::Reason::CenterFull,
                                     {record, text::centerNumber(r.key.centerId),
                                      text::money(text::Cents{failure->centerCents}),
                                      text::money(text::Cents{bank::kMaxEntryCents})});
            return refusalText(failure->refusal, record);
        }
        const std::int64_t after = store->sweepClock();
        t.commit();
        if (view != nullptr)
            for (const std::int32_t c : centers) view->ownSaves[c] = after;
    } catch (const DatabaseUnreachable&) {
        throw;
    } catch (const StoreError& e) {
        return reasons::text(reasons::Reason::SaveFailed, {e.what()});
    }
    return {};
}

std::string Service::commitStatus(std::string_view body) { return commitStatus(parseStatusBody(body)); }

std::string Service::commitStatus(const StatusForm& form, std::string_view login) {
    const std::string now = isoText(clock_());
    try {
        std::lock_guard lock(writeMutex_);
        Lease store = borrow();
        // The writer lock: a second commit of the batch waits for the first and then finds
        // nothing waiting, so it is refused whole.
        Transaction t(store->db(), Transaction::Mode::Write);
        const std::string batch = std::to_string(form.batchNo);
        if (!store->batchExists(form.batchNo)) return reasons::text(reasons::Reason::NoSuchBatch, {batch});
        // The references in the order they are judged, cleared ones first. A reference named
        // again finds its items taken by its first naming.
        std::vector<MemberRef> named;
        std::vector<Store::PostedOutcome> outcomes;
        std::optional<std::size_t> namedAgain;
        std::unordered_set<std::int64_t> seen;
        for (const bool cleared : {true, false}) {
            for (const MemberRef& ref : cleared ? form.cleared : form.failed) {
                const std::size_t order = named.size();
                named.push_back(ref);
                if (seen.insert(ref.sourceTwo ? -std::int64_t{ref.memberId} : ref.memberId).second)
                    outcomes.push_back({ref.memberId, ref.sourceTwo, cleared, order});
                else if (!namedAgain)
                    namedAgain = order;
            }
        }
        store->stageOutcomes(form.batchNo, outcomes);
        std::optional<std::size_t> nothingWaiting = store->firstOutcomeWithoutItem(form.batchNo);
        if (namedAgain && (!nothingWaiting || *namedAgain < *nothingWaiting)) nothingWaiting = namedAgain;
        if (nothingWaiting) {
            const MemberRef& ref = named[*nothingWaiting];
            // The bank's return already failed it: a clearing would record money that never came.
            if (*nothingWaiting < form.cleared.size())
                if (const auto r = store->returnedItemOf(form.batchNo, ref.memberId, ref.sourceTwo))
                    return reasons::text(reasons::Reason::ReturnedNotCleared,
                                         {memberRefText(ref), batch, text::centerNumber(r->centerId),
                                          r->code + " " + r->meaning, r->returnDate});
            return reasons::text(reasons::Reason::NothingWaiting, {memberRefText(ref), batch});
        }
        // A commit settles its batch whole: an item it does not name would be left waiting, so
        // the whole commit is refused.
        if (const auto left = store->firstUnnamedItem())
            return reasons::text(reasons::Reason::BatchIncomplete,
                                 {batch, memberRefText(MemberRef{left->memberId, left->sourceTwo}),
                                  std::to_string(left->centerId)});
        store->recordOutcomes(form.batchNo, now, form.personId, form.personType, login);
        t.commit();
    } catch (const DatabaseUnreachable&) {
        throw;
    } catch (const StoreError& e) {
        return reasons::text(reasons::Reason::StatusFailed, {e.what()});
    }
    return {};
}

std::string Service::exportBatches(std::int32_t personId, std::int16_t personType, std::string_view login) {
    std::string report;
    bool refused = false;
    try {
        Lease store = borrow();
        // Read before waiting for any other export, here or on another server: a batch above
        // it is one that an export asked for at the same moment made.
        const std::int32_t batchesBefore = store->highestBatchNo();
        std::lock_guard lock(writeMutex_);
        // Demo bank details must never reach a bank with real charges.
        if (demoOriginator_ && !store->isDemo())
            throw std::runtime_error("this database is not a demo one, and the server runs with the demo originator; "
                                     "start it with --originator FILE");
        for (const LogNote& line : publishAbandoned(*store, exportDir_, isoText(clock_()), false))
            note_(line.level, "export: " + line.text);
        report = runExport(*store, exportDir_, originator_, calendar_, clock_(), personId, personType, batchesBefore,
                           login);
    } catch (const DatabaseGone&) {
        metrics::exportRun(metrics::Outcome::Failed);
        throw;
    } catch (const DatabaseUnreachable&) {
        metrics::exportRun(metrics::Outcome::Failed);
        throw;
    } catch (const std::exception& e) {
        report = std::string("The export failed, nothing was exported: ") + e.what();
        refused = true;
    }
    metrics::exportRun(refused ? metrics::Outcome::Refused : metrics::Outcome::Done);
    if (exportNote_) exportNote_(refused, report);
    if (deliverer_) deliverer_->wake();
    // Marked, so the control shows it as the failure it is and a script fails on it; a reader
    // that only takes the text reads the same text as before.
    if (refused) return xml::markedMessageDocument(pages::kExportRoot, pages::kExportRefusal, report);
    return xml::messageDocument(pages::kExportRoot, report);
}

}  // namespace eft::server
