#pragma once
// The franchisor's own data into the database: centers with their bank accounts, members and
// charges, from CSV files with a header row (docs/administrator.md lists every column). One
// import is one transaction: any bad line refuses all of it. Importing the same files twice
// changes nothing; a charge that has left the sweep (saved, exported, cleared) is never changed
// by an import.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace eft::server {

class Store;

enum class ImportTable { Centers, Members, Charges };
inline constexpr std::array<const char*, 3> kImportTableNames{"centers", "members", "charges"};

struct ImportCounts {
    std::int64_t added = 0;
    std::int64_t changed = 0;
    std::int64_t unchanged = 0;
    std::int64_t skipped = 0;  // charges out of the sweep, left as they are
    std::int64_t refused = 0;  // lines with a fault
};

struct ImportReport {
    std::array<ImportCounts, 3> tables{};  // by ImportTable
    // "file:line: column: reason", the first kMaxImportLines of them.
    std::vector<std::string> faults;
    std::int64_t faultCount = 0;
    // "file:line: charge ...: left as it is, already saved" and the like, as many as faults.
    std::vector<std::string> skips;
    bool written = false;  // committed: no fault and not a dry run
};

inline constexpr std::size_t kMaxImportLines = 100;

// Reads the files (each a table, told by its header), centers first, then members, then
// charges, into one write transaction, committed unless a line has a fault or `dryRun`.
// Throws StoreError when the database fails.
ImportReport importCsv(Store& store, const std::vector<std::filesystem::path>& files, bool dryRun);

// What the import did, per table, then the faults or skips it names.
std::string importReportText(const ImportReport& report, bool dryRun);

}  // namespace eft::server
