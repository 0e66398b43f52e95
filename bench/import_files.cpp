#include "import_files.h"

#include <fstream>
#include <string>

namespace eft::bench {
namespace {

// "19.10", and "0" for nothing, as a franchisor's export writes them.
std::string amountText(long cents) {
    if (cents == 0) return "0";
    const std::string fraction = std::to_string(cents % 100);
    return std::to_string(cents / 100) + "." + (fraction.size() < 2 ? "0" : "") + fraction;
}

}  // namespace

ImportCharge importCharge(const ChargeBlock& block, long n) {
    ImportCharge c;
    c.member = block.firstMember + n / 2;
    c.center = block.firstCenter + n / 1000;
    const bool nmc = n % 10 == 9;
    c.source = nmc ? 2 : 1;
    c.sequence = 1 + static_cast<int>(n % 2);
    c.type = nmc ? 2 : 1;
    c.royaltyCents = nmc ? 0 : (19 + n % 130) * 100 + 10 + n % 90;
    c.nmcPaymentCents = nmc ? 12550 : 0;
    c.trust = n % 4 == 0 ? 57 : 0;
    return c;
}

void writeCentersHeader(std::ostream& out) {
    out << "CenterID,Name,Country,Routing,Institution,Transit,Account,AccountType\n";
}

void writeCenterLine(std::ostream& out, long center, int country) {
    out << center << ",\"Center " << center << ", Main St\"," << country
        << (country == 1 ? ",011000015,,," : ",,003,00011,") << "12345678,checking\n";
}

void writeMembersHeader(std::ostream& out) {
    out << "MemberID,Name,CenterID,MemberType,SubscriptionMembership,SalesTaxExempt,DownPayment,ContractSigned\n";
}

void writeMemberLine(std::ostream& out, long member, long center, bool downPayment) {
    out << member << ",Member " << member << ',' << center << ",1,0,0," << downPayment << ",2009-05-03\n";
}

void writeChargesHeader(std::ostream& out) {
    out << "MemberID,CenterID,Source,SweepSequence,SourceDescription,SweepDate,Type,ConversionRate,Royalty,NAC,"
           "RoyaltyReserve,FranchiseFee,FranchiseFeeReserve,GST,PST,NMCPayment,TrustID\n";
}

void writeChargeLine(std::ostream& out, const ImportCharge& c) {
    const bool nmc = c.type == 2;
    out << c.member << ',' << c.center << ',' << c.source << ',' << c.sequence << ','
        << (nmc ? "NMC payment" : "Membership dues") << ',' << c.sweepDate << ',' << c.type << ",1,"
        << amountText(c.royaltyCents) << ",0,0.95,0,0,0,0," << amountText(c.nmcPaymentCents) << ',' << c.trust << '\n';
}

void writeImportCsv(const std::filesystem::path& dir, const std::vector<ChargeBlock>& blocks) {
    std::ofstream centers(dir / "centers.csv"), members(dir / "members.csv"), rows(dir / "charges.csv");
    writeCentersHeader(centers);
    writeMembersHeader(members);
    writeChargesHeader(rows);
    for (const ChargeBlock& block : blocks) {
        for (long n = 0; n < block.charges; ++n) {
            const ImportCharge c = importCharge(block, n);
            if (n % 1000 == 0) writeCenterLine(centers, c.center, block.country);
            if (n % 2 == 0) writeMemberLine(members, c.member, c.center, n % 3 == 0);
            writeChargeLine(rows, c);
        }
    }
}

}  // namespace eft::bench
