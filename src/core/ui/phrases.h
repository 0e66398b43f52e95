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
inline constexpr std::string_view kBatchNotListed = EFT_TR_NOOP("EFTMemb", "Batch %1 could not be listed");
// A center of the batch the bank returned: %1 the return code, %2 its meaning, %3 the return date.
inline constexpr std::string_view kReturnedCenter =
    EFT_TR_NOOP("EFTMemb", "Returned by the bank: %1 %2, on %3. It is recorded as failed and cannot be ticked.");
inline constexpr std::string_view kWhatAndWhy = EFT_TR_NOOP("EFTMemb", "%1: %2");

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
inline constexpr std::string_view kBatchListUnread = EFT_TR_NOOP("EFTMemb", "The batch list could not be read");
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
inline constexpr std::string_view kSentWholeUnanswered =
    EFT_TR_NOOP("EFTMemb", "The request was sent whole; no answer was read.");

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

// `phrase` with %1, %2, ... replaced by `values` in order; other text is left as it is.
std::string fill(std::string_view phrase, std::initializer_list<std::string_view> values);

}  // namespace eft::ui
