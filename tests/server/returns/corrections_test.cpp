// A notification of change's corrected data read by its code into the fields it corrects, and
// the data that does not split cleanly refused.
#include <gtest/gtest.h>

#include "server/returns/corrections.h"

namespace eft::server::returns {
namespace {

struct Case {
    const char* name;
    const char* code;
    std::string data;
    const char* read;  // "field=value;..." or "refused"
};

std::string padRight(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

class CorrectionTable : public ::testing::TestWithParam<Case> {};

TEST_P(CorrectionTable, ReadsTheFieldsOrRefuses) {
    const Case& c = GetParam();
    const ParsedCorrection p = parseCorrection(c.code, c.data);
    std::string read;
    for (const FieldChange& f : p.changes) read += f.field + "=" + f.value + ";";
    if (!p.refused.empty()) {
        EXPECT_TRUE(p.changes.empty());
        read = "refused";
    }
    EXPECT_EQ(read, c.read) << p.refused;
}

INSTANTIATE_TEST_SUITE_P(
    Notices, CorrectionTable,
    ::testing::Values(
        Case{"AccountNumber", "C01", "87654321", "account=87654321;"},
        Case{"AccountNumberWithABlankInside", "C01", "8765 4321", "refused"},
        Case{"Routing", "C02", "021000021", "routing=021000021;"},
        Case{"RoutingShort", "C02", "02100002", "refused"},
        Case{"RoutingAndAccount", "C03", "021000021   87654321", "routing=021000021;account=87654321;"},
        Case{"RoutingAndAccountNotThreeBlanksApart", "C03", "021000021 87654321", "refused"},
        Case{"RoutingAndAccountRoutingNotDigits", "C03", "02100002X   87654321", "refused"},
        Case{"Name", "C04", "NEW NAME FITNESS  ", "name=NEW NAME FITNESS;"},
        Case{"TransactionCodeSavings", "C05", "37", "account type=savings;"},
        Case{"TransactionCodeNeither", "C05", "47", "refused"},
        Case{"AccountAndTransactionCode", "C06", padRight("87654321", 17) + "   32",
             "account=87654321;account type=savings;"},
        Case{"AccountAndTransactionCodeRunTogether", "C06", padRight("87654321", 17) + "32", "refused"},
        Case{"RoutingAccountAndTransactionCode", "C07", "021000021" + padRight("87654321", 17) + "22",
             "routing=021000021;account=87654321;account type=checking;"},
        Case{"RoutingAccountAndTransactionCodeWithMore", "C07", "021000021" + padRight("87654321", 17) + "22X",
             "refused"},
        Case{"RoutingAccountAndTransactionCodeCut", "C07", "021000021" + padRight("87654321", 17) + "2", "refused"},
        Case{"IdentificationNumber", "C09", "0012", "identification=0012;"},
        Case{"NotReadHere", "C08", "021000021", "refused"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace eft::server::returns
