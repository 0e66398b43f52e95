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
// batch_items  the charges of a batch with their amount and recorded outcome
//
// Methods that change data expect the caller to hold a write transaction.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "export_file.h"
#include "row_amounts.h"
#include "save_record.h"

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

struct BatchItemView {
    std::int32_t batchNo = 0;
    std::int32_t centerId = 0;
    std::string_view centerName;
    std::int32_t memberId = 0;
    std::string_view exportedAt;
    std::int16_t source = 0;
    float amount = 0;
};

// Why a save record's charge could not be saved.
enum class SaveRefusal { None, Unknown, AlreadySaved, Exported, Cleared };

class Store {
public:
    explicit Store(const std::filesystem::path& file);
    Database& db() { return db_; }

    // Creates the tables and indexes that are missing.
    void createSchema();
    bool isEmpty();

    void insertCenter(const CenterRow& c);
    void insertMember(const MemberRow& m);
    void insertCharge(const ChargeRow& c);

    // The charges of a country still in the sweep, by center, member, source, sequence.
    void forEachSweepRow(int country, const std::function<void(const SweepRowView&)>& visit);
    std::int64_t countSweepRows(int country);

    // Moves one charge from the sweep to saved. Refuses, changing nothing, when the charge
    // is unknown or no longer in the sweep.
    SaveRefusal saveCharge(const SaveRecord& r, std::string_view savedAt);

    // Forms the next batch of a country from its saved charges (none: nothing). The batch's
    // charges become exported.
    std::optional<ExportBatch> formBatch(int country, const Timestamp& at, std::string_view atText,
                                         std::int32_t personId, std::int16_t personType);
    void setBatchFile(std::int32_t batchNo, std::string_view fileName);

    // Every exported item still waiting for its status, by batch and center.
    void forEachPendingItem(const std::function<void(const BatchItemView&)>& visit);

    bool batchExists(std::int32_t batchNo);
    // Records the outcome of the member's pending items in the batch (source 2 items for a
    // "-" reference, the others otherwise); cleared items leave the sweep for good, failed
    // ones return to it. The number of items changed; 0 when the reference has none waiting.
    std::int64_t recordOutcome(std::int32_t batchNo, std::int32_t memberId, bool sourceTwo, bool cleared,
                               std::string_view at, std::int32_t personId, std::int16_t personType);

private:
    Database db_;
    Statement insertCenter_, insertMember_, insertCharge_;
    Statement sweepRows_, countSweep_;
    Statement saveCharge_, chargeState_;
    Statement nextBatch_, savedCharges_, insertBatch_, insertItem_, markExported_, setFile_;
    Statement pendingItems_, batchExists_, recordItems_, clearCharges_, failCharges_;
};

}  // namespace eft::server
