#pragma once
// The working table: a compact in-memory record set with typed fields, a filter of
// "Field = number" terms, a sort field and a cursor over the visible rows.
//
// Rows are kept in insertion order and never move. They are stored by column in blocks of
// rows: each field has an array of its own type's width in every block, and a bit a row says
// whether it holds a value. A text field holds an index into its column's pool, where each
// distinct text is kept once (names and descriptions repeat across thousands of rows). The
// visible rows (those the filter lets through, in sort order) are an index over the rows,
// rebuilt when a walk starts after rows were added or the sort key changed. Deleted rows are
// marked dead and skipped, so emptying a table row by row is linear. Every failed operation
// throws EftError.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "tables/value.h"

namespace eft {

// The longest value text a field takes; a longer one does not convert, whatever the field.
inline constexpr std::size_t kMaxValueBytes = 64 * 1024;

// A value text its field cannot take: not of the field's type, or an amount that cannot be held
// to the cent. Nothing else of the table is wrong, so a reader may read on to the end of the
// record and name the row before it stops.
class ValueRefused : public EftError {
public:
    using EftError::EftError;
};

struct FieldDef {
    std::string name;
    FieldType type;
    int size;  // declared size; 0 for the type's natural size
};

class Table {
    static constexpr unsigned kBlockShift = 10;

public:
    // Rows are stored in blocks of this many: threads that work on rows by number (RowAt) each
    // take whole blocks.
    static constexpr std::uint32_t kBlockRows = 1u << kBlockShift;

    explicit Table(std::string name);
    ~Table();
    Table(Table&&) noexcept;
    Table& operator=(Table&&) noexcept;

    const std::string& name() const { return name_; }

    // Appends a field; only before the table is first opened.
    void defineField(std::string fieldName, FieldType type, int size = 0);
    const std::vector<FieldDef>& fields() const { return fields_; }
    // The index of a field by name, letter case not significant; throws for an unknown name.
    int fieldIndex(std::string_view fieldName) const;
    std::optional<int> findField(std::string_view fieldName) const;

    void open();
    bool isOpen() const { return open_; }

    // Appends a row with no values and makes it the current row.
    void addRow();
    // A record names each field once: every reader calls this as a field of the row added last
    // begins, and a second call for the same field throws, naming it. Several values inside
    // one field element are not a second field.
    void beginField(int field);

    // Field access on the current row. Reading yields no value (std::monostate) for an
    // unwritten field; writing converts to the field's type.
    Value value(int field) const;
    Value value(std::string_view fieldName) const { return value(fieldIndex(fieldName)); }
    void set(int field, const Value& v);
    void set(std::string_view fieldName, const Value& v) { set(fieldIndex(fieldName), v); }
    // Converts a value text to the field's type (the form the server's replies carry); throws
    // ValueRefused for a text the field cannot take.
    void setFromText(int field, std::string_view text);
    void setNull(int field);
    // Writes a single, or no value, without a Value's round trip: the amounts a load works out
    // for each of a million rows. A field of another type takes it as set() would.
    void setSingle(int field, std::optional<float> v);

    // Typed reads with conversion; nothing when the field holds no value.
    std::optional<std::int32_t> integer(int field) const;
    std::optional<float> single(int field) const;
    std::optional<bool> boolean(int field) const;
    std::optional<Timestamp> timestamp(int field) const;
    std::optional<std::string> text(int field) const;
    std::optional<std::int32_t> integer(std::string_view n) const { return integer(fieldIndex(n)); }
    std::optional<float> single(std::string_view n) const { return single(fieldIndex(n)); }
    std::optional<bool> boolean(std::string_view n) const { return boolean(fieldIndex(n)); }
    std::optional<Timestamp> timestamp(std::string_view n) const { return timestamp(fieldIndex(n)); }
    std::optional<std::string> text(std::string_view n) const { return text(fieldIndex(n)); }

    // A row by its number rather than by the cursor, for a pass over every row that is split
    // between threads: each thread takes rows of its own and writes only fields that no other
    // reads or writes, and nothing else uses the table meanwhile. Only fields of the type read
    // or written: Int32 or Int16 for integer(), Single, Boolean.
    class RowAt {
    public:
        std::optional<std::int32_t> integer(int field) const { return table_->nativeInteger(row_, field); }
        std::optional<float> single(int field) const { return table_->nativeSingle(row_, field); }
        std::optional<bool> boolean(int field) const { return table_->nativeBoolean(row_, field); }
        void setSingle(int field, std::optional<float> v) const { table_->writeSingle(row_, field, v); }

    private:
        friend class Table;
        RowAt(Table* table, std::uint32_t row) : table_(table), row_(row) {}
        Table* table_;
        std::uint32_t row_;
    };
    // Row numbers run from 0 below rowNumbers(); a deleted row keeps its number and is not live.
    std::uint32_t rowNumbers() const { return static_cast<std::uint32_t>(alive_.size()); }
    bool isLive(std::uint32_t row) const { return row < alive_.size() && alive_[row] != 0; }
    RowAt rowAt(std::uint32_t row) { return RowAt(this, row); }
    // Whether the rows are sorted by the field: a pass by number must not write it.
    bool sortsBy(int field) const { return field == sortField_; }

    // "" removes the filter; otherwise terms "Field = number" joined by " OR ", forming clauses
    // joined by " AND " (each may stand in parentheses). Puts the cursor on the first visible
    // row, or at EOF when none is visible.
    void setFilter(std::string_view expression);
    const std::string& filter() const { return filterText_; }
    void setSort(std::string_view fieldName);

    void moveFirst();
    void moveNext();
    bool eof() const;
    bool bof() const;
    std::size_t rowCount() const;  // visible rows
    void deleteCurrent();

    // Opens a closed table, or deletes every visible row of an open one, then sets the sort.
    void emptyAndSort(std::string_view sortField);

    // Bytes held by the rows (for the memory benchmark).
    std::size_t memoryBytes() const;

private:
    // Where a field lives in a block: its array starts `offset` bytes in, `width` bytes a row.
    struct Column {
        std::size_t offset = 0;
        std::uint32_t width = 0;
        int pool = -1;  // text fields: their pool
    };
    struct TextPool;
    struct FilterTerms;

    // The value at a row of a field of the type asked for. These and the typed reads are
    // inline: an optional returned from another unit comes back through memory, a stall for
    // each of the millions of amounts a load reads back.
    std::optional<std::int32_t> nativeInteger(std::uint32_t row, int field) const;
    std::optional<float> nativeSingle(std::uint32_t row, int field) const;
    std::optional<bool> nativeBoolean(std::uint32_t row, int field) const;
    void writeSingle(std::uint32_t row, int field, std::optional<float> v);
    std::optional<std::int32_t> convertedInteger(int field) const;  // a field of another type
    std::optional<float> convertedSingle(int field) const;
    std::optional<bool> convertedBoolean(int field) const;
    std::uint32_t currentRow(int field) const;  // validates the field and the cursor
    std::uint32_t checkedRow(int field) const;  // the same, naming what is wrong
    unsigned char* cell(std::uint32_t row, int field) const;
    bool present(std::uint32_t row, int field) const;
    void markPresent(std::uint32_t row, int field, bool present);
    std::string_view textAt(std::uint32_t row, int field) const;
    void storeText(std::uint32_t row, int field, std::string_view text);
    void layOut();
    void markKeyWritten(int field);
    void ensureView() const;
    bool passesFilter(std::uint32_t row) const;
    bool passesClause(std::uint32_t row, std::size_t clause) const;
    int compareRows(std::uint32_t a, std::uint32_t b) const;
    // Throws `phrase` filled with the table's name, then `a`, `b`, `c`.
    [[noreturn]] void fail(std::string_view phrase, std::string_view a = {}, std::string_view b = {},
                           std::string_view c = {}) const;

    enum class Where { Bof, Row, Eof };

    std::string name_;
    std::vector<FieldDef> fields_;
    std::vector<std::string> lowerNames_;
    bool open_ = false;

    std::vector<Column> columns_;                    // per field: where it lives in a block
    std::vector<std::unique_ptr<TextPool>> pools_;   // per text field
    std::size_t blockWords_ = 0;                     // 64-bit words of one block
    std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;
    std::vector<std::uint8_t> alive_;  // per row
    std::size_t liveRows_ = 0;

    std::string filterText_;
    std::unique_ptr<FilterTerms> filter_;
    int sortField_ = -1;

    mutable std::vector<std::uint32_t> order_;  // every row in sort order (dead ones skipped)
    mutable bool orderDirty_ = true;
    mutable std::vector<std::uint32_t> view_;  // visible rows in visiting order, dead ones skipped
    mutable bool viewDirty_ = true;
    mutable std::size_t visibleLive_ = 0;
    mutable std::size_t pos_ = 0;
    mutable Where where_ = Where::Bof;
    std::uint32_t row_ = 0;  // the current row when where_ == Row
    std::vector<std::uint32_t> begunInRow_;  // per field: 1 + the row whose record named it last
};

inline std::uint32_t Table::currentRow(int field) const {
    // Called for every value read or written: the usual case without a call.
    if (field >= 0 && static_cast<std::size_t>(field) < fields_.size() && where_ == Where::Row && open_ &&
        alive_[row_]) [[likely]]
        return row_;
    return checkedRow(field);
}

inline unsigned char* Table::cell(std::uint32_t row, int field) const {
    const Column& c = columns_[static_cast<std::size_t>(field)];
    auto* block = reinterpret_cast<unsigned char*>(blocks_[row >> kBlockShift].get());
    return block + c.offset + std::size_t{row & (kBlockRows - 1)} * c.width;
}

inline bool Table::present(std::uint32_t row, int field) const {
    const std::uint64_t* bits = blocks_[row >> kBlockShift].get() + static_cast<std::size_t>(field) * (kBlockRows / 64);
    const std::uint32_t at = row & (kBlockRows - 1);
    return (bits[at / 64] >> (at % 64)) & 1u;
}

inline void Table::markPresent(std::uint32_t row, int field, bool isPresent) {
    std::uint64_t* bits = blocks_[row >> kBlockShift].get() + static_cast<std::size_t>(field) * (kBlockRows / 64);
    const std::uint32_t at = row & (kBlockRows - 1);
    const std::uint64_t bit = std::uint64_t{1} << (at % 64);
    bits[at / 64] = isPresent ? (bits[at / 64] | bit) : (bits[at / 64] & ~bit);
}

inline void Table::setSingle(int field, std::optional<float> v) {
    const std::uint32_t row = currentRow(field);
    // The sort key moves rows: only set() and setNull() know to rebuild the order.
    if (fields_[static_cast<std::size_t>(field)].type != FieldType::Single || field == sortField_) {
        if (v) set(field, *v);
        else setNull(field);
        return;
    }
    writeSingle(row, field, v);
}

inline void Table::writeSingle(std::uint32_t row, int field, std::optional<float> v) {
    if (v) std::memcpy(cell(row, field), &*v, sizeof(float));
    markPresent(row, field, v.has_value());
}

inline std::optional<std::int32_t> Table::nativeInteger(std::uint32_t row, int field) const {
    if (!present(row, field)) return std::nullopt;
    const unsigned char* p = cell(row, field);
    if (fields_[static_cast<std::size_t>(field)].type == FieldType::Int16) {
        std::int16_t v;
        std::memcpy(&v, p, sizeof v);
        return std::int32_t{v};
    }
    std::int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::optional<float> Table::nativeSingle(std::uint32_t row, int field) const {
    if (!present(row, field)) return std::nullopt;
    float v;
    std::memcpy(&v, cell(row, field), sizeof v);
    return v;
}

inline std::optional<bool> Table::nativeBoolean(std::uint32_t row, int field) const {
    if (!present(row, field)) return std::nullopt;
    return *cell(row, field) != 0;
}

inline std::optional<std::int32_t> Table::integer(int field) const {
    const std::uint32_t row = currentRow(field);
    const FieldType type = fields_[static_cast<std::size_t>(field)].type;
    if (type == FieldType::Int32 || type == FieldType::Int16) return nativeInteger(row, field);
    return present(row, field) ? convertedInteger(field) : std::nullopt;
}

inline std::optional<float> Table::single(int field) const {
    const std::uint32_t row = currentRow(field);
    if (fields_[static_cast<std::size_t>(field)].type == FieldType::Single) return nativeSingle(row, field);
    return present(row, field) ? convertedSingle(field) : std::nullopt;
}

inline std::optional<bool> Table::boolean(int field) const {
    const std::uint32_t row = currentRow(field);
    if (fields_[static_cast<std::size_t>(field)].type == FieldType::Boolean) return nativeBoolean(row, field);
    return present(row, field) ? convertedBoolean(field) : std::nullopt;
}

}  // namespace eft
