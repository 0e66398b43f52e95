// The filter grammar of the working table ("Field = number" terms joined by " OR "), over a
// table of every field type whose values come from the input too. The first line is the
// filter; each further line is a row of '|'-separated value texts. The first byte picks the
// sort field (or none).
#include <string>
#include <vector>

#include "base/error.h"
#include "fuzz_entry.h"
#include "tables/table.h"

namespace {

std::vector<std::string_view> split(std::string_view s, char at) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t to = s.find(at, from);
        parts.push_back(s.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from));
        if (to == std::string_view::npos) return parts;
        from = to + 1;
    }
}

// Every typed read of every field of the current row; a value that does not convert fails
// through EftError, as the handlers expect.
void readAll(const eft::Table& t) {
    for (int f = 0; f < static_cast<int>(t.fields().size()); ++f) {
        try { (void)t.integer(f); } catch (const eft::EftError&) {}
        try { (void)t.single(f); } catch (const eft::EftError&) {}
        try { (void)t.boolean(f); } catch (const eft::EftError&) {}
        try { (void)t.timestamp(f); } catch (const eft::EftError&) {}
        try { (void)t.text(f); } catch (const eft::EftError&) {}
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::vector<std::string_view> lines = split(eft::fuzz::asText(data + 1, size - 1), '\n');

    eft::Table t("rsFuzz");
    t.defineField("CenterID", eft::FieldType::Int32);
    t.defineField("Source", eft::FieldType::Int16);
    t.defineField("RowTotal", eft::FieldType::Single);
    t.defineField("Trust", eft::FieldType::Boolean);
    t.defineField("SweepDate", eft::FieldType::Timestamp);
    t.defineField("CenterName", eft::FieldType::Text, 50);
    t.open();
    const int fields = static_cast<int>(t.fields().size());
    const int sortField = data[0] % (fields + 1);
    if (sortField < fields) t.setSort(t.fields()[static_cast<std::size_t>(sortField)].name);

    std::size_t rows = 0;
    for (std::size_t l = 1; l < lines.size() && rows < 64; ++l, ++rows) {
        t.addRow();
        const auto cells = split(lines[l], '|');
        for (int f = 0; f < fields && f < static_cast<int>(cells.size()); ++f) {
            try {
                t.setFromText(f, cells[static_cast<std::size_t>(f)]);
            } catch (const eft::EftError&) {
            }
        }
    }

    try {
        t.setFilter(lines[0]);
    } catch (const eft::EftError&) {
        // A malformed filter leaves the table as it was, with every row visible.
        eft::fuzz::require(t.filter().empty() && t.rowCount() == rows);
        return 0;
    }
    eft::fuzz::require(t.filter() == lines[0]);
    // The filter put the cursor on the first row it shows (or at EOF when it shows none).
    std::size_t walked = 0;
    for (; !t.eof(); t.moveNext(), ++walked) readAll(t);
    eft::fuzz::require(walked == t.rowCount() && walked <= rows);

    // Deleting what the filter shows leaves exactly the rows it hid.
    const std::size_t shown = walked;
    if (shown != 0)
        for (t.moveFirst(); !t.eof(); t.moveNext()) t.deleteCurrent();
    t.setFilter("");
    eft::fuzz::require(t.rowCount() == rows - shown);
    return 0;
}
