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
