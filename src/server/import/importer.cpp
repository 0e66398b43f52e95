#include "server/import/importer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <string_view>

#include "server/bank/bank_text.h"
#include "server/bank/payment.h"
#include "server/import/csv_reader.h"
#include "server/output/shown_text.h"
#include "server/store/clock.h"
#include "server/store/key_table.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

struct ColumnSpec {
    std::string_view name;
    bool required;
};

// The order of each list is the order of the column enums below.
constexpr ColumnSpec kCenterColumns[] = {{"CenterID", true}, {"Name", true},         {"Country", true},
                                         {"Routing", false}, {"Institution", false}, {"Transit", false},
                                         {"Account", false}, {"AccountType", false}};
enum CenterColumn { cCenterId, cName, cCountry, cRouting, cInstitution, cTransit, cAccount, cAccountType };

constexpr ColumnSpec kMemberColumns[] = {{"MemberID", true},
                                         {"Name", true},
                                         {"CenterID", true},
                                         {"MemberType", true},
                                         {"SubscriptionMembership", false},
                                         {"SalesTaxExempt", false},
                                         {"DownPayment", false},
                                         {"ContractSigned", false}};
enum MemberColumn { mMemberId, mName, mCenterId, mMemberType, mSubscription, mTaxExempt, mDownPayment, mContract };

constexpr ColumnSpec kChargeColumns[] = {
    {"MemberID", true},       {"CenterID", true},     {"Source", true},         {"SweepSequence", true},
    {"SourceDescription", true}, {"SweepDate", true}, {"Type", true},           {"ConversionRate", false},
    {"Royalty", false},       {"NAC", false},         {"RoyaltyReserve", false}, {"FranchiseFee", false},
    {"FranchiseFeeReserve", false}, {"GST", false},   {"PST", false},           {"NMCPayment", false},
    {"TrustID", false}};
enum ChargeColumn {
    hMemberId, hCenterId, hSource, hSequence, hDescription, hSweepDate, hType, hRate, hRoyalty, hNac,
    hRoyaltyReserve, hFranchiseFee, hFranchiseFeeReserve, hGst, hPst, hNmc, hTrust
};

std::span<const ColumnSpec> columnsOf(ImportTable t) {
    switch (t) {
        case ImportTable::Centers: return kCenterColumns;
        case ImportTable::Members: return kMemberColumns;
        case ImportTable::Charges: break;
    }
    return kChargeColumns;
}

constexpr std::int64_t kMaxId = 2147483647;
constexpr std::int64_t kMaxShort = 32767;
constexpr std::size_t kMaxTextBytes = 255;
constexpr double kMaxConversionRate = 1000;
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool hasColumn(const std::vector<std::string>& header, std::string_view name) {
    return std::any_of(header.begin(), header.end(), [name](const std::string& h) { return sameName(h, name); });
}

// Charges carry a Source, members a MemberID without one, centers neither.
std::optional<ImportTable> tableOf(const std::vector<std::string>& header) {
    if (hasColumn(header, "Source")) return ImportTable::Charges;
    if (hasColumn(header, "MemberID")) return ImportTable::Members;
    if (hasColumn(header, "Country")) return ImportTable::Centers;
    return std::nullopt;
}

// Well-formed UTF-8 with no control characters but tabs and line breaks (a quoted field may
// hold them).
bool cleanText(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
        if (c < 0x80) extra = 0;
        else if (c >= 0xC2 && c <= 0xDF) extra = 1;
        else if (c >= 0xE0 && c <= 0xEF) extra = 2;
        else if (c >= 0xF0 && c <= 0xF4) extra = 3;
        else return false;
        if (extra > 0 && i + extra >= s.size()) return false;
        std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates, beyond U+10FFFF, and the C1 controls.
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) || (code >= 0x80 && code <= 0x9F))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string centsText(double value) { return text::money(static_cast<text::Cents>(std::llround(value * 100))); }

// A value from a file as a note shows it.
std::string shownValue(std::string_view value) { return shownText(value, kMaxShownValueBytes); }
std::string quotedValue(std::string_view value) { return "\"" + shownValue(value) + "\""; }

class Faults {
public:
    void add(ImportNote note) {
        ++count;
        if (lines.size() < kMaxImportLines) lines.push_back(std::move(note));
    }
    std::vector<ImportNote> lines;
    std::int64_t count = 0;
};

// The last date read, as read and as stored.
struct DateMemo {
    std::string read, stored;
};

// One record of a table, read field by field; every fault is noted against its column.
class Line {
public:
    // `file` as notes show it.
    Line(const std::string& file, std::size_t number, std::span<const ColumnSpec> columns, const std::vector<int>& at,
         const std::vector<std::string>& fields, Faults& faults)
        : file_(file), number_(number), columns_(columns), at_(at), fields_(fields), faults_(faults) {}

    bool ok() const { return ok_; }
    std::size_t number() const { return number_; }
    ImportNote note(std::string column, std::string reason) const {
        return {file_, static_cast<std::int64_t>(number_), std::move(column), std::move(reason)};
    }
    bool present(int column) const { return at_[static_cast<std::size_t>(column)] >= 0; }
    std::string_view raw(int column) const {
        const int at = at_[static_cast<std::size_t>(column)];
        return at < 0 ? std::string_view{} : std::string_view(fields_[static_cast<std::size_t>(at)]);
    }

    void fault(int column, const std::string& reason) {
        faults_.add(note(std::string(columns_[static_cast<std::size_t>(column)].name), reason));
        ok_ = false;
    }
    void rowFault(const std::string& reason) {
        faults_.add(note("row", reason));
        ok_ = false;
    }

    // A whole number in [min, max]; `fallback` when the field is empty and not required.
    std::int64_t whole(int column, std::int64_t min, std::int64_t max, std::int64_t fallback = 0) {
        const std::string_view s = raw(column);
        if (s.empty()) return missing(column) ? 0 : fallback;
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
        if (error != std::errc{} || end != s.data() + s.size()) {
            fault(column, quotedValue(s) + " is not a whole number");
        } else if (value < min || value > max) {
            fault(column, shownValue(s) + " is outside " + std::to_string(min) + " to " + std::to_string(max));
        } else {
            return value;
        }
        return 0;
    }

    // A decimal number with at most `decimals` places (-1: any), as a single that holds every
    // cent. Written plainly: no exponent, no thousands separator.
    float amount(int column, int decimals, float fallback = 0) {
        const std::string_view s = raw(column);
        if (s.empty()) return missing(column) ? 0 : fallback;
        std::size_t i = s.front() == '-' ? 1 : 0;
        const std::size_t digitsFrom = i;
        std::uint64_t digits = 0;  // every digit, the point left out; exact up to 19 of them
        const auto digitRun = [&] {
            for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) digits = digits * 10 + static_cast<unsigned>(s[i] - '0');
        };
        digitRun();
        bool plain = i > digitsFrom;
        int places = 0;
        if (plain && i < s.size() && s[i] == '.') {
            ++i;
            const std::size_t from = i;
            digitRun();
            places = static_cast<int>(i - from);
            plain = places > 0;
        }
        if (!plain || i != s.size()) {
            fault(column, quotedValue(s) + " is not a decimal number (like 1234.56)");
            return 0;
        }
        if (decimals >= 0 && places > decimals) {
            fault(column, shownValue(s) + " has more than " + std::to_string(decimals) + " decimals");
            return 0;
        }
        double value = 0;
        // Up to 15 digits the number and each power of ten are exact doubles, and one division
        // rounds as reading the text does: to the double nearest the decimal.
        if (i - digitsFrom - (places > 0 ? 1 : 0) <= 15) {
            value = static_cast<double>(digits) / kPowersOfTen[places];
            if (digitsFrom == 1) value = -value;
        } else {
            std::from_chars(s.data(), s.data() + s.size(), value);
        }
        const auto single = static_cast<float>(value);
        if (!text::holdsEveryCent(single)) {
            fault(column, shownValue(s) + " is beyond " + centsText(text::kCentExactLimit) +
                              ", past which the control cannot hold every cent");
            return 0;
        }
        return single;
    }

    bool flag(int column) {
        const std::string_view s = raw(column);
        if (s.empty() || s == "0" || sameName(s, "false")) return false;
        if (s == "1" || sameName(s, "true")) return true;
        fault(column, quotedValue(s) + " is not a flag (0, 1, true or false)");
        return false;
    }

    std::string text(int column) { return std::string(textView(column)); }
    std::string_view textView(int column) {
        const std::string_view s = raw(column);
        if (s.empty()) {
            missing(column);
            return {};
        }
        if (s.size() > kMaxTextBytes) fault(column, "longer than " + std::to_string(kMaxTextBytes) + " bytes");
        else if (!cleanText(s)) fault(column, "not UTF-8 text, or holds a control character");
        return s;
    }

    // "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS", stored in the second form; empty when not given.
    std::string date(int column) {
        const std::string_view s = raw(column);
        if (s.empty()) {
            missing(column);
            return {};
        }
        const auto t = parseTimestamp(s);
        if (!t || s.size() < 10 || s[4] != '-') {
            fault(column, quotedValue(s) + " is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)");
            return {};
        }
        return isoText(*t);
    }

    // The same into `out`, the last date read kept in `memo`: a file's dates are mostly the same
    // few, and a charge's field keeps its room from one line to the next.
    void date(int column, std::string& out, DateMemo& memo) {
        const std::string_view s = raw(column);
        if (!s.empty() && s == memo.read) {
            out = memo.stored;
            return;
        }
        out = date(column);
        if (out.empty()) return;
        memo.read = s;
        memo.stored = out;
    }

private:
    // Notes an empty required field; true when it was required.
    bool missing(int column) {
        if (!columns_[static_cast<std::size_t>(column)].required) return false;
        fault(column, "empty, and it is required");
        return true;
    }

    const std::string& file_;
    std::size_t number_;
    std::span<const ColumnSpec> columns_;
    const std::vector<int>& at_;
    const std::vector<std::string>& fields_;
    Faults& faults_;
    bool ok_ = true;
};

// A member's charges, and those of the next few members, in one block of slots (key_table.h):
// the block is told by the rest of the member's id, the center and the upper bits of the
// source and sequence.
struct ChargeKeyHash {
    std::uint64_t operator()(const ChargeKey& k) const {
        const auto member = static_cast<std::uint32_t>(k.memberId);
        const auto source = static_cast<std::uint16_t>(k.source);
        const auto sequence = static_cast<std::uint16_t>(k.sweepSequence);
        const std::uint64_t block =
            ((static_cast<std::uint64_t>(member >> 4) << 32 | static_cast<std::uint32_t>(k.centerId)) *
             0xC2B2AE3D27D4EB4Full) ^
            (static_cast<std::uint64_t>(source >> 2) << 16 | sequence >> 2);
        return block << kBlockBits | (member & 15) << 2 | ((source + sequence) & 3);
    }
};

std::string chargeName(const ChargeKey& k) {
    return "member " + std::to_string(k.memberId) + " at center " + std::to_string(k.centerId) + ", source " +
           std::to_string(k.source) + ", sequence " + std::to_string(k.sweepSequence);
}

const char* stateText(std::int64_t state) {
    switch (static_cast<ChargeState>(state)) {
        case ChargeState::Saved: return "already saved";
        case ChargeState::Exported: return "already exported in a batch";
        case ChargeState::Cleared: return "already cleared";
        case ChargeState::InSweep: break;
    }
    return "out of the sweep";
}

// The whole import: the statements it runs and what it has seen so far.
class Importer {
public:
    Importer(Store& store, ImportReport& report) : store_(store), db_(store.db()), report_(report) {
        Statement ids = db_.prepare("SELECT id FROM centers");
        while (ids.step()) centers_.tryEmplace(static_cast<std::int32_t>(ids.integer(0)), {});
        ids = db_.prepare("SELECT id FROM members");
        while (ids.step()) members_.tryEmplace(static_cast<std::int32_t>(ids.integer(0)), {});
        // What is known to be new is not looked up line by line: a round trip each on PostgreSQL.
        ids = db_.prepare("SELECT member_id, center_id, source, sweep_sequence FROM charges");
        while (ids.step())
            storedCharges_.tryEmplace({static_cast<std::int32_t>(ids.integer(0)), static_cast<std::int32_t>(ids.integer(1)),
                                       static_cast<std::int16_t>(ids.integer(2)), static_cast<std::int16_t>(ids.integer(3))},
                                      {});
        centerGet_ = db_.prepare(
            "SELECT c.name, c.country, a.routing, a.institution, a.transit, a.account, a.account_type "
            "FROM centers c LEFT JOIN center_accounts a ON a.center_id = c.id WHERE c.id = ?1");
        // Asked only when a center's country would change: members have no index by center.
        centerInUse_ = db_.prepare(
            "SELECT EXISTS (SELECT 1 FROM members WHERE center_id = ?1) OR EXISTS (SELECT 1 FROM charges WHERE center_id = ?1)");
        centerUpdate_ = db_.prepare("UPDATE centers SET name = ?2, country = ?3 WHERE id = ?1");
        memberGet_ = db_.prepare(
            "SELECT name, center_id, member_type, subscription, tax_exempt, down_payment, COALESCE(contract_signed, '') "
            "FROM members WHERE id = ?1");
        memberUpdate_ = db_.prepare(
            "UPDATE members SET name = ?2, center_id = ?3, member_type = ?4, subscription = ?5, tax_exempt = ?6, "
            "down_payment = ?7, contract_signed = ?8 WHERE id = ?1");
        chargeGet_ = db_.prepare(
            "SELECT id, state, source_description, sweep_date, type, conversion_rate, royalty, nac, royalty_reserve, "
            "franchise_fee, franchise_fee_reserve, gst, pst, nmc_payment, trust_id FROM charges "
            "WHERE member_id = ?1 AND center_id = ?2 AND source = ?3 AND sweep_sequence = ?4");
        chargeUpdate_ = db_.prepare(
            "UPDATE charges SET source_description = ?2, sweep_date = ?3, type = ?4, conversion_rate = ?5, royalty = ?6, "
            "nac = ?7, royalty_reserve = ?8, franchise_fee = ?9, franchise_fee_reserve = ?10, gst = ?11, pst = ?12, "
            "nmc_payment = ?13, trust_id = ?14 WHERE id = ?1 AND state = 0");
    }

    void readFile(const std::filesystem::path& file, ImportTable table) {
        const std::string name = escapedText(file.string());
        const std::span<const ColumnSpec> columns = columnsOf(table);
        std::vector<int> at(columns.size(), -1);
        std::size_t width = 0;
        ImportCounts& counts = report_.tables[static_cast<std::size_t>(table)];
        files_.push_back(name);
        // Room for a line of every 64 bytes at once: growing a table of a million keys step by
        // step moves every key again at each step.
        std::error_code sizeUnknown;
        const auto lines = static_cast<std::size_t>(std::filesystem::file_size(file, sizeUnknown) / 64);
        if (!sizeUnknown && table == ImportTable::Charges) chargeLines_.reserve(chargeLines_.size() + lines);
        if (!sizeUnknown && table == ImportTable::Members) {
            // A member's line is shorter: room for one of every 32 bytes.
            members_.reserve(members_.size() + 2 * lines);
            memberLines_.reserve(memberLines_.size() + 2 * lines);
            newMembers_.reserve(newMembers_.size() + 2 * lines);
        }
        readCsv(file, [&](const CsvRecord& r) {
            if (width == 0) {
                width = r.fields.size();
                readHeader(name, r.line, columns, r.fields, at);
                return;
            }
            Line line(name, r.line, columns, at, r.fields, faults_);
            if (r.fields.size() != width) {
                line.rowFault(std::to_string(r.fields.size()) + " fields where the header has " + std::to_string(width));
            } else {
                switch (table) {
                    case ImportTable::Centers: center(line, counts); break;
                    case ImportTable::Members: member(line, counts); break;
                    case ImportTable::Charges: charge(line, counts); break;
                }
            }
            if (!line.ok()) ++counts.refused;
        });
    }

    Faults& faults() { return faults_; }

private:
    void readHeader(const std::string& file, std::size_t number, std::span<const ColumnSpec> columns,
                    const std::vector<std::string>& header, std::vector<int>& at) {
        const auto line = static_cast<std::int64_t>(number);
        for (std::size_t i = 0; i < header.size(); ++i) {
            std::size_t c = 0;
            while (c < columns.size() && !sameName(columns[c].name, header[i])) ++c;
            if (c == columns.size()) faults_.add({file, line, shownValue(header[i]), "not a column of this table"});
            else if (at[c] >= 0) faults_.add({file, line, shownValue(header[i]), "named twice in the header"});
            else at[c] = static_cast<int>(i);
        }
        for (std::size_t c = 0; c < columns.size(); ++c)
            if (columns[c].required && at[c] < 0)
                faults_.add({file, line, std::string(columns[c].name), "missing from the header"});
    }

    void center(Line& line, ImportCounts& counts) {
        const auto id = static_cast<std::int32_t>(line.whole(cCenterId, 1, kMaxId));
        const std::string name = line.text(cName);
        const auto country = static_cast<int>(line.whole(cCountry, 1, 2));
        std::optional<bank::BankAccount> account;
        if (!line.raw(cAccount).empty() && country != 0) {
            bank::BankAccount a;
            a.routing = std::string(line.raw(cRouting));
            a.institution = std::string(line.raw(cInstitution));
            a.transit = std::string(line.raw(cTransit));
            a.number = std::string(line.raw(cAccount));
            const std::string_view type = line.raw(cAccountType);
            if (sameName(type, "checking")) a.type = bank::AccountType::Checking;
            else if (sameName(type, "savings")) a.type = bank::AccountType::Savings;
            else line.fault(cAccountType, quotedValue(type) + " is not checking or savings");
            if (country == 1) {
                if (!bank::validRoutingNumber(a.routing))
                    line.fault(cRouting, quotedValue(a.routing) + " is not a routing number (9 digits, the last a check digit)");
                if (!a.institution.empty() || !a.transit.empty())
                    line.fault(a.institution.empty() ? cTransit : cInstitution, "given for a United States center");
            } else {
                if (!bank::allDigits(a.institution, 3, 3))
                    line.fault(cInstitution, quotedValue(a.institution) + " is not an institution number (3 digits)");
                if (!bank::allDigits(a.transit, 5, 5))
                    line.fault(cTransit, quotedValue(a.transit) + " is not a transit number (5 digits)");
                if (!a.routing.empty()) line.fault(cRouting, "given for a Canadian center");
            }
            if (line.ok())
                if (const std::string fault = bank::accountFault(a, country); !fault.empty()) line.fault(cAccount, fault);
            account = std::move(a);
        } else if (!line.raw(cRouting).empty() || !line.raw(cInstitution).empty() || !line.raw(cTransit).empty()) {
            line.fault(cAccount, "empty, while the bank's numbers are given");
        }
        if (!line.ok()) return;
        if (!firstTime(centerLines_, id, line, cCenterId, "center")) return;

        auto& get = centerGet_.reuse().bind(1, id);
        if (!get.step()) {
            get.reuse();
            store_.insertCenter({id, name, country});
            if (account) store_.setCenterAccount(id, *account);
            centers_.tryEmplace(id, {});
            ++counts.added;
            return;
        }
        const bool sameCenter = get.text(0) == name && get.integer(1) == country;
        const bool sameAccount =
            !account || (!get.isNull(5) && get.text(2) == account->routing && get.text(3) == account->institution &&
                         get.text(4) == account->transit && get.text(5) == account->number &&
                         get.integer(6) == static_cast<int>(account->type));
        const std::int64_t storedCountry = get.integer(1);
        get.reuse();
        if (storedCountry != country && inUse(id)) {
            line.fault(cCountry, "center " + std::to_string(id) + " has members or charges; its country stays " +
                                     std::to_string(storedCountry));
            return;
        }
        if (sameCenter && sameAccount) {
            ++counts.unchanged;
            return;
        }
        if (!sameCenter) centerUpdate_.reuse().bind(1, id).bind(2, name).bind(3, country).run();
        if (!sameAccount) {
            store_.setCenterAccount(id, *account);
            // The corrected account ends a block a return put on the old one.
            store_.liftHolds(id, HoldKind::Account, isoText(localNow()), "import", "account corrected by import");
        }
        ++counts.changed;
    }

    void member(Line& line, ImportCounts& counts) {
        MemberRow m;
        m.id = static_cast<std::int32_t>(line.whole(mMemberId, 1, kMaxId));
        m.name = line.text(mName);
        m.centerId = static_cast<std::int32_t>(line.whole(mCenterId, 1, kMaxId));
        m.memberType = static_cast<std::int16_t>(line.whole(mMemberType, 0, kMaxShort));
        m.subscription = line.flag(mSubscription);
        m.salesTaxExempt = line.flag(mTaxExempt);
        m.downPayment = line.flag(mDownPayment);
        m.contractSigned = line.date(mContract);
        if (m.centerId > 0 && !centers_.contains(m.centerId))
            line.fault(mCenterId, "no center " + std::to_string(m.centerId) + " in the database or the import");
        if (!line.ok()) return;
        if (!firstTime(memberLines_, m.id, line, mMemberId, "member")) return;

        // A member known to be new is not asked for.
        if (!members_.contains(m.id) || !memberGet_.reuse().bind(1, m.id).step()) {
            members_.tryEmplace(m.id, {});
            newMembers_.push_back(std::move(m));
            ++counts.added;
            return;
        }
        auto& get = memberGet_;
        const bool same = get.text(0) == m.name && get.integer(1) == m.centerId && get.integer(2) == m.memberType &&
                          (get.integer(3) != 0) == m.subscription && (get.integer(4) != 0) == m.salesTaxExempt &&
                          (get.integer(5) != 0) == m.downPayment && get.text(6) == m.contractSigned;
        get.reuse();
        if (same) {
            ++counts.unchanged;
            return;
        }
        auto& s = memberUpdate_.reuse();
        s.bind(1, m.id).bind(2, m.name).bind(3, m.centerId).bind(4, int{m.memberType}).bind(5, int{m.subscription});
        s.bind(6, int{m.salesTaxExempt}).bind(7, int{m.downPayment});
        if (m.contractSigned.empty()) s.bindNull(8);
        else s.bind(8, m.contractSigned);
        s.run();
        ++counts.changed;
    }

    void charge(Line& line, ImportCounts& counts) {
        ChargeRow& c = nextCharge();
        c.key.memberId = static_cast<std::int32_t>(line.whole(hMemberId, 1, kMaxId));
        c.key.centerId = static_cast<std::int32_t>(line.whole(hCenterId, 1, kMaxId));
        c.key.source = static_cast<std::int16_t>(line.whole(hSource, 1, kMaxShort));
        c.key.sweepSequence = static_cast<std::int16_t>(line.whole(hSequence, 1, kMaxShort));
        c.sourceDescription = line.textView(hDescription);
        line.date(hSweepDate, c.sweepDate, dates_);
        c.type = static_cast<std::int16_t>(line.whole(hType, 1, 3));
        Amounts& a = c.amounts;
        a.conversionRate = line.amount(hRate, -1, 1.0f);
        if (line.present(hRate) && !line.raw(hRate).empty() && !(a.conversionRate > 0 && a.conversionRate < kMaxConversionRate))
            line.fault(hRate, shownValue(line.raw(hRate)) + " is not a rate above 0 and below 1000");
        a.royalty = line.amount(hRoyalty, 2);
        a.nac = line.amount(hNac, 2);
        a.royaltyReserve = line.amount(hRoyaltyReserve, 2);
        a.franchiseFee = line.amount(hFranchiseFee, 2);
        a.franchiseFeeReserve = line.amount(hFranchiseFeeReserve, 2);
        a.gst = line.amount(hGst, -1);
        a.pst = line.amount(hPst, -1);
        a.nmcPayment = line.amount(hNmc, 2);
        c.trustId = static_cast<std::int32_t>(line.whole(hTrust, 0, kMaxId));
        if (c.key.memberId > 0 && !members_.contains(c.key.memberId))
            line.fault(hMemberId, "no member " + std::to_string(c.key.memberId) + " in the database or the import");
        if (c.key.centerId > 0 && !centers_.contains(c.key.centerId))
            line.fault(hCenterId, "no center " + std::to_string(c.key.centerId) + " in the database or the import");
        if (!line.ok()) return;
        const auto [first, fresh] = chargeLines_.tryEmplace(c.key, placeOf(line));
        if (!fresh) {
            line.rowFault("the charge of " + chargeName(c.key) + " is already on " + placeOf(*first));
            return;
        }

        auto& get = chargeGet_;
        if (!storedCharges_.contains(c.key) ||
            !get.reuse().bind(1, c.key.memberId).bind(2, c.key.centerId).bind(3, int{c.key.source})
                 .bind(4, int{c.key.sweepSequence}).step()) {
            keepCharge();
            ++counts.added;
            return;
        }
        const std::int64_t id = get.integer(0);
        const std::int64_t state = get.integer(1);
        const auto single = [&get](int column) { return static_cast<float>(get.real(column)); };
        const bool same = get.text(2) == c.sourceDescription && get.text(3) == c.sweepDate && get.integer(4) == c.type &&
                          single(5) == a.conversionRate && single(6) == a.royalty && single(7) == a.nac &&
                          single(8) == a.royaltyReserve && single(9) == a.franchiseFee &&
                          single(10) == a.franchiseFeeReserve && single(11) == a.gst && single(12) == a.pst &&
                          single(13) == a.nmcPayment && get.integer(14) == c.trustId;
        get.reuse();
        if (state != static_cast<int>(ChargeState::InSweep)) {
            ++counts.skipped;
            if (report_.skips.size() < kMaxImportLines)
                report_.skips.push_back(
                    line.note({}, "the charge of " + chargeName(c.key) + ": " + stateText(state) + "; left as it is"));
            return;
        }
        if (same) {
            ++counts.unchanged;
            return;
        }
        auto& s = chargeUpdate_.reuse();
        s.bind(1, id).bind(2, c.sourceDescription).bind(3, c.sweepDate).bind(4, int{c.type});
        s.bind(5, double{a.conversionRate}).bind(6, double{a.royalty}).bind(7, double{a.nac});
        s.bind(8, double{a.royaltyReserve}).bind(9, double{a.franchiseFee}).bind(10, double{a.franchiseFeeReserve});
        s.bind(11, double{a.gst}).bind(12, double{a.pst}).bind(13, double{a.nmcPayment}).bind(14, c.trustId);
        s.run();
        ++counts.changed;
    }

    // A line of the file being read, packed as file index << 40 | line: kept for every key.
    std::uint64_t placeOf(const Line& line) const {
        return (static_cast<std::uint64_t>(files_.size() - 1) << 40) | line.number();
    }
    // "file:line" of a packed place.
    std::string placeOf(std::uint64_t place) const {
        return files_[static_cast<std::size_t>(place >> 40)] + ":" + std::to_string(place & ((1ull << 40) - 1));
    }

    // Whether the key is met for the first time in this import; names the earlier line if not.
    bool firstTime(IdTable<std::uint64_t>& seen, std::int32_t id, Line& line, int column,
                   const char* what) {
        const auto [earlier, fresh] = seen.tryEmplace(id, placeOf(line));
        if (fresh) return true;
        line.fault(column, std::string(what) + " " + std::to_string(id) + " is already on " + placeOf(*earlier));
        return false;
    }

public:
    // The new members and charges go in at once (a COPY each on PostgreSQL), after every line
    // was read: the centers went in as they came, and nothing read later looks a new member or
    // charge up in the database.
    void finish() {
        insertNewMembers();
        newCharges_.resize(pendingCharges_);
        if (chargeLoad_) {
            chargeLoad_->add(newCharges_, pendingCharges_);
            chargeLoad_->finish();
        } else if (!newCharges_.empty()) {
            store_.insertCharges(newCharges_);
        }
        newCharges_.clear();
        pendingCharges_ = 0;
    }

private:
    // The new charges go in a part at a time, each part's rows read into the room the last
    // one left: a million never stand in memory at once, nor allocate a field each.
    static constexpr std::size_t kChargePart = 4096;

    // Where the next charge is read into; kept by keepCharge.
    ChargeRow& nextCharge() {
        if (pendingCharges_ == newCharges_.size()) newCharges_.emplace_back();
        return newCharges_[pendingCharges_];
    }
    void keepCharge() {
        if (++pendingCharges_ < kChargePart) return;
        if (!chargeLoad_) {
            // Every members file is read before the first of charges: the members are all known.
            insertNewMembers();
            chargeLoad_.emplace(store_);
        }
        chargeLoad_->add(newCharges_, pendingCharges_);
        pendingCharges_ = 0;
    }
    void insertNewMembers() {
        if (!newMembers_.empty()) store_.insertMembers(newMembers_);
        newMembers_.clear();
    }

    std::vector<MemberRow> newMembers_;
    std::vector<ChargeRow> newCharges_;
    std::size_t pendingCharges_ = 0;
    std::optional<Store::ChargeLoad> chargeLoad_;
    DateMemo dates_;
    Store& store_;
    Database& db_;
    ImportReport& report_;
    Faults faults_;
    IdTable<char> centers_, members_;
    IdTable<std::uint64_t> centerLines_, memberLines_;  // where each was met
    KeyTable<ChargeKey, std::uint64_t, ChargeKeyHash> chargeLines_;
    KeyTable<ChargeKey, char, ChargeKeyHash> storedCharges_;
    std::vector<std::string> files_;
    bool inUse(std::int32_t center) {
        auto& s = centerInUse_.reuse().bind(1, center);
        s.step();
        const bool used = s.integer(0) != 0;
        s.reuse();
        return used;
    }

    Statement centerGet_, centerInUse_, centerUpdate_, memberGet_, memberUpdate_, chargeGet_, chargeUpdate_;
};

ImportNote csvNote(const CsvError& e) {
    return {escapedText(e.file), static_cast<std::int64_t>(e.line), e.line > 0 ? "row" : "", e.reason};
}

}  // namespace

std::string ImportNote::text() const {
    return file + (line > 0 ? ":" + std::to_string(line) : "") + ": " + (column.empty() ? "" : column + ": ") + reason;
}

ImportReport importCsv(Store& store, const std::vector<std::filesystem::path>& files, bool dryRun) {
    ImportReport report;
    const Store::ImportSettings settings(store, !dryRun);
    Transaction t(store.db(), Transaction::Mode::Write);
    Importer importer(store, report);
    Faults& faults = importer.faults();
    // Centers before the members that name them, members before their charges.
    std::vector<std::pair<ImportTable, std::filesystem::path>> ordered;
    for (const std::filesystem::path& file : files) {
        struct HeaderRead {};
        std::optional<ImportTable> table;
        try {
            readCsv(file, [&table](const CsvRecord& r) {
                table = tableOf(r.fields);
                throw HeaderRead{};
            });
            faults.add({escapedText(file.string()), 1, "header", "the file is empty"});
        } catch (const HeaderRead&) {
            if (table) ordered.emplace_back(*table, file);
            else
                faults.add({escapedText(file.string()), 1, "header",
                            "names no table (centers have Country, members MemberID, charges Source)"});
        } catch (const CsvError& e) {
            faults.add(csvNote(e));
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [table, file] : ordered) {
        try {
            importer.readFile(file, table);
        } catch (const CsvError& e) {
            faults.add(csvNote(e));
        }
    }
    importer.finish();
    report.faultCount = faults.count;
    report.faults = std::move(faults.lines);
    if (report.faultCount == 0 && !dryRun) {
        t.commit();
        report.written = true;
    }
    return report;
}

std::string importReportText(const ImportReport& report, bool dryRun) {
    std::string out;
    if (report.faultCount > 0)
        out = "Refused, nothing was written: " + std::to_string(report.faultCount) + " fault" +
              (report.faultCount == 1 ? "" : "s") + (dryRun ? " (dry run)" : "") + ".\n";
    else if (!report.written)
        out = "Dry run, nothing was written; an import would do this:\n";
    else
        out = "Imported.\n";
    for (std::size_t t = 0; t < report.tables.size(); ++t) {
        const ImportCounts& c = report.tables[t];
        out += std::string(kImportTableNames[t]) + ": " + std::to_string(c.added) + " added, " +
               std::to_string(c.changed) + " changed, " + std::to_string(c.unchanged) + " unchanged, " +
               std::to_string(c.skipped) + " skipped, " + std::to_string(c.refused) + " refused\n";
    }
    for (const ImportNote& note : report.faults) out += note.text() + "\n";
    if (report.faultCount > static_cast<std::int64_t>(report.faults.size()))
        out += "... and " + std::to_string(report.faultCount - static_cast<std::int64_t>(report.faults.size())) +
               " more faults\n";
    for (const ImportNote& note : report.skips) out += note.text() + "\n";
    const std::int64_t skipped = report.tables[static_cast<std::size_t>(ImportTable::Charges)].skipped;
    if (skipped > static_cast<std::int64_t>(report.skips.size()))
        out += "... and " + std::to_string(skipped - static_cast<std::int64_t>(report.skips.size())) +
               " more charges left as they are\n";
    return out;
}

}  // namespace eft::server

namespace eft::server {

std::vector<output::Records> importRecords(const ImportReport& report, bool dryRun) {
    using output::Value;
    output::Records import{"import", {"dry_run", "written", "faults"}, {}};
    import.add({dryRun, report.written, report.faultCount});
    output::Records tables{"tables", {"table", "added", "changed", "unchanged", "skipped", "refused"}, {}};
    for (std::size_t t = 0; t < report.tables.size(); ++t) {
        const ImportCounts& c = report.tables[t];
        tables.add({std::string(kImportTableNames[t]), c.added, c.changed, c.unchanged, c.skipped, c.refused});
    }
    std::vector<output::Records> all{std::move(import), std::move(tables)};
    for (const auto& [kind, notes] : {std::pair{"faults", &report.faults}, std::pair{"skips", &report.skips}}) {
        output::Records r{kind, {"file", "line", "column", "reason"}, {}};
        for (const ImportNote& n : *notes)
            r.add({n.file, n.line > 0 ? Value{n.line} : Value{}, n.column.empty() ? Value{} : Value{n.column}, n.reason});
        all.push_back(std::move(r));
    }
    return all;
}

}  // namespace eft::server
