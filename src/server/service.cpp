#include "service.h"

#include <algorithm>
#include <exception>

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

// A sweep row is some 800 characters of XML; a piece holds a little more than it is asked for.
constexpr std::size_t kSweepRowReserve = 1100;
constexpr std::size_t kStatusPairFloor = 4096;

std::filesystem::path defaultExportDir(const std::filesystem::path& db) {
    const std::filesystem::path absolute = std::filesystem::absolute(db);
    return absolute.parent_path() / (absolute.stem().string() + "-export");
}

std::string countryName(int country) { return country == 2 ? "Canada" : "United States"; }

// "-1,234.56" from whole cents.
std::string moneyText(std::int64_t cents) {
    const bool negative = cents < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
    std::string whole = std::to_string(magnitude / 100);
    for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) whole.insert(static_cast<std::size_t>(at), ",");
    const unsigned fraction = static_cast<unsigned>(magnitude % 100);
    return (negative ? "-" : "") + whole + "." + (fraction < 10 ? "0" : "") + std::to_string(fraction);
}

std::string refusalText(SaveRefusal refusal) {
    switch (refusal) {
        case SaveRefusal::Unknown: return "is not in the sweep (no such charge)";
        case SaveRefusal::AlreadySaved: return "is not in the sweep (already saved)";
        case SaveRefusal::Exported: return "is not in the sweep (already exported in a batch)";
        case SaveRefusal::Cleared: return "is not in the sweep (already cleared)";
        case SaveRefusal::None: break;
    }
    return {};
}

void appendSweepRow(std::string& out, const SweepRowView& r) {
    using namespace xml;
    const RowTotals totals = rowTotals(r.type, r.amounts, r.salesTaxExempt, r.subscription);
    out += "<Row>";
    appendElement(out, "MemberID", r.key.memberId);
    appendElement(out, "MemberName", r.memberName);
    appendElement(out, "CenterID", r.key.centerId);
    appendElement(out, "CenterName", r.centerName);
    if (!r.contractSigned.empty()) appendElement(out, "ContractSigned", r.contractSigned);
    appendSingleElement(out, "ConversionRate", r.amounts.conversionRate);
    appendSingleElement(out, "Royalty", r.amounts.royalty);
    appendSingleElement(out, "NAC", r.amounts.nac);
    appendSingleElement(out, "RoyaltyReserve", r.amounts.royaltyReserve);
    appendSingleElement(out, "FranchiseFee", r.amounts.franchiseFee);
    appendSingleElement(out, "FranchiseFeeReserve", r.amounts.franchiseFeeReserve);
    appendBoolElement(out, "SalesTaxExempt", r.salesTaxExempt);
    appendElement(out, "Source", r.key.source);
    appendElement(out, "SourceDescription", r.sourceDescription);
    appendSingleElement(out, "GST", r.amounts.gst);
    appendSingleElement(out, "PST", r.amounts.pst);
    appendSingleElement(out, "NMCPayment", r.amounts.nmcPayment);
    appendElement(out, "SweepSequence", r.key.sweepSequence);
    appendElement(out, "SweepDate", r.sweepDate);
    appendElement(out, "Type", r.type);
    appendElement(out, "TrustID", r.trustId);
    appendSingleElement(out, "INRowTotal", totals.in);
    appendSingleElement(out, "OUTRowTotal", totals.out);
    appendElement(out, "MemberType", r.memberType);
    appendBoolElement(out, "SubscriptionMembership", r.subscription);
    appendBoolElement(out, "DownPayment", r.downPayment);
    out += "</Row>\n";
}

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
      clock_(options.clock ? std::move(options.clock) : Clock(localNow)) {
    // Opening one connection now creates the database and reports a bad path at once.
    idle_.push_back(std::make_unique<Store>(dbPath_));
}

Service::~Service() = default;

bool Service::seedDemo() {
    std::lock_guard lock(writeMutex_);
    Lease store = borrow();
    return server::seedDemo(*store);
}

std::string Service::sweepXml(int country) {
    std::string out;
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
    std::string out;
    out.reserve(pieceBytes + kSweepRowReserve * 2);
    out += xml::kDeclaration;
    out += "<Sweep>\n";
    try {
        store->forEachSweepRow(country, [&](const SweepRowView& r) {
            appendSweepRow(out, r);
            if (out.size() >= pieceBytes) {
                if (!sink(out)) throw ReaderGone{};
                out.clear();
            }
        });
    } catch (const ReaderGone&) {
        return false;
    }
    out += "</Sweep>\n";
    return sink(out);
}

bool Service::healthy() {
    try {
        // An open connection reads a file that was moved or deleted under it; the server
        // would then write where nobody will look.
        if (!std::filesystem::exists(dbPath_)) return false;
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
        Lease store = borrow();
        Transaction t(store->db(), Transaction::Mode::Write);
        for (std::size_t k = 0; k < records.size(); ++k) {
            const SaveRecord& r = records[k];
            const SaveRefusal refusal = store->saveCharge(r, now);
            if (refusal != SaveRefusal::None)
                return "Record SQL" + std::to_string(k + 1) + ": member " + std::to_string(r.key.memberId) +
                       " at center " + std::to_string(r.key.centerId) + " (source " + std::to_string(r.key.source) +
                       ", sequence " + std::to_string(r.key.sweepSequence) + ") " + refusalText(refusal);
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
    const Timestamp at = clock_();
    const std::string atText = isoText(at);
    std::string report;
    try {
        std::lock_guard lock(writeMutex_);
        Lease store = borrow();
        Transaction t(store->db(), Transaction::Mode::Write);
        StagedFiles files(exportDir_);
        for (const int country : {1, 2}) {
            const auto batch = store->formBatch(country, at, atText, personId, personType);
            if (!batch) continue;
            const std::string name = exportFileName(*batch);
            files.stage(name, exportFileText(*batch));
            store->setBatchFile(batch->batchNo, name);
            const ExportTotals totals = exportTotals(*batch);
            report += "Batch " + std::to_string(batch->batchNo) + ", " + countryName(country) + ": " +
                      std::to_string(totals.items) + " items from " + std::to_string(batch->centers.size()) +
                      " centers; due in " + moneyText(totals.inCents) + ", due out " + moneyText(totals.outCents) +
                      ", net " + moneyText(totals.netCents()) + "; file " + name + "\n";
        }
        if (report.empty()) return xml::messageDocument("Export", "No saved items were eligible for export.");
        files.publish();
        t.commit();
        files.keep();
    } catch (const std::exception& e) {
        return xml::messageDocument("Export", std::string("The export failed, nothing was exported: ") + e.what());
    }
    report += "Files written to " + exportDir_.string();
    if (exportNote_) exportNote_(report);
    return xml::messageDocument("Export", report);
}

}  // namespace eft::server
