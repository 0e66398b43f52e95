// The export: batches formed per country, the fixed-width files, and an export that either
// happens whole (batches, states and files) or not at all.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <fstream>
#include <sstream>
#include <vector>

#include "server/export_file.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

std::vector<std::string> fileLines(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines;
    const std::string all = text.str();
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = all.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(all.substr(start) + "<no CRLF>");
            break;
        }
        lines.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Columns are numbered from 1, as the layout documents them.
std::string cols(const std::string& line, std::size_t from, std::size_t to) { return line.substr(from - 1, to - from + 1); }

std::string reportOf(const std::string& document) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(document.c_str())) << document;
    return doc.document_element().child_value();
}

std::vector<std::string> filesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    if (!std::filesystem::exists(dir)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ExportLayout, RecordsHaveTheirFieldsInTheirColumns) {
    ExportBatch batch;
    batch.batchNo = 57;
    batch.country = 2;
    batch.exportedAt = Timestamp::from(Date{2011, 3, 5}, 9, 8, 7);
    batch.personId = 9;
    batch.personType = 2;
    batch.centers = {{12, "Montr\u00e9al Plateau \u2013 Est", 3, 12345},
                     {2147483647, "A center name that is far longer than thirty-five characters", 1, -99}};
    const std::string text = exportFileText(batch);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size(); start += kExportRecordLength + 2) {
        ASSERT_EQ(text.substr(start + kExportRecordLength, 2), "\r\n");
        lines.push_back(text.substr(start, kExportRecordLength));
    }
    ASSERT_EQ(lines.size(), 4u);
    const struct {
        int line;
        std::size_t from, to;
        const char* want;
    } fields[] = {
        {0, 1, 1, "H"},  {0, 2, 11, "0000000057"}, {0, 12, 19, "20110305"}, {0, 20, 25, "090807"},
        {0, 26, 27, "CA"}, {0, 28, 30, "CAD"},      {0, 31, 40, "0000000009"}, {0, 41, 45, "00002"},
        {0, 46, 80, "                                   "},
        {1, 1, 1, "D"},  {1, 2, 11, "0000000012"}, {1, 12, 46, "Montreal Plateau ? Est             "},
        {1, 47, 53, "0000003"}, {1, 54, 54, "+"}, {1, 55, 68, "00000000012345"}, {1, 69, 80, "            "},
        {2, 2, 11, "2147483647"}, {2, 12, 46, "A center name that is far longer th"}, {2, 47, 53, "0000001"},
        {2, 54, 54, "-"}, {2, 55, 68, "00000000000099"},
        {3, 1, 1, "T"},  {3, 2, 11, "0000000057"}, {3, 12, 17, "000002"}, {3, 18, 24, "0000004"},
        {3, 25, 38, "00000000012345"}, {3, 39, 52, "00000000000099"}, {3, 53, 53, "+"},
        {3, 54, 67, "00000000012246"}, {3, 68, 77, "2147483659"}, {3, 78, 80, "   "},
    };
    for (const auto& f : fields)
        EXPECT_EQ(cols(lines[f.line], f.from, f.to), f.want) << "line " << f.line << " columns " << f.from;
}

TEST(ExportLayout, TheHashTotalWrapsAtTenDigits) {
    ExportBatch batch;
    for (int i = 0; i < 6; ++i) batch.centers.push_back({2000000000, "x", 1, 1});
    EXPECT_EQ(exportTotals(batch).hashTotal, 2000000000);  // 12,000,000,000 mod 10^10
}

TEST(ExportLayout, ANumberTooWideForItsColumnIsAnErrorNotACorruptFile) {
    ExportBatch batch;
    batch.centers = {{1, "x", 10000000, 1}};
    EXPECT_THROW(exportFileText(batch), std::runtime_error);
}

TEST(ExportLayout, NamesBecomeAscii) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"Qu\u00e9bec", "Quebec"}, {"Trois-Rivi\u00e8res", "Trois-Rivieres"}, {"\u00c7a \u00f1", "Ca n"},
                 {"Caf\u00e9 \u20ac5", "Cafe ?5"}, {"tab\there", "tab?here"}, {"\xff\xfe", "??"}};
    for (const auto& c : cases) EXPECT_EQ(asciiText(c.in), c.out) << c.in;
}

TEST(StagedFiles, AFailedPublishTakesBackTheFilesAlreadyRenamed) {
    TempDir dir;
    {
        StagedFiles files(dir.path());
        files.stage("a.txt", "first");
        files.stage("b.txt", "second");
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{".a.txt.tmp", ".b.txt.tmp"}));
        std::filesystem::remove(dir.path() / ".b.txt.tmp");  // the second rename will fail
        EXPECT_THROW(files.publish(), std::runtime_error);
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"a.txt"}));
    }
    EXPECT_TRUE(filesIn(dir.path()).empty());
}

TEST(StagedFiles, KeptFilesStayWithTheirText) {
    TempDir dir;
    {
        StagedFiles files(dir.path() / "new");
        files.stage("a.txt", "first\r\n");
        files.publish();
        files.keep();
    }
    EXPECT_EQ(filesIn(dir.path() / "new"), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(fileLines(dir.path() / "new" / "a.txt"), (std::vector<std::string>{"first"}));
}

class ExportTest : public ServerFixture {
protected:
    void saveAll() {
        ASSERT_EQ(service->save(bodyFor({kDues1001, kDues1001Second, kNmc1002, kDues2001, kNmc2002})), "");
    }
    std::filesystem::path exportDir() const { return dir.path() / "export"; }
};

TEST_F(ExportTest, EachCountryGetsABatchAndAFile) {
    saveAll();
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("Batch 1, United States: 3 items from 2 centers; due in 92.00, due out 150.00, net -58.00; "
                          "file EFT_US_0000000001.txt"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("Batch 2, Canada: 2 items from 1 centers; due in 0.00, due out 113.10, net -113.10; "
                          "file EFT_CA_0000000002.txt"),
              std::string::npos)
        << report;
    EXPECT_EQ(filesIn(exportDir()), (std::vector<std::string>{"EFT_CA_0000000002.txt", "EFT_US_0000000001.txt"}));

    const auto us = fileLines(exportDir() / "EFT_US_0000000001.txt");
    ASSERT_EQ(us.size(), 4u);
    EXPECT_EQ(us[0].substr(0, 45), "H000000000120110305102030USUSD000000000900002");
    EXPECT_EQ(us[1].substr(0, 68), "D0000000012Austin North                       0000002+00000000009200");
    EXPECT_EQ(us[2].substr(0, 68), "D0000000015Boise & Sons <West>                0000001-00000000015000");
    EXPECT_EQ(us[3].substr(0, 77), "T000000000100000200000030000000000920000000000015000-000000000058000000000027");
    for (const auto& line : us) EXPECT_EQ(line.size(), kExportRecordLength) << line;

    const auto ca = fileLines(exportDir() / "EFT_CA_0000000002.txt");
    ASSERT_EQ(ca.size(), 3u);
    EXPECT_EQ(ca[1].substr(0, 68), "D0000000034Montreal Plateau                   0000002-00000000011310");

    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 20"), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items"), 5);
}

TEST_F(ExportTest, BatchNumbersContinueFromTheLastOne) {
    saveAll();
    service->exportBatches(9, 2);
    ASSERT_EQ(service->save(bodyFor({kDues1003})), "");
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("Batch 3, United States: 1 items"), std::string::npos) << report;
    EXPECT_EQ(report.find("Canada"), std::string::npos) << report;
}

TEST_F(ExportTest, NothingSavedMeansNothingExported) {
    EXPECT_EQ(reportOf(service->exportBatches(9, 2)), "No saved items were eligible for export.");
    EXPECT_TRUE(filesIn(exportDir()).empty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
}

TEST_F(ExportTest, AnExportThatCannotWriteLeavesNoFileAndNoBatch) {
    saveAll();
    // A file where the export folder should be: the folder cannot be made.
    std::ofstream(exportDir()) << "in the way";
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_EQ(report.rfind("The export failed, nothing was exported: cannot create the export folder", 0), 0u) << report;
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 5);
}

TEST_F(ExportTest, AFailureAfterTheFilesWereStagedRemovesThemAll) {
    saveAll();
    // The Canadian file's name is taken, which is found only after both files were written.
    std::filesystem::create_directories(exportDir());
    std::ofstream(exportDir() / "EFT_CA_0000000002.txt") << "an older export";
    const std::string report = reportOf(service->exportBatches(9, 2));
    EXPECT_NE(report.find("EFT_CA_0000000002.txt already exists"), std::string::npos) << report;
    EXPECT_EQ(filesIn(exportDir()), (std::vector<std::string>{"EFT_CA_0000000002.txt"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM batches"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 14"), 5);

    // Once the way is clear the same export succeeds with the same numbers.
    std::filesystem::remove(exportDir() / "EFT_CA_0000000002.txt");
    EXPECT_NE(reportOf(service->exportBatches(9, 2)).find("Batch 2, Canada"), std::string::npos);
}

}  // namespace
}  // namespace eft::server::testing
