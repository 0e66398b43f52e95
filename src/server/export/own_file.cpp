#include "server/export/own_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace eft::server {
namespace {

constexpr std::string_view kPrefix = "EFT_";
constexpr std::string_view kSuffix = ".txt";
constexpr std::size_t kDigits = 10;
constexpr std::size_t kNameLength = 4 + 3 + kDigits + 4;  // "EFT_" "US_" digits ".txt"

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::int32_t batchOfFileName(std::string_view name) {
    if (name.size() != kNameLength || !name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return 0;
    const std::string_view country = name.substr(kPrefix.size(), 3);
    if (country != "US_" && country != "CA_") return 0;
    std::int64_t batch = 0;
    for (const char c : name.substr(kPrefix.size() + 3, kDigits)) {
        if (c < '0' || c > '9') return 0;
        batch = batch * 10 + (c - '0');
    }
    return batch > 0 && batch <= 2147483647 ? static_cast<std::int32_t>(batch) : 0;
}

void requireBankFileName(std::string_view name) {
    if (batchOfFileName(name) == 0)
        throw std::runtime_error("\"" + std::string(name) + "\" is not the name of a bank file of the export");
}

std::optional<std::string> readOwnFile(int folder, std::string_view name, std::size_t limit) {
    requireBankFileName(name);
    const std::string plain(name);
    // O_NONBLOCK: a FIFO planted under the name must not hang the server at its open.
    const Descriptor fd(::openat(folder, plain.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT) return std::nullopt;
        if (error == ELOOP) throw std::runtime_error(plain + " is a symbolic link, not the export's file");
        throw std::runtime_error("cannot open " + plain + ": " + std::strerror(error));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw std::runtime_error("cannot read " + plain + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(plain + " is not a regular file");
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < limit) {
        const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("cannot read " + plain + ": " + std::strerror(errno));
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::optional<std::string> readOwnFile(const std::filesystem::path& dir, std::string_view name, std::size_t limit) {
    requireBankFileName(name);
    const Descriptor folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw std::runtime_error("cannot open the export folder " + dir.string() + ": " + std::strerror(errno));
    }
    return readOwnFile(folder.get(), name, limit);
}

}  // namespace eft::server
