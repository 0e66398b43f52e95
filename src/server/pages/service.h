#pragma once
// The two pages' work, free of HTTP: the sweep rows of a country, saving a selection, the
// batch list, the export and the status of a batch. Safe to call from many threads at once:
// each call borrows a connection of its own, and every change runs alone in one write
// transaction, which holds the database's one writer lock from its start (database.h: SQLite's
// own, an advisory lock on PostgreSQL), so a check made inside it (is the charge still in the
// sweep?) holds until commit, whichever server on the database the other writers run in.
// Every rule below rests on that lock, on both engines: one lock rather than row locks or
// SERIALIZABLE retries, since each rule reads what the others write (a save's Totals, the
// charges an export takes, the failed charges a status returns to the sweep).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/pages.h"
#include "server/bank/bank_calendar.h"
#include "server/bank/originator.h"
#include "server/export/delivery.h"
#include "server/pages/piece_sink.h"
#include "server/pages/save_record.h"
#include "server/pages/status_form.h"
#include "server/pages/sweep_cache.h"
#include "server/returns/settler.h"
#include "server/store/clock.h"

namespace eft::server {

class Store;

// The database file on disk is no longer the one the server opened (deleted, moved or
// replaced): a change would go where nobody will look, so none is made.
class DatabaseGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};


struct ServiceOptions {
    std::filesystem::path dbPath;     // a SQLite file, or a PostgreSQL connection URI
    std::filesystem::path exportDir;  // empty: defaultExportDir(dbPath) (export_file.h)
    Clock clock;                      // empty: localNow
    std::filesystem::path originatorFile{};  // empty: the demo originator, for a demo database only
    DeliveryOptions delivery{};               // no command: files are not delivered
    // Takes each fact worth logging that no request asked for (start-up, deliveries), one line
    // with its level.
    std::function<void(LogLevel level, std::string_view line)> note{};
    std::filesystem::path holidaysFile{};    // empty: the clearing systems' holidays alone
    // The batches whose return window has passed settle at the start and then once this often,
    // with this many days' margin past the window for the returns file to arrive; zero: they
    // settle only when asked (`eft-server returns`).
    std::chrono::milliseconds settleEvery{std::chrono::hours(1)};
    int returnMarginDays = 1;
    // The most bytes of written sweep rows kept to serve again (sweep_cache.h); zero: none.
    std::size_t sweepCacheBytes = SweepCache::defaultCap();
};

// What a save says about the sweep its rows were chosen from: who sends it (the login, or the
// client's address without credentials) and the stamp of the sweep load it was chosen from,
// when the sender names one.
struct SweepClaim {
    std::string operatorKey;
    std::optional<std::int64_t> stamp;
};

// The header that carries a sweep load's stamp: on the sweep's reply, and back on a save.
inline constexpr std::string_view kSweepStampHeader = pages::kSweepStampHeader;

class Service {
public:
    // Opens (and creates when missing) the database and its tables, reads the originator file,
    // and finishes publishing any export a crash interrupted. Throws StoreError, or
    // std::runtime_error for a bad originator file.
    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    const std::filesystem::path& exportDir() const { return exportDir_; }

    // Fills an empty database with the demo sweep; false, changing nothing, when it has data.
    bool seedDemo();

    // Starts an operator's load of a country's sweep: its stamp, a value of the sweep's change
    // counter that no other load has, taken before the rows are read. The server remembers the
    // operator's latest loads per country.
    std::int64_t startSweepLoad(const std::string& operatorKey, int country);

    // The XML document of the country's charges still in the sweep (1 or 2).
    std::string sweepXml(int country);
    // The same bytes handed on while the rows are read, in pieces of about pieceBytes; false
    // when the sink gave up part-way. Rows kept from an earlier GET go to `lend`, when given,
    // several centers at a time, rather than copied into a piece.
    bool writeSweep(int country, const PieceSink& sink, std::size_t pieceBytes = 64 * 1024, const LentSink& lend = {});
    // The XML document of every exported item still waiting for its status, and of the items
    // the bank returned in the batches still waiting, each with its return's code, meaning (in
    // French when Accept-Language prefers it) and date.
    std::string batchListXml(std::string_view acceptLanguage = {});

    // The reply texts of the two posts: empty when done, otherwise one line saying why
    // nothing was changed. A malformed body throws RequestError naming the fault. These and
    // the export throw DatabaseGone, changing nothing, once the file is not the one open, and
    // DatabaseUnreachable while the database does not answer; every call that borrows a
    // connection throws the same.
    std::string save(std::string_view body);
    std::string commitStatus(std::string_view body);
    // The same for bodies decoded while they arrived.
    // A save from an operator's sweep load: the claimed stamp, or else the operator's latest
    // load of the country. It is refused whole when a center it touches had its sweep rows
    // changed after that load by anything but this load's own earlier saves (which the control
    // takes off its own rows). With no load known it is taken as it comes. `login` is the
    // authenticated user, recorded beside the person id; empty without one.
    std::string save(const std::vector<SaveRecord>& records, const SweepClaim& claim, std::string_view login = {});
    std::string save(const std::vector<SaveRecord>& records, std::string_view login = {}) {
        return save(records, SweepClaim{}, login);
    }
    std::string commitStatus(const StatusForm& form, std::string_view login = {});
    // The most pairs a status body can need: each waiting item named once (or a few thousand,
    // whichever is more), and the operator, the type and the batch.
    std::size_t statusPairCap();

    // Whether the database answers a read and is still the file at its path.
    bool healthy();
    // One line for each delivery in doubt (delivery.h), by batch; none when the database does
    // not answer.
    std::vector<std::string> deliveriesInDoubt();
    // The return rates past the network's thresholds over the last sixty days, one a line;
    // empty when none, or when the database does not answer.
    std::vector<std::string> returnRateWarnings();

    // Told of each export that wrote files, and of each that failed: whether it failed, and the
    // report's text.
    void onExport(std::function<void(bool failed, std::string_view report)> note) { exportNote_ = std::move(note); }

    // The export report as an XML document whose text the control shows.
    std::string exportBatches(std::int32_t personId, std::int16_t personType, std::string_view login = {});

    // Settles, in one write transaction, every batch whose return window has passed by the
    // service's clock: its returned centers stay failed, the rest are cleared. Each batch is
    // logged. The batches settled; another server that settled them first leaves none.
    std::vector<std::int32_t> settleDue();

    // The originator the exports use: its company name, or that it is the demo one.
    std::string originatorText() const;

private:
    // A connection borrowed for one call and handed back when the lease ends.
    class Lease {
    public:
        Lease(Service& owner, std::unique_ptr<Store> store);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Store* operator->() const { return store_.get(); }
        Store& operator*() const { return *store_; }

    private:
        Service& owner_;
        std::unique_ptr<Store> store_;
    };

    Lease borrow();
    void requireSameFile() const;

    std::filesystem::path dbPath_;
    std::filesystem::path exportDir_;
    Clock clock_;
    bank::Originator originator_;
    bool demoOriginator_;
    std::function<void(LogLevel, std::string_view)> note_;
    bank::BankCalendar calendar_;
    std::uint64_t device_ = 0, inode_ = 0;  // the file opened
    std::function<void(bool, std::string_view)> exportNote_;
    // One sweep load of an operator: its stamp, and the counter's value after each of the
    // load's own saves, by center.
    struct SweepView {
        std::int64_t stamp = 0;
        std::map<std::int32_t, std::int64_t> ownSaves;
    };
    SweepView* viewFor(const SweepClaim& claim, int country);
    // By operator and country, the latest few loads, oldest first; guarded by writeMutex_.
    std::map<std::pair<std::string, int>, std::vector<SweepView>> views_;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Store>> idle_;
    // Changes are made one at a time; the writer lock would serialize them anyway, but waiting
    // here costs no busy-timeout polling nor a database connection.
    std::mutex writeMutex_;
    int returnMarginDays_;
    SweepCache sweepCache_;
    // The batch list as last written, in English and in French, with the value of the list's
    // change counter read before its rows (store.h: listClock): served again while the counter
    // still reads that value, through whichever server or command the writes come.
    struct KeptList {
        std::int64_t clock = 0;
        std::shared_ptr<const std::string> text;
    };
    std::mutex listMutex_;
    KeptList keptLists_[2];
    // The counter's value for a list asked for now. Lists asked for while a read of it is under
    // way share the next read, which begins after they asked and so sees every change committed
    // before: on PostgreSQL a read is a round trip that costs the database more than serving
    // the kept list costs the server. Only the reader borrows a connection, so lists served
    // from what was kept open none.
    std::int64_t listClock();
    std::mutex clockMutex_;
    std::condition_variable clockRead_;
    std::uint64_t clockReadsBegun_ = 0;
    std::uint64_t clockReadDone_ = 0;  // the latest read to end, by its number
    std::int64_t clockValue_ = 0;      // what it read
    bool clockReading_ = false;
    std::unique_ptr<Deliverer> deliverer_;  // stopped before the rest goes
    std::unique_ptr<returns::Settler> settler_;  // last: stopped first
};

}  // namespace eft::server
