#pragma once
// A thin RAII layer over one SQLite connection: the connection, its prepared statements and
// its transactions. Every statement binds its parameters; no SQL is ever built from values.
// Every failure throws StoreError with SQLite's own message.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace eft::server {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Database;

// One prepared statement. Owns its sqlite3_stmt; movable, not copyable. Parameters and
// columns are numbered from 1 and 0 respectively, as SQLite numbers them.
class Statement {
public:
    Statement() = default;
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Resets the statement and clears its bindings, ready for the next use in a loop.
    Statement& reuse();

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view value);
    Statement& bindNull(int index);

    // Advances; true while a row is available.
    bool step();
    // Runs a statement that yields no rows.
    void run();

    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    // The text stays valid until the next step or reset.
    std::string_view text(int column) const;

private:
    [[noreturn]] void fail(int code) const;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

// One connection, opened in WAL mode with a busy timeout so that a second writer waits its
// turn instead of failing at once.
class Database {
public:
    explicit Database(const std::filesystem::path& file);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs one or more statements without parameters (schema, pragmas, transaction control).
    void exec(const char* sql);
    Statement prepare(std::string_view sql) { return Statement(*this, sql); }
    std::int64_t changes() const;
    std::int64_t lastInsertId() const;
    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE (a write lock from the start, so a check made inside stays true until
// commit) or BEGIN DEFERRED (a consistent read). Rolls back unless committed.
class Transaction {
public:
    enum class Mode { Read, Write };
    Transaction(Database& db, Mode mode);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Database& db_;
    bool open_ = true;
};

}  // namespace eft::server
