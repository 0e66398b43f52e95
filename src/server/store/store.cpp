#include "server/store/store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <tuple>
#include <unordered_map>

#include "server/store/schema.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

constexpr int kCleared = 1;
constexpr int kFailed = 2;

// An item the batch list shows: waiting for its status, or returned in a batch still waiting.
// The batches waiting come first, from the pending index, and their items by the key: the
// items of settled batches, which only grow, are never read.
constexpr std::string_view kListedItem =
    "bi.batch_no IN (SELECT w.batch_no FROM batch_items w WHERE w.outcome IS NULL) "
    "AND (bi.outcome IS NULL OR bi.return_code IS NOT NULL)";

// The (member, center) pairs an export holds back: a table of the connection's own, filled by
// formBatch. Made again before each use too, since a PostgreSQL connection opened again after
// it was lost has lost it.
void makeHeldTable(Database& db) {
    db.exec("CREATE TEMP TABLE IF NOT EXISTS export_held (member_id INTEGER NOT NULL, center_id INTEGER NOT NULL, "
            "PRIMARY KEY (member_id, center_id))");
}

// What a save or a status commit posts, staged so that each check and each change is one
// statement over all the posted rows rather than one statement per row.
//
// SQLite stages them in tables of the connection's own and finds the staged rows by their
// keys: it has no statistics to choose a join by.
constexpr const char* kSqliteStaging = R"sql(
CREATE TEMP TABLE IF NOT EXISTS staged_centers (center_id INTEGER PRIMARY KEY);
CREATE TEMP TABLE IF NOT EXISTS staged_saves (
  charge_id INTEGER PRIMARY KEY, posted_rate REAL, posted_royalty REAL, posted_nac REAL,
  posted_royalty_reserve REAL, posted_franchise_fee REAL, posted_franchise_fee_reserve REAL, posted_gst REAL,
  posted_pst REAL, posted_nmc REAL, posted_trust INTEGER, posted_amount REAL, batch_cents INTEGER,
  saved_by INTEGER, saved_by_type INTEGER);
CREATE TEMP TABLE IF NOT EXISTS staged_outcomes (
  member_id INTEGER NOT NULL, source_two INTEGER NOT NULL, outcome INTEGER NOT NULL, ord INTEGER NOT NULL,
  PRIMARY KEY (member_id, source_two));
CREATE TEMP TABLE IF NOT EXISTS staged_waiting (
  charge_id INTEGER PRIMARY KEY, center_id INTEGER NOT NULL, member_id INTEGER NOT NULL, source INTEGER NOT NULL,
  source_two INTEGER NOT NULL, exported INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS staged_waiting_ref ON staged_waiting (member_id, source_two);
)sql";

// PostgreSQL takes a save's rows as arrays bound to the statements themselves: a save is the
// busiest request there is, and a temporary table costs its transaction catalogue work and an
// emptying at commit, more than a save of a member's two charges costs in all. A status commit
// stages its references and the batch's items in tables, emptied at commit without keeping the
// space of deleted rows, which no autovacuum of a temporary table would take back. They carry
// no index: emptying one at each commit costs more than hashing the staged rows, which
// PostgreSQL does once it knows their number (kLargePost).
constexpr const char* kPostgresStaging = R"sql(
CREATE TEMP TABLE IF NOT EXISTS staged_outcomes (
  member_id integer NOT NULL, source_two integer NOT NULL, outcome integer NOT NULL, ord bigint NOT NULL)
  ON COMMIT DELETE ROWS;
CREATE TEMP TABLE IF NOT EXISTS staged_waiting (
  charge_id bigint NOT NULL, center_id integer NOT NULL, member_id integer NOT NULL, source integer NOT NULL,
  source_two integer NOT NULL, exported integer NOT NULL) ON COMMIT DELETE ROWS;
)sql";

// A post of this many rows is a large one for PostgreSQL: its staged rows are given their
// statistics, and its statements kPostgresBulk's settings. Below it, a plan over the sizes
// PostgreSQL guesses costs less than taking the statistics.
constexpr std::size_t kLargePost = 1000;

// The most centers whose sweep a save reads in one piece (stagedSweep_).
constexpr std::size_t kCentersWhole = 4;

Statistics statisticsFor(std::size_t rows) { return rows >= kLargePost ? Statistics::Refresh : Statistics::Keep; }

// On PostgreSQL a statement that changes tens of thousands of charges hands the sweep's trigger
// (schema_postgres.cpp) each row as it was and as it is: with the default work_mem those go to
// temporary files, which cost more to create and remove than the rows cost to write. One writer
// runs at a time, so the memory is bounded. Compiling plans to machine code costs these
// statements more than it saves them.
constexpr const char* kPostgresBulk = "SET LOCAL work_mem = '64MB'; SET LOCAL jit = off;";

// The staging tables, with `table` emptied of what an earlier use in this transaction (or, on
// SQLite, an earlier transaction) left; within a write transaction. A SQLite connection keeps
// the tables the store made when it opened; a PostgreSQL one opened again has lost them.
void freshStage(Database& db, const char* table) {
    const bool postgres = db.engine() == Engine::PostgreSQL;
    const std::string sql =
        (postgres ? std::string(kPostgresStaging) + kPostgresBulk : std::string()) + "DELETE FROM " + table + ";";
    db.exec(sql.c_str());
}

// PostgreSQL's text of an array of numbers: {1,2,3}.
template <typename T>
std::string arrayText(const std::vector<T>& values) {
    std::string out = "{";
    char number[32];
    for (const T& v : values) {
        if (out.size() > 1) out += ',';
        out.append(number, std::to_chars(number, number + sizeof number, v).ptr);
    }
    return out + "}";
}

// A charge's key as a map's.
struct KeyHash {
    std::size_t operator()(const ChargeKey& k) const {
        const auto ids = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(k.memberId)) << 32) |
                         static_cast<std::uint32_t>(k.centerId);
        const auto rest = (static_cast<std::uint64_t>(static_cast<std::uint16_t>(k.source)) << 16) |
                          static_cast<std::uint16_t>(k.sweepSequence);
        return std::hash<std::uint64_t>{}(ids ^ (rest * 0x9E3779B97F4A7C15ULL));
    }
};

float single(const Statement& s, int column) { return static_cast<float>(s.real(column)); }

// Without authentication there is no login to record.
void bindLogin(Statement& s, int index, std::string_view login) {
    if (login.empty()) s.bindNull(index);
    else s.bind(index, login);
}

}  // namespace

Store::Store(const std::filesystem::path& file, Older older)
    : db_(file.string(),
          [&file, older](Database& db) {
              refuseNewerSchema(db, file);
              if (older == Older::Refuse) refuseOlderSchema(db, file);
          }),
      file_(file) {
    createSchema();
    makeHeldTable(db_);
    // SQLite prepares a statement against the tables it names, so they must be there first.
    db_.exec(db_.engine() == Engine::PostgreSQL ? kPostgresStaging : kSqliteStaging);
    insertCenter_ = db_.prepare("INSERT INTO centers (id, name, country) VALUES (?1, ?2, ?3)");
    insertMember_ = db_.prepare(
        "INSERT INTO members (id, name, center_id, member_type, subscription, tax_exempt, down_payment, "
        "contract_signed) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    insertCharge_ = db_.prepare(
        "INSERT INTO charges (member_id, center_id, source, sweep_sequence, source_description, sweep_date, type, "
        "conversion_rate, royalty, nac, royalty_reserve, franchise_fee, franchise_fee_reserve, gst, pst, "
        "nmc_payment, trust_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)");
    memberFlags_ = db_.prepare("SELECT tax_exempt, subscription FROM members WHERE id = ?1");
    // The sweep is walked center by center: a center's name is read once, not sought for each
    // of its charges, and the walk follows the sweep order's index within each center.
    sweepCenters_ = db_.prepare(
        "SELECT c.id, c.name, COALESCE(cc.changed_at, 0), COALESCE(ss.changes, 0) FROM centers c "
        "LEFT JOIN center_changes cc ON cc.center_id = c.id LEFT JOIN sweep_shown ss ON ss.center_id = c.id "
        "WHERE c.country = ?1 ORDER BY c.id");
    sweepRows_ = db_.prepare(
        "SELECT ch.member_id, m.name, m.contract_signed, m.tax_exempt, m.member_type, m.subscription, "
        "m.down_payment, ch.conversion_rate, ch.royalty, ch.nac, ch.royalty_reserve, ch.franchise_fee, "
        "ch.franchise_fee_reserve, ch.gst, ch.pst, ch.nmc_payment, ch.source, ch.sweep_sequence, "
        "ch.source_description, ch.sweep_date, ch.type, ch.trust_id "
        "FROM charges ch JOIN members m ON m.id = ch.member_id "
        "WHERE ch.state = 0 AND ch.center_id = ?1 "
        "ORDER BY ch.member_id, ch.source, ch.sweep_sequence");
    // A center's thousands of rows are written out as they come.
    sweepRows_.streamRows();
    countSweep_ = db_.prepare(
        "SELECT COUNT(*) FROM charges ch JOIN centers ce ON ce.id = ch.center_id "
        "WHERE ch.state = 0 AND ce.country = ?1");
    chargeState_ = db_.prepare(
        "SELECT id, type, state FROM charges "
        "WHERE member_id = ?1 AND center_id = ?2 AND source = ?3 AND sweep_sequence = ?4");
    // A save's centers: SQLite's staged table, or PostgreSQL's array bound as the first parameter,
    // which its planner takes as an index condition rather than as a table to join.
    const bool postgres = db_.engine() == Engine::PostgreSQL;
    const std::string inCenters = postgres ? " = ANY(CAST(?1 AS integer[]))" : " IN (SELECT center_id FROM staged_centers)";
    stagedChanges_ = db_.prepare("SELECT center_id, changed_at FROM center_changes WHERE center_id" + inCenters);
    // Center by center in the order the sweep rows go out, so each center's running OUT sum is
    // the control's. A streamed row comes from libpq as a result of its own, at a cost of its
    // own: the sweep of a save's few centers comes whole, that of many centers a row at a time,
    // so that the memory stays a row's.
    const std::string sweepSql =
        "SELECT ch.center_id, ch.member_id, ch.source, ch.sweep_sequence, ch.id, ch.type, ch.conversion_rate, "
        "ch.royalty, ch.nac, ch.royalty_reserve, ch.franchise_fee, ch.franchise_fee_reserve, ch.gst, ch.pst, "
        "ch.nmc_payment, m.tax_exempt, m.subscription FROM charges ch JOIN members m ON m.id = ch.member_id "
        "WHERE ch.state = 0 AND ch.center_id" + inCenters +
        " ORDER BY ch.center_id, ch.member_id, ch.source, ch.sweep_sequence";
    stagedSweep_ = db_.prepare(sweepSql);
    streamedSweep_ = db_.prepare(sweepSql);
    streamedSweep_.streamRows();
    // Center by center: with the center in the index condition, however few saved charges
    // PostgreSQL's statistics (taken before a morning of saves) say there are.
    centerSaved_ = db_.prepare("SELECT COALESCE(SUM(batch_cents), 0) FROM charges WHERE state = 14 AND center_id = ?1");
    // SQLite, without statistics, would walk every charge in the sweep for the state alone: the
    // unary + takes the state out of its choice of index, and the staged ids lead.
    saveStaged_ = db_.prepare(
        postgres
            ? "UPDATE charges SET state = 14, posted_rate = p.posted_rate, posted_royalty = p.posted_royalty, "
              "posted_nac = p.posted_nac, posted_royalty_reserve = p.posted_royalty_reserve, "
              "posted_franchise_fee = p.posted_franchise_fee, posted_franchise_fee_reserve = p.posted_franchise_fee_reserve, "
              "posted_gst = p.posted_gst, posted_pst = p.posted_pst, posted_nmc = p.posted_nmc, "
              "posted_trust = p.posted_trust, posted_amount = p.posted_amount, batch_cents = p.batch_cents, "
              "saved_by = p.saved_by, saved_by_type = p.saved_by_type, saved_at = ?1, saved_login = ?2 "
              "FROM unnest(CAST(?3 AS bigint[]), CAST(?4 AS double precision[]), CAST(?5 AS double precision[]), "
              "CAST(?6 AS double precision[]), CAST(?7 AS double precision[]), CAST(?8 AS double precision[]), "
              "CAST(?9 AS double precision[]), CAST(?10 AS double precision[]), CAST(?11 AS double precision[]), "
              "CAST(?12 AS double precision[]), CAST(?13 AS integer[]), CAST(?14 AS double precision[]), "
              "CAST(?15 AS bigint[]), CAST(?16 AS integer[]), CAST(?17 AS integer[])) "
              "AS p(charge_id, posted_rate, posted_royalty, posted_nac, posted_royalty_reserve, posted_franchise_fee, "
              "posted_franchise_fee_reserve, posted_gst, posted_pst, posted_nmc, posted_trust, posted_amount, "
              "batch_cents, saved_by, saved_by_type) "
              "WHERE charges.id = p.charge_id AND charges.state = 0"
            : "UPDATE charges SET (state, posted_rate, posted_royalty, posted_nac, posted_royalty_reserve, "
              "posted_franchise_fee, posted_franchise_fee_reserve, posted_gst, posted_pst, posted_nmc, posted_trust, "
              "posted_amount, batch_cents, saved_by, saved_by_type) = (SELECT 14, p.posted_rate, p.posted_royalty, "
              "p.posted_nac, p.posted_royalty_reserve, p.posted_franchise_fee, p.posted_franchise_fee_reserve, "
              "p.posted_gst, p.posted_pst, p.posted_nmc, p.posted_trust, p.posted_amount, p.batch_cents, p.saved_by, "
              "p.saved_by_type FROM staged_saves p WHERE p.charge_id = charges.id), saved_at = ?1, saved_login = ?2 "
              "WHERE +state = 0 AND id IN (SELECT charge_id FROM staged_saves)");
    // Past every batch the database knows and every number seen used (a restored backup forgets
    // the batches exported after it; their files remember them).
    // Taken under the writer lock (a locked counter), so two exports never take one number.
    nextBatch_ = db_.prepare(
        "SELECT COALESCE(MAX(n), 0) + 1 FROM (SELECT MAX(batch_no) AS n FROM batches "
        "UNION ALL SELECT CAST(value AS INTEGER) FROM settings WHERE name = 'batch_floor') AS used");
    savedCharges_ = db_.prepare(
        "SELECT ch.center_id, ce.name, COUNT(*), SUM(COALESCE(ch.presented_cents, ch.batch_cents)), a.routing, "
        "a.institution, a.transit, a.account, a.account_type, COALESCE(SUM(ch.presented_cents), 0) "
        "FROM charges ch JOIN centers ce ON ce.id = ch.center_id "
        "LEFT JOIN center_accounts a ON a.center_id = ch.center_id "
        "WHERE ch.state = 14 AND ce.country = ?1 "
        "GROUP BY ch.center_id, ce.name, a.routing, a.institution, a.transit, a.account, a.account_type "
        "ORDER BY ch.center_id");
    insertBatch_ = db_.prepare(
        "INSERT INTO batches (batch_no, country, exported_at, person_id, person_type, file_name, login) "
        "VALUES (?1, ?2, ?3, ?4, ?5, '', ?6)");
    insertItem_ = db_.prepare(
        "INSERT INTO batch_items (batch_no, charge_id, amount, center_id, member_id, source, sweep_sequence) "
        "SELECT ?1, id, COALESCE(presented_cents, batch_cents) / 100.0, center_id, member_id, source, sweep_sequence "
        "FROM charges WHERE state = 14 AND center_id = ?2 "
        "AND NOT EXISTS (SELECT 1 FROM export_held h WHERE h.member_id = charges.member_id "
        "AND h.center_id = charges.center_id) "
        "ORDER BY member_id, source, sweep_sequence");
    // Center by center along the (state, center) index: no search of the batch's items.
    markExported_ = db_.prepare(
        "UPDATE charges SET state = 20 WHERE state = 14 AND center_id = ?1 "
        "AND NOT EXISTS (SELECT 1 FROM export_held h WHERE h.member_id = charges.member_id "
        "AND h.center_id = charges.center_id)");
    // A returned item stays listed while its batch waits, so the operator sees the return
    // before committing; a batch's items have an outcome only from a return until it is committed.
    // The items' own copy of their charges' keys spares PostgreSQL a join to every charge.
    pendingItems_ = db_.prepare(
        "SELECT bi.batch_no, bi.center_id, ce.name, bi.member_id, b.exported_at, bi.source, bi.amount, b.country, "
        "COALESCE(bi.return_code, ''), COALESCE(bi.return_date, '') "
        "FROM batch_items bi JOIN batches b ON b.batch_no = bi.batch_no JOIN centers ce ON ce.id = bi.center_id WHERE " +
        std::string(kListedItem) + " ORDER BY bi.batch_no, bi.center_id, bi.member_id, bi.source, bi.sweep_sequence");
    countPending_ = db_.prepare("SELECT COUNT(*) FROM batch_items bi WHERE " + std::string(kListedItem));
    // The table's one row (its key is checked to be 1) without naming it: PostgreSQL then plans
    // no index lookup, a fifth of the round trip that every batch list makes.
    listClock_ = db_.prepare("SELECT value FROM list_clock");
    batchExists_ = db_.prepare("SELECT 1 FROM batches WHERE batch_no = ?1");
    // The batch's items are read once, here; every later statement of the commit joins this
    // copy and the posted references, both the commit's own, rather than the batch's items
    // among every batch's.
    stageWaiting_ = db_.prepare(
        "INSERT INTO staged_waiting (charge_id, center_id, member_id, source, source_two, exported) "
        "SELECT ch.id, ch.center_id, ch.member_id, ch.source, CASE WHEN ch.source = 2 THEN 1 ELSE 0 END, "
        "CASE WHEN ch.state = 20 THEN 1 ELSE 0 END "
        "FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id WHERE bi.batch_no = ?1 AND bi.outcome IS NULL");
    // A failed reference to an item the bank returned names what it already is: it is taken,
    // changing nothing.
    outcomeWithoutItem_ = db_.prepare(
        "SELECT o.ord FROM staged_outcomes o WHERE NOT EXISTS (SELECT 1 FROM staged_waiting w "
        "WHERE w.member_id = o.member_id AND w.source_two = o.source_two AND w.exported = 1) "
        "AND NOT (o.outcome = ?2 AND EXISTS (SELECT 1 FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id "
        "WHERE bi.batch_no = ?1 AND bi.return_code IS NOT NULL AND ch.member_id = o.member_id "
        "AND (CASE WHEN ch.source = 2 THEN 1 ELSE 0 END) = o.source_two)) ORDER BY o.ord LIMIT 1");
    unnamedItem_ = db_.prepare(
        "SELECT w.center_id, w.member_id, w.source_two FROM staged_waiting w "
        "WHERE w.exported = 0 OR NOT EXISTS (SELECT 1 FROM staged_outcomes o "
        "WHERE o.member_id = w.member_id AND o.source_two = w.source_two) "
        "ORDER BY w.center_id, w.member_id, w.source LIMIT 1");
    recordItems_ = db_.prepare(
        "UPDATE batch_items SET outcome = ?2, outcome_at = ?3, outcome_by = ?4, outcome_by_type = ?5, outcome_login = ?6 "
        "FROM staged_waiting w JOIN staged_outcomes o ON o.member_id = w.member_id AND o.source_two = w.source_two "
        "WHERE batch_items.batch_no = ?1 AND batch_items.charge_id = w.charge_id AND batch_items.outcome IS NULL "
        "AND w.exported = 1 AND o.outcome = ?2");
    // Along the state's index: the charges waiting for a status are those of the batches
    // waiting, however many charges the database holds.
    clearCharges_ = db_.prepare(
        "UPDATE charges SET state = 30 WHERE state = 20 AND id IN (SELECT w.charge_id FROM staged_waiting w "
        "JOIN staged_outcomes o ON o.member_id = w.member_id AND o.source_two = w.source_two "
        "WHERE w.exported = 1 AND o.outcome = 1)");
    // A failed charge is collected afresh by a later sweep, so what was posted for it goes.
    failCharges_ = db_.prepare(
        "UPDATE charges SET state = 0, posted_rate = NULL, posted_royalty = NULL, posted_nac = NULL, "
        "posted_royalty_reserve = NULL, posted_franchise_fee = NULL, posted_franchise_fee_reserve = NULL, "
        "posted_gst = NULL, posted_pst = NULL, posted_nmc = NULL, posted_trust = NULL, posted_amount = NULL, "
        "saved_by = NULL, saved_by_type = NULL, saved_at = NULL, saved_login = NULL "
        "WHERE state = 20 AND id IN (SELECT w.charge_id FROM staged_waiting w "
        "JOIN staged_outcomes o ON o.member_id = w.member_id AND o.source_two = w.source_two "
        "WHERE w.exported = 1 AND o.outcome = 2)");
}

void Store::createSchema() {
    if (auto upgrade = upgradeSchema(db_, file_)) upgraded_ = std::move(upgrade);
}

std::int64_t Store::sweepClock() {
    Statement s = db_.prepare("SELECT value FROM sweep_clock WHERE id = 1");
    return s.step() ? s.integer(0) : 0;
}

std::int64_t Store::advanceSweepClock() {
    db_.exec("UPDATE sweep_clock SET value = value + 1 WHERE id = 1");
    return sweepClock();
}

void Store::stageCenters(const std::vector<std::int32_t>& centers) {
    if (db_.engine() == Engine::PostgreSQL) {
        stagedCenters_ = arrayText(centers);
        return;
    }
    freshStage(db_, "staged_centers");
    std::vector<Row> rows;
    rows.reserve(centers.size());
    for (const std::int32_t c : centers) rows.push_back({std::int64_t{c}});
    db_.load("staged_centers", {"center_id"}, rows);
}

Statement& Store::withCenters(Statement& s) {
    s.reuse();
    if (db_.engine() == Engine::PostgreSQL) s.bind(1, stagedCenters_);
    return s;
}

std::vector<std::int64_t> Store::centersChangedAt(const std::vector<std::int32_t>& centers) {
    if (centers.empty()) return {};
    stageCenters(centers);
    std::unordered_map<std::int32_t, std::int64_t> changed;
    for (auto& s = withCenters(stagedChanges_); s.step();) changed[static_cast<std::int32_t>(s.integer(0))] = s.integer(1);
    stagedChanges_.reuse();
    std::vector<std::int64_t> out;
    out.reserve(centers.size());
    for (const std::int32_t c : centers) out.push_back(changed[c]);
    return out;
}

std::optional<int> Store::centerCountry(std::int32_t centerId) {
    Statement s = db_.prepare("SELECT country FROM centers WHERE id = ?1");
    s.bind(1, centerId);
    if (!s.step()) return std::nullopt;
    return static_cast<int>(s.integer(0));
}

bool Store::isEmpty() {
    Statement s = db_.prepare(
        "SELECT NOT EXISTS (SELECT 1 FROM centers) AND NOT EXISTS (SELECT 1 FROM members) "
        "AND NOT EXISTS (SELECT 1 FROM charges) AND NOT EXISTS (SELECT 1 FROM batches)");
    s.step();
    return s.integer(0) != 0;
}

Store::ImportSettings::ImportSettings(Store& store, bool writes) {
    if (store.db().engine() != Engine::SQLite) return;
    db_ = &store.db();
    db_->exec("PRAGMA foreign_keys=OFF");
    if (!writes || !store.isEmpty()) return;
    try {
        // Refused at once while another connection has the file open: WAL it stays.
        db_->exec("PRAGMA journal_mode=DELETE");
        rollbackJournal_ = true;
    } catch (const StoreError&) {
    }
}

Store::ImportSettings::~ImportSettings() {
    if (db_ == nullptr) return;
    try {
        if (rollbackJournal_) db_->exec("PRAGMA journal_mode=WAL");
        db_->exec("PRAGMA foreign_keys=ON");
    } catch (const StoreError&) {  // the next opening of the file sets both again
    }
}

void Store::insertCenter(const CenterRow& c) {
    insertCenter_.reuse().bind(1, c.id).bind(2, c.name).bind(3, c.country).run();
}

void Store::insertMember(const MemberRow& m) {
    auto& s = insertMember_.reuse();
    s.bind(1, m.id).bind(2, m.name).bind(3, m.centerId).bind(4, int{m.memberType});
    s.bind(5, int{m.subscription}).bind(6, int{m.salesTaxExempt}).bind(7, int{m.downPayment});
    if (m.contractSigned.empty()) s.bindNull(8);
    else s.bind(8, m.contractSigned);
    s.run();
}

void Store::insertCharge(const ChargeRow& c) {
    requireCents(c);
    const Amounts& a = c.amounts;
    auto& s = insertCharge_.reuse();
    s.bind(1, c.key.memberId).bind(2, c.key.centerId).bind(3, int{c.key.source}).bind(4, int{c.key.sweepSequence});
    s.bind(5, c.sourceDescription).bind(6, c.sweepDate).bind(7, int{c.type});
    s.bind(8, double{a.conversionRate}).bind(9, double{a.royalty}).bind(10, double{a.nac});
    s.bind(11, double{a.royaltyReserve}).bind(12, double{a.franchiseFee}).bind(13, double{a.franchiseFeeReserve});
    s.bind(14, double{a.gst}).bind(15, double{a.pst}).bind(16, double{a.nmcPayment}).bind(17, c.trustId);
    s.run();
}

void Store::insertMembers(const std::vector<MemberRow>& members) {
    static const std::vector<std::string> columns = {"id", "name", "center_id", "member_type", "subscription",
                                                     "tax_exempt", "down_payment", "contract_signed"};
    Row row(columns.size());
    db_.load("members", columns, members.size(), [&](std::size_t i) -> const Row& {
        const MemberRow& m = members[i];
        row[0] = std::int64_t{m.id};
        row[1] = m.name;
        row[2] = std::int64_t{m.centerId};
        row[3] = std::int64_t{m.memberType};
        row[4] = std::int64_t{m.subscription};
        row[5] = std::int64_t{m.salesTaxExempt};
        row[6] = std::int64_t{m.downPayment};
        if (m.contractSigned.empty()) row[7] = nullptr;
        else row[7] = m.contractSigned;
        return row;
    });
}

namespace {

// From this many charges on, a load reads every member's flags in one statement rather than
// one member at a time, and on SQLite goes in as Store::ChargeLoad says.
constexpr std::size_t kBulkCharges = 1000;

}  // namespace

// A large load of charges on SQLite. SQLite has no statement triggers: its trigger ticks the
// counter for every charge added, two statements a row, half the cost of a million-row load.
// The load sets it aside within a savepoint of its transaction (no other connection ever sees
// it missing, and a failed load gets it back) and ticks once for all, for every center it added
// to, as PostgreSQL's statement trigger does: the same for the stale-sweep rule. The charges'
// one CHECK is on their state, which a load never gives (it takes its default); SQLite would
// build a table of the CHECK's IN list for every row.
Store::ChargeLoad::ChargeLoad(Store& store) : store_(store) {
    Database& db = store_.db_;
    Statement count = db.prepare("SELECT COUNT(*) FROM members");
    if (count.step()) flags_.reserve(static_cast<std::size_t>(count.integer(0)));
    Statement all = db.prepare("SELECT id, tax_exempt, subscription FROM members");
    while (all.step())
        flags_.tryEmplace(static_cast<std::int32_t>(all.integer(0)), std::pair{all.integer(1) != 0, all.integer(2) != 0});
    if (db.engine() != Engine::SQLite) return;
    Statement s = db.prepare("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = 'sweep_charge_added'");
    if (s.step()) trigger_ = s.text(0);
    db.exec("SAVEPOINT bulk_charges");
    open_ = true;
    if (!trigger_.empty()) db.exec("DROP TRIGGER sweep_charge_added");
}

Store::ChargeLoad::~ChargeLoad() {
    if (!open_) return;
    try {
        store_.db_.exec("PRAGMA ignore_check_constraints=OFF; ROLLBACK TO bulk_charges; RELEASE bulk_charges;");
    } catch (const StoreError&) {  // the connection is gone, and the transaction with it
    }
}

void Store::ChargeLoad::add(const std::vector<ChargeRow>& charges, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) store_.requireCents(charges[i], &flags_);
    Database& db = store_.db_;
    if (db.engine() != Engine::SQLite) {
        store_.loadCharges(charges, count, Statistics::Keep);
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        if (centers_.empty() || centers_.back() != charges[i].key.centerId) centers_.push_back(charges[i].key.centerId);
    db.exec("PRAGMA ignore_check_constraints=ON");
    store_.loadCharges(charges, count, Statistics::Keep);
    db.exec("PRAGMA ignore_check_constraints=OFF");
}

void Store::ChargeLoad::finish() {
    Database& db = store_.db_;
    if (db.engine() != Engine::SQLite) {
        // Fresh statistics for the planner, as a load of one part takes them.
        db.exec("ANALYZE charges");
        return;
    }
    if (!trigger_.empty()) {
        std::sort(centers_.begin(), centers_.end());
        centers_.erase(std::unique(centers_.begin(), centers_.end()), centers_.end());
        db.exec("UPDATE sweep_clock SET value = value + 1 WHERE id = 1");
        Statement changed = db.prepare(
            "INSERT OR REPLACE INTO center_changes (center_id, changed_at) SELECT ?1, value FROM sweep_clock");
        for (const std::int32_t center : centers_) changed.reuse().bind(1, center).run();
        db.exec(trigger_.c_str());
    }
    db.exec("RELEASE bulk_charges");
    open_ = false;
}

void Store::insertCharges(const std::vector<ChargeRow>& charges) {
    if (charges.size() >= kBulkCharges) {
        ChargeLoad load(*this);
        load.add(charges, charges.size());
        load.finish();
        return;
    }
    for (const ChargeRow& c : charges) requireCents(c);
    loadCharges(charges, charges.size(), Statistics::Refresh);
}

void Store::loadCharges(const std::vector<ChargeRow>& charges, std::size_t count, Statistics statistics) {
    static const std::vector<std::string> columns = {
        "member_id", "center_id", "source", "sweep_sequence", "source_description", "sweep_date", "type",
        "conversion_rate", "royalty", "nac", "royalty_reserve", "franchise_fee", "franchise_fee_reserve", "gst", "pst",
        "nmc_payment", "trust_id"};
    Row row(columns.size());
    db_.load(
        "charges", columns, count,
        [&](std::size_t i) -> const Row& {
            const ChargeRow& c = charges[i];
            const Amounts& a = c.amounts;
            row[0] = std::int64_t{c.key.memberId};
            row[1] = std::int64_t{c.key.centerId};
            row[2] = std::int64_t{c.key.source};
            row[3] = std::int64_t{c.key.sweepSequence};
            row[4] = c.sourceDescription;
            row[5] = c.sweepDate;
            row[6] = std::int64_t{c.type};
            std::size_t k = 7;
            for (const float v : {a.conversionRate, a.royalty, a.nac, a.royaltyReserve, a.franchiseFee,
                                  a.franchiseFeeReserve, a.gst, a.pst, a.nmcPayment})
                row[k++] = double{v};
            row[16] = std::int64_t{c.trustId};
            return row;
        },
        statistics);
}

void Store::requireCents(const ChargeRow& c, const MemberFlags* known) {
    const Amounts& a = c.amounts;
    bool exempt = false, subscription = false;
    if (known != nullptr) {
        if (const auto* f = known->find(c.key.memberId)) std::tie(exempt, subscription) = *f;
    } else {
        auto& flags = memberFlags_.reuse().bind(1, c.key.memberId);
        if (flags.step()) {
            exempt = flags.integer(0) != 0;
            subscription = flags.integer(1) != 0;
        }
        flags.reuse();
    }
    const RowTotals totals = rowTotals(c.type, a, exempt, subscription);
    const std::pair<const char*, float> amounts[] = {
        {"Royalty", a.royalty}, {"NAC", a.nac}, {"RoyaltyReserve", a.royaltyReserve},
        {"FranchiseFee", a.franchiseFee}, {"FranchiseFeeReserve", a.franchiseFeeReserve}, {"GST", a.gst},
        {"PST", a.pst}, {"NMCPayment", a.nmcPayment}, {"INRowTotal", totals.in}, {"OUTRowTotal", totals.out}};
    for (const auto& [name, value] : amounts) {
        if (text::holdsEveryCent(value)) continue;
        throw StoreError("the charge of member " + std::to_string(c.key.memberId) + " at center " +
                         std::to_string(c.key.centerId) + " (source " + std::to_string(c.key.source) + ", sequence " +
                         std::to_string(c.key.sweepSequence) + ") has " + name + " " + text::singleText(value) + ", " +
                         kAboveCentExactText);
    }
}

std::vector<SweepCenter> Store::sweepCenters(int country) {
    // Read whole first: a streamed statement holds its connection until it is done.
    std::vector<SweepCenter> centers;
    for (auto& c = sweepCenters_.reuse().bind(1, country); c.step();)
        centers.push_back({static_cast<std::int32_t>(c.integer(0)), std::string(c.text(1)), c.integer(2), c.integer(3)});
    sweepCenters_.reuse();
    return centers;
}

void Store::forEachSweepRow(int country, const std::function<void(const SweepRowView&)>& visit) {
    for (const SweepCenter& center : sweepCenters(country)) forEachSweepRow(center, visit);
}

void Store::forEachSweepRow(const SweepCenter& center, const std::function<void(const SweepRowView&)>& visit) {
    SweepRowView r;
    // A member's charges come one after another, and its columns are fetched for the first
    // only: the texts are kept, since a row's own go with the next step.
    std::string memberName, contractSigned;
    r.key.centerId = center.id;
    r.centerName = center.name;
    r.key.memberId = 0;
    for (auto& s = sweepRows_.reuse().bind(1, center.id); s.step();) {
        if (const auto memberId = static_cast<std::int32_t>(s.integer(0)); memberId != r.key.memberId) {
            r.key.memberId = memberId;
            memberName = s.text(1);
            contractSigned = s.text(2);  // empty for NULL
            r.memberName = memberName;
            r.contractSigned = contractSigned;
            r.salesTaxExempt = s.integer(3) != 0;
            r.memberType = static_cast<std::int16_t>(s.integer(4));
            r.subscription = s.integer(5) != 0;
            r.downPayment = s.integer(6) != 0;
        }
        r.amounts.conversionRate = single(s, 7);
        r.amounts.royalty = single(s, 8);
        r.amounts.nac = single(s, 9);
        r.amounts.royaltyReserve = single(s, 10);
        r.amounts.franchiseFee = single(s, 11);
        r.amounts.franchiseFeeReserve = single(s, 12);
        r.amounts.gst = single(s, 13);
        r.amounts.pst = single(s, 14);
        r.amounts.nmcPayment = single(s, 15);
        r.key.source = static_cast<std::int16_t>(s.integer(16));
        r.key.sweepSequence = static_cast<std::int16_t>(s.integer(17));
        r.sourceDescription = s.text(18);
        r.sweepDate = s.text(19);
        r.type = static_cast<std::int16_t>(s.integer(20));
        r.trustId = static_cast<std::int32_t>(s.integer(21));
        visit(r);
    }
    sweepRows_.reuse();
}

std::int64_t Store::countSweepRows(int country) {
    auto& s = countSweep_.reuse().bind(1, country);
    s.step();
    const std::int64_t n = s.integer(0);
    s.reuse();
    return n;
}

void Store::setCenterAccount(std::int32_t centerId, const bank::BankAccount& account) {
    Statement s = db_.prepare(
        "INSERT INTO center_accounts (center_id, routing, institution, transit, account, account_type) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (center_id) DO UPDATE SET routing = excluded.routing, "
        "institution = excluded.institution, transit = excluded.transit, account = excluded.account, "
        "account_type = excluded.account_type");
    s.bind(1, centerId);
    const auto textOrNull = [&s](int index, const std::string& v) {
        if (v.empty()) s.bindNull(index);
        else s.bind(index, v);
    };
    textOrNull(2, account.routing);
    textOrNull(3, account.institution);
    textOrNull(4, account.transit);
    s.bind(5, account.number).bind(6, static_cast<int>(account.type));
    s.run();
}

std::optional<SaveFailure> Store::saveCharges(const std::vector<SaveRecord>& records, std::string_view savedAt,
                                              std::string_view login) {
    if (records.empty()) return std::nullopt;
    // Each center with its first record, and each charge with its first record: a charge named
    // again is found already saved.
    std::vector<std::int32_t> centers;
    std::unordered_map<std::int32_t, std::size_t> firstOfCenter;
    std::unordered_map<ChargeKey, std::size_t, KeyHash> firstOfCharge;
    firstOfCharge.reserve(records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        if (firstOfCenter.emplace(records[k].key.centerId, k).second) centers.push_back(records[k].key.centerId);
        firstOfCharge.emplace(records[k].key, k);
    }
    stageCenters(centers);

    // One walk of the centers' sweep rows finds each record's charge and its Total, taken over
    // the rows as they stand before this save.
    struct Found {
        bool inSweep = false;
        std::int64_t id = 0;
        std::optional<std::int64_t> cents;
    };
    std::vector<Found> found(records.size());
    std::int32_t center = 0;
    float outSum = 0;
    Statement& sweep = centers.size() > kCentersWhole ? streamedSweep_ : stagedSweep_;
    for (auto& s = withCenters(sweep); s.step();) {
        const ChargeKey key{static_cast<std::int32_t>(s.integer(1)), static_cast<std::int32_t>(s.integer(0)),
                            static_cast<std::int16_t>(s.integer(2)), static_cast<std::int16_t>(s.integer(3))};
        if (key.centerId != center) {
            center = key.centerId;
            outSum = 0;
        }
        Amounts a;
        a.conversionRate = single(s, 6);
        a.royalty = single(s, 7);
        a.nac = single(s, 8);
        a.royaltyReserve = single(s, 9);
        a.franchiseFee = single(s, 10);
        a.franchiseFeeReserve = single(s, 11);
        a.gst = single(s, 12);
        a.pst = single(s, 13);
        a.nmcPayment = single(s, 14);
        const bool subscription = s.integer(16) != 0;
        const RowTotals rt = rowTotals(static_cast<std::int16_t>(s.integer(5)), a, s.integer(15) != 0, subscription);
        outSum += rt.out;
        if (const auto named = firstOfCharge.find(key); named != firstOfCharge.end())
            found[named->second] = {true, s.integer(4), totalCents(rt, subscription, outSum)};
    }
    sweep.reuse();

    for (std::size_t k = 0; k < records.size(); ++k) {
        if (firstOfCharge.at(records[k].key) != k) return SaveFailure{k, SaveRefusal::AlreadySaved};
        if (!found[k].inSweep) {
            // Why it is not in the sweep: asked for the one record named, not for every record.
            const ChargeKey& key = records[k].key;
            auto& find = chargeState_.reuse();
            find.bind(1, key.memberId).bind(2, key.centerId).bind(3, int{key.source}).bind(4, int{key.sweepSequence});
            const std::optional<std::int64_t> state = find.step() ? std::optional(find.integer(2)) : std::nullopt;
            find.reuse();
            if (!state) return SaveFailure{k, SaveRefusal::Unknown};
            switch (static_cast<ChargeState>(*state)) {
                case ChargeState::Exported: return SaveFailure{k, SaveRefusal::Exported};
                case ChargeState::Cleared: return SaveFailure{k, SaveRefusal::Cleared};
                default: return SaveFailure{k, SaveRefusal::AlreadySaved};
            }
        }
        if (!found[k].cents) return SaveFailure{k, SaveRefusal::TooLarge};
    }
    // A center's saved charges go into one bank file entry, so a save that would make their sum
    // more than an entry carries could never be exported.
    std::unordered_map<std::int32_t, std::int64_t> savedCents;
    for (std::size_t k = 0; k < records.size(); ++k) savedCents[records[k].key.centerId] += *found[k].cents;
    for (const std::int32_t c : centers) {
        auto& sum = centerSaved_.reuse().bind(1, c);
        sum.step();
        const std::int64_t cents = savedCents[c] + sum.integer(0);
        sum.reuse();
        if ((cents < 0 ? -cents : cents) > bank::kMaxEntryCents)
            return SaveFailure{firstOfCenter.at(c), SaveRefusal::CenterFull, cents};
    }

    auto& save = saveStaged_.reuse().bind(1, savedAt);
    bindLogin(save, 2, login);
    if (db_.engine() == Engine::PostgreSQL) {
        if (records.size() >= kLargePost) db_.exec(kPostgresBulk);
        // Column by column, an array each.
        std::vector<std::int64_t> ids, cents, trusts, people, types;
        std::vector<double> amounts[10];
        for (std::size_t k = 0; k < records.size(); ++k) {
            const SaveRecord& r = records[k];
            const PostedAmounts& p = r.amounts;
            ids.push_back(found[k].id);
            cents.push_back(*found[k].cents);
            trusts.push_back(r.trust);
            people.push_back(r.personId);
            types.push_back(r.personType);
            const double row[10] = {r.conversionRate, p.royalty, p.nac, p.royaltyReserve, p.franchiseFee,
                                    p.franchiseFeeReserve, p.gst, p.pst, p.nmc, static_cast<double>(cents.back()) / 100.0};
            for (int c = 0; c < 10; ++c) amounts[c].push_back(row[c]);
        }
        save.bind(3, arrayText(ids));
        for (int c = 0; c < 9; ++c) save.bind(4 + c, arrayText(amounts[c]));
        save.bind(13, arrayText(trusts)).bind(14, arrayText(amounts[9])).bind(15, arrayText(cents));
        save.bind(16, arrayText(people)).bind(17, arrayText(types));
    } else {
        static const std::vector<std::string> columns = {
            "charge_id", "posted_rate", "posted_royalty", "posted_nac", "posted_royalty_reserve", "posted_franchise_fee",
            "posted_franchise_fee_reserve", "posted_gst", "posted_pst", "posted_nmc", "posted_trust", "posted_amount",
            "batch_cents", "saved_by", "saved_by_type"};
        std::vector<Row> rows;
        rows.reserve(records.size());
        for (std::size_t k = 0; k < records.size(); ++k) {
            const SaveRecord& r = records[k];
            const PostedAmounts& p = r.amounts;
            const std::int64_t cents = *found[k].cents;
            rows.push_back({found[k].id, double{r.conversionRate}, double{p.royalty}, double{p.nac},
                            double{p.royaltyReserve}, double{p.franchiseFee}, double{p.franchiseFeeReserve},
                            double{p.gst}, double{p.pst}, double{p.nmc}, std::int64_t{r.trust},
                            static_cast<double>(cents) / 100.0, cents, std::int64_t{r.personId},
                            std::int64_t{r.personType}});
        }
        freshStage(db_, "staged_saves");
        db_.load("staged_saves", columns, rows);
    }
    save.run();
    // The caller holds the write lock, so the states read above still stand.
    if (db_.changes() != static_cast<std::int64_t>(records.size()))
        throw StoreError("the sweep changed while the save was under way");
    return std::nullopt;
}

std::vector<SavedCenter> Store::savedCenters(int country) {
    std::vector<SavedCenter> centers;
    auto& s = savedCharges_.reuse().bind(1, country);
    while (s.step()) {
        SavedCenter c;
        c.centerId = static_cast<std::int32_t>(s.integer(0));
        c.name = std::string(s.text(1));
        c.items = s.integer(2);
        c.cents = s.integer(3);
        c.retryCents = s.integer(9);
        if (!s.isNull(7)) {
            bank::BankAccount a;
            if (!s.isNull(4)) a.routing = std::string(s.text(4));
            if (!s.isNull(5)) a.institution = std::string(s.text(5));
            if (!s.isNull(6)) a.transit = std::string(s.text(6));
            a.number = std::string(s.text(7));
            a.type = static_cast<bank::AccountType>(s.integer(8));
            c.account = std::move(a);
        }
        centers.push_back(std::move(c));
    }
    s.reuse();
    return centers;
}

std::vector<SavedMemberAtCenter> Store::membersAtSeveralCenters(int country) {
    Statement s = db_.prepare(
        "SELECT ch.member_id, ch.center_id, MIN(ch.saved_at), COUNT(*), SUM(ch.batch_cents) "
        "FROM charges ch JOIN centers ce ON ce.id = ch.center_id "
        "WHERE ch.state = 14 AND ce.country = ?1 AND ch.member_id IN ("
        "  SELECT c2.member_id FROM charges c2 JOIN centers e2 ON e2.id = c2.center_id "
        "  WHERE c2.state = 14 AND e2.country = ?1 GROUP BY c2.member_id HAVING COUNT(DISTINCT c2.center_id) > 1) "
        "GROUP BY ch.member_id, ch.center_id ORDER BY ch.member_id, MIN(ch.saved_at), ch.center_id");
    s.bind(1, country);
    std::vector<SavedMemberAtCenter> out;
    while (s.step()) {
        out.push_back({static_cast<std::int32_t>(s.integer(0)), static_cast<std::int32_t>(s.integer(1)),
                       std::string(s.text(2)), s.integer(3), s.integer(4)});
    }
    return out;
}

std::int32_t Store::formBatch(int country, const std::vector<std::int32_t>& centers,
                              const std::vector<std::pair<std::int32_t, std::int32_t>>& heldMemberCenters,
                              std::string_view atText, std::int32_t personId, std::int16_t personType,
                              std::string_view login) {
    makeHeldTable(db_);
    db_.exec("DELETE FROM export_held");
    if (!heldMemberCenters.empty()) {
        Statement hold = db_.prepare(
            "INSERT INTO export_held (member_id, center_id) VALUES (?1, ?2) ON CONFLICT DO NOTHING");
        for (const auto& [member, center] : heldMemberCenters) hold.reuse().bind(1, member).bind(2, center).run();
    }
    auto& next = nextBatch_.reuse();
    next.step();
    const auto batchNo = static_cast<std::int32_t>(next.integer(0));
    next.reuse();
    auto& batch = insertBatch_.reuse().bind(1, batchNo).bind(2, country).bind(3, atText).bind(4, personId);
    batch.bind(5, int{personType});
    bindLogin(batch, 6, login);
    batch.run();
    for (const std::int32_t center : centers) {
        insertItem_.reuse().bind(1, batchNo).bind(2, center).run();
        markExported_.reuse().bind(1, center).run();
    }
    return batchNo;
}

void Store::settleBatch(std::int32_t batchNo, std::string_view atText, std::int32_t personId,
                        std::int16_t personType) {
    // The charges first, those of the items still waiting: a charge whose item here was returned
    // may be waiting in a later batch.
    Statement charges = db_.prepare(
        "UPDATE charges SET state = 30 WHERE state = 20 AND id IN "
        "(SELECT charge_id FROM batch_items WHERE batch_no = ?1 AND outcome IS NULL)");
    charges.bind(1, batchNo).run();
    Statement items = db_.prepare(
        "UPDATE batch_items SET outcome = ?2, outcome_at = ?3, outcome_by = ?4, outcome_by_type = ?5 "
        "WHERE batch_no = ?1 AND outcome IS NULL");
    items.bind(1, batchNo).bind(2, kCleared).bind(3, atText).bind(4, personId).bind(5, int{personType}).run();
}

std::vector<ExportedBatch> Store::lastExport() {
    // One export's batches share its time; batch numbers only grow, so the highest is the latest.
    Statement s = db_.prepare(
        "SELECT b.batch_no, b.country, b.exported_at, f.name, f.debit_count, f.debit_cents, f.credit_count, "
        "f.credit_cents FROM batches b LEFT JOIN batch_files f ON f.batch_no = b.batch_no "
        "WHERE b.exported_at = (SELECT exported_at FROM batches ORDER BY batch_no DESC LIMIT 1) "
        "ORDER BY b.batch_no");
    std::vector<ExportedBatch> out;
    while (s.step()) {
        ExportedBatch b;
        b.batchNo = static_cast<std::int32_t>(s.integer(0));
        b.country = static_cast<int>(s.integer(1));
        b.exportedAt = std::string(s.text(2));
        if (!s.isNull(3)) b.fileName = std::string(s.text(3));
        b.summary = {s.integer(4), s.integer(5), s.integer(6), s.integer(7)};
        out.push_back(std::move(b));
    }
    return out;
}

std::int32_t Store::nextFileCreationNumber(std::string_view originatorId) {
    Statement last = db_.prepare("SELECT last_number FROM originator_files WHERE originator_id = ?1");
    last.bind(1, originatorId);
    const std::int64_t previous = last.step() ? last.integer(0) : 0;
    const std::int64_t number = previous >= 9999 || previous < 0 ? 1 : previous + 1;
    setLastFileCreationNumber(originatorId, static_cast<std::int32_t>(number));
    return static_cast<std::int32_t>(number);
}

std::int64_t Store::usFilesOn(std::string_view isoDay) {
    Statement s = db_.prepare(
        "SELECT COUNT(*) FROM batch_files f JOIN batches b ON b.batch_no = f.batch_no "
        "WHERE b.country = 1 AND substr(b.exported_at, 1, 10) = ?1");
    s.bind(1, isoDay);
    s.step();
    return s.integer(0);
}

void Store::insertBatchFile(const BatchFileRow& f, std::optional<std::int32_t> creationNumber) {
    Statement s = db_.prepare(
        "INSERT INTO batch_files (batch_no, name, content, debit_count, debit_cents, credit_count, credit_cents, "
        "creation_number, published) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0)");
    s.bind(1, f.batchNo).bind(2, f.name).bind(3, f.content).bind(4, f.summary.debitCount);
    s.bind(5, f.summary.debitCents).bind(6, f.summary.creditCount).bind(7, f.summary.creditCents);
    if (creationNumber) s.bind(8, *creationNumber);
    else s.bindNull(8);
    s.run();
    Statement name = db_.prepare("UPDATE batches SET file_name = ?2 WHERE batch_no = ?1");
    name.bind(1, f.batchNo).bind(2, f.name).run();
}

namespace {

std::vector<BatchFileRow> fileRows(Database& db, const char* where) {
    std::vector<BatchFileRow> rows;
    Statement s = db.prepare(std::string("SELECT f.batch_no, f.name, f.content, f.debit_cents, f.credit_cents, "
                                         "f.published, f.debit_count, f.credit_count FROM batch_files f ") +
                             where + " ORDER BY f.batch_no");
    while (s.step()) {
        BatchFileRow r;
        r.batchNo = static_cast<std::int32_t>(s.integer(0));
        r.name = std::string(s.text(1));
        r.content = std::string(s.text(2));
        r.summary.debitCents = s.integer(3);
        r.summary.creditCents = s.integer(4);
        r.published = s.integer(5) != 0;
        r.summary.debitCount = s.integer(6);
        r.summary.creditCount = s.integer(7);
        rows.push_back(std::move(r));
    }
    return rows;
}

}  // namespace

std::vector<BatchFileRow> Store::unpublishedFiles() { return fileRows(db_, "WHERE f.published = 0"); }

std::vector<BatchFileRow> Store::batchFiles() { return fileRows(db_, ""); }

std::vector<std::string> Store::batchFileNames() {
    std::vector<std::string> names;
    Statement s = db_.prepare("SELECT name FROM batch_files");
    while (s.step()) names.emplace_back(s.text(0));
    return names;
}

std::vector<std::pair<std::string, std::string>> Store::publishedPlaces() {
    std::vector<std::pair<std::string, std::string>> places;
    Statement s = db_.prepare("SELECT name, published_to FROM batch_files WHERE published = 1 AND published_to IS NOT NULL");
    while (s.step()) places.emplace_back(s.text(0), s.text(1));
    return places;
}

void Store::markPublished(std::int32_t batchNo, std::string_view at, std::string_view place) {
    Statement s = db_.prepare(
        "UPDATE batch_files SET published = 1, published_at = ?2, published_to = ?3, claimed_by = NULL, "
        "claimed_until = NULL WHERE batch_no = ?1");
    s.bind(1, batchNo);
    if (at.empty()) s.bindNull(2);
    else s.bind(2, at);
    if (place.empty()) s.bindNull(3);
    else s.bind(3, place);
    s.run();
}

std::optional<FileClaim> Store::fileClaim(std::int32_t batchNo) {
    Statement s = db_.prepare(
        "SELECT claimed_by, COALESCE(claimed_until, 0) FROM batch_files WHERE batch_no = ?1 AND claimed_by IS NOT NULL");
    s.bind(1, batchNo);
    if (!s.step()) return std::nullopt;
    return FileClaim{std::string(s.text(0)), s.integer(1)};
}

void Store::setFileClaim(std::int32_t batchNo, const std::optional<FileClaim>& claim) {
    Statement s = db_.prepare("UPDATE batch_files SET claimed_by = ?2, claimed_until = ?3 WHERE batch_no = ?1");
    s.bind(1, batchNo);
    if (claim) s.bind(2, claim->by).bind(3, claim->until);
    else s.bindNull(2).bindNull(3);
    s.run();
}

std::optional<std::string> Store::setting(std::string_view name) {
    Statement s = db_.prepare("SELECT value FROM settings WHERE name = ?1");
    s.bind(1, name);
    if (!s.step()) return std::nullopt;
    return std::string(s.text(0));
}

void Store::setSetting(std::string_view name, std::string_view value) {
    Statement s = db_.prepare(
        "INSERT INTO settings (name, value) VALUES (?1, ?2) ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    s.bind(1, name).bind(2, value).run();
}

bool Store::isDemo() { return setting("demo") == "1"; }

void Store::markDemo() { setSetting("demo", "1"); }

std::int32_t Store::highestBatchNo() {
    Statement s = db_.prepare("SELECT COALESCE(MAX(batch_no), 0) FROM batches");
    s.step();
    return static_cast<std::int32_t>(s.integer(0));
}

void Store::raiseBatchFloor(std::int32_t usedUpTo) {
    const auto floor = setting("batch_floor");
    if (floor && std::stoll(*floor) >= usedUpTo) return;
    setSetting("batch_floor", std::to_string(usedUpTo));
}

void Store::setLastFileCreationNumber(std::string_view originatorId, std::int32_t number) {
    Statement s = db_.prepare(
        "INSERT INTO originator_files (originator_id, last_number) VALUES (?1, ?2) "
        "ON CONFLICT (originator_id) DO UPDATE SET last_number = excluded.last_number");
    s.bind(1, originatorId).bind(2, number).run();
}

void Store::forEachPendingItem(const std::function<void(const BatchItemView&)>& visit) {
    auto& s = pendingItems_.reuse();
    BatchItemView v;
    while (s.step()) {
        v.batchNo = static_cast<std::int32_t>(s.integer(0));
        v.centerId = static_cast<std::int32_t>(s.integer(1));
        v.centerName = s.text(2);
        v.memberId = static_cast<std::int32_t>(s.integer(3));
        v.exportedAt = s.text(4);
        v.source = static_cast<std::int16_t>(s.integer(5));
        v.amount = single(s, 6);
        v.country = static_cast<std::int16_t>(s.integer(7));
        v.returnCode = s.text(8);
        v.returnDate = s.text(9);
        visit(v);
    }
}

std::int64_t Store::listClock() {
    auto& s = listClock_.reuse();
    const std::int64_t value = s.step() ? s.integer(0) : 0;
    s.reuse();
    return value;
}

bool Store::batchExists(std::int32_t batchNo) {
    auto& s = batchExists_.reuse().bind(1, batchNo);
    const bool found = s.step();
    s.reuse();
    return found;
}

std::int64_t Store::countPendingItems() {
    auto& s = countPending_.reuse();
    s.step();
    const std::int64_t n = s.integer(0);
    s.reuse();
    return n;
}

void Store::stageOutcomes(std::int32_t batchNo, const std::vector<PostedOutcome>& outcomes) {
    freshStage(db_, "staged_outcomes");
    db_.exec("DELETE FROM staged_waiting");
    std::vector<Row> rows;
    rows.reserve(outcomes.size());
    for (const PostedOutcome& o : outcomes)
        rows.push_back({std::int64_t{o.memberId}, std::int64_t{o.sourceTwo}, std::int64_t{o.cleared ? kCleared : kFailed},
                        static_cast<std::int64_t>(o.order)});
    db_.load("staged_outcomes", {"member_id", "source_two", "outcome", "ord"}, rows, statisticsFor(rows.size()));
    stageWaiting_.reuse().bind(1, batchNo).run();
    if (db_.engine() == Engine::PostgreSQL && statisticsFor(static_cast<std::size_t>(db_.changes())) == Statistics::Refresh)
        db_.exec("ANALYZE staged_waiting");
}

std::optional<std::size_t> Store::firstOutcomeWithoutItem(std::int32_t batchNo) {
    auto& s = outcomeWithoutItem_.reuse().bind(1, batchNo).bind(2, kFailed);
    std::optional<std::size_t> order;
    if (s.step()) order = static_cast<std::size_t>(s.integer(0));
    s.reuse();
    return order;
}

std::optional<Store::WaitingItem> Store::firstUnnamedItem() {
    auto& s = unnamedItem_.reuse();
    std::optional<WaitingItem> item;
    if (s.step())
        item = WaitingItem{static_cast<std::int32_t>(s.integer(0)), static_cast<std::int32_t>(s.integer(1)),
                           s.integer(2) != 0};
    s.reuse();
    return item;
}

void Store::recordOutcomes(std::int32_t batchNo, std::string_view at, std::int32_t personId, std::int16_t personType,
                           std::string_view login) {
    for (const int outcome : {kCleared, kFailed}) {
        auto& items = recordItems_.reuse();
        items.bind(1, batchNo).bind(2, outcome).bind(3, at).bind(4, personId).bind(5, int{personType});
        bindLogin(items, 6, login);
        items.run();
    }
    clearCharges_.reuse().run();
    failCharges_.reuse().run();
}

}  // namespace eft::server
