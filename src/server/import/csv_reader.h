#pragma once
// Records of a CSV file (RFC 4180: quoted fields may hold commas, quotes and line breaks),
// parsed by libcsv in strict mode, each with the line it starts on so a fault can be named
// as file:line. Blank lines are skipped; a UTF-8 byte order mark at the start is dropped.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace eft::server {

// The file cannot be read, or is not well-formed CSV; what() is "file:line: reason".
class CsvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CsvRecord {
    std::size_t line = 0;  // where the record starts, from 1
    const std::vector<std::string>& fields;
};

// Calls `visit` for each record, the header included. Throws CsvError.
void readCsv(const std::filesystem::path& file, const std::function<void(const CsvRecord&)>& visit);

}  // namespace eft::server
