// Saving the chosen member rows: the save record, the body, and the save through the control.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <limits>
#include <vector>

#include "members/member_save.h"
#include "net/pages.h"
#include "support/control_fixture.h"

namespace eft::test {
namespace {

SaveRow workedRow1() {
    SaveRow r;
    r.MemberID = 1001;
    r.CenterID = 12;
    r.ConversionRate = 1;
    r.Source = 1;
    r.Royalty = 25;
    r.NAC = 10;
    r.RoyaltyReserve = 5;
    r.FranchiseFee = 40;
    r.FranchiseFeeReserve = 8;
    r.GSTshow = 1.75f;
    r.PSTshow = 0;
    r.NMCshow = 0;
    r.SweepSequence = 1;
    r.TrustID = 0;
    return r;
}

SaveRow workedRow2() {
    SaveRow r = workedRow1();
    r.MemberID = 1002;
    r.CenterID = 15;
    r.ConversionRate = 0.75f;
    r.Source = 2;
    r.Royalty = 30;
    r.NAC = 12;
    r.RoyaltyReserve = 4;
    r.FranchiseFee = 50;
    r.FranchiseFeeReserve = 10;
    r.GSTshow = 1.25f;
    r.PSTshow = 0.5f;
    r.SweepSequence = 2;
    r.TrustID = 57;
    return r;
}

const std::string kWorkedBody =
    "SQL1=MemberID%3D1001%3BStatus%3D14%3BPersonID%3D7%3BPersonType%3D2%3BConversionRate%3D1%3BCenterID%3D12%3BSource%"
    "3D1%3BRoyalty%3D25%3BNAC%3D10%3BRoyaltyReserve%3D5%3BFranchiseFee%3D40%3BFranchiseFeeReserve%3D8%3BGSTshow%3D1."
    "75%3BPSTShow%3D0%3BNMCshow%3D0%3BSweepSequence%3D1%3BTrust%3DFalse&SQL2=MemberID%3D1002%3BStatus%3D14%3BPersonID%"
    "3D7%3BPersonType%3D2%3BConversionRate%3D0.75%3BCenterID%3D15%3BSource%3D2%3BRoyalty%3D22.5%3BNAC%3D9%"
    "3BRoyaltyReserve%3D3%3BFranchiseFee%3D37.5%3BFranchiseFeeReserve%3D7.5%3BGSTshow%3D1.25%3BPSTShow%3D0.5%3BNMCshow%"
    "3D0%3BSweepSequence%3D2%3BTrust%3DTrue&RecordCount=2";

TEST(SaveRecord, TheWorkedExampleByteForByte) {
    EXPECT_EQ(saveRecord(workedRow1(), 7, 2),
              "MemberID=1001;Status=14;PersonID=7;PersonType=2;ConversionRate=1;CenterID=12;Source=1;Royalty=25;NAC=10;"
              "RoyaltyReserve=5;FranchiseFee=40;FranchiseFeeReserve=8;GSTshow=1.75;PSTShow=0;NMCshow=0;SweepSequence=1;"
              "Trust=False");
    const std::string body = pages::saveBody({saveRecord(workedRow1(), 7, 2), saveRecord(workedRow2(), 7, 2)});
    EXPECT_EQ(body, kWorkedBody);
    EXPECT_EQ(body.size(), 604u);
}

// "&Save" writes each record straight in its encoded form: the bytes must be those of the plain
// record put through the encoder, whatever the values.
TEST(SaveRecord, WrittenEncodedAsTheEncoderWouldEncodeIt) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<SaveRow> rows = {workedRow1(), workedRow2()};
    const struct {
        float rate, royalty, gst;
    } values[] = {{1.0f, -0.125f, 1e-7f},        {0.7312345f, 99999.995f, -123456.78f}, {3.4e38f, 1e14f, -1e-45f},
                  {1.0f, -3.4e38f, 0.5f},        {inf, 1.0f, -inf},                     {1.0f, std::nanf(""), 7.0f},
                  {-0.0f, 12.345f, 1234567.0f}};
    for (const auto& v : values) {
        SaveRow r = workedRow2();
        r.ConversionRate = v.rate;
        r.Royalty = v.royalty;
        r.GSTshow = v.gst;
        rows.push_back(r);
    }
    SaveRow sparse = workedRow1();
    sparse.MemberID = std::numeric_limits<std::int32_t>::min();
    sparse.CenterID.reset();
    sparse.Source.reset();
    sparse.NAC.reset();
    sparse.NMCshow.reset();
    sparse.SweepSequence = std::numeric_limits<std::int32_t>::max();
    sparse.TrustID.reset();
    rows.push_back(sparse);

    std::vector<std::string> records;
    pages::SaveBodyWriter written;
    for (const SaveRow& r : rows) {
        records.push_back(saveRecord(r, -2147483647, -32768));
        addSaveRecord(written, r, -2147483647, -32768);
    }
    EXPECT_EQ(written.finish(), pages::saveBody(records));
}

// The value that follows a key in a record.
std::string valueOf(const std::string& record, const std::string& key) {
    const std::size_t at = record.find(";" + key + "=");
    const std::size_t start = at + key.size() + 2;
    return record.substr(start, record.find(';', start) - start);
}

TEST(SaveRecord, RoundsHalfToEvenAndWritesTheShortestSingleText) {
    const struct {
        float royalty;
        const char* sent;
    } cases[] = {{0.125f, "0.12"},     {0.375f, "0.38"},  {12.345f, "12.35"}, {12.5f, "12.5"},
                 {123456.78f, "123456.8"}, {-2.5f, "-2.5"}, {0.0f, "0"},       {1000000.0f, "1000000"}};
    for (const auto& c : cases) {
        SaveRow r = workedRow1();
        r.Royalty = c.royalty;
        EXPECT_EQ(valueOf(saveRecord(r, 7, 2), "Royalty"), c.sent) << c.royalty;
    }
}

TEST(SaveRecord, TrustAndMissingValues) {
    const struct {
        std::optional<std::int32_t> trust;
        const char* sent;
    } trusts[] = {{57, "True"}, {1, "True"}, {0, "False"}, {-3, "False"}, {std::nullopt, "False"}};
    for (const auto& t : trusts) {
        SaveRow r = workedRow1();
        r.TrustID = t.trust;
        const std::string record = saveRecord(r, 7, 2);
        EXPECT_EQ(record.substr(record.rfind('=') + 1), t.sent);
    }
    SaveRow r = workedRow1();
    r.NAC.reset();
    r.CenterID.reset();
    r.SweepSequence.reset();
    const std::string record = saveRecord(r, 7, 2);
    EXPECT_NE(record.find(";NAC=;"), std::string::npos);
    EXPECT_NE(record.find(";CenterID=;"), std::string::npos);
    EXPECT_NE(record.find(";SweepSequence=;"), std::string::npos);

    SaveRow noMember = workedRow1();
    noMember.MemberID.reset();
    EXPECT_THROW(saveRecord(noMember, 7, 2), EftError);
    SaveRow noRate = workedRow1();
    noRate.ConversionRate.reset();
    EXPECT_THROW(saveRecord(noRate, 7, 2), EftError);
}

// Rows shaped so that the load derives the worked example's shown taxes: a subscription row's
// GST and PST are taken as amounts.
std::vector<Row> workedRows() {
    return {sweepRow(1001, 12, 10, 0,
                     {{"Royalty", "25"}, {"NAC", "10"}, {"RoyaltyReserve", "5"}, {"FranchiseFee", "40"},
                      {"FranchiseFeeReserve", "8"}, {"GST", "1.75"}, {"PST", "0"}, {"SubscriptionMembership", "true"},
                      {"SweepSequence", "1"}, {"TrustID", "0"}}),
            sweepRow(1002, 15, 10, 0,
                     {{"ConversionRate", "0.75"}, {"Source", "2"}, {"Royalty", "30"}, {"NAC", "12"},
                      {"RoyaltyReserve", "4"}, {"FranchiseFee", "50"}, {"FranchiseFeeReserve", "10"}, {"GST", "1.25"},
                      {"PST", "0.5"}, {"SubscriptionMembership", "true"}, {"SweepSequence", "2"}, {"TrustID", "57"}}),
            sweepRow(1003, 20, 3, 0)};
}

class SaveTest : public ControlTest {
protected:
    void SetUp() override {
        load(workedRows());
        details({"0012", "0015"});
    }
    void save(const std::string& answer = "yes") {
        host.queueAnswer(answer == "yes" ? MsgAnswer::Yes : MsgAnswer::No);
        screen().cmdSaveMerchandise.operatorClick();
    }
    std::vector<std::string> posts() {
        std::vector<std::string> out;
        for (const auto& r : server.requests())
            if (r.method == "POST") out.push_back(r.target + " " + r.body);
        return out;
    }
};

TEST_F(SaveTest, PostsTheTickedMembersAndAnAcceptedSaveLeavesTheSweep) {
    server.on("EFTMember.asp", {""});
    screen().lstEFTMember.operatorSetChecked(0, true);
    screen().lstEFTMember.operatorSetChecked(1, true);
    save();
    ASSERT_EQ(posts(), std::vector<std::string>{"EFTMember.asp " + kWorkedBody});
    EXPECT_EQ(server.requests().back().contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(titles(), std::vector<std::string>{"Information Validation|Do you want to save ? "});
    // The saved rows leave the sweep table and the center list; the rest stays.
    EXPECT_EQ(sweepColumn("MemberID"), std::vector<std::string>{"1003"});
    EXPECT_EQ(column(screen().lstEFTCenter, 1), std::vector<std::string>{"0020"});
    EXPECT_EQ(screen().lstEFTMember.lineCount(), 0);
    EXPECT_EQ(screen().tabEFT.selected(), kTabCenters);
    EXPECT_FALSE(screen().tabEFT.tab(kTabMembers).visible);
    EXPECT_TRUE(screen().tabEFT.tab(kTabExport).enabled);
    EXPECT_TRUE(screen().cmdSaveMerchandise.enabled());
    EXPECT_TRUE(screen().cmdCancelMerchandiseList.enabled());
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
}

TEST_F(SaveTest, SelectAllSendsEveryRowOfTheChosenCentersWithoutReadingTicks) {
    server.on("EFTMember.asp", {"   "});  // blanks only: accepted
    screen().cmdSelectAllMerchandise.operatorClick();
    screen().lstEFTMember.operatorSetChecked(0, false);
    screen().cmdSelectAllMerchandise.operatorClick();
    save();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(server.requests().back().body, kWorkedBody);
    EXPECT_EQ(sweepColumn("MemberID"), std::vector<std::string>{"1003"});
}

TEST_F(SaveTest, NothingTickedWarnsAndSendsNothing) {
    screen().cmdSaveMerchandise.operatorClick();
    EXPECT_EQ(titles(), std::vector<std::string>{
                            "Information Validation|At least one member must be selected in order to save the "
                            "detail entries."});
    EXPECT_TRUE(posts().empty());
}

TEST_F(SaveTest, AnsweringNoSendsNothing) {
    screen().lstEFTMember.operatorSetChecked(0, true);
    save("no");
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(screen().cmdSaveMerchandise.enabled());
    EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal);
    EXPECT_EQ(screen().tabEFT.selected(), kTabMembers);
}

// The reply is longer than two of the pieces it is read in: it must come whole.
TEST_F(SaveTest, ARefusedSaveShowsTheServersTextAndKeepsEverything) {
    const std::string reply = "Record SQL1: member 1001 is not in the sweep\r\n" + std::string(2049, 'x');
    server.on("EFTMember.asp", {reply});
    screen().lstEFTMember.operatorSetChecked(0, true);
    save();
    ASSERT_EQ(host.shown().size(), 2u);
    EXPECT_EQ(host.shown()[1].request.title, "ERROR");
    EXPECT_EQ(host.shown()[1].request.text, reply);
    EXPECT_EQ(host.shown()[1].request.icon, MsgIcon::Exclamation);
    EXPECT_EQ(sweepColumn("MemberID"), (std::vector<std::string>{"1001", "1002", "1003"}));
    EXPECT_EQ(screen().tabEFT.selected(), kTabMembers);
    EXPECT_TRUE(screen().lstEFTMember.line(0).checked);
    EXPECT_TRUE(screen().cmdSaveMerchandise.enabled());
}

// A chosen row that cannot make a record sends nothing, and the operator learns which one;
// "&Save" stays usable.
TEST_F(SaveTest, AnUnsavableRowIsNamedAndNothingIsSent) {
    const Row shown{{"Type", "4"},    {"RoyShow", "1"}, {"NACShow", "0"}, {"FranShow", "0"},
                    {"GSTshow", "0"}, {"PSTshow", "0"}, {"NMCshow", "0"}};
    const struct {
        const char* name;
        Row missing;
        const char* said;
    } cases[] = {
        // Named as the member list shows the row; member 1's row at the same center reads otherwise.
        {"no rate", {{"ConversionRate", ""}},
         "Nothing was saved: the chosen row of center 0007, Member 2, 12/06/2026, amount 1.00 has no ConversionRate."},
        {"no member", {{"MemberID", ""}},
         "Nothing was saved: the chosen row of center 0007, Member 2, 12/06/2026, amount 1.00 has no MemberID."},
    };
    for (const auto& c : cases) {
        Row bad = shown;
        bad["SweepSequence"] = "5";
        for (const auto& [k, v] : c.missing) bad[k] = v;
        load({sweepRow(1, 7, 1, 0), sweepRow(2, 7, 1, 0, bad)});
        details({"0007"});
        // The row's line shows its center and name, whatever it lacks.
        std::vector<std::string> names = column(screen().lstEFTMember, 12);
        EXPECT_NE(std::find(names.begin(), names.end(), "Member 2"), names.end()) << c.name;
        EXPECT_EQ(column(screen().lstEFTMember, 2), std::vector<std::string>(names.size(), "0007")) << c.name;
        screen().cmdSelectAllMerchandise.operatorClick();
        host.clearShown();
        save();
        EXPECT_TRUE(posts().empty()) << c.name;
        ASSERT_EQ(host.shown().size(), 2u) << c.name;
        EXPECT_EQ(titles().back(), std::string("ERROR|") + c.said) << c.name;
        EXPECT_TRUE(screen().cmdSaveMerchandise.enabled()) << c.name;
        EXPECT_TRUE(screen().cmdCancelMerchandiseList.enabled()) << c.name;
        EXPECT_TRUE(screen().tabEFT.tab(kTabExport).enabled) << c.name;
        EXPECT_EQ(screen().mousePointer(), ui::MousePointer::Normal) << c.name;
        screen().cmdCancelMerchandiseList.operatorClick();
    }
}

// A record the row cannot make names the row by the ids it has.
TEST(SaveRecord, AnUnsavableRowIsNamedByItsIds) {
    struct Case {
        const char* name;
        std::optional<std::int32_t> member, center, sequence;
        Amount rate;
        const char* said;
    };
    const Case cases[] = {
        {"no rate", 1001, 12, 3, std::nullopt,
         "the chosen row of member 1001 of center 0012 (sweep sequence 3) has no ConversionRate"},
        {"no member", std::nullopt, 12, 3, 1.0f, "the chosen row of center 0012 (sweep sequence 3) has no MemberID"},
        {"no center, no sequence", 5, std::nullopt, std::nullopt, std::nullopt,
         "the chosen row of member 5 of center (none) has no ConversionRate"},
    };
    for (const Case& c : cases) {
        SaveRow r;
        r.MemberID = c.member;
        r.CenterID = c.center;
        r.SweepSequence = c.sequence;
        r.ConversionRate = c.rate;
        try {
            (void)saveRecord(r, 7, 2);
            ADD_FAILURE() << c.name << ": a record was made";
        } catch (const UnsavableRow& e) {
            EXPECT_STREQ(e.what(), c.said) << c.name;
        }
    }
}

TEST_F(SaveTest, TheTabCannotBeLeftWhileTheSaveWaits) {
    // A cancel during the wait would make the accepted reply look like one to ignore, and the
    // saved rows would stay in the sweep to be saved twice.
    server.on("EFTMember.asp", {"", 200, std::chrono::milliseconds(300)});
    screen().lstEFTMember.operatorSetChecked(0, true);
    int attempts = 0;
    host.onProcessEvents = [&] {
        if (screen().lstEFTMember.lineCount() == 0) return;  // the reply has been handled
        ++attempts;
        EXPECT_FALSE(screen().cmdCancelMerchandiseList.operatorClick());
        EXPECT_FALSE(screen().tabEFT.operatorSelect(kTabCenters));
        EXPECT_FALSE(screen().tabEFT.operatorSelect(kTabExport));
        EXPECT_FALSE(screen().cmdSaveMerchandise.operatorClick());
    };
    save();
    host.onProcessEvents = nullptr;
    EXPECT_GT(attempts, 0);
    EXPECT_EQ(sweepColumn("MemberID"), (std::vector<std::string>{"1002", "1003"}));
    EXPECT_TRUE(screen().cmdCancelMerchandiseList.enabled());
}

TEST_F(SaveTest, MoreThanTheRecordLimitSendsNothing) {
    std::vector<Row> rows;
    for (int i = 0; i < 32768; ++i) rows.push_back(sweepRow(5, 7, 1, 0, {{"SweepSequence", std::to_string(i % 30000)}}));
    load(rows);
    details({"0007"});
    screen().lstEFTMember.operatorSetChecked(0, true);
    save();
    EXPECT_TRUE(posts().empty());
    EXPECT_NE(titles().back().find("at most 32767 rows, and this one has 32768"), std::string::npos) << titles().back();
    EXPECT_TRUE(screen().cmdSaveMerchandise.enabled());
}

// One ticked line saves every row of its member, but only at the centers on screen: a member
// ticked at one center once had 777.77 debited at another center the operator never opened.
TEST_F(SaveTest, OneTickedLineSavesItsMembersRowsAtTheCentersShown) {
    server.on("EFTMember.asp", {"refused"});
    const struct {
        const char* name;
        std::vector<Row> rows;
        const char* count;
        const char* notSent;
        const char* filter;  // the filter the save leaves, or nullptr
    } cases[] = {
        {"two rows at one center", {sweepRow(5, 7, 1, 0), sweepRow(5, 7, 2, 0, {{"SweepSequence", "2"}}), sweepRow(6, 7, 3, 0)},
         "RecordCount=2", "MemberID%3D6", nullptr},
        {"another center", {sweepRow(5, 7, 1, 0), sweepRow(5, 9, 777.77, 0, {{"SweepSequence", "2"}}), sweepRow(6, 7, 3, 0)},
         "RecordCount=1", "CenterID%3D9", "( CenterID = 0007) AND ( MemberID = 5)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.rows);
        details({"0007"});
        screen().lstEFTMember.operatorSetChecked(0, true);
        const std::size_t before = posts().size();
        save();
        ASSERT_EQ(posts().size(), before + 1);
        EXPECT_NE(posts().back().find(c.count), std::string::npos) << posts().back();
        EXPECT_EQ(posts().back().find(c.notSent), std::string::npos) << posts().back();
        if (c.filter) {
            EXPECT_EQ(control->sweepTable()->filter(), c.filter);
        }
    }
}

}  // namespace
}  // namespace eft::test
