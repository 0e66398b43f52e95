#pragma once
// The database's schema version (SQLite's user_version) and the ordered migrations that bring
// an older database up to it. Each migration runs in one transaction; before the first, a copy
// of the database is taken beside it, so an upgrade that goes wrong loses nothing.
#include <filesystem>

namespace eft::server {

class Database;

// The version this program writes.
inline constexpr int kSchemaVersion = 3;

// Brings the database at `file` (open as `db`) to kSchemaVersion. A database newer than this
// program is refused with StoreError, untouched. Returns the copy taken before migrating,
// empty when nothing was migrated or the database was new.
std::filesystem::path upgradeSchema(Database& db, const std::filesystem::path& file);

// The version the database says it has.
int schemaVersion(Database& db);

}  // namespace eft::server
