#include "database.h"

#include <sqlite3.h>

#include <limits>
#include <utility>

namespace eft::server {
namespace {

constexpr int kBusyTimeoutMs = 10000;

[[noreturn]] void raise(sqlite3* db, int code, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw StoreError(message);
}

}  // namespace

Statement::Statement(Database& db, std::string_view sql) : db_(db.handle()) {
    if (sql.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw StoreError("statement too long");
    const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                      &stmt_, nullptr);
    if (rc != SQLITE_OK) raise(db_, rc, "prepare");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = std::exchange(other.db_, nullptr);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

void Statement::fail(int code) const { raise(db_, code, "statement"); }

Statement& Statement::reuse() {
    // The code sqlite3_reset returns repeats the last step's failure, already reported there.
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(stmt_, index, value); rc != SQLITE_OK) fail(rc);
    return *this;
}

Statement& Statement::bind(int index, double value) {
    if (const int rc = sqlite3_bind_double(stmt_, index, value); rc != SQLITE_OK) fail(rc);
    return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
    const int rc = sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) fail(rc);
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (const int rc = sqlite3_bind_null(stmt_, index); rc != SQLITE_OK) fail(rc);
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(rc);
}

void Statement::run() {
    while (step()) {
    }
}

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::real(int column) const { return sqlite3_column_double(stmt_, column); }

std::string_view Statement::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (p == nullptr) return {};
    return {p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
}

Database::Database(const std::filesystem::path& file) {
    const int rc = sqlite3_open_v2(file.string().c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = "cannot open database " + file.string() + ": " +
                              (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    try {
        // FULL: a commit is on disk before it returns, so an export's files are never published
        // for a batch that a power cut could still take back; the same holds for saves and
        // status commits.
        exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; PRAGMA cache_size=-65536;");
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::exec(const char* sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error != nullptr ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw StoreError(message);
    }
}

std::int64_t Database::changes() const { return sqlite3_changes64(db_); }

std::int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

Transaction::Transaction(Database& db, Mode mode) : db_(db) {
    db_.exec(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED");
}

Transaction::~Transaction() {
    if (!open_) return;
    try {
        db_.exec("ROLLBACK");
    } catch (const StoreError&) {
        // SQLite may have rolled back on its own after the failure that brought us here.
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

}  // namespace eft::server
