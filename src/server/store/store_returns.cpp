// The store's statements about what the bank sends back: the files sent, read back to match
// against; each return applied once; the returned items; the centers' holds.
#include "server/store/store.h"

namespace eft::server {
namespace {

std::string_view kindText(HoldKind k) { return k == HoldKind::Account ? "account" : "authorization"; }

// The center's items of the batch, by their charges.
constexpr const char* kCenterCharges = "SELECT ch.id FROM charges ch WHERE ch.center_id = ?2";

}  // namespace

std::vector<SentFile> Store::sentFiles() {
    std::vector<SentFile> out;
    Statement s = db_.prepare(
        "SELECT f.batch_no, b.country, b.exported_at, f.content FROM batch_files f "
        "JOIN batches b ON b.batch_no = f.batch_no ORDER BY f.batch_no");
    while (s.step())
        out.push_back({static_cast<std::int32_t>(s.integer(0)), static_cast<int>(s.integer(1)), std::string(s.text(2)),
                       std::string(s.text(3))});
    return out;
}

std::vector<std::pair<std::int32_t, std::int32_t>> Store::returnedItems() {
    std::vector<std::pair<std::int32_t, std::int32_t>> out;
    Statement s = db_.prepare(
        "SELECT DISTINCT bi.batch_no, ch.center_id FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id "
        "WHERE bi.return_code IS NOT NULL ORDER BY 1, 2");
    while (s.step()) out.emplace_back(static_cast<std::int32_t>(s.integer(0)), static_cast<std::int32_t>(s.integer(1)));
    return out;
}

bool Store::recordReturn(const ReturnRecord& r) {
    Statement s = db_.prepare(
        "INSERT INTO applied_returns (file_sha256, own_trace, file_name, applied_at, applied_by, code, outcome, "
        "batch_no, center_id, cents, return_date, detail) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) "
        "ON CONFLICT (file_sha256, own_trace) DO NOTHING");
    s.bind(1, r.fileSha256).bind(2, r.ownTrace).bind(3, r.fileName).bind(4, r.appliedAt).bind(5, r.appliedBy);
    s.bind(6, r.code).bind(7, r.outcome);
    if (r.batchNo != 0) s.bind(8, r.batchNo);
    else s.bindNull(8);
    if (r.centerId != 0) s.bind(9, r.centerId);
    else s.bindNull(9);
    s.bind(10, r.cents).bind(11, r.returnDate).bind(12, r.detail).run();
    return db_.changes() > 0;
}

std::vector<ReturnRecord> Store::returnRecords() {
    std::vector<ReturnRecord> out;
    Statement s = db_.prepare(
        "SELECT file_sha256, own_trace, file_name, applied_at, applied_by, code, outcome, COALESCE(batch_no, 0), "
        "COALESCE(center_id, 0), cents, return_date, detail FROM applied_returns ORDER BY id");
    while (s.step()) {
        ReturnRecord r;
        r.fileSha256 = std::string(s.text(0));
        r.ownTrace = std::string(s.text(1));
        r.fileName = std::string(s.text(2));
        r.appliedAt = std::string(s.text(3));
        r.appliedBy = std::string(s.text(4));
        r.code = std::string(s.text(5));
        r.outcome = std::string(s.text(6));
        r.batchNo = static_cast<std::int32_t>(s.integer(7));
        r.centerId = static_cast<std::int32_t>(s.integer(8));
        r.cents = s.integer(9);
        r.returnDate = std::string(s.text(10));
        r.detail = std::string(s.text(11));
        out.push_back(std::move(r));
    }
    return out;
}

bool Store::answerSeen(std::string_view sha256) {
    Statement s = db_.prepare("SELECT 1 FROM applied_returns WHERE file_sha256 = ?1 LIMIT 1");
    s.bind(1, sha256);
    return s.step();
}

RetryCount Store::retriesOf(std::int32_t batchNo, std::int32_t centerId) {
    Statement s = db_.prepare(
        "SELECT COALESCE(MAX(ch.retries), 0), COALESCE(MIN(COALESCE(ch.first_presented, b.exported_at)), '') "
        "FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id JOIN batches b ON b.batch_no = bi.batch_no "
        "WHERE bi.batch_no = ?1 AND ch.center_id = ?2");
    s.bind(1, batchNo).bind(2, centerId);
    s.step();
    return {centerId, s.integer(0), std::string(s.text(1))};
}

std::int64_t Store::returnItem(const ItemReturn& r) {
    // The charges first, while the items still tell which are waiting or cleared and not yet
    // returned: they go back to the sweep, a retry keeping the Total it was first presented at.
    Statement charges = db_.prepare(
        std::string("UPDATE charges SET state = 0, posted_rate = NULL, posted_royalty = NULL, posted_nac = NULL, "
                    "posted_royalty_reserve = NULL, posted_franchise_fee = NULL, posted_franchise_fee_reserve = NULL, "
                    "posted_gst = NULL, posted_pst = NULL, posted_nmc = NULL, posted_trust = NULL, "
                    "posted_amount = NULL, saved_by = NULL, saved_by_type = NULL, saved_at = NULL, saved_login = NULL, "
                    "retries = retries + ?3, "
                    "first_presented = COALESCE(first_presented, (SELECT exported_at FROM batches WHERE batch_no = ?1)), "
                    "presented_cents = CASE WHEN ?3 = 1 THEN COALESCE(presented_cents, batch_cents) ELSE NULL END "
                    "WHERE state IN (20, 30) AND id IN (SELECT bi.charge_id FROM batch_items bi WHERE bi.batch_no = ?1 "
                    "AND bi.return_code IS NULL AND (bi.outcome IS NULL OR bi.outcome = 1) AND bi.charge_id IN (") +
        kCenterCharges + "))");
    charges.bind(1, r.batchNo).bind(2, r.centerId).bind(3, r.retry ? 1 : 0).run();
    // A cleared item keeps the clearing it reverses; one failed by hand keeps when it was.
    Statement items = db_.prepare(
        std::string("UPDATE batch_items SET reversed_clearing_at = CASE WHEN outcome = 1 THEN outcome_at END, "
                    "reversed_clearing_login = CASE WHEN outcome = 1 THEN COALESCE(outcome_login, '') END, "
                    "outcome_at = CASE WHEN outcome = 2 THEN outcome_at ELSE ?3 END, outcome = 2, "
                    "return_code = ?4, return_meaning = ?5, return_date = ?6, return_file = ?7 "
                    "WHERE batch_no = ?1 AND return_code IS NULL AND charge_id IN (") +
        kCenterCharges + ")");
    items.bind(1, r.batchNo).bind(2, r.centerId).bind(3, r.at).bind(4, r.code).bind(5, r.meaning);
    items.bind(6, r.returnDate).bind(7, r.fileName).run();
    return db_.changes();
}

std::vector<ReturnedItem> Store::returnedItemsOf(std::int32_t batchNo) {
    std::vector<ReturnedItem> out;
    Statement s = db_.prepare(
        "SELECT DISTINCT ch.center_id, bi.return_code, COALESCE(bi.return_meaning, ''), COALESCE(bi.return_date, '') "
        "FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id "
        "WHERE bi.batch_no = ?1 AND bi.return_code IS NOT NULL ORDER BY 1");
    s.bind(1, batchNo);
    while (s.step())
        out.push_back({batchNo, static_cast<std::int32_t>(s.integer(0)), std::string(s.text(1)), std::string(s.text(2)),
                       std::string(s.text(3))});
    return out;
}

std::optional<ReturnedItem> Store::returnedItemOf(std::int32_t batchNo, std::int32_t memberId, bool sourceTwo) {
    Statement s = db_.prepare(
        "SELECT ch.center_id, bi.return_code, COALESCE(bi.return_meaning, ''), COALESCE(bi.return_date, '') "
        "FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id WHERE bi.batch_no = ?1 AND ch.member_id = ?2 "
        "AND (CASE WHEN ch.source = 2 THEN 1 ELSE 0 END) = ?3 AND bi.return_code IS NOT NULL LIMIT 1");
    s.bind(1, batchNo).bind(2, memberId).bind(3, sourceTwo ? 1 : 0);
    if (!s.step()) return std::nullopt;
    return ReturnedItem{batchNo, static_cast<std::int32_t>(s.integer(0)), std::string(s.text(1)), std::string(s.text(2)),
                        std::string(s.text(3))};
}

std::int64_t Store::holdCenter(std::int32_t centerId, HoldKind kind, std::string_view code, std::string_view reason,
                               std::string_view since, std::string_view fileName) {
    Statement open = db_.prepare(
        "SELECT id FROM center_holds WHERE center_id = ?1 AND kind = ?2 AND lifted_at IS NULL ORDER BY id LIMIT 1");
    open.bind(1, centerId).bind(2, kindText(kind));
    if (open.step()) return open.integer(0);
    Statement s = db_.prepare(
        "INSERT INTO center_holds (center_id, kind, code, reason, since, file_name) VALUES (?1, ?2, ?3, ?4, ?5, ?6) "
        "RETURNING id");
    s.bind(1, centerId).bind(2, kindText(kind)).bind(3, code).bind(4, reason).bind(5, since).bind(6, fileName);
    s.step();
    const std::int64_t id = s.integer(0);
    s.run();
    return id;
}

std::int64_t Store::liftHolds(std::int32_t centerId, HoldKind kind, std::string_view at, std::string_view by,
                              std::string_view how) {
    Statement s = db_.prepare(
        "UPDATE center_holds SET lifted_at = ?3, lifted_by = ?4, lifted_how = ?5 "
        "WHERE center_id = ?1 AND kind = ?2 AND lifted_at IS NULL");
    s.bind(1, centerId).bind(2, kindText(kind)).bind(3, at).bind(4, by).bind(5, how).run();
    return db_.changes();
}

std::vector<CenterHold> Store::centerHolds(bool all) {
    std::vector<CenterHold> out;
    Statement s = db_.prepare(
        std::string("SELECT id, center_id, kind, code, reason, since, file_name, COALESCE(lifted_at, ''), "
                    "COALESCE(lifted_by, ''), COALESCE(lifted_how, '') FROM center_holds") +
        (all ? "" : " WHERE lifted_at IS NULL") + " ORDER BY center_id, id");
    while (s.step()) {
        CenterHold h;
        h.id = s.integer(0);
        h.centerId = static_cast<std::int32_t>(s.integer(1));
        h.kind = s.text(2) == "account" ? HoldKind::Account : HoldKind::Authorization;
        h.code = std::string(s.text(3));
        h.reason = std::string(s.text(4));
        h.since = std::string(s.text(5));
        h.fileName = std::string(s.text(6));
        h.liftedAt = std::string(s.text(7));
        h.liftedBy = std::string(s.text(8));
        h.liftedHow = std::string(s.text(9));
        out.push_back(std::move(h));
    }
    return out;
}

std::vector<std::pair<std::int32_t, bank::BankAccount>> Store::centerAccounts() {
    std::vector<std::pair<std::int32_t, bank::BankAccount>> out;
    Statement s = db_.prepare(
        "SELECT center_id, COALESCE(routing, ''), COALESCE(institution, ''), COALESCE(transit, ''), account, "
        "account_type FROM center_accounts ORDER BY center_id");
    while (s.step())
        out.emplace_back(static_cast<std::int32_t>(s.integer(0)),
                         bank::BankAccount{std::string(s.text(1)), std::string(s.text(2)), std::string(s.text(3)),
                                           std::string(s.text(4)), static_cast<bank::AccountType>(s.integer(5))});
    return out;
}

std::vector<Store::WaitingBatch> Store::waitingBatches() {
    std::vector<WaitingBatch> out;
    Statement s = db_.prepare(
        "SELECT b.batch_no, b.country, b.exported_at FROM batches b WHERE EXISTS "
        "(SELECT 1 FROM batch_items bi WHERE bi.batch_no = b.batch_no AND bi.outcome IS NULL) ORDER BY b.batch_no");
    while (s.step())
        out.push_back({static_cast<std::int32_t>(s.integer(0)), static_cast<int>(s.integer(1)), std::string(s.text(2))});
    return out;
}

bool Store::recordChangeNotice(const ChangeNoticeRow& n) {
    Statement s = db_.prepare(
        "INSERT INTO change_notices (file_sha256, own_trace, file_name, center_id, code, field, old_value, new_value, "
        "notice_date, refused) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
        "ON CONFLICT (file_sha256, own_trace, field) DO NOTHING");
    s.bind(1, n.fileSha256).bind(2, n.ownTrace).bind(3, n.fileName);
    if (n.centerId != 0) s.bind(4, n.centerId);
    else s.bindNull(4);
    s.bind(5, n.code).bind(6, n.field).bind(7, n.oldValue).bind(8, n.newValue).bind(9, n.date).bind(10, n.refused).run();
    return db_.changes() > 0;
}

std::vector<ChangeNoticeRow> Store::changeNotices() {
    std::vector<ChangeNoticeRow> out;
    Statement s = db_.prepare(
        "SELECT id, file_sha256, own_trace, file_name, COALESCE(center_id, 0), code, field, old_value, new_value, "
        "notice_date, refused, COALESCE(applied_at, ''), COALESCE(applied_by, '') FROM change_notices ORDER BY id");
    while (s.step()) {
        ChangeNoticeRow n;
        n.id = s.integer(0);
        n.fileSha256 = std::string(s.text(1));
        n.ownTrace = std::string(s.text(2));
        n.fileName = std::string(s.text(3));
        n.centerId = static_cast<std::int32_t>(s.integer(4));
        n.code = std::string(s.text(5));
        n.field = std::string(s.text(6));
        n.oldValue = std::string(s.text(7));
        n.newValue = std::string(s.text(8));
        n.date = std::string(s.text(9));
        n.refused = std::string(s.text(10));
        n.appliedAt = std::string(s.text(11));
        n.appliedBy = std::string(s.text(12));
        out.push_back(std::move(n));
    }
    return out;
}

void Store::markChangeApplied(std::int64_t id, std::string_view at, std::string_view by) {
    Statement s = db_.prepare("UPDATE change_notices SET applied_at = ?2, applied_by = ?3 WHERE id = ?1");
    s.bind(1, id).bind(2, at).bind(3, by).run();
}

void Store::setCenterName(std::int32_t centerId, std::string_view name) {
    Statement s = db_.prepare("UPDATE centers SET name = ?2 WHERE id = ?1");
    s.bind(1, centerId).bind(2, name).run();
}

std::optional<std::string> Store::centerName(std::int32_t centerId) {
    Statement s = db_.prepare("SELECT name FROM centers WHERE id = ?1");
    s.bind(1, centerId);
    if (!s.step()) return std::nullopt;
    return std::string(s.text(0));
}

std::vector<std::pair<int, std::int64_t>> Store::entriesSentSince(std::string_view sinceIso) {
    std::vector<std::pair<int, std::int64_t>> out;
    Statement s = db_.prepare(
        "SELECT b.country, SUM(f.debit_count + f.credit_count) FROM batch_files f JOIN batches b "
        "ON b.batch_no = f.batch_no WHERE b.exported_at >= ?1 GROUP BY b.country ORDER BY b.country");
    s.bind(1, sinceIso);
    while (s.step()) out.emplace_back(static_cast<int>(s.integer(0)), s.integer(1));
    return out;
}

std::vector<Store::ReturnCount> Store::returnsSince(std::string_view sinceDate) {
    std::vector<ReturnCount> out;
    Statement s = db_.prepare(
        "SELECT b.country, r.code, COUNT(*) FROM applied_returns r JOIN batches b ON b.batch_no = r.batch_no "
        "WHERE r.outcome IN ('matched', 'unknown code') AND r.return_date >= ?1 GROUP BY b.country, r.code "
        "ORDER BY b.country, r.code");
    s.bind(1, sinceDate);
    while (s.step()) out.push_back({static_cast<int>(s.integer(0)), std::string(s.text(1)), s.integer(2)});
    return out;
}

}  // namespace eft::server
