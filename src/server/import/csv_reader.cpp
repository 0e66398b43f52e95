#include "server/import/csv_reader.h"

#include <csv.h>

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>

namespace eft::server {
namespace {

struct Parse {
    const std::function<void(const CsvRecord&)>* visit = nullptr;
    std::vector<std::string> fields;
    std::size_t used = 0;  // fields of the record so far; the strings keep their capacity
    std::size_t line = 0;  // the line being fed
    std::size_t start = 0;  // the line the record under way started on; 0 between records
    // What `visit` threw, held while libcsv's C code is on the stack, and thrown once it is not.
    std::exception_ptr thrown;
};

void onField(void* text, std::size_t length, void* data) {
    auto& p = *static_cast<Parse*>(data);
    if (p.used == p.fields.size()) p.fields.emplace_back();
    p.fields[p.used++].assign(text != nullptr ? static_cast<const char*>(text) : "", length);
}

void onRecord(int, void* data) {
    auto& p = *static_cast<Parse*>(data);
    p.fields.resize(p.used);
    if (!p.thrown) {
        try {
            (*p.visit)(CsvRecord{p.start, p.fields});
        } catch (...) {
            p.thrown = std::current_exception();
        }
    }
    p.used = 0;
    p.start = 0;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// No record at all to libcsv, which skips spaces and tabs before a record; skipped here too,
// so the next record is counted from its own line.
bool blank(std::string_view line) { return line.find_first_not_of(" \t\r\n") == std::string_view::npos; }

bool space(char c) { return c == ' ' || c == '\t'; }

// A whole record on one line with no quote and no stray CR, split as libcsv splits it
// (unquoted fields lose their leading and trailing spaces and tabs), without its callback per
// field: nearly every line of a large file. False, touching nothing, for any other line.
bool splitPlain(std::string_view line, Parse& p) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    for (const char c : line)
        if (c == '"' || c == '\r' || c == '\n') return false;
    for (std::size_t from = 0;;) {
        std::size_t comma = from;
        while (comma < line.size() && line[comma] != ',') ++comma;
        std::size_t begin = from, end = comma;
        while (begin < end && space(line[begin])) ++begin;
        while (end > begin && space(line[end - 1])) --end;
        onField(const_cast<char*>(line.data() + begin), end - begin, &p);
        if (comma == line.size()) break;
        from = comma + 1;
    }
    onRecord('\n', &p);
    return true;
}

}  // namespace

void readCsv(const std::filesystem::path& file, const std::function<void(const CsvRecord&)>& visit) {
    const std::string name = file.string();
    // A read of the file every MiB rather than every 4 KiB; glibc takes the size only with a
    // buffer given, which must outlive the stream.
    constexpr std::size_t kReadBytes = std::size_t{1} << 20;
    const std::unique_ptr<char[]> readBuffer(new char[kReadBytes]);
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(name.c_str(), "rb"));
    if (!in) throw CsvError(name, 0, "cannot be read");
    std::setvbuf(in.get(), readBuffer.get(), _IOFBF, kReadBytes);
    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) throw CsvError(name, 0, "out of memory");
    const std::unique_ptr<csv_parser, void (*)(csv_parser*)> owner(&parser, csv_free);
    Parse p;
    p.visit = &visit;
    // Fed a line at a time, so the line a record starts on is known: libcsv itself counts none.
    char* buffer = nullptr;
    std::size_t capacity = 0;
    const std::unique_ptr<char*, void (*)(char**)> bufferOwner(&buffer, [](char** b) { std::free(*b); });
    ssize_t length = 0;
    while ((length = ::getline(&buffer, &capacity, in.get())) >= 0) {
        std::string_view line(buffer, static_cast<std::size_t>(length));
        ++p.line;
        if (p.line == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        if (p.start == 0) {
            if (blank(line)) continue;
            p.start = p.line;
            if (splitPlain(line, p)) {
                if (p.thrown) std::rethrow_exception(p.thrown);
                continue;
            }
        }
        const std::size_t parsed = csv_parse(&parser, line.data(), line.size(), onField, onRecord, &p);
        if (p.thrown) std::rethrow_exception(p.thrown);
        if (parsed != line.size())
            throw CsvError(name, p.start,
                           std::string("not well-formed CSV (") + csv_strerror(csv_error(&parser)) + ")");
    }
    if (std::ferror(in.get())) throw CsvError(name, 0, "cannot be read");
    const int unfinished = csv_fini(&parser, onField, onRecord, &p);
    if (p.thrown) std::rethrow_exception(p.thrown);
    if (unfinished != 0) throw CsvError(name, p.start, "a quoted field is never closed");
}

}  // namespace eft::server
