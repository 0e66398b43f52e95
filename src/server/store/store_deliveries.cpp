// The store's statements about deliveries: which files are to be delivered, each attempt's
// start and outcome, and the administrator's word on an attempt whose outcome is unknown.
#include <algorithm>
#include <iterator>
#include <map>

#include "server/store/store.h"

namespace eft::server {
namespace {

// A file is not handed to the command again once it was delivered (an attempt exited 0, or the
// administrator said it arrived), nor while an attempt of it has no outcome: that command may be
// running, or may have delivered the file with nobody left to record it.
constexpr const char* kNotToDeliver =
    "EXISTS (SELECT 1 FROM deliveries d WHERE d.batch_no = f.batch_no AND (d.exit_status = 0 OR "
    "d.resolution = 'delivered' OR (d.exit_status IS NULL AND d.resolution IS NULL)))";

constexpr const char* kAttemptColumns =
    "d.batch_no, d.attempt, d.started_at, COALESCE(d.started_by, ''), d.exit_status, COALESCE(d.stderr, ''), "
    "COALESCE(d.ended_at, ''), COALESCE(d.resolution, ''), COALESCE(d.resolved_at, ''), COALESCE(d.resolved_by, ''), "
    "COALESCE(d.resolved_as, '')";

// The columns of kAttemptColumns, from `first` on.
DeliveryAttempt attemptAt(const Statement& s, int first) {
    DeliveryAttempt a;
    a.batchNo = static_cast<std::int32_t>(s.integer(first));
    a.attempt = s.integer(first + 1);
    a.startedAt = std::string(s.text(first + 2));
    a.startedBy = std::string(s.text(first + 3));
    if (!s.isNull(first + 4)) a.exitStatus = s.integer(first + 4);
    a.stderrHead = std::string(s.text(first + 5));
    a.endedAt = std::string(s.text(first + 6));
    a.resolution = std::string(s.text(first + 7));
    a.resolvedAt = std::string(s.text(first + 8));
    a.resolvedBy = std::string(s.text(first + 9));
    a.resolvedAs = std::string(s.text(first + 10));
    return a;
}

std::optional<FileClaim> claimAt(const Statement& s, int column) {
    if (s.isNull(column)) return std::nullopt;
    return FileClaim{std::string(s.text(column)), s.isNull(column + 1) ? 0 : s.integer(column + 1)};
}

std::vector<FileListing> listings(Database& db, std::optional<std::int32_t> batchNo) {
    const std::string where = batchNo ? " WHERE f.batch_no = ?1" : "";
    std::vector<FileListing> out;
    Statement s = db.prepare(
        "SELECT f.batch_no, f.name, b.country, f.debit_count, f.debit_cents, f.credit_count, f.credit_cents, "
        "f.content, f.published, COALESCE(f.published_at, ''), f.claimed_by, f.claimed_until "
        "FROM batch_files f JOIN batches b ON b.batch_no = f.batch_no" + where + " ORDER BY f.batch_no");
    if (batchNo) s.bind(1, *batchNo);
    std::map<std::int32_t, std::size_t> index;
    while (s.step()) {
        FileListing f;
        f.batchNo = static_cast<std::int32_t>(s.integer(0));
        f.name = std::string(s.text(1));
        f.country = static_cast<int>(s.integer(2));
        f.summary = {s.integer(3), s.integer(4), s.integer(5), s.integer(6)};
        f.content = std::string(s.text(7));
        f.published = s.integer(8) != 0;
        f.publishedAt = std::string(s.text(9));
        f.claim = claimAt(s, 10);
        index[f.batchNo] = out.size();
        out.push_back(std::move(f));
    }
    Statement d = db.prepare(std::string("SELECT ") + kAttemptColumns + " FROM deliveries d" +
                             (batchNo ? " WHERE d.batch_no = ?1" : "") + " ORDER BY d.batch_no, d.attempt");
    if (batchNo) d.bind(1, *batchNo);
    while (d.step()) {
        DeliveryAttempt a = attemptAt(d, 0);
        if (const auto at = index.find(a.batchNo); at != index.end()) out[at->second].deliveries.push_back(std::move(a));
    }
    return out;
}

// The net in cents of each center in each batch whose file was not kept (exported before files
// were).
constexpr const char* kUnkeptNets =
    "  SELECT b.batch_no, b.file_name, b.country, b.exported_at, ch.center_id, "
    "    SUM(CAST(round(i.amount * 100) AS BIGINT)) AS cents "
    "  FROM batches b JOIN batch_items i ON i.batch_no = b.batch_no JOIN charges ch ON ch.id = i.charge_id "
    "  WHERE NOT EXISTS (SELECT 1 FROM batch_files f WHERE f.batch_no = b.batch_no) "
    "  GROUP BY b.batch_no, b.file_name, b.country, b.exported_at, ch.center_id";

// Batches exported before their files were kept in the database, as far as their items tell:
// a center's items make one entry, a debit when they net above zero and a credit below. A batch
// whose every center nets to zero was settled with no file, and is not one of them.
std::vector<FileListing> filesNotKept(Database& db) {
    std::vector<FileListing> out;
    Statement s = db.prepare(
        "SELECT batch_no, file_name, country, exported_at, SUM(CASE WHEN cents > 0 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN cents > 0 THEN cents ELSE 0 END), SUM(CASE WHEN cents < 0 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN cents < 0 THEN -cents ELSE 0 END) FROM ("
        + std::string(kUnkeptNets) + ") per_center "
        "GROUP BY batch_no, file_name, country, exported_at HAVING SUM(CASE WHEN cents <> 0 THEN 1 ELSE 0 END) > 0 "
        "ORDER BY batch_no");
    while (s.step()) {
        FileListing f;
        f.batchNo = static_cast<std::int32_t>(s.integer(0));
        f.name = std::string(s.text(1));
        f.country = static_cast<int>(s.integer(2));
        f.kept = false;
        f.exportedAt = std::string(s.text(3));
        f.summary = {s.integer(4), s.integer(5), s.integer(6), s.integer(7)};
        out.push_back(std::move(f));
    }
    return out;
}

}  // namespace

std::vector<PendingDelivery> Store::pendingDeliveries(std::string_view place) {
    std::vector<PendingDelivery> out;
    Statement s = db_.prepare(std::string("SELECT f.batch_no, f.name, f.content FROM batch_files f WHERE f.published = 1 "
                                          "AND (f.published_to IS NULL OR f.published_to = ?1) AND NOT ") +
                              kNotToDeliver + " ORDER BY f.batch_no");
    s.bind(1, place);
    while (s.step())
        out.push_back({static_cast<std::int32_t>(s.integer(0)), std::string(s.text(1)), std::string(s.text(2))});
    return out;
}

std::optional<std::int64_t> Store::startDelivery(std::int32_t batchNo, std::string_view at, std::string_view by) {
    Statement check = db_.prepare(std::string("SELECT ") + kNotToDeliver + ", (SELECT COALESCE(MAX(attempt), 0) FROM "
                                  "deliveries WHERE batch_no = ?1) FROM batch_files f WHERE f.batch_no = ?1");
    check.bind(1, batchNo);
    if (!check.step() || check.integer(0) != 0) return std::nullopt;
    const std::int64_t attempt = check.integer(1) + 1;
    Statement s = db_.prepare(
        "INSERT INTO deliveries (batch_no, attempt, started_at, started_by, stderr) VALUES (?1, ?2, ?3, ?4, '')");
    s.bind(1, batchNo).bind(2, attempt).bind(3, at).bind(4, by).run();
    return attempt;
}

void Store::recordDeliveryOutcome(std::int32_t batchNo, std::int64_t attempt, int exitStatus,
                                  std::string_view stderrHead, std::string_view at) {
    Statement s = db_.prepare(
        "UPDATE deliveries SET exit_status = ?3, stderr = ?4, ended_at = ?5 WHERE batch_no = ?1 AND attempt = ?2");
    s.bind(1, batchNo).bind(2, attempt).bind(3, exitStatus).bind(4, stderrHead).bind(5, at).run();
}

std::vector<OpenDelivery> Store::openDeliveries() {
    std::vector<OpenDelivery> out;
    Statement s = db_.prepare(std::string("SELECT ") + kAttemptColumns +
                              ", f.name, f.claimed_by, f.claimed_until FROM deliveries d JOIN batch_files f ON "
                              "f.batch_no = d.batch_no WHERE d.exit_status IS NULL AND d.resolution IS NULL "
                              "ORDER BY d.batch_no, d.attempt");
    while (s.step()) out.push_back({attemptAt(s, 0), std::string(s.text(11)), claimAt(s, 12)});
    return out;
}

bool Store::resolveDelivery(std::int32_t batchNo, std::int64_t attempt, std::string_view resolution,
                            std::string_view at, std::string_view by, std::string_view as) {
    Statement s = db_.prepare(
        "UPDATE deliveries SET resolution = ?3, resolved_at = ?4, resolved_by = ?5, resolved_as = ?6 "
        "WHERE batch_no = ?1 AND attempt = ?2 AND exit_status IS NULL AND resolution IS NULL");
    s.bind(1, batchNo).bind(2, attempt).bind(3, resolution).bind(4, at).bind(5, by);
    if (as.empty()) s.bindNull(6);
    else s.bind(6, as);
    s.run();
    return db_.changes() == 1;
}

std::vector<FileListing> Store::listFiles() {
    std::vector<FileListing> kept = listings(db_, std::nullopt);
    std::vector<FileListing> old = filesNotKept(db_);
    if (old.empty()) return kept;
    std::vector<FileListing> out;
    out.reserve(kept.size() + old.size());
    std::merge(std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()),
               std::make_move_iterator(old.begin()), std::make_move_iterator(old.end()), std::back_inserter(out),
               [](const FileListing& a, const FileListing& b) { return a.batchNo < b.batchNo; });
    return out;
}

std::vector<UnkeptEntry> Store::unkeptEntries() {
    std::vector<UnkeptEntry> out;
    Statement s = db_.prepare(std::string("SELECT batch_no, country, exported_at, center_id, cents FROM (") +
                              kUnkeptNets + ") per_center WHERE cents <> 0 ORDER BY batch_no, center_id");
    while (s.step())
        out.push_back({static_cast<std::int32_t>(s.integer(0)), static_cast<int>(s.integer(1)), std::string(s.text(2)),
                       static_cast<std::int32_t>(s.integer(3)), s.integer(4)});
    return out;
}

std::optional<FileListing> Store::fileListing(std::int32_t batchNo) {
    std::vector<FileListing> one = listings(db_, batchNo);
    if (one.empty()) return std::nullopt;
    return std::move(one.front());
}

}  // namespace eft::server
