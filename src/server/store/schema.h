#pragma once
// The database's schema version (SQLite's user_version) and the ordered migrations that bring
// an older database up to it. Each migration runs in one transaction; before the first, a copy
// of a SQLite database is taken beside it, so an upgrade that goes wrong loses nothing (a
// PostgreSQL database is the administrator's to back up, with pg_dump).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace eft::server {

class Database;

// The version this program writes.
inline constexpr int kSchemaVersion = 10;

// What opening an older database did: the version it had, the version it has now, and on
// SQLite the copy taken first.
struct SchemaUpgrade {
    int from = 0;
    int to = 0;
    std::filesystem::path copy;
};

// Refuses with StoreError a database newer than this program, before anything is written to it
// (Database's `first`): it stays byte for byte as it was.
void refuseNewerSchema(Database& db, const std::filesystem::path& file);
// Throws StoreError naming both versions when the database holds data of an older schema than
// this program's; an empty database is not refused.
void refuseOlderSchema(Database& db, const std::filesystem::path& file);

// Brings the database at `file` (open as `db`; a PostgreSQL URI for one there) to kSchemaVersion. A database newer than this
// program is refused as refuseNewerSchema does. Nothing when nothing was migrated or the
// database was new.
std::optional<SchemaUpgrade> upgradeSchema(Database& db, const std::filesystem::path& file);

// The upgrade as the log and the commands tell it, the location shown without a password.
std::string upgradeText(const SchemaUpgrade& upgrade, std::string_view location);

// The version the database says it has.
int schemaVersion(Database& db);

// The same on PostgreSQL, whose schema lives in schema_postgres.cpp; the version found first.
int upgradePostgresSchema(Database& db);
int postgresSchemaVersion(Database& db);

}  // namespace eft::server
