#pragma once
// The database's schema version (SQLite's user_version) and the ordered migrations that bring
// an older database up to it. Each migration runs in one transaction; before the first, a copy
// of a SQLite database is taken beside it, so an upgrade that goes wrong loses nothing (a
// PostgreSQL database is the administrator's to back up, with pg_dump).
#include <filesystem>

namespace eft::server {

class Database;

// The version this program writes.
inline constexpr int kSchemaVersion = 7;

// Brings the database at `file` (open as `db`; a PostgreSQL URI for one there) to kSchemaVersion. A database newer than this
// program is refused with StoreError, untouched. Returns the copy taken before migrating,
// empty when nothing was migrated or the database was new.
std::filesystem::path upgradeSchema(Database& db, const std::filesystem::path& file);

// The version the database says it has.
int schemaVersion(Database& db);

// The same on PostgreSQL, whose schema lives in schema_postgres.cpp.
void upgradePostgresSchema(Database& db);
int postgresSchemaVersion(Database& db);

}  // namespace eft::server
