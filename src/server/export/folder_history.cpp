#include "server/export/folder_history.h"

#include <algorithm>
#include <stdexcept>

namespace eft::server {
namespace {

// Both headers carry what is read of them well within their first record.
constexpr std::size_t kHeaderBytes = 256;

// The first record of one of the folder's own files; nothing for what is not one (a link, a
// folder, a file gone since the listing).
std::string firstRecord(const std::filesystem::path& dir, const std::string& name) {
    try {
        std::string head = readOwnFile(dir, name, kHeaderBytes).value_or(std::string());
        return head.substr(0, head.find('\n'));
    } catch (const std::runtime_error&) {
        return {};
    }
}

}  // namespace

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
        const std::string header = firstRecord(dir, name);
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
