#pragma once
// Records of a CSV file (RFC 4180: quoted fields may hold commas, quotes and line breaks),
// parsed by libcsv in strict mode, each with the line it starts on so a fault can be named
// as file:line. Blank lines (nothing but spaces and tabs) are skipped; a UTF-8 byte order
// mark at the start is dropped.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace eft::server {

// The file cannot be read (line 0), or a row is not well-formed CSV; what() is
// "file: reason" or "file:line: row: reason".
class CsvError : public std::runtime_error {
public:
    CsvError(std::string file, std::size_t line, std::string reason)
        : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) + ": row" : "") + ": " + reason),
          file(std::move(file)), line(line), reason(std::move(reason)) {}
    std::string file;
    std::size_t line;
    std::string reason;
};

struct CsvRecord {
    std::size_t line = 0;  // where the record starts, from 1
    const std::vector<std::string>& fields;
};

// Calls `visit` for each record, the header included. Throws CsvError, or what `visit` threw
// (held while libcsv is on the stack, and thrown from here).
void readCsv(const std::filesystem::path& file, const std::function<void(const CsvRecord&)>& visit);

}  // namespace eft::server
