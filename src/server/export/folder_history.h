#pragma once
// What the export folder says was already sent. The database is the record of every export,
// but a database restored from a backup forgets the exports made after it, while their files
// stay in the folder; the numbers those files used must never be used again.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "server/export/own_file.h"

namespace eft::server {

struct FolderHistory {
    std::vector<std::string> files;  // the bank files' names, ascending batch number
    std::int32_t highestBatch = 0;
    // Per CPA originator id, the creation number of its file of the highest batch, and that batch.
    struct Creation {
        std::int32_t batchNo = 0;
        std::int32_t number = 0;
    };
    std::map<std::string, Creation> lastCreation;
    // How many United States files were made on a day ("YYMMDD", as their headers carry it).
    std::map<std::string, std::int64_t> usFilesOn;
};

// Reads the names and the first record of every bank file in `dir`; a folder that does not
// exist yet has no history.
FolderHistory readFolderHistory(const std::filesystem::path& dir);

}  // namespace eft::server
