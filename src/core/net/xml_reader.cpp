#include "net/xml_reader.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "base/error.h"
#include "net/http.h"
#include "text/windows1252.h"

namespace eft {
namespace {

// Comments and processing instructions are nodes (records, values); whitespace-only text
// between elements is not. No DOCTYPE is processed and only the predefined and numeric
// entities are known, so a reply cannot pull in anything from elsewhere.
constexpr unsigned kParseOptions =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol | pugi::parse_comments | pugi::parse_pi;

constexpr int kMaxFieldsPerRecord = 32767;  // the field position counter is 16-bit

bool isCharacterData(const pugi::xml_node& n) {
    return n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
}

void appendText(const pugi::xml_node& node, std::string& out) {
    if (isCharacterData(node)) {
        out += node.value();
        return;
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (child.type() != pugi::node_comment && child.type() != pugi::node_pi) appendText(child, out);
}

// The text of a node: its character data and that of every node below it. A comment or
// processing instruction stands for its own content.
std::string nodeText(const pugi::xml_node& node) {
    if (node.type() == pugi::node_comment || node.type() == pugi::node_pi) return node.value();
    std::string out;
    appendText(node, out);
    return out;
}

// Field lookup by element name, letter case not significant. Replies repeat the same field
// order in every record, so the field at a position is first guessed from the record before;
// only a miss searches the table's fields.
class FieldLookup {
public:
    explicit FieldLookup(const Table& table) : table_(table) {}
    int index(int position, const char* name) {
        if (static_cast<std::size_t>(position) < guesses_.size()) {
            const Guess& g = guesses_[static_cast<std::size_t>(position)];
            if (g.name == name) return g.field;
        }
        auto found = table_.findField(name);
        if (!found) throw EftError(std::string("the element <") + name + "> is not a field of " + table_.name());
        if (static_cast<std::size_t>(position) >= guesses_.size())
            guesses_.resize(static_cast<std::size_t>(position) + 1);
        guesses_[static_cast<std::size_t>(position)] = Guess{name, *found};
        return *found;
    }

private:
    struct Guess {
        std::string name;
        int field = -1;
    };
    const Table& table_;
    std::vector<Guess> guesses_;
};

// Servers on Windows often declare their own code page; pugixml knows Latin-1 but not
// Windows-1252, and would keep such bytes as broken UTF-8 in names and descriptions.
bool declaresWindows1252(std::string_view reply) {
    const std::string_view head = reply.substr(0, std::min<std::size_t>(reply.size(), 256));
    const std::size_t start = head.find("<?xml");
    const std::size_t end = head.find("?>");
    if (start == std::string_view::npos || end == std::string_view::npos || end < start) return false;
    std::string declaration(head.substr(start, end - start));
    for (auto& c : declaration) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* name : {"windows-1252", "cp1252", "x-cp1252"})
        for (const char quote : {'"', '\''})
            if (declaration.find(std::string("encoding=") + quote + name + quote) != std::string::npos) return true;
    return false;
}

// pugixml lets a second top-level element, or text before or after the document element,
// pass unnoticed, yet such a reply is not XML (a page that writes an error after its rows).
// Parsed as a fragment those stay nodes and can be refused. The in-place fragment parse takes
// the buffer's last byte as its end, so the reply gets a terminating zero first.
pugi::xml_parse_result parseReply(pugi::xml_document& doc, std::string& reply, bool& singleRoot) {
    if (declaresWindows1252(reply)) reply = text::windows1252ToUtf8(reply);
    reply.push_back('\0');
    const pugi::xml_parse_result parsed =
        doc.load_buffer_inplace(reply.data(), reply.size(), kParseOptions | pugi::parse_fragment);
    int elements = 0;
    bool strayText = false;
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
        elements += n.type() == pugi::node_element;
        strayText = strayText || isCharacterData(n);
    }
    singleRoot = elements == 1 && !strayText;
    return parsed;
}

std::string describeParseFailure(const pugi::xml_parse_result& r, bool blank, long httpStatus) {
    std::string why = blank ? "the reply is empty"
                            : std::string("the reply is not XML (") + r.description() + " at byte " +
                                  std::to_string(r.offset) + ")";
    if (httpStatus != 0 && httpStatus != 200) why += "; the server answered HTTP " + std::to_string(httpStatus);
    return why;
}

void readRows(Table& table, std::string& reply, std::string_view sortKey, std::string_view address, long httpStatus) {
    const std::string where = "Reading " + std::string(address) + ": ";
    pugi::xml_document doc;
    const bool blank = reply.find_first_not_of(" \t\r\n") == std::string::npos;
    bool singleRoot = false;
    const pugi::xml_parse_result parsed = parseReply(doc, reply, singleRoot);

    // A new reply replaces the whole content: no filter may hide rows of the old one.
    if (table.isOpen() && !table.filter().empty()) table.setFilter("");
    table.emptyAndSort(sortKey);

    const pugi::xml_node root = parsed && singleRoot ? doc.document_element() : pugi::xml_node();
    if (!root) {
        const std::string why = blank || !parsed ? describeParseFailure(parsed, blank, httpStatus)
                                : doc.document_element()
                                    ? "the reply is not XML (text or another element outside its document element)"
                                    : "the reply has no document element";
        throw EftError(where + why);
    }

    std::size_t records = 0;
    for (pugi::xml_node record = root.first_child(); record; record = record.next_sibling()) ++records;
    table.reserveRows(records);

    FieldLookup fields(table);
    long recordNo = 0;
    std::string composite;
    for (pugi::xml_node record = root.first_child(); record; record = record.next_sibling()) {
        ++recordNo;
        table.addRow();
        int position = 0;
        for (pugi::xml_node field = record.first_child(); field; field = field.next_sibling()) {
            if (++position > kMaxFieldsPerRecord)
                throw EftError(where + "record " + std::to_string(recordNo) + " has more than " +
                               std::to_string(kMaxFieldsPerRecord) + " child nodes");
            for (pugi::xml_node v = field.first_child(); v; v = v.next_sibling()) {
                std::string_view value;
                if (isCharacterData(v)) {
                    value = v.value();
                } else {
                    composite = nodeText(v);
                    value = composite;
                }
                if (value.empty()) continue;
                try {
                    table.setFromText(fields.index(position, field.name()), value);
                } catch (const EftError& e) {
                    throw EftError(where + "record " + std::to_string(recordNo) + ": " + e.description());
                }
            }
        }
    }
}

}  // namespace

void readXmlRowsFromBuffer(Table& table, std::string& reply, std::string_view sortKey, std::string_view address) {
    readRows(table, reply, sortKey, address, 0);
}

namespace {

HttpReply fetchWhole(const std::string& address, const Fetch& fetch) {
    HttpReply reply;
    const FetchResult r = fetch(address, [&](std::string_view piece) {
        reply.body.append(piece);
        return true;
    });
    reply.ok = r.ok;
    reply.status = r.status;
    reply.error = r.error;
    return reply;
}

}  // namespace

void ReadXmlRows(Table& table, const std::string& address, const std::string& sortKey, const Fetch& fetch) {
    HttpReply reply = fetchWhole(address, fetch);
    if (!reply.ok) {
        // Like a document that failed to load: the table is still emptied before the failure.
        if (table.isOpen() && !table.filter().empty()) table.setFilter("");
        table.emptyAndSort(sortKey);
        throw EftError("Reading " + address + ": the page could not be fetched (" + reply.error + ")");
    }
    readRows(table, reply.body, sortKey, address, reply.status);
}

std::string loadDocumentText(const std::string& address, const Fetch& fetch) {
    HttpReply reply = fetchWhole(address, fetch);
    if (!reply.ok) return {};
    pugi::xml_document doc;
    bool singleRoot = false;
    if (!parseReply(doc, reply.body, singleRoot) || !singleRoot) return {};
    std::string out;
    appendText(doc, out);
    return out;
}

}  // namespace eft
