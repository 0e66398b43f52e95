#pragma once
// ReadXmlRows: a server page's XML reply into the rows of a working table, parsed while it
// arrives. Each element, text or CDATA node directly under the document element is a record
// (one new row); each child of a record names a field; the text of each child of that field
// element is a value for it, the last non-empty one standing. Any failure ends the read with an
// EftError whose description names the address and what was wrong; the rows read before it,
// the one being filled included, stay in the table. A value its field cannot take ends the read
// at the end of its record, so the description can name the row by all its fields; the field
// stays without a value.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "net/fetch.h"
#include "net/xml_stream.h"
#include "tables/table.h"

namespace eft {

// How a row of the table is named to the operator ("the sweep row of member 30, center 0003"),
// from its current row.
using RowNamer = std::function<std::string(const Table&)>;

void ReadXmlRows(Table& table, const std::string& address, const std::string& sortKey, const Fetch& fetch,
                 XmlPath path = XmlPath::FastFirst, const RowNamer& rowName = {});

// The same read over a reply already in memory, fed to the parser in pieces of `pieceSize`
// bytes (0: at once); `address` only names it in descriptions. Returns whether expat took over
// from the fast path (never, for the plain form the pages send).
bool readXmlRowsFromBuffer(Table& table, std::string_view reply, std::string_view sortKey, std::string_view address,
                           std::size_t pieceSize = 0, XmlPath path = XmlPath::FastFirst, const RowNamer& rowName = {});

// The text of a whole XML document fetched by GET: the character data of all its nodes.
// Empty when the document cannot be fetched or parsed, or, with `refuseHtml`, when it is an
// HTML page (document element html in any case or prefix, or the XHTML namespace): what a
// login or error page in front of the server sends with 200. `failure`, when given, then says why. `marked`, when
// given, tells whether the document element has a child element named `mark` (how a page marks
// a text as a refusal rather than a report).
std::string loadDocumentText(const std::string& address, const Fetch& fetch, std::string* failure = nullptr,
                             bool refuseHtml = false, XmlPath path = XmlPath::FastFirst,
                             std::string_view mark = {}, bool* marked = nullptr);

// The same over a document already in memory.
std::string documentTextFromBuffer(std::string_view document, std::string* failure = nullptr,
                                   bool refuseHtml = false, XmlPath path = XmlPath::FastFirst,
                                   std::string_view mark = {}, bool* marked = nullptr);

}  // namespace eft
