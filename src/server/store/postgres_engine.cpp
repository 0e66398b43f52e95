// PostgreSQL behind Database, through libpq. Values travel as text both ways; a bound integer
// or real says its type, so PostgreSQL chooses the operators it would for a literal of it.
#include <libpq-fe.h>
#include <poll.h>

#include <charconv>
#include <optional>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "server/metrics/metrics.h"
#include "server/store/database_engines.h"

namespace eft::server {
namespace {

// Each failure of the engine is counted as it is thrown.
template <typename Error = StoreError>
Error engineFault(std::string message) {
    metrics::databaseError("postgresql");
    return Error(std::move(message));
}

// The type numbers of PostgreSQL's catalogue (pg_type.oid), fixed since its first releases.
constexpr Oid kInt8 = 20;
constexpr Oid kFloat8 = 701;

// Unless the URI says otherwise, a database host that stops answering (its packets dropped,
// not refused) holds a request seconds, not the many minutes TCP takes to give up: a connection
// is given up after 5 s; an open one after 10 s of a request unacknowledged, or of keepalive
// probes unanswered after 30 s of silence. A Unix socket needs none of it.
constexpr const char* kConnectionDefaults[][2] = {
    {"connect_timeout", "5"},   {"tcp_user_timeout", "10000"}, {"keepalives_idle", "30"},
    {"keepalives_interval", "5"}, {"keepalives_count", "2"},
};

// 64 random bits in hexadecimal.
std::string connectionNonce() {
    std::random_device random;
    const std::uint64_t n = (std::uint64_t{random()} << 32) ^ random();
    char text[17];
    const auto end = std::to_chars(text, text + 16, n, 16).ptr;
    return std::string(text, end);
}

std::string trimmed(const char* message) {
    std::string s = message != nullptr ? message : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

struct ResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// A failure is the database's absence rather than the statement's fault when the connection
// broke, or the server said it is going away or cannot take connections now (a shutdown, a
// crash of another backend, a start-up or recovery under way).
[[noreturn]] void fail(PGconn* conn, const PGresult* result, std::string message) {
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string_view code = state != nullptr ? state : "";
    if (PQstatus(conn) != CONNECTION_OK || code.starts_with("08") || code == "57P01" || code == "57P02" ||
        code == "57P03")
        throw engineFault<DatabaseUnreachable>(std::move(message));
    throw engineFault(std::move(message));
}

// A result that is not the success asked for throws with the server's message.
Result checked(PGconn* conn, PGresult* raw, std::string_view what) {
    Result r(raw);
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN) return r;
    // A connection closed on us keeps the reason (a pooler's refusal of a transaction, an
    // administrator's termination) in the connection's messages, not in the result's.
    const bool lost = !r || PQstatus(conn) != CONNECTION_OK;
    fail(conn, r.get(), std::string(what) + ": " + trimmed(lost ? PQerrorMessage(conn) : PQresultErrorMessage(r.get())));
}

// The URI's own parameters come last, so they override the defaults before them.
PGconn* openConnection(const std::string& uri) {
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : kConnectionDefaults) {
        keys.push_back(key);
        values.push_back(value);
    }
    keys.insert(keys.end(), {"dbname", nullptr});
    values.insert(values.end(), {uri.c_str(), nullptr});
    return PQconnectdbParams(keys.data(), values.data(), 1);
}

// The shortest text that reads back as the same double, as PostgreSQL writes its own.
std::string realText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// The shared statements number their parameters as SQLite does (?1); libpq wants $1. Quoted
// texts and names are left alone.
std::string postgresParameters(std::string_view sql, int& count) {
    std::string out;
    out.reserve(sql.size());
    char quote = 0;
    count = 0;
    for (std::size_t k = 0; k < sql.size(); ++k) {
        const char c = sql[k];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?') {
            std::size_t end = k + 1;
            while (end < sql.size() && sql[end] >= '0' && sql[end] <= '9') ++end;
            int n = count + 1;
            if (end > k + 1) std::from_chars(sql.data() + k + 1, sql.data() + end, n);
            count = std::max(count, n);
            out += '$';
            out += std::to_string(n);
            k = end - 1;
            continue;
        }
        out += c;
    }
    return out;
}

class PostgresConnection;

// A statement is parsed and planned by the server afresh each time until it runs a second time
// in one transaction (the store's own statements, reused in loops); from then on, until that
// transaction ends, it is a prepared statement of the connection. Nothing outlives the
// transaction that made it: behind a pooler that hands each transaction whichever server
// session is free (PgBouncer's transaction mode), the next transaction may run in another
// session, one that other clients use as well.
class PostgresStatement final : public detail::StatementEngine {
public:
    PostgresStatement(PostgresConnection& owner, std::string_view sql);
    ~PostgresStatement() override;
    PostgresStatement(const PostgresStatement&) = delete;
    PostgresStatement& operator=(const PostgresStatement&) = delete;

    void reset() override {
        if (streaming_) drain();
        result_.reset();
        row_ = -1;
        for (auto& v : values_) v.reset();
        std::fill(types_.begin(), types_.end(), Oid{0});
    }
    void bind(int index, std::int64_t value) override { set(index, std::to_string(value), kInt8); }
    void bind(int index, double value) override { set(index, realText(value), kFloat8); }
    void bind(int index, std::string_view value) override { set(index, std::string(value), 0); }
    void bindNull(int index) override {
        slot(index).reset();
        types_[static_cast<std::size_t>(index - 1)] = 0;
    }

    void streamRows() override { stream_ = true; }
    bool step() override;
    // Reads what is left of a streamed result, so the connection can take the next command.
    void drain();

    bool isNull(int column) const override { return PQgetisnull(result_.get(), row_, column) != 0; }
    std::int64_t integer(int column) const override {
        const char* p = PQgetvalue(result_.get(), row_, column);
        // Booleans come back as t and f; SQLite gives the same truths as 1 and 0.
        if (*p == 't') return 1;
        if (*p == 'f') return 0;
        // A sum of big integers is a numeric, written without a fraction.
        std::int64_t n = 0;
        std::from_chars(p, p + PQgetlength(result_.get(), row_, column), n);
        return n;
    }
    double real(int column) const override {
        const char* p = PQgetvalue(result_.get(), row_, column);
        return std::strtod(p, nullptr);
    }
    std::string_view text(int column) const override {
        return {PQgetvalue(result_.get(), row_, column),
                static_cast<std::size_t>(PQgetlength(result_.get(), row_, column))};
    }

private:
    std::optional<std::string>& slot(int index) {
        if (index < 1 || index > static_cast<int>(values_.size()))
            throw engineFault("statement: parameter " + std::to_string(index) + " out of range");
        return values_[static_cast<std::size_t>(index - 1)];
    }
    void set(int index, std::string value, Oid type) {
        slot(index) = std::move(value);
        types_[static_cast<std::size_t>(index - 1)] = type;
    }

    bool prepared() const;

    bool send(const std::vector<const char*>& values);

    PostgresConnection& owner_;
    std::string sql_;
    bool stream_ = false;
    bool streaming_ = false;  // sent, and rows may still come
    std::string name_;  // of the prepared statement; empty before
    std::uint64_t generation_ = 0;
    std::uint64_t transaction_ = 0;  // the one runs_ counts in, and the one name_ lives in
    int runs_ = 0;
    std::vector<std::optional<std::string>> values_;
    std::vector<Oid> types_;
    Result result_;
    int row_ = -1;
};

class PostgresConnection final : public detail::ConnectionEngine {
public:
    explicit PostgresConnection(const std::string& uri) : conn_(openConnection(uri)) {
        if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
            const std::string message = "cannot open database " + displayLocation(uri) + ": " +
                                        trimmed(conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory");
            PQfinish(conn_);
            throw engineFault<DatabaseUnreachable>(message);
        }
        quiet();
    }
    ~PostgresConnection() override { PQfinish(conn_); }
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    Engine engine() const override { return Engine::PostgreSQL; }

    void exec(const char* sql) override {
        settle();
        checked(conn_, PQexec(conn_, sql), "statement");
    }

    std::unique_ptr<detail::StatementEngine> prepare(std::string_view sql) override {
        return std::make_unique<PostgresStatement>(*this, sql);
    }

    std::int64_t changes() const override { return changes_; }

    void beginRead() override { begin("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
    void beginWrite() override {
        begin("BEGIN ISOLATION LEVEL READ COMMITTED");
        try {
            exec(("SELECT pg_advisory_xact_lock(" + std::to_string(kWriterLock) + ")").c_str());
        } catch (const StoreError&) {
            // No Transaction will roll back what its constructor did not finish.
            try {
                rollback();
            } catch (const StoreError&) {
                inTransaction_ = false;
            }
            throw;
        }
    }
    // The transaction's prepared statements go in the same round trip as its end, while the
    // session is still this client's: a failed transaction refuses DEALLOCATE until ROLLBACK.
    void commit() override {
        inTransaction_ = false;
        exec(std::exchange(prepared_, false) ? "DEALLOCATE ALL; COMMIT" : "COMMIT");
    }
    void rollback() override {
        inTransaction_ = false;
        exec(std::exchange(prepared_, false) ? "ROLLBACK; DEALLOCATE ALL" : "ROLLBACK");
    }

    // A connection the server dropped (a restart, a fail-over) is opened again before the next
    // transaction or statement outside one, rather than failing every request after it. Never
    // inside a transaction: what followed would run outside it, and outside the writer lock.
    void reconnectIfLost() {
        if (inTransaction_ || (PQstatus(conn_) == CONNECTION_OK && !closedByServer())) return;
        PQreset(conn_);
        ++generation_;
        if (PQstatus(conn_) != CONNECTION_OK)
            throw engineFault<DatabaseUnreachable>("database connection lost: " + trimmed(PQerrorMessage(conn_)));
        quiet();
    }

    void load(std::string_view table, const std::vector<std::string>& columns, std::size_t count,
              const RowSource& next, Statistics statistics) override {
        std::string sql = "COPY " + std::string(table) + " (";
        for (std::size_t k = 0; k < columns.size(); ++k) sql += (k > 0 ? ", " : "") + columns[k];
        sql += ") FROM STDIN";
        checked(conn_, PQexec(conn_, sql.c_str()), "copy");
        std::string chunk;
        const auto flush = [this, &chunk] {
            if (PQputCopyData(conn_, chunk.data(), static_cast<int>(chunk.size())) != 1)
                fail(conn_, nullptr, "copy: " + trimmed(PQerrorMessage(conn_)));
            chunk.clear();
        };
        for (std::size_t i = 0; i < count; ++i) {
            const Row& row = next(i);
            for (std::size_t k = 0; k < row.size(); ++k) {
                if (k > 0) chunk += '\t';
                std::visit(
                    [&chunk](const auto& v) {
                        using T = std::decay_t<decltype(v)>;
                        if constexpr (std::is_same_v<T, std::nullptr_t>) chunk += "\\N";
                        else if constexpr (std::is_same_v<T, std::string>) appendCopyText(chunk, v);
                        else if constexpr (std::is_same_v<T, double>) chunk += realText(v);
                        else chunk += std::to_string(v);
                    },
                    row[k]);
            }
            chunk += '\n';
            if (chunk.size() >= 64 * 1024) flush();
        }
        if (!chunk.empty()) flush();
        if (PQputCopyEnd(conn_, nullptr) != 1) fail(conn_, nullptr, "copy: " + trimmed(PQerrorMessage(conn_)));
        checked(conn_, PQgetResult(conn_), "copy");
        while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
        // Fresh statistics for the planner, which otherwise plans the next requests over the
        // table as it was before the load (an empty one, after a first import) until
        // autovacuum gets to it.
        if (statistics == Statistics::Refresh) exec(("ANALYZE " + std::string(table)).c_str());
    }

    PGconn* handle() const { return conn_; }
    // The statement whose rows are still coming, if any: read to its end before anything else.
    void streaming(PostgresStatement* statement) { streaming_ = statement; }
    void settle();
    void setChanges(std::int64_t n) { changes_ = n; }
    // Each opening of the connection (reconnectIfLost) begins a generation: the prepared
    // statements of an earlier one are gone with it.
    std::uint64_t generation() const { return generation_; }
    // The transaction under way, 0 outside one; each has a number of its own.
    std::uint64_t transaction() const { return inTransaction_ ? transaction_ : 0; }
    // A name no other connection uses, so that a statement left behind in a pooled session by
    // a client that went mid-transaction can never be taken for one of ours.
    std::string nextStatementName() {
        prepared_ = true;
        return "eft_" + nonce_ + "_" + std::to_string(++statements_);
    }

private:
    static void appendCopyText(std::string& out, std::string_view value) {
        for (const char c : value) {
            switch (c) {
                case '\\': out += "\\\\"; break;
                case '\t': out += "\\t"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                default: out += c;
            }
        }
    }

    // A connection that waited in the pool while the server restarted still looks open: libpq
    // learns it was closed only by reading. An idle connection is seldom sent anything but the
    // server's parting message and the end of the stream, so one with something to read is read
    // now, and found closed or not.
    bool closedByServer() {
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE) return false;
        pollfd ready{PQsocket(conn_), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0) return false;
        // The message first, then the end of the stream behind it.
        for (int k = 0; k < 2 && PQstatus(conn_) == CONNECTION_OK; ++k)
            if (PQconsumeInput(conn_) == 0) break;
        return PQstatus(conn_) != CONNECTION_OK;
    }

    void begin(const char* sql) {
        reconnectIfLost();
        ++transaction_;
        try {
            exec(sql);
        } catch (const DatabaseUnreachable&) {
            // Closed while idle and found out only now: nothing has run, so once more on a
            // connection opened again, which throws in turn while the database is away.
            reconnectIfLost();
            exec(sql);
        }
        inTransaction_ = true;
    }

    // CREATE ... IF NOT EXISTS over what exists says so as a notice; the log has no use for it.
    void quiet() {
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    }

    PGconn* conn_;
    std::int64_t changes_ = 0;
    bool inTransaction_ = false;
    PostgresStatement* streaming_ = nullptr;
    std::uint64_t generation_ = 1;
    std::uint64_t transaction_ = 0;
    std::uint64_t statements_ = 0;
    bool prepared_ = false;  // in the transaction under way
    std::string nonce_ = connectionNonce();
};

PostgresStatement::PostgresStatement(PostgresConnection& owner, std::string_view sql) : owner_(owner) {
    int count = 0;
    sql_ = postgresParameters(sql, count);
    values_.resize(static_cast<std::size_t>(count));
    types_.resize(static_cast<std::size_t>(count), 0);
}

void PostgresConnection::settle() {
    if (streaming_ != nullptr) streaming_->drain();
}

void PostgresStatement::drain() {
    while (PGresult* rest = PQgetResult(owner_.handle())) PQclear(rest);
    streaming_ = false;
    owner_.streaming(nullptr);
}

bool PostgresStatement::send(const std::vector<const char*>& values) {
    PGconn* conn = owner_.handle();
    const int count = static_cast<int>(values.size());
    const int sent = prepared() ? PQsendQueryPrepared(conn, name_.c_str(), count, values.data(), nullptr, nullptr, 0)
                                : PQsendQueryParams(conn, sql_.c_str(), count, types_.data(), values.data(), nullptr,
                                                    nullptr, 0);
    return sent == 1 && PQsetSingleRowMode(conn) == 1;
}

PostgresStatement::~PostgresStatement() {
    if (streaming_) drain();
    PGconn* conn = owner_.handle();
    // A failed transaction refuses even this; the name then lasts as long as the connection.
    if (prepared() && PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) != PQTRANS_INERROR)
        PQclear(PQexec(conn, ("DEALLOCATE " + name_).c_str()));
}

bool PostgresStatement::prepared() const {
    return !name_.empty() && generation_ == owner_.generation() && transaction_ == owner_.transaction() &&
           transaction_ != 0;
}

bool PostgresStatement::step() {
    if (streaming_) {
        result_ = Result(PQgetResult(owner_.handle()));
        const ExecStatusType status = result_ ? PQresultStatus(result_.get()) : PGRES_FATAL_ERROR;
        row_ = 0;
        if (status == PGRES_SINGLE_TUPLE) return true;
        const std::string message = result_ ? trimmed(PQresultErrorMessage(result_.get())) : "";
        drain();
        if (status != PGRES_TUPLES_OK) fail(owner_.handle(), result_.get(), "statement: " + message);
        return false;  // the empty result that ends the rows stays, so a step after the last is false
    }
    if (!result_) {
        owner_.settle();
        owner_.reconnectIfLost();
        PGconn* conn = owner_.handle();
        const int count = static_cast<int>(values_.size());
        std::vector<const char*> values(values_.size());
        for (std::size_t k = 0; k < values_.size(); ++k) values[k] = values_[k] ? values_[k]->c_str() : nullptr;
        if (transaction_ != owner_.transaction()) {
            transaction_ = owner_.transaction();
            runs_ = 0;
            name_.clear();
        }
        if (++runs_ == 2 && transaction_ != 0) {
            std::string name = owner_.nextStatementName();
            checked(conn, PQprepare(conn, name.c_str(), sql_.c_str(), count, types_.data()), "prepare");
            name_ = std::move(name);
            generation_ = owner_.generation();
        }
        if (stream_) {
            if (!send(values)) {
                const std::string message = trimmed(PQerrorMessage(conn));
                drain();
                fail(conn, nullptr, "statement: " + message);
            }
            streaming_ = true;
            owner_.streaming(this);
            return step();
        }
        // Without parameters a statement goes as one simple query, which the server takes in
        // one message rather than the five of a parse, bind and execute: the batch list asks
        // for its counter so on every request.
        result_ = checked(conn,
                          prepared()   ? PQexecPrepared(conn, name_.c_str(), count, values.data(), nullptr, nullptr, 0)
                          : count == 0 ? PQexec(conn, sql_.c_str())
                                       : PQexecParams(conn, sql_.c_str(), count, types_.data(), values.data(), nullptr,
                                                      nullptr, 0),
                          "statement");
        const char* changed = PQcmdTuples(result_.get());
        owner_.setChanges(*changed != 0 ? std::strtoll(changed, nullptr, 10) : 0);
        row_ = -1;
    }
    return ++row_ < PQntuples(result_.get());
}

}  // namespace

std::unique_ptr<detail::ConnectionEngine> openPostgres(const std::string& uri) {
    return std::make_unique<PostgresConnection>(uri);
}

}  // namespace eft::server
