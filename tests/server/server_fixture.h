#pragma once
// A small hand-made sweep in a temporary database, and ways to look inside it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/http/access_log.h"
#include "server/pages/service.h"
#include "server/store/store.h"

namespace eft::server::testing {

// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "eft-server-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Waits within `limit` for `done`.
template <class Done>
bool waitUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The notes a service makes, each after its level ("error delivery: ..."), as they come.
class Notes {
public:
    std::function<void(LogLevel, std::string_view)> sink() {
        return [this](LogLevel level, std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(std::string(levelName(level)) + " " + std::string(line));
        };
    }
    bool waitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        return waitUntil([&] { return all().find(text) != std::string::npos; }, limit);
    }
    std::string all() {
        std::lock_guard lock(mutex_);
        std::string out;
        for (const std::string& l : lines_) out += l + "\n";
        return out;
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline Timestamp fixedNow() { return Timestamp::from(Date{2011, 3, 5}, 10, 20, 30); }

// Keys of the fixture's charges.
inline constexpr ChargeKey kDues1001{1001, 12, 1, 1};       // US, type 1
inline constexpr ChargeKey kDues1001Second{1001, 12, 1, 2};  // US, type 1
inline constexpr ChargeKey kNmc1002{1002, 15, 2, 2};        // US, type 2, trust
inline constexpr ChargeKey kDues1003{1003, 15, 1, 1};       // US, type 1
inline constexpr ChargeKey kDues2001{2001, 34, 1, 1};       // Canada, type 1, subscription
inline constexpr ChargeKey kNmc2002{2002, 34, 2, 1};        // Canada, type 2
inline constexpr ChargeKey kDues2002{2002, 34, 1, 1};       // Canada, type 3, exempt

// Centers 12 and 15 (United States) and 34 (Canada).
inline void fillFixture(Store& store) {
    Transaction t(store.db(), Transaction::Mode::Write);
    store.markDemo();  // fictitious accounts, exported with the demo originator
    store.insertCenter({12, "Austin North", 1});
    store.insertCenter({15, "Boise & Sons <West>", 1});
    store.insertCenter({34, "Montr\u00e9al Plateau", 2});
    store.setCenterAccount(12, {"011000015", "", "", "12345678", bank::AccountType::Checking});
    store.setCenterAccount(15, {"021000021", "", "", "987654321", bank::AccountType::Savings});
    store.setCenterAccount(34, {"", "003", "00011", "7654321", bank::AccountType::Checking});
    store.insertMember({1001, "Mary Smith", 12, 1, false, false, true, "2009-05-03T00:00:00"});
    store.insertMember({1002, "John O'Brien", 15, 2, false, false, false, ""});
    store.insertMember({1003, "Linda Clark", 15, 1, false, false, false, "2010-01-02T00:00:00"});
    store.insertMember({2001, "H\u00e9l\u00e8ne Tremblay", 34, 1, true, false, false, "2008-02-01T00:00:00"});
    store.insertMember({2002, "Luc Roy", 34, 3, false, true, false, "2008-02-01T00:00:00"});
    const std::string sweep = "2011-03-01T06:00:00";
    store.insertCharge({kDues1001, "Membership dues", sweep, 1, {1, 25, 10, 5, 40, 8, 0, 0, 0}, 0});
    store.insertCharge({kDues1001Second, "Membership dues", sweep, 1, {1, 30, 0, 0, 0, 0, 0, 0, 0}, 0});
    store.insertCharge({kNmc1002, "NMC payment", sweep, 2, {1, 0, 0, 0, 0, 0, 0, 0, 150}, 57});
    store.insertCharge({kDues1003, "Membership dues", sweep, 1, {1, 20, 0, 0, 0, 0, 0, 0, 0}, 0});
    store.insertCharge({kDues2001, "Membership dues", sweep, 1, {1.3f, 100, 0, 0, 0, 0, 6.5f, 10.4f, 0}, 0});
    store.insertCharge({kNmc2002, "NMC payment", sweep, 2, {1.3f, 0, 0, 0, 0, 0, 0, 0, 200}, 0});
    store.insertCharge({kDues2002, "Membership dues", sweep, 3, {1.3f, 50, 0, 5, 0, 0, 2.25f, 3.6f, 0}, 0});
    t.commit();
}

// Both engines, for INSTANTIATE_TEST_SUITE_P; the engine's name ends each case's name, so the
// PostgreSQL half is picked by "*/PostgreSQL" (ctest -L pg).
inline const auto kEngines = ::testing::Values(Engine::SQLite, Engine::PostgreSQL);
std::string engineName(const ::testing::TestParamInfo<Engine>& info);

// A new, empty database on the engine for one test: a file in `dir`, or a database of its own
// in the PostgreSQL cluster (the one EFT_TEST_PG names, else one this process starts). Empty,
// with `why` set, when PostgreSQL is not installed; throws when it is and fails.
std::string freshDatabase(Engine engine, const std::filesystem::path& dir, std::string& why);

// A fresh, empty database of the case's engine in `db`, with `dir` for its file and folders.
// A derived SetUp() calls this one first and stops when the case was skipped.
class OnEngine : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        std::string why;
        db = freshDatabase(GetParam(), dir.path(), why);
        if (db.empty()) GTEST_SKIP() << why;
    }

    TempDir dir;
    std::string db;
};

// The fixture's sweep in a fresh database of the case's engine, and a service over it.
class ServerFixture : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override { open(dir.path()); }

    // Starts over on a fresh database filled with the fixture's sweep, with its file (SQLite)
    // and its export folder in `folder`, and a service over it.
    void open(const std::filesystem::path& folder) {
        service.reset();
        inspect.reset();
        folder_ = folder;
        std::filesystem::create_directories(folder_);
        std::string why;
        location_ = freshDatabase(GetParam(), folder_, why);
        if (location_.empty()) GTEST_SKIP() << why;
        inspect = std::make_unique<Store>(location_);
        fillFixture(*inspect);
        service = std::make_unique<Service>(ServiceOptions{dbPath(), exportDir(), fixedNow});
    }

    // The database's location: a SQLite file, or a PostgreSQL URI.
    std::filesystem::path dbPath() const { return location_; }
    std::filesystem::path exportDir() const { return folder_ / "export"; }

    // The state of a charge; -1 when there is no such charge.
    int stateOf(const ChargeKey& k) {
        Statement s = inspect->db().prepare(
            "SELECT state FROM charges WHERE member_id = ?1 AND center_id = ?2 AND source = ?3 AND sweep_sequence = ?4");
        s.bind(1, k.memberId).bind(2, k.centerId).bind(3, int{k.source}).bind(4, int{k.sweepSequence});
        return s.step() ? static_cast<int>(s.integer(0)) : -1;
    }

    std::int64_t count(const char* sql) {
        Statement s = inspect->db().prepare(sql);
        s.step();
        return s.integer(0);
    }

    // The save body of these charges exactly as the control would post it.
    std::string bodyFor(std::initializer_list<ChargeKey> keys, std::int32_t personId = 7, std::int16_t personType = 2);

    // The writes a server did not make itself, as they reach the database: a statement by hand,
    // `eft-server import` of one CSV file, and `eft-server returns` of an R01 for what the first
    // export sent center 12.
    void sql(const std::string& statement);
    void import(const std::string& name, const std::string& text);
    void returnCenter12();

    TempDir dir;
    std::unique_ptr<Store> inspect;
    std::unique_ptr<Service> service;

private:
    std::filesystem::path folder_;
    std::string location_;
};

}  // namespace eft::server::testing
