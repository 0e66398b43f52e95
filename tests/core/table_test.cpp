// The working table: failures, conversions, the filter grammar, sorting, deleting, and the
// two field lists.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tables/field_lists.h"
#include "tables/table.h"

namespace eft {
namespace {

constexpr int kNone = INT_MIN;  // stands for "no value" in lists of visited ids

Table openSweep() {
    Table t = makeTable("rsSweep", sweepFields());
    t.open();
    return t;
}

void addRow(Table& t, std::optional<int> center, std::optional<int> member) {
    t.addRow();
    if (center) t.set("CenterID", Value{std::int32_t{*center}});
    if (member) t.set("MemberID", Value{std::int32_t{*member}});
}

// The ids of the visible rows in visiting order, from the first visible row.
std::vector<int> visit(Table& t, const char* field) {
    std::vector<int> out;
    if (t.rowCount() == 0) return out;
    for (t.moveFirst(); !t.eof(); t.moveNext()) out.push_back(t.integer(field).value_or(kNone));
    return out;
}

// --- failures ---------------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    std::function<void(Table&)> act;       // runs on an open sweep table holding centers 12 and 15
    std::vector<std::string> mentions;     // texts the description must name
    int keeps = -1;                        // a field of the current row the failed write leaves as it was
};

void toEof(Table& t) {
    t.moveFirst();
    while (!t.eof()) t.moveNext();
}

Table closedBatch() { return makeTable("rsBatch", batchFields()); }

const FailureCase kFailures[] = {
    {"read at EOF", [](Table& t) { toEof(t); (void)t.value("CenterID"); }, {"rsSweep", "EOF"}},
    {"write at EOF", [](Table& t) { toEof(t); t.setFromText(sweep_field::CenterID, "1"); }, {"rsSweep", "EOF"}},
    {"move past EOF", [](Table& t) { toEof(t); t.moveNext(); }, {"rsSweep", "EOF"}},
    {"read at BOF", [](Table&) { Table b = closedBatch(); b.open(); (void)b.value("Amount"); }, {"rsBatch", "BOF"}},
    {"read with no row visible", [](Table& t) { t.setFilter("CenterID = 99"); (void)t.single("Royalty"); }, {"rsSweep"}},
    {"first row when the filter hides all", [](Table& t) { t.setFilter("CenterID = 99"); t.moveFirst(); }, {"rsSweep"}},
    {"read after delete", [](Table& t) { t.moveFirst(); t.deleteCurrent(); (void)t.value("CenterID"); }, {"rsSweep"}},
    {"unknown field read", [](Table& t) { (void)t.value("NoSuchField"); }, {"rsSweep", "NoSuchField"}},
    {"unknown sort field", [](Table& t) { t.setSort("SortMe"); }, {"rsSweep", "SortMe"}},
    {"unknown filter field", [](Table& t) { t.setFilter("Centre = 1"); }, {"rsSweep", "Centre"}},
    {"field index out of range, read", [](Table& t) { (void)t.value(99); }, {"rsSweep"}},
    {"not a whole number", [](Table& t) { t.set("CenterID", Value{std::string("12a")}); }, {"rsSweep", "CenterID", "12a"},
     sweep_field::CenterID},
    {"not a whole number from text", [](Table& t) { t.setFromText(sweep_field::CenterID, "x"); }, {"CenterID", "x"},
     sweep_field::CenterID},
    {"decimal into an integer", [](Table& t) { t.setFromText(sweep_field::MemberID, "1.5"); }, {"MemberID", "1.5"}},
    {"32-bit overflow", [](Table& t) { t.setFromText(sweep_field::TrustID, "2147483648"); }, {"TrustID", "2147483648"}},
    {"32-bit underflow", [](Table& t) { t.setFromText(sweep_field::TrustID, "-2147483649"); }, {"TrustID", "-2147483649"}},
    {"eighteen nines", [](Table& t) { t.setFromText(sweep_field::TrustID, "999999999999999999"); }, {"TrustID"}},
    {"64-bit overflow", [](Table& t) { t.setFromText(sweep_field::TrustID, "99999999999999999999"); }, {"TrustID"}},
    {"a sign alone", [](Table& t) { t.setFromText(sweep_field::CenterID, "-"); }, {"CenterID", "\"-\""}},
    {"a sign inside", [](Table& t) { t.setFromText(sweep_field::CenterID, "1-2"); }, {"CenterID", "1-2"}},
    {"16-bit overflow", [](Table& t) { t.setFromText(sweep_field::Source, "32768"); }, {"Source", "32768"},
     sweep_field::Source},
    {"16-bit overflow from a number", [](Table& t) { t.set("SweepSequence", Value{40000.0f}); }, {"SweepSequence"}},
    {"not a number", [](Table& t) { t.set("Royalty", Value{std::string("ten")}); }, {"Royalty", "ten"}},
    {"a number cut short", [](Table& t) { t.set("Royalty", Value{std::string("1..2")}); }, {"Royalty", "1..2"},
     sweep_field::Royalty},
    {"infinite single", [](Table& t) { t.setFromText(sweep_field::GST, "inf"); }, {"GST", "inf"}},
    {"single overflow", [](Table& t) { t.setFromText(sweep_field::PST, "1e39"); }, {"PST", "1e39"}},
    {"not true or false", [](Table& t) { t.setFromText(sweep_field::DownPayment, "yes"); }, {"DownPayment", "yes"}},
    {"not a date", [](Table& t) { t.setFromText(sweep_field::SweepDate, "2011-02-30"); }, {"SweepDate", "2011-02-30"}},
    {"number into a date", [](Table& t) { t.set("ContractSigned", Value{std::int32_t{5}}); }, {"ContractSigned"}},
    {"date into a number", [](Table& t) { t.set("CenterID", Value{Timestamp{}}); }, {"CenterID"}},
    {"define after open", [](Table& t) { t.defineField("Extra", FieldType::Int32); }, {"rsSweep"}},
    {"define twice", [](Table&) { Table b("rsX"); b.defineField("A", FieldType::Text, 5); b.defineField("a", FieldType::Int32); }, {"rsX"}},
    {"open twice", [](Table& t) { t.open(); }, {"rsSweep"}},
    {"add to a closed table", [](Table&) { Table b = closedBatch(); b.addRow(); }, {"rsBatch"}},
    {"read a closed table", [](Table&) { Table b = closedBatch(); (void)b.value("Amount"); }, {"rsBatch"}},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class TableFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(TableFailure, ThrowsWithADescription) {
    Table t = openSweep();
    addRow(t, 12, 1);
    addRow(t, 15, 2);
    t.setSort("CenterID");
    t.setFromText(sweep_field::Source, "3");
    const Value before = GetParam().keeps >= 0 ? t.value(GetParam().keeps) : Value{};
    try {
        GetParam().act(t);
        FAIL() << "no failure";
    } catch (const EftError& e) {
        const std::string d = e.description();
        for (const auto& m : GetParam().mentions) EXPECT_NE(d.find(m), std::string::npos) << d;
    } catch (const std::exception& e) {
        FAIL() << "a failure of another type: " << e.what();
    }
    if (GetParam().keeps >= 0) {
        EXPECT_EQ(t.value(GetParam().keeps), before) << "a failed write changed the field";
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, TableFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) {
                             std::string n;
                             for (const char* c = info.param.name; *c; ++c)
                                 n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return n;
                         });

// --- field names, conversions and "no value" --------------------------------------------------

TEST(Table, FieldNamesIgnoreLetterCase) {
    Table t = openSweep();
    t.addRow();
    const char* spellings[] = {"CenterID", "centerid", "CENTERID", "cEnTeRiD"};
    std::int32_t v = 0;
    for (const char* s : spellings) {
        EXPECT_EQ(t.fieldIndex(s), sweep_field::CenterID) << s;
        t.set(s, Value{++v});
        for (const char* r : spellings) EXPECT_EQ(t.integer(r), v) << s << " / " << r;
    }
    EXPECT_EQ(t.fieldIndex("gstSHOW"), sweep_field::GSTshow);
    EXPECT_FALSE(t.findField("Center ID").has_value());
    EXPECT_FALSE(t.findField("CenterID ").has_value());
}

// A text given by either means converts the same way; a number, a flag or a date given as it is
// converts to the field's type.
TEST(Table, ValuesConvertToTheFieldType) {
    const Timestamp mar4 = Timestamp::from(Date{2011, 3, 4});
    const struct {
        int field;
        Value given;
        Value stored;
    } cases[] = {
        {sweep_field::CenterID, std::string("12"), std::int32_t{12}},
        {sweep_field::CenterID, std::string("0012"), std::int32_t{12}},
        {sweep_field::CenterID, std::string(" 15 "), std::int32_t{15}},
        {sweep_field::CenterID, std::string("-3"), std::int32_t{-3}},
        {sweep_field::CenterID, std::string("+4"), std::int32_t{4}},
        {sweep_field::CenterID, std::string("+-5"), std::int32_t{-5}},
        {sweep_field::CenterID, std::string("-0"), std::int32_t{0}},
        {sweep_field::CenterID, std::string("000000000000000042"), std::int32_t{42}},
        {sweep_field::CenterID, std::string("-0000000000000000042"), std::int32_t{-42}},
        {sweep_field::MemberID, std::string("2147483647"), std::int32_t{2147483647}},
        {sweep_field::MemberID, std::string("-2147483648"), std::int32_t{INT32_MIN}},
        {sweep_field::Source, std::string("32767"), std::int32_t{32767}},
        {sweep_field::Source, std::string("-32768"), std::int32_t{-32768}},
        {sweep_field::ConversionRate, std::string("0.75"), 0.75f},
        {sweep_field::Royalty, std::string("-1.5"), -1.5f},
        {sweep_field::Royalty, std::string(" 2.25 "), 2.25f},
        {sweep_field::Royalty, std::string("12.345"), 12.345f},
        {sweep_field::SalesTaxExempt, std::string("true"), true},
        {sweep_field::SalesTaxExempt, std::string("TRUE"), true},
        {sweep_field::SalesTaxExempt, std::string("false"), false},
        {sweep_field::SalesTaxExempt, std::string("0"), false},
        {sweep_field::SalesTaxExempt, std::string("1"), true},
        {sweep_field::SalesTaxExempt, std::string("-1"), true},
        {sweep_field::SweepDate, std::string("2011-03-04"), mar4},
        {sweep_field::SweepDate, std::string("3/4/2011"), mar4},
        {sweep_field::SweepDate, std::string("2011-03-04T10:20:30"), Timestamp::from(Date{2011, 3, 4}, 10, 20, 30)},
        {sweep_field::MemberName, std::string("O'Brien & Sons"), std::string("O'Brien & Sons")},
        {sweep_field::SourceDescription, std::string("caf\xC3\xA9"), std::string("caf\xC3\xA9")},
        {sweep_field::CenterID, 2.5f, std::int32_t{2}},  // a number is rounded half to even
        {sweep_field::CenterID, 3.5f, std::int32_t{4}},
        {sweep_field::CenterID, true, std::int32_t{-1}},
        {sweep_field::Source, -7.0f, std::int32_t{-7}},
        {sweep_field::Royalty, std::int32_t{3}, 3.0f},
        {sweep_field::Royalty, false, 0.0f},
        {sweep_field::SalesTaxExempt, std::int32_t{0}, false},
        {sweep_field::SalesTaxExempt, 0.5f, true},
        {sweep_field::MemberName, std::int32_t{-1002}, std::string("-1002")},
        {sweep_field::MemberName, 37.5f, std::string("37.5")},
        {sweep_field::SweepDate, mar4, mar4},
    };
    Table t = openSweep();
    t.addRow();
    for (const auto& c : cases) {
        const std::string* text = std::get_if<std::string>(&c.given);
        const std::string what = t.fields()[c.field].name + (text ? " from \"" + *text + '"' : std::string());
        t.setNull(c.field);
        t.set(c.field, c.given);
        EXPECT_EQ(t.value(c.field), c.stored) << what;
        if (!text) continue;
        t.setNull(c.field);
        t.setFromText(c.field, *text);
        EXPECT_EQ(t.value(c.field), c.stored) << what << " by setFromText";
    }
}

TEST(Table, UnwrittenFieldsHoldNoValue) {
    Table t = openSweep();
    t.addRow();
    for (int f = 0; f < sweep_field::Count; ++f) {
        EXPECT_FALSE(hasValue(t.value(f))) << t.fields()[f].name;
        EXPECT_FALSE(t.text(f).has_value()) << t.fields()[f].name;
        EXPECT_FALSE(t.integer(f).has_value() || t.single(f).has_value() || t.boolean(f).has_value() ||
                     t.timestamp(f).has_value())
            << t.fields()[f].name;
    }
    // Written, then set to no value by either means.
    t.setFromText(sweep_field::Royalty, "1.5");
    t.setFromText(sweep_field::CenterID, "7");
    t.setNull(sweep_field::Royalty);
    t.set(sweep_field::CenterID, Value{});
    EXPECT_FALSE(t.single("Royalty").has_value());
    EXPECT_FALSE(t.integer("CenterID").has_value());
    // A second row starts empty whatever the first one holds.
    t.setFromText(sweep_field::MemberName, "Ann");
    t.addRow();
    EXPECT_FALSE(t.text("MemberName").has_value());
}

TEST(Table, TypedReads) {
    Table t = openSweep();
    t.addRow();
    t.setFromText(sweep_field::CenterID, "12");
    t.setFromText(sweep_field::RowTotal, "15.5");
    t.setFromText(sweep_field::SubscriptionMembership, "true");
    t.setFromText(sweep_field::SweepDate, "2011-03-04T10:20:30");
    t.setFromText(sweep_field::MemberName, "Ann");
    EXPECT_EQ(t.single("CenterID"), 12.0f);
    EXPECT_EQ(t.text("CenterID"), "12");
    EXPECT_EQ(t.text("RowTotal"), "15.5");
    EXPECT_EQ(t.integer("SubscriptionMembership"), -1);
    EXPECT_EQ(t.boolean("CenterID"), true);
    EXPECT_EQ(t.timestamp("SweepDate")->date(), (Date{2011, 3, 4}));
    EXPECT_EQ(t.timestamp("SweepDate")->hour(), 10);
    EXPECT_THROW((void)t.integer("MemberName"), EftError);
    EXPECT_THROW((void)t.single("MemberName"), EftError);
    EXPECT_THROW((void)t.timestamp("CenterID"), EftError);
}

// A single beyond the 32-bit range (or a text beyond it) is no whole number: the read fails
// instead of casting out of range, and so does a filter that must compare it.
TEST(Table, WholeNumberReadsOfValuesOutOfRangeFail) {
    Table t = openSweep();
    t.setSort("CenterID");
    addRow(t, 12, 1);
    t.set("RowTotal", Value{1e30f});
    t.setFromText(sweep_field::MemberName, "99999999999");
    EXPECT_THROW((void)t.integer("RowTotal"), EftError);
    EXPECT_THROW((void)t.integer("MemberName"), EftError);
    t.set("RowTotal", Value{2147483647.0f});  // rounds to 2^31 in single precision
    EXPECT_THROW((void)t.integer("RowTotal"), EftError);
    t.set("RowTotal", Value{-2147483648.0f});
    EXPECT_EQ(t.integer("RowTotal"), std::numeric_limits<std::int32_t>::min());

    addRow(t, 15, 2);
    t.set("RowTotal", Value{1e30f});
    t.setFilter("MemberID = 1");
    EXPECT_THROW(t.setFilter("RowTotal = 7"), EftError);
    EXPECT_EQ(t.filter(), "MemberID = 1");  // the filter before stays in force
    EXPECT_EQ(visit(t, "MemberID"), (std::vector<int>{1}));
}

// Each distinct text is stored once per column; rows that share one stay apart when one of
// them is rewritten, and the columns do not share texts.
TEST(Table, RowsSharingATextStayApart) {
    Table t = openSweep();
    for (const char* name : {"Ann", "Bob", "Ann"}) {
        t.addRow();
        t.setFromText(sweep_field::MemberName, name);
        t.setFromText(sweep_field::CenterName, "Ann");
    }
    t.setFromText(sweep_field::MemberName, "Cy");
    std::vector<std::string> names;
    for (t.moveFirst(); !t.eof(); t.moveNext())
        names.push_back(*t.text("MemberName") + "/" + *t.text("CenterName"));
    EXPECT_EQ(names, (std::vector<std::string>{"Ann/Ann", "Bob/Ann", "Cy/Ann"}));
}

// Thousands of rows, past the storage's inner boundaries: every value of every type comes
// back from its own row, in sort order, and again after the table was emptied and refilled.
TEST(Table, ManyRowsKeepTheirValues) {
    Table t = openSweep();
    constexpr int kRows = 5000;
    for (int round = 0; round < 2; ++round) {
        t.emptyAndSort("MemberID");
        for (int k = 0; k < kRows; ++k) {
            t.addRow();
            const int id = (k * 7919) % kRows;  // every id once, out of order
            t.set(sweep_field::MemberID, Value{std::int32_t{id}});
            t.set(sweep_field::Source, Value{std::int32_t{id % 30000 - 15000}});
            t.set(sweep_field::Royalty, Value{static_cast<float>(id) / 4});
            t.set(sweep_field::SalesTaxExempt, Value{id % 3 == 0});
            t.set(sweep_field::SweepDate, Value{Timestamp::from(Date{2000 + id % 20, 1 + id % 12, 1 + id % 28})});
            t.setFromText(sweep_field::MemberName, "member " + std::to_string(id % 97));
            if (id % 5 == 0) t.setNull(sweep_field::Royalty);
        }
        ASSERT_EQ(t.rowCount(), static_cast<std::size_t>(kRows));
        int id = 0, wrong = 0;
        for (t.moveFirst(); !t.eof() && wrong < 5; t.moveNext(), ++id) {
            const bool right =
                t.integer("MemberID") == id && t.integer("Source") == id % 30000 - 15000 &&
                t.single("Royalty") == (id % 5 == 0 ? std::nullopt : std::optional<float>(static_cast<float>(id) / 4)) &&
                t.boolean("SalesTaxExempt") == (id % 3 == 0) &&
                t.timestamp("SweepDate") == Timestamp::from(Date{2000 + id % 20, 1 + id % 12, 1 + id % 28}) &&
                t.text("MemberName") == "member " + std::to_string(id % 97) && !t.integer("CenterID").has_value();
            if (!right) {
                ADD_FAILURE() << "round " << round << ", row of member " << id;
                ++wrong;
            }
        }
    }
}

// --- filter -----------------------------------------------------------------------------------

// Rows as (CenterID, MemberID); the visiting order by CenterID is, by MemberID:
// 7 (no center), 3, 1, 4, 2, 5, 6.
Table filterFixture() {
    Table t = openSweep();
    t.setSort("CenterID");
    addRow(t, 12, 1);
    addRow(t, 15, 2);
    addRow(t, 7, 3);
    addRow(t, 12, 4);
    addRow(t, 150, 5);
    addRow(t, 1200, 6);
    addRow(t, std::nullopt, 7);
    return t;
}

TEST(TableFilter, LetsThroughTheRowsOfAnyTerm) {
    const struct {
        const char* filter;
        std::vector<int> members;
    } cases[] = {
        {"", {7, 3, 1, 4, 2, 5, 6}},
        {" CenterID = 0012 OR CenterID = 15", {1, 4, 2}},
        {"CenterID = 7", {3}},
        {"centerid = 0007", {3}},
        {"CenterID = 12 OR CenterID = 12", {1, 4}},
        {"CenterID = 1200 OR CenterID = 150 OR CenterID = 7", {3, 5, 6}},
        {" MemberID = 3 OR CenterID = 15", {3, 2}},
        {" MemberID = 7", {7}},
        {"CenterID = 99", {}},
        {"CenterID = -12", {}},
        {"CenterID = 120", {}},
        // Clauses joined by AND: rows that pass every clause.
        {"( CenterID = 0012 OR CenterID = 15) AND ( MemberID = 4 OR MemberID = 2)", {4, 2}},
        {"CenterID = 12 AND MemberID = 3", {}},
        {"MemberID = 1 OR MemberID = 5 AND CenterID = 150 OR CenterID = 12", {1, 5}},
    };
    Table t = filterFixture();
    for (const auto& c : cases) {
        t.setFilter(c.filter);
        EXPECT_EQ(t.filter(), c.filter);
        EXPECT_EQ(t.rowCount(), c.members.size()) << '"' << c.filter << '"';
        if (c.members.empty()) {
            EXPECT_TRUE(t.eof()) << c.filter;
            EXPECT_TRUE(t.bof()) << c.filter;
            EXPECT_THROW(t.moveFirst(), EftError) << c.filter;
            continue;
        }
        // Setting the filter already stands on the first visible row.
        EXPECT_FALSE(t.eof()) << c.filter;
        EXPECT_FALSE(t.bof()) << c.filter;
        EXPECT_EQ(t.integer("MemberID"), c.members.front()) << c.filter;
        EXPECT_EQ(visit(t, "MemberID"), c.members) << '"' << c.filter << '"';
    }
}

TEST(TableFilter, RefusesMalformedFilters) {
    const char* bad[] = {
        "CenterID",
        "CenterID =",
        "= 12",
        "CenterID = x",
        "CenterID = 1.5",
        "Nope = 1",
        "CenterID = 1 OR",
        "OR CenterID = 1",
        "CenterID = 1 OR  OR CenterID = 2",
        "CenterID = 1 AND",
        "AND CenterID = 1",
        "(CenterID = 1",
        "( CenterID = 1) AND ( MemberID = x)",
        "CenterID = 99999999999999999999999",
    };
    Table t = filterFixture();
    t.setFilter(" CenterID = 12");
    for (const char* f : bad) {
        EXPECT_THROW(t.setFilter(f), EftError) << '"' << f << '"';
        // The filter in force stays.
        EXPECT_EQ(t.filter(), " CenterID = 12") << f;
        EXPECT_EQ(t.rowCount(), 2u) << f;
    }
}

// Thousands of terms over a hundred thousand rows select exactly the rows they name.
TEST(TableFilter, ManyTerms) {
    Table t = openSweep();
    t.setSort("CenterID");
    constexpr int kRows = 100'000;
    for (int i = kRows - 1; i >= 0; --i) addRow(t, i, i + 1);
    std::string filter;
    for (int i = 0; i < kRows; i += 10) {
        filter += filter.empty() ? " CenterID = " : " OR CenterID = ";
        filter += (i % 20 == 0 ? "000" : "") + std::to_string(i);
    }
    t.setFilter(filter);
    ASSERT_EQ(t.rowCount(), 10'000u);
    const std::vector<int> seen = visit(t, "CenterID");
    ASSERT_EQ(seen.size(), 10'000u);
    for (std::size_t k = 0; k < seen.size(); ++k) ASSERT_EQ(seen[k], static_cast<int>(k) * 10);

    // The emptying loop under that filter removes exactly those rows and leaves the others in
    // their order.
    t.moveFirst();
    while (t.rowCount() != 0) {
        t.deleteCurrent();
        t.moveNext();
    }
    EXPECT_TRUE(t.eof() && t.bof());
    t.setFilter("");
    std::vector<int> left;
    for (int i = 0; i < kRows; ++i)
        if (i % 10 != 0) left.push_back(i);
    EXPECT_EQ(visit(t, "CenterID"), left);
}

// --- sort, delete, empty ----------------------------------------------------------------------

TEST(TableSort, RowsAddedLaterJoinTheSortOrder) {
    Table t = openSweep();
    t.setSort("CenterID");
    addRow(t, 15, 1);
    addRow(t, 7, 2);
    EXPECT_EQ(visit(t, "CenterID"), (std::vector<int>{7, 15}));
    addRow(t, 12, 3);
    addRow(t, 3, 4);
    addRow(t, 20, 5);
    EXPECT_EQ(visit(t, "CenterID"), (std::vector<int>{3, 7, 12, 15, 20}));
    // Rows added under a filter follow it and the sort as well.
    t.setFilter("CenterID = 12 OR CenterID = 9");
    addRow(t, 9, 6);
    EXPECT_EQ(visit(t, "MemberID"), (std::vector<int>{6, 3}));
    t.setFilter("");
    EXPECT_EQ(visit(t, "CenterID"), (std::vector<int>{3, 7, 9, 12, 15, 20}));
}

TEST(TableSort, EqualKeysKeepTheirInsertionOrder) {
    Table t = openSweep();
    const int centers[] = {5, 3, 5, 3, 5, 1, 3, 5};
    for (int i = 0; i < 8; ++i) addRow(t, centers[i], i + 1);
    t.setSort("CenterID");
    EXPECT_EQ(visit(t, "MemberID"), (std::vector<int>{6, 2, 4, 7, 1, 3, 5, 8}));
    t.setSort("MemberID");
    EXPECT_EQ(visit(t, "CenterID"), (std::vector<int>{5, 3, 5, 3, 5, 1, 3, 5}));
    t.setSort("centerid");
    t.setFilter("CenterID = 5");
    EXPECT_EQ(visit(t, "MemberID"), (std::vector<int>{1, 3, 5, 8}));

    // Enough rows that a sort of its own would reorder equal keys.
    Table big = openSweep();
    big.setSort("CenterID");
    for (int i = 0; i < 1000; ++i) addRow(big, (i * 7919) % 5, i);
    const std::vector<int> keys = visit(big, "CenterID");
    const std::vector<int> members = visit(big, "MemberID");
    ASSERT_EQ(members.size(), 1000u);
    for (std::size_t k = 1; k < members.size(); ++k) {
        ASSERT_LE(keys[k - 1], keys[k]) << k;
        if (keys[k - 1] == keys[k]) {
            ASSERT_LT(members[k - 1], members[k]) << k;
        }
    }
}

// A reply mostly comes in sort order already; one row out of place anywhere still reorders.
TEST(TableSort, RowsNearlyInOrderAreSortedAndRowsInOrderStayAsAdded) {
    const struct {
        const char* name;
        std::vector<std::optional<int>> centers;  // the rows' keys, member i + 1 for the i-th
        std::vector<int> members;                 // the members in visiting order
    } cases[] = {
        {"inOrderWithRuns", {1, 1, 2, 2, 2, 3}, {1, 2, 3, 4, 5, 6}},
        {"lastOutOfPlace", {1, 2, 3, 4, 0}, {5, 1, 2, 3, 4}},
        {"firstOutOfPlace", {2, 1, 3, 3}, {2, 1, 3, 4}},
        {"noValueLast", {1, 2, std::nullopt}, {3, 1, 2}},
        {"equalKeysAfterAnOutOfPlaceOne", {5, 5, 1, 5}, {3, 1, 2, 4}},
    };
    for (const auto& c : cases) {
        Table t = openSweep();
        t.setSort("CenterID");
        for (std::size_t i = 0; i < c.centers.size(); ++i) addRow(t, c.centers[i], static_cast<int>(i) + 1);
        EXPECT_EQ(visit(t, "MemberID"), c.members) << c.name;
    }
}

TEST(TableDelete, CursorStaysOnTheRemovedPositionUntilMoved) {
    Table t = openSweep();
    t.setSort("CenterID");
    addRow(t, 3, 30);
    addRow(t, 1, 10);
    addRow(t, 2, 20);
    t.moveFirst();
    t.moveNext();
    ASSERT_EQ(t.integer("CenterID"), 2);
    t.deleteCurrent();
    EXPECT_THROW((void)t.value("CenterID"), EftError);
    EXPECT_EQ(t.rowCount(), 2u);
    t.moveNext();
    EXPECT_EQ(t.integer("CenterID"), 3);
    EXPECT_EQ(visit(t, "CenterID"), (std::vector<int>{1, 3}));
}

TEST(TableEmpty, EmptyAndSort) {
    // A closed table is opened empty.
    Table closed = makeTable("rsBatch", batchFields());
    closed.emptyAndSort("BatchControl");
    EXPECT_TRUE(closed.isOpen());
    EXPECT_EQ(closed.rowCount(), 0u);

    // A freshly opened table is emptied without deleting anything and stays open.
    Table fresh = openSweep();
    fresh.emptyAndSort("CenterID");
    EXPECT_TRUE(fresh.isOpen());
    EXPECT_EQ(fresh.rowCount(), 0u);
    EXPECT_TRUE(fresh.eof() && fresh.bof());

    // A table walked to its end, sorted by another field, is emptied and takes the new sort.
    Table t = openSweep();
    t.setSort("MemberID");
    for (int i = 0; i < 5; ++i) addRow(t, 10 - i, i);
    toEof(t);
    t.emptyAndSort("CenterID");
    EXPECT_EQ(t.rowCount(), 0u);
    addRow(t, 9, 1);
    addRow(t, 4, 2);
    EXPECT_EQ(visit(t, "CenterID"), (std::vector<int>{4, 9}));
    EXPECT_THROW(t.emptyAndSort("Nope"), EftError);
}

// A row added under a filter is the current row, and the values written to it stay with it.
TEST(TableAdd, RowAddedUnderAFilterTakesItsValues) {
    Table t = filterFixture();
    t.setFilter("CenterID = 12");
    t.addRow();
    t.setFromText(sweep_field::CenterID, "88");
    t.setFromText(sweep_field::MemberID, "9");
    t.setFromText(sweep_field::MemberName, "late");
    EXPECT_EQ(t.integer("MemberID"), 9);
    EXPECT_EQ(visit(t, "MemberID"), (std::vector<int>{1, 4}));
    t.setFilter("CenterID = 88");
    EXPECT_EQ(t.rowCount(), 1u);
    EXPECT_EQ(t.text("MemberName"), "late");
}

// --- field lists ------------------------------------------------------------------------------

// Source is 16-bit in the sweep table and 32-bit in the batch table.
TEST(FieldLists, SourceWidthDiffers) {
    Table sweep = openSweep();
    Table batch = makeTable("rsBatch", batchFields());
    batch.open();
    sweep.addRow();
    batch.addRow();
    EXPECT_THROW(sweep.setFromText(sweep_field::Source, "40000"), EftError);
    batch.setFromText(batch_field::Source, "40000");
    EXPECT_EQ(batch.integer("Source"), 40000);
}

}  // namespace
}  // namespace eft
