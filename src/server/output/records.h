#pragma once
// What a command prints, as records a person or a program can read: text (tab-separated, for
// a terminal), CSV (RFC 4180) or JSON. Every field holds one value: an amount is a plain
// decimal, a count a whole number, never both in one field.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace eft::server::output {

enum class Format { Text, Csv, Json };

// "text", "csv" or "json"; nothing for any other name.
std::optional<Format> formatNamed(std::string_view name);

// An amount in cents, written as a plain decimal ("0.00"): 1504.19, -0.05.
struct Amount {
    std::int64_t cents = 0;
};

// A field's value: none (empty; null in JSON), a text, a whole number, yes/no or an amount.
using Value = std::variant<std::monostate, std::string, std::int64_t, bool, Amount>;

// Records of one kind, every row a value per column.
struct Records {
    std::string kind;  // "files", "faults": names the array in JSON and the rows in a mixed CSV
    std::vector<std::string> columns;
    std::vector<std::vector<Value>> rows;

    // Throws std::logic_error when the row's size is not the columns'.
    void add(std::vector<Value> row);
};

// The records of each kind in turn.
// - Text: per kind, a header line and a line per row, tab-separated, each text escaped (a tab
//   too) so a row stays one line; a blank line between kinds.
// - CSV: lines end in CRLF; a field holding a comma, a quote or a line break is quoted, its
//   quotes doubled. One kind: its columns. Several: one table whose first column, "record",
//   names the kind, and whose columns are every kind's in order of first use; a row leaves
//   the columns of other kinds empty.
// - JSON: one object, a key per kind holding an array of objects, in ASCII (anything past it
//   written \uNNNN; bytes that are not UTF-8 become U+FFFD). Amounts are JSON numbers.
std::string render(const std::vector<Records>& all, Format format);

}  // namespace eft::server::output
