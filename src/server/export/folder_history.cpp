#include "server/export/folder_history.h"

#include <algorithm>
#include <fstream>

namespace eft::server {
namespace {

constexpr std::size_t kNameLength = 21;  // "EFT_US_" + 10 digits + ".txt"

std::string firstRecord(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::int32_t batchOfFileName(const std::string& name) {
    if (name.size() != kNameLength || !name.starts_with("EFT_") || !name.ends_with(".txt")) return 0;
    if (name.compare(4, 3, "US_") != 0 && name.compare(4, 3, "CA_") != 0) return 0;
    std::int64_t batch = 0;
    for (std::size_t i = 7; i < 17; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        batch = batch * 10 + (name[i] - '0');
    }
    return batch > 0 && batch <= 2147483647 ? static_cast<std::int32_t>(batch) : 0;
}

FolderHistory readFolderHistory(const std::filesystem::path& dir) {
    FolderHistory h;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return h;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        const std::int32_t batch = batchOfFileName(name);
        // A symlink is never one of ours (files are created with O_NOFOLLOW): it names no batch.
        if (batch == 0 || !std::filesystem::is_regular_file(entry.symlink_status(ec))) continue;
        h.files.push_back(name);
        h.highestBatch = std::max(h.highestBatch, batch);
        const std::string header = firstRecord(entry.path());
        if (name[4] == 'U') {
            // "101 " + destination (9) + " " + origin (9) + creation date YYMMDD
            if (header.size() >= 29 && header.starts_with("101")) ++h.usFilesOn[header.substr(23, 6)];
        } else if (header.size() >= 24 && header[0] == 'A') {
            // "A" + record count (9) + originator id (10) + file creation number (4)
            std::string id = header.substr(10, 10);
            id.erase(id.find_last_not_of(' ') + 1);
            const std::string digits = header.substr(20, 4);
            if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
            FolderHistory::Creation& last = h.lastCreation[id];
            if (batch > last.batchNo) last = {batch, std::stoi(digits)};
        }
    }
    std::sort(h.files.begin(), h.files.end(),
              [](const std::string& a, const std::string& b) { return batchOfFileName(a) < batchOfFileName(b); });
    return h;
}

}  // namespace eft::server
