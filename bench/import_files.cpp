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

void writeImportCsv(const std::filesystem::path& dir, const std::vector<ChargeBlock>& blocks) {
    std::ofstream centers(dir / "centers.csv"), members(dir / "members.csv"), rows(dir / "charges.csv");
    centers << "CenterID,Name,Country,Routing,Institution,Transit,Account,AccountType\n";
    members << "MemberID,Name,CenterID,MemberType,SubscriptionMembership,SalesTaxExempt,DownPayment,ContractSigned\n";
    rows << "MemberID,CenterID,Source,SweepSequence,SourceDescription,SweepDate,Type,ConversionRate,Royalty,NAC,"
            "RoyaltyReserve,FranchiseFee,FranchiseFeeReserve,GST,PST,NMCPayment,TrustID\n";
    for (const ChargeBlock& block : blocks) {
        for (long n = 0; n < block.charges; ++n) {
            const ImportCharge c = importCharge(block, n);
            if (n % 1000 == 0)
                centers << c.center << ",\"Center " << c.center << ", Main St\"," << block.country
                        << (block.country == 1 ? ",011000015,,," : ",,003,00011,") << "12345678,checking\n";
            if (n % 2 == 0)
                members << c.member << ",Member " << c.member << ',' << c.center << ",1,0,0," << (n % 3 == 0)
                        << ",2009-05-03\n";
            const bool nmc = c.type == 2;
            rows << c.member << ',' << c.center << ',' << c.source << ',' << c.sequence << ','
                 << (nmc ? "NMC payment" : "Membership dues") << ",2011-03-01T06:00:00," << c.type << ",1,"
                 << amountText(c.royaltyCents) << ",0,0.95,0,0,0,0," << amountText(c.nmcPaymentCents) << ','
                 << c.trust << '\n';
        }
    }
}

}  // namespace eft::bench
