#pragma once
// The control's one XML parser: expat, fed piece by piece while a reply arrives, turned into
// the node events both readers need. No tree is built and nothing recurses on the input's
// depth; what a reader keeps is its own business.
//
// Nodes as the readers see them: an element; a text node (a run of character data between two
// pieces of markup, left out when it is only blanks, tabs and line breaks); a CDATA section
// (always a node, even when empty or blank); a comment or processing instruction. A node's
// level is the number of elements around it plus one: the document element is at level 1, its
// children at level 2.
//
// A reply with a document type declaration is refused, so no entity can be declared and
// nothing is ever loaded from elsewhere; only the predefined and numeric references are known.
// Elements nested more than kMaxDepth deep end the parse. A reply declaring Windows-1252 is
// decoded with the project's code-page table; everything reaches the handlers as UTF-8.
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

struct XML_ParserStruct;

namespace eft {

class XmlStream {
public:
    static constexpr int kMaxDepth = 256;

    // `keptTextLevel`: text at this level and deeper is handed over with its content; above it
    // a reader only learns that a text node is there. `maxText`: a text node growing past this
    // many bytes is handed to textTooLong() instead (0: no limit).
    XmlStream(int keptTextLevel, std::size_t maxText);
    virtual ~XmlStream();
    XmlStream(const XmlStream&) = delete;
    XmlStream& operator=(const XmlStream&) = delete;

    // Parses the next piece of the document; false once it has failed.
    bool feed(std::string_view piece);
    // Ends the document; false when it failed or is not complete.
    bool finish();

    bool failed() const { return failed_; }
    // Why the parse failed, as a clause ("the reply is not XML (...)"); a handler's own
    // exception is kept in handlerError() instead.
    const std::string& failure() const { return failure_; }
    std::exception_ptr handlerError() const { return handlerError_; }

protected:
    virtual void elementStart(int level, const char* name) = 0;
    virtual void elementEnd(int level) = 0;
    // A text node or CDATA section; `text` is empty above the kept level.
    virtual void textNode(int level, std::string_view text) = 0;
    // A comment (its content) or a processing instruction (its data).
    virtual void markupNode(int level, std::string_view content) = 0;
    // Called with the text so far when a kept text node outgrows the limit; must throw.
    virtual void textTooLong(int level, std::string_view text) = 0;

private:
    struct Handlers;

    void flushText();
    void stop(std::string why);
    void describeParserError();

    XML_ParserStruct* parser_;
    const int keptTextLevel_;
    const std::size_t maxText_;
    int depth_ = 0;
    bool rootSeen_ = false;
    bool sawNonBlank_ = false;  // anything but white space in the bytes fed so far

    std::string text_;       // the text node being gathered (kept levels only)
    bool textPending_ = false;
    bool textNonBlank_ = false;
    bool inCdata_ = false;

    bool failed_ = false;
    bool finished_ = false;
    std::string failure_;
    std::exception_ptr handlerError_;
};

}  // namespace eft
