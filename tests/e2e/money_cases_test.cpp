// Money to the cent beyond the demo data, through eft-driver against the reference server: a
// subscription center that pays out, seen in two windows, amounts around 131,072.00, half cents,
// and a thousand cents after a large line. What the server decides alone (a stale save, a member
// at two centers, a country that nets to zero) is the server's own tests' business.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/embedded_server.h"
#include "server/http/access.h"
#include "server/store/store.h"
#include "support/driver_session.h"

namespace eft::test {
namespace {

namespace fs = std::filesystem;
using server::ChargeRow;

constexpr const char* kStale = "The sweep of center 9101 changed since it was loaded; load it again.";

// A database of the shapes, with an operator's login.
class MoneyCases : public ::testing::Test {
protected:
    MoneyCases()
        : dir(fs::temp_directory_path() /
              ("eft-money-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        {
            server::Store store(dir / "eft.sqlite");
            server::Transaction t(store.db(), server::Transaction::Mode::Write);
            const auto center = [&store](std::int32_t id, const char* name) {
                store.insertCenter({id, name, 1});
                store.setCenterAccount(id, {"011000015", "", "", std::to_string(id), server::bank::AccountType::Checking});
            };
            const auto charge = [&store](std::int32_t member, std::int32_t centerId, std::int16_t source, std::int16_t type,
                                         server::Amounts a) {
                store.insertCharge({{member, centerId, source, 1}, source == 2 ? "NMC payment" : "Membership dues",
                                    "2026-12-01T06:00:00", type, a, 0});
            };
            // A subscription center that pays out: the NMC row comes first, so the subscriber's
            // Total is its own OUT amount, 0.00, until the NMC row leaves the sweep.
            center(9101, "Subscription Pays Out");
            store.insertMember({91011, "Nora Payee", 9101, 1, false, false, false, ""});
            store.insertMember({91012, "Sam Subscriber", 9101, 1, true, false, false, ""});
            charge(91011, 9101, 2, 2, {1, 0, 0, 0, 0, 0, 0, 0, 100});
            charge(91012, 9101, 1, 1, {1, 40, 0, 0, 0, 0, 0, 0, 0});
            // Amounts around 131,072.00, and half cents.
            center(9201, "Large Amounts");
            store.insertMember({92011, "Big One", 9201, 1, false, false, false, ""});
            store.insertMember({92012, "Big Two", 9201, 1, false, false, false, ""});
            store.insertMember({92013, "Half Cent", 9201, 1, false, false, false, ""});
            charge(92011, 9201, 1, 3, {1, 131071.99f, 0, 0, 0, 0, 0, 0, 0});
            charge(92012, 9201, 1, 3, {1, 100000.01f, 0, 0, 0, 0, 0, 0, 0});
            charge(92013, 9201, 1, 3, {1, 0.125f, 0, 0, 0, 0, 0, 0, 0});
            // A large line, then a thousand lines of a cent, all of one member.
            center(9401, "Many Cents");
            store.insertMember({94011, "Penny Many", 9401, 1, false, false, false, ""});
            for (std::int16_t seq = 1; seq <= 1001; ++seq)
                store.insertCharge({{94011, 9401, 1, seq}, "Membership dues", "2026-12-01T06:00:00", 3,
                                    {1, seq == 1 ? 16000.0f : 0.01f, 0, 0, 0, 0, 0, 0, 0}, 0});
            // These figures are made up, so the demo originator may export them.
            store.markDemo();
            t.commit();
        }
        std::ofstream(dir / "credentials") << "alice:" << server::hashPassword("alice-pw") << "\n";
        fs::permissions(dir / "credentials", fs::perms::owner_read | fs::perms::owner_write);
        server::EmbeddedOptions options;
        options.dbPath = dir / "eft.sqlite";
        options.exportDir = dir / "export";
        options.credentialsFile = dir / "credentials";
        srv = server::EmbeddedServer::start(options);
    }
    ~MoneyCases() override {
        srv.reset();
        fs::remove_all(dir);
    }

    // A session of an operator with a login of their own.
    std::unique_ptr<DriverSession> session(const std::string& login, int personId) {
        auto s = std::make_unique<DriverSession>();
        std::string url = srv->baseAddress();
        url.insert(url.find("//") + 2, login + ":" + login + "-pw@");
        s->define("SERVER", url);
        EXPECT_EQ(s->run("set-variables $SERVER " + std::to_string(personId) + " 2"), 0);
        return s;
    }
    // The index of the line whose column k reads `text`.
    static std::string lineOf(const nlohmann::json& dump, const std::string& list, int k, const std::string& text) {
        const auto column = dumpColumn(dump, list, k);
        const auto at = std::find(column.begin(), column.end(), text);
        EXPECT_NE(at, column.end()) << text << " not in " << list;
        return std::to_string(at - column.begin());
    }
    // Loads the country, opens center `center` and dumps its member list.
    static nlohmann::json openCenter(DriverSession& op, const std::string& center, bool load = true) {
        if (load) {
            EXPECT_EQ(op.run("click optCountry 1"), 0) << op.events.back();
        }
        const std::string line = lineOf(op.dump(), "lstEFTCenter", 1, center);
        EXPECT_EQ(op.run("tick lstEFTCenter " + line + "\nclick cmdViewCenterDetails"), 0) << op.events.back();
        return op.dump();
    }
    static std::string totalOf(const nlohmann::json& dump, const std::string& member) {
        return dumpColumn(dump, "lstEFTMember", 5).at(std::stoul(lineOf(dump, "lstEFTMember", 3, member)));
    }
    static std::string saveMember(DriverSession& op, const nlohmann::json& dump, const std::string& member) {
        EXPECT_EQ(op.run("tick lstEFTMember " + lineOf(dump, "lstEFTMember", 3, member) +
                         "\nanswer yes\nclick cmdSaveMerchandise"),
                  0);
        const auto boxes = op.all("msgbox");
        return boxes.size() > 1 ? boxes.back()["text"].get<std::string>() : std::string();
    }
    std::string fileText(const std::string& name) const {
        std::ifstream in(dir / "export" / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir;
    std::unique_ptr<server::EmbeddedServer> srv;
};

// Single-precision running totals once showed 16,009.77 for these 1,001 lines. Every label, the
// report and the bank entry now read 16,010.00.
TEST_F(MoneyCases, AThousandCentsAfterALargeLineAddUpOnScreenAndInTheFile) {
    auto op = session("alice", 1);
    ASSERT_EQ(op->run("click optCountry 1"), 0);
    const auto centers = op->dump();
    EXPECT_EQ(dumpColumn(centers, "lstEFTCenter", 3).at(std::stoul(lineOf(centers, "lstEFTCenter", 1, "9401"))),
              "16010.00");
    const auto listed = openCenter(*op, "9401", false);
    EXPECT_EQ(listed["labels"]["lblMerchandiseEligible"], "Amount Eligible (Total): $ 16,010.00");
    ASSERT_EQ(op->run("tick lstEFTMember 700"), 0);  // one line of the member ticks all of them
    EXPECT_EQ(op->dump()["labels"]["lblMerchandiseSelected"], "Amount Selected (Total): $ 16,010.00");
    ASSERT_EQ(op->run("answer yes\nclick cmdSaveMerchandise\nanswer yes\ntab 2"), 0);
    const std::string report = op->all("msgbox").back()["text"];
    EXPECT_NE(report.find("debits 16,010.00 (1)"), std::string::npos) << report;
    EXPECT_NE(fileText("EFT_US_0000000001.txt").find("0001601000"), std::string::npos);
}

TEST_F(MoneyCases, TwoWindowsOfOneLoginEachAnswerForTheirOwnLoad) {
    auto first = session("alice", 7);
    auto second = session("alice", 7);
    const auto seen = openCenter(*first, "9101");
    EXPECT_EQ(saveMember(*second, openCenter(*second, "9101"), "91011"), "");
    ASSERT_EQ(second->run("click optCountry 1"), 0);  // her latest load now shows 40.00
    // The first window's save names the load it came from, which saw 0.00.
    EXPECT_NE(saveMember(*first, seen, "91012").find(kStale), std::string::npos);
}

TEST_F(MoneyCases, LargeAmountsAndHalfCentsAreTheSameOnScreenAndInTheFile) {
    auto op = session("alice", 7);
    const auto shown = openCenter(*op, "9201");
    EXPECT_EQ(totalOf(shown, "92011"), "131071.99");
    EXPECT_EQ(totalOf(shown, "92012"), "100000.01");
    EXPECT_EQ(totalOf(shown, "92013"), "0.12");  // half a cent, to the even neighbour
    ASSERT_EQ(op->run("click cmdSelectAllMerchandise\nanswer yes\nclick cmdSaveMerchandise\nanswer yes\ntab 2"), 0);
    const std::string report = op->all("msgbox").back()["text"];
    EXPECT_NE(report.find("debits 231,072.12 (1)"), std::string::npos) << report;
    const std::string nacha = fileText("EFT_US_0000000001.txt");
    EXPECT_NE(nacha.find("0023107212"), std::string::npos);  // the entry's ten-digit amount
}

}  // namespace
}  // namespace eft::test
