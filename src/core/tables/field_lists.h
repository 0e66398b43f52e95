#pragma once
// The two working tables' field lists, in their fixed order.
#include <span>

#include "tables/table.h"

namespace eft {

struct FieldSpec {
    const char* name;
    FieldType type;
    int size;
};

// Field positions, in the lists' order, for the hot loops that walk whole tables.
namespace sweep_field {
enum : int {
    MemberID, MemberName, CenterID, CenterName, ContractSigned, ConversionRate, Royalty, NAC,
    RoyaltyReserve, FranchiseFee, FranchiseFeeReserve, SalesTaxExempt, Source, SourceDescription,
    GST, PST, NMCPayment, SweepSequence, SweepDate, Type, RoyShow, NACShow, FranShow, GSTshow,
    PSTshow, NMCshow, RowTotal, TrustID, INRowTotal, OUTRowTotal, MemberType,
    SubscriptionMembership, DownPayment, Count
};
}  // namespace sweep_field

namespace batch_field {
// Country (1 United States, 2 Canada) may be absent: an older server's reply leaves it empty.
// The return's code, meaning and date come only with an item the bank returned.
enum : int {
    BatchControl, CenterID, Name, MemberID, ExportedDate, Source, Amount, Country,
    ReturnCode, ReturnReason, ReturnedDate, Count
};
}  // namespace batch_field

std::span<const FieldSpec> sweepFields();  // rsSweep, 33 fields
std::span<const FieldSpec> batchFields();  // rsBatch, 11 fields

// A table created with the given fields, not yet opened.
Table makeTable(const char* name, std::span<const FieldSpec> fields);

}  // namespace eft
