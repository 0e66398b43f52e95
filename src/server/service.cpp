#include "service.h"

#include <cstdio>
#include <exception>

#include "export_file.h"
#include "form.h"
#include "save_record.h"
#include "seed.h"
#include "status_form.h"
#include "store.h"
#include "xml_text.h"

namespace eft::server {
namespace {

// A sweep row is some 800 characters of XML; reserving a little more avoids regrowth.
constexpr std::size_t kSweepRowReserve = 1100;

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
      clock_(options.clock ? std::move(options.clock) : Clock(localNow)),
      originator_(bank::loadOriginator(options.originatorFile)) {
    // Opening one connection now creates the database and reports a bad path at once.
    idle_.push_back(std::make_unique<Store>(dbPath_));
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
    Lease store = borrow();
    Transaction read(store->db(), Transaction::Mode::Read);
    std::string out;
    out.reserve(128 + static_cast<std::size_t>(store->countSweepRows(country)) * kSweepRowReserve);
    out += xml::kDeclaration;
    out += "<Sweep>\n";
    store->forEachSweepRow(country, [&out](const SweepRowView& r) { appendSweepRow(out, r); });
    out += "</Sweep>\n";
    return out;
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

std::string Service::save(std::string_view body) {
    const std::vector<SaveRecord> records = parseSaveBody(body);
    const std::string now = isoText(clock_());
    try {
        std::lock_guard lock(writeMutex_);
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

std::string Service::commitStatus(std::string_view body) {
    const StatusForm form = parseStatusBody(body);
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
    try {
        std::lock_guard lock(writeMutex_);
        Lease store = borrow();
        return xml::messageDocument("Export", runExport(*store, exportDir_, originator_, clock_(), personId, personType));
    } catch (const std::exception& e) {
        return xml::messageDocument("Export", std::string("The export failed, nothing was exported: ") + e.what());
    }
}

}  // namespace eft::server
