#include "export_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace eft::server {
namespace {

constexpr std::int64_t kHashModulus = 10'000'000'000;

std::string zeroPadded(std::int64_t value, std::size_t width, const char* what) {
    std::string digits = std::to_string(value);
    if (value < 0 || digits.size() > width)
        throw std::runtime_error(std::string(what) + " " + digits + " does not fit the file layout");
    return std::string(width - digits.size(), '0') + digits;
}

std::string blankPadded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

std::string record(std::string text) {
    text.resize(kExportRecordLength, ' ');
    text += "\r\n";
    return text;
}

// Latin-1 letters U+00C0..U+00FF without their accents; '?' where none fits.
constexpr std::string_view kLatin1Ascii =
    "AAAAAAACEEEEIIII"  // C0..CF
    "DNOOOOO?OUUUUY?s"  // D0..DF
    "aaaaaaaceeeeiiii"  // E0..EF
    "dnooooo?ouuuuy?y";  // F0..FF

}  // namespace

ExportTotals exportTotals(const ExportBatch& batch) {
    ExportTotals t;
    for (const ExportCenter& c : batch.centers) {
        t.items += c.itemCount;
        if (c.cents >= 0) t.inCents += c.cents;
        else t.outCents -= c.cents;
        t.hashTotal = (t.hashTotal + c.centerId) % kHashModulus;
    }
    return t;
}

std::string exportFileName(const ExportBatch& batch) {
    return std::string("EFT_") + (batch.country == 2 ? "CA" : "US") + "_" +
           zeroPadded(batch.batchNo, 10, "batch number") + ".txt";
}

std::string asciiText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out += b < 0x20 || b == 0x7F ? '?' : static_cast<char>(b);
            ++i;
            continue;
        }
        // A UTF-8 sequence: its length from the lead byte; a Latin-1 letter keeps its base.
        std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        char replacement = '?';
        if (length == 2 && i + 1 < s.size()) {
            const char32_t cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            if (cp >= 0xC0 && cp <= 0xFF) replacement = kLatin1Ascii[cp - 0xC0];
        }
        out += replacement;
        std::size_t k = 1;
        while (k < length && i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80) ++k;
        i += k;
    }
    return out;
}

std::string exportFileText(const ExportBatch& batch) {
    const ExportTotals totals = exportTotals(batch);
    const Date d = batch.exportedAt.date();
    char date[16];
    char time[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", d.year, d.month, d.day);
    std::snprintf(time, sizeof time, "%02d%02d%02d", batch.exportedAt.hour(), batch.exportedAt.minute(),
                  batch.exportedAt.second());
    const bool canada = batch.country == 2;

    std::string text;
    text.reserve((batch.centers.size() + 2) * (kExportRecordLength + 2));
    text += record("H" + zeroPadded(batch.batchNo, 10, "batch number") + date + time + (canada ? "CA" : "US") +
                   (canada ? "CAD" : "USD") + zeroPadded(batch.personId, 10, "person id") +
                   zeroPadded(batch.personType, 5, "person type"));
    for (const ExportCenter& c : batch.centers) {
        const std::int64_t magnitude = c.cents < 0 ? -c.cents : c.cents;
        text += record("D" + zeroPadded(c.centerId, 10, "center id") + blankPadded(asciiText(c.name), 35) +
                       zeroPadded(c.itemCount, 7, "item count") + (c.cents < 0 ? "-" : "+") +
                       zeroPadded(magnitude, 14, "amount"));
    }
    const std::int64_t net = totals.netCents();
    text += record("T" + zeroPadded(batch.batchNo, 10, "batch number") +
                   zeroPadded(static_cast<std::int64_t>(batch.centers.size()), 6, "center count") +
                   zeroPadded(totals.items, 7, "item count") + zeroPadded(totals.inCents, 14, "total due in") +
                   zeroPadded(totals.outCents, 14, "total due out") + (net < 0 ? "-" : "+") +
                   zeroPadded(net < 0 ? -net : net, 14, "net total") + zeroPadded(totals.hashTotal, 10, "hash total"));
    return text;
}

StagedFiles::StagedFiles(std::filesystem::path dir) : dir_(std::move(dir)) {}

StagedFiles::~StagedFiles() {
    if (kept_) return;
    for (const File& f : files_) {
        std::error_code ignored;
        std::filesystem::remove(f.temp, ignored);
        if (f.published) std::filesystem::remove(f.final, ignored);
    }
}

void StagedFiles::stage(const std::string& name, std::string_view text) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (ec) throw std::runtime_error("cannot create the export folder " + dir_.string() + ": " + ec.message());
    File f{dir_ / ("." + name + ".tmp"), dir_ / name};
    files_.push_back(f);
    std::FILE* out = std::fopen(f.temp.c_str(), "wb");
    if (out == nullptr) throw std::runtime_error("cannot write " + f.temp.string() + ": " + std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
                         ::fsync(fileno(out)) == 0;
    const int error = errno;
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed)
        throw std::runtime_error("cannot write " + f.temp.string() + ": " + std::strerror(written ? errno : error));
}

void StagedFiles::publish() {
    for (const File& f : files_)
        if (std::filesystem::exists(f.final)) throw std::runtime_error(f.final.string() + " already exists");
    for (File& f : files_) {
        std::error_code ec;
        std::filesystem::rename(f.temp, f.final, ec);
        if (ec) throw std::runtime_error("cannot rename " + f.temp.string() + ": " + ec.message());
        f.published = true;
    }
}

}  // namespace eft::server
