// ReadXmlRows against a canned HTTP server on 127.0.0.1: records, values, conversions, the
// failures that end a read, and replies that must never reach anything but the address given.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "net/http.h"
#include "net/xml_reader.h"
#include "support/canned_server.h"
#include "tables/field_lists.h"

namespace eft {
namespace {

using namespace std::chrono_literals;
using test::CannedServer;

// A base address on 127.0.0.1 whose port nobody listens on: bound once, then closed.
std::string closedPortBase() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        ADD_FAILURE() << "no free port";
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/eft/";
}

// Every case runs through the fast path and through expat alone: the two must agree.
class XmlReaderTest : public ::testing::TestWithParam<XmlPath> {
protected:
    XmlReaderTest() {
        // Bounds only, so that a broken reader fails instead of hanging.
        limits.connectTimeout = 5s;
        limits.getTimeout = 30s;
    }

    // Serves the body at a fresh target and returns its full address.
    std::string serve(const std::string& body, int status = 200, bool cutMidway = false) {
        const std::string target = "EFTMember.asp?countryID=1&Load=1&n=" + std::to_string(++served_);
        CannedServer::Reply reply;
        reply.body = body;
        reply.status = status;
        reply.cutMidway = cutMidway;
        server.on(target, reply);
        return server.base() + target;
    }

    void read(const std::string& address) { ReadXmlRows(sweep, address, "CenterID", blockingFetch(limits), GetParam()); }
    void readBody(const std::string& body) { read(serve(body)); }

    // The description of the failure that ends the read; empty when the read succeeded.
    std::string failureOf(const std::string& address) {
        try {
            read(address);
        } catch (const EftError& e) {
            return e.description();
        }
        return {};
    }

    // Every visible row in visiting order, each field as text or "-" for no value.
    std::vector<std::string> dump() {
        std::vector<std::string> rows;
        if (sweep.rowCount() == 0) return rows;
        for (sweep.moveFirst(); !sweep.eof(); sweep.moveNext()) {
            std::string row;
            for (int f = 0; f < sweep_field::Count; ++f) row += sweep.text(f).value_or("-") + "|";
            rows.push_back(row);
        }
        return rows;
    }

    std::vector<int> centers() {
        std::vector<int> out;
        if (sweep.rowCount() == 0) return out;
        for (sweep.moveFirst(); !sweep.eof(); sweep.moveNext()) out.push_back(sweep.integer("CenterID").value_or(-1));
        return out;
    }

    bool allEmpty() {
        for (int f = 0; f < sweep_field::Count; ++f)
            if (hasValue(sweep.value(f))) return false;
        return true;
    }

    CannedServer server;
    HttpLimits limits;
    Table sweep = makeTable("rsSweep", sweepFields());

private:
    int served_ = 0;
};

std::string rows(const std::string& inner) { return "<?xml version=\"1.0\"?><rows>" + inner + "</rows>"; }

TEST_P(XmlReaderTest, ReadsRowsAndConvertsTheirValues) {
    const std::string address = serve(rows(
        "<row><MemberID>1001</MemberID><MemberName>Ann &amp; Bob</MemberName><CenterID>0012</CenterID>"
        "<CenterName>Caf&#233;</CenterName><ConversionRate>0.75</ConversionRate><Royalty>-25.5</Royalty>"
        "<SalesTaxExempt>true</SalesTaxExempt><Source>2</Source><SweepDate>2011-03-04T10:20:30</SweepDate>"
        "<ContractSigned>3/4/2011 1:05 PM</ContractSigned><SubscriptionMembership>-1</SubscriptionMembership>"
        "<DownPayment>FALSE</DownPayment><TrustID>57</TrustID>"
        "<SourceDescription><![CDATA[<Card> & cash]]></SourceDescription></row>"
        "<row><MemberID>1002</MemberID><CenterID>7</CenterID></row>"));
    read(address);

    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.base() + server.requests()[0].target, address);

    ASSERT_TRUE(sweep.isOpen());
    ASSERT_EQ(sweep.rowCount(), 2u);
    EXPECT_EQ(sweep.integer("MemberID"), 1002) << "the last row appended is current";
    sweep.moveFirst();  // sorted by CenterID: 7 comes first
    EXPECT_EQ(sweep.integer("MemberID"), 1002);
    EXPECT_FALSE(sweep.text("MemberName").has_value());
    sweep.moveNext();
    EXPECT_EQ(sweep.integer("MemberID"), 1001);
    EXPECT_EQ(sweep.text("MemberName"), "Ann & Bob");
    EXPECT_EQ(sweep.integer("CenterID"), 12);
    EXPECT_EQ(sweep.text("CenterName"), "Caf\xC3\xA9");
    EXPECT_EQ(sweep.single("ConversionRate"), 0.75f);
    EXPECT_EQ(sweep.single("Royalty"), -25.5f);
    EXPECT_EQ(sweep.boolean("SalesTaxExempt"), true);
    EXPECT_EQ(sweep.integer("Source"), 2);
    EXPECT_EQ(sweep.timestamp("SweepDate"), Timestamp::from(Date{2011, 3, 4}, 10, 20, 30));
    EXPECT_EQ(sweep.timestamp("ContractSigned"), Timestamp::from(Date{2011, 3, 4}, 13, 5, 0));
    EXPECT_EQ(sweep.boolean("SubscriptionMembership"), true);
    EXPECT_EQ(sweep.boolean("DownPayment"), false);
    EXPECT_EQ(sweep.integer("TrustID"), 57);
    EXPECT_EQ(sweep.text("SourceDescription"), "<Card> & cash");
    EXPECT_FALSE(sweep.single("NAC").has_value());
    sweep.moveNext();
    EXPECT_TRUE(sweep.eof());
}

TEST_P(XmlReaderTest, IndentationAndLineBreaksChangeNothing) {
    readBody(rows("<row><CenterID>15</CenterID><MemberID>2</MemberID><MemberName>Bo</MemberName></row>"
                  "<row><CenterID>12</CenterID><MemberID>1</MemberID><Royalty>1.5</Royalty></row>"));
    const auto compact = dump();
    ASSERT_EQ(compact.size(), 2u);
    readBody("<?xml version=\"1.0\"?>\r\n<rows>\r\n"
             "\t<row>\r\n\t\t<CenterID>15</CenterID>\r\n\t\t<MemberID>2</MemberID>\r\n"
             "\t\t<MemberName>Bo</MemberName>\r\n\t</row>\r\n"
             "  <row>\n    <CenterID>12</CenterID>\n\n    <MemberID>1</MemberID>\n"
             "    <Royalty>1.5</Royalty>\n  </row>\n\n</rows>\n");
    EXPECT_EQ(dump(), compact);
}

// Elements and text under the root are records; a comment or instruction there is not (it
// would make an all-empty row that sorts first and ends the center list at once).
TEST_P(XmlReaderTest, ElementAndTextNodesUnderTheRootAreRecords) {
    readBody(rows("<!-- a note --><row><CenterID>5</CenterID></row><?marker x?>stray text<row/>"
                  "<row>   </row><![CDATA[]]>"));
    ASSERT_EQ(sweep.rowCount(), 5u);
    int empty = 0;
    for (sweep.moveFirst(); !sweep.eof(); sweep.moveNext()) empty += allEmpty();
    EXPECT_EQ(empty, 4);
    EXPECT_EQ(centers(), (std::vector<int>{-1, -1, -1, -1, 5}));
}

// One record read, then the text of some of its fields ("-" for no value).
TEST_P(XmlReaderTest, FieldValuesOfOneRecord) {
    using Fields = std::vector<std::pair<const char*, std::string>>;
    const auto in = [](const std::string& encoding, const std::string& name) {
        return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><rows><row><CenterName>" + name +
               "</CenterName></row></rows>";
    };
    const auto member = [](const std::string& inner) {
        return rows("<row><CenterID>1</CenterID><MemberName>" + inner + "</MemberName></row>");
    };
    const struct {
        const char* name;
        std::string body;
        Fields fields;
    } cases[] = {
        {"attributes are ignored",
         "<rows CenterID=\"9\"><row CenterID=\"7\" MemberID=\"3\"><CenterID kind=\"x\" MemberID=\"4\">5"
         "</CenterID><MemberName Bogus=\"1\">Al</MemberName></row></rows>",
         {{"CenterID", "5"}, {"MemberID", "-"}, {"MemberName", "Al"}}},
        {"empty field elements leave the field empty",
         rows("<row><CenterID>3</CenterID><MemberName/><CenterName></CenterName>"
              "<SourceDescription><![CDATA[]]></SourceDescription><Royalty><x/></Royalty>"
              "<NAC>   </NAC><SweepDate><!----></SweepDate><TrustID><a></a><b/></TrustID></row>"),
         {{"CenterID", "3"}, {"MemberName", "-"}, {"CenterName", "-"}, {"SourceDescription", "-"}, {"Royalty", "-"},
          {"NAC", "-"}, {"SweepDate", "-"}, {"TrustID", "-"}}},
        {"zero is a value",
         rows("<row><CenterID>0</CenterID><Royalty>0</Royalty><SalesTaxExempt>0</SalesTaxExempt>"
              "<MemberName>0</MemberName><Type>0</Type></row>"),
         {{"CenterID", "0"}, {"Royalty", "0"}, {"SalesTaxExempt", "False"}, {"MemberName", "0"}, {"Type", "0"}}},
        {"element names ignore letter case",
         rows("<row><centerid>12</centerid><MEMBERID>3</MEMBERID><gstshow>1.5</gstshow><Centername>Oak</Centername></row>"),
         {{"CenterID", "12"}, {"MemberID", "3"}, {"GSTshow", "1.5"}, {"CenterName", "Oak"}}},
        // Declared code pages become UTF-8.
        {"windows-1252", in("windows-1252", "Caf\xE9 \x80 \x93"), {{"CenterName", "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9C"}}},
        {"Windows-1252", in("Windows-1252", "\x9F"), {{"CenterName", "\xC5\xB8"}}},
        {"ISO-8859-1", in("ISO-8859-1", "Caf\xE9"), {{"CenterName", "Caf\xC3\xA9"}}},
        {"UTF-8", in("UTF-8", "Caf\xC3\xA9"), {{"CenterName", "Caf\xC3\xA9"}}},
        // Several values for one field: the last one read stands.
        {"text after an element", member("A<b>B</b>C"), {{"MemberName", "C"}}},
        {"an element last", member("A<b>B</b>"), {{"MemberName", "B"}}},
        {"inside an element", member("<x>inner</x>"), {{"MemberName", "inner"}}},
        {"joined across a nested element", member("<x><y>deep</y>er</x>"), {{"MemberName", "deeper"}}},
        {"a comment last", member("kept<!-- note -->"), {{"MemberName", " note "}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        readBody(c.body);
        ASSERT_EQ(sweep.rowCount(), 1u);
        sweep.moveFirst();
        for (const auto& [field, text] : c.fields) EXPECT_EQ(sweep.text(field).value_or("-"), text) << field;
    }
}

// A fault in a record ends the read, naming the address, the record and what is wrong; the
// records before it stay, and so does the one being filled. A value that does not convert is
// left out and its record read to its end, so the box can name the row; a fault in the record's
// shape stops the read where it is. A field named twice would let the later value win unseen (a
// row moving to another center under the first center's name); an amount that cannot be shown
// to the cent is refused where it is read.
TEST_P(XmlReaderTest, AFaultInARecordEndsTheReadKeepingWhatCameBefore) {
    const struct {
        const char* name;
        const char* fault;                  // in the third record, after its MemberName
        std::vector<std::string> mentions;  // besides the address and "record 3"
        bool readToItsEnd = true;           // the SweepSequence after the fault is read
    } cases[] = {
        {"unknown element", "<Bogus>x</Bogus>", {"Bogus"}, false},
        {"CenterID", "<CenterID>12x</CenterID>", {"CenterID", "12x"}},
        {"MemberID", "<MemberID>1.5</MemberID>", {"MemberID", "1.5"}},
        {"Source", "<Source>40000</Source>", {"Source", "40000"}},
        {"Royalty", "<Royalty>1,5</Royalty>", {"Royalty", "1,5"}},
        {"ConversionRate", "<ConversionRate>abc</ConversionRate>", {"ConversionRate", "abc"}},
        {"SalesTaxExempt", "<SalesTaxExempt>yes</SalesTaxExempt>", {"SalesTaxExempt", "yes"}},
        {"SweepDate", "<SweepDate>2011-02-30</SweepDate>", {"SweepDate", "2011-02-30"}},
        {"ContractSigned", "<ContractSigned>soon</ContractSigned>", {"ContractSigned", "soon"}},
        {"TrustID", "<TrustID>99999999999</TrustID>", {"TrustID", "99999999999"}},
        {"Royalty too large to show", "<Royalty>1e17</Royalty>", {"Royalty", "1e17"}},
        {"NAC infinite", "<NAC>inf</NAC>", {"NAC", "inf"}},
        {"GST not a number", "<GST>nan</GST>", {"GST", "nan"}},
        {"INRowTotal too large to show", "<INRowTotal>-1000000000000000</INRowTotal>", {"INRowTotal", "-1000000000000000"}},
        {"OUTRowTotal beyond a single", "<OUTRowTotal>1e39</OUTRowTotal>", {"OUTRowTotal", "1e39"}},
        {"NMCPayment not held to the cent", "<NMCPayment>1234567.89</NMCPayment>", {"NMCPayment", "1234567.89"}},
        {"CenterID twice", "<CenterID>7</CenterID><TrustID>2</TrustID><CenterID>9</CenterID>", {"record 3: ", " appears twice"}, false},
        {"MemberName twice", "<MemberName>second</MemberName>", {"record 3: ", " appears twice"}, false},
        {"MemberName twice, then empty", "<MemberName/>", {"record 3: ", " appears twice"}, false},
        {"TrustID twice in other letter case", "<TrustID>5</TrustID><trustid>6</trustid>", {"record 3: ", " appears twice"}, false},
        {"SweepDate empty, then given", "<SweepDate/><SweepDate>2011-03-04</SweepDate>", {"record 3: ", " appears twice"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string address =
            serve(rows(std::string("<row><CenterID>1</CenterID></row><row><CenterID>2</CenterID></row>"
                                   "<row><MemberName>M</MemberName>") +
                       c.fault + "<SweepSequence>30</SweepSequence></row><row><CenterID>4</CenterID></row>"));
        const std::string why = failureOf(address);
        ASSERT_FALSE(why.empty()) << "the read did not fail";
        std::vector<std::string> mentions = c.mentions;
        mentions.insert(mentions.end(), {address, "record 3"});
        for (const std::string& part : mentions) EXPECT_NE(why.find(part), std::string::npos) << "\"" << part << "\" missing from: " << why;
        EXPECT_EQ(sweep.rowCount(), 3u) << why;
        sweep.moveFirst();
        while (!sweep.eof() && sweep.text("MemberName") != "M") sweep.moveNext();
        ASSERT_FALSE(sweep.eof()) << why;
        if (c.readToItsEnd) {
            EXPECT_EQ(sweep.integer("SweepSequence"), 30) << why;
            EXPECT_FALSE(hasValue(sweep.value(c.mentions[0]))) << why;
        } else {
            EXPECT_FALSE(sweep.integer("SweepSequence").has_value()) << why;
        }
    }
    // The same field in the next record is no repetition, nor is a second read of the reply.
    const std::string fine = serve(rows("<row><CenterID>1</CenterID></row><row><CenterID>2</CenterID></row>"));
    EXPECT_EQ(failureOf(fine), "");
    EXPECT_EQ(failureOf(fine), "");
    EXPECT_EQ(centers(), (std::vector<int>{1, 2}));
}

// The reply is read as it arrives: the records before the fault stay.
TEST_P(XmlReaderTest, AReplyThatIsNotWholeXmlFails) {
    enum Served { Whole, CutMidway, ServerDown };
    const std::string deadBase = closedPortBase();
    const struct {
        const char* name;
        std::string body;
        int status;
        std::size_t rowsKept;
        Served served = Whole;
    } cases[] = {
        {"HTML error page",
         "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>500 Internal Server Error</title></head>"
         "<body><h1>Internal Server Error</h1><p>The server met an error.<br></p></body></html>",
         500, 0},
        {"empty body", "", 200, 0},
        {"blank body", "  \r\n\t ", 200, 0},
        {"plain text", "Microsoft VBScript runtime error '800a000d'", 200, 0},
        {"truncated document", "<rows><row><CenterID>1</CenterID></row>", 200, 1},
        {"mismatched tags", "<rows><row></rows></row>", 200, 1},
        {"declaration only", "<?xml version=\"1.0\"?>", 200, 0},
        {"comment only", "<!-- nothing -->", 200, 0},
        {"two document elements", "<rows><row><CenterID>1</CenterID></row></rows><rows/>", 200, 1},
        {"an error written after the rows",
         "<rows><row><CenterID>1</CenterID></row></rows>\nMicrosoft VBScript runtime error '800a0009'", 200, 1},
        {"text before the rows", "Warning<rows><row><CenterID>1</CenterID></row></rows>", 200, 0},
        {"CDATA after the rows", "<rows/><![CDATA[x]]>", 200, 0},
        {"undeclared code page", "<rows><row><CenterName>Caf\xE9</CenterName></row></rows>", 200, 1},
        {"half a body", rows("<row><CenterID>1</CenterID></row><row><CenterID>2</CenterID></row>"), 200, 1, CutMidway},
        {"a server that is down", "", 0, 0, ServerDown},
    };
    for (const auto& c : cases) {
        readBody(rows("<row><CenterID>8</CenterID></row>"));  // rows of an earlier reply
        const std::string address = c.served == ServerDown ? deadBase + "EFTMember.asp?countryID=2&Load=1"
                                                           : serve(c.body, c.status, c.served == CutMidway);
        const std::string why = failureOf(address);
        ASSERT_FALSE(why.empty()) << c.name << " was read as XML";
        EXPECT_NE(why.find(address), std::string::npos) << c.name << ": " << why;
        // The table was emptied before the failure and stays open.
        EXPECT_TRUE(sweep.isOpen()) << c.name;
        EXPECT_EQ(sweep.rowCount(), c.rowsKept) << c.name;
    }
}

TEST_P(XmlReaderTest, ReplyLargerThanTheCapFails) {
    const std::string body = rows("<row><CenterID>1</CenterID><MemberName>" + std::string(900, 'x') +
                                  "</MemberName></row>");
    limits.maxReplyBytes = body.size() - 1;
    const std::string address = serve(body);
    const std::string why = failureOf(address);
    ASSERT_FALSE(why.empty());
    EXPECT_NE(why.find(address), std::string::npos) << why;
    EXPECT_NE(why.find(std::to_string(limits.maxReplyBytes) + " bytes"), std::string::npos) << why;
    EXPECT_EQ(sweep.rowCount(), 0u);

    // A reply of exactly the cap is read.
    limits.maxReplyBytes = body.size();
    read(address);
    EXPECT_EQ(centers(), (std::vector<int>{1}));
}

// A filter left on the table must not hide old rows from the emptying.
TEST_P(XmlReaderTest, RowsOfTwoRepliesNeverMix) {
    readBody(rows("<row><CenterID>12</CenterID></row><row><CenterID>15</CenterID></row>"
                  "<row><CenterID>7</CenterID></row><row><CenterID>12</CenterID></row>"));
    sweep.setFilter(" CenterID = 0012");
    ASSERT_EQ(sweep.rowCount(), 2u);
    readBody(rows("<row><CenterID>31</CenterID></row><row><CenterID>30</CenterID></row>"));
    sweep.setFilter("");
    EXPECT_EQ(centers(), (std::vector<int>{30, 31}));

    // The same when the second read fails.
    sweep.setFilter("CenterID = 30");
    read(serve(rows(""), 200));
    sweep.setFilter("");
    EXPECT_EQ(sweep.rowCount(), 0u);
    readBody(rows("<row><CenterID>5</CenterID></row>"));
    sweep.setFilter("CenterID = 99");
    EXPECT_FALSE(failureOf(serve("not xml")).empty());
    sweep.setFilter("");
    EXPECT_EQ(sweep.rowCount(), 0u);
}

TEST_P(XmlReaderTest, ReplyWithoutRecordsLeavesTheTableOpenEmptyAndSorted) {
    readBody(rows("<row><CenterID>8</CenterID></row>"));
    readBody("<rows/>");
    EXPECT_TRUE(sweep.isOpen());
    EXPECT_EQ(sweep.rowCount(), 0u);
    for (int c : {9, 3, 6}) {
        sweep.addRow();
        sweep.setFromText(sweep_field::CenterID, std::to_string(c));
    }
    EXPECT_EQ(centers(), (std::vector<int>{3, 6, 9}));
}

// A reply that declares a document type is refused before anything in it is read: no entity is
// expanded, nothing is read from a file or fetched from another address, and nested entities
// cannot blow up.
TEST_P(XmlReaderTest, DeclaredDocumentTypesAreRefused) {
    const std::string head = "<?xml version=\"1.0\"?>\n<!DOCTYPE rows ";
    const std::string bodies[] = {
        head + "[<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
               "<rows><row><CenterID>1</CenterID><MemberName>&x;</MemberName></row></rows>",
        head + "[<!ENTITY x SYSTEM \"" + server.base() + "leak\">]>\n"
               "<rows><row><CenterID>1</CenterID><MemberName>&x;</MemberName></row></rows>",
        head + "[<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
               "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>\n"
               "<rows><row><CenterID>1</CenterID><MemberName>&c;</MemberName></row></rows>",
        head + "SYSTEM \"" + server.base() + "leak.dtd\">\n"
               "<rows><row><CenterID>1</CenterID><MemberName>plain</MemberName></row></rows>",
    };
    for (const auto& body : bodies) {
        const std::string address = serve(body);
        const std::string why = failureOf(address);
        EXPECT_NE(why.find(address), std::string::npos) << why;
        EXPECT_NE(why.find("document type"), std::string::npos) << why;
        EXPECT_EQ(sweep.rowCount(), 0u) << why;
    }
    for (const auto& r : server.requests()) EXPECT_EQ(r.target.find("leak"), std::string::npos) << r.target;
}

// A record is limited to 32767 child nodes, the range of the field position counter.
TEST(XmlReaderBuffer, RecordWithTooManyChildNodes) {
    Table sweep = makeTable("rsSweep", sweepFields());
    for (int children : {32767, 32768}) {
        std::string body = "<rows><row><CenterID>1</CenterID>";
        for (int i = 1; i < children; ++i) body += "<!---->";
        body += "</row><row><CenterID>2</CenterID></row></rows>";
        if (children <= 32767) {
            readXmlRowsFromBuffer(sweep, body, "CenterID", "memory");
            EXPECT_EQ(sweep.rowCount(), 2u);
        } else {
            try {
                readXmlRowsFromBuffer(sweep, body, "CenterID", "memory");
                ADD_FAILURE() << "a record of " << children << " child nodes was read";
            } catch (const EftError& e) {
                EXPECT_NE(std::string(e.description()).find("memory"), std::string::npos) << e.description();
            }
            EXPECT_EQ(sweep.rowCount(), 1u);  // the record being filled stays
        }
    }
}

TEST_P(XmlReaderTest, LoadDocumentText) {
    server.on("a", {"<?xml version=\"1.0\"?><report>US file: 3 rows &amp; CA file: 0 rows</report>"});
    server.on("b", {"<report><us>US file: 3 rows</us><!-- skip --><ca><![CDATA[CA <file>: 0 rows]]></ca></report>"});
    server.on("c", {"<html><head><meta charset=\"utf-8\"><title>Error</title></head><body>Oops<br></body></html>", 500});
    server.on("d", {""});
    server.on("e", {"<report/>"});
    server.on("f", {"<report>done</report>\n<report>again</report>"});
    server.on("g", {"<!DOCTYPE r><r>text</r>"});
    EXPECT_EQ(loadDocumentText(server.base() + "a", blockingFetch(limits), nullptr, {}, GetParam()), "US file: 3 rows & CA file: 0 rows");
    const std::string b = loadDocumentText(server.base() + "b", blockingFetch(limits), nullptr, {}, GetParam());
    EXPECT_NE(b.find("US file: 3 rows"), std::string::npos) << b;
    EXPECT_NE(b.find("CA <file>: 0 rows"), std::string::npos) << b;
    EXPECT_EQ(b.find("skip"), std::string::npos) << b;
    EXPECT_EQ(loadDocumentText(server.base() + "c", blockingFetch(limits), nullptr, {}, GetParam()), "");
    EXPECT_EQ(loadDocumentText(server.base() + "d", blockingFetch(limits), nullptr, {}, GetParam()), "");
    EXPECT_EQ(loadDocumentText(server.base() + "e", blockingFetch(limits), nullptr, {}, GetParam()), "");
    EXPECT_EQ(loadDocumentText(server.base() + "f", blockingFetch(limits), nullptr, {}, GetParam()), "");
    EXPECT_EQ(loadDocumentText(server.base() + "g", blockingFetch(limits), nullptr, {}, GetParam()), "");
    EXPECT_EQ(loadDocumentText(server.base() + "missing", blockingFetch(limits), nullptr, {}, GetParam()), "");  // 404 "no canned reply"

    EXPECT_EQ(loadDocumentText(closedPortBase() + "a", blockingFetch(limits), nullptr, {}, GetParam()), "");
}

INSTANTIATE_TEST_SUITE_P(BothParsers, XmlReaderTest, ::testing::Values(XmlPath::FastFirst, XmlPath::ExpatOnly),
                         [](const auto& info) { return info.param == XmlPath::FastFirst ? "fastPath" : "expatOnly"; });

}  // namespace
}  // namespace eft
