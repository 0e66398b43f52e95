#include "server/export/files_report.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "server/export/delivery.h"
#include "server/export/file_claim.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

std::string sha256(const std::string& bytes) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string resolverText(const DeliveryAttempt& a) {
    return a.resolvedBy + (a.resolvedAs.empty() ? "" : " as " + a.resolvedAs) + " at " + a.resolvedAt;
}

// The attempt of the file that has no outcome nor resolution, if any: there is at most one.
const DeliveryAttempt* openAttempt(const FileListing& f) {
    for (const DeliveryAttempt& a : f.deliveries)
        if (!a.exitStatus && a.resolution.empty()) return &a;
    return nullptr;
}

// Where a file's delivery stands: a state, the time it holds since (empty when none) and what
// else is known.
struct DeliveryState {
    std::string_view state;  // one of the constants below
    std::string at;
    std::string note;
};
constexpr std::string_view kDelivered = "delivered", kNotAttempted = "no", kUnderWay = "under way",
                           kInDoubt = "in doubt", kRedeliver = "to be delivered again", kFailed = "failed";

DeliveryState deliveryState(const FileListing& f, std::int64_t now) {
    for (const DeliveryAttempt& a : f.deliveries)
        if (a.exitStatus == 0) return {kDelivered, a.startedAt, {}};
    for (const DeliveryAttempt& a : f.deliveries)
        if (a.resolution == kResolvedDelivered) return {kDelivered, a.startedAt, "recorded as delivered by " + resolverText(a)};
    if (f.deliveries.empty()) return {kNotAttempted, {}, {}};
    if (const DeliveryAttempt* open = openAttempt(f))
        return {deliveryUnderWay(*open, f.claim, now) ? kUnderWay : kInDoubt, open->startedAt,
                "attempt " + std::to_string(open->attempt)};
    const DeliveryAttempt& last = f.deliveries.back();
    if (last.resolution == kResolvedRedeliver) return {kRedeliver, {}, "as asked by " + resolverText(last)};
    const std::string why = last.stderrHead.substr(0, last.stderrHead.find('\n'));
    return {kFailed, {}, "exit " + std::to_string(last.exitStatus.value_or(0)) + (why.empty() ? "" : ": " + why)};
}

std::string deliveryText(const FileListing& f, std::int64_t now) {
    const DeliveryState d = deliveryState(f, now);
    if (d.state == kDelivered) return d.note.empty() ? d.at : d.at + " (" + d.note + ")";
    if (d.state == kUnderWay || d.state == kInDoubt) return std::string(d.state) + " since " + d.at + " (" + d.note + ")";
    if (d.state == kRedeliver) return std::string(d.state) + ", " + d.note;
    if (d.state == kFailed) return "failed " + std::to_string(f.deliveries.size()) + "x, " + d.note;
    return std::string(d.state);
}

const char* countryCode(const FileListing& f) { return f.country == 2 ? "CA" : "US"; }

}  // namespace

std::string filesReport(Store& store) {
    std::string out;
    Transaction read(store.db(), Transaction::Mode::Read);
    const std::int64_t now = epochSeconds();
    const std::vector<OpenDelivery> doubts = deliveriesInDoubt(store);
    if (!doubts.empty()) {
        out += "Deliveries in doubt: their command ran, or may have, and its outcome is unknown. Ask the bank whether "
               "the file arrived, then record the answer with `eft-server files --delivered BATCH` or "
               "`--redeliver BATCH`.\n";
        for (const OpenDelivery& d : doubts) out += "in doubt: " + doubtText(d) + "\n";
        out += "\n";
    }
    out += "file\tbatch\tcountry\tentries\tdebits\tcredits\tsha256\tpublished\tdelivered\n";
    for (const FileListing& f : store.listFiles()) {
        const bank::FileSummary& s = f.summary;
        out += f.name + "\t" + std::to_string(f.batchNo) + "\t" + countryCode(f) + "\t" +
               std::to_string(s.entries()) + "\t" + text::money(s.debitCents) + " (" + std::to_string(s.debitCount) +
               ")\t" + text::money(s.creditCents) + " (" + std::to_string(s.creditCount) + ")\t" + sha256(f.content) +
               "\t" + (f.published ? (f.publishedAt.empty() ? "yes" : f.publishedAt) : "no") + "\t" +
               deliveryText(f, now) + "\n";
    }
    return out;
}

output::Records filesRecords(Store& store) {
    output::Records r{"files",
                      {"file", "batch", "country", "entries", "debits", "debit_count", "credits", "credit_count", "sha256",
                       "published", "published_at", "delivery", "delivery_at", "delivery_attempts", "delivery_note"},
                      {}};
    Transaction read(store.db(), Transaction::Mode::Read);
    const std::int64_t now = epochSeconds();
    const auto textOrNone = [](const std::string& s) { return s.empty() ? output::Value{} : output::Value{s}; };
    for (const FileListing& f : store.listFiles()) {
        const bank::FileSummary& s = f.summary;
        const DeliveryState d = deliveryState(f, now);
        r.add({f.name, std::int64_t{f.batchNo}, std::string(countryCode(f)), std::int64_t{s.entries()},
               output::Amount{s.debitCents}, std::int64_t{s.debitCount}, output::Amount{s.creditCents},
               std::int64_t{s.creditCount}, sha256(f.content), f.published, textOrNone(f.publishedAt),
               std::string(d.state == kNotAttempted ? "not attempted" : d.state), textOrNone(d.at),
               static_cast<std::int64_t>(f.deliveries.size()), textOrNone(d.note)});
    }
    return r;
}

std::string resolveDelivery(Store& store, std::int32_t batchNo, Resolution resolution, std::string_view user,
                            std::string_view as, std::string_view at) {
    // Under the writer lock: the attempt is judged in doubt and resolved with nothing between.
    Transaction t(store.db(), Transaction::Mode::Write);
    const std::optional<FileListing> f = store.fileListing(batchNo);
    const std::string batch = "batch " + std::to_string(batchNo);
    if (!f) throw std::runtime_error(batch + " has no bank file; nothing was changed");
    const std::string file = f->name + " (" + batch + ")";
    const std::int64_t now = epochSeconds();
    const DeliveryAttempt* open = openAttempt(*f);
    if (open == nullptr) {
        std::string state = deliveryText(*f, now);
        if (state == "no") state = "no delivery was attempted yet";
        else if (state.front() >= '0' && state.front() <= '9') state = "delivered " + state;
        throw std::runtime_error("the delivery of " + file + " is not in doubt (" + state + "); nothing was changed");
    }
    if (deliveryUnderWay(*open, f->claim, now))
        throw std::runtime_error("the delivery of " + file + " is under way (attempt " + std::to_string(open->attempt) +
                                 ", started " + open->startedAt + " by the server with " + serverText(open->startedBy) +
                                 "), not in doubt; nothing was changed");
    const bool delivered = resolution == Resolution::Delivered;
    if (!store.resolveDelivery(batchNo, open->attempt, delivered ? kResolvedDelivered : kResolvedRedeliver, at, user, as))
        throw std::runtime_error("the delivery of " + file + " changed meanwhile; nothing was changed");
    t.commit();
    const std::string who = std::string(user) + (as.empty() ? "" : " as " + std::string(as));
    return file + ": attempt " + std::to_string(open->attempt) + " recorded " +
           (delivered ? "as delivered by " + who + "; the file is not delivered again"
                      : "for delivery again by " + who +
                            "; a server that has the file in its export folder delivers it within a minute (or at "
                            "its next start)") +
           "\n";
}

}  // namespace eft::server
