// SQLite behind Database: one connection in WAL mode, statements prepared once and reused.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <type_traits>

#include "server/metrics/metrics.h"
#include "server/store/database_engines.h"

namespace eft::server {
namespace {

// Each failure of the engine is counted as it is thrown.
template <typename Error = StoreError>
Error engineFault(std::string message) {
    metrics::databaseError("sqlite");
    return Error(std::move(message));
}

constexpr int kBusyTimeoutMs = 10000;

// Why a file that SQLite cannot open is out of reach, when its folder is at fault: SQLite says
// only "unable to open database file".
std::string folderFault(const std::string& file) {
    if (std::filesystem::exists(file)) return {};
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(file, ec).parent_path();
    if (ec) return {};
    if (!std::filesystem::is_directory(folder, ec))
        return " (the folder " + folder.string() + " does not exist)";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return " (this user cannot create files in the folder " + folder.string() + ")";
    return {};
}

[[noreturn]] void raise(sqlite3* db, int code, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw engineFault(message);
}

class SqliteStatement final : public detail::StatementEngine {
public:
    SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
        if (sql.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw engineFault("statement too long");
        const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                          &stmt_, nullptr);
        if (rc != SQLITE_OK) raise(db_, rc, "prepare");
    }
    ~SqliteStatement() override { sqlite3_finalize(stmt_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void reset() override {
        // The code sqlite3_reset returns repeats the last step's failure, already reported there.
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    // For a statement whose every parameter is bound again before its next step.
    void rewind() { sqlite3_reset(stmt_); }
    void bind(int index, std::int64_t value) override { check(sqlite3_bind_int64(stmt_, index, value)); }
    void bind(int index, double value) override { check(sqlite3_bind_double(stmt_, index, value)); }
    void bind(int index, std::string_view value) override {
        check(sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    }
    // The text must stay as it is until the statement is reset.
    void bindKept(int index, std::string_view value) {
        check(sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8));
    }
    void bindNull(int index) override { check(sqlite3_bind_null(stmt_, index)); }
    void streamRows() override {}  // SQLite steps through the rows as it finds them anyway

    bool step() override {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        raise(db_, rc, "statement");
    }

    bool isNull(int column) const override { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::int64_t integer(int column) const override { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const override { return sqlite3_column_double(stmt_, column); }
    std::string_view text(int column) const override {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        if (p == nullptr) return {};
        return {p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
    }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK) raise(db_, rc, "statement");
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteConnection final : public detail::ConnectionEngine {
public:
    explicit SqliteConnection(const std::string& file) : file_(file) {
        const int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
        if (rc != SQLITE_OK) {
            std::string message = "cannot open database " + file + ": " +
                                  (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)) + folderFault(file);
            sqlite3_close(db_);
            throw engineFault<DatabaseUnreachable>(message);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    }

    void setUp() override {
        try {
            // FULL: a commit is on disk before it returns, so an export's files are never
            // published for a batch that a power cut could still take back; the same holds for
            // saves and status commits.
            exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; PRAGMA cache_size=-65536;");
        } catch (const StoreError& e) {
            throw engineFault<DatabaseUnreachable>("cannot open database " + file_ + ": " + e.what() + folderFault(file_));
        }
        // Reads through a map of the file: a write by any other connection empties this
        // one's page cache, and the sweep's next walk would then copy its tens of megabytes
        // in again a page per system call. Writes still go through write(), so no stray
        // pointer can reach the file.
        exec("PRAGMA mmap_size=1073741824;");
    }
    ~SqliteConnection() override { sqlite3_close_v2(db_); }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    Engine engine() const override { return Engine::SQLite; }

    void exec(const char* sql) override {
        char* error = nullptr;
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
        if (rc != SQLITE_OK) {
            std::string message = error != nullptr ? error : sqlite3_errstr(rc);
            sqlite3_free(error);
            throw engineFault(message);
        }
    }

    std::unique_ptr<detail::StatementEngine> prepare(std::string_view sql) override {
        return std::make_unique<SqliteStatement>(db_, sql);
    }

    std::int64_t changes() const override { return sqlite3_changes64(db_); }

    void beginRead() override { exec("BEGIN DEFERRED"); }
    void beginWrite() override { exec("BEGIN IMMEDIATE"); }
    void commit() override { exec("COMMIT"); }
    void rollback() override { exec("ROLLBACK"); }

    void load(std::string_view table, const std::vector<std::string>& columns, std::size_t count,
              const RowSource& next, Statistics) override {
        // Several rows to a statement: each run of an INSERT has a cost of its own (a CHECK's IN
        // list, for one, builds a table for every run), which a row at a time pays per row.
        // OR FAIL: a statement that may stop halfway with ABORT has SQLite copy every page it
        // changes that was there before it began (the right edge of the table and of each
        // index) to the statement journal, to undo it; once that journal spilled to a
        // temporary file it stays one, and a million charges wrote 1.4 GB to it. A load is
        // all or nothing only with its transaction anyway (its rows go in many statements),
        // and a failed load fails the caller's transaction on either engine. Not into a table
        // with a trigger on INSERT: the outer statement's OR would override the trigger's own
        // (its INSERT OR REPLACE of a counter would fail on the counter's row).
        constexpr std::size_t kRowsPerInsert = 16;
        const char* insert = hasInsertTrigger(table) ? "INSERT INTO " : "INSERT OR FAIL INTO ";
        const auto insertOf = [&](std::size_t rows) {
            std::string sql = insert + std::string(table) + " (";
            for (std::size_t k = 0; k < columns.size(); ++k) sql += (k > 0 ? ", " : "") + columns[k];
            sql += ") VALUES ";
            for (std::size_t r = 0; r < rows; ++r) {
                sql += r > 0 ? ", (" : "(";
                for (std::size_t k = 0; k < columns.size(); ++k) sql += k > 0 ? ", ?" : "?";
                sql += ")";
            }
            return std::make_unique<SqliteStatement>(db_, sql);
        };
        std::unique_ptr<SqliteStatement> full, rest;
        // Each statement's rows are copied here (into strings that keep their capacity), so
        // their texts are bound where they lie rather than copied once more by SQLite.
        std::vector<Row> kept(std::min(kRowsPerInsert, count));
        for (std::size_t i = 0; i < count;) {
            const std::size_t rows = std::min(kRowsPerInsert, count - i);
            auto& insert = rows == kRowsPerInsert ? full : rest;
            if (!insert) insert = insertOf(rows);
            insert->rewind();
            int index = 0;
            for (std::size_t r = 0; r < rows; ++r, ++i) {
                kept[r] = next(i);
                for (const Value& value : kept[r]) {
                    ++index;
                    std::visit(
                        [&insert, index](const auto& v) {
                            using T = std::decay_t<decltype(v)>;
                            if constexpr (std::is_same_v<T, std::nullptr_t>) insert->bindNull(index);
                            else if constexpr (std::is_same_v<T, std::string>) insert->bindKept(index, v);
                            else insert->bind(index, v);
                        },
                        value);
                }
            }
            insert->step();
        }
    }

private:
    // Whether a trigger fires on an INSERT into the table (our schema writes "... INSERT ON
    // table"); an INSERT fires no UPDATE or DELETE trigger.
    bool hasInsertTrigger(std::string_view table) {
        SqliteStatement s(db_,
                          "SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 "
                          "AND sql LIKE '% INSERT ON %') OR EXISTS (SELECT 1 FROM sqlite_temp_master "
                          "WHERE type = 'trigger' AND tbl_name = ?1 AND sql LIKE '% INSERT ON %')");
        s.bind(1, table);
        return s.step() && s.integer(0) != 0;
    }

    std::string file_;
    sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<detail::ConnectionEngine> openSqlite(const std::string& file) {
    return std::make_unique<SqliteConnection>(file);
}

}  // namespace eft::server
