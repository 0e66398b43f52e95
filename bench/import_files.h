#pragma once
// CSV files for `eft-server import` (centers with their accounts, members, charges) made from
// blocks of synthetic charges, and each charge's values, so a benchmark can post saves of
// exactly what it imported.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace eft::bench {

// `charges` charges of one country, 1,000 to a center and two to a member, numbered from the
// first center and the first member given.
struct ChargeBlock {
    long charges = 0;
    int country = 1;
    long firstCenter = 1;
    long firstMember = 100000;
};

struct ImportCharge {
    long member = 0;
    long center = 0;
    int source = 1;
    int sequence = 1;
    int type = 1;  // 2 for an NMC payment
    long royaltyCents = 0;
    long nmcPaymentCents = 0;  // the royalty reserve is 0.95 throughout
    int trust = 0;
    std::string sweepDate = "2011-03-01T06:00:00";
};

// The n-th charge of a block (n from 0).
ImportCharge importCharge(const ChargeBlock& block, long n);

// The three files' header lines and a line of each, for a benchmark that writes its own mix.
// A center has a checking account, routed as its country's are; a member is "Member <id>".
void writeCentersHeader(std::ostream& out);
void writeCenterLine(std::ostream& out, long center, int country);
void writeMembersHeader(std::ostream& out);
void writeMemberLine(std::ostream& out, long member, long center, bool downPayment);
void writeChargesHeader(std::ostream& out);
void writeChargeLine(std::ostream& out, const ImportCharge& c);

// centers.csv, members.csv and charges.csv in `dir`.
void writeImportCsv(const std::filesystem::path& dir, const std::vector<ChargeBlock>& blocks);

}  // namespace eft::bench
