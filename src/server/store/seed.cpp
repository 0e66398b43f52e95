#include "server/store/seed.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "server/bank/bank_text.h"
#include "server/store/random.h"
#include "server/store/store.h"
#include "text/text_forms.h"

namespace eft::server {
namespace {

struct City {
    const char* name;
    float pstRate = 0;  // 0 for the United States and provinces without one
    bool french = false;
};

constexpr City kUsCities[] = {
    {"Albany"},     {"Atlanta"},      {"Austin"},       {"Baltimore"},    {"Birmingham"},  {"Boise"},
    {"Boston"},     {"Buffalo"},      {"Charlotte"},    {"Chicago"},      {"Cincinnati"},  {"Cleveland"},
    {"Columbus"},   {"Dallas"},       {"Denver"},       {"Des Moines"},   {"Detroit"},     {"El Paso"},
    {"Fresno"},     {"Hartford"},     {"Houston"},      {"Indianapolis"}, {"Jacksonville"}, {"Kansas City"},
    {"Las Vegas"},  {"Louisville"},   {"Memphis"},      {"Miami"},        {"Milwaukee"},   {"Minneapolis"},
    {"Nashville"},  {"Omaha"},        {"Orlando"},      {"Philadelphia"}, {"Phoenix"},     {"Pittsburgh"},
    {"Portland"},   {"Raleigh"},      {"Sacramento"},   {"San Antonio"},
};

constexpr City kCanadianCities[] = {
    {"Calgary", 0},          {"Edmonton", 0},        {"Halifax", 0.08f},   {"Hamilton", 0.08f},
    {"Kelowna", 0.07f},      {"Laval", 0.075f, true}, {"L\u00e9vis", 0.075f, true}, {"London", 0.08f},
    {"Montr\u00e9al", 0.075f, true}, {"Ottawa", 0.08f}, {"Qu\u00e9bec", 0.075f, true}, {"Regina", 0.05f},
    {"Saskatoon", 0.05f},    {"Trois-Rivi\u00e8res", 0.075f, true}, {"Winnipeg", 0.07f},
};

constexpr const char* kDistricts[] = {"Downtown", "North", "South", "East", "West", "Midtown", "Lakeside", "Riverside"};

constexpr const char* kFirstNames[] = {
    "James", "Mary", "Robert", "Patricia", "John", "Jennifer", "Michael", "Linda", "David", "Elizabeth",
    "William", "Barbara", "Richard", "Susan", "Joseph", "Jessica", "Thomas", "Sarah", "Carlos", "Maria",
    "Daniel", "Karen", "Matthew", "Nancy", "Anthony", "Lisa", "Mark", "Betty", "Kevin", "Angela"};
constexpr const char* kLastNames[] = {
    "Smith", "Johnson", "Williams", "Brown", "Jones", "Garcia", "Miller", "Davis", "Rodriguez", "Martinez",
    "Wilson", "Anderson", "Taylor", "Thomas", "Moore", "Jackson", "Martin", "Lee", "Thompson", "White",
    "Harris", "Clark", "Lewis", "Robinson", "Walker", "O'Brien", "Young", "Allen", "King", "Wright"};
constexpr const char* kFrenchFirstNames[] = {"H\u00e9l\u00e8ne", "Fran\u00e7ois", "Ren\u00e9e", "J\u00e9r\u00f4me",
                                             "Genevi\u00e8ve", "Luc", "Marie-\u00c8ve", "St\u00e9phane",
                                             "Chlo\u00e9", "No\u00ebl", "Isabelle", "Mathieu"};
constexpr const char* kFrenchLastNames[] = {"Tremblay", "Gagnon", "Roy", "C\u00f4t\u00e9", "Bouchard",
                                            "Gauthier", "Morin", "Lavoie", "Fortin", "Gagn\u00e9",
                                            "Ouellet", "B\u00e9langer"};

constexpr float kGstRate = 0.05f;

std::string isoDate(int year, int month, int day, int hour = 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:00:00", year, month, day, hour);
    return buf;
}

// A contract date between 2007 and 2010.
std::string contractDate(Random& rng) {
    return isoDate(rng.between(2007, 2010), rng.between(1, 12), rng.between(1, 28), 0);
}

float cents(float v) { return text::roundHalfEven2(v); }

struct CenterPlan {
    CenterRow row;
    float rate;     // conversion rate of the country's sweep for this center
    float pstRate;  // provincial rate
    bool paysOut;   // a center whose NMC payments outweigh what it brings in
    bool french;
};

void addMemberCharges(Store& store, Random& rng, const CenterPlan& c, const MemberRow& m, std::int32_t trustId) {
    const bool canada = c.row.country == 2;
    const std::string sweep1 = isoDate(2011, 3, 1, 6);
    const std::string sweep2 = isoDate(2011, 3, 15, 6);

    auto taxes = [&](ChargeRow& ch) {
        if (!canada) return;
        if (ch.type == 1 && !m.subscription) {
            ch.amounts.gst = kGstRate;  // rates on the converted royalty
            ch.amounts.pst = c.pstRate;
        } else {
            const float base = ch.type == 1 ? ch.amounts.conversionRate * ch.amounts.royalty : ch.amounts.royalty;
            ch.amounts.gst = cents(kGstRate * base);  // amounts, as billed
            ch.amounts.pst = cents(c.pstRate * base);
        }
    };

    // Monthly dues: one or two sweep sequences, usually converted (type 1), sometimes
    // billed in the center's own currency (type 3).
    const int dueSequences = rng.chance(30) ? 2 : 1;
    for (int seq = 1; seq <= dueSequences; ++seq) {
        ChargeRow ch;
        ch.key = {m.id, c.row.id, 1, static_cast<std::int16_t>(seq)};
        ch.sourceDescription = "Membership dues";
        ch.sweepDate = seq == 1 ? sweep1 : sweep2;
        ch.type = rng.chance(85) ? 1 : 3;
        ch.amounts.conversionRate = c.rate;
        ch.amounts.royalty = rng.dollars(19, 149);
        if (rng.chance(50)) ch.amounts.royaltyReserve = cents(ch.amounts.royalty * (rng.chance(50) ? 0.05f : 0.10f));
        taxes(ch);
        ch.trustId = trustId;
        store.insertCharge(ch);
    }
    // Enrollment: the NAC and the franchise fee of a new contract.
    if (rng.chance(20)) {
        ChargeRow ch;
        ch.key = {m.id, c.row.id, 3, 1};
        ch.sourceDescription = "Enrollment (NAC and franchise fee)";
        ch.sweepDate = sweep1;
        ch.type = 1;
        ch.amounts.conversionRate = c.rate;
        ch.amounts.royalty = rng.dollars(5, 25);
        ch.amounts.nac = rng.dollars(25, 99);
        ch.amounts.franchiseFee = rng.dollars(50, 250);
        if (rng.chance(40)) ch.amounts.franchiseFeeReserve = cents(ch.amounts.franchiseFee * 0.10f);
        taxes(ch);
        ch.trustId = trustId;
        store.insertCharge(ch);
    }
    // NMC payments go out to the center.
    if (rng.chance(c.paysOut ? 75 : 12)) {
        ChargeRow ch;
        ch.key = {m.id, c.row.id, 2, 1};
        ch.sourceDescription = "NMC payment";
        ch.sweepDate = sweep1;
        ch.type = 2;
        ch.amounts.conversionRate = c.rate;
        ch.amounts.nmcPayment = c.paysOut ? rng.dollars(250, 900) : rng.dollars(40, 400);
        ch.trustId = trustId;
        store.insertCharge(ch);
    }
}

constexpr const char* kInstitutions[] = {"001", "002", "003", "004", "006", "010", "815"};

std::string digits(Random& rng, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += static_cast<char>('0' + rng.below(10));
    return out;
}

}  // namespace

bank::BankAccount demoAccount(int country, std::uint64_t seed) {
    Random rng(seed * 7919 + 17);
    bank::BankAccount a;
    if (country == 2) {
        a.institution = rng.pick(kInstitutions);
        a.transit = digits(rng, 5);
        a.number = digits(rng, 7);
    } else {
        // Federal Reserve district prefixes 01..12 keep the number in the form banks expect.
        const int district = rng.between(1, 12);
        std::string firstEight = (district < 10 ? "0" : "") + std::to_string(district) + digits(rng, 6);
        a.routing = firstEight + static_cast<char>('0' + bank::routingCheckDigit(firstEight));
        a.number = digits(rng, rng.between(8, 12));
    }
    a.type = rng.chance(80) ? bank::AccountType::Checking : bank::AccountType::Savings;
    return a;
}

bool seedDemo(Store& store) {
    Transaction t(store.db(), Transaction::Mode::Write);
    if (!store.isEmpty()) return false;
    store.markDemo();
    Random rng(20110301);

    std::vector<CenterPlan> centers;
    int index = 0;
    for (const City& city : kUsCities) {
        CenterRow row{101 + 7 * index, std::string(city.name) + " " + rng.pick(kDistricts), 1};
        centers.push_back({row, 1.0f, 0.0f, index % 6 == 4, false});
        ++index;
    }
    index = 0;
    for (const City& city : kCanadianCities) {
        CenterRow row{501 + 11 * index, std::string(city.name) + " " + rng.pick(kDistricts), 2};
        const float rate = 1.25f + static_cast<float>(rng.below(9)) / 100.0f;
        centers.push_back({row, rate, city.pstRate, index % 5 == 2, city.french});
        ++index;
    }

    std::int32_t memberId = 10001;
    for (const CenterPlan& c : centers) {
        store.insertCenter(c.row);
        store.setCenterAccount(c.row.id, demoAccount(c.row.country, static_cast<std::uint64_t>(c.row.id)));
        const int members = rng.between(4, 12);
        for (int i = 0; i < members; ++i) {
            MemberRow m;
            m.id = memberId++;
            m.name = c.french ? std::string(rng.pick(kFrenchFirstNames)) + " " + rng.pick(kFrenchLastNames)
                            : std::string(rng.pick(kFirstNames)) + " " + rng.pick(kLastNames);
            m.centerId = c.row.id;
            m.memberType = static_cast<std::int16_t>(rng.between(1, 3));
            m.subscription = rng.chance(20);
            m.salesTaxExempt = rng.chance(10);
            m.downPayment = rng.chance(35);
            m.contractSigned = contractDate(rng);
            store.insertMember(m);
            const std::int32_t trustId = rng.chance(25) ? rng.between(100, 999) : 0;
            addMemberCharges(store, rng, c, m, trustId);
        }
    }
    t.commit();
    return true;
}

void seedSynthetic(Store& store, std::size_t charges, int country, std::size_t perCenter) {
    const std::size_t perCenterCount = perCenter == 0 ? 1 : perCenter;
    Transaction t(store.db(), Transaction::Mode::Write);
    // Ids go on from those already there, so both countries can share one database.
    Statement existing = store.db().prepare(
        "SELECT (SELECT COUNT(*) FROM centers WHERE country = ?1), (SELECT COALESCE(MAX(id), 0) FROM centers), "
        "(SELECT COALESCE(MAX(id), 100000) FROM members)");
    existing.bind(1, country);
    existing.step();
    if (existing.integer(0) != 0) throw StoreError("synthetic data goes into a database without centers of the country");
    auto centerId = static_cast<std::int32_t>(existing.integer(1));
    auto memberId = static_cast<std::int32_t>(existing.integer(2));
    existing = Statement();
    store.markDemo();
    Random rng(42);
    const bool canada = country == 2;
    for (std::size_t n = 0; n < charges; ++n) {
        if (n % perCenterCount == 0) {
            ++centerId;
            store.insertCenter({centerId, "Synthetic Center " + std::to_string(centerId), country});
            store.setCenterAccount(centerId, demoAccount(country, static_cast<std::uint64_t>(centerId)));
        }
        const bool first = n % 2 == 0;
        if (first) {
            MemberRow m;
            m.id = ++memberId;
            m.name = std::string(rng.pick(kFirstNames)) + " " + rng.pick(kLastNames);
            m.centerId = centerId;
            m.memberType = static_cast<std::int16_t>(rng.between(1, 3));
            m.subscription = rng.chance(20);
            m.salesTaxExempt = rng.chance(10);
            m.contractSigned = contractDate(rng);
            store.insertMember(m);
        }
        ChargeRow ch;
        const bool nmc = rng.chance(10);
        ch.key = {memberId, centerId, static_cast<std::int16_t>(nmc ? 2 : 1), static_cast<std::int16_t>(first ? 1 : 2)};
        ch.sourceDescription = nmc ? "NMC payment" : "Membership dues";
        ch.sweepDate = isoDate(2011, 3, first ? 1 : 15, 6);
        ch.type = static_cast<std::int16_t>(nmc ? 2 : (rng.chance(85) ? 1 : 3));
        ch.amounts.conversionRate = canada ? 1.3f : 1.0f;
        if (nmc) {
            ch.amounts.nmcPayment = rng.dollars(40, 400);
        } else {
            ch.amounts.royalty = rng.dollars(19, 149);
            ch.amounts.royaltyReserve = cents(ch.amounts.royalty * 0.05f);
            if (canada) {
                ch.amounts.gst = kGstRate;
                ch.amounts.pst = 0.08f;
            }
        }
        ch.trustId = rng.chance(25) ? rng.between(100, 999) : 0;
        store.insertCharge(ch);
    }
    t.commit();
}

}  // namespace eft::server
