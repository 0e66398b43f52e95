#pragma once
// The control's one XML parser, fed piece by piece while a reply arrives and turned into the
// node events both readers need. No tree is built and nothing recurses on the input's depth;
// what a reader keeps is its own business.
//
// Two parsers stand behind it. A fast path reads the plain form the pages send: UTF-8,
// elements without attributes, text with the predefined and numeric references. At the first
// byte it does not read as that form (a comment, CDATA, a processing instruction, a document
// type, an attribute, another encoding, anything malformed) it hands the rest of the reply to
// expat, primed with the elements open at that point, so every such construct and every
// failure is judged by expat alone and reads the same as if expat had read the whole reply.
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
#include <vector>

struct XML_ParserStruct;

namespace eft {

// Which parsers read a reply: the fast path first (the default), or expat from the first byte
// (what the fast path is checked against).
enum class XmlPath { FastFirst, ExpatOnly };

class XmlStream {
public:
    static constexpr int kMaxDepth = 256;

    // `keptTextLevel`: text at this level and deeper is handed over with its content; above it
    // a reader only learns that a text node is there. `maxText`: a text node growing past this
    // many bytes is handed to textTooLong() instead (0: no limit).
    XmlStream(int keptTextLevel, std::size_t maxText, XmlPath path = XmlPath::FastFirst);
    virtual ~XmlStream();
    XmlStream(const XmlStream&) = delete;
    XmlStream& operator=(const XmlStream&) = delete;

    // Parses the next piece of the document; false once it has failed.
    bool feed(std::string_view piece);
    // Ends the document; false when it failed or is not complete.
    bool finish();
    // Parses what was fed but held back to keep expat's work linear, without ending the
    // document: a reader that stops early then has seen the same nodes however the reply
    // was cut into pieces.
    void readHeld();

    bool failed() const { return failed_; }
    // Why the parse failed, as a clause ("the reply is not XML (...)"); a handler's own
    // exception is kept in handlerError() instead.
    const std::string& failure() const { return failure_; }
    std::exception_ptr handlerError() const { return handlerError_; }
    // Whether expat took over (for tests and benchmarks: the plain form never needs it).
    bool usedExpat() const { return !fast_; }

protected:
    virtual void elementStart(int level, std::string_view name) = 0;
    // An attribute of the element just started (namespace declarations included).
    virtual void attribute(int, std::string_view, std::string_view) {}
    virtual void elementEnd(int level) = 0;
    // A text node or CDATA section; `text` is empty above the kept level.
    virtual void textNode(int level, std::string_view text) = 0;
    // A comment (its content) or a processing instruction (its data).
    virtual void markupNode(int level, std::string_view content) = 0;
    // Called with the text so far when a kept text node outgrows the limit; must throw.
    virtual void textTooLong(int level, std::string_view text) = 0;
    // An element that holds one text node at most and nothing else, which the fast path reads
    // in one go: the same as elementStart(level, name), then textNode(level + 1, *text) when
    // there is a text node (text not null), then elementEnd(level). A reader may take it in
    // one step.
    virtual void leafElement(int level, std::string_view name, const std::string_view* text);

private:
    struct Handlers;
    class FastPath;

    // The node events, whichever parser found them. A handler's exception is kept and the
    // parse stopped; nothing is reported once it has failed, nor while expat is being primed.
    template <typename F>
    void guarded(F&& body);
    void onStart(std::string_view name, const char** attributes = nullptr);
    void onEnd();
    void onLeaf(std::string_view name, std::string_view text);
    void onCharacters(const char* chars, std::size_t n);
    void onMarkup(const char* content);
    void onCdataStart();
    void onCdataEnd();

    void flushText();
    // One level down for an element that starts; false, with the parse stopped, past kMaxDepth.
    bool enterElement();
    void stop(std::string why);
    void describeParserError();
    bool feedExpat(std::string_view piece, bool now = false);
    bool parseExpat(std::string_view piece);
    // Hands the reply to expat from here on: expat first reads the elements open now, with
    // every event held back, so it goes on exactly where the fast path stopped.
    void leaveFastPath();

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

    // The fast path's own state: the names of the open elements (also what primes expat), the
    // bytes it has read, and an unfinished piece of markup carried over to the next piece.
    bool fast_;
    bool priming_ = false;
    bool started_ = false;  // past the byte-order mark and the XML declaration
    std::vector<std::string> open_;
    std::size_t openCount_ = 0;
    std::string rootName_;
    std::string carry_;
    long long consumed_ = 0;   // bytes of the reply the fast path has read
    long long byteShift_ = 0;  // expat's byte index + this = the byte of the reply

    // Bytes held back from expat until they match the unfinished token it holds, and how much
    // it has been given and holds.
    std::string expatPending_;
    long long expatFed_ = 0;
    std::size_t expatHeld_ = 0;

    bool failed_ = false;
    bool finished_ = false;
    std::string failure_;
    std::exception_ptr handlerError_;
};

}  // namespace eft
