#include "tables/field_lists.h"

namespace eft {
namespace {

using T = FieldType;

constexpr FieldSpec kSweep[] = {
    {"MemberID", T::Int32, 4},         {"MemberName", T::Text, 60},
    {"CenterID", T::Int32, 0},         {"CenterName", T::Text, 60},
    {"ContractSigned", T::Timestamp, 16}, {"ConversionRate", T::Single, 0},
    {"Royalty", T::Single, 0},         {"NAC", T::Single, 0},
    {"RoyaltyReserve", T::Single, 0},  {"FranchiseFee", T::Single, 0},
    {"FranchiseFeeReserve", T::Single, 0}, {"SalesTaxExempt", T::Boolean, 0},
    {"Source", T::Int16, 2},           {"SourceDescription", T::Text, 255},
    {"GST", T::Single, 0},             {"PST", T::Single, 0},
    {"NMCPayment", T::Single, 0},      {"SweepSequence", T::Int16, 2},
    {"SweepDate", T::Timestamp, 16},   {"Type", T::Int16, 2},
    {"RoyShow", T::Single, 0},         {"NACShow", T::Single, 0},
    {"FranShow", T::Single, 0},        {"GSTshow", T::Single, 0},
    {"PSTshow", T::Single, 0},         {"NMCshow", T::Single, 0},
    {"RowTotal", T::Single, 0},        {"TrustID", T::Int32, 4},
    {"INRowTotal", T::Single, 0},      {"OUTRowTotal", T::Single, 0},
    {"MemberType", T::Int16, 2},       {"SubscriptionMembership", T::Boolean, 0},
    {"DownPayment", T::Boolean, 0},
};

constexpr FieldSpec kBatch[] = {
    {"BatchControl", T::Int32, 4}, {"CenterID", T::Int32, 0},        {"Name", T::Text, 60},
    {"MemberID", T::Int32, 4},     {"ExportedDate", T::Timestamp, 16}, {"Source", T::Int32, 0},
    {"Amount", T::Single, 0},      {"Country", T::Int16, 2},          {"ReturnCode", T::Text, 8},
    {"ReturnReason", T::Text, 255}, {"ReturnedDate", T::Text, 10},
};

static_assert(std::size(kSweep) == sweep_field::Count);
static_assert(std::size(kBatch) == batch_field::Count);

}  // namespace

std::span<const FieldSpec> sweepFields() { return kSweep; }
std::span<const FieldSpec> batchFields() { return kBatch; }

Table makeTable(const char* name, std::span<const FieldSpec> fields) {
    Table table(name);
    for (const auto& f : fields) table.defineField(f.name, f.type, f.size);
    return table;
}

}  // namespace eft
