#include "server/output/records.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

#include "server/output/shown_text.h"
#include "text/text_forms.h"

namespace eft::server::output {
namespace {

// The value as a text field: a text as it is, the rest in their plain form.
std::string plain(const Value& v) {
    struct Visit {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(std::int64_t n) const { return std::to_string(n); }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(Amount a) const { return text::amount(a.cents); }
    };
    return std::visit(Visit{}, v);
}

std::string jsonValue(const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return "null";
    if (const auto* s = std::get_if<std::string>(&v))
        return nlohmann::json(*s).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    return plain(v);
}

void appendCsvField(std::string& out, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void appendCsvLine(std::string& out, const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        appendCsvField(out, fields[i]);
    }
    out += "\r\n";
}

std::string csv(const std::vector<Records>& all) {
    std::string out;
    if (all.size() == 1) {
        appendCsvLine(out, all[0].columns);
        for (const auto& row : all[0].rows) {
            std::vector<std::string> fields;
            for (const Value& v : row) fields.push_back(plain(v));
            appendCsvLine(out, fields);
        }
        return out;
    }
    std::vector<std::string> columns{"record"};
    for (const Records& r : all)
        for (const std::string& c : r.columns)
            if (std::find(columns.begin(), columns.end(), c) == columns.end()) columns.push_back(c);
    appendCsvLine(out, columns);
    for (const Records& r : all) {
        std::vector<std::size_t> at;
        for (const std::string& c : r.columns)
            at.push_back(static_cast<std::size_t>(std::find(columns.begin(), columns.end(), c) - columns.begin()));
        for (const auto& row : r.rows) {
            std::vector<std::string> fields(columns.size());
            fields[0] = r.kind;
            for (std::size_t i = 0; i < row.size(); ++i) fields[at[i]] = plain(row[i]);
            appendCsvLine(out, fields);
        }
    }
    return out;
}

std::string json(const std::vector<Records>& all) {
    std::string out = "{";
    for (std::size_t k = 0; k < all.size(); ++k) {
        const Records& r = all[k];
        out += (k > 0 ? ",\n" : "\n") + jsonValue(r.kind) + ": [";
        for (std::size_t i = 0; i < r.rows.size(); ++i) {
            out += i > 0 ? ",\n  {" : "\n  {";
            for (std::size_t c = 0; c < r.columns.size(); ++c)
                out += (c > 0 ? ", " : "") + jsonValue(r.columns[c]) + ": " + jsonValue(r.rows[i][c]);
            out += '}';
        }
        out += r.rows.empty() ? "]" : "\n]";
    }
    out += "\n}\n";
    return out;
}

std::string textTable(const std::vector<Records>& all) {
    std::string out;
    const auto line = [&out](const auto& values, auto&& show) {
        for (std::size_t i = 0; i < values.size(); ++i) out += (i > 0 ? "\t" : "") + escapedText(show(values[i]));
        out += '\n';
    };
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (k > 0) out += '\n';
        line(all[k].columns, [](const std::string& s) { return s; });
        for (const auto& row : all[k].rows) line(row, plain);
    }
    return out;
}

}  // namespace

std::optional<Format> formatNamed(std::string_view name) {
    if (name == "text") return Format::Text;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    return std::nullopt;
}

void Records::add(std::vector<Value> row) {
    if (row.size() != columns.size())
        throw std::logic_error(kind + ": a row of " + std::to_string(row.size()) + " values for " +
                               std::to_string(columns.size()) + " columns");
    rows.push_back(std::move(row));
}

std::string render(const std::vector<Records>& all, Format format) {
    switch (format) {
        case Format::Text: return textTable(all);
        case Format::Csv: return csv(all);
        case Format::Json: break;
    }
    return json(all);
}

}  // namespace eft::server::output
