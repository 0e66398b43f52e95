#pragma once
// The export: one batch and one bank file per country with saved charges (NACHA for the
// United States, CPA-005 for Canada), made so that no file is ever visible without its
// committed batch, and no committed batch stays without its file.
//
// The order of the steps is what makes a crash at any point harmless:
//   1. in one write transaction, form the batches and keep each file's bytes in the database,
//      claimed by this process (file_claim.h);
//   2. write each file under an unpredictable temporary name (O_CREAT|O_EXCL|O_NOFOLLOW, so a
//      planted name or symlink is never followed or reused), fsync it, fsync the folder;
//   3. commit (synchronous=FULL);
//   4. publish: rename each temporary file to its final name without ever replacing a file
//      (renameat2 RENAME_NOREPLACE, or link and unlink), fsync the folder, record it published.
// A crash before 3 leaves only temporary files, removed at the next start; a crash after 3 is
// finished at the next start from the bytes the database holds.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"
#include "eftmemb/embedded_server.h"  // LogLevel
#include "server/bank/bank_calendar.h"
#include "server/bank/originator.h"

namespace eft::server {

class Store;

// A line for the log, with its level.
struct LogNote {
    LogLevel level = LogLevel::Info;
    std::string text;
};

// Where bank files go when no folder is given, for eft-server and eft-driver's embedded server
// alike: "<db name>-export" beside a SQLite file, "eft-export" in the working folder for
// PostgreSQL. Absolute.
std::filesystem::path defaultExportDir(const std::filesystem::path& db);

// Test hook: when the environment variable EFT_TEST_CRASH_AT names this point, the process
// kills itself with SIGKILL here, as a power cut would stop it.
void crashPoint(const char* point);

// The points an export passes, in order.
inline constexpr const char* kExportCrashPoints[] = {"temp-written", "folder-synced", "committed", "first-published",
                                                     "all-published"};

// Writes `text` to a new temporary file in `dir` for the final name `finalName` and makes it
// durable. Returns the temporary file's name (inside `dir`). Throws std::runtime_error.
std::string writeTempFile(const std::filesystem::path& dir, std::string_view finalName, std::string_view text);

// Renames `tempName` to `finalName` inside `dir` without replacing anything. A final file that
// already holds exactly `text` counts as published (a crash or a second server got there
// first) and the temporary file goes. Throws std::runtime_error otherwise.
void publishFile(const std::filesystem::path& dir, const std::string& tempName, const std::string& finalName,
                 std::string_view text);

void syncDirectory(const std::filesystem::path& dir);

// True for the names writeTempFile makes.
bool isTempName(std::string_view fileName);

// Runs the export and gives the report the control shows: per country the file, the batch,
// the entries and the debit and credit totals, and every center left saved with the reason.
// The caller serializes writers. Throws on a failure before the commit (nothing exported);
// a failure to publish after the commit is reported, and finished at the next start.
// Each batch settles on the first banking day of its country after `at`. The login, when there
// is one, is recorded with the batches. `batchesBefore` is the highest batch number read when
// the export was asked for, before it waited for any other: when an export asked for at the
// same moment made a batch meanwhile, this one makes none and names what that one made.
std::string runExport(Store& store, const std::filesystem::path& dir, const bank::Originator& originator,
                      const bank::BankCalendar& calendar, const Timestamp& at, std::int32_t personId,
                      std::int16_t personType, std::int32_t batchesBefore, std::string_view login = {});

// At start-up: removes stray temporary files, publishes every committed file that is not yet
// published and that nobody else has claimed (or whose claim is abandoned), and sets aside into
// superseded/ a copy that this folder holds of a file recorded as published into another: this
// server stopped after writing it out and before recording it, and another server published it
// meanwhile. Returns one line per file published, set aside or left as it was, with the reason:
// a warning for what a crash left, an error for what could not be mended.
std::vector<LogNote> finishExports(Store& store, const std::filesystem::path& dir, std::string_view at = {});

// The same without the temporary files, as each export begins: a file whose server died between
// its commit and its publishing is published by the next export of any server, not only at a
// start. The files left to another server are named only when `sayWhatIsLeft`.
std::vector<LogNote> publishAbandoned(Store& store, const std::filesystem::path& dir, std::string_view at,
                                      bool sayWhatIsLeft);

}  // namespace eft::server
