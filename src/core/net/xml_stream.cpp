#include "net/xml_stream.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "text/windows1252.h"

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

// Expat calls C functions; these forward to the stream. No exception may cross expat's
// frames: a handler's exception is kept and the parser stopped, and every later call-back
// (expat may still deliver a few) is ignored.
struct XmlStream::Handlers {
    template <typename F>
    static void guarded(void* data, F&& body) {
        auto* self = static_cast<XmlStream*>(data);
        if (self->failed_) return;
        try {
            body(*self);
        } catch (...) {
            self->handlerError_ = std::current_exception();
            self->stop({});
        }
    }

    static void XMLCALL start(void* data, const XML_Char* name, const XML_Char**) {
        guarded(data, [name](XmlStream& s) {
            s.flushText();
            if (s.depth_ >= kMaxDepth) {
                s.stop("the reply nests elements more than " + std::to_string(kMaxDepth) + " levels deep");
                return;
            }
            ++s.depth_;
            s.rootSeen_ = true;
            s.elementStart(s.depth_, name);
        });
    }

    static void XMLCALL end(void* data, const XML_Char*) {
        guarded(data, [](XmlStream& s) {
            s.flushText();
            s.elementEnd(s.depth_);
            --s.depth_;
        });
    }

    static void XMLCALL characters(void* data, const XML_Char* chars, int length) {
        guarded(data, [chars, length](XmlStream& s) {
            const auto n = static_cast<std::size_t>(length);
            s.textPending_ = true;
            if (!s.textNonBlank_ && (s.inCdata_ || hasNonBlank(chars, n))) s.textNonBlank_ = true;
            if (s.depth_ + 1 < s.keptTextLevel_) return;
            s.text_.append(chars, n);
            if (s.maxText_ != 0 && s.text_.size() > s.maxText_) {
                s.textTooLong(s.depth_ + 1, s.text_);
                s.stop("a text is too long");  // textTooLong must throw; never go on regardless
            }
        });
    }

    static void XMLCALL comment(void* data, const XML_Char* content) {
        guarded(data, [content](XmlStream& s) {
            s.flushText();
            s.markupNode(s.depth_ + 1, content);
        });
    }

    static void XMLCALL instruction(void* data, const XML_Char*, const XML_Char* content) {
        guarded(data, [content](XmlStream& s) {
            s.flushText();
            s.markupNode(s.depth_ + 1, content);
        });
    }

    static void XMLCALL cdataStart(void* data) {
        guarded(data, [](XmlStream& s) {
            s.flushText();
            s.inCdata_ = true;
            s.textPending_ = true;  // an empty section is a node too
        });
    }

    static void XMLCALL cdataEnd(void* data) {
        guarded(data, [](XmlStream& s) {
            s.textNonBlank_ = true;
            s.flushText();
            s.inCdata_ = false;
        });
    }

    static void XMLCALL doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        guarded(data, [](XmlStream& s) {
            s.stop("the reply declares a document type (<!DOCTYPE>), which a reply may not carry");
        });
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

XmlStream::XmlStream(int keptTextLevel, std::size_t maxText)
    : parser_(XML_ParserCreate(nullptr)), keptTextLevel_(keptTextLevel), maxText_(maxText) {
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
        failure_ = sawNonBlank_ ? "the reply has no document element" : "the reply is empty";
    } else if (code == XML_ERROR_JUNK_AFTER_DOC_ELEMENT) {
        failure_ = "the reply is not XML (text or another element outside its document element)";
    } else if (code == XML_ERROR_NO_ELEMENTS) {
        failure_ = "the reply ends before its document element is closed";
    } else {
        failure_ = std::string("the reply is not XML (") + XML_ErrorString(code) + " at byte " +
                   std::to_string(static_cast<long long>(XML_GetCurrentByteIndex(parser_))) + ")";
    }
}

bool XmlStream::feed(std::string_view piece) {
    if (failed_ || finished_) return false;
    if (!sawNonBlank_) sawNonBlank_ = hasNonBlank(piece.data(), piece.size());
    while (!piece.empty()) {
        const std::size_t n = std::min<std::size_t>(piece.size(), INT_MAX / 2);
        if (XML_Parse(parser_, piece.data(), static_cast<int>(n), XML_FALSE) != XML_STATUS_OK) {
            describeParserError();
            return false;
        }
        piece.remove_prefix(n);
    }
    return true;
}

bool XmlStream::finish() {
    if (failed_ || finished_) return false;
    if (XML_Parse(parser_, nullptr, 0, XML_TRUE) != XML_STATUS_OK) {
        describeParserError();
        return false;
    }
    finished_ = true;
    return true;
}

}  // namespace eft
