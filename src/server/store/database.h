#pragma once
// A thin RAII layer over one database connection, SQLite or PostgreSQL: the connection, its
// statements and its transactions. Every statement binds its parameters; no SQL is ever built
// from values. Every failure throws StoreError with the engine's own message.
//
// The SQL the store shares between the engines is written once, in SQLite's spelling of
// parameters (?1, ?2 ...), which the PostgreSQL connection reads as $1, $2 ...; what cannot be
// shared (the schema and its triggers, bulk loading) lives once per engine, in its own file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace eft::server {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database does not answer: PostgreSQL is down, restarting or refusing connections, the
// connection to it broke, or a SQLite file cannot be opened. A passing state, unlike a failed
// statement: what was not committed is rolled back, and the same request may be made again
// once it answers.
class DatabaseUnreachable : public StoreError {
public:
    using StoreError::StoreError;
};

enum class Engine { SQLite, PostgreSQL };

// A libpq connection URI ("postgresql://..." or "postgres://...") names a PostgreSQL database;
// anything else is the path of a SQLite file.
bool isPostgresUri(std::string_view location);

// The location as it may be shown: a URI without its password.
std::string displayLocation(std::string_view location);

// One value of a row loaded in bulk.
using Value = std::variant<std::nullptr_t, std::int64_t, double, std::string>;
using Row = std::vector<Value>;

// The i-th row of a load; the reference need only hold until the next call, so one Row may be
// filled again for each and a million rows never stand in memory at once.
using RowSource = std::function<const Row&(std::size_t)>;

// Whether a load takes the table's statistics afresh for PostgreSQL's planner (SQLite keeps none).
enum class Statistics { Refresh, Keep };

namespace detail {

// What each engine provides; database.cpp hands out the one the location asks for.
class StatementEngine {
public:
    virtual ~StatementEngine() = default;
    virtual void reset() = 0;
    virtual void bind(int index, std::int64_t value) = 0;
    virtual void bind(int index, double value) = 0;
    virtual void bind(int index, std::string_view value) = 0;
    virtual void bindNull(int index) = 0;
    virtual void streamRows() = 0;
    virtual bool step() = 0;
    virtual bool isNull(int column) const = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual double real(int column) const = 0;
    virtual std::string_view text(int column) const = 0;
};

class ConnectionEngine {
public:
    virtual ~ConnectionEngine() = default;
    virtual Engine engine() const = 0;
    // The connection's settings, made once whatever Database's `first` wanted has been read.
    virtual void setUp() {}
    virtual void exec(const char* sql) = 0;
    virtual std::unique_ptr<StatementEngine> prepare(std::string_view sql) = 0;
    virtual std::int64_t changes() const = 0;
    virtual void beginRead() = 0;
    virtual void beginWrite() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // `count` rows into a table in one go, the i-th as `row(i)` hands it over; SQLite inserts
    // them one by one, PostgreSQL uses COPY.
    virtual void load(std::string_view table, const std::vector<std::string>& columns, std::size_t count,
                      const RowSource& row, Statistics statistics) = 0;
};

}  // namespace detail

class Database;

// One prepared statement; movable, not copyable. Parameters and columns are numbered from 1
// and 0 respectively, as SQLite numbers them.
class Statement {
public:
    Statement() = default;
    Statement(Database& db, std::string_view sql);

    // Resets the statement and clears its bindings, ready for the next use in a loop.
    Statement& reuse() {
        impl_->reset();
        return *this;
    }

    Statement& bind(int index, std::int64_t value) {
        impl_->bind(index, value);
        return *this;
    }
    Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    Statement& bind(int index, double value) {
        impl_->bind(index, value);
        return *this;
    }
    Statement& bind(int index, std::string_view value) {
        impl_->bind(index, value);
        return *this;
    }
    Statement& bindNull(int index) {
        impl_->bindNull(index);
        return *this;
    }

    // Rows are handed over as the database sends them, not all at once after the last: SQLite
    // always does; on PostgreSQL (single-row mode) a statement that reads tens of thousands of
    // rows then holds one at a time rather than all in memory. Running another statement on the
    // connection before the last row ends the reading.
    Statement& streamRows() {
        impl_->streamRows();
        return *this;
    }

    // Advances; true while a row is available.
    bool step() { return impl_->step(); }
    // Runs a statement that yields no rows.
    void run() {
        while (step()) {
        }
    }

    bool isNull(int column) const { return impl_->isNull(column); }
    std::int64_t integer(int column) const { return impl_->integer(column); }
    double real(int column) const { return impl_->real(column); }
    // The text stays valid until the next step or reset.
    std::string_view text(int column) const { return impl_->text(column); }

private:
    std::unique_ptr<detail::StatementEngine> impl_;
};

// One connection. A SQLite file is opened in WAL mode with a busy timeout, so that a second
// writer waits its turn instead of failing at once; a PostgreSQL URI is handed to libpq as it
// is (sslmode and the rest included), with timeouts for a host that stops answering unless it
// names its own (postgres_engine.cpp). A SQLite file
// that cannot be opened is refused naming the folder at fault, when its folder is missing or
// cannot be written.
class Database {
public:
    // `first`, when given, runs on the connection before anything is written: before a SQLite
    // file is switched to WAL, so a database it refuses (by throwing) stays byte for byte as it
    // was.
    explicit Database(const std::string& location, const std::function<void(Database&)>& first = {});
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    Engine engine() const { return impl_->engine(); }
    // Runs one or more statements without parameters (schema, transaction control).
    void exec(const char* sql) { impl_->exec(sql); }
    Statement prepare(std::string_view sql) { return Statement(*this, sql); }
    // The rows the last INSERT, UPDATE or DELETE changed.
    std::int64_t changes() const { return impl_->changes(); }
    // Rows into `table`, within the caller's transaction: on SQLite one prepared INSERT after
    // another, on PostgreSQL one COPY, many times faster over a network.
    void load(std::string_view table, const std::vector<std::string>& columns, const std::vector<Row>& rows,
              Statistics statistics = Statistics::Refresh) {
        impl_->load(table, columns, rows.size(), [&rows](std::size_t i) -> const Row& { return rows[i]; }, statistics);
    }
    void load(std::string_view table, const std::vector<std::string>& columns, std::size_t count, const RowSource& row,
              Statistics statistics = Statistics::Refresh) {
        impl_->load(table, columns, count, row, statistics);
    }
    detail::ConnectionEngine& connection() { return *impl_; }

private:
    std::unique_ptr<detail::ConnectionEngine> impl_;
};

// A write transaction holds the database's one writer lock from its start, so a check made
// inside stays true until commit, whichever server process or host the other writers run in:
// on SQLite BEGIN IMMEDIATE; on PostgreSQL a transaction-scoped advisory lock (kWriterLock),
// taken first thing in a READ COMMITTED transaction, so every statement after it sees every
// change committed before. A read transaction is a consistent snapshot (BEGIN DEFERRED;
// REPEATABLE READ, READ ONLY). Rolls back unless committed.
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

// The key of the PostgreSQL advisory lock every writer holds: "EFTW" in ASCII, unlikely to
// meet another application's key on a shared database.
inline constexpr std::int64_t kWriterLock = 0x45465457;

}  // namespace eft::server
