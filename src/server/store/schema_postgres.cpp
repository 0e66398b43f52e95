// The schema on PostgreSQL: the same tables as on SQLite at version 4, in PostgreSQL's
// types (REAL is single precision there, so the amounts are double precision, as SQLite keeps
// them), and the sweep's change counter kept by triggers, as on SQLite (once per statement
// here rather than once per row). The version is kept in
// schema_version. PostgreSQL support began at version 4, so there is no older shape to migrate
// from; later versions are steps of upgradePostgresSchema(), one transaction each.
#include <string>

#include "server/store/database.h"
#include "server/store/schema.h"

namespace eft::server {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE centers (
  id      integer PRIMARY KEY CHECK (id > 0),
  name    text NOT NULL,
  country integer NOT NULL CHECK (country IN (1, 2)));
CREATE TABLE members (
  id              integer PRIMARY KEY CHECK (id > 0),
  name            text NOT NULL,
  center_id       integer NOT NULL REFERENCES centers(id),
  member_type     integer NOT NULL,
  subscription    integer NOT NULL DEFAULT 0,
  tax_exempt      integer NOT NULL DEFAULT 0,
  down_payment    integer NOT NULL DEFAULT 0,
  contract_signed text);
CREATE TABLE charges (
  id                    bigserial PRIMARY KEY,
  member_id             integer NOT NULL REFERENCES members(id),
  center_id             integer NOT NULL REFERENCES centers(id),
  source                integer NOT NULL,
  source_description    text NOT NULL,
  sweep_sequence        integer NOT NULL,
  sweep_date            text NOT NULL,
  type                  integer NOT NULL,
  conversion_rate       double precision NOT NULL,
  royalty               double precision NOT NULL,
  nac                   double precision NOT NULL,
  royalty_reserve       double precision NOT NULL,
  franchise_fee         double precision NOT NULL,
  franchise_fee_reserve double precision NOT NULL,
  gst                   double precision NOT NULL,
  pst                   double precision NOT NULL,
  nmc_payment           double precision NOT NULL,
  trust_id              integer NOT NULL DEFAULT 0,
  state                 integer NOT NULL DEFAULT 0 CHECK (state IN (0, 14, 20, 30)),
  posted_rate double precision, posted_royalty double precision, posted_nac double precision,
  posted_royalty_reserve double precision, posted_franchise_fee double precision,
  posted_franchise_fee_reserve double precision, posted_gst double precision, posted_pst double precision,
  posted_nmc double precision, posted_trust integer, posted_amount double precision,
  saved_by integer, saved_by_type integer, saved_at text, batch_cents bigint, saved_login text,
  UNIQUE (member_id, center_id, source, sweep_sequence));
CREATE INDEX charges_in_sweep_order ON charges (state, center_id, member_id, source, sweep_sequence);
CREATE TABLE batches (
  batch_no    integer PRIMARY KEY CHECK (batch_no > 0),
  country     integer NOT NULL,
  exported_at text NOT NULL,
  person_id   integer NOT NULL,
  person_type integer NOT NULL,
  file_name   text NOT NULL,
  login       text);
CREATE TABLE batch_items (
  batch_no        integer NOT NULL REFERENCES batches(batch_no),
  charge_id       bigint NOT NULL REFERENCES charges(id),
  amount          double precision NOT NULL,
  outcome         integer CHECK (outcome IN (1, 2)),
  outcome_at      text,
  outcome_by      integer,
  outcome_by_type integer,
  outcome_login   text,
  PRIMARY KEY (batch_no, charge_id));
CREATE INDEX batch_items_pending ON batch_items (outcome, batch_no);
CREATE TABLE center_accounts (
  center_id    integer PRIMARY KEY REFERENCES centers(id),
  routing      text,
  institution  text,
  transit      text,
  account      text NOT NULL,
  account_type integer NOT NULL CHECK (account_type IN (1, 2)));
CREATE TABLE batch_files (
  batch_no        integer PRIMARY KEY REFERENCES batches(batch_no),
  name            text NOT NULL UNIQUE,
  content         text NOT NULL,
  debit_count     bigint NOT NULL,
  debit_cents     bigint NOT NULL,
  credit_count    bigint NOT NULL,
  credit_cents    bigint NOT NULL,
  creation_number integer,
  published       integer NOT NULL DEFAULT 0,
  published_at    text,
  claimed_by      text,
  claimed_until   bigint,
  published_to    text);
CREATE TABLE originator_files (
  originator_id text PRIMARY KEY,
  last_number   integer NOT NULL);
CREATE TABLE settings (
  name  text PRIMARY KEY,
  value text NOT NULL);
CREATE TABLE deliveries (
  batch_no    integer NOT NULL REFERENCES batch_files(batch_no),
  attempt     integer NOT NULL,
  started_at  text NOT NULL,
  exit_status integer NOT NULL,
  stderr      text NOT NULL,
  PRIMARY KEY (batch_no, attempt));

CREATE TABLE sweep_clock (
  id    integer PRIMARY KEY CHECK (id = 1),
  value bigint NOT NULL);
INSERT INTO sweep_clock (id, value) VALUES (1, 0);
CREATE TABLE center_changes (
  center_id  integer PRIMARY KEY,
  changed_at bigint NOT NULL);

-- One tick of the counter per statement, for every center whose sweep rows it changed: the
-- same for the rule as SQLite's tick per row, and a COPY of a million charges is not a million
-- updates of one row in one transaction.
CREATE FUNCTION sweep_centers_changed(centers integer[]) RETURNS void LANGUAGE plpgsql AS $$
DECLARE tick bigint;
BEGIN
  IF cardinality(centers) = 0 THEN RETURN; END IF;
  UPDATE sweep_clock SET value = value + 1 WHERE id = 1 RETURNING value INTO tick;
  INSERT INTO center_changes (center_id, changed_at) SELECT DISTINCT c, tick FROM unnest(centers) AS c
  ON CONFLICT (center_id) DO UPDATE SET changed_at = EXCLUDED.changed_at;
END $$;
CREATE FUNCTION sweep_charges_added() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  PERFORM sweep_centers_changed(ARRAY(SELECT DISTINCT center_id FROM added WHERE state = 0));
  RETURN NULL;
END $$;
CREATE FUNCTION sweep_charges_changed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  PERFORM sweep_centers_changed(ARRAY(
    SELECT o.center_id FROM before o JOIN after n ON n.id = o.id WHERE o.state = 0 OR n.state = 0
    UNION SELECT n.center_id FROM before o JOIN after n ON n.id = o.id WHERE o.state = 0 OR n.state = 0));
  RETURN NULL;
END $$;
CREATE FUNCTION sweep_charges_removed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  PERFORM sweep_centers_changed(ARRAY(SELECT DISTINCT center_id FROM removed WHERE state = 0));
  RETURN NULL;
END $$;
CREATE TRIGGER sweep_charges_added AFTER INSERT ON charges
  REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION sweep_charges_added();
CREATE TRIGGER sweep_charges_changed AFTER UPDATE ON charges
  REFERENCING OLD TABLE AS before NEW TABLE AS after FOR EACH STATEMENT EXECUTE FUNCTION sweep_charges_changed();
CREATE TRIGGER sweep_charges_removed AFTER DELETE ON charges
  REFERENCING OLD TABLE AS removed FOR EACH STATEMENT EXECUTE FUNCTION sweep_charges_removed();
-- A member's flags that its Totals depend on.
CREATE FUNCTION sweep_members_changed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  PERFORM sweep_centers_changed(ARRAY(
    SELECT DISTINCT ch.center_id FROM before o JOIN after n ON n.id = o.id JOIN charges ch ON ch.member_id = n.id
    WHERE ch.state = 0 AND (o.subscription IS DISTINCT FROM n.subscription OR o.tax_exempt IS DISTINCT FROM n.tax_exempt)));
  RETURN NULL;
END $$;
CREATE TRIGGER sweep_members_changed AFTER UPDATE ON members
  REFERENCING OLD TABLE AS before NEW TABLE AS after FOR EACH STATEMENT EXECUTE FUNCTION sweep_members_changed();

CREATE TABLE schema_version (version integer NOT NULL);
)sql";

// The version kSchema stands at.
constexpr int kFirstVersion = 4;

// Version 6, as on SQLite: a delivery attempt is recorded before its command runs and may
// have no outcome, and the administrator's resolution of such an attempt is kept.
constexpr const char* kVersion6 = R"sql(
ALTER TABLE deliveries ALTER COLUMN exit_status DROP NOT NULL;
ALTER TABLE deliveries ALTER COLUMN stderr SET DEFAULT '';
ALTER TABLE deliveries
  ADD COLUMN started_by  text,
  ADD COLUMN ended_at    text,
  ADD COLUMN resolution  text CHECK (resolution IN ('delivered', 'redeliver')),
  ADD COLUMN resolved_at text,
  ADD COLUMN resolved_by text,
  ADD COLUMN resolved_as text;
CREATE INDEX deliveries_open ON deliveries (batch_no) WHERE exit_status IS NULL AND resolution IS NULL;
)sql";

// Version 7, as on SQLite: applied returns and change notices, keyed by file hash and the
// return's own trace; the returned item's details; the centers' holds; a charge's retries.
constexpr const char* kVersion7 = R"sql(
CREATE TABLE applied_returns (
  id          bigserial PRIMARY KEY,
  file_sha256 text NOT NULL,
  own_trace   text NOT NULL,
  file_name   text NOT NULL,
  applied_at  text NOT NULL,
  applied_by  text NOT NULL,
  code        text NOT NULL,
  outcome     text NOT NULL,
  batch_no    integer,
  center_id   integer,
  cents       bigint NOT NULL,
  return_date text NOT NULL,
  detail      text NOT NULL DEFAULT '',
  UNIQUE (file_sha256, own_trace));
CREATE INDEX applied_returns_by_item ON applied_returns (batch_no, center_id);
ALTER TABLE batch_items
  ADD COLUMN return_code text,
  ADD COLUMN return_meaning text,
  ADD COLUMN return_date text,
  ADD COLUMN return_file text,
  ADD COLUMN reversed_clearing_at text,
  ADD COLUMN reversed_clearing_login text;
ALTER TABLE charges
  ADD COLUMN retries integer NOT NULL DEFAULT 0,
  ADD COLUMN first_presented text,
  ADD COLUMN presented_cents bigint;
CREATE TABLE center_holds (
  id         bigserial PRIMARY KEY,
  center_id  integer NOT NULL REFERENCES centers(id),
  kind       text NOT NULL CHECK (kind IN ('account', 'authorization')),
  code       text NOT NULL,
  reason     text NOT NULL,
  since      text NOT NULL,
  file_name  text NOT NULL DEFAULT '',
  lifted_at  text,
  lifted_by  text,
  lifted_how text);
CREATE INDEX center_holds_open ON center_holds (center_id) WHERE lifted_at IS NULL;
CREATE TABLE change_notices (
  id          bigserial PRIMARY KEY,
  file_sha256 text NOT NULL,
  own_trace   text NOT NULL,
  file_name   text NOT NULL,
  center_id   integer,
  code        text NOT NULL,
  field       text NOT NULL,
  old_value   text NOT NULL DEFAULT '',
  new_value   text NOT NULL DEFAULT '',
  notice_date text NOT NULL,
  refused     text NOT NULL DEFAULT '',
  applied_at  text,
  applied_by  text,
  UNIQUE (file_sha256, own_trace, field));
)sql";

// Version 8, as on SQLite: the changes to a center's sweep rows that leave their Totals alone.
constexpr const char* kVersion8 = R"sql(
CREATE TABLE sweep_shown (
  center_id integer PRIMARY KEY,
  changes   bigint NOT NULL);
CREATE FUNCTION sweep_members_shown() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO sweep_shown (center_id, changes)
    SELECT DISTINCT ch.center_id, 1 FROM before o JOIN after n ON n.id = o.id JOIN charges ch ON ch.member_id = n.id
    WHERE ch.state = 0 AND (o.name IS DISTINCT FROM n.name OR o.contract_signed IS DISTINCT FROM n.contract_signed
      OR o.member_type IS DISTINCT FROM n.member_type OR o.down_payment IS DISTINCT FROM n.down_payment)
  ON CONFLICT (center_id) DO UPDATE SET changes = sweep_shown.changes + 1;
  RETURN NULL;
END $$;
CREATE TRIGGER sweep_members_shown AFTER UPDATE ON members
  REFERENCING OLD TABLE AS before NEW TABLE AS after FOR EACH STATEMENT EXECUTE FUNCTION sweep_members_shown();
)sql";

// Version 9, as on SQLite: an item keeps its charge's center, member, source and sequence.
constexpr const char* kVersion9 = R"sql(
ALTER TABLE batch_items
  ADD COLUMN center_id integer,
  ADD COLUMN member_id integer,
  ADD COLUMN source integer,
  ADD COLUMN sweep_sequence integer;
UPDATE batch_items bi SET center_id = ch.center_id, member_id = ch.member_id, source = ch.source,
  sweep_sequence = ch.sweep_sequence FROM charges ch WHERE ch.id = bi.charge_id;
ALTER TABLE batch_items
  ALTER COLUMN center_id SET NOT NULL,
  ALTER COLUMN member_id SET NOT NULL,
  ALTER COLUMN source SET NOT NULL,
  ALTER COLUMN sweep_sequence SET NOT NULL;
CREATE INDEX batch_items_listed ON batch_items (batch_no, center_id, member_id, source, sweep_sequence)
  WHERE outcome IS NULL OR return_code IS NOT NULL;
)sql";

// Version 10, as on SQLite: the batch list's change counter, moved in the transaction of every
// statement that writes the items, their batches or the centers. It is set to the writing
// transaction's own id, which no other transaction has, rather than counted up: a transaction's
// later statements then find it set already and write nothing, where an export's or an
// import's statement per center would otherwise update the one row hundreds of times in one
// transaction, each time walking the versions it left behind.
constexpr const char* kVersion10 = R"sql(
CREATE TABLE list_clock (
  id    integer PRIMARY KEY CHECK (id = 1),
  value bigint NOT NULL);
INSERT INTO list_clock (id, value) VALUES (1, 0);
CREATE FUNCTION batch_list_changed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE list_clock SET value = txid_current() WHERE id = 1 AND value <> txid_current();
  RETURN NULL;
END $$;
CREATE TRIGGER batch_list_items AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON batch_items
  FOR EACH STATEMENT EXECUTE FUNCTION batch_list_changed();
CREATE TRIGGER batch_list_batches AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON batches
  FOR EACH STATEMENT EXECUTE FUNCTION batch_list_changed();
CREATE TRIGGER batch_list_centers AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON centers
  FOR EACH STATEMENT EXECUTE FUNCTION batch_list_changed();
)sql";

}  // namespace

int postgresSchemaVersion(Database& db) {
    Statement exists = db.prepare("SELECT to_regclass('schema_version') IS NOT NULL");
    exists.step();
    if (exists.integer(0) == 0) return 0;
    Statement s = db.prepare("SELECT COALESCE(MAX(version), 0) FROM schema_version");
    s.step();
    return static_cast<int>(s.integer(0));
}

int upgradePostgresSchema(Database& db) {
    int first = postgresSchemaVersion(db);
    if (first == kSchemaVersion) return first;
    // One step a transaction, each under the writer lock, so instances starting together
    // migrate once.
    for (bool firstStep = true;; firstStep = false) {
        Transaction t(db, Transaction::Mode::Write);
        const int found = postgresSchemaVersion(db);
        // What this connection migrates from: another one may have begun first.
        if (firstStep) first = found;
        if (found > kSchemaVersion)
            throw StoreError("the database has schema version " + std::to_string(found) +
                             ", newer than this program's " + std::to_string(kSchemaVersion) +
                             "; run the eft-server that wrote it, or a newer one");
        if (found == kSchemaVersion) return first;
        int to = found + 1;
        if (found < kFirstVersion) {
            db.exec(kSchema);
            // Version 5 changed nothing here: it widened SQLite's sweep index to carry the
            // charge's columns, and an index entry on PostgreSQL has a size limit that a long
            // text could pass.
            to = 5;
        } else if (to == 6) {
            db.exec(kVersion6);
        } else if (to == 7) {
            db.exec(kVersion7);
        } else if (to == 8) {
            db.exec(kVersion8);
        } else if (to == 9) {
            db.exec(kVersion9);
        } else if (to == 10) {
            db.exec(kVersion10);
        }
        Statement version = db.prepare("INSERT INTO schema_version (version) VALUES (?1)");
        version.bind(1, to).run();
        t.commit();
    }
}

}  // namespace eft::server
