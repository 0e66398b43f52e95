#include "server/export/files_report.h"

#include <sodium.h>

#include <cstdio>

#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

std::string sha256(const std::string& bytes) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string deliveryText(const FileListing& f) {
    if (!f.deliveredAt.empty()) return f.deliveredAt;
    if (f.attempts == 0) return "no";
    std::string why = f.lastStderr.substr(0, f.lastStderr.find('\n'));
    return "failed " + std::to_string(f.attempts) + "x, exit " + std::to_string(f.lastStatus) +
           (why.empty() ? "" : ": " + why);
}

}  // namespace

std::string filesReport(Store& store) {
    std::string out = "file\tbatch\tcountry\tentries\tdebits\tcredits\tsha256\tpublished\tdelivered\n";
    Transaction read(store.db(), Transaction::Mode::Read);
    for (const FileListing& f : store.listFiles()) {
        const bank::FileSummary& s = f.summary;
        out += f.name + "\t" + std::to_string(f.batchNo) + "\t" + (f.country == 2 ? "CA" : "US") + "\t" +
               std::to_string(s.entries()) + "\t" + text::money(s.debitCents) + " (" + std::to_string(s.debitCount) +
               ")\t" + text::money(s.creditCents) + " (" + std::to_string(s.creditCount) + ")\t" + sha256(f.content) +
               "\t" + (f.published ? (f.publishedAt.empty() ? "yes" : f.publishedAt) : "no") + "\t" +
               deliveryText(f) + "\n";
    }
    return out;
}

}  // namespace eft::server
