#include "server/store/schema.h"

#include <string>
#include <utility>

#include "server/store/database.h"
#include "server/store/seed.h"

namespace eft::server {
namespace {

// Version 1: the tables as they stood when versions began. A database made before then has
// version 0 and any earlier shape of them; every statement here is safe to run over one.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE IF NOT EXISTS centers (
  id      INTEGER PRIMARY KEY CHECK (id > 0),
  name    TEXT NOT NULL,
  country INTEGER NOT NULL CHECK (country IN (1, 2)));
CREATE TABLE IF NOT EXISTS members (
  id              INTEGER PRIMARY KEY CHECK (id > 0),
  name            TEXT NOT NULL,
  center_id       INTEGER NOT NULL REFERENCES centers(id),
  member_type     INTEGER NOT NULL,
  subscription    INTEGER NOT NULL DEFAULT 0,
  tax_exempt      INTEGER NOT NULL DEFAULT 0,
  down_payment    INTEGER NOT NULL DEFAULT 0,
  contract_signed TEXT);
CREATE TABLE IF NOT EXISTS charges (
  id                    INTEGER PRIMARY KEY,
  member_id             INTEGER NOT NULL REFERENCES members(id),
  center_id             INTEGER NOT NULL REFERENCES centers(id),
  source                INTEGER NOT NULL,
  source_description    TEXT NOT NULL,
  sweep_sequence        INTEGER NOT NULL,
  sweep_date            TEXT NOT NULL,
  type                  INTEGER NOT NULL,
  conversion_rate       REAL NOT NULL,
  royalty               REAL NOT NULL,
  nac                   REAL NOT NULL,
  royalty_reserve       REAL NOT NULL,
  franchise_fee         REAL NOT NULL,
  franchise_fee_reserve REAL NOT NULL,
  gst                   REAL NOT NULL,
  pst                   REAL NOT NULL,
  nmc_payment           REAL NOT NULL,
  trust_id              INTEGER NOT NULL DEFAULT 0,
  state                 INTEGER NOT NULL DEFAULT 0 CHECK (state IN (0, 14, 20, 30)),
  posted_rate REAL, posted_royalty REAL, posted_nac REAL, posted_royalty_reserve REAL,
  posted_franchise_fee REAL, posted_franchise_fee_reserve REAL, posted_gst REAL, posted_pst REAL,
  posted_nmc REAL, posted_trust INTEGER, posted_amount REAL,
  saved_by INTEGER, saved_by_type INTEGER, saved_at TEXT, batch_cents INTEGER,
  UNIQUE (member_id, center_id, source, sweep_sequence));
-- In the order the sweep goes out, so the sweep reply streams from the index with no sort.
DROP INDEX IF EXISTS charges_by_state;
CREATE INDEX IF NOT EXISTS charges_in_sweep_order
  ON charges (state, center_id, member_id, source, sweep_sequence);
CREATE TABLE IF NOT EXISTS batches (
  batch_no    INTEGER PRIMARY KEY CHECK (batch_no > 0),
  country     INTEGER NOT NULL,
  exported_at TEXT NOT NULL,
  person_id   INTEGER NOT NULL,
  person_type INTEGER NOT NULL,
  file_name   TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS batch_items (
  batch_no        INTEGER NOT NULL REFERENCES batches(batch_no),
  charge_id       INTEGER NOT NULL REFERENCES charges(id),
  amount          REAL NOT NULL,
  outcome         INTEGER CHECK (outcome IN (1, 2)),
  outcome_at      TEXT,
  outcome_by      INTEGER,
  outcome_by_type INTEGER,
  PRIMARY KEY (batch_no, charge_id));
CREATE INDEX IF NOT EXISTS batch_items_pending ON batch_items (outcome, batch_no);
CREATE TABLE IF NOT EXISTS center_accounts (
  center_id    INTEGER PRIMARY KEY REFERENCES centers(id),
  routing      TEXT,
  institution  TEXT,
  transit      TEXT,
  account      TEXT NOT NULL,
  account_type INTEGER NOT NULL CHECK (account_type IN (1, 2)));
CREATE TABLE IF NOT EXISTS batch_files (
  batch_no        INTEGER PRIMARY KEY REFERENCES batches(batch_no),
  name            TEXT NOT NULL UNIQUE,
  content         BLOB NOT NULL,
  debit_count     INTEGER NOT NULL,
  debit_cents     INTEGER NOT NULL,
  credit_count    INTEGER NOT NULL,
  credit_cents    INTEGER NOT NULL,
  creation_number INTEGER,
  published       INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS originator_files (
  originator_id TEXT PRIMARY KEY,
  last_number   INTEGER NOT NULL);
)sql";

// Version 2: who did it by login, the demo mark, numbers kept past a restore, deliveries.
constexpr const char* kVersion2 = R"sql(
ALTER TABLE charges ADD COLUMN saved_login TEXT;
ALTER TABLE batches ADD COLUMN login TEXT;
ALTER TABLE batch_items ADD COLUMN outcome_login TEXT;
ALTER TABLE batch_files ADD COLUMN published_at TEXT;
CREATE TABLE settings (
  name  TEXT PRIMARY KEY,
  value TEXT NOT NULL);
CREATE TABLE deliveries (
  batch_no    INTEGER NOT NULL REFERENCES batch_files(batch_no),
  attempt     INTEGER NOT NULL,
  started_at  TEXT NOT NULL,
  exit_status INTEGER NOT NULL,
  stderr      TEXT NOT NULL,
  PRIMARY KEY (batch_no, attempt));
)sql";

bool hasColumn(Database& db, const char* table, std::string_view column) {
    Statement s = db.prepare(std::string("PRAGMA table_info(") + table + ")");
    while (s.step())
        if (s.text(1) == column) return true;
    return false;
}

void toVersion1(Database& db) {
    const bool complete = !hasColumn(db, "charges", "id") || hasColumn(db, "charges", "batch_cents");
    db.exec(kVersion1);
    if (complete) return;
    db.exec("ALTER TABLE charges ADD COLUMN batch_cents INTEGER");
    // Charges saved before they carried their Total kept it, to the cent, as the posted amount;
    // without this an export would move nothing for them.
    db.exec("UPDATE charges SET batch_cents = CAST(round(posted_amount * 100) AS INTEGER) "
            "WHERE state = 14 AND posted_amount IS NOT NULL");
}

// A database seeded before the demo mark existed is recognised by its accounts: the seed gives
// every center the fictitious account made from its id, which no real center has.
bool seededBeforeTheMark(Database& db) {
    Statement s = db.prepare(
        "SELECT c.id, c.country, COALESCE(a.routing, ''), COALESCE(a.institution, ''), COALESCE(a.transit, ''), "
        "a.account, a.account_type FROM centers c LEFT JOIN center_accounts a ON a.center_id = c.id");
    bool any = false;
    while (s.step()) {
        if (s.isNull(5)) return false;
        const bank::BankAccount demo = demoAccount(static_cast<int>(s.integer(1)), static_cast<std::uint64_t>(s.integer(0)));
        if (s.text(2) != demo.routing || s.text(3) != demo.institution || s.text(4) != demo.transit ||
            s.text(5) != demo.number || s.integer(6) != static_cast<int>(demo.type))
            return false;
        any = true;
    }
    return any;
}

void toVersion2(Database& db) {
    db.exec(kVersion2);
    if (seededBeforeTheMark(db)) db.exec("INSERT INTO settings (name, value) VALUES ('demo', '1')");
}

// The sweep's change counter, and the value at which each center's sweep rows last changed: a
// charge came in or left, or changed while in, or a member's flags that its Totals depend on
// changed. Kept by triggers, so no writer can forget it.
constexpr const char* kVersion3 = R"sql(
CREATE TABLE IF NOT EXISTS sweep_clock (
  id    INTEGER PRIMARY KEY CHECK (id = 1),
  value INTEGER NOT NULL);
INSERT OR IGNORE INTO sweep_clock (id, value) VALUES (1, 0);
CREATE TABLE IF NOT EXISTS center_changes (
  center_id  INTEGER PRIMARY KEY,
  changed_at INTEGER NOT NULL);
CREATE TRIGGER IF NOT EXISTS sweep_charge_added AFTER INSERT ON charges WHEN NEW.state = 0 BEGIN
  UPDATE sweep_clock SET value = value + 1 WHERE id = 1;
  INSERT OR REPLACE INTO center_changes (center_id, changed_at) SELECT NEW.center_id, value FROM sweep_clock;
END;
CREATE TRIGGER IF NOT EXISTS sweep_charge_changed AFTER UPDATE ON charges WHEN OLD.state = 0 OR NEW.state = 0 BEGIN
  UPDATE sweep_clock SET value = value + 1 WHERE id = 1;
  INSERT OR REPLACE INTO center_changes (center_id, changed_at) SELECT OLD.center_id, value FROM sweep_clock;
  INSERT OR REPLACE INTO center_changes (center_id, changed_at)
    SELECT NEW.center_id, value FROM sweep_clock WHERE NEW.center_id <> OLD.center_id;
END;
CREATE TRIGGER IF NOT EXISTS sweep_charge_removed AFTER DELETE ON charges WHEN OLD.state = 0 BEGIN
  UPDATE sweep_clock SET value = value + 1 WHERE id = 1;
  INSERT OR REPLACE INTO center_changes (center_id, changed_at) SELECT OLD.center_id, value FROM sweep_clock;
END;
CREATE TRIGGER IF NOT EXISTS sweep_member_changed AFTER UPDATE OF subscription, tax_exempt ON members
WHEN OLD.subscription IS NOT NEW.subscription OR OLD.tax_exempt IS NOT NEW.tax_exempt BEGIN
  UPDATE sweep_clock SET value = value + 1 WHERE id = 1;
  INSERT OR REPLACE INTO center_changes (center_id, changed_at)
    SELECT DISTINCT ch.center_id, (SELECT value FROM sweep_clock) FROM charges ch
    WHERE ch.member_id = NEW.id AND ch.state = 0;
END;
)sql";

void toVersion3(Database& db) { db.exec(kVersion3); }

// Version 4: who is working on a file (publishing or delivering it) and until when, and where
// it was published; see file_claim.h.
constexpr const char* kVersion4 = R"sql(
ALTER TABLE batch_files ADD COLUMN claimed_by TEXT;
ALTER TABLE batch_files ADD COLUMN claimed_until INTEGER;
ALTER TABLE batch_files ADD COLUMN published_to TEXT;
)sql";

void toVersion4(Database& db) { db.exec(kVersion4); }

// Version 5: the sweep's index carries every column of a charge that the sweep reply shows,
// so the reply is read from the index alone, without a seek into the table for each charge.
// It still leads with the sweep's order, and serves every query the narrower one did.
constexpr const char* kVersion5 = R"sql(
DROP INDEX IF EXISTS charges_in_sweep_order;
CREATE INDEX IF NOT EXISTS charges_sweep_rows
  ON charges (state, center_id, member_id, source, sweep_sequence, conversion_rate, royalty, nac,
              royalty_reserve, franchise_fee, franchise_fee_reserve, gst, pst, nmc_payment, source_description,
              sweep_date, type, trust_id);
)sql";

void toVersion5(Database& db) { db.exec(kVersion5); }

// Version 6: an attempt to deliver a file is recorded before its command runs and its outcome
// after, so an attempt may have no outcome (exit_status NULL): its command may be running, or
// may have delivered the file with nobody left to record it. Such an attempt is never run
// again by itself; the administrator resolves it, and who did and when is kept. SQLite cannot
// drop a NOT NULL, so the table is made again with its rows.
constexpr const char* kVersion6 = R"sql(
CREATE TABLE deliveries_v6 (
  batch_no    INTEGER NOT NULL REFERENCES batch_files(batch_no),
  attempt     INTEGER NOT NULL,
  started_at  TEXT NOT NULL,
  exit_status INTEGER,
  stderr      TEXT NOT NULL DEFAULT '',
  started_by  TEXT,
  ended_at    TEXT,
  resolution  TEXT CHECK (resolution IN ('delivered', 'redeliver')),
  resolved_at TEXT,
  resolved_by TEXT,
  resolved_as TEXT,
  PRIMARY KEY (batch_no, attempt));
INSERT INTO deliveries_v6 (batch_no, attempt, started_at, exit_status, stderr)
  SELECT batch_no, attempt, started_at, exit_status, stderr FROM deliveries;
DROP TABLE deliveries;
ALTER TABLE deliveries_v6 RENAME TO deliveries;
CREATE INDEX deliveries_open ON deliveries (batch_no) WHERE exit_status IS NULL AND resolution IS NULL;
)sql";

void toVersion6(Database& db) { db.exec(kVersion6); }

// Version 7: what the bank sends back. Each return or change notice of a file is applied once,
// keyed by the file's hash and the return's own trace, so a replay or two instances applying
// the same file at once change nothing the second time. A returned item keeps the code, its
// meaning, the return date and the file; a late return after clearing keeps the clearing it
// reverses. A center's holds (an account blocked, debits stopped until a new authorization) are
// kept with who lifted them and when. A charge counts its retries from its first presentment
// and keeps the Total it was presented at.
constexpr const char* kVersion7 = R"sql(
CREATE TABLE applied_returns (
  id          INTEGER PRIMARY KEY,
  file_sha256 TEXT NOT NULL,
  own_trace   TEXT NOT NULL,
  file_name   TEXT NOT NULL,
  applied_at  TEXT NOT NULL,
  applied_by  TEXT NOT NULL,
  code        TEXT NOT NULL,
  outcome     TEXT NOT NULL,
  batch_no    INTEGER,
  center_id   INTEGER,
  cents       INTEGER NOT NULL,
  return_date TEXT NOT NULL,
  detail      TEXT NOT NULL DEFAULT '',
  UNIQUE (file_sha256, own_trace));
CREATE INDEX applied_returns_by_item ON applied_returns (batch_no, center_id);
ALTER TABLE batch_items ADD COLUMN return_code TEXT;
ALTER TABLE batch_items ADD COLUMN return_meaning TEXT;
ALTER TABLE batch_items ADD COLUMN return_date TEXT;
ALTER TABLE batch_items ADD COLUMN return_file TEXT;
ALTER TABLE batch_items ADD COLUMN reversed_clearing_at TEXT;
ALTER TABLE batch_items ADD COLUMN reversed_clearing_login TEXT;
ALTER TABLE charges ADD COLUMN retries INTEGER NOT NULL DEFAULT 0;
ALTER TABLE charges ADD COLUMN first_presented TEXT;
ALTER TABLE charges ADD COLUMN presented_cents INTEGER;
CREATE TABLE center_holds (
  id         INTEGER PRIMARY KEY,
  center_id  INTEGER NOT NULL REFERENCES centers(id),
  kind       TEXT NOT NULL CHECK (kind IN ('account', 'authorization')),
  code       TEXT NOT NULL,
  reason     TEXT NOT NULL,
  since      TEXT NOT NULL,
  file_name  TEXT NOT NULL DEFAULT '',
  lifted_at  TEXT,
  lifted_by  TEXT,
  lifted_how TEXT);
CREATE INDEX center_holds_open ON center_holds (center_id) WHERE lifted_at IS NULL;
CREATE TABLE change_notices (
  id          INTEGER PRIMARY KEY,
  file_sha256 TEXT NOT NULL,
  own_trace   TEXT NOT NULL,
  file_name   TEXT NOT NULL,
  center_id   INTEGER,
  code        TEXT NOT NULL,
  field       TEXT NOT NULL,
  old_value   TEXT NOT NULL DEFAULT '',
  new_value   TEXT NOT NULL DEFAULT '',
  notice_date TEXT NOT NULL,
  refused     TEXT NOT NULL DEFAULT '',
  applied_at  TEXT,
  applied_by  TEXT,
  UNIQUE (file_sha256, own_trace, field));
)sql";

void toVersion7(Database& db) { db.exec(kVersion7); }

// Version 8: a count of the changes to a center's sweep rows that leave their Totals alone (a
// member's name, contract date, type or down payment), which a save need not be refused for
// but a copy of the rows kept to serve them again must see. With center_changes it tells
// whether any part of a center's rows changed.
constexpr const char* kVersion8 = R"sql(
CREATE TABLE sweep_shown (
  center_id INTEGER PRIMARY KEY,
  changes   INTEGER NOT NULL);
CREATE TRIGGER sweep_member_shown AFTER UPDATE OF name, contract_signed, member_type, down_payment ON members
WHEN OLD.name IS NOT NEW.name OR OLD.contract_signed IS NOT NEW.contract_signed
  OR OLD.member_type IS NOT NEW.member_type OR OLD.down_payment IS NOT NEW.down_payment BEGIN
  INSERT INTO sweep_shown (center_id, changes)
    SELECT DISTINCT ch.center_id, 1 FROM charges ch WHERE ch.member_id = NEW.id AND ch.state = 0
  ON CONFLICT (center_id) DO UPDATE SET changes = changes + 1;
END;
)sql";

void toVersion8(Database& db) { db.exec(kVersion8); }

// Version 9: an item keeps its charge's center, member, source and sequence, which never change
// once the charge is imported, so the batch list reads the waiting items in its own order
// without a join to the charges.
constexpr const char* kVersion9 = R"sql(
ALTER TABLE batch_items ADD COLUMN center_id INTEGER;
ALTER TABLE batch_items ADD COLUMN member_id INTEGER;
ALTER TABLE batch_items ADD COLUMN source INTEGER;
ALTER TABLE batch_items ADD COLUMN sweep_sequence INTEGER;
UPDATE batch_items SET (center_id, member_id, source, sweep_sequence) = (SELECT ch.center_id, ch.member_id,
  ch.source, ch.sweep_sequence FROM charges ch WHERE ch.id = batch_items.charge_id);
CREATE INDEX batch_items_listed ON batch_items (batch_no, center_id, member_id, source, sweep_sequence)
  WHERE outcome IS NULL OR return_code IS NOT NULL;
)sql";

void toVersion9(Database& db) { db.exec(kVersion9); }

// Version 10: the batch list's change counter, moved by every change of what the list shows
// (the items, their batches, their centers' names) in the change's own transaction, so a server
// keeping a list it wrote can tell with one read whether any writer, in any process, changed it.
// Kept by triggers, so no writer can forget it. The value only has to differ from every value
// it had before.
void toVersion10(Database& db) {
    db.exec("CREATE TABLE list_clock (id INTEGER PRIMARY KEY CHECK (id = 1), value INTEGER NOT NULL);"
            "INSERT INTO list_clock (id, value) VALUES (1, 0);");
    // A SQLite trigger answers one kind of change of one table: one for each of the nine.
    constexpr std::pair<const char*, const char*> kTables[] = {
        {"item", "batch_items"}, {"batch", "batches"}, {"center", "centers"}};
    constexpr std::pair<const char*, const char*> kChanges[] = {
        {"added", "INSERT"}, {"changed", "UPDATE"}, {"removed", "DELETE"}};
    for (const auto& [name, table] : kTables)
        for (const auto& [change, event] : kChanges)
            db.exec(("CREATE TRIGGER list_" + std::string(name) + "_" + change + " AFTER " + event + " ON " + table +
                     " BEGIN UPDATE list_clock SET value = value + 1 WHERE id = 1; END;")
                        .c_str());
}

using Migration = void (*)(Database&);
constexpr Migration kMigrations[kSchemaVersion] = {toVersion1, toVersion2, toVersion3, toVersion4, toVersion5,
                                                   toVersion6, toVersion7, toVersion8, toVersion9, toVersion10};

bool hasTables(Database& db) {
    Statement s = db.prepare("SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type = 'table')");
    s.step();
    return s.integer(0) != 0;
}

std::filesystem::path takeCopy(Database& db, const std::filesystem::path& file, int from) {
    for (int n = 1;; ++n) {
        std::filesystem::path copy = file;
        copy += ".v" + std::to_string(from) + (n > 1 ? "-" + std::to_string(n) : "") + ".bak";
        if (std::filesystem::exists(copy)) continue;
        Statement s = db.prepare("VACUUM INTO ?1");
        s.bind(1, copy.string()).run();
        return copy;
    }
}

}  // namespace

int schemaVersion(Database& db) {
    if (db.engine() == Engine::PostgreSQL) return postgresSchemaVersion(db);
    Statement s = db.prepare("PRAGMA user_version");
    s.step();
    return static_cast<int>(s.integer(0));
}

void refuseNewerSchema(Database& db, const std::filesystem::path& file) {
    const int found = schemaVersion(db);
    if (found > kSchemaVersion)
        throw StoreError("the database " + displayLocation(file.string()) + " has schema version " +
                         std::to_string(found) + ", newer than this program's " + std::to_string(kSchemaVersion) +
                         "; run the eft-server that wrote it, or a newer one");
}

void refuseOlderSchema(Database& db, const std::filesystem::path& file) {
    const int found = schemaVersion(db);
    if (found >= kSchemaVersion) return;
    if (found == 0) {
        // Version 0 is also a database with nothing in it yet, which a dry run may read as is.
        if (db.engine() == Engine::PostgreSQL) return;
        Statement tables = db.prepare("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'");
        tables.step();
        if (tables.integer(0) == 0) return;
    }
    throw StoreError("the database " + displayLocation(file.string()) + " has schema version " + std::to_string(found) +
                     ", older than this program's " + std::to_string(kSchemaVersion) +
                     "; a dry run writes nothing, an upgrade included: start eft-server on it once, or run the "
                     "command without --dry-run");
}

std::optional<SchemaUpgrade> upgradeSchema(Database& db, const std::filesystem::path& file) {
    if (db.engine() == Engine::PostgreSQL) {
        const int found = upgradePostgresSchema(db);
        if (found == 0 || found == kSchemaVersion) return std::nullopt;
        return SchemaUpgrade{found, kSchemaVersion, {}};
    }
    const int found = schemaVersion(db);
    if (found == kSchemaVersion) return std::nullopt;
    refuseNewerSchema(db, file);
    std::filesystem::path copy;
    const bool older = hasTables(db);
    if (older) copy = takeCopy(db, file, found);
    for (int to = found + 1; to <= kSchemaVersion; ++to) {
        Transaction t(db, Transaction::Mode::Write);
        // Another connection may have got here first.
        if (schemaVersion(db) >= to) continue;
        kMigrations[to - 1](db);
        db.exec(("PRAGMA user_version = " + std::to_string(to)).c_str());
        t.commit();
    }
    if (!older) return std::nullopt;
    return SchemaUpgrade{found, kSchemaVersion, copy};
}

std::string upgradeText(const SchemaUpgrade& upgrade, std::string_view location) {
    std::string text = "upgraded the database " + displayLocation(location) + " from schema version " +
                       std::to_string(upgrade.from) + " to " + std::to_string(upgrade.to);
    if (!upgrade.copy.empty()) text += "; the database as it was is kept in " + upgrade.copy.string();
    return text;
}

}  // namespace eft::server
