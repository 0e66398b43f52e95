#include "tables/table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "text/text_forms.h"
#include "ui/phrases.h"

namespace eft {

const char* typeName(FieldType type) {
    switch (type) {
        case FieldType::Int32: return "32-bit integer";
        case FieldType::Int16: return "16-bit integer";
        case FieldType::Single: return "single";
        case FieldType::Boolean: return "Boolean";
        case FieldType::Timestamp: return "timestamp";
        case FieldType::Text: return "text";
    }
    return "?";
}

// Each distinct text of one column once: the characters one after another, a span (offset and
// length) per text, and an open-addressing index of the spans for interning.
struct Table::TextPool {
    static constexpr unsigned kLengthBits = 20;  // values are at most kMaxValueBytes long
    std::string chars;
    std::vector<std::uint64_t> spans;
    std::vector<std::uint32_t> slots;  // span number + 1; 0 is free

    std::string_view at(std::uint32_t id) const {
        const std::uint64_t s = spans[id];
        return std::string_view(chars).substr(static_cast<std::size_t>(s >> kLengthBits),
                                              static_cast<std::size_t>(s & ((1u << kLengthBits) - 1)));
    }

    std::uint32_t intern(std::string_view text) {
        if ((spans.size() + 1) * 2 > slots.size()) grow();
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = std::hash<std::string_view>{}(text) & mask;; i = (i + 1) & mask) {
            if (slots[i] == 0) {
                const auto id = static_cast<std::uint32_t>(spans.size());
                spans.push_back(static_cast<std::uint64_t>(chars.size()) << kLengthBits | text.size());
                chars.append(text);
                slots[i] = id + 1;
                return id;
            }
            if (at(slots[i] - 1) == text) return slots[i] - 1;
        }
    }

    void grow() {
        std::vector<std::uint32_t> fresh(std::max<std::size_t>(64, slots.size() * 2), 0);
        const std::size_t mask = fresh.size() - 1;
        for (std::uint32_t id = 0; id < spans.size(); ++id) {
            std::size_t i = std::hash<std::string_view>{}(at(id)) & mask;
            while (fresh[i] != 0) i = (i + 1) & mask;
            fresh[i] = id + 1;
        }
        slots.swap(fresh);
    }

    void clear() {
        chars.clear();
        spans.clear();
        slots.clear();
    }

    std::size_t bytes() const {
        return chars.capacity() + spans.capacity() * sizeof(std::uint64_t) + slots.capacity() * sizeof(std::uint32_t);
    }
};

// Clauses joined by " AND ", each a set of terms joined by " OR ": one lookup set per field a
// clause names, so a row is tested in O(fields named).
struct Table::FilterTerms {
    using Clause = std::vector<std::pair<int, std::unordered_set<std::int64_t>>>;
    std::vector<Clause> clauses;
};

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The C locale's white space and letter case, without a locale look-up per character.
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char foldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i])) return false;
    return true;
}

std::optional<std::int64_t> parseWhole(std::string_view s) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    // Every value of a whole-number column passes here: up to 18 digits cannot overflow, so
    // they are read without the library's general reader.
    const bool negative = !s.empty() && s.front() == '-';
    const std::string_view digits = s.substr(negative ? 1 : 0);
    if (!digits.empty() && digits.size() <= 18) {
        std::int64_t whole = 0;
        bool plain = true;
        for (const char c : digits) {
            // A byte that is no digit ends the sum: it would make it overflow.
            if (c < '0' || c > '9') {
                plain = false;
                break;
            }
            whole = whole * 10 + (c - '0');
        }
        if (plain) return negative ? -whole : whole;
    }
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

// A reply's value its field cannot take, said in the words of the field's type.
std::string_view notValidPhrase(FieldType type) {
    switch (type) {
        case FieldType::Int32: return ui::phrase::kNotValidInt32;
        case FieldType::Int16: return ui::phrase::kNotValidInt16;
        case FieldType::Single: return ui::phrase::kNotValidSingle;
        case FieldType::Boolean: return ui::phrase::kNotValidBoolean;
        case FieldType::Timestamp:
        case FieldType::Text: break;  // every text is a valid text
    }
    return ui::phrase::kNotValidTimestamp;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    out.append(s.substr(0, 80));
    if (s.size() > 80) out += "...";
    return out + "\"";
}

}  // namespace

Table::Table(std::string name) : name_(std::move(name)) {}
Table::~Table() = default;
Table::Table(Table&&) noexcept = default;
Table& Table::operator=(Table&&) noexcept = default;

void Table::fail(std::string_view phrase, std::string_view a, std::string_view b, std::string_view c) const {
    throw EftError(ui::fill(phrase, {name_, a, b, c}));
}

void Table::defineField(std::string fieldName, FieldType type, int size) {
    if (open_) fail(ui::phrase::kFieldAfterOpen);
    if (findField(fieldName)) fail(ui::phrase::kFieldDefinedTwice, fieldName);
    lowerNames_.push_back(lower(fieldName));
    fields_.push_back(FieldDef{std::move(fieldName), type, size});
}

std::optional<int> Table::findField(std::string_view fieldName) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (iequals(fields_[i].name, fieldName)) return static_cast<int>(i);
    return std::nullopt;
}

int Table::fieldIndex(std::string_view fieldName) const {
    if (auto f = findField(fieldName)) return *f;
    fail(ui::phrase::kNoFieldNamed, quoted(fieldName));
}

namespace {

std::uint32_t widthOf(FieldType type) {
    switch (type) {
        case FieldType::Int32: return 4;
        case FieldType::Int16: return 2;
        case FieldType::Single: return 4;
        case FieldType::Boolean: return 1;
        case FieldType::Timestamp: return 8;
        case FieldType::Text: return 4;
    }
    return 8;
}

template <typename T>
T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void put(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// The whole number a single stands for, when it is one that fits a 32-bit field.
std::optional<std::int32_t> wholeOfSingle(float f) {
    const double d = std::nearbyint(static_cast<double>(f));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) return std::nullopt;  // NaN fails too
    return static_cast<std::int32_t>(d);
}

}  // namespace

// A block: one presence bit a row for every field, then each field's array, the widest first
// so that every array stays aligned to its width.
void Table::layOut() {
    columns_.assign(fields_.size(), Column{});
    pools_.clear();
    std::size_t offset = fields_.size() * (kBlockRows / 8);
    for (const std::uint32_t width : {8u, 4u, 2u, 1u})
        for (std::size_t f = 0; f < fields_.size(); ++f) {
            if (widthOf(fields_[f].type) != width) continue;
            columns_[f].offset = offset;
            columns_[f].width = width;
            offset += std::size_t{width} * kBlockRows;
            if (fields_[f].type == FieldType::Text) {
                columns_[f].pool = static_cast<int>(pools_.size());
                pools_.push_back(std::make_unique<TextPool>());
            }
        }
    blockWords_ = (offset + 7) / 8;
}

void Table::open() {
    if (open_) fail(ui::phrase::kTableAlreadyOpen);
    layOut();
    open_ = true;
    orderDirty_ = viewDirty_ = true;
    where_ = Where::Bof;
}

void Table::addRow() {
    if (!open_) fail(ui::phrase::kTableNotOpen);
    if (liveRows_ == 0 && !alive_.empty()) {
        // Every earlier row is gone: start the storage afresh instead of keeping dead rows.
        blocks_.clear();
        alive_.clear();
        for (auto& pool : pools_) pool->clear();
        begunInRow_.clear();  // row numbers start again
    }
    if (alive_.size() >= std::numeric_limits<std::uint32_t>::max() - kBlockRows) fail(ui::phrase::kTooManyRows);
    const auto row = static_cast<std::uint32_t>(alive_.size());
    if ((row & (kBlockRows - 1)) == 0) {
        // Only the presence bits need clearing: a value is read only where its bit is set.
        blocks_.emplace_back(new std::uint64_t[blockWords_]);
        std::memset(blocks_.back().get(), 0, fields_.size() * (kBlockRows / 8));
    }
    alive_.push_back(1);
    ++liveRows_;
    row_ = row;
    where_ = Where::Row;
    orderDirty_ = viewDirty_ = true;
}

std::uint32_t Table::checkedRow(int field) const {
    if (field < 0 || static_cast<std::size_t>(field) >= fields_.size()) fail(ui::phrase::kNoSuchField);
    if (!open_) fail(ui::phrase::kTableNotOpen);
    // No view rebuild here: the current row is row_ whatever the view, and rebuilding on every
    // write after addRow made filling a table quadratic (and lost a row added under a filter).
    if (where_ == Where::Bof) fail(ui::phrase::kBeforeFirstRow);
    if (where_ == Where::Eof) fail(ui::phrase::kAfterLastRow);
    if (!alive_[row_]) fail(ui::phrase::kRowDeleted);
    return row_;
}

std::string_view Table::textAt(std::uint32_t row, int field) const {
    return pools_[static_cast<std::size_t>(columns_[static_cast<std::size_t>(field)].pool)]->at(
        load<std::uint32_t>(cell(row, field)));
}

void Table::storeText(std::uint32_t row, int field, std::string_view text) {
    put(cell(row, field), pools_[static_cast<std::size_t>(columns_[static_cast<std::size_t>(field)].pool)]->intern(text));
}

Value Table::value(int field) const {
    const std::uint32_t row = currentRow(field);
    if (!present(row, field)) return std::monostate{};
    const unsigned char* p = cell(row, field);
    switch (fields_[static_cast<std::size_t>(field)].type) {
        case FieldType::Int32: return load<std::int32_t>(p);
        case FieldType::Int16: return std::int32_t{load<std::int16_t>(p)};
        case FieldType::Single: return load<float>(p);
        case FieldType::Boolean: return *p != 0;
        case FieldType::Timestamp: return Timestamp{load<std::int64_t>(p)};
        case FieldType::Text: return std::string(textAt(row, field));
    }
    return std::monostate{};
}

void Table::markKeyWritten(int field) {
    if (field == sortField_) orderDirty_ = viewDirty_ = true;
}

void Table::setNull(int field) {
    markPresent(currentRow(field), field, false);
    markKeyWritten(field);
}

namespace {

void putWhole(unsigned char* p, FieldType type, std::int64_t v) {
    if (type == FieldType::Int16) put(p, static_cast<std::int16_t>(v));
    else put(p, static_cast<std::int32_t>(v));
}

}  // namespace

void Table::set(int field, const Value& v) {
    if (!hasValue(v)) return setNull(field);
    if (const auto* s = std::get_if<std::string>(&v)) return setFromText(field, *s);
    const std::uint32_t row = currentRow(field);  // validates the field index first
    unsigned char* p = cell(row, field);
    const FieldDef& def = fields_[static_cast<std::size_t>(field)];
    auto badValue = [&](const std::string& shown) {
        fail(ui::phrase::kCannotStore, shown, typeName(def.type), def.name);
    };
    auto number = [&]() -> double {
        if (auto q = std::get_if<std::int32_t>(&v)) return *q;
        if (auto q = std::get_if<float>(&v)) return *q;
        if (auto q = std::get_if<bool>(&v)) return *q ? -1 : 0;
        fail(ui::phrase::kTimestampCannotStore, typeName(def.type), def.name);
    };
    switch (def.type) {
        case FieldType::Int32:
        case FieldType::Int16: {
            const double d = std::nearbyint(number());
            const double lo = def.type == FieldType::Int16 ? -32768.0 : -2147483648.0;
            const double hi = def.type == FieldType::Int16 ? 32767.0 : 2147483647.0;
            if (!(d >= lo && d <= hi)) badValue(text::singleText(static_cast<float>(number())));
            putWhole(p, def.type, static_cast<std::int64_t>(d));
            break;
        }
        case FieldType::Single: put(p, static_cast<float>(number())); break;
        case FieldType::Boolean: *p = number() != 0; break;
        case FieldType::Timestamp:
            if (auto q = std::get_if<Timestamp>(&v)) put(p, q->seconds);
            else badValue("(a number)");
            break;
        case FieldType::Text:
            if (auto q = std::get_if<std::int32_t>(&v)) storeText(row, field, std::to_string(*q));
            else if (auto q = std::get_if<float>(&v)) storeText(row, field, text::singleText(*q));
            else if (auto q = std::get_if<bool>(&v)) storeText(row, field, *q ? "True" : "False");
            else badValue("(a timestamp)");
            break;
    }
    markPresent(row, field, true);
    markKeyWritten(field);
}

void Table::beginField(int field) {
    const std::uint32_t row = currentRow(field);
    if (begunInRow_.size() != fields_.size()) begunInRow_.assign(fields_.size(), 0);
    auto& begun = begunInRow_[static_cast<std::size_t>(field)];
    // A later value would silently replace the first, and a row could move to another center.
    if (begun == row + 1)
        throw EftError(ui::fill(ui::phrase::kFieldTwice, {name_, fields_[static_cast<std::size_t>(field)].name}));
    begun = row + 1;
}

void Table::setFromText(int field, std::string_view raw) {
    const std::uint32_t row = currentRow(field);  // validates the field index first
    unsigned char* p = cell(row, field);
    const FieldDef& def = fields_[static_cast<std::size_t>(field)];
    const std::string_view t = def.type == FieldType::Text ? raw : trim(raw);
    auto badValue = [&]() {
        throw ValueRefused(ui::fill(notValidPhrase(def.type), {name_, quoted(raw), def.name}));
    };
    if (raw.size() > kMaxValueBytes)
        throw EftError(
            ui::fill(ui::phrase::kValueTooLong, {name_, quoted(raw), std::to_string(kMaxValueBytes), def.name}));
    switch (def.type) {
        case FieldType::Int32:
        case FieldType::Int16: {
            auto v = parseWhole(t);
            const std::int64_t lo = def.type == FieldType::Int16 ? -32768 : std::numeric_limits<std::int32_t>::min();
            const std::int64_t hi = def.type == FieldType::Int16 ? 32767 : std::numeric_limits<std::int32_t>::max();
            if (!v || *v < lo || *v > hi) badValue();
            putWhole(p, def.type, *v);
            break;
        }
        case FieldType::Single: {
            // An amount the screen would show with other cents than the server sent is refused
            // where it is read: a changed amount must never pass silently.
            float plain = 0;
            if (text::parsePlainAmount(t, plain)) {
                put(p, plain);
                break;
            }
            std::string notHeld;
            auto f = text::parseAmount(t, &notHeld);
            if (!f && !notHeld.empty())
                throw ValueRefused(ui::fill(ui::phrase::kNotHeldToCent, {name_, quoted(raw), def.name, notHeld}));
            if (!f) badValue();
            put(p, *f);
            break;
        }
        case FieldType::Boolean: {
            if (iequals(t, "true")) *p = 1;
            else if (iequals(t, "false")) *p = 0;
            else {
                float f = 0;
                std::string_view s = t;
                if (!s.empty() && s.front() == '+') s.remove_prefix(1);
                auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), f);
                if (s.empty() || ec != std::errc() || end != s.data() + s.size() || std::isnan(f)) badValue();
                *p = f != 0;
            }
            break;
        }
        case FieldType::Timestamp: {
            auto ts = parseTimestamp(t);
            if (!ts) badValue();
            put(p, ts->seconds);
            break;
        }
        case FieldType::Text: storeText(row, field, t); break;
    }
    markPresent(row, field, true);
    markKeyWritten(field);
}

std::optional<std::int32_t> Table::convertedInteger(int field) const {
    const Value v = value(field);
    auto notWhole = [&]() -> std::optional<std::int32_t> {
        fail(ui::phrase::kNotWhole32, fields_[static_cast<std::size_t>(field)].name);
    };
    if (auto p = std::get_if<std::int32_t>(&v)) return *p;
    if (auto p = std::get_if<float>(&v)) {
        if (auto w = wholeOfSingle(*p)) return w;
        return notWhole();
    }
    if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
    if (auto p = std::get_if<std::string>(&v)) {
        auto w = parseWhole(*p);
        if (w && *w >= std::numeric_limits<std::int32_t>::min() && *w <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(*w);
        return notWhole();
    }
    if (hasValue(v)) return notWhole();
    return std::nullopt;
}

std::optional<float> Table::convertedSingle(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<float>(&v)) return *p;
    if (auto p = std::get_if<std::int32_t>(&v)) return static_cast<float>(*p);
    if (auto p = std::get_if<bool>(&v)) return *p ? -1.0f : 0.0f;
    if (auto p = std::get_if<std::string>(&v)) {
        if (auto f = text::parseSingle(*p)) return *f;
        fail(ui::phrase::kNotANumber, fields_[static_cast<std::size_t>(field)].name);
    }
    if (hasValue(v)) fail(ui::phrase::kNotANumber, fields_[static_cast<std::size_t>(field)].name);
    return std::nullopt;
}

std::optional<bool> Table::convertedBoolean(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<bool>(&v)) return *p;
    if (auto p = std::get_if<std::int32_t>(&v)) return *p != 0;
    if (auto p = std::get_if<float>(&v)) return *p != 0;
    if (hasValue(v)) fail(ui::phrase::kNotTrueFalse, fields_[static_cast<std::size_t>(field)].name);
    return std::nullopt;
}

std::optional<Timestamp> Table::timestamp(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<Timestamp>(&v)) return *p;
    if (hasValue(v)) fail(ui::phrase::kNotADate, fields_[static_cast<std::size_t>(field)].name);
    return std::nullopt;
}

std::optional<std::string> Table::text(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<std::string>(&v)) return *p;
    if (auto p = std::get_if<std::int32_t>(&v)) return std::to_string(*p);
    if (auto p = std::get_if<float>(&v)) return text::singleText(*p);
    if (auto p = std::get_if<bool>(&v)) return std::string(*p ? "True" : "False");
    if (auto p = std::get_if<Timestamp>(&v)) return text::dateMDY(p->date());
    return std::nullopt;
}

void Table::setFilter(std::string_view expression) {
    if (!open_) fail(ui::phrase::kTableNotOpen);
    const std::string_view expr = trim(expression);
    std::unique_ptr<FilterTerms> terms;
    if (!expr.empty()) {
        terms = std::make_unique<FilterTerms>();
        for (std::string_view clauses = expr;;) {
            const std::size_t andAt = clauses.find(" AND ");
            std::string_view rest = trim(clauses.substr(0, andAt));
            // A clause may stand in parentheses, so that joined filters read as they work.
            if (rest.starts_with('(') && rest.ends_with(')')) rest = rest.substr(1, rest.size() - 2);
            auto& clause = terms->clauses.emplace_back();
            std::unordered_map<int, std::size_t> slot;
            while (true) {
                const std::size_t orAt = rest.find(" OR ");
                const std::string_view term = trim(rest.substr(0, orAt));
                const std::size_t eq = term.find('=');
                if (eq == std::string_view::npos) fail(ui::phrase::kTermWithoutEquals, quoted(term));
                const int field = fieldIndex(trim(term.substr(0, eq)));
                auto number = parseWhole(term.substr(eq + 1));
                if (!number) fail(ui::phrase::kTermNotWhole, quoted(term));
                auto [it, fresh] = slot.try_emplace(field, clause.size());
                if (fresh) clause.emplace_back(field, std::unordered_set<std::int64_t>{});
                clause[it->second].second.insert(*number);
                if (orAt == std::string_view::npos) break;
                rest = rest.substr(orAt + 4);
            }
            if (andAt == std::string_view::npos) break;
            clauses = clauses.substr(andAt + 5);
        }
    }
    // A row the new filter cannot judge fails the operation and leaves the old filter in force.
    std::swap(filter_, terms);
    viewDirty_ = true;
    try {
        ensureView();
    } catch (const EftError&) {
        std::swap(filter_, terms);
        viewDirty_ = true;
        throw;
    }
    filterText_ = std::string(expression);
    if (visibleLive_ == 0) {
        where_ = Where::Eof;
        pos_ = view_.size();
    } else {
        pos_ = 0;
        while (!alive_[view_[pos_]]) ++pos_;
        row_ = view_[pos_];
        where_ = Where::Row;
    }
}

void Table::setSort(std::string_view fieldName) {
    sortField_ = fieldIndex(fieldName);
    orderDirty_ = viewDirty_ = true;
}

bool Table::passesFilter(std::uint32_t row) const {
    if (!filter_) return true;
    for (std::size_t c = 0; c < filter_->clauses.size(); ++c)
        if (!passesClause(row, c)) return false;
    return true;
}

bool Table::passesClause(std::uint32_t row, std::size_t clause) const {
    for (const auto& [field, values] : filter_->clauses[clause]) {
        if (!present(row, field)) continue;
        const unsigned char* p = cell(row, field);
        std::int64_t key = 0;
        switch (fields_[static_cast<std::size_t>(field)].type) {
            case FieldType::Int32: key = load<std::int32_t>(p); break;
            case FieldType::Int16: key = load<std::int16_t>(p); break;
            case FieldType::Single: {
                const float f = load<float>(p);
                if (!(std::fabs(f) < 9.0e18f))
                    fail(ui::phrase::kValueNotComparable, text::singleText(f), fields_[static_cast<std::size_t>(field)].name);
                if (f != std::floor(f)) continue;
                key = static_cast<std::int64_t>(f);
                break;
            }
            case FieldType::Boolean: key = *p ? -1 : 0; break;
            case FieldType::Text: {
                auto w = parseWhole(textAt(row, field));
                if (!w) continue;
                key = *w;
                break;
            }
            case FieldType::Timestamp: continue;
        }
        if (values.count(key)) return true;
    }
    return false;
}

int Table::compareRows(std::uint32_t a, std::uint32_t b) const {
    const int f = sortField_;
    const bool hasA = present(a, f), hasB = present(b, f);
    if (!hasA || !hasB) return hasA == hasB ? 0 : (hasA ? 1 : -1);  // no value sorts first
    auto cmp = [](auto x, auto y) { return (x > y) - (x < y); };
    const unsigned char* x = cell(a, f);
    const unsigned char* y = cell(b, f);
    switch (fields_[static_cast<std::size_t>(f)].type) {
        case FieldType::Int32: return cmp(load<std::int32_t>(x), load<std::int32_t>(y));
        case FieldType::Int16: return cmp(load<std::int16_t>(x), load<std::int16_t>(y));
        case FieldType::Single: return cmp(load<float>(x), load<float>(y));
        case FieldType::Boolean: return cmp(*x, *y);
        case FieldType::Timestamp: return cmp(load<std::int64_t>(x), load<std::int64_t>(y));
        case FieldType::Text: return lower(textAt(a, f)).compare(lower(textAt(b, f)));
    }
    return 0;
}

void Table::ensureView() const {
    if (!viewDirty_) return;
    // The sorted order of all rows survives filter changes, so a new filter costs O(rows + terms).
    if (orderDirty_) {
        order_.clear();
        order_.reserve(liveRows_);
        for (std::uint32_t r = 0; r < alive_.size(); ++r)
            if (alive_[r]) order_.push_back(r);
        // A reply comes in the order it is sorted by: one pass tells, where a merge sort of a
        // million rows would move every one of them some twenty times.
        const auto before = [this](std::uint32_t a, std::uint32_t b) { return compareRows(a, b) < 0; };
        if (sortField_ >= 0 && !std::is_sorted(order_.begin(), order_.end(), before))
            std::stable_sort(order_.begin(), order_.end(), before);
        orderDirty_ = false;
    }
    view_.clear();
    view_.reserve(order_.size());
    for (const std::uint32_t r : order_)
        if (alive_[r] && passesFilter(r)) view_.push_back(r);
    visibleLive_ = view_.size();
    viewDirty_ = false;
    if (where_ == Where::Row) {
        // Keep the cursor on its row; a row the filter now hides leaves it at EOF.
        auto it = std::find(view_.begin(), view_.end(), row_);
        if (it != view_.end()) pos_ = static_cast<std::size_t>(it - view_.begin());
        else if (alive_.size() > row_ && alive_[row_]) { where_ = Where::Eof; pos_ = view_.size(); }
    }
}

void Table::moveFirst() {
    if (!open_) fail(ui::phrase::kTableNotOpen);
    ensureView();
    if (visibleLive_ == 0) fail(ui::phrase::kNoFirstRow);
    pos_ = 0;
    while (!alive_[view_[pos_]]) ++pos_;
    row_ = view_[pos_];
    where_ = Where::Row;
}

void Table::moveNext() {
    if (!open_) fail(ui::phrase::kTableNotOpen);
    ensureView();
    if (where_ == Where::Eof) fail(ui::phrase::kAlreadyAfterLast);
    std::size_t p = where_ == Where::Bof ? 0 : pos_ + 1;
    while (p < view_.size() && !alive_[view_[p]]) ++p;
    pos_ = p;
    if (p >= view_.size()) {
        where_ = Where::Eof;
    } else {
        row_ = view_[p];
        where_ = Where::Row;
    }
}

bool Table::eof() const {
    if (!open_) return true;
    ensureView();
    return where_ == Where::Eof || visibleLive_ == 0;
}

bool Table::bof() const {
    if (!open_) return true;
    ensureView();
    return where_ == Where::Bof || visibleLive_ == 0;
}

std::size_t Table::rowCount() const {
    if (!open_) return 0;
    ensureView();
    return visibleLive_;
}

void Table::deleteCurrent() {
    ensureView();  // the position the cursor keeps after the delete must be in the current view
    currentRow(0);  // validates that there is a live current row
    alive_[row_] = 0;
    --liveRows_;
    if (visibleLive_ > 0) --visibleLive_;
}

void Table::emptyAndSort(std::string_view sortField) {
    if (open_) {
        if (!bof()) moveFirst();
        while (rowCount() != 0) {
            deleteCurrent();
            moveNext();
        }
    } else {
        open();
    }
    setSort(sortField);
}

std::size_t Table::memoryBytes() const {
    std::size_t bytes = blocks_.size() * blockWords_ * sizeof(std::uint64_t) +
                        blocks_.capacity() * sizeof(blocks_[0]) + alive_.capacity() +
                        (view_.capacity() + order_.capacity()) * sizeof(std::uint32_t);
    for (const auto& pool : pools_) bytes += pool->bytes();
    return bytes;
}

}  // namespace eft
