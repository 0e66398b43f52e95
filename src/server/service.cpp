#include "service.h"

#include <sys/stat.h>

#include <cstdio>
#include <algorithm>
#include <exception>
#include <vector>

#include "export_file.h"
#include "form.h"
#include "save_body.h"
#include "save_record.h"
#include "seed.h"
#include "status_form.h"
#include "store.h"
#include "xml_text.h"

namespace eft::server {
namespace {

// A sweep row is some 800 characters of XML.
constexpr std::size_t kSweepRowReserve = 1100;
constexpr std::size_t kStatusPairFloor = 4096;

std::filesystem::path defaultExportDir(const std::filesystem::path& db) {
    const std::filesystem::path absolute = std::filesystem::absolute(db);
    return absolute.parent_path() / (absolute.stem().string() + "-export");
}

std::string refusalText(SaveRefusal refusal) {
    switch (refusal) {
        case SaveRefusal::Unknown: return "is not in the sweep (no such charge)";
        case SaveRefusal::AlreadySaved: return "is not in the sweep (already saved)";
        case SaveRefusal::Exported: return "is not in the sweep (already exported in a batch)";
        case SaveRefusal::Cleared: return "is not in the sweep (already cleared)";
        case SaveRefusal::TooLarge: return "has a Total of 1,000,000,000 or more, which no bank file can carry";
        case SaveRefusal::None: break;
    }
    return {};
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
#define EFT_TAGS(name) std::string_view("<" name ">"), std::string_view("</" name ">")

char* put(char* p, std::string_view s) { return std::copy(s.begin(), s.end(), p); }

char* textElement(char* p, std::string_view open, std::string_view close, std::string_view value) {
    return put(xml::writeEscaped(put(p, open), value), close);
}
char* wholeElement(char* p, std::string_view open, std::string_view close, std::int64_t value) {
    return put(xml::writeInteger(put(p, open), value), close);
}
char* singleElement(char* p, std::string_view open, std::string_view close, float value) {
    return put(xml::writeSingle(put(p, open), value), close);
}
char* flagElement(char* p, std::string_view open, std::string_view close, bool value) {
    return put(put(put(p, open), value ? "true" : "false"), close);
}

char* writeSweepRow(char* p, const SweepRowView& r) {
    const RowTotals totals = rowTotals(r.type, r.amounts, r.salesTaxExempt, r.subscription);
    p = put(p, "<Row>");
    p = wholeElement(p, EFT_TAGS("MemberID"), r.key.memberId);
    p = textElement(p, EFT_TAGS("MemberName"), r.memberName);
    p = wholeElement(p, EFT_TAGS("CenterID"), r.key.centerId);
    p = textElement(p, EFT_TAGS("CenterName"), r.centerName);
    if (!r.contractSigned.empty()) p = textElement(p, EFT_TAGS("ContractSigned"), r.contractSigned);
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
      originator_(bank::loadOriginator(options.originatorFile)) {
    // Opening one connection now creates the database and reports a bad path at once.
    idle_.push_back(std::make_unique<Store>(dbPath_));
    struct stat st {};
    if (::stat(dbPath_.c_str(), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    // What a crash left half done is finished before the first request; the operator may want to
    // know that it happened.
    for (const std::string& line : finishExports(*idle_.back(), exportDir_)) std::fprintf(stderr, "export: %s\n", line.c_str());
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
    writeSweep(country, [&out](std::string_view piece) {
        out += piece;
        return true;
    });
    return out;
}

bool Service::writeSweep(int country, const PieceSink& sink, std::size_t pieceBytes) {
    // Stops the row walk from inside the store's visitor once the reader is gone.
    struct ReaderGone {};
    Lease store = borrow();
    Transaction read(store->db(), Transaction::Mode::Read);
    std::vector<char> buffer(pieceBytes + kRowFixedRoom);
    std::size_t used = 0;
    auto append = [&](std::string_view s) {
        if (used + s.size() > buffer.size()) buffer.resize(used + s.size());
        used = static_cast<std::size_t>(put(buffer.data() + used, s) - buffer.data());
    };
    append(xml::kDeclaration);
    append("<Sweep>\n");
    try {
        store->forEachSweepRow(country, [&](const SweepRowView& r) {
            const std::size_t room = rowRoom(r);
            if (used + room > buffer.size()) buffer.resize(used + room);
            used = static_cast<std::size_t>(writeSweepRow(buffer.data() + used, r) - buffer.data());
            if (used >= pieceBytes) {
                if (!sink({buffer.data(), used})) throw ReaderGone{};
                used = 0;
            }
        });
    } catch (const ReaderGone&) {
        return false;
    }
    append("</Sweep>\n");
    return sink({buffer.data(), used});
}

void Service::requireSameFile() const {
    // An open connection reads and writes a file that was moved or deleted under it.
    struct stat st {};
    if (::stat(dbPath_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_)
        throw DatabaseGone("the database file " + dbPath_.string() + " is no longer the one the server opened");
}

bool Service::healthy() {
    try {
        requireSameFile();
        Lease store = borrow();
        store->isEmpty();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::size_t Service::statusPairCap() {
    Lease store = borrow();
    std::size_t items = 0;
    store->forEachPendingItem([&items](const BatchItemView&) { ++items; });
    // A few thousand pairs cost nothing to read, and below that a post naming an item that is
    // no longer waiting still gets the reason that names it.
    return std::max<std::size_t>(items, kStatusPairFloor) + 3;
}

std::string Service::batchListXml() {
    Lease store = borrow();
    std::string out;
    out.reserve(4096);
    out += xml::kDeclaration;
    out += "<BatchList>\n";
    store->forEachPendingItem([&out](const BatchItemView& v) {
        out += "<Item>";
        xml::appendElement(out, "BatchControl", v.batchNo);
        xml::appendElement(out, "CenterID", v.centerId);
        xml::appendElement(out, "Name", v.centerName);
        xml::appendElement(out, "MemberID", v.memberId);
        xml::appendElement(out, "ExportedDate", v.exportedAt);
        xml::appendElement(out, "Source", v.source);
        xml::appendSingleElement(out, "Amount", v.amount);
        xml::appendElement(out, "Country", v.country);
        out += "</Item>\n";
    });
    out += "</BatchList>\n";
    return out;
}

std::string Service::save(std::string_view body) { return save(readSaveBody(body)); }

std::string Service::save(const std::vector<SaveRecord>& records) {
    const std::string now = isoText(clock_());
    try {
        std::lock_guard lock(writeMutex_);
        requireSameFile();
        Lease store = borrow();
        Transaction t(store->db(), Transaction::Mode::Write);
        if (const auto failure = store->saveCharges(records, now)) {
            const SaveRecord& r = records[failure->index];
            return "Record SQL" + std::to_string(failure->index + 1) + ": member " + std::to_string(r.key.memberId) +
                   " at center " + std::to_string(r.key.centerId) + " (source " + std::to_string(r.key.source) +
                   ", sequence " + std::to_string(r.key.sweepSequence) + ") " + refusalText(failure->refusal);
        }
        t.commit();
    } catch (const StoreError& e) {
        return std::string("The save failed, nothing was saved: ") + e.what();
    }
    return {};
}

std::string Service::commitStatus(std::string_view body) { return commitStatus(parseStatusBody(body)); }

std::string Service::commitStatus(const StatusForm& form) {
    const std::string now = isoText(clock_());
    try {
        std::lock_guard lock(writeMutex_);
        requireSameFile();
        Lease store = borrow();
        Transaction t(store->db(), Transaction::Mode::Write);
        const std::string batch = std::to_string(form.batchNo);
        if (!store->batchExists(form.batchNo)) return "Batch " + batch + " does not exist";
        for (const bool cleared : {true, false}) {
            for (const MemberRef& ref : cleared ? form.cleared : form.failed) {
                if (store->recordOutcome(form.batchNo, ref.memberId, ref.sourceTwo, cleared, now, form.personId,
                                         form.personType) == 0)
                    return "Member " + memberRefText(ref) + " has no item waiting for its status in batch " + batch;
            }
        }
        t.commit();
    } catch (const StoreError& e) {
        return std::string("The status update failed, nothing was changed: ") + e.what();
    }
    return {};
}

std::string Service::exportBatches(std::int32_t personId, std::int16_t personType) {
    try {
        std::lock_guard lock(writeMutex_);
        requireSameFile();
        Lease store = borrow();
        const std::string report = runExport(*store, exportDir_, originator_, clock_(), personId, personType);
        if (exportNote_) exportNote_(report);
        return xml::messageDocument("Export", report);
    } catch (const DatabaseGone&) {
        throw;
    } catch (const std::exception& e) {
        return xml::messageDocument("Export", std::string("The export failed, nothing was exported: ") + e.what());
    }
}

}  // namespace eft::server
