// Amounts as a server the control does not know may send them, in the sweep and in the batch
// list: each is shown with exactly the server's cents, or the reply is refused with a box that
// names the row as the operator knows it and the field.
#include <gtest/gtest.h>

#include "support/control_fixture.h"

namespace eft::test {
namespace {

struct AmountText {
    const char* name;
    const char* text;
    const char* shown;  // the list's text of the amount; nullptr: the reply is refused
};

// One text of each outcome; every reason a text is refused is the parser's own table.
const AmountText kAmountTexts[] = {
    {"TenCents", "0.1", "0.10"},
    {"TheLastCentBelowTheLimit", "131071.99", "131071.99"},
    {"WholeAboveTheLimit", "200000.00", "200000.00"},
    {"CentsAboveTheLimit", "131072.01", nullptr},
    {"NotANumber", "nan", nullptr},
};

std::string caseName(const ::testing::TestParamInfo<AmountText>& info) { return info.param.name; }

class SweepAmountText : public ControlTest, public ::testing::WithParamInterface<AmountText> {};

TEST_P(SweepAmountText, IsShownToTheCentOrRefusedNamingRowAndField) {
    const AmountText& c = GetParam();
    load({sweepRow(1, 7, 10, 0), sweepRow(2, 9, 0, 0, {{"INRowTotal", c.text}})});
    if (c.shown) {
        EXPECT_TRUE(host.shown().empty()) << host.shown().front().request.text;
        EXPECT_EQ(column(screen().lstEFTCenter, 3), (std::vector<std::string>{"10.00", c.shown}));  // "Due In"
        return;
    }
    ASSERT_EQ(host.shown().size(), 1u);
    const std::string& text = host.shown()[0].request.text;
    EXPECT_EQ(text.rfind("The United States sweep could not be loaded: ", 0), 0u) << text;
    for (const std::string& part : {std::string("the sweep row of member 2, center 0009"), std::string("INRowTotal"),
                                   "\"" + std::string(c.text) + "\"", std::string("cannot be held to the cent")})
        EXPECT_NE(text.find(part), std::string::npos) << "\"" << part << "\" missing from: " << text;
    EXPECT_EQ(screen().lstEFTCenter.lineCount(), 0) << "a refused load fills no list";
    EXPECT_EQ(host.errorsShown(), 1);
}

INSTANTIATE_TEST_SUITE_P(Texts, SweepAmountText, ::testing::ValuesIn(kAmountTexts), caseName);

class BatchAmountText : public ControlTest, public ::testing::WithParamInterface<AmountText> {};

TEST_P(BatchAmountText, IsShownToTheCentOrRefusedNamingRowAndField) {
    const AmountText& c = GetParam();
    const auto item = [](int center, int member, const char* amount) {
        return Row{{"BatchControl", "57"},     {"CenterID", std::to_string(center)},
                   {"Name", "Center"},         {"MemberID", std::to_string(member)},
                   {"Source", "1"},            {"Amount", amount},
                   {"ExportedDate", "2026-03-05"}};
    };
    server.on("EFTMemberBatch.asp?TSQL=BatchList", {sweepReply({item(34, 3401, "7.25"), item(12, 1001, c.text)})});
    ASSERT_TRUE(screen().tabEFT.operatorSelect(kTabBatchStatus));
    if (c.shown) {
        EXPECT_TRUE(host.shown().empty()) << host.shown().front().request.text;
        ASSERT_TRUE(screen().cmbBatches.operatorChoose(1));
        EXPECT_EQ(column(screen().lstBatchDetails, 3), (std::vector<std::string>{c.shown, "7.25"}));  // "Amount"
        return;
    }
    ASSERT_EQ(host.shown().size(), 1u);
    const MessageBoxRequest& box = host.shown()[0].request;
    EXPECT_EQ(box.title, "ERROR");
    EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    const std::string told = box.text + "\n" + box.details;
    for (const std::string& part : {std::string("The batch list could not be read: "),
                                   std::string("the batch item of member 1001, center 0012, batch 57"),
                                   std::string("Amount"), "\"" + std::string(c.text) + "\""})
        EXPECT_NE(told.find(part), std::string::npos) << "\"" << part << "\" missing from: " << told;
    EXPECT_EQ(screen().cmbBatches.entries().size(), 1u) << "nothing of a refused list is offered";
}

INSTANTIATE_TEST_SUITE_P(Texts, BatchAmountText, ::testing::ValuesIn(kAmountTexts), caseName);

}  // namespace
}  // namespace eft::test
