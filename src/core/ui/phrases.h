#pragma once
// The control's own words. The core never translates: the driver, the tests and the English
// control read the texts exactly as they are written here. Each text the operator reads is
// marked with EFT_TR_NOOP where it is defined, so the translation tools find it; a view
// translates as it renders. A text with blanks to fill names them %1, %2, ... and is listed
// in fillablePhrases(), so a view can find the blanks again in a filled text.
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// Marks a text for the translation tools and leaves it as it is.
#define EFT_TR_NOOP(context, text) text

namespace eft::ui {

// The context every text of the core is translated under.
inline constexpr std::string_view kTextContext = "EFTMemb";

namespace phrase {
inline constexpr std::string_view kVersion = EFT_TR_NOOP("EFTMemb", "Version: %1");
inline constexpr std::string_view kEligible = EFT_TR_NOOP("EFTMemb", "Amount Eligible (Total): $ %1");
inline constexpr std::string_view kSelected = EFT_TR_NOOP("EFTMemb", "Amount Selected (Total): $ %1");
inline constexpr std::string_view kSweepTab = EFT_TR_NOOP("EFTMemb", "Membership Sweep (%1)");
inline constexpr std::string_view kBatchEntry = EFT_TR_NOOP("EFTMemb", " Batch # : %1     Exported : %2");
inline constexpr std::string_view kBatchEntryOf = EFT_TR_NOOP("EFTMemb", " Batch # : %1     Exported : %2     %3");
inline constexpr std::string_view kBatchPrompt = EFT_TR_NOOP("EFTMemb", " Please Select Batch Number : ");
inline constexpr std::string_view kSweepOf = EFT_TR_NOOP("EFTMemb", "the %1 sweep");
inline constexpr std::string_view kLoading = EFT_TR_NOOP("EFTMemb", "Loading %1");
inline constexpr std::string_view kCouldNotLoad = EFT_TR_NOOP("EFTMemb", "%1 could not be loaded: %2");
inline constexpr std::string_view kSweepNotLoaded = EFT_TR_NOOP("EFTMemb", "The %1 sweep could not be loaded: %2");
inline constexpr std::string_view kReplyUnreadWhy =
    EFT_TR_NOOP("EFTMemb", "the server's reply could not be read (%1). Tell the server's administrator.");
inline constexpr std::string_view kCentersIncomplete = EFT_TR_NOOP("EFTMemb", "The list of centers is not complete: %1.");
inline constexpr std::string_view kMembersIncomplete = EFT_TR_NOOP("EFTMemb", "The member list is not complete: %1.");
inline constexpr std::string_view kNothingSaved = EFT_TR_NOOP("EFTMemb", "Nothing was saved: %1.");
inline constexpr std::string_view kExportFailed = EFT_TR_NOOP("EFTMemb", "The batch export failed: %1");
// A center of the batch the bank returned: %1 the return code, %2 its meaning, %3 the return date.
inline constexpr std::string_view kReturnedCenter =
    EFT_TR_NOOP("EFTMemb", "Returned by the bank: %1 %2, on %3. It is recorded as failed and cannot be ticked.");
inline constexpr std::string_view kBatchListUnreadWhy = EFT_TR_NOOP("EFTMemb", "The batch list could not be read: %1");
inline constexpr std::string_view kBatchNotListedWhy = EFT_TR_NOOP("EFTMemb", "Batch %1 could not be listed: %2");
// %1 the server's own reason, as it came.
inline constexpr std::string_view kExportRefused = EFT_TR_NOOP("EFTMemb", "The server refused the export: %1");
inline constexpr std::string_view kExportRefusedBare = EFT_TR_NOOP("EFTMemb", "The server refused the export.");
inline constexpr std::string_view kSelectedNotShown = EFT_TR_NOOP("EFTMemb", "The selected total cannot be shown: %1.");
inline constexpr std::string_view kAmountTooLarge = EFT_TR_NOOP("EFTMemb", "the amount %1 is too large to be shown");
inline constexpr std::string_view kTotalTooLarge =
    EFT_TR_NOOP("EFTMemb", "the total of %1 cents is too large to be shown");
inline constexpr std::string_view kSaveTooLarge =
    EFT_TR_NOOP("EFTMemb", "Nothing was saved: one save carries at most %1 rows, and this one has %2. Choose fewer "
                           "members and save again.");
// The end of a box's text cut short.
inline constexpr std::string_view kMoreLine = EFT_TR_NOOP("EFTMemb", "… (%1 more line)");
inline constexpr std::string_view kMoreLines = EFT_TR_NOOP("EFTMemb", "… (%1 more lines)");

inline constexpr std::string_view kValidationTitle = EFT_TR_NOOP("EFTMemb", "Information Validation");
inline constexpr std::string_view kBatchTitle = EFT_TR_NOOP("EFTMemb", "EFT Batch Generation");
inline constexpr std::string_view kNoCenterTicked =
    EFT_TR_NOOP("EFTMemb", "At least one center must be selected in order to see the detail entries.");
inline constexpr std::string_view kNoMemberTicked =
    EFT_TR_NOOP("EFTMemb", "At least one member must be selected in order to save the detail entries.");
inline constexpr std::string_view kAskSave = EFT_TR_NOOP("EFTMemb", "Do you want to save ? ");
inline constexpr std::string_view kAskExport =
    EFT_TR_NOOP("EFTMemb", "Do you want to export eligible items to two ASCII files (USA/Canada) ? ");
inline constexpr std::string_view kAskCommit =
    EFT_TR_NOOP("EFTMemb", "Do you want to set selected items as \"Cleared\" and unselected as Failed ? ");
inline constexpr std::string_view kNoBatchChosen =
    EFT_TR_NOOP("EFTMemb", "No batch is chosen. Choose a batch number in the list first, then tick the centers that "
                           "cleared.");
inline constexpr std::string_view kReadingBatchList = EFT_TR_NOOP("EFTMemb", "Reading the batch list");
inline constexpr std::string_view kExporting = EFT_TR_NOOP("EFTMemb", "Exporting the batch");
inline constexpr std::string_view kSaving = EFT_TR_NOOP("EFTMemb", "Saving the chosen rows");
inline constexpr std::string_view kCommitting = EFT_TR_NOOP("EFTMemb", "Committing the batch");
inline constexpr std::string_view kSending = EFT_TR_NOOP("EFTMemb", "Sending to the server");
inline constexpr std::string_view kReplyUnread =
    EFT_TR_NOOP("EFTMemb", "the server's reply could not be read. Tell the server's administrator.");
inline constexpr std::string_view kReportUnread =
    EFT_TR_NOOP("EFTMemb", "the server's report could not be read. Tell the server's administrator.");
inline constexpr std::string_view kReadingServer = EFT_TR_NOOP("EFTMemb", "Reading from the server");

// The technical details behind a box: the reader's and the transfer's own words around what
// comes from outside (libcurl's error text, expat's, the server's), which stays as it came.
inline constexpr std::string_view kReadingWhere = EFT_TR_NOOP("EFTMemb", "Reading %1: %2");
inline constexpr std::string_view kPageNotFetched = EFT_TR_NOOP("EFTMemb", "the page could not be fetched (%1)");
inline constexpr std::string_view kWhyAndStatus = EFT_TR_NOOP("EFTMemb", "%1; the server answered HTTP %2");
inline constexpr std::string_view kAnsweredStatus = EFT_TR_NOOP("EFTMemb", "the server answered HTTP %1");
inline constexpr std::string_view kRecordWhy = EFT_TR_NOOP("EFTMemb", "record %1: %2");
inline constexpr std::string_view kRecordTooLong = EFT_TR_NOOP("EFTMemb", "record %1 has more than %2 child nodes");
inline constexpr std::string_view kNotAField = EFT_TR_NOOP("EFTMemb", "the element <%1> is not a field of %2");
inline constexpr std::string_view kWebPage =
    EFT_TR_NOOP("EFTMemb", "the reply is a web page, not a report: its document element is <%1>");
inline constexpr std::string_view kWebPageXhtml =
    EFT_TR_NOOP("EFTMemb", "the reply is a web page, not a report: its document element is <%1> in the XHTML namespace");
inline constexpr std::string_view kDoctype =
    EFT_TR_NOOP("EFTMemb", "the reply declares a document type (<!DOCTYPE>), which a reply may not carry");
inline constexpr std::string_view kTooDeep = EFT_TR_NOOP("EFTMemb", "the reply nests elements more than %1 levels deep");
inline constexpr std::string_view kNoDocumentElement = EFT_TR_NOOP("EFTMemb", "the reply has no document element");
inline constexpr std::string_view kEmptyReply = EFT_TR_NOOP("EFTMemb", "the reply is empty");
inline constexpr std::string_view kOutsideDocument =
    EFT_TR_NOOP("EFTMemb", "the reply is not XML (text or another element outside its document element)");
inline constexpr std::string_view kDocumentUnclosed =
    EFT_TR_NOOP("EFTMemb", "the reply ends before its document element is closed");
inline constexpr std::string_view kNotXmlAt = EFT_TR_NOOP("EFTMemb", "the reply is not XML (%1 at byte %2)");
inline constexpr std::string_view kParserRefused = EFT_TR_NOOP("EFTMemb", "the reply could not be handed to the XML parser");
inline constexpr std::string_view kNoClient = EFT_TR_NOOP("EFTMemb", "the HTTP client could not be created");
inline constexpr std::string_view kNotStarted = EFT_TR_NOOP("EFTMemb", "the request could not be started");
inline constexpr std::string_view kTookLonger = EFT_TR_NOOP("EFTMemb", "the whole transfer took longer than %1 ms");
inline constexpr std::string_view kEncoded = EFT_TR_NOOP("EFTMemb", "the reply is encoded (%1), which was not asked for");
inline constexpr std::string_view kReaderStopped = EFT_TR_NOOP("EFTMemb", "the reader stopped the transfer");
inline constexpr std::string_view kRedirectedElsewhere =
    EFT_TR_NOOP("EFTMemb", "the server redirected to %1, another server, which is not followed");
inline constexpr std::string_view kRedirectedTooOften = EFT_TR_NOOP("EFTMemb", "the server redirected more than %1 times");
inline constexpr std::string_view kAbandoned = EFT_TR_NOOP("EFTMemb", "the request was abandoned");
inline constexpr std::string_view kTooLarge = EFT_TR_NOOP("EFTMemb", "the reply is larger than %1 bytes");
inline constexpr std::string_view kNothingFor = EFT_TR_NOOP("EFTMemb", "nothing was received for %1 s");
// A reply's value its field cannot take: %1 the table, %2 the value as it came, %3 the field.
// One sentence for each type, so a translation can give each its own grammar.
inline constexpr std::string_view kNotValidInt32 =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 is not a valid 32-bit integer for the field %3");
inline constexpr std::string_view kNotValidInt16 =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 is not a valid 16-bit integer for the field %3");
inline constexpr std::string_view kNotValidSingle =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 is not a valid single for the field %3");
inline constexpr std::string_view kNotValidBoolean =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 is not a valid Boolean for the field %3");
inline constexpr std::string_view kNotValidTimestamp =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 is not a valid timestamp for the field %3");
// %4 why the amount's cents would change.
inline constexpr std::string_view kNotHeldToCent =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 of the field %3 cannot be held to the cent (%4)");
inline constexpr std::string_view kBeyondSingle = EFT_TR_NOOP("EFTMemb", "it is beyond single precision");
inline constexpr std::string_view kNotFinite = EFT_TR_NOOP("EFTMemb", "it is not a finite number");
inline constexpr std::string_view kTooLargeToShow = EFT_TR_NOOP("EFTMemb", "it is too large to be shown");
inline constexpr std::string_view kSingleReadsAs = EFT_TR_NOOP("EFTMemb", "single precision reads it as %1");
inline constexpr std::string_view kCentsNotHeldFrom =
    EFT_TR_NOOP("EFTMemb", "from %1 on, single precision does not hold every cent");
inline constexpr std::string_view kValueTooLong =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 is longer than %3 bytes, too long for the field %4");
inline constexpr std::string_view kFieldTwice = EFT_TR_NOOP("EFTMemb", "%1: the field %2 appears twice");
// A row by the ids it has, joined by ", ": "the sweep row of member 1001, center 0012".
inline constexpr std::string_view kSweepRow = EFT_TR_NOOP("EFTMemb", "the sweep row of %1");
inline constexpr std::string_view kBatchItem = EFT_TR_NOOP("EFTMemb", "the batch item of %1");
inline constexpr std::string_view kMemberId = EFT_TR_NOOP("EFTMemb", "member %1");
inline constexpr std::string_view kCenterId = EFT_TR_NOOP("EFTMemb", "center %1");
inline constexpr std::string_view kSourceId = EFT_TR_NOOP("EFTMemb", "source %1");
inline constexpr std::string_view kSequenceId = EFT_TR_NOOP("EFTMemb", "sweep sequence %1");
inline constexpr std::string_view kBatchId = EFT_TR_NOOP("EFTMemb", "batch %1");
// A row without any id, named by what it is alone.
inline constexpr std::string_view kSweepRowBare = EFT_TR_NOOP("EFTMemb", "the sweep row");
inline constexpr std::string_view kBatchItemBare = EFT_TR_NOOP("EFTMemb", "the batch item");
inline constexpr std::string_view kRowHasNo = EFT_TR_NOOP("EFTMemb", "%1 has no %2");
// A chosen row the save cannot send: %1 the row as the operator knows it (its ids of ours
// around a member's name, kept as it came), %2 the field it lacks.
inline constexpr std::string_view kChosenRowHasNo = EFT_TR_NOOP("EFTMemb", "the chosen row of %1 has no %2");
inline constexpr std::string_view kAmountOf = EFT_TR_NOOP("EFTMemb", "amount %1");
inline constexpr std::string_view kRowWithoutAny = EFT_TR_NOOP("EFTMemb", "a row without center, name, date or amount");
// A save record's row: %2 its center ("center 0012" or kNoCenter).
inline constexpr std::string_view kMemberOfCenter = EFT_TR_NOOP("EFTMemb", "member %1 of %2");
inline constexpr std::string_view kNoCenter = EFT_TR_NOOP("EFTMemb", "center (none)");
inline constexpr std::string_view kWithSequence = EFT_TR_NOOP("EFTMemb", "%1 (sweep sequence %2)");
inline constexpr std::string_view kCenterIdZero = EFT_TR_NOOP("EFTMemb", "%1 has the CenterID 0");
inline constexpr std::string_view kBatchZero = EFT_TR_NOOP("EFTMemb", "%1 has the batch number 0, which is no batch");
inline constexpr std::string_view kNoBatchControl = EFT_TR_NOOP("EFTMemb", "a batch item has no BatchControl");
inline constexpr std::string_view kSentWholeUnanswered =
    EFT_TR_NOOP("EFTMemb", "The request was sent whole; no answer was read.");

// A table used against its rules: only a fault of the program's own raises these, but they
// still reach a box. %1 the table's name; a field's name, a value and a type stay as they are.
inline constexpr std::string_view kFieldAfterOpen =
    EFT_TR_NOOP("EFTMemb", "%1: a field cannot be added once the table is open");
inline constexpr std::string_view kFieldDefinedTwice = EFT_TR_NOOP("EFTMemb", "%1: the field %2 is defined twice");
inline constexpr std::string_view kNoFieldNamed = EFT_TR_NOOP("EFTMemb", "%1: there is no field named %2");
inline constexpr std::string_view kTableAlreadyOpen = EFT_TR_NOOP("EFTMemb", "%1: the table is already open");
inline constexpr std::string_view kTableNotOpen = EFT_TR_NOOP("EFTMemb", "%1: the table is not open");
inline constexpr std::string_view kTooManyRows = EFT_TR_NOOP("EFTMemb", "%1: too many rows");
inline constexpr std::string_view kNoSuchField = EFT_TR_NOOP("EFTMemb", "%1: no such field");
inline constexpr std::string_view kBeforeFirstRow =
    EFT_TR_NOOP("EFTMemb", "%1: no current row: the cursor stands before the first row (BOF)");
inline constexpr std::string_view kAfterLastRow =
    EFT_TR_NOOP("EFTMemb", "%1: no current row: the cursor stands after the last row (EOF)");
inline constexpr std::string_view kRowDeleted = EFT_TR_NOOP("EFTMemb", "%1: the current row has been deleted");
inline constexpr std::string_view kCannotStore =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 cannot be stored in the %3 field %4");
inline constexpr std::string_view kTimestampCannotStore =
    EFT_TR_NOOP("EFTMemb", "%1: a timestamp cannot be stored in the %2 field %3");
inline constexpr std::string_view kNotWhole32 =
    EFT_TR_NOOP("EFTMemb", "%1: the field %2 does not hold a 32-bit whole number");
inline constexpr std::string_view kNotANumber = EFT_TR_NOOP("EFTMemb", "%1: the field %2 does not hold a number");
inline constexpr std::string_view kNotTrueFalse =
    EFT_TR_NOOP("EFTMemb", "%1: the field %2 does not hold true or false");
inline constexpr std::string_view kNotADate = EFT_TR_NOOP("EFTMemb", "%1: the field %2 does not hold a date");
inline constexpr std::string_view kTermWithoutEquals = EFT_TR_NOOP("EFTMemb", "%1: the filter term %2 has no \"=\"");
inline constexpr std::string_view kTermNotWhole =
    EFT_TR_NOOP("EFTMemb", "%1: the filter term %2 does not compare with a whole number");
inline constexpr std::string_view kValueNotComparable =
    EFT_TR_NOOP("EFTMemb", "%1: the value %2 of the field %3 cannot be compared with a whole number");
inline constexpr std::string_view kNoFirstRow =
    EFT_TR_NOOP("EFTMemb", "%1: no row is visible, so there is no first row to move to");
inline constexpr std::string_view kAlreadyAfterLast =
    EFT_TR_NOOP("EFTMemb", "%1: the cursor already stands after the last row (EOF)");

// Why a transfer failed, in the operator's words, for the box's plain line.
inline constexpr std::string_view kLoginRefused =
    EFT_TR_NOOP("EFTMemb", "the server refused the login (HTTP %1). Sign in with a valid user name and password.");
inline constexpr std::string_view kRefusedWait =
    EFT_TR_NOOP("EFTMemb", "the server refused the request (HTTP %1). Wait a minute and try again, or ask its administrator.");
inline constexpr std::string_view kNoSuchPage =
    EFT_TR_NOOP("EFTMemb", "the server has no such page (HTTP %1). Check the server address.");
inline constexpr std::string_view kServerFailed =
    EFT_TR_NOOP("EFTMemb", "the server failed (HTTP %1). Try again later, or tell its administrator.");
inline constexpr std::string_view kSentElsewhere =
    EFT_TR_NOOP("EFTMemb", "the server sent the request elsewhere (HTTP %1). Check the server address.");
inline constexpr std::string_view kRefused = EFT_TR_NOOP("EFTMemb", "the server refused the request (HTTP %1).");
inline constexpr std::string_view kTooLargeTell =
    EFT_TR_NOOP("EFTMemb", "the reply is larger than %1 bytes. Tell the server's administrator.");
inline constexpr std::string_view kStoppedSending = EFT_TR_NOOP("EFTMemb", "the server stopped sending. Try again later.");
inline constexpr std::string_view kBadAddress =
    EFT_TR_NOOP("EFTMemb", "the server address is not valid or not known. Check the server address.");
inline constexpr std::string_view kUnreachable = EFT_TR_NOOP(
    "EFTMemb", "the server could not be reached. Check that it is running and that the network is up, then try again.");
inline constexpr std::string_view kNoAnswerInTime = EFT_TR_NOOP("EFTMemb", "the server did not answer in time. Try again later.");
inline constexpr std::string_view kCertificate =
    EFT_TR_NOOP("EFTMemb", "the secure connection to the server failed (its certificate was not accepted). Check the "
                           "server address and the certificate authority.");
inline constexpr std::string_view kBrokeOff = EFT_TR_NOOP("EFTMemb", "the connection to the server broke off. Try again.");
inline constexpr std::string_view kTransferFailed = EFT_TR_NOOP("EFTMemb", "the transfer failed. Try again.");
inline constexpr std::string_view kEncodedUnreadable =
    EFT_TR_NOOP("EFTMemb", "the server's reply came encoded (%1), which was not asked for, and cannot be read. Tell "
                           "the server's administrator.");
// Why a post that reached the server may have been recorded all the same.
inline constexpr std::string_view kGatewayGaveUp =
    EFT_TR_NOOP("EFTMemb", "a gateway in front of it gave up waiting for its answer (HTTP %1)");
inline constexpr std::string_view kAnswerTooLarge =
    EFT_TR_NOOP("EFTMemb", "its answer was larger than %1 bytes and was not read");
inline constexpr std::string_view kNothingCame =
    EFT_TR_NOOP("EFTMemb", "nothing came from it for %1 while its answer was awaited");
inline constexpr std::string_view kAnswerLate = EFT_TR_NOOP("EFTMemb", "its answer did not come within %1");
inline constexpr std::string_view kBrokeOffUnanswered = EFT_TR_NOOP("EFTMemb", "the connection broke off before its answer came");
inline constexpr std::string_view kAnswerEncoded =
    EFT_TR_NOOP("EFTMemb", "its answer came encoded (%1), which was not asked for, and could not be read");
}  // namespace phrase

// What a post's failure box says, for each of the two posts and for any other: the words of
// one post stay together so a translation can match them.
struct PostWords {
    std::string_view what;           // "save"
    std::string_view refused;        // %1 the HTTP status, %2 the server's reason
    std::string_view notTaken;       // %1 why
    std::string_view failed;         // %1 why
    std::string_view mayBeRecorded;  // %1 why, then what to do
};
const PostWords& postWords(std::string_view what);

// Every phrase with blanks, longest first, for a view to find their blanks in a filled text.
std::span<const std::string_view> fillablePhrases();

// The blanks of `phrase` that hold data (a value as it came, a name of the server's, an
// address): a view shows them as they are, whatever its language. Bit 0 is %1.
unsigned dataBlanks(std::string_view phrase);

// The blanks of `phrase` that list ids of ours around data (a member's name): a view
// translates each id of ours and shows any other part as it is. Bit 0 is %1.
unsigned mixedBlanks(std::string_view phrase);

// `phrase` with %1, %2, ... replaced by `values` in order; other text is left as it is.
std::string fill(std::string_view phrase, std::initializer_list<std::string_view> values);

}  // namespace eft::ui
