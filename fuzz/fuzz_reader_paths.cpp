// The reader's two parsers against each other: every reply, in pieces whose size the input's
// first byte picks, read by the fast path (handing over to expat where it must) and by expat
// alone must give the same rows, or the same failure, and the same document text.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_entry.h"
#include "net/xml_reader.h"
#include "tables/field_lists.h"

namespace {

struct Outcome {
    std::vector<std::string> rows;
    std::string failure;
    bool operator==(const Outcome&) const = default;
};

Outcome read(std::string_view reply, std::size_t piece, eft::XmlPath path) {
    eft::Table t = eft::makeTable("rsSweep", eft::sweepFields());
    Outcome o;
    try {
        eft::readXmlRowsFromBuffer(t, reply, "CenterID", "fuzz:EFTMember.asp", piece, path);
    } catch (const eft::EftError& e) {
        o.failure = e.description();
    }
    if (t.rowCount() == 0) return o;
    for (t.moveFirst(); !t.eof(); t.moveNext()) {
        std::string row;
        for (int f = 0; f < eft::sweep_field::Count; ++f) row += t.text(f).value_or("\x01") + '\x02';
        o.rows.push_back(std::move(row));
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] % 32 == 0 ? 0 : data[0] % 32;
    const std::string_view reply = eft::fuzz::asText(data + 1, size - 1);
    eft::fuzz::require(read(reply, piece, eft::XmlPath::FastFirst) == read(reply, 0, eft::XmlPath::ExpatOnly));
    std::string fastWhy, expatWhy;
    const std::string fastText = eft::documentTextFromBuffer(reply, &fastWhy);
    eft::fuzz::require(fastText == eft::documentTextFromBuffer(reply, &expatWhy, {}, eft::XmlPath::ExpatOnly));
    eft::fuzz::require(fastWhy == expatWhy);
    return 0;
}
