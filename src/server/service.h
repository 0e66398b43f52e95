#pragma once
// The two pages' work, free of HTTP: the sweep rows of a country, saving a selection, the
// batch list, the export and the status of a batch. Safe to call from many threads at once:
// each call borrows a connection of its own, and every change runs alone in one IMMEDIATE
// transaction, so a check made inside it (is the charge still in the sweep?) holds until
// commit. Two servers on one database file are kept apart by SQLite's own lock.
#include <cstdint>
#include <functional>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bank/originator.h"
#include "clock.h"
#include "save_record.h"
#include "status_form.h"

namespace eft::server {

class Store;

// The database file on disk is no longer the one the server opened (deleted, moved or
// replaced): a change would go where nobody will look, so none is made.
class DatabaseGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServiceOptions {
    std::filesystem::path dbPath;
    std::filesystem::path exportDir;  // empty: "<db name>-export" beside the database
    Clock clock;                      // empty: localNow
    std::filesystem::path originatorFile{};  // empty: the demo originator
};

// Takes the sweep document in pieces of about the size asked for; false when the reader is
// gone, which ends the writing.
using PieceSink = std::function<bool(std::string_view piece)>;

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

    // The XML document of the country's charges still in the sweep (1 or 2).
    std::string sweepXml(int country);
    // The same bytes handed on while the rows are read, in pieces of about pieceBytes; false
    // when the sink gave up part-way.
    bool writeSweep(int country, const PieceSink& sink, std::size_t pieceBytes = 64 * 1024);
    // The XML document of every exported item still waiting for its status.
    std::string batchListXml();

    // The reply texts of the two posts: empty when done, otherwise one line saying why
    // nothing was changed. A malformed body throws RequestError naming the fault. These and
    // the export throw DatabaseGone, changing nothing, once the file is not the one open.
    std::string save(std::string_view body);
    std::string commitStatus(std::string_view body);
    // The same for bodies decoded while they arrived.
    std::string save(const std::vector<SaveRecord>& records);
    std::string commitStatus(const StatusForm& form);
    // The most pairs a status body can need: each waiting item named once (or a few thousand,
    // whichever is more), and the operator, the type and the batch.
    std::size_t statusPairCap();

    // Whether the database answers a read and is still the file at its path.
    bool healthy();

    // Told of each export that wrote files: the report's text.
    void onExport(std::function<void(std::string_view report)> note) { exportNote_ = std::move(note); }

    // The export report as an XML document whose text the control shows.
    std::string exportBatches(std::int32_t personId, std::int16_t personType);

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
    std::uint64_t device_ = 0, inode_ = 0;  // the file opened
    std::function<void(std::string_view)> exportNote_;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Store>> idle_;
    // Changes are made one at a time; SQLite would serialize them anyway, but waiting here
    // costs no busy-timeout polling.
    std::mutex writeMutex_;
};

}  // namespace eft::server
