#include "sweep_generator.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "server/store/random.h"

namespace eft::bench {
namespace {

using server::Random;

using Names = std::array<std::string_view, 16>;

// UTF-8 accents and apostrophes appear as they do in real member and center names.
constexpr Names kFirst = {"Mary",    "Linda",  "Susan",   "Karen",   "Hélène", "Nancy",    "Lisa",  "Donna",
                          "Michelle", "Sandra", "Josée",  "Carol",   "Amanda", "Geneviève", "Ruth", "Sharon"};
constexpr Names kLast = {"Smith",  "Johnson", "O'Brien", "Williams", "Bérubé", "Brown", "Tremblay", "Davis",
                         "Miller", "Wilson",  "Côté",    "Anderson", "Taylor", "Gagnon", "Martin",  "Thompson"};
constexpr Names kCities = {"Springfield", "Riverside", "Franklin", "Greenville", "Bristol",   "Clinton",
                           "Fairview",    "Salem",     "Madison",  "Georgetown", "Arlington", "Ashland",
                           "Dover",       "Oxford",    "Jackson",  "Burlington"};

struct Center {
    std::int32_t id;
    std::string name;
    int rateTenThousandths;  // Canadian centers convert at their own rate
    std::size_t rows;
};

// Cents as the server writes a single: no trailing zeros, no point for whole amounts.
void appendMoney(std::string& out, std::int64_t cents) {
    if (cents < 0) {
        out += '-';
        cents = -cents;
    }
    out += std::to_string(cents / 100);
    const int frac = static_cast<int>(cents % 100);
    if (frac == 0) return;
    out += '.';
    out += static_cast<char>('0' + frac / 10);
    if (frac % 10 != 0) out += static_cast<char>('0' + frac % 10);
}

void appendRate(std::string& out, int tenThousandths) {
    out += std::to_string(tenThousandths / 10000);
    int frac = tenThousandths % 10000;
    if (frac == 0) return;
    char digits[4];
    for (int k = 3; k >= 0; --k, frac /= 10) digits[k] = static_cast<char>('0' + frac % 10);
    std::string_view d(digits, 4);
    while (d.back() == '0') d.remove_suffix(1);
    out += '.';
    out += d;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
}

// One field line: indentation, element, CRLF.
class RowWriter {
public:
    explicit RowWriter(std::string& out) : out_(out) {}
    void open(std::string_view name) {
        out_ += "\t\t<";
        out_ += name;
        out_ += '>';
    }
    void close(std::string_view name) {
        out_ += "</";
        out_ += name;
        out_ += ">\r\n";
    }
    void text(std::string_view name, std::string_view value) {
        open(name);
        appendEscaped(out_, value);
        close(name);
    }
    void integer(std::string_view name, std::int64_t value) {
        open(name);
        out_ += std::to_string(value);
        close(name);
    }
    void money(std::string_view name, std::int64_t cents) {
        open(name);
        appendMoney(out_, cents);
        close(name);
    }
    void boolean(std::string_view name, bool value) { text(name, value ? "true" : "false"); }

private:
    std::string& out_;
};

std::string isoDate(int year, int month, int day) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT00:00:00", year, month, day);
    return buf;
}

std::int64_t percentOf(std::int64_t cents, int percent) { return (cents * percent + 50) / 100; }

std::vector<Center> planCenters(Random& rng, const SweepReplyOptions& o) {
    const int count = o.centers < 1 ? 1 : o.centers;
    std::vector<Center> centers;
    std::vector<double> weight;
    double total = 0;
    std::int32_t id = 100;
    for (int k = 0; k < count; ++k) {
        id += rng.between(1, 9);  // ids with gaps, as centers open and close
        std::string name = rng.chance(8) ? std::string(rng.pick(kLast)) + " & Sons Fitness"
                                         : "Wellness Center " + std::string(rng.pick(kCities));
        if (rng.chance(30)) name += " " + std::to_string(rng.between(2, 9));
        centers.push_back({id, std::move(name), o.country == 2 ? rng.between(12500, 13400) : 10000, 0});
        weight.push_back(0.4 + static_cast<double>(rng.between(0, 1200)) / 1000.0);
        total += weight.back();
    }
    std::size_t given = 0;
    for (std::size_t k = 0; k < centers.size(); ++k) {
        centers[k].rows = static_cast<std::size_t>(std::floor(static_cast<double>(o.rows) * weight[k] / total));
        given += centers[k].rows;
    }
    for (std::size_t k = 0; given < o.rows; k = (k + 1) % centers.size(), ++given) ++centers[k].rows;
    return centers;
}

}  // namespace

std::string makeSweepReply(const SweepReplyOptions& o) {
    Random rng(o.seed);
    const bool canada = o.country == 2;
    const std::vector<Center> centers = planCenters(rng, o);

    std::string out;
    out.reserve(256 + o.rows * 1100);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Sweep>\r\n";
    RowWriter w(out);
    std::int32_t memberId = 100'000;
    for (const Center& c : centers) {
        std::size_t left = c.rows;
        while (left > 0) {
            // A member brings one to three charges of one sweep.
            ++memberId;
            const std::string name = std::string(rng.pick(kFirst)) + " " + std::string(rng.pick(kLast));
            const bool exempt = rng.chance(10);
            const bool subscription = rng.chance(20);
            const bool downPayment = rng.chance(35);
            const int memberType = rng.between(1, 3);
            const bool hasContract = !rng.chance(3);
            const std::string contract = isoDate(rng.between(2005, 2010), rng.between(1, 12), rng.between(1, 28));
            const std::int32_t trust = rng.chance(25) ? rng.between(100, 999) : 0;
            const int charges = static_cast<int>(std::min<std::size_t>(left, static_cast<std::size_t>(rng.between(1, 3))));
            for (int seq = 1; seq <= charges; ++seq, --left) {
                const bool nmc = rng.chance(10);
                const int type = nmc ? 2 : (rng.chance(89) ? 1 : 3);
                std::int64_t royalty = 0, nac = 0, royaltyReserve = 0, fee = 0, feeReserve = 0, nmcPayment = 0;
                const char* description = "Membership dues";
                if (nmc) {
                    nmcPayment = rng.between(4000, 40000);
                    description = "NMC payment";
                } else {
                    royalty = rng.between(1900, 14900);
                    royaltyReserve = percentOf(royalty, 5);
                    if (rng.chance(15)) {
                        nac = rng.between(2500, 9900);
                        description = "New account charge";
                    }
                    if (rng.chance(5)) {
                        fee = rng.between(25000, 150000);
                        feeReserve = percentOf(fee, 10);
                        description = "Franchise fee";
                    }
                }
                // Canadian type-1 rows carry the tax rates; the totals are what the server sums.
                const int gstPermille = canada && type == 1 ? 50 : 0;
                const int pstPermille = canada && type == 1 ? 80 : 0;
                const double rate = type == 3 ? 1.0 : c.rateTenThousandths / 10000.0;
                const double base = static_cast<double>(royalty - royaltyReserve + nac + fee - feeReserve) * rate;
                const double taxed = exempt ? base : base * (1000 + gstPermille + pstPermille) / 1000.0;
                const std::int64_t in = std::llround(taxed);
                const std::int64_t outTotal = -std::llround(static_cast<double>(nmcPayment) * rate);

                out += "\t<Row>\r\n";
                w.integer("MemberID", memberId);
                w.text("MemberName", name);
                w.integer("CenterID", c.id);
                w.text("CenterName", c.name);
                if (hasContract) w.text("ContractSigned", contract);
                w.open("ConversionRate");
                appendRate(out, c.rateTenThousandths);
                w.close("ConversionRate");
                w.money("Royalty", royalty);
                w.money("NAC", nac);
                w.money("RoyaltyReserve", royaltyReserve);
                w.money("FranchiseFee", fee);
                w.money("FranchiseFeeReserve", feeReserve);
                w.boolean("SalesTaxExempt", exempt);
                w.integer("Source", nmc ? 2 : 1);
                w.text("SourceDescription", description);
                w.open("GST");
                out += gstPermille ? "0.05" : "0";
                w.close("GST");
                w.open("PST");
                out += pstPermille ? "0.08" : "0";
                w.close("PST");
                w.money("NMCPayment", nmcPayment);
                w.integer("SweepSequence", seq);
                w.text("SweepDate", isoDate(2011, 3, seq == 1 ? 1 : 15));
                w.integer("Type", type);
                w.integer("TrustID", trust);
                w.money("INRowTotal", in);
                w.money("OUTRowTotal", outTotal);
                w.integer("MemberType", memberType);
                w.boolean("SubscriptionMembership", subscription);
                w.boolean("DownPayment", downPayment);
                out += "\t</Row>\r\n";
            }
        }
    }
    out += "</Sweep>\r\n";
    return out;
}

}  // namespace eft::bench
