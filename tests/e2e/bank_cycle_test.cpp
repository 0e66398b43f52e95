// What the operator approves is what the bank file moves: on the demo data of each country,
// every center's amount on "Update Batch Status" and in the bank file is the sum of the
// Totals its member lines showed, and the file's net is the eligible total.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "server/embedded_server.h"
#include "support/demo_server.h"
#include "support/driver_session.h"

namespace eft::test {
namespace {

namespace fs = std::filesystem;

// "-1,234.56" or "1234.56" as whole cents.
std::int64_t cents(const std::string& text) {
    std::int64_t v = 0;
    for (const char c : text)
        if (c >= '0' && c <= '9') v = v * 10 + (c - '0');
    return text.find('-') != std::string::npos ? -v : v;
}

std::vector<std::string> records(const fs::path& file, std::size_t length) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    std::vector<std::string> out;
    for (std::size_t at = 0; at + length <= text.size(); at += length + 2) out.push_back(text.substr(at, length));
    return out;
}

// Signed cents by center as the file moves them: above 0 debited from the center.
std::map<int, std::int64_t> nachaAmounts(const fs::path& file) {
    std::map<int, std::int64_t> out;
    for (const std::string& r : records(file, 94)) {
        if (r[0] != '6') continue;
        const bool debit = r[2] == '7';
        out[std::stoi(r.substr(39, 15))] = (debit ? 1 : -1) * std::stoll(r.substr(29, 10));
    }
    return out;
}

std::map<int, std::int64_t> cpaAmounts(const fs::path& file) {
    std::map<int, std::int64_t> out;
    for (const std::string& r : records(file, 1464)) {
        if (r[0] != 'D' && r[0] != 'C') continue;
        for (std::size_t seg = 24; seg + 240 <= r.size() && r[seg] != ' '; seg += 240) {
            const std::string reference = r.substr(seg + 150, 19);
            const int center = std::stoi(reference.substr(reference.find('-') + 1));
            out[center] = (r[0] == 'D' ? 1 : -1) * std::stoll(r.substr(seg + 3, 10));
        }
    }
    return out;
}

class BankCycle : public ::testing::TestWithParam<int> {
protected:
    BankCycle() : demo("bank-cycle-" + std::to_string(GetParam())) {}
    test::DemoServer demo;
    const fs::path& dir = demo.dir;
    std::unique_ptr<server::EmbeddedServer>& srv = demo.srv;
};

TEST_P(BankCycle, EveryCenterMovesTheSumOfItsLinesTotals) {
    const int country = GetParam();
    DriverSession op;
    op.define("SERVER", srv->baseAddress());
    ASSERT_EQ(op.run("set-variables $SERVER 7 2\n" + std::string(country == 1 ? "click cmdLoadData" : "click optCountry 2") +
                     "\nclick cmdSelectAllCenters\nclick cmdViewCenterDetails\nclick cmdSelectAllMerchandise\ndump\n"
                     "answer yes\nclick cmdSaveMerchandise\nanswer yes\ntab 2\nchoose cmbBatches 1\ndump"),
              0);
    const auto dumps = op.all("dump");
    ASSERT_EQ(dumps.size(), 2u);

    // The member list: every line's Total, summed per center.
    std::map<int, std::int64_t> totals;
    std::int64_t eligible = 0;
    const auto centerOfLine = dumpColumn(dumps[0], "lstEFTMember", 2);
    const auto totalOfLine = dumpColumn(dumps[0], "lstEFTMember", 5);
    ASSERT_GT(totalOfLine.size(), country == 1 ? 100u : 50u);  // all in one post of many kilobytes
    for (std::size_t i = 0; i < totalOfLine.size(); ++i) {
        totals[std::stoi(centerOfLine[i])] += cents(totalOfLine[i]);
        eligible += cents(totalOfLine[i]);
    }
    const std::string label = dumps[0]["labels"]["lblMerchandiseEligible"];
    EXPECT_EQ(cents(label.substr(label.find('$'))), eligible) << label;

    // The status tab: one line per center with its amount.
    const auto statusCenters = dumpColumn(dumps[1], "lstBatchDetails", 1);
    const auto statusAmounts = dumpColumn(dumps[1], "lstBatchDetails", 3);
    ASSERT_EQ(statusCenters.size(), totals.size());
    for (std::size_t i = 0; i < statusCenters.size(); ++i)
        EXPECT_EQ(cents(statusAmounts[i]), totals.at(std::stoi(statusCenters[i]))) << "center " << statusCenters[i];

    // The bank file: each center's entry, none for a zero net, and the net is the eligible total.
    const auto boxes = op.all("msgbox");
    ASSERT_EQ(boxes.size(), 3u);  // save question, export question, report
    const std::string report = boxes[2]["text"];
    const std::string name = country == 1 ? "EFT_US_0000000001.txt" : "EFT_CA_0000000001.txt";
    EXPECT_NE(report.find("file " + name + ", batch 1,"), std::string::npos) << report;
    const auto moved = country == 1 ? nachaAmounts(dir / "export" / name) : cpaAmounts(dir / "export" / name);
    std::int64_t net = 0;
    for (const auto& [center, total] : totals) {
        if (total == 0) {
            EXPECT_FALSE(moved.contains(center)) << center;
            continue;
        }
        ASSERT_TRUE(moved.contains(center)) << center;
        EXPECT_EQ(moved.at(center), total) << "center " << center;
        net += moved.at(center);
    }
    EXPECT_EQ(moved.size(), static_cast<std::size_t>(std::count_if(totals.begin(), totals.end(),
                                                                    [](const auto& t) { return t.second != 0; })));
    EXPECT_EQ(net, eligible);
}

INSTANTIATE_TEST_SUITE_P(BothCountries, BankCycle, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 1 ? "UnitedStates" : "Canada"; });

}  // namespace
}  // namespace eft::test
