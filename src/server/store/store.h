#pragma once
// The server's data and every SQL statement that touches it, on one connection.
//
// centers      id, name, country (1 United States, 2 Canada)
// members      id, name, center, member type, subscription, tax exempt, down payment,
//              contract signed
// charges      one member charge of the sweep: its key (member, center, source, sweep
//              sequence), its stored amounts, and its state: in the sweep, saved (with the
//              posted converted amounts, the batch amount and who saved it when), exported
//              (waiting for its status) or cleared. A failed charge goes back to the sweep.
// batches      one exported batch per country and export: number, time, originator, file
// batch_items  the charges of a batch with their key, amount and recorded outcome
// center_accounts  a center's bank account: routing number (United States) or institution
//              and transit (Canada), account number and type
// batch_files  the bank file of a batch, byte for byte, its totals, whether it has been
//              published into an export folder and into which (host and folder), and who is
//              publishing or delivering it now (file_claim.h); a crash between commit and
//              publishing is finished from here at the next start
// originator_files  the last CPA-005 file creation number used per originator id
// settings     named values: "demo" (1 for a demo database, whose export may use the demo
//              originator) and "batch_floor" (the highest batch number known to be used)
// deliveries   each attempt to deliver a batch file: when it started and by which server, then
//              its exit status, the first lines of stderr and when that was recorded; an
//              attempt with no outcome is resolved by the administrator (who, when, and how)
//
// applied_returns  each return of a bank's answer file as applied (or listed for review), keyed
//              by the file's SHA-256 and the return's own trace, so a file applied again changes
//              nothing; a returned item keeps its code, meaning, return date and file, and a
//              clearing it reverses
// center_holds  a center's account blocked or debits stopped (until a new authorization), and
//              who lifted it when
// change_notices  corrections a bank proposed for a center's account, and who applied them
//
// Saves, exports and status commits record the authenticated login, when there is one,
// beside the person id and type the control sends.
// sweep_clock  the sweep's change counter; center_changes  the counter's value at the last
//              change of each center's sweep rows (both kept by triggers, on both engines)
// list_clock   the batch list's change counter: a new value at every change of the items, their
//              batches or the centers (kept by triggers, on both engines)
//
// Methods that change data expect the caller to hold a write transaction.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/calendar.h"
#include "server/bank/payment.h"
#include "server/store/charge.h"
#include "server/store/database.h"
#include "server/store/key_table.h"
#include "server/store/schema.h"

namespace eft::server {

enum class ChargeState : int { InSweep = 0, Saved = 14, Exported = 20, Cleared = 30 };

struct CenterRow {
    std::int32_t id = 0;
    std::string name;
    int country = 1;
};

struct MemberRow {
    std::int32_t id = 0;
    std::string name;
    std::int32_t centerId = 0;
    std::int16_t memberType = 1;
    bool subscription = false;
    bool salesTaxExempt = false;
    bool downPayment = false;
    std::string contractSigned;  // ISO timestamp; empty for none
};

struct ChargeRow {
    ChargeKey key;
    std::string sourceDescription;
    std::string sweepDate;  // ISO timestamp
    std::int16_t type = 1;
    Amounts amounts;
    std::int32_t trustId = 0;
};

// One sweep row as read; the texts are valid only during the callback.
struct SweepRowView {
    ChargeKey key;
    std::string_view memberName;
    std::string_view centerName;
    std::string_view contractSigned;  // empty for none
    std::string_view sourceDescription;
    std::string_view sweepDate;
    std::int16_t type = 0;
    Amounts amounts;
    bool salesTaxExempt = false;
    bool subscription = false;
    bool downPayment = false;
    std::int16_t memberType = 0;
    std::int32_t trustId = 0;
};

// A center of a country's sweep, with what says whether its rows changed: the sweep counter's
// value at their last change and the count of changes that leave their Totals alone. Rows read
// in the same read transaction are the rows of exactly these values.
struct SweepCenter {
    std::int32_t id = 0;
    std::string name;
    std::int64_t changedAt = 0;
    std::int64_t shownChanges = 0;
};

struct BatchItemView {
    std::int32_t batchNo = 0;
    std::int32_t centerId = 0;
    std::string_view centerName;
    std::int32_t memberId = 0;
    std::string_view exportedAt;
    std::int16_t source = 0;
    float amount = 0;
    std::int16_t country = 0;  // the batch's: 1 United States, 2 Canada
    // A returned item's; empty while it waits for its status.
    std::string_view returnCode;
    std::string_view returnDate;
};

// Why a save record's charge could not be saved.
enum class SaveRefusal { None, Unknown, AlreadySaved, Exported, Cleared, TooLarge, CenterFull };

struct SaveFailure {
    std::size_t index = 0;  // of the record refused
    SaveRefusal refusal = SaveRefusal::None;
    std::int64_t centerCents = 0;  // CenterFull: the center's saved amount the save would make
};

// A center's saved charges, ready to form a batch.
struct SavedCenter {
    std::int32_t centerId = 0;
    std::string name;
    std::int64_t items = 0;
    std::int64_t cents = 0;  // the sum of the items' Totals: above 0 due in
    // Of it, the charges presented again after a return that may be retried, at the Totals they
    // were first presented at.
    std::int64_t retryCents = 0;
    std::optional<bank::BankAccount> account;
};

// The saved charges of one member at one center, for a member saved at several centers.
struct SavedMemberAtCenter {
    std::int32_t memberId = 0;
    std::int32_t centerId = 0;
    std::string firstSavedAt;  // ISO timestamp of the earliest
    std::int64_t items = 0;
    std::int64_t cents = 0;
};

// A batch of the latest export, with its file when it has one.
struct ExportedBatch {
    std::int32_t batchNo = 0;
    int country = 1;
    std::string exportedAt;
    std::optional<std::string> fileName;
    bank::FileSummary summary;
};

struct BatchFileRow {
    std::int32_t batchNo = 0;
    std::string name;
    std::string content;
    bank::FileSummary summary;
    bool published = false;
};

// Who is publishing or delivering a file, until when (seconds since the epoch).
struct FileClaim {
    std::string by;
    std::int64_t until = 0;
};

// A published file to deliver: not delivered, and no attempt of it without an outcome.
struct PendingDelivery {
    std::int32_t batchNo = 0;
    std::string name;
    std::string content;
};

// One attempt to deliver a file. It is recorded before the command runs and its outcome after;
// an attempt without an outcome is under way, or in doubt (its server stopped, or could not
// record the outcome) until the administrator resolves it.
struct DeliveryAttempt {
    std::int32_t batchNo = 0;
    std::int64_t attempt = 0;
    std::string startedAt;
    std::string startedBy;                   // the server process (file_claim.h); empty before version 6
    std::optional<std::int64_t> exitStatus;  // nothing: no outcome recorded
    std::string stderrHead;
    std::string endedAt;     // when the outcome was recorded; empty before version 6
    std::string resolution;  // of an attempt without an outcome: "delivered" or "redeliver"; empty
    std::string resolvedAt;
    std::string resolvedBy;  // the user who ran `eft-server files`
    std::string resolvedAs;  // the name given with --by; empty for none
};

inline constexpr std::string_view kResolvedDelivered = "delivered";
inline constexpr std::string_view kResolvedRedeliver = "redeliver";

// An attempt with neither an outcome nor a resolution, with its file's name and claim.
struct OpenDelivery {
    DeliveryAttempt attempt;
    std::string name;
    std::optional<FileClaim> claim;
};

// A bank file as `eft-server files` lists it. A batch exported before files were kept in the
// database (schema version 1) lists the name it recorded, when it was exported, and the entries
// and totals its items make; its bytes, publishing and deliveries are not known.
struct FileListing {
    std::int32_t batchNo = 0;
    std::string name;
    int country = 1;
    bank::FileSummary summary;
    bool kept = true;        // false: a batch from before files were kept; no content
    std::string exportedAt;  // of a batch not kept
    std::string content;
    bool published = false;
    std::string publishedAt;  // empty when not recorded
    std::optional<FileClaim> claim;
    std::vector<DeliveryAttempt> deliveries;  // oldest first
};

// A bank file as sent, for reading its entries back.
struct SentFile {
    std::int32_t batchNo = 0;
    int country = 1;
    std::string exportedAt;  // ISO timestamp
    std::string content;
};

// What a batch exported before its files were kept sent one center: its items' net.
struct UnkeptEntry {
    std::int32_t batchNo = 0;
    int country = 1;
    std::string exportedAt;  // ISO timestamp
    std::int32_t centerId = 0;
    std::int64_t cents = 0;  // positive: due in (a debit); negative: due out (a credit)
};

// One return of a bank's answer as recorded.
struct ReturnRecord {
    std::string fileSha256;
    std::string ownTrace;
    std::string fileName;
    std::string appliedAt;
    std::string appliedBy;
    std::string code;
    std::string outcome;  // "matched", "late", ...
    std::int32_t batchNo = 0;   // 0: none found
    std::int32_t centerId = 0;  // 0: none
    std::int64_t cents = 0;
    std::string returnDate;
    std::string detail;
};

// What a return does to a center's item in its batch.
struct ItemReturn {
    std::int32_t batchNo = 0;
    std::int32_t centerId = 0;
    std::string code;
    std::string meaning;
    std::string returnDate;
    std::string fileName;
    std::string at;  // when applied
    // The charges go back to the sweep to be presented again at the Total they were first
    // presented at (a retry), counting the retry; otherwise they go back as a failed status
    // commit sends them.
    bool retry = false;
};

enum class HoldKind { Account, Authorization };

struct CenterHold {
    std::int64_t id = 0;
    std::int32_t centerId = 0;
    HoldKind kind = HoldKind::Account;
    std::string code;
    std::string reason;
    std::string since;
    std::string fileName;
    std::string liftedAt;  // empty while it holds
    std::string liftedBy;
    std::string liftedHow;
};

// A returned item as the status page and the settlement see it.
struct ReturnedItem {
    std::int32_t batchNo = 0;
    std::int32_t centerId = 0;
    std::string code;
    std::string meaning;
    std::string returnDate;
};

// A charge's retries and first presentment, for the network's limit.
struct RetryCount {
    std::int32_t centerId = 0;
    std::int64_t retries = 0;        // the most of the center's charges in the item
    std::string firstPresented;      // ISO timestamp, the earliest
};

// A correction a bank proposed for one field of a center, from a notification of change.
struct ChangeNoticeRow {
    std::int64_t id = 0;
    std::string fileSha256;
    std::string ownTrace;
    std::string fileName;
    std::int32_t centerId = 0;  // 0: the notice names no center this server knows
    std::string code;
    std::string field;  // returns/corrections.h; "-" for a notice whose data was refused
    std::string oldValue;
    std::string newValue;
    std::string date;
    std::string refused;  // why the data was not read, or the notice cannot be applied
    std::string appliedAt;
    std::string appliedBy;
};

class Store {
public:
    // What opening does with a database of an older schema: bring it up to date, or refuse it,
    // naming both versions (a dry run writes nothing, an upgrade included).
    enum class Older { Upgrade, Refuse };
    explicit Store(const std::filesystem::path& file, Older older = Older::Upgrade);
    Database& db() { return db_; }

    // Brings the schema up to this program's version (schema.h).
    void createSchema();
    // What opening this connection upgraded, if it did: the log and the commands say so.
    const std::optional<SchemaUpgrade>& upgraded() const { return upgraded_; }
    bool isEmpty();

    // The sweep's change counter: every change of a center's sweep rows advances it and
    // records the new value for the center (triggers do, whoever writes).
    std::int64_t sweepClock();
    // Advances the counter with no change, so that a sweep load has a value of its own.
    std::int64_t advanceSweepClock();
    // The counter's value at the last change of each center's sweep rows, in the order given;
    // 0 for none.
    std::vector<std::int64_t> centersChangedAt(const std::vector<std::int32_t>& centers);
    std::optional<int> centerCountry(std::int32_t centerId);

    void insertCenter(const CenterRow& c);
    void insertMember(const MemberRow& m);
    // Throws StoreError naming the charge when an amount or its row's IN or OUT total is not
    // kept to the cent (text::holdsEveryCent); the member must be in already.
    void insertCharge(const ChargeRow& c);
    // The same for many at once (database.h: Database::load); the members' centers and the
    // charges' members must be in already.
    void insertMembers(const std::vector<MemberRow>& members);
    void insertCharges(const std::vector<ChargeRow>& charges);

private:
    // Each member's (tax_exempt, subscription), read at once for a large load.
    using MemberFlags = IdTable<std::pair<bool, bool>>;

public:
    // A large load of new charges in parts, within the caller's transaction: the same checks
    // and the same end as insertCharges, for an import that keeps a part of them at a time
    // rather than a million. The charges' members must be in before it begins. On SQLite a
    // load not finished leaves none of its charges.
    class ChargeLoad {
    public:
        explicit ChargeLoad(Store& store);
        ~ChargeLoad();
        ChargeLoad(const ChargeLoad&) = delete;
        ChargeLoad& operator=(const ChargeLoad&) = delete;
        // The first `count` of `charges`.
        void add(const std::vector<ChargeRow>& charges, std::size_t count);
        // Marks the sweep of every center added to as changed.
        void finish();

    private:
        Store& store_;
        MemberFlags flags_;
        std::string trigger_;  // SQLite's per-row trigger, set aside while the load lasts
        std::vector<std::int32_t> centers_;
        bool open_ = false;  // SQLite's savepoint
    };

    // For the length of one import: made before its transaction, since neither setting can
    // change inside one, and undone after it. On SQLite the import's own statements skip the
    // foreign-key checks (the importer checks every reference it writes against what its
    // transaction sees), and a database with nothing in it yet takes a rollback journal
    // instead of WAL, so that its pages are written once rather than to the log and again
    // into the file; the journal keeps the import all or nothing just the same. While it
    // lasts, another connection cannot open the file. Nothing changes on PostgreSQL.
    class ImportSettings {
    public:
        explicit ImportSettings(Store& store, bool writes);
        ~ImportSettings();
        ImportSettings(const ImportSettings&) = delete;
        ImportSettings& operator=(const ImportSettings&) = delete;

    private:
        Database* db_ = nullptr;  // null on PostgreSQL
        bool rollbackJournal_ = false;
    };

    // The charges of a country still in the sweep, by center, member, source, sequence.
    void forEachSweepRow(int country, const std::function<void(const SweepRowView&)>& visit);
    // The same walk a center at a time: the country's centers by id, then one center's rows.
    std::vector<SweepCenter> sweepCenters(int country);
    void forEachSweepRow(const SweepCenter& center, const std::function<void(const SweepRowView&)>& visit);
    std::int64_t countSweepRows(int country);

    void setCenterAccount(std::int32_t centerId, const bank::BankAccount& account);

    // Moves the records' charges from the sweep to saved, each with the Total the member list
    // shows for it: the Totals of a center are taken over its charges in the sweep, in sweep
    // order, as they stood before this save. Refuses, naming the first such record, when a
    // charge is unknown or no longer in the sweep (a charge named twice is already saved the
    // second time), when a Total is not kept to the cent, or when a center's saved amount would
    // then be more than one bank file entry carries; the caller then rolls back.
    std::optional<SaveFailure> saveCharges(const std::vector<SaveRecord>& records, std::string_view savedAt,
                                           std::string_view login = {});

    // The centers of a country with saved charges, ascending id, with their bank accounts.
    std::vector<SavedCenter> savedCenters(int country);

    // The saved charges of the country's members that are saved at more than one center, by
    // member, then earliest saved first (ties by center).
    std::vector<SavedMemberAtCenter> membersAtSeveralCenters(int country);

    // Forms the next batch of a country from the saved charges of the given centers, less the
    // (member, center) pairs held back: they become exported. The new batch number.
    std::int32_t formBatch(int country, const std::vector<std::int32_t>& centers,
                           const std::vector<std::pair<std::int32_t, std::int32_t>>& heldMemberCenters,
                           std::string_view atText, std::int32_t personId, std::int16_t personType,
                           std::string_view login = {});
    // Records every item of the batch as cleared at once: a batch with nothing to transfer.
    void settleBatch(std::int32_t batchNo, std::string_view atText, std::int32_t personId, std::int16_t personType);
    // The batches the latest export made, ascending; empty before the first.
    std::vector<ExportedBatch> lastExport();
    std::int32_t highestBatchNo();
    // Batch numbers up to `usedUpTo` are taken, whatever the batches table holds.
    void raiseBatchFloor(std::int32_t usedUpTo);
    void setLastFileCreationNumber(std::string_view originatorId, std::int32_t number);

    // A demo database (seeded with demo or synthetic data) may export with the demo originator.
    bool isDemo();
    void markDemo();
    std::optional<std::string> setting(std::string_view name);
    void setSetting(std::string_view name, std::string_view value);

    // The next CPA-005 file creation number of the originator: 1 to 9999, then 1 again.
    std::int32_t nextFileCreationNumber(std::string_view originatorId);
    // How many United States files were made on the day (ISO date "YYYY-MM-DD").
    std::int64_t usFilesOn(std::string_view isoDay);

    void insertBatchFile(const BatchFileRow& file, std::optional<std::int32_t> creationNumber);
    std::vector<BatchFileRow> unpublishedFiles();
    std::vector<BatchFileRow> batchFiles();
    std::vector<std::string> batchFileNames();
    // The published files whose folder is recorded: name and place (file_claim.h).
    std::vector<std::pair<std::string, std::string>> publishedPlaces();
    // Published into the folder `place` names (file_claim.h); the claim on the file ends.
    void markPublished(std::int32_t batchNo, std::string_view at = {}, std::string_view place = {});
    std::optional<FileClaim> fileClaim(std::int32_t batchNo);
    // Nothing: no claim.
    void setFileClaim(std::int32_t batchNo, const std::optional<FileClaim>& claim);

    // Deliveries (store_deliveries.cpp). The files published into the folder `place` names (or
    // before places were recorded) that are to be delivered: not delivered (an attempt exited 0,
    // or one was resolved as delivered) and without an attempt that has no outcome.
    std::vector<PendingDelivery> pendingDeliveries(std::string_view place);
    // Records that an attempt of the batch's file starts now, by the server process `by`, unless
    // the file is not to be delivered as pendingDeliveries() says. The attempt's number, or
    // nothing.
    std::optional<std::int64_t> startDelivery(std::int32_t batchNo, std::string_view at, std::string_view by);
    // The outcome of the attempt; recording it again writes the same.
    void recordDeliveryOutcome(std::int32_t batchNo, std::int64_t attempt, int exitStatus, std::string_view stderrHead,
                               std::string_view at);
    // Every attempt without an outcome or a resolution, by batch.
    std::vector<OpenDelivery> openDeliveries();
    // Resolves an attempt without an outcome as the administrator says (kResolvedDelivered or
    // kResolvedRedeliver); false, changing nothing, when it has an outcome or a resolution.
    bool resolveDelivery(std::int32_t batchNo, std::int64_t attempt, std::string_view resolution, std::string_view at,
                         std::string_view by, std::string_view as);
    // Every file, with the batches exported before files were kept, by batch.
    std::vector<FileListing> listFiles();
    // One kept file as listFiles() has it.
    std::optional<FileListing> fileListing(std::int32_t batchNo);

    // The batch list's change counter: a value that every committed change of what the list
    // shows replaces with one it never had before. One statement, needing no transaction: read
    // before the list's rows, a list kept with it is stale only once the value read differs.
    std::int64_t listClock();
    // Every exported item still waiting for its status, with the items the bank returned in
    // the batches still waiting, by batch and center; and how many.
    void forEachPendingItem(const std::function<void(const BatchItemView&)>& visit);
    std::int64_t countPendingItems();

    bool batchExists(std::int32_t batchNo);

    // A status commit of one batch, in four steps within one write transaction: stageOutcomes,
    // the two checks, then recordOutcomes. A reference names the member's waiting items of
    // source 2 ("-" reference) or its other ones; each reference is given once.
    struct PostedOutcome {
        std::int32_t memberId = 0;
        bool sourceTwo = false;
        bool cleared = false;
        std::size_t order = 0;  // what the checks name it by
    };
    void stageOutcomes(std::int32_t batchNo, const std::vector<PostedOutcome>& outcomes);
    // The order of the first staged reference with no item of the batch waiting for it; a
    // failed one naming an item the bank returned has what it asks.
    std::optional<std::size_t> firstOutcomeWithoutItem(std::int32_t batchNo);
    // An item of the batch waiting for its status that no staged reference can record (the
    // first by center, member and source).
    struct WaitingItem {
        std::int32_t centerId = 0;
        std::int32_t memberId = 0;
        bool sourceTwo = false;
    };
    std::optional<WaitingItem> firstUnnamedItem();
    // Records the staged outcomes of the batch's waiting items: cleared items leave the sweep
    // for good, failed ones return to it.
    void recordOutcomes(std::int32_t batchNo, std::string_view at, std::int32_t personId, std::int16_t personType,
                        std::string_view login = {});

    // Returns (store_returns.cpp). Every bank file sent, with its batch's country and time.
    std::vector<SentFile> sentFiles();
    // The centers' nets, not zero, of every batch with no file kept, by batch and center.
    std::vector<UnkeptEntry> unkeptEntries();
    // The items (batch, center) with a return applied.
    std::vector<std::pair<std::int32_t, std::int32_t>> returnedItems();
    // Records one return of an answer file; false, changing nothing, when the file's return of
    // that trace is recorded already.
    bool recordReturn(const ReturnRecord& r);
    std::vector<ReturnRecord> returnRecords();
    // Whether any return of the file is recorded.
    bool answerSeen(std::string_view sha256);
    // The retries of the center's charges in the batch so far.
    RetryCount retriesOf(std::int32_t batchNo, std::int32_t centerId);
    // Fails the center's items of the batch with the return's details: waiting ones as a status
    // commit fails them, cleared ones as a reversal that keeps the clearing. The items changed.
    std::int64_t returnItem(const ItemReturn& r);
    // The return of the member's item in the batch (of source 2 or of the others), if any.
    std::optional<ReturnedItem> returnedItemOf(std::int32_t batchNo, std::int32_t memberId, bool sourceTwo);
    // The center's items of the batch with a return, by center.
    std::vector<ReturnedItem> returnedItemsOf(std::int32_t batchNo);
    // Holds the center (one open hold of a kind at a time; a second adds nothing). The hold's id.
    std::int64_t holdCenter(std::int32_t centerId, HoldKind kind, std::string_view code, std::string_view reason,
                            std::string_view since, std::string_view fileName);
    // Lifts the center's open holds of the kind; the number lifted.
    std::int64_t liftHolds(std::int32_t centerId, HoldKind kind, std::string_view at, std::string_view by,
                           std::string_view how);
    // Open holds only, unless `all`.
    std::vector<CenterHold> centerHolds(bool all = false);
    // Records a proposed correction; false, changing nothing, when the file's notice of that
    // trace proposed it already.
    bool recordChangeNotice(const ChangeNoticeRow& n);
    std::vector<ChangeNoticeRow> changeNotices();
    void markChangeApplied(std::int64_t id, std::string_view at, std::string_view by);
    void setCenterName(std::int32_t centerId, std::string_view name);
    std::optional<std::string> centerName(std::int32_t centerId);
    // Entries sent per country in the files of batches exported since `sinceIso`.
    std::vector<std::pair<int, std::int64_t>> entriesSentSince(std::string_view sinceIso);
    // Returns applied (matched, or with an unknown code) dated since `sinceDate`: country, code, count.
    struct ReturnCount {
        int country = 1;
        std::string code;
        std::int64_t count = 0;
    };
    std::vector<ReturnCount> returnsSince(std::string_view sinceDate);
    // Every center's recorded account.
    std::vector<std::pair<std::int32_t, bank::BankAccount>> centerAccounts();
    // The batches with items waiting for their status: number, country, when exported.
    struct WaitingBatch {
        std::int32_t batchNo = 0;
        int country = 1;
        std::string exportedAt;
    };
    std::vector<WaitingBatch> waitingBatches();

private:
    // Throws as insertCharge says; the member's flags from `known` when given, else asked.
    void requireCents(const ChargeRow& c, const MemberFlags* known = nullptr);
    // The first `count` of `charges` into the table, as they are.
    void loadCharges(const std::vector<ChargeRow>& charges, std::size_t count, Statistics statistics);
    // The centers the statements of a save join: SQLite's staged table, or the array bound to
    // each of them on PostgreSQL (withCenters).
    void stageCenters(const std::vector<std::int32_t>& centers);
    Statement& withCenters(Statement& s);

    Database db_;
    std::filesystem::path file_;
    std::optional<SchemaUpgrade> upgraded_;
    std::string stagedCenters_;
    Statement insertCenter_, insertMember_, insertCharge_, memberFlags_;
    Statement sweepCenters_, sweepRows_, countSweep_;
    Statement chargeState_, stagedChanges_, stagedSweep_, streamedSweep_, centerSaved_, saveStaged_;
    Statement nextBatch_, savedCharges_, insertBatch_, insertItem_, markExported_;
    Statement pendingItems_, countPending_, batchExists_, stageWaiting_, outcomeWithoutItem_, unnamedItem_;
    Statement recordItems_, clearCharges_, failCharges_, listClock_;
};

}  // namespace eft::server
