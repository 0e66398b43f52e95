#pragma once
// ReadXmlRows: a server page's XML reply into the rows of a working table. Each child node of
// the document element is a record (one new row, whatever the node's kind); each child of a
// record names a field; the text of that field element's children is its value. Any failure
// ends the read with an EftError whose description names the address and what was wrong;
// what was read before it stays in the table.
#include <string>
#include <string_view>

#include "net/fetch.h"
#include "tables/table.h"

namespace eft {

void ReadXmlRows(Table& table, const std::string& address, const std::string& sortKey, const Fetch& fetch);

// The same read over a reply already in memory; `address` only names it in descriptions.
// The buffer is parsed in place and left changed.
void readXmlRowsFromBuffer(Table& table, std::string& reply, std::string_view sortKey, std::string_view address);

// The text of a whole XML document fetched by GET: the character data of all its nodes.
// Empty when the document cannot be fetched or parsed.
std::string loadDocumentText(const std::string& address, const Fetch& fetch);

}  // namespace eft
