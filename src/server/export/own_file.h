#pragma once
// What in the export folder is the export's own. A bank file's name comes from the database
// (batch_files.name) and the folder may be written by others than this server, so neither is
// taken on trust: a name is used only when it is a plain name of the export's own pattern, and
// a file is read only when it is a regular file right inside the folder, never through a link.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace eft::server {

// The batch number a bank file's name carries, "EFT_<US|CA>_<batch, 10 digits>.txt" as the
// export names them (bank/payment.cpp); 0 for any other name, a path or ".." among them.
// Every name that reaches the export folder, from the bank writers or the database, is judged
// by this one function.
std::int32_t batchOfFileName(std::string_view name);

// Whether `name` is the name of batch `batchNo`'s own file.
inline bool isFileNameOf(std::string_view name, std::int32_t batchNo) {
    return batchNo > 0 && batchOfFileName(name) == batchNo;
}

// Throws std::runtime_error unless `name` is a bank file's name.
void requireBankFileName(std::string_view name);

// The bytes of the bank file `name` in the folder open as `folder` (a descriptor), at most
// `limit` of them: nothing when there is no such name; std::runtime_error when the name is not a
// bank file's, or what has it is not a regular file (a symbolic link is never followed).
std::optional<std::string> readOwnFile(int folder, std::string_view name, std::size_t limit = SIZE_MAX);
// The same in the folder `dir`; a folder that does not exist holds nothing.
std::optional<std::string> readOwnFile(const std::filesystem::path& dir, std::string_view name,
                                       std::size_t limit = SIZE_MAX);

}  // namespace eft::server
