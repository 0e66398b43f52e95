#include "net/xml_stream.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/short_bytes.h"
#include "text/windows1252.h"
#include "ui/phrases.h"

namespace eft {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool hasNonBlank(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (!isBlank(s[i])) return true;
    return false;
}

bool namesWindows1252(const char* name) {
    std::string lowered(name);
    for (auto& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered == "windows-1252" || lowered == "cp1252" || lowered == "x-cp1252";
}

}  // namespace

// Expat calls C functions; these forward to the stream's events. No exception may cross
// expat's frames: guarded() keeps it and stops the parser.
struct XmlStream::Handlers {
    static XmlStream& of(void* data) { return *static_cast<XmlStream*>(data); }

    static void XMLCALL start(void* data, const XML_Char* name, const XML_Char** attributes) {
        of(data).onStart(name, attributes);
    }
    static void XMLCALL end(void* data, const XML_Char*) { of(data).onEnd(); }
    static void XMLCALL characters(void* data, const XML_Char* chars, int length) {
        of(data).onCharacters(chars, static_cast<std::size_t>(length));
    }
    static void XMLCALL comment(void* data, const XML_Char* content) { of(data).onMarkup(content); }
    static void XMLCALL instruction(void* data, const XML_Char*, const XML_Char* content) {
        of(data).onMarkup(content);
    }
    static void XMLCALL cdataStart(void* data) { of(data).onCdataStart(); }
    static void XMLCALL cdataEnd(void* data) { of(data).onCdataEnd(); }

    static void XMLCALL doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        XmlStream& s = of(data);
        s.guarded([&] { s.stop(std::string(ui::phrase::kDoctype)); });
    }

    // Windows-1252 is not among expat's own encodings; every byte maps to one character.
    static int XMLCALL encoding(void*, const XML_Char* name, XML_Encoding* info) {
        if (!namesWindows1252(name)) return XML_STATUS_ERROR;
        for (int b = 0; b < 256; ++b) info->map[b] = static_cast<int>(text::windows1252Char(static_cast<unsigned char>(b)));
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        return XML_STATUS_OK;
    }
};

template <typename F>
void XmlStream::guarded(F&& body) {
    if (failed_ || priming_) return;
    try {
        body();
    } catch (...) {
        handlerError_ = std::current_exception();
        stop({});
    }
}

bool XmlStream::enterElement() {
    if (depth_ >= kMaxDepth) {
        stop(ui::fill(ui::phrase::kTooDeep, {std::to_string(kMaxDepth)}));
        return false;
    }
    ++depth_;
    rootSeen_ = true;
    return true;
}

void XmlStream::onStart(std::string_view name, const char** attributes) {
    guarded([&] {
        flushText();
        if (!enterElement()) return;
        elementStart(depth_, name);
        for (const char** a = attributes; a && a[0] && a[1]; a += 2) attribute(depth_, a[0], a[1]);
    });
}

void XmlStream::onEnd() {
    guarded([&] {
        flushText();
        elementEnd(depth_);
        --depth_;
    });
}

void XmlStream::onLeaf(std::string_view name, std::string_view text) {
    guarded([&] {
        flushText();
        if (!enterElement()) return;
        // A node above the kept level is told without its content. Not an optional: it would
        // be zeroed and read back whole for each of millions of fields.
        const std::string_view node = depth_ + 1 >= keptTextLevel_ ? text : std::string_view();
        leafElement(depth_, name, hasNonBlank(text.data(), text.size()) ? &node : nullptr);
        --depth_;
    });
}

void XmlStream::leafElement(int level, std::string_view name, const std::string_view* text) {
    elementStart(level, name);
    if (text) textNode(level + 1, *text);
    elementEnd(level);
}

void XmlStream::onCharacters(const char* chars, std::size_t n) {
    guarded([&] {
        textPending_ = true;
        if (!textNonBlank_ && (inCdata_ || hasNonBlank(chars, n))) textNonBlank_ = true;
        if (depth_ + 1 < keptTextLevel_) return;
        text_.append(chars, n);
        if (maxText_ != 0 && text_.size() > maxText_) {
            textTooLong(depth_ + 1, text_);
            stop("a text is too long");  // textTooLong must throw; never go on regardless
        }
    });
}

void XmlStream::onMarkup(const char* content) {
    guarded([&] {
        flushText();
        markupNode(depth_ + 1, content);
    });
}

void XmlStream::onCdataStart() {
    guarded([&] {
        flushText();
        inCdata_ = true;
        textPending_ = true;  // an empty section is a node too
    });
}

void XmlStream::onCdataEnd() {
    guarded([&] {
        textNonBlank_ = true;
        flushText();
        inCdata_ = false;
    });
}

// The plain form, read byte by byte. scan() reads as far as it can and says where it stopped:
// at the end of the data, before a unit the data holds only part of (a tag, a reference, a
// character, a carriage return), or, giving up, at the first byte that is not of the plain form.
class XmlStream::FastPath {
public:
    struct Scan {
        std::size_t used = 0;
        bool giveUp = false;
    };

    static Scan scan(XmlStream& s, std::string_view data) {
        FastPath f(s, data);
        f.run();
        // A node held back for the markup after it is gathered like any other text: that
        // markup is not read yet, and the data it lies in does not outlive this call.
        if (f.heldTo_ > f.heldFrom_) s.onCharacters(f.heldFrom_, static_cast<std::size_t>(f.heldTo_ - f.heldFrom_));
        return {static_cast<std::size_t>(f.p_ - f.begin_), f.giveUp_};
    }

private:
    FastPath(XmlStream& s, std::string_view data) : s_(s), begin_(data.data()), end_(data.data() + data.size()), p_(begin_) {}

    // One table lookup a byte: the scanner's loops run over every byte of the reply.
    enum : unsigned char { kSpace = 1, kNameStart = 2, kNameChar = 4, kPlain = 8 };
    static constexpr std::array<unsigned char, 256> kClasses = [] {
        std::array<unsigned char, 256> t{};
        for (int c = 0; c < 256; ++c) {
            unsigned char k = 0;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') k |= kSpace;
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':') k |= kNameStart | kNameChar;
            if ((c >= '0' && c <= '9') || c == '-' || c == '.') k |= kNameChar;
            // A character of a text run that needs no second look.
            if ((c >= 0x20 && c < 0x80 && c != '<' && c != '&' && c != ']') || c == '\t' || c == '\n') k |= kPlain;
            t[static_cast<std::size_t>(c)] = k;
        }
        return t;
    }();
    static bool is(char c, unsigned char k) { return (kClasses[static_cast<unsigned char>(c)] & k) != 0; }
    static bool isSpace(char c) { return is(c, kSpace); }
    static bool isNameStart(char c) { return is(c, kNameStart); }
    static bool isNameChar(char c) { return is(c, kNameChar); }
    static bool isPlain(unsigned char c) { return (kClasses[c] & kPlain) != 0; }

    // The first byte from q on that is not plain: '<', '&', ']', a control character other
    // than tab and line feed, or a byte of a multi-byte character. Sixteen bytes a step where
    // the x86-64 baseline has the instructions for it.
    static const char* plainEnd(const char* q, const char* end) {
#if defined(__SSE2__)
        const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), bracket = _mm_set1_epi8(']');
        const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), space = _mm_set1_epi8(0x20);
        while (end - q >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            const __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)),
                                               _mm_cmpeq_epi8(v, bracket));
            // Signed bytes: below 0x20 are the control characters and every byte from 0x80 on.
            const __m128i low = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)),
                                                 _mm_cmplt_epi8(v, space));
            const int stops = _mm_movemask_epi8(_mm_or_si128(marks, low));
            if (stops != 0) return q + __builtin_ctz(static_cast<unsigned>(stops));
            q += 16;
        }
#endif
        while (q < end && isPlain(static_cast<unsigned char>(*q))) ++q;
        return q;
    }

#if defined(__SSE2__)
    // A bit for each of the 16 bytes at q that lies in [lo, hi] (ASCII bounds; the bytes from
    // 0x80 on are negative as signed bytes and lie in no such range).
    static __m128i inRange(__m128i v, char lo, char hi) {
        return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(lo - 1))),
                             _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(hi + 1))));
    }
#endif

    // The first byte from q on that is not a name character. Names end within a few bytes,
    // where a byte-at-a-time loop pays a mispredicted exit for every tag.
    static const char* nameEnd(const char* q, const char* end) {
#if defined(__SSE2__)
        while (end - q >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            const __m128i letters = inRange(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z');
            const __m128i others = _mm_or_si128(_mm_or_si128(inRange(v, '0', ':'), inRange(v, '-', '.')),
                                                _mm_cmpeq_epi8(v, _mm_set1_epi8('_')));
            const int names = _mm_movemask_epi8(_mm_or_si128(letters, others));
            if (names != 0xFFFF) return q + __builtin_ctz(static_cast<unsigned>(~names));
            q += 16;
        }
#endif
        while (q < end && isNameChar(*q)) ++q;
        return q;
    }

    // The first byte from q on that is not a blank (space, tab, carriage return, line feed).
    static const char* blankEnd(const char* q, const char* end) {
#if defined(__SSE2__)
        while (end - q >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            const __m128i blanks = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))),
                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
            const int mask = _mm_movemask_epi8(blanks);
            if (mask != 0xFFFF) return q + __builtin_ctz(static_cast<unsigned>(~mask));
            q += 16;
        }
#endif
        while (q < end && isSpace(*q)) ++q;
        return q;
    }
    static bool isXmlChar(char32_t c) {
        return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
               (c >= 0x10000 && c <= 0x10FFFF);
    }

    void run() {
        if (!s_.started_ && !prolog()) return;
        while (p_ < end_ && !s_.failed_) {
            if (*p_ == '<') {
                if (end_ - p_ < 2) return;
                if (p_[1] == '/') {
                    if (!endTag()) return;
                } else if (!startTag()) {
                    return;
                }
            } else if (s_.depth_ == 0) {
                // Between the prolog and the end only white space reads plainly.
                if (!isSpace(*p_)) return giveUp();
                ++p_;
            } else if (!textRun()) {
                return;
            }
        }
    }

    void giveUp() { giveUp_ = true; }

    // A byte-order mark, then an XML declaration of version 1.0 in UTF-8, may open the reply.
    bool prolog() {
        static constexpr std::string_view kBom = "\xEF\xBB\xBF";
        static constexpr std::string_view kDecl = "<?xml";
        const std::string_view rest(p_, static_cast<std::size_t>(end_ - p_));
        if (rest.size() < kBom.size() && kBom.starts_with(rest)) return false;
        std::size_t at = rest.starts_with(kBom) ? kBom.size() : 0;
        const std::string_view after = rest.substr(at);
        if (after.size() <= kDecl.size() && kDecl.starts_with(after)) return false;
        if (after.starts_with(kDecl) && isSpace(after[kDecl.size()])) {
            const std::size_t close = after.find("?>");
            if (close == std::string_view::npos) {
                if (after.size() > 256) giveUp();
                return false;
            }
            if (!plainDeclaration(after.substr(kDecl.size(), close - kDecl.size()))) return giveUp(), false;
            at += close + 2;
        } else if (at == 0) {
            // Without a mark or a declaration expat tells the encoding from the first two
            // bytes; only where they make it UTF-8 (no zero byte) is the reply the fast path's.
            if (rest.size() < 2) return false;
            if ((rest[0] != '<' && !isSpace(rest[0])) || rest[1] == '\0') return giveUp(), false;
        }
        p_ += at;
        s_.started_ = true;
        return true;
    }

    // ` version="1.0" [encoding="UTF-8"] [standalone="yes"|"no"]`, in that order.
    static bool plainDeclaration(std::string_view d) {
        const auto pair = [&d](std::string_view name, auto&& valueOk) {
            const std::size_t spaces = d.find_first_not_of(" \t\r\n");
            if (spaces == 0 || spaces == std::string_view::npos || !d.substr(spaces).starts_with(name)) return false;
            std::string_view r = d.substr(spaces + name.size());
            r.remove_prefix(std::min(r.find_first_not_of(" \t\r\n"), r.size()));
            if (!r.starts_with('=')) return false;
            r.remove_prefix(1);
            r.remove_prefix(std::min(r.find_first_not_of(" \t\r\n"), r.size()));
            if (r.empty() || (r[0] != '"' && r[0] != '\'')) return false;
            const std::size_t q = r.find(r[0], 1);
            if (q == std::string_view::npos || !valueOk(r.substr(1, q - 1))) return false;
            d = r.substr(q + 1);
            return true;
        };
        const auto lowerIs = [](std::string_view v, std::string_view want) {
            if (v.size() != want.size()) return false;
            for (std::size_t i = 0; i < v.size(); ++i)
                if (std::tolower(static_cast<unsigned char>(v[i])) != want[i]) return false;
            return true;
        };
        if (!pair("version", [](std::string_view v) { return v == "1.0"; })) return false;
        std::string_view before = d;
        if (!pair("encoding", [&](std::string_view v) { return lowerIs(v, "utf-8"); })) d = before;
        before = d;
        if (!pair("standalone", [](std::string_view v) { return v == "yes" || v == "no"; })) d = before;
        return d.find_first_not_of(" \t\r\n") == std::string_view::npos;
    }

    // Reads a name at q; false (and q at the end) when the data ends inside it.
    const char* name(const char* q) const {
        if (q >= end_ || !isNameStart(*q)) return nullptr;
        return nameEnd(q + 1, end_);
    }

    bool startTag() {
        const char* q = p_ + 1;
        if (!isNameStart(*q)) return giveUp(), false;
        const char* nameEnd = name(q);
        const char* r = nameEnd;
        while (r < end_ && isSpace(*r)) ++r;
        if (r >= end_ || (*r == '/' && r + 1 >= end_)) return false;
        const bool empty = *r == '/';
        if (empty ? r[1] != '>' : *r != '>') return giveUp(), false;  // an attribute, or worse
        if (s_.rootSeen_ && s_.depth_ == 0) return giveUp(), false;   // a second document element
        const std::string_view tag(q, static_cast<std::size_t>(nameEnd - q));
        deliverHeld();
        if (!empty && s_.depth_ > 0 && leaf(tag, r + 1)) return true;
        if (s_.openCount_ == s_.open_.size()) s_.open_.emplace_back();
        std::string& slot = s_.open_[s_.openCount_++];
        // A record's slot keeps its name from the record before.
        if (slot.size() != tag.size() || !sameBytes(slot.data(), tag.data(), tag.size())) slot.assign(tag);
        if (!s_.rootSeen_) s_.rootName_ = slot;
        s_.onStart(slot);
        if (empty) closeElement();
        p_ = r + (empty ? 2 : 1);
        return true;
    }

    // An element with nothing but a plain text, or nothing, up to its own end tag, read in one
    // go: the field elements of a reply, millions of them. Anything else, or data that ends
    // first, is read tag by tag.
    bool leaf(std::string_view tag, const char* text) {
        const char* q = plainEnd(text, end_);
        const auto n = static_cast<std::size_t>(q - text);
        if (static_cast<std::size_t>(end_ - q) < tag.size() + 3 || q[0] != '<' || q[1] != '/' ||
            !sameBytes(q + 2, tag.data(), tag.size()) || q[2 + tag.size()] != '>')
            return false;
        if (s_.maxText_ != 0 && n > s_.maxText_) return false;
        s_.onLeaf(tag, std::string_view(text, n));
        p_ = q + tag.size() + 3;
        return true;
    }

    // Where the name of the innermost open element ends when the end tag at q names it; null
    // when it does not or the data ends first (the caller then reads the name byte by byte).
    const char* openNameAt(const char* q) const {
        if (s_.openCount_ == 0) return nullptr;
        const std::string& open = s_.open_[s_.openCount_ - 1];
        if (static_cast<std::size_t>(end_ - q) <= open.size() || !sameBytes(q, open.data(), open.size()) ||
            isNameChar(q[open.size()]))
            return nullptr;
        return q + open.size();
    }

    bool endTag() {
        const char* q = p_ + 2;
        if (q >= end_) return false;
        if (!isNameStart(*q)) return giveUp(), false;
        const char* nameEnd = openNameAt(q);
        const bool named = nameEnd != nullptr;  // the innermost open element's name, already compared
        if (!named) nameEnd = name(q);
        const char* r = nameEnd;
        while (r < end_ && isSpace(*r)) ++r;
        if (r >= end_) return false;
        if (*r != '>' || (!named && (s_.openCount_ == 0 || s_.open_[s_.openCount_ - 1] !=
                                                               std::string_view(q, static_cast<std::size_t>(nameEnd - q)))))
            return giveUp(), false;
        deliverHeld();
        closeElement();
        p_ = r + 1;
        return true;
    }

    void closeElement() {
        s_.onEnd();
        --s_.openCount_;
    }

    // Text up to the next markup, with references resolved and line breaks normalised as
    // expat does. A run that is complete, plain and the start of its node is held, to go to
    // the reader as it stands once the markup after it has been read (expat, too, reports a
    // text node only then); anything else is gathered as expat's pieces would be.
    bool textRun() {
        const char* from = p_;
        bool whole = !s_.textPending_;
        if (whole && blankRunHeld()) return true;
        const auto flush = [&](const char* to) {
            if (to > from) s_.onCharacters(from, static_cast<std::size_t>(to - from));
            whole = false;
        };
        while ((p_ = plainEnd(p_, end_)) < end_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '<') {
                if (whole) heldFrom_ = from, heldTo_ = p_, heldBlank_ = false;
                else flush(p_);
                return true;
            }
            if (c >= 0x80) {
                const int n = utf8Length(p_);
                if (n == 0) return flush(p_), giveUp(), false;
                if (n < 0) return flush(p_), false;
                p_ += n;
                continue;
            }
            flush(p_);
            if (c == '&') {
                if (!reference()) return false;
            } else if (c == '\r') {
                if (end_ - p_ < 2) return false;
                p_ += p_[1] == '\n' ? 2 : 1;
                s_.onCharacters("\n", 1);
            } else {
                return giveUp(), false;  // "]" (perhaps of "]]>") or a control character
            }
            from = p_;
        }
        flush(p_);
        return true;
    }

    // The line breaks and indents between elements (CR LF in the server's replies) are never a
    // node, so they need neither normalising nor gathering: a blank run up to markup is held
    // as it stands, and deliverHeld() drops it. Not when it could outgrow the text limit,
    // which must see it as expat would.
    bool blankRunHeld() {
        const char* q = blankEnd(p_, end_);
        if (q == end_ || *q != '<') return false;
        const auto n = static_cast<std::size_t>(q - p_);
        if (s_.maxText_ != 0 && n > s_.maxText_) return false;
        heldFrom_ = p_;
        heldTo_ = p_ = q;
        heldBlank_ = true;
        return true;
    }

    // The held text node at once, as onCharacters() then flushText() would hand it over.
    void deliverHeld() {
        const char* from = heldFrom_;
        const std::size_t n = static_cast<std::size_t>(heldTo_ - heldFrom_);
        heldFrom_ = heldTo_ = nullptr;
        if (n == 0 || std::exchange(heldBlank_, false)) return;
        const bool kept = s_.depth_ + 1 >= s_.keptTextLevel_;
        if (kept && s_.maxText_ != 0 && n > s_.maxText_) return s_.onCharacters(from, n);
        if (!hasNonBlank(from, n)) return;
        s_.guarded([&] { s_.textNode(s_.depth_ + 1, kept ? std::string_view(from, n) : std::string_view()); });
    }

    // The length of the UTF-8 character at q: 0 when it is not a character XML allows, -1
    // when the data ends inside it.
    int utf8Length(const char* q) const {
        const auto b = [q](int i) { return static_cast<unsigned char>(q[i]); };
        const unsigned char lead = b(0);
        int n = 0;
        char32_t c = 0;
        if (lead >= 0xC2 && lead <= 0xDF) n = 2, c = lead & 0x1F;
        else if (lead >= 0xE0 && lead <= 0xEF) n = 3, c = lead & 0x0F;
        else if (lead >= 0xF0 && lead <= 0xF4) n = 4, c = lead & 0x07;
        else return 0;
        for (int i = 1; i < n; ++i) {
            if (q + i >= end_) return -1;
            if ((b(i) & 0xC0) != 0x80) return 0;
            c = (c << 6) | (b(i) & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || (c >= 0xD800 && c <= 0xDFFF) || !isXmlChar(c)) return 0;
        return n;
    }

    // A predefined or numeric reference at p_; false when the data ends inside it or it is
    // another kind (then the fast path gives up).
    bool reference() {
        static constexpr std::size_t kLongest = 12;  // "&#x0010FFFF;"
        const std::string_view rest(p_, static_cast<std::size_t>(end_ - p_));
        const std::size_t semi = rest.substr(0, kLongest + 1).find(';');
        if (semi == std::string_view::npos) {
            if (rest.size() <= kLongest) return false;
            return giveUp(), false;
        }
        const std::string_view body = rest.substr(1, semi - 1);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
        for (const auto& [named, ch] : kNamed) {
            if (body == named) {
                s_.onCharacters(&ch, 1);
                p_ += semi + 1;
                return true;
            }
        }
        if (!body.starts_with('#')) return giveUp(), false;
        char32_t c = 0;
        const bool hex = body.starts_with("#x");
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return giveUp(), false;
        for (const char d : digits) {
            int v = -1;
            if (d >= '0' && d <= '9') v = d - '0';
            else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
            if (v < 0 || c > 0x10FFFF) return giveUp(), false;
            c = c * (hex ? 16 : 10) + static_cast<char32_t>(v);
        }
        if (!isXmlChar(c)) return giveUp(), false;
        char utf8[4];
        std::size_t n = 0;
        if (c < 0x80) {
            utf8[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            utf8[n++] = static_cast<char>(0xC0 | (c >> 6));
            utf8[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8[n++] = static_cast<char>(0xE0 | (c >> 12));
            utf8[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8[n++] = static_cast<char>(0xF0 | (c >> 18));
            utf8[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        s_.onCharacters(utf8, n);
        p_ += semi + 1;
        return true;
    }

    XmlStream& s_;
    const char* const begin_;
    const char* const end_;
    const char* p_;
    const char* heldFrom_ = nullptr;
    const char* heldTo_ = nullptr;
    bool heldBlank_ = false;  // the held run is known to be blanks only
    bool giveUp_ = false;
};

XmlStream::XmlStream(int keptTextLevel, std::size_t maxText, XmlPath path)
    : parser_(XML_ParserCreate(nullptr)),
      keptTextLevel_(keptTextLevel),
      maxText_(maxText),
      fast_(path == XmlPath::FastFirst) {
    if (!parser_) throw std::bad_alloc();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, Handlers::start, Handlers::end);
    XML_SetCharacterDataHandler(parser_, Handlers::characters);
    XML_SetCommentHandler(parser_, Handlers::comment);
    XML_SetProcessingInstructionHandler(parser_, Handlers::instruction);
    XML_SetCdataSectionHandler(parser_, Handlers::cdataStart, Handlers::cdataEnd);
    XML_SetStartDoctypeDeclHandler(parser_, Handlers::doctype);
    XML_SetUnknownEncodingHandler(parser_, Handlers::encoding, nullptr);
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlStream::~XmlStream() { XML_ParserFree(parser_); }

void XmlStream::flushText() {
    if (!textPending_) return;
    const bool node = textNonBlank_;
    textPending_ = textNonBlank_ = false;
    if (node) textNode(depth_ + 1, text_);
    text_.clear();
}

void XmlStream::stop(std::string why) {
    if (failed_) return;
    failed_ = true;
    failure_ = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
}

void XmlStream::describeParserError() {
    failed_ = true;
    if (handlerError_ || !failure_.empty()) return;  // stopped by us, for a reason already kept
    const XML_Error code = XML_GetErrorCode(parser_);
    if (code == XML_ERROR_NO_ELEMENTS && !rootSeen_) {
        failure_ = sawNonBlank_ ? ui::phrase::kNoDocumentElement : ui::phrase::kEmptyReply;
    } else if (code == XML_ERROR_JUNK_AFTER_DOC_ELEMENT || (rootSeen_ && depth_ == 0)) {
        // After the document element expat names junk by where its input was cut ("D" alone
        // is junk, "D<" an invalid token), so every fault there reads alike.
        failure_ = ui::phrase::kOutsideDocument;
    } else if (code == XML_ERROR_NO_ELEMENTS) {
        failure_ = ui::phrase::kDocumentUnclosed;
    } else {
        failure_ = ui::fill(ui::phrase::kNotXmlAt,
                            {XML_ErrorString(code), std::to_string(static_cast<long long>(XML_GetCurrentByteIndex(parser_)) + byteShift_)});
    }
}

// expat 2.5 reads an unfinished token again from its start on every call, so a long comment
// fed in small pieces would cost the square of its length. What follows such a token is held
// back until it is at least as long as the token, which keeps the work linear (newer expats
// defer the same way on their own).
bool XmlStream::feedExpat(std::string_view piece, bool now) {
    if (!now && expatHeld_ > 0 && expatPending_.size() + piece.size() < expatHeld_) {
        expatPending_.append(piece);
        return true;
    }
    if (expatPending_.empty()) return parseExpat(piece);
    std::string pending;
    pending.swap(expatPending_);
    pending.append(piece);
    return parseExpat(pending);
}

bool XmlStream::parseExpat(std::string_view piece) {
    while (!piece.empty()) {
        const std::size_t n = std::min<std::size_t>(piece.size(), INT_MAX / 2);
        if (XML_Parse(parser_, piece.data(), static_cast<int>(n), XML_FALSE) != XML_STATUS_OK) {
            describeParserError();
            return false;
        }
        expatFed_ += static_cast<long long>(n);
        piece.remove_prefix(n);
    }
    // Between calls expat's current position is the start of the token it could not finish.
    const XML_Index at = XML_GetCurrentByteIndex(parser_);
    expatHeld_ = at >= 0 && at <= expatFed_ ? static_cast<std::size_t>(expatFed_ - at) : 0;
    return true;
}

void XmlStream::leaveFastPath() {
    fast_ = false;
    // Past the reply's first bytes expat can no longer tell its encoding from them: it is
    // told, as the fast path only reads UTF-8.
    std::string primer = consumed_ > 0 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" : "";
    if (rootSeen_ && depth_ == 0) {
        primer += "<" + rootName_ + "/>";  // past the document element: only its end may follow
    } else {
        for (std::size_t i = 0; i < openCount_; ++i) primer += "<" + open_[i] + ">";
    }
    byteShift_ = consumed_ - static_cast<long long>(primer.size());
    priming_ = true;
    const bool primed = feedExpat(primer, true);
    priming_ = false;
    if (!primed) stop(std::string(ui::phrase::kParserRefused));
}

bool XmlStream::feed(std::string_view piece) {
    if (failed_ || finished_) return false;
    if (!sawNonBlank_) sawNonBlank_ = hasNonBlank(piece.data(), piece.size());
    if (fast_ && !carry_.empty()) {
        // Finish the unit the last piece ended inside: units are short, so a few hundred
        // bytes of this piece complete it unless the fast path gives up on it anyway.
        static constexpr std::size_t kLook = 512;
        const std::size_t carried = carry_.size();
        carry_.append(piece.substr(0, kLook));
        const FastPath::Scan scan = FastPath::scan(*this, carry_);
        consumed_ += static_cast<long long>(scan.used);
        if (failed_) return false;
        if (scan.used > carried) {
            piece.remove_prefix(scan.used - carried);
            carry_.clear();
        } else if (!scan.giveUp && piece.size() <= kLook && carry_.size() <= kLook) {
            carry_.erase(0, scan.used);
            return true;
        } else {
            const std::string unread = carry_.substr(scan.used);
            carry_.clear();
            leaveFastPath();
            return !failed_ && feedExpat(unread) && feedExpat(piece.substr(std::min(piece.size(), kLook)));
        }
    }
    if (fast_) {
        const FastPath::Scan scan = FastPath::scan(*this, piece);
        consumed_ += static_cast<long long>(scan.used);
        if (failed_) return false;
        piece.remove_prefix(scan.used);
        if (!scan.giveUp) {
            carry_.assign(piece);
            return true;
        }
        leaveFastPath();
        if (failed_) return false;
    }
    return feedExpat(piece);
}

void XmlStream::readHeld() {
    if (!failed_ && !finished_ && !expatPending_.empty()) feedExpat({}, true);
}

bool XmlStream::finish() {
    if (failed_ || finished_) return false;
    if (fast_) {
        // A reply the fast path read to its end, document element closed, is complete;
        // anything else is for expat to judge and describe.
        if (carry_.empty() && rootSeen_ && depth_ == 0) {
            finished_ = true;
            return true;
        }
        const std::string unread = std::move(carry_);
        carry_.clear();
        leaveFastPath();
        if (failed_ || !feedExpat(unread)) return false;
    }
    if (!expatPending_.empty() && !feedExpat({}, true)) return false;
    if (XML_Parse(parser_, nullptr, 0, XML_TRUE) != XML_STATUS_OK) {
        describeParserError();
        return false;
    }
    finished_ = true;
    return true;
}

}  // namespace eft
