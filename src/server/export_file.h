#pragma once
// The batch files handed to the bank: one fixed-width ASCII file per batch (one batch per
// country and export), and the staging that makes a file appear whole or not at all.
//
// Records are 80 characters and end with CR LF. Numbers are zero-padded on the left, texts
// blank-padded on the right; amounts are whole cents, their sign in a column of its own.
//
//   Header  H | batch 10 | date YYYYMMDD | time HHMMSS | country US/CA | currency USD/CAD |
//             originator person id 10 | originator person type 5 | blanks
//   Detail  D | center id 10 | center name 35 | items 7 | sign | amount in cents 14 | blanks
//   Trailer T | batch 10 | detail records 6 | items 7 | due in cents 14 | due out cents 14 |
//             net sign | net cents 14 | hash total 10 | blanks
//
// A detail amount is the center's net: '+' due in from the center, '-' due out to it. The
// trailer's due in and due out sum the positive and the negative center amounts; the hash
// total is the sum of the center ids modulo 10^10.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/calendar.h"

namespace eft::server {

inline constexpr std::size_t kExportRecordLength = 80;

struct ExportCenter {
    std::int32_t centerId = 0;
    std::string name;  // UTF-8; written transliterated to ASCII
    std::int64_t itemCount = 0;
    std::int64_t cents = 0;  // signed net
};

struct ExportBatch {
    std::int32_t batchNo = 0;
    int country = 1;  // 1 United States, 2 Canada
    Timestamp exportedAt;
    std::int32_t personId = 0;
    std::int16_t personType = 0;
    std::vector<ExportCenter> centers;  // ascending center id
};

struct ExportTotals {
    std::int64_t items = 0;
    std::int64_t inCents = 0;
    std::int64_t outCents = 0;  // positive: the sum of what is due out
    std::int64_t netCents() const { return inCents - outCents; }
    std::int64_t hashTotal = 0;
};

ExportTotals exportTotals(const ExportBatch& batch);

// "EFT_US_0000000057.txt" / "EFT_CA_...".
std::string exportFileName(const ExportBatch& batch);

// The whole file.
std::string exportFileText(const ExportBatch& batch);

// ASCII only: Latin letters lose their accents, anything else becomes '?'.
std::string asciiText(std::string_view utf8);

// Files written under temporary names and renamed into place together. Until keep() is
// called, the destructor removes every file this set wrote, temporary or renamed, so a failed
// export leaves nothing behind. Throws std::runtime_error with the reason on any failure.
class StagedFiles {
public:
    explicit StagedFiles(std::filesystem::path dir);
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Writes the text to a temporary file beside its final name.
    void stage(const std::string& name, std::string_view text);
    // Renames every staged file to its final name; refuses to replace an existing file.
    void publish();
    // The files stay.
    void keep() { kept_ = true; }

private:
    struct File {
        std::filesystem::path temp;
        std::filesystem::path final;
        bool published = false;
    };
    std::filesystem::path dir_;
    std::vector<File> files_;
    bool kept_ = false;
};

}  // namespace eft::server
