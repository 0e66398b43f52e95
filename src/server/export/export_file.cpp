#include "server/export/export_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "server/bank/bank_text.h"
#include "server/bank/cpa005.h"
#include "server/bank/nacha.h"
#include "server/export/file_claim.h"
#include "server/export/folder_history.h"
#include "server/export/own_file.h"
#include "server/metrics/metrics.h"
#include "server/store/clock.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

constexpr std::string_view kTempSuffix = ".tmp";

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

// A file descriptor closed on every path.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

Fd openDirectory(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create the export folder " + dir.string() + ": " + ec.message());
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) fail("cannot open the export folder " + dir.string(), errno);
    return Fd(fd.release());
}

std::string randomHex() {
    unsigned char bytes[12];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("no random bytes for a temporary name", errno);
        }
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string moneyText(std::int64_t cents) {
    std::string whole = std::to_string(cents / 100);
    for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) whole.insert(static_cast<std::size_t>(at), ",");
    const auto fraction = static_cast<int>(cents % 100);
    return whole + "." + (fraction < 10 ? "0" : "") + std::to_string(fraction);
}

std::string countryName(int country) { return country == 2 ? "Canada" : "United States"; }

char fileIdModifier(std::int64_t filesBefore) {
    static constexpr char kModifiers[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    return kModifiers[filesBefore % 36];
}

std::string isoDay(const Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string totalsText(const bank::FileSummary& s, int country) {
    return "debits " + moneyText(s.debitCents) + " (" + std::to_string(s.debitCount) + "), credits " +
           moneyText(s.creditCents) + " (" + std::to_string(s.creditCount) + ")" + (country == 2 ? ", in CAD" : ", in USD");
}

// What the latest export made, for an operator whose export reply was lost and who asks again.
std::string lastExportText(Store& store, const std::filesystem::path& dir) {
    const std::vector<ExportedBatch> batches = store.lastExport();
    if (batches.empty()) return {};
    std::string text = "The last export, at " + batches.front().exportedAt + ", made:\n";
    bool files = false;
    for (const ExportedBatch& b : batches) {
        text += countryName(b.country) + ": ";
        if (b.fileName) {
            text += "file " + *b.fileName + ", batch " + std::to_string(b.batchNo) + "; " + totalsText(b.summary, b.country);
            files = true;
        } else {
            text += "batch " + std::to_string(b.batchNo) + " settled with nothing to transfer, no file";
        }
        text += "\n";
    }
    if (files) text += "Files written to " + dir.string() + "\n";
    return text;
}

// Removes the temporary files written so far unless the export got to its commit.
struct TempGuard {
    std::filesystem::path dir;
    std::vector<std::string> names;
    bool committed = false;
    ~TempGuard() {
        if (committed) return;
        for (const std::string& n : names) {
            std::error_code ignored;
            std::filesystem::remove(dir / n, ignored);
        }
    }
};

}  // namespace

std::filesystem::path defaultExportDir(const std::filesystem::path& db) {
    if (isPostgresUri(db.string())) return std::filesystem::absolute("eft-export");
    const std::filesystem::path absolute = std::filesystem::absolute(db);
    return absolute.parent_path() / (absolute.stem().string() + "-export");
}

void crashPoint(const char* point) {
    const char* wanted = std::getenv("EFT_TEST_CRASH_AT");
    if (wanted != nullptr && std::strcmp(wanted, point) == 0) std::raise(SIGKILL);
}

bool isTempName(std::string_view name) {
    return name.starts_with(".EFT_") && name.ends_with(kTempSuffix);
}

std::string writeTempFile(const std::filesystem::path& dir, std::string_view finalName, std::string_view text) {
    // The temporary name is made from the final one: a name with a '/' would reach outside.
    requireBankFileName(finalName);
    const Fd folder = openDirectory(dir);
    const std::string name = "." + std::string(finalName) + "." + randomHex() + std::string(kTempSuffix);
    const Fd fd(::openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.get() < 0) fail("cannot create " + (dir / name).string(), errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::unlinkat(folder.get(), name.c_str(), 0);
            fail("cannot write " + (dir / name).string(), error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) {
        const int error = errno;
        ::unlinkat(folder.get(), name.c_str(), 0);
        fail("cannot write " + (dir / name).string(), error);
    }
    return name;
}

void syncDirectory(const std::filesystem::path& dir) {
    const Fd folder = openDirectory(dir);
    if (::fsync(folder.get()) != 0) fail("cannot sync the export folder " + dir.string(), errno);
}

void publishFile(const std::filesystem::path& dir, const std::string& tempName, const std::string& finalName,
                 std::string_view text) {
    requireBankFileName(finalName);
    const Fd folder = openDirectory(dir);
    int rc = ::renameat2(folder.get(), tempName.c_str(), folder.get(), finalName.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without RENAME_NOREPLACE: link() refuses an existing name just as well.
        rc = ::linkat(folder.get(), tempName.c_str(), folder.get(), finalName.c_str(), 0);
        if (rc == 0) ::unlinkat(folder.get(), tempName.c_str(), 0);
    }
    if (rc == 0) return;
    const int error = errno;
    if (error == EEXIST || error == ENOENT) {
        // Already published by an earlier run or a second server: the same bytes are fine; what
        // a link points to is never read as if it were the file.
        if (const auto existing = readOwnFile(folder.get(), finalName); existing && *existing == text) {
            ::unlinkat(folder.get(), tempName.c_str(), 0);
            return;
        }
        if (error == EEXIST) throw std::runtime_error((dir / finalName).string() + " already exists with other content");
    }
    fail("cannot publish " + (dir / finalName).string(), error);
}

namespace {

// What one country's batch takes: its centers and their payments, and what stays saved.
struct CountryPlan {
    std::vector<bank::Payment> payments;  // ascending center id
    std::vector<std::int32_t> centers;
    std::int64_t items = 0;
    std::vector<std::pair<std::int32_t, std::int32_t>> held;  // (member, center)
    std::string leftOut;                                      // report lines
};

// A status post names members, not centers, so a member's items must stand under one center of
// a batch: of a member saved at several centers, the center of its longest-waiting item goes
// (the lowest number on a tie) and the others wait for the next batch, where they come first.
// A center left out takes no member's place, so leaving one out can free others: the plan is
// made again until no more centers drop out.
CountryPlan planCountry(Store& store, int country) {
    const std::string where = countryName(country);
    std::vector<SavedCenter> saved = store.savedCenters(country);
    const std::vector<SavedMemberAtCenter> shared = store.membersAtSeveralCenters(country);
    std::map<std::int32_t, std::string> outReasons;
    for (const SavedCenter& c : saved) {
        if (!c.account) outReasons[c.centerId] = "no bank account";
        else if (std::string fault = bank::accountFault(*c.account, country); !fault.empty())
            outReasons[c.centerId] = std::move(fault);
    }
    // A return's hold: a blocked account takes nothing; a center whose debits stopped may still be paid.
    for (const CenterHold& h : store.centerHolds()) {
        const auto c = std::find_if(saved.begin(), saved.end(), [&](const SavedCenter& s) { return s.centerId == h.centerId; });
        if (c == saved.end() || outReasons.contains(h.centerId)) continue;
        if (h.kind == HoldKind::Account)
            outReasons[h.centerId] = "account blocked since " + h.since.substr(0, 10) + " by return " + h.code + " (" +
                                     h.reason + "), until the account is corrected";
        else if (c->cents > 0)
            outReasons[h.centerId] = "debits stopped since " + h.since.substr(0, 10) + " by return " + h.code + " (" +
                                     h.reason + "), until `eft-server accounts --authorize " +
                                     std::to_string(h.centerId) + "`";
    }
    for (;;) {
        CountryPlan plan;
        std::map<std::int32_t, std::pair<std::int64_t, std::int64_t>> heldAt;  // center -> items, cents
        std::string heldLines;
        std::map<std::int32_t, std::string> nameOf;
        for (const SavedCenter& c : saved) nameOf[c.centerId] = c.name;
        for (std::size_t i = 0; i < shared.size();) {
            std::size_t j = i;
            const SavedMemberAtCenter* keeper = nullptr;
            for (; j < shared.size() && shared[j].memberId == shared[i].memberId; ++j) {
                const SavedMemberAtCenter& m = shared[j];
                if (outReasons.contains(m.centerId)) continue;
                if (keeper == nullptr) {
                    keeper = &m;
                    continue;
                }
                plan.held.emplace_back(m.memberId, m.centerId);
                heldAt[m.centerId].first += m.items;
                heldAt[m.centerId].second += m.cents;
                heldLines += where + ": member " + std::to_string(m.memberId) + " at center " +
                             text::centerNumber(m.centerId) + " " + nameOf[m.centerId] + " held for the next batch (" +
                             std::to_string(m.items) + " items): the member is in this batch at center " +
                             text::centerNumber(keeper->centerId) + "\n";
            }
            i = j;
        }
        std::int64_t in = 0;
        std::int64_t out = 0;
        bool dropped = false;
        for (const SavedCenter& c : saved) {
            if (const auto reason = outReasons.find(c.centerId); reason != outReasons.end()) {
                plan.leftOut += where + ": center " + text::centerNumber(c.centerId) + " " + c.name +
                                " left saved, not exported: " + reason->second + "\n";
                continue;
            }
            const auto held = heldAt.find(c.centerId);
            const std::int64_t items = c.items - (held == heldAt.end() ? 0 : held->second.first);
            const std::int64_t cents = c.cents - (held == heldAt.end() ? 0 : held->second.second);
            if (items == 0) continue;  // every item of it waits for the next batch
            const std::int64_t magnitude = cents < 0 ? -cents : cents;  // |cents| < 2^53: sums of doubles
            std::string reason;
            if (magnitude > bank::kMaxEntryCents) reason = "its net does not fit in one entry";
            else if ((cents > 0 ? in : out) + magnitude > bank::kMaxFileTotalCents) reason = "the file's totals are full";
            if (!reason.empty()) {
                outReasons[c.centerId] = std::move(reason);
                dropped = true;
                continue;
            }
            (cents > 0 ? in : out) += magnitude;
            plan.items += items;
            plan.centers.push_back(c.centerId);
            // A retry goes out at the Total first presented, in an entry of its own (United
            // States: a batch of its own), as the network's rules want it.
            if (country == 1 && c.retryCents > 0 && cents > c.retryCents) {
                plan.payments.push_back({c.centerId, c.name, *c.account, cents - c.retryCents});
                plan.payments.push_back({c.centerId, c.name, *c.account, c.retryCents, true});
            } else {
                plan.payments.push_back({c.centerId, c.name, *c.account, cents, country == 1 && cents == c.retryCents});
            }
        }
        if (dropped) continue;
        plan.leftOut = heldLines + plan.leftOut;
        return plan;
    }
}

}  // namespace

std::string runExport(Store& store, const std::filesystem::path& dir, const bank::Originator& originator,
                      const bank::BankCalendar& calendar, const Timestamp& at, std::int32_t personId,
                      std::int16_t personType, std::int32_t batchesBefore, std::string_view login) {
    struct Made {
        BatchFileRow row;
        std::string temp;
        std::string report;
    };
    std::vector<Made> made;
    std::string settled;
    std::string leftOut;
    const std::string atText = isoText(at);
    TempGuard temps{dir, {}, false};

    // The writer lock: a second export waits for this one, and the batch and file numbers are
    // counters read and raised under it.
    Transaction t(store.db(), Transaction::Mode::Write);
    // Two at once make one: what the first held back for the next batch (a member's items at a
    // second center) would otherwise make a second batch at once, with the member in both.
    if (store.highestBatchNo() > batchesBefore)
        return "An export asked for at the same moment, through this server or another, ran first; this one "
               "exported nothing.\n" + lastExportText(store, dir);
    // Files the database does not know (it was restored from an older backup) keep their
    // numbers: the next batch and file numbers go on after them, and none is overwritten.
    FolderHistory history = readFolderHistory(dir);
    const std::int32_t known = store.highestBatchNo();
    store.raiseBatchFloor(history.highestBatch);
    for (const auto& [id, last] : history.lastCreation)
        if (last.batchNo > known) store.setLastFileCreationNumber(id, last.number);
    for (const int country : {1, 2}) {
        const std::string where = countryName(country);
        CountryPlan plan = planCountry(store, country);
        leftOut += plan.leftOut;
        if (plan.centers.empty()) continue;

        bank::BankBatch batch;
        batch.batchNo = store.formBatch(country, plan.centers, plan.held, atText, personId, personType, login);
        batch.country = country;
        batch.createdAt = at;
        batch.effectiveDate = calendar.nextBankingDay(country, at.date());
        batch.payments = std::move(plan.payments);
        const std::string counts = std::to_string(plan.items) + " items of " + std::to_string(plan.centers.size()) +
                                   " centers";
        // A file with no entry is one a bank may reject, and it would move nothing anyway.
        if (std::all_of(batch.payments.begin(), batch.payments.end(), [](const bank::Payment& p) { return p.cents == 0; })) {
            store.settleBatch(batch.batchNo, atText, personId, personType);
            settled += where + ": batch " + std::to_string(batch.batchNo) + " (" + counts +
                       ") settled with nothing to transfer: every center nets to zero, so no file is written\n";
            continue;
        }
        std::optional<std::int32_t> creationNumber;
        bank::BankFile file;
        if (country == 1) {
            batch.fileIdModifier = fileIdModifier(
                std::max(store.usFilesOn(isoDay(at.date())), history.usFilesOn[bank::yymmdd(at.date())]));
            file = bank::nachaFile(batch, originator);
        } else {
            batch.fileCreationNumber = store.nextFileCreationNumber(originator.cpaOriginatorId);
            creationNumber = batch.fileCreationNumber;
            file = bank::cpa005File(batch, originator);
        }
        if (std::filesystem::exists(std::filesystem::symlink_status(dir / file.name)))
            throw std::runtime_error((dir / file.name).string() + " already exists");
        BatchFileRow row{batch.batchNo, file.name, std::move(file.text), file.summary, false};
        store.insertBatchFile(row, creationNumber);
        // Committed with the batch: no other server's start-up publishes the file while this
        // one is about to.
        claimFile(store, row.batchNo, kPublishLease);
        const std::int64_t zero = static_cast<std::int64_t>(plan.centers.size()) - file.summary.entries();
        std::string report = where + ": file " + row.name + ", batch " + std::to_string(batch.batchNo) + ", " +
                             std::to_string(file.summary.entries()) + " entries (" + counts;
        if (zero > 0) report += ", " + std::to_string(zero) + " netting zero with no entry";
        report += "); " + totalsText(file.summary, country) + "\n";
        made.push_back({std::move(row), {}, std::move(report)});
    }
    if (made.empty()) {
        if (!settled.empty()) {
            t.commit();
            return settled + leftOut;
        }
        return "No saved items were eligible for export.\n" + lastExportText(store, dir) + leftOut;
    }

    for (Made& m : made) {
        m.temp = writeTempFile(dir, m.row.name, m.row.content);
        temps.names.push_back(m.temp);
    }
    crashPoint("temp-written");
    syncDirectory(dir);
    crashPoint("folder-synced");
    t.commit();
    temps.committed = true;
    crashPoint("committed");

    std::string report;
    for (const Made& m : made) report += m.report;
    report += settled + leftOut;
    try {
        for (const Made& m : made) {
            publishFile(dir, m.temp, m.row.name, m.row.content);
            crashPoint("first-published");
        }
        syncDirectory(dir);
        crashPoint("all-published");
        Transaction done(store.db(), Transaction::Mode::Write);
        for (const Made& m : made) store.markPublished(m.row.batchNo, atText, publishPlace(dir));
        done.commit();
        metrics::filesPublished(made.size());
    } catch (const std::exception& e) {
        report += std::string("The batches are committed, but a file could not be published yet (") + e.what() +
                  "); it is published at the next export or start.\n";
    }
    return report + "Files written to " + dir.string();
}

std::vector<LogNote> finishExports(Store& store, const std::filesystem::path& dir, std::string_view at) {
    std::vector<LogNote> lines;
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) {
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (!isTempName(name)) continue;
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
            lines.push_back({LogLevel::Warning, "removed the stray temporary file " + name});
        }
    }
    for (LogNote& line : publishAbandoned(store, dir, at, true)) lines.push_back(std::move(line));
    // Every file left in the folder is then one the database says was published here, so what
    // the folder shows, and what an administrator might send by hand, went to the bank once.
    const std::string here = publishPlace(dir);
    for (const auto& [name, place] : store.publishedPlaces()) {
        if (place == here || batchOfFileName(name) == 0 || !std::filesystem::is_regular_file(dir / name, ec)) continue;
        const std::filesystem::path aside = dir / "superseded";
        std::filesystem::create_directory(aside, ec);
        std::filesystem::rename(dir / name, aside / name, ec);
        if (ec)
            lines.push_back({LogLevel::Error, "could not set aside " + name + ", published into " + place +
                                                  " by another server: " + ec.message()});
        else
            lines.push_back({LogLevel::Warning, "set aside " + name + " into superseded/: another server published it "
                                                "into " + place + " after this one stopped while publishing it, and "
                                                "delivers it from there"});
    }
    return lines;
}

std::vector<LogNote> publishAbandoned(Store& store, const std::filesystem::path& dir, std::string_view at,
                                      bool sayWhatIsLeft) {
    std::vector<LogNote> lines;
    Transaction t(store.db(), Transaction::Mode::Write);
    bool any = false;
    for (const BatchFileRow& f : store.unpublishedFiles()) {
        // The name comes from the database, which others may write: only a name of the
        // export's own pattern, for its own batch, is ever written to the folder.
        if (!isFileNameOf(f.name, f.batchNo)) {
            lines.push_back({LogLevel::Error, "refused to publish the file of batch " + std::to_string(f.batchNo) +
                                                  ": its name \"" + f.name +
                                                  "\" is not the export's name for it; nothing was written"});
            continue;
        }
        // Another server (or this one's exporter) is publishing it into its own folder now.
        if (!claimFile(store, f.batchNo, kPublishLease)) {
            if (sayWhatIsLeft)
                lines.push_back({LogLevel::Info, "left " + f.name + " of batch " + std::to_string(f.batchNo) + " to " +
                                                     store.fileClaim(f.batchNo)->by + ", which is publishing it"});
            continue;
        }
        try {
            const auto existing = readOwnFile(dir, f.name);
            if (!existing) publishFile(dir, writeTempFile(dir, f.name, f.content), f.name, f.content);
            else if (*existing != f.content) throw std::runtime_error("a different file has its name");
            store.markPublished(f.batchNo, at, publishPlace(dir));
            any = true;
            metrics::filesPublished(1);
            lines.push_back({LogLevel::Warning, "published " + f.name + " of batch " + std::to_string(f.batchNo)});
        } catch (const std::exception& e) {
            lines.push_back({LogLevel::Error, "could not publish " + f.name + " of batch " + std::to_string(f.batchNo) +
                                                  ": " + e.what()});
        }
    }
    if (any) syncDirectory(dir);
    t.commit();
    return lines;
}

}  // namespace eft::server
