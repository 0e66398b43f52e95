#pragma once
// Writing the XML replies straight into one string: escaping, numbers and elements. The
// replies are UTF-8 and carry no DOM; a reply of 100,000 rows is one reserved string.
#include <cstdint>
#include <string>
#include <string_view>

namespace eft::server::xml {

inline constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
inline constexpr std::string_view kContentType = "text/xml; charset=UTF-8";

// Escapes the five markup characters; control characters that XML 1.0 cannot carry become '?'.
void appendEscaped(std::string& out, std::string_view text);

// A single as the shortest plain decimal text (a point, no exponent) that reads back as the
// same single, so a reader gets exactly the amount the server holds.
void appendSingle(std::string& out, float value);

void appendInteger(std::string& out, std::int64_t value);

// The same texts written at a cursor into a buffer the caller has sized, for the sweep's rows:
// each returns the cursor past what it wrote. A single takes at most kMaxSingleChars (the
// longest fixed text of a single is 48 characters), an
// escaped text at most six times its length.
inline constexpr std::size_t kMaxSingleChars = 64;
char* writeEscaped(char* out, std::string_view text);
char* writeSingle(char* out, float value);
char* writeInteger(char* out, std::int64_t value);

// <name>escaped text</name>
void appendElement(std::string& out, std::string_view name, std::string_view text);
void appendElement(std::string& out, std::string_view name, std::int64_t value);
void appendSingleElement(std::string& out, std::string_view name, float value);
void appendBoolElement(std::string& out, std::string_view name, bool value);

// A whole document whose root element holds one line of text.
std::string messageDocument(std::string_view root, std::string_view text);
// The same text inside one child element `mark` of the root: the document's text is the same,
// and the mark tells a reader that knows it what kind of text this is (a refusal).
std::string markedMessageDocument(std::string_view root, std::string_view mark, std::string_view text);

}  // namespace eft::server::xml
