// The reader as a stream: the same rows whatever pieces a reply arrives in, failures part-way
// that keep the rows before them, a transfer stopped at the first fault, and replies built to
// exhaust the parser (deep nesting, huge values).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/xml_reader.h"
#include "tables/field_lists.h"

namespace eft {
namespace {

struct Outcome {
    std::vector<std::string> rows;  // every row in visiting order, "-" for no value
    std::string failure;
    bool operator==(const Outcome&) const = default;
};

std::vector<std::string> dump(Table& t) {
    std::vector<std::string> rows;
    if (t.rowCount() == 0) return rows;
    for (t.moveFirst(); !t.eof(); t.moveNext()) {
        std::string row;
        for (int f = 0; f < sweep_field::Count; ++f) row += t.text(f).value_or("-") + "|";
        rows.push_back(row);
    }
    return rows;
}

Outcome readInPieces(std::string_view reply, std::size_t piece, XmlPath path = XmlPath::FastFirst) {
    Table t = makeTable("rsSweep", sweepFields());
    Outcome o;
    try {
        readXmlRowsFromBuffer(t, reply, "CenterID", "memory", piece, path);
    } catch (const EftError& e) {
        o.failure = e.description();
    }
    o.rows = dump(t);
    return o;
}

const std::string kReplies[] = {
    // Entities, references, CDATA, nested values, comments, attributes, CRLF and two-byte
    // characters that a piece boundary can split.
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Sweep>\r\n"
    "\t<row id=\"1\">\r\n\t\t<MemberID>1001</MemberID>\r\n\t\t<MemberName>H\xC3\xA9l\xC3\xA8ne &amp; "
    "C\xC3\xB4t\xC3\xA9</MemberName>\r\n\t\t<CenterID>12</CenterID>\r\n"
    "\t\t<CenterName>Caf&#233; &lt;Nord&gt;</CenterName><Royalty>49.95</Royalty>\r\n"
    "\t\t<SourceDescription><![CDATA[<Card> & cash]]></SourceDescription>\r\n\t</row>\r\n"
    "\t<!-- between records -->\r\n"
    "\t<row><MemberID>1002</MemberID><CenterID>7</CenterID><MemberName>A<b>B<i>C</i></b>D</MemberName>"
    "<SourceDescription><!--note--></SourceDescription><SalesTaxExempt>true</SalesTaxExempt>"
    "<SweepDate>2011-03-04T10:20:30</SweepDate><trustid>6</trustid></row>\r\n"
    "\tstray text\r\n</Sweep>\r\n",
    // A declared Windows-1252 reply.
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?><rows><row><CenterID>3</CenterID>"
    "<CenterName>Caf\xE9 \x80 \x93quoted\x94</CenterName></row></rows>",
    // An unknown field in the third record: the failure and the rows before it.
    "<rows><row><CenterID>1</CenterID></row><row><CenterID>2</CenterID></row>"
    "<row><CenterID>3</CenterID><MemberName>M</MemberName><Bogus>x</Bogus><MemberID>4</MemberID></row>"
    "<row><CenterID>4</CenterID></row></rows>",
    // Not XML after two records.
    "<rows><row><CenterID>1</CenterID></row><row><CenterID>2</CenterID></row><row><CenterID>3</Center></row>"
    "</rows>",
};

// Both parsers, in pieces of every size, give what expat gives reading the reply at once.
TEST(XmlStream, PiecesOfEverySizeGiveTheSameTable) {
    for (const std::string& reply : kReplies) {
        const Outcome whole = readInPieces(reply, 0, XmlPath::ExpatOnly);
        ASSERT_FALSE(whole.rows.empty()) << reply;
        for (const XmlPath path : {XmlPath::FastFirst, XmlPath::ExpatOnly}) {
            for (std::size_t piece = 0; piece <= reply.size(); ++piece) {
                const Outcome got = readInPieces(reply, piece, path);
                const char* parser = path == XmlPath::FastFirst ? "fast path" : "expat";
                ASSERT_EQ(got.rows, whole.rows) << parser << ", pieces of " << piece << " bytes of " << reply;
                ASSERT_EQ(got.failure, whole.failure) << parser << ", pieces of " << piece << " bytes";
            }
        }
    }
}

// The fast path reads the form the pages send by itself; any other construct is expat's, and
// the rows and failures are the same either way.
TEST(XmlStream, ExpatTakesOverExactlyWhereThePlainFormEnds) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<rows>\r\n\t<row>";
    const std::string tail = "<CenterID>7</CenterID></row>\r\n</rows>\r\n";
    const struct {
        const char* name;
        std::string reply;
        bool expat;
    } cases[] = {
        {"plain", head + "<MemberName>A &amp; B &#233;&#x20AC; \xC3\xA9\xF0\x9F\x98\x80 &lt;&gt;&apos;&quot;</MemberName>" + tail, false},
        {"no declaration", "<rows><row><CenterID>7</CenterID><MemberName/></row></rows>", false},
        {"byte-order mark", "\xEF\xBB\xBF" + head + tail, false},
        {"line breaks normalised", head + "<MemberName>a\r\nb\rc</MemberName>" + tail, false},
        {"field of blanks", head + "<MemberName> \t\n </MemberName><CenterName></CenterName>" + tail, false},
        {"blank in an end tag", head + "<MemberName>x</MemberName \t>" + tail, false},
        {"field in a field", head + "<MemberName><CenterName>x</CenterName>y</MemberName>" + tail, false},
        {"comment", head + "<!-- c -->" + tail, true},
        {"cdata", head + "<MemberName><![CDATA[x]]></MemberName>" + tail, true},
        {"instruction", head + "<?pi x?>" + tail, true},
        {"attribute", head + "<MemberName a=\"1\">x</MemberName>" + tail, true},
        {"other encoding", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><rows><row>" + tail, true},
        {"declaration of another version", "<?xml version=\"1.1\"?><rows><row>" + tail, true},
        {"non-ascii name", head + "<Caf\xC3\xA9>x</Caf\xC3\xA9>" + tail, true},
        {"unknown entity", head + "<MemberName>&nbsp;</MemberName>" + tail, true},
        {"cdata end in text", head + "<MemberName>a]]>b</MemberName>" + tail, true},
        {"control character", head + "<MemberName>a\x01b</MemberName>" + tail, true},
        {"invalid utf-8", head + "<MemberName>a\xC3(b</MemberName>" + tail, true},
        {"surrogate", head + "<MemberName>\xED\xA0\x80</MemberName>" + tail, true},
        {"reference to nothing", head + "<MemberName>&#0;</MemberName>" + tail, true},
        {"mismatched tag", head + "<MemberName>x</Member>" + tail, true},
        {"end tag of a longer name", head + "<MemberName>x</MemberNames>" + tail, true},
        {"second root", "<rows/><rows/>", true},
        {"text after the root", "<rows/>x", true},
        {"unclosed", head, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Table t = makeTable("rsSweep", sweepFields());
        bool expat = false;
        try {
            expat = readXmlRowsFromBuffer(t, c.reply, "CenterID", "memory");
        } catch (const EftError&) {
            expat = true;  // every failure of the form is described by expat
        }
        EXPECT_EQ(expat, c.expat);
        for (const std::size_t piece : {0, 1, 7}) {
            EXPECT_EQ(readInPieces(c.reply, piece), readInPieces(c.reply, 0, XmlPath::ExpatOnly)) << "pieces of " << piece;
            std::string fastWhy, expatWhy;
            EXPECT_EQ(documentTextFromBuffer(c.reply, &fastWhy), documentTextFromBuffer(c.reply, &expatWhy, {}, XmlPath::ExpatOnly));
            EXPECT_EQ(fastWhy, expatWhy);
        }
    }
}

// The scanner looks at sixteen bytes a step for the end of a text run, a name and a blank run:
// whatever stops it, at whatever place in a step or in the scalar tail at the end of the data,
// the rows and failures are expat's, and the plain form is read without expat.
TEST(XmlStream, EveryStopOfTheScannerAtEveryOffsetReadsAsExpat) {
    const std::string tail = "<CenterID>7</CenterID></r>\r\n</rows>";
    const struct {
        const char* name;
        std::string stop;
        bool plain;
    } stops[] = {
        {"reference", "&amp;", true},  {"two-byte character", "\xC3\xA9", true}, {"line break", "\r\n", true},
        {"tab", "\t", true},           {"delete", "\x7F", true},                {"bracket", "]", false},
        {"control", "\x01", false},     {"cut character", "\xC3", false},         {"markup", "<x/>", true},
    };
    std::vector<std::pair<std::string, bool>> replies;
    for (const auto& stop : stops) {
        for (std::size_t before = 0; before <= 33; ++before) {
            const std::string value = std::string(before, 'v') + stop.stop + std::string(35 - before, 'w');
            replies.emplace_back("<rows><r><MemberName>" + value + "</MemberName>" + tail, stop.plain);
        }
    }
    // Record names of every length up to past two steps, of every class of name character,
    // ended by '>', by blanks, or by a character no name may hold.
    const std::string nameChars = "aZ0-._:9zA_bcdefghijklmnopqrstuvwxyzBCDEFGH";
    for (std::size_t length = 1; length <= 40; ++length) {
        const std::string name = nameChars.substr(0, length);
        replies.emplace_back("<rows><" + name + "><CenterID>7</CenterID></" + name + "></rows>", true);
        replies.emplace_back("<rows><" + name + " \t><CenterID>7</CenterID></" + name + "\r\n></rows>", true);
        replies.emplace_back("<rows><" + name + "@><CenterID>7</CenterID></" + name + "@></rows>", false);
        replies.emplace_back("<rows><" + name + "\xC3\xA9><CenterID>7</CenterID></" + name + "\xC3\xA9></rows>", false);
    }
    // Blank runs of every length, ended by markup (no node) or by text (a text record).
    for (std::size_t length = 0; length <= 40; ++length) {
        std::string blanks;
        for (std::size_t i = 0; i < length; ++i) blanks += " \t\r\n"[i % 4];
        replies.emplace_back("<rows><r>" + blanks + "<CenterID>7</CenterID>" + blanks + "</r>" + blanks + "</rows>", true);
        replies.emplace_back("<rows><r>" + blanks + "x<CenterID>7</CenterID></r>" + blanks + "y</rows>", true);
    }
    for (const auto& [reply, plain] : replies) {
        SCOPED_TRACE(reply);
        const Outcome expat = readInPieces(reply, 0, XmlPath::ExpatOnly);
        for (const std::size_t piece : {0, 5, 16, 17}) EXPECT_EQ(readInPieces(reply, piece), expat) << "pieces of " << piece;
        Table t = makeTable("rsSweep", sweepFields());
        bool handedOver = true;
        try {
            handedOver = readXmlRowsFromBuffer(t, reply, "CenterID", "memory");
        } catch (const EftError&) {
        }
        EXPECT_EQ(handedOver, !plain);
    }
}

// A fetch that offers the reply in fixed pieces and stops when the reader declines one.
struct PieceFetch {
    std::string body;
    std::size_t piece;
    FetchResult end{true, 200, {}};
    std::size_t offered = 0;

    Fetch fetch() {
        return [this](const std::string&, const BodyConsumer& consume) {
            for (std::size_t at = 0; at < body.size(); at += piece) {
                ++offered;
                if (!consume(std::string_view(body).substr(at, piece))) return FetchResult{false, 200, "stopped"};
            }
            return end;
        };
    }
};

TEST(XmlStream, ATransferBrokenOffKeepsTheRowsReadBeforeIt) {
    PieceFetch f{"<rows><row><CenterID>1</CenterID></row><row><CenterID>2</CenterID></row><row><MemberID>3</Me",
                 10, FetchResult{false, 200, "Connection reset by peer"}};
    Table t = makeTable("rsSweep", sweepFields());
    try {
        ReadXmlRows(t, "http://127.0.0.1:9/EFTMember.asp?countryID=1&Load=1", "CenterID", f.fetch());
        ADD_FAILURE() << "a broken transfer was read as a whole reply";
    } catch (const EftError& e) {
        const std::string why = e.description();
        EXPECT_NE(why.find("countryID=1"), std::string::npos) << why;
        EXPECT_NE(why.find("Connection reset by peer"), std::string::npos) << why;
    }
    EXPECT_EQ(t.rowCount(), 3u);  // two whole records and the one being filled
}

TEST(XmlStream, AFaultStopsTheTransfer) {
    std::string body = "<rows><row><CenterID>1</CenterID></row><row><Nope>1</Nope></row>";
    for (int k = 0; k < 1000; ++k) body += "<row><CenterID>2</CenterID></row>";
    body += "</rows>";
    PieceFetch f{body, 16};
    Table t = makeTable("rsSweep", sweepFields());
    EXPECT_THROW(ReadXmlRows(t, "memory", "CenterID", f.fetch()), EftError);
    EXPECT_LT(f.offered, 10u) << "the reply went on being received after it had failed";
    EXPECT_EQ(t.rowCount(), 2u);
}

std::string nested(int levels, const std::string& inner) {
    std::string s;
    for (int k = 0; k < levels; ++k) s += "<x>";
    s += inner;
    for (int k = 0; k < levels; ++k) s += "</x>";
    return s;
}

// Three levels (document element, record, field) come before the value's own elements.
TEST(XmlStream, NestingIsBoundedAndNeverExhaustsTheStack) {
    const struct {
        int levels;  // of elements inside the field element
        bool read;
    } cases[] = {{253, true}, {254, false}, {300'000, false}};
    for (const auto& c : cases) {
        const std::string reply =
            "<rows><row><CenterID>1</CenterID><MemberName>" + nested(c.levels, "deep") + "</MemberName></row></rows>";
        const Outcome o = readInPieces(reply, 65536);
        ASSERT_EQ(o.rows.size(), 1u) << c.levels;
        if (c.read) {
            EXPECT_EQ(o.failure, "") << c.levels;
            EXPECT_NE(o.rows[0].find("|deep|"), std::string::npos);
        } else {
            EXPECT_NE(o.failure.find("256 levels"), std::string::npos) << c.levels << ": " << o.failure;
        }
        std::string why;
        EXPECT_EQ(documentTextFromBuffer("<r>" + nested(c.levels + 2, "deep") + "</r>", &why), c.read ? "deep" : "");
        EXPECT_EQ(why.find("256 levels") != std::string::npos, !c.read) << why;
    }
}

TEST(XmlStream, ValuesLongerThan64KiBDoNotConvert) {
    const std::string atLimit(kMaxValueBytes, 'n');
    const struct {
        const char* name;
        std::string value;  // the inside of <MemberName>
        bool read;
    } cases[] = {
        {"64 KiB of text", atLimit, true},
        {"one byte more", atLimit + "n", false},
        {"split by a reference", std::string(40'000, 'n') + "&amp;" + std::string(30'000, 'n'), false},
        {"nested", "<b>" + std::string(40'000, 'n') + "<i>" + std::string(30'000, 'n') + "</i></b>", false},
        {"CDATA", "<![CDATA[" + atLimit + "x]]>", false},
        {"a comment", "<!--" + atLimit + "x-->", false},
    };
    for (const auto& c : cases) {
        const std::string reply = "<rows><row><CenterID>1</CenterID></row><row><CenterID>2</CenterID><MemberName>" +
                                  c.value + "</MemberName></row></rows>";
        const Outcome o = readInPieces(reply, 4096);
        EXPECT_EQ(o.rows.size(), 2u) << c.name;
        if (c.read) {
            EXPECT_EQ(o.failure, "") << c.name;
            continue;
        }
        for (const char* part : {"memory", "record 2", "MemberName", "nnnnnnnn"})
            EXPECT_NE(o.failure.find(part), std::string::npos) << c.name << ": " << part << " missing from " << o.failure;
    }
}

}  // namespace
}  // namespace eft

namespace eft {
namespace {

// A long token (a comment, a tag, a CDATA section) that arrives in small pieces costs the
// parser no more than the same token at once, within a wide factor: the bytes of an unfinished
// token are not read again for every piece.
TEST(XmlStream, ALongTokenInSmallPiecesCostsWhatItCostsWhole) {
    using Clock = std::chrono::steady_clock;
    const std::string filler(std::size_t{1} << 20, 'x');
    const struct {
        const char* name;
        std::string reply;
    } cases[] = {
        {"comment", "<rows><!--" + filler + "--></rows>"},
        {"cdata", "<rows><row><CenterName><![CDATA[" + filler + "]]></CenterName></row></rows>"},
        {"tagName", "<rows><a" + filler + "/></rows>"},
        {"unfinishedComment", "<rows><!--" + filler},
    };
    for (const auto& c : cases) {
        const auto timed = [&](std::size_t piece) {
            const auto start = Clock::now();
            const Outcome o = readInPieces(c.reply, piece);
            return std::pair{Clock::now() - start, o};
        };
        const auto [whole, wholeOutcome] = timed(0);
        const auto [pieces, piecesOutcome] = timed(32);
        EXPECT_EQ(piecesOutcome, wholeOutcome) << c.name;
        // 32,768 calls have a cost of their own whatever the parser does; 1 s of it would be
        // the square of the token, which takes tens of seconds here.
        EXPECT_LT(pieces, 20 * whole + std::chrono::seconds(1))
            << c.name << ": " << std::chrono::duration_cast<std::chrono::milliseconds>(pieces).count() << " ms against "
            << std::chrono::duration_cast<std::chrono::milliseconds>(whole).count() << " ms at once";
    }
}

}  // namespace
}  // namespace eft
