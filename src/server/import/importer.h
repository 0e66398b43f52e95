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

#include "server/output/records.h"

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

// A line of a file the import names. What came from a file is shown escaped, as the log
// shows it, and a long value cut short with its size, so a hostile field can neither drive the
// terminal nor flood it.
struct ImportNote {
    std::string file;
    std::int64_t line = 0;  // 0: the whole file
    std::string column;     // a column, "row" or "header"; empty for a skip
    std::string reason;
    // "file:line: column: reason"
    std::string text() const;
};

struct ImportReport {
    std::array<ImportCounts, 3> tables{};  // by ImportTable
    std::vector<ImportNote> faults;        // the first kMaxImportLines
    std::int64_t faultCount = 0;
    // "the charge of ...: already saved; left as it is" and the like, as many as faults.
    std::vector<ImportNote> skips;
    bool written = false;  // committed: no fault and not a dry run
};

inline constexpr std::size_t kMaxImportLines = 100;
// The most of one value a note shows.
inline constexpr std::size_t kMaxShownValueBytes = 64;

// Reads the files (each a table, told by its header), centers first, then members, then
// charges, into one write transaction, committed unless a line has a fault or `dryRun`.
// Throws StoreError when the database fails.
ImportReport importCsv(Store& store, const std::vector<std::filesystem::path>& files, bool dryRun);

// What the import did, per table, then the faults or skips it names.
std::string importReportText(const ImportReport& report, bool dryRun);

// The same as records: "import" (dry_run, written, faults: the whole count), "tables" (the
// counts of each), "faults" and "skips" (file, line, column, reason).
std::vector<output::Records> importRecords(const ImportReport& report, bool dryRun);

}  // namespace eft::server
