#include "net/xml_reader.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "base/error.h"
#include "base/short_bytes.h"
#include "net/address.h"
#include "net/xml_stream.h"
#include "ui/phrases.h"

namespace eft {
namespace {

constexpr int kMaxFieldsPerRecord = 32767;  // the field position counter is 16-bit

// Levels of the reply's shape (see XmlStream): the document element, records, field
// elements, and the nodes that carry a field's values.
constexpr int kRecordLevel = 2;
constexpr int kFieldLevel = 3;
constexpr int kValueLevel = 4;

// Field lookup by element name, letter case not significant. Replies repeat the same field
// order in every record, so the field at a position is first guessed from the record before;
// only a miss searches the table's fields.
class FieldLookup {
public:
    explicit FieldLookup(const Table& table) : table_(table) {}
    // The field of that name, or -1 when the table has none.
    int find(int position, std::string_view name) {
        const auto at = static_cast<std::size_t>(position);
        if (at < guesses_.size() && guesses_[at].name.size() == name.size() &&
            sameBytes(guesses_[at].name.data(), name.data(), name.size()))
            return guesses_[at].field;
        auto found = table_.findField(name);
        if (!found) return -1;
        if (at >= guesses_.size()) guesses_.resize(at + 1);
        guesses_[at] = Guess{std::string(name), *found};
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

// The rows of one reply, stored as its nodes arrive. A value nested in elements inside a
// field element is the text of all the nodes below it, comments and instructions left out.
class RowReader final : public XmlStream {
public:
    RowReader(Table& table, std::string_view sortKey, std::string_view address, XmlPath path, const RowNamer& rowName)
        : XmlStream(kValueLevel, kMaxValueBytes, path), table_(table), fields_(table), rowName_(rowName),
          where_(ui::fill(ui::phrase::kReadingWhere, {redactedAddress(address), ""})) {
        // A new reply replaces the whole content: no filter may hide rows of the old one.
        if (table.isOpen() && !table.filter().empty()) table.setFilter("");
        table.emptyAndSort(sortKey);
    }

    // Ends the read: throws the failure of the parse, of the transfer, or of the document's end.
    void end(const FetchResult& fetched) {
        // A record cut short after a refused value: the refusal is the first fault, told
        // once every field that arrived is in the row.
        if (!refused_.empty()) {
            readHeld();
            refusal();
        }
        if (!failed()) {
            if (!fetched.ok) throw EftError(where_ + ui::fill(ui::phrase::kPageNotFetched, {fetched.error}));
            finish();
        }
        // A value refused in the last bytes, which expat is handed only at the end, still came
        // before the fault that ends the reply.
        if (!refused_.empty()) refusal();
        if (!failed()) return;
        if (handlerError()) std::rethrow_exception(handlerError());
        std::string why = failure();
        if (fetched.status != 0 && fetched.status != 200)
            why = ui::fill(ui::phrase::kWhyAndStatus, {why, std::to_string(fetched.status)});
        throw EftError(where_ + why);
    }

private:
    void elementStart(int level, std::string_view name) override {
        if (level == kRecordLevel) {
            beginRecord();
        } else if (level == kFieldLevel) {
            nextFieldNode();
            // An unknown name fails only when a value comes for it, so its name is kept.
            field_ = fields_.find(position_ - 1, name);
            if (field_ < 0) unknownName_.assign(name);
            else inRecord([&] { table_.beginField(field_); });
        } else if (level == kValueLevel) {
            composite_.clear();
        }
    }

    // A field element's value in one step: no virtual call for each of its three events.
    void leafElement(int level, std::string_view name, const std::string_view* text) override {
        elementStart(level, name);
        if (text) textNode(level + 1, *text);
        elementEnd(level);
    }

    void elementEnd(int level) override {
        if (level == kValueLevel) store(composite_);
        else if (level == kRecordLevel && !refused_.empty()) refusal();
    }

    void textNode(int level, std::string_view text) override {
        if (level == kRecordLevel) beginRecord();  // a text record: a row with every field empty
        else if (level == kFieldLevel) nextFieldNode();
        else if (level == kValueLevel) store(text);
        else if (level > kValueLevel) appendComposite(text);
    }

    // A comment or instruction between records is no record; one in a field element stands
    // for its own content.
    void markupNode(int level, std::string_view content) override {
        if (level == kFieldLevel) nextFieldNode();
        else if (level == kValueLevel) store(content);
    }

    void textTooLong(int level, std::string_view text) override {
        if (level == kValueLevel) store(text);  // the table refuses it, naming record, field and value
        appendComposite(text);
    }

    void beginRecord() {
        ++recordNo_;
        position_ = 0;
        table_.addRow();
    }

    void nextFieldNode() {
        if (++position_ > kMaxFieldsPerRecord)
            throw EftError(where_ + ui::fill(ui::phrase::kRecordTooLong,
                                             {std::to_string(recordNo_), std::to_string(kMaxFieldsPerRecord)}));
    }

    void appendComposite(std::string_view text) {
        composite_.append(text);
        if (composite_.size() > kMaxValueBytes) store(composite_);
    }

    void store(std::string_view value) {
        if (value.empty()) return;
        inRecord([&] {
            if (field_ < 0) throw EftError(ui::fill(ui::phrase::kNotAField, {unknownName_, table_.name()}));
            try {
                table_.setFromText(field_, value);
            } catch (const ValueRefused& e) {
                if (refused_.empty()) refused_ = e.description();
            }
        });
    }

    // The first value of the record its field refused, said of the row by all the fields the
    // record gave.
    [[noreturn]] void refusal() {
        std::string row = std::to_string(recordNo_);
        if (rowName_) {
            try {
                row += ", " + rowName_(table_);
            } catch (const EftError&) {
                // A row that cannot be named is named by its number alone.
            }
        }
        throw EftError(where_ + ui::fill(ui::phrase::kRecordWhy, {row, refused_}));
    }

    // A table's refusal, said of the record being read.
    template <typename F>
    void inRecord(F f) {
        try {
            f();
        } catch (const EftError& e) {
            throw EftError(where_ + ui::fill(ui::phrase::kRecordWhy, {std::to_string(recordNo_), e.description()}));
        }
    }

    Table& table_;
    FieldLookup fields_;
    RowNamer rowName_;
    std::string where_;
    std::string refused_;  // the first refused value of the record being read
    long recordNo_ = 0;
    int position_ = 0;
    int field_ = -1;  // the table field of the current field element
    std::string unknownName_;
    std::string composite_;
};

// Every text and CDATA node of a document, in order.
class TextCollector final : public XmlStream {
public:
    TextCollector(XmlPath path, std::string_view mark) : XmlStream(1, 0, path), mark_(mark) {}
    std::string text;
    std::string root;     // the document element's name
    bool marked = false;  // it has a child element named as the mark
    bool xhtml = false;   // the document element is in the XHTML namespace

private:
    void elementStart(int level, std::string_view name) override {
        if (level == 1) root = name;
        else if (level == 2 && !mark_.empty() && name == mark_) marked = true;
    }
    void attribute(int level, std::string_view name, std::string_view value) override {
        if (level == 1 && (name == "xmlns" || name.starts_with("xmlns:")) && value == "http://www.w3.org/1999/xhtml")
            xhtml = true;
    }
    std::string_view mark_;
    void elementEnd(int) override {}
    void textNode(int, std::string_view t) override { text.append(t); }
    void markupNode(int, std::string_view) override {}
    void textTooLong(int, std::string_view) override {}
};

bool isHtml(const TextCollector& doc) {
    std::string local = doc.root.substr(doc.root.rfind(':') == std::string::npos ? 0 : doc.root.rfind(':') + 1);
    for (auto& c : local) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return doc.xhtml || local == "html";
}

std::string collected(TextCollector& doc, const FetchResult& fetched, std::string* failure, bool refuseHtml,
                      bool* marked) {
    std::string why;
    if (!doc.failed() && !fetched.ok) why = ui::fill(ui::phrase::kPageNotFetched, {fetched.error});
    else if (!doc.failed()) doc.finish();
    if (why.empty() && doc.failed()) why = doc.failure();
    // A login or error page served with 200 may well be well-formed XML too; any other
    // document is the server's own text.
    if (why.empty() && refuseHtml && isHtml(doc))
        why = ui::fill(doc.xhtml ? ui::phrase::kWebPageXhtml : ui::phrase::kWebPage, {doc.root});
    if (failure) *failure = why;
    if (marked) *marked = why.empty() && doc.marked;
    return why.empty() ? std::move(doc.text) : std::string();
}

}  // namespace

void ReadXmlRows(Table& table, const std::string& address, const std::string& sortKey, const Fetch& fetch,
                 XmlPath path, const RowNamer& rowName) {
    RowReader reader(table, sortKey, address, path, rowName);
    reader.end(fetch(address, [&reader](std::string_view piece) { return reader.feed(piece); }));
}

bool readXmlRowsFromBuffer(Table& table, std::string_view reply, std::string_view sortKey, std::string_view address,
                           std::size_t pieceSize, XmlPath path, const RowNamer& rowName) {
    RowReader reader(table, sortKey, address, path, rowName);
    const std::size_t step = pieceSize == 0 ? std::max<std::size_t>(reply.size(), 1) : pieceSize;
    for (std::size_t at = 0; at < reply.size(); at += step)
        if (!reader.feed(reply.substr(at, step))) break;
    reader.end(FetchResult{true, 200, {}});
    return reader.usedExpat();
}

std::string loadDocumentText(const std::string& address, const Fetch& fetch, std::string* failure, bool refuseHtml,
                             XmlPath path, std::string_view mark, bool* marked) {
    TextCollector doc(path, mark);
    const FetchResult fetched = fetch(address, [&doc](std::string_view piece) { return doc.feed(piece); });
    return collected(doc, fetched, failure, refuseHtml, marked);
}

std::string documentTextFromBuffer(std::string_view document, std::string* failure, bool refuseHtml, XmlPath path,
                                   std::string_view mark, bool* marked) {
    TextCollector doc(path, mark);
    doc.feed(document);
    return collected(doc, FetchResult{true, 200, {}}, failure, refuseHtml, marked);
}

}  // namespace eft
