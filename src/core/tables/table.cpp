#include "tables/table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "text/text_forms.h"

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

// One stored value in 8 bytes whatever the type: texts and timestamps live beside the cells
// (texts_, stamps_) and the cell holds their slot.
struct Table::Cell {
    union {
        std::int32_t i;
        float f;
        bool b;
        std::uint32_t slot;
    };
    bool null = true;
    bool hasSlot = false;
    Cell() : i(0) {}
};
static_assert(sizeof(Table::Cell) == 8);

// One lookup set per field named in the filter, so a row is tested in O(fields named).
struct Table::FilterTerms {
    std::vector<std::pair<int, std::unordered_set<std::int64_t>>> sets;
};

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::int64_t> parseWhole(std::string_view s) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
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

void Table::fail(const std::string& what) const { throw EftError(name_ + ": " + what); }

void Table::defineField(std::string fieldName, FieldType type, int size) {
    if (open_) fail("a field cannot be added once the table is open");
    if (findField(fieldName)) fail("the field " + fieldName + " is defined twice");
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
    fail("there is no field named " + quoted(fieldName));
}

void Table::open() {
    if (open_) fail("the table is already open");
    open_ = true;
    orderDirty_ = viewDirty_ = true;
    where_ = Where::Bof;
}

void Table::addRow() {
    if (!open_) fail("the table is not open");
    if (liveRows_ == 0 && !alive_.empty()) {
        // Every earlier row is gone: start the storage afresh instead of keeping dead rows.
        cells_.clear();
        texts_.clear();
        stamps_.clear();
        alive_.clear();
    }
    if (alive_.size() >= std::numeric_limits<std::uint32_t>::max()) fail("too many rows");
    cells_.resize(cells_.size() + fields_.size());
    alive_.push_back(1);
    ++liveRows_;
    row_ = static_cast<std::uint32_t>(alive_.size() - 1);
    where_ = Where::Row;
    orderDirty_ = viewDirty_ = true;
}

void Table::reserveRows(std::size_t rows) {
    const std::size_t live = liveRows_ == 0 ? 0 : alive_.size();  // addRow starts afresh when all are gone
    cells_.reserve((live + rows) * fields_.size());
    alive_.reserve(live + rows);
    std::size_t textFields = 0, stampFields = 0;
    for (const auto& f : fields_) {
        textFields += f.type == FieldType::Text;
        stampFields += f.type == FieldType::Timestamp;
    }
    texts_.reserve(texts_.size() + rows * textFields);
    stamps_.reserve(stamps_.size() + rows * stampFields);
}

std::size_t Table::cellIndex(int field) const {
    if (field < 0 || static_cast<std::size_t>(field) >= fields_.size()) fail("no such field");
    if (!open_) fail("the table is not open");
    // No view rebuild here: the current row is row_ whatever the view, and rebuilding on every
    // write after addRow made filling a table quadratic (and lost a row added under a filter).
    if (where_ == Where::Bof) fail("no current row: the cursor stands before the first row (BOF)");
    if (where_ == Where::Eof) fail("no current row: the cursor stands after the last row (EOF)");
    if (!alive_[row_]) fail("the current row has been deleted");
    return static_cast<std::size_t>(row_) * fields_.size() + static_cast<std::size_t>(field);
}

const Table::Cell& Table::currentCell(int field) const { return cells_[cellIndex(field)]; }
Table::Cell& Table::writableCell(int field) { return cells_[cellIndex(field)]; }

Value Table::value(int field) const {
    const Cell& c = currentCell(field);
    if (c.null) return std::monostate{};
    switch (fields_[static_cast<std::size_t>(field)].type) {
        case FieldType::Int32:
        case FieldType::Int16: return c.i;
        case FieldType::Single: return c.f;
        case FieldType::Boolean: return c.b;
        case FieldType::Timestamp: return Timestamp{stamps_[c.slot]};
        case FieldType::Text: return texts_[c.slot];
    }
    return std::monostate{};
}

void Table::storeText(Cell& cell, std::string_view text) {
    if (cell.hasSlot) {
        texts_[cell.slot].assign(text);
    } else {
        cell.slot = static_cast<std::uint32_t>(texts_.size());
        texts_.emplace_back(text);
        cell.hasSlot = true;
    }
}

void Table::storeStamp(Cell& cell, std::int64_t seconds) {
    if (cell.hasSlot) {
        stamps_[cell.slot] = seconds;
    } else {
        cell.slot = static_cast<std::uint32_t>(stamps_.size());
        stamps_.push_back(seconds);
        cell.hasSlot = true;
    }
}

void Table::markKeyWritten(int field) {
    if (field == sortField_) orderDirty_ = viewDirty_ = true;
}

void Table::setNull(int field) {
    Cell& c = writableCell(field);
    c.null = true;
    markKeyWritten(field);
}

void Table::set(int field, const Value& v) {
    if (!hasValue(v)) return setNull(field);
    if (const auto* s = std::get_if<std::string>(&v)) return setFromText(field, *s);
    Cell& c = writableCell(field);  // validates the field index first
    const FieldDef& def = fields_[static_cast<std::size_t>(field)];
    auto badValue = [&](const std::string& shown) {
        fail("the value " + shown + " cannot be stored in the " + typeName(def.type) + " field " + def.name);
    };
    auto number = [&]() -> double {
        if (auto p = std::get_if<std::int32_t>(&v)) return *p;
        if (auto p = std::get_if<float>(&v)) return *p;
        if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
        fail("a timestamp cannot be stored in the " + std::string(typeName(def.type)) + " field " + def.name);
    };
    switch (def.type) {
        case FieldType::Int32:
        case FieldType::Int16: {
            const double d = std::nearbyint(number());
            const double lo = def.type == FieldType::Int16 ? -32768.0 : -2147483648.0;
            const double hi = def.type == FieldType::Int16 ? 32767.0 : 2147483647.0;
            if (!(d >= lo && d <= hi)) badValue(text::singleText(static_cast<float>(number())));
            c.i = static_cast<std::int32_t>(d);
            break;
        }
        case FieldType::Single: c.f = static_cast<float>(number()); break;
        case FieldType::Boolean: c.b = number() != 0; break;
        case FieldType::Timestamp:
            if (auto p = std::get_if<Timestamp>(&v)) storeStamp(c, p->seconds);
            else badValue("(a number)");
            break;
        case FieldType::Text:
            if (auto p = std::get_if<std::int32_t>(&v)) storeText(c, std::to_string(*p));
            else if (auto p = std::get_if<float>(&v)) storeText(c, text::singleText(*p));
            else if (auto p = std::get_if<bool>(&v)) storeText(c, *p ? "True" : "False");
            else badValue("(a timestamp)");
            break;
    }
    c.null = false;
    markKeyWritten(field);
}

void Table::setFromText(int field, std::string_view raw) {
    Cell& c = writableCell(field);  // validates the field index first
    const FieldDef& def = fields_[static_cast<std::size_t>(field)];
    const std::string_view t = def.type == FieldType::Text ? raw : trim(raw);
    auto badValue = [&]() {
        fail("the value " + quoted(raw) + " is not a valid " + typeName(def.type) + " for the field " + def.name);
    };
    switch (def.type) {
        case FieldType::Int32:
        case FieldType::Int16: {
            auto v = parseWhole(t);
            const std::int64_t lo = def.type == FieldType::Int16 ? -32768 : std::numeric_limits<std::int32_t>::min();
            const std::int64_t hi = def.type == FieldType::Int16 ? 32767 : std::numeric_limits<std::int32_t>::max();
            if (!v || *v < lo || *v > hi) badValue();
            c.i = static_cast<std::int32_t>(*v);
            break;
        }
        case FieldType::Single: {
            std::string_view s = t;
            if (!s.empty() && s.front() == '+') s.remove_prefix(1);
            float f = 0;
            auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), f);
            if (s.empty() || ec != std::errc() || p != s.data() + s.size() || !std::isfinite(f)) badValue();
            c.f = f;
            break;
        }
        case FieldType::Boolean: {
            if (iequals(t, "true")) c.b = true;
            else if (iequals(t, "false")) c.b = false;
            else {
                float f = 0;
                std::string_view s = t;
                if (!s.empty() && s.front() == '+') s.remove_prefix(1);
                auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), f);
                if (s.empty() || ec != std::errc() || p != s.data() + s.size()) badValue();
                c.b = f != 0;
            }
            break;
        }
        case FieldType::Timestamp: {
            auto ts = parseTimestamp(t);
            if (!ts) badValue();
            storeStamp(c, ts->seconds);
            break;
        }
        case FieldType::Text: storeText(c, t); break;
    }
    c.null = false;
    markKeyWritten(field);
}

std::optional<std::int32_t> Table::integer(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<std::int32_t>(&v)) return *p;
    if (auto p = std::get_if<float>(&v)) return static_cast<std::int32_t>(std::nearbyint(*p));
    if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
    if (auto p = std::get_if<std::string>(&v)) {
        if (auto w = parseWhole(*p)) return static_cast<std::int32_t>(*w);
        fail("the field " + fields_[static_cast<std::size_t>(field)].name + " does not hold a whole number");
    }
    if (hasValue(v)) fail("the field " + fields_[static_cast<std::size_t>(field)].name + " does not hold a whole number");
    return std::nullopt;
}

std::optional<float> Table::single(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<float>(&v)) return *p;
    if (auto p = std::get_if<std::int32_t>(&v)) return static_cast<float>(*p);
    if (auto p = std::get_if<bool>(&v)) return *p ? -1.0f : 0.0f;
    if (auto p = std::get_if<std::string>(&v)) {
        if (auto f = text::parseSingle(*p)) return *f;
        fail("the field " + fields_[static_cast<std::size_t>(field)].name + " does not hold a number");
    }
    if (hasValue(v)) fail("the field " + fields_[static_cast<std::size_t>(field)].name + " does not hold a number");
    return std::nullopt;
}

std::optional<bool> Table::boolean(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<bool>(&v)) return *p;
    if (auto p = std::get_if<std::int32_t>(&v)) return *p != 0;
    if (auto p = std::get_if<float>(&v)) return *p != 0;
    if (hasValue(v)) fail("the field " + fields_[static_cast<std::size_t>(field)].name + " does not hold true or false");
    return std::nullopt;
}

std::optional<Timestamp> Table::timestamp(int field) const {
    const Value v = value(field);
    if (auto p = std::get_if<Timestamp>(&v)) return *p;
    if (hasValue(v)) fail("the field " + fields_[static_cast<std::size_t>(field)].name + " does not hold a date");
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
    if (!open_) fail("the table is not open");
    const std::string_view expr = trim(expression);
    std::unique_ptr<FilterTerms> terms;
    if (!expr.empty()) {
        terms = std::make_unique<FilterTerms>();
        std::unordered_map<int, std::size_t> slot;
        std::string_view rest = expr;
        while (true) {
            const std::size_t orAt = rest.find(" OR ");
            const std::string_view term = trim(rest.substr(0, orAt));
            const std::size_t eq = term.find('=');
            if (eq == std::string_view::npos) fail("the filter term " + quoted(term) + " has no \"=\"");
            const int field = fieldIndex(trim(term.substr(0, eq)));
            auto number = parseWhole(term.substr(eq + 1));
            if (!number) fail("the filter term " + quoted(term) + " does not compare with a whole number");
            auto [it, fresh] = slot.try_emplace(field, terms->sets.size());
            if (fresh) terms->sets.emplace_back(field, std::unordered_set<std::int64_t>{});
            terms->sets[it->second].second.insert(*number);
            if (orAt == std::string_view::npos) break;
            rest = rest.substr(orAt + 4);
        }
    }
    filter_ = std::move(terms);
    filterText_ = std::string(expression);
    viewDirty_ = true;
    ensureView();
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
    const std::size_t base = static_cast<std::size_t>(row) * fields_.size();
    for (const auto& [field, values] : filter_->sets) {
        const Cell& c = cells_[base + static_cast<std::size_t>(field)];
        if (c.null) continue;
        std::int64_t key = 0;
        switch (fields_[static_cast<std::size_t>(field)].type) {
            case FieldType::Int32:
            case FieldType::Int16: key = c.i; break;
            case FieldType::Single:
                if (c.f != std::floor(c.f)) continue;
                key = static_cast<std::int64_t>(c.f);
                break;
            case FieldType::Boolean: key = c.b ? -1 : 0; break;
            case FieldType::Text: {
                auto w = parseWhole(texts_[c.slot]);
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
    const std::size_t nf = fields_.size();
    const Cell& x = cells_[a * nf + static_cast<std::size_t>(sortField_)];
    const Cell& y = cells_[b * nf + static_cast<std::size_t>(sortField_)];
    if (x.null || y.null) return x.null == y.null ? 0 : (x.null ? -1 : 1);  // no value sorts first
    switch (fields_[static_cast<std::size_t>(sortField_)].type) {
        case FieldType::Int32:
        case FieldType::Int16: return (x.i > y.i) - (x.i < y.i);
        case FieldType::Single: return (x.f > y.f) - (x.f < y.f);
        case FieldType::Boolean: return (x.b > y.b) - (x.b < y.b);
        case FieldType::Timestamp: return (stamps_[x.slot] > stamps_[y.slot]) - (stamps_[x.slot] < stamps_[y.slot]);
        case FieldType::Text: return lower(texts_[x.slot]).compare(lower(texts_[y.slot]));
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
        if (sortField_ >= 0)
            std::stable_sort(order_.begin(), order_.end(),
                             [this](std::uint32_t a, std::uint32_t b) { return compareRows(a, b) < 0; });
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
    if (!open_) fail("the table is not open");
    ensureView();
    if (visibleLive_ == 0) fail("no row is visible, so there is no first row to move to");
    pos_ = 0;
    while (!alive_[view_[pos_]]) ++pos_;
    row_ = view_[pos_];
    where_ = Where::Row;
}

void Table::moveNext() {
    if (!open_) fail("the table is not open");
    ensureView();
    if (where_ == Where::Eof) fail("the cursor already stands after the last row (EOF)");
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
    cellIndex(0);  // validates that there is a live current row
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
    std::size_t bytes = cells_.capacity() * sizeof(Cell) + alive_.capacity() +
                        (view_.capacity() + order_.capacity()) * sizeof(std::uint32_t) +
                        texts_.capacity() * sizeof(std::string) + stamps_.capacity() * sizeof(std::int64_t);
    for (const auto& t : texts_)
        if (t.capacity() > 15) bytes += t.capacity() + 1;
    return bytes;
}

}  // namespace eft
