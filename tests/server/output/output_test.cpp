#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <vector>

#include "server/output/records.h"
#include "server/output/shown_text.h"

namespace eft::server {
namespace {

// Whatever a client sends reaches a reply or the log as one line that shows what it is.
TEST(ShownText, HiddenCharactersAndBrokenUtf8AreEscaped) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain /eft/x.asp?a=1", "plain /eft/x.asp?a=1"},
        {"Montr\u00e9al \u65e5\U0001F600", "Montr\u00e9al \u65e5\U0001F600"},  // printable UTF-8 stays
        {"a\r\nb\x7f", "a\\x0D\\x0Ab\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"\xC2\x9B" "31m", "\\u{009B}31m"},                     // C1 control (CSI)
        {"txt\xE2\x80\xAE" "exe.scr", "txt\\u{202E}exe.scr"},  // right-to-left override
        {"\xE2\x81\xA6x", "\\u{2066}x"},                       // left-to-right isolate
        {"\xFF\xFE", "\\xFF\\xFE"},                           // not UTF-8
        {"\xC3", "\\xC3"},                                       // cut short
        {"\xC0\xAF", "\\xC0\\xAF"},                           // overlong '/'
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},               // a surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(escapedText(c.in), c.out) << c.in;
}

// A field of any size is shown in a few hundred bytes, escaped, with its whole size.
TEST(ShownText, ALongTextIsCutOnACharacterAndSaysItsSize) {
    const std::string huge(10485760, 'x');
    const struct {
        std::string in;
        std::size_t max;
        std::string out;
    } cases[] = {
        {"short", 8, "short"},
        {"12345678", 8, "12345678"},
        {"123456789", 8, "12345678\u2026(9 bytes)"},
        {huge, 16, std::string(16, 'x') + "\u2026(10485760 bytes)"},
        {"abc\u00e9z", 4, "abc\u2026(6 bytes)"},                      // not half an e-acute
        {"\x1b[2J\x07" + std::string(20, 'y'), 6, "\\x1B[2J\\x07y\u2026(25 bytes)"},
        {"\xFF\xFF\xFF\xFF\xFF\xFF", 3, "\\xFF\\xFF\\xFF\u2026(6 bytes)"},  // not UTF-8: cut anywhere
    };
    for (const auto& c : cases) EXPECT_EQ(shownText(c.in, c.max), c.out) << c.out;
}

using output::Amount;
using output::Format;
using output::Records;

std::vector<Records> sample(bool twoKinds) {
    Records files{"files", {"file", "debits", "count", "published"}, {}};
    files.add({std::string("a,b"), Amount{150419}, std::int64_t{2}, true});
    files.add({std::string("say \"hi\"\nbye"), Amount{-5}, std::monostate{}, false});
    std::vector<Records> all{files};
    if (twoKinds) {
        Records faults{"faults", {"file", "line", "reason"}, {}};
        faults.add({std::string("c.csv"), std::int64_t{3}, std::string("tab\there \u00e9\xE2\x80\xAE")});
        all.push_back(faults);
    }
    return all;
}

struct RenderCase {
    const char* name;
    bool twoKinds;
    Format format;
    std::string out;
};

class Render : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Render, WritesOneValuePerField) {
    EXPECT_EQ(output::render(sample(GetParam().twoKinds), GetParam().format), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Output, Render,
    ::testing::Values(
        RenderCase{"CsvQuotesCommasQuotesAndLineBreaks", false, Format::Csv,
                   "file,debits,count,published\r\n\"a,b\",1504.19,2,true\r\n\"say \"\"hi\"\"\nbye\",-0.05,,false\r\n"},
        RenderCase{"CsvOfTwoKindsNamesEachRowsKind", true, Format::Csv,
                   "record,file,debits,count,published,line,reason\r\n"
                   "files,\"a,b\",1504.19,2,true,,\r\n"
                   "files,\"say \"\"hi\"\"\nbye\",-0.05,,false,,\r\n"
                   "faults,c.csv,,,,3,tab\there \u00e9\xE2\x80\xAE\r\n"},
        RenderCase{"TextKeepsEachRowOnOneLine", true, Format::Text,
                   "file\tdebits\tcount\tpublished\n"
                   "a,b\t1504.19\t2\ttrue\n"
                   "say \"hi\"\\x0Abye\t-0.05\t\tfalse\n"
                   "\n"
                   "file\tline\treason\n"
                   "c.csv\t3\ttab\\x09here \u00e9\\u{202E}\n"},
        RenderCase{"JsonIsAsciiWithNumbersAndNull", true, Format::Json,
                   "{\n\"files\": [\n"
                   "  {\"file\": \"a,b\", \"debits\": 1504.19, \"count\": 2, \"published\": true},\n"
                   "  {\"file\": \"say \\\"hi\\\"\\nbye\", \"debits\": -0.05, \"count\": null, \"published\": false}\n],\n"
                   "\"faults\": [\n"
                   "  {\"file\": \"c.csv\", \"line\": 3, \"reason\": \"tab\\there \\u00e9\\u202e\"}\n]\n}\n"}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

TEST(Render, JsonReadsBackAndBrokenUtf8BecomesReplacement) {
    Records r{"rows", {"text", "amount"}, {}};
    r.add({std::string("ok\xFF"), Amount{-12345678901234}});
    r.add({std::monostate{}, Amount{7}});
    const auto j = nlohmann::json::parse(output::render({r}, Format::Json));
    ASSERT_EQ(j["rows"].size(), 2u);
    EXPECT_EQ(j["rows"][0]["text"], "ok\uFFFD");
    EXPECT_NE(output::render({r}, Format::Json).find("\"amount\": -123456789012.34}"), std::string::npos);
    EXPECT_TRUE(j["rows"][1]["text"].is_null());
    EXPECT_DOUBLE_EQ(j["rows"][1]["amount"].get<double>(), 0.07);
    EXPECT_EQ(output::render({Records{"none", {"a"}, {}}}, Format::Json), "{\n\"none\": []\n}\n");
}

TEST(Render, FormatsByNameAndRowsOfTheWrongWidthAreRefused) {
    EXPECT_EQ(output::formatNamed("csv"), Format::Csv);
    EXPECT_EQ(output::formatNamed("json"), Format::Json);
    EXPECT_EQ(output::formatNamed("text"), Format::Text);
    EXPECT_EQ(output::formatNamed("JSON"), std::nullopt);
    Records r{"rows", {"a", "b"}, {}};
    EXPECT_THROW(r.add({std::int64_t{1}}), std::logic_error);
}

}  // namespace
}  // namespace eft::server
