#include "ui/phrases.h"

#include <algorithm>
#include <vector>

namespace eft::ui {
namespace {

constexpr PostWords kPostWords[] = {
    {"save", EFT_TR_NOOP("EFTMemb", "The server refused the save (HTTP %1): %2"),
     EFT_TR_NOOP("EFTMemb", "The save was not taken: %1"), EFT_TR_NOOP("EFTMemb", "The save failed: %1"),
     EFT_TR_NOOP("EFTMemb", "The save may have been recorded: it reached the server, but %1. Load the sweep again "
                            "before you save again: rows that were saved are no longer in it.")},
    {"commit", EFT_TR_NOOP("EFTMemb", "The server refused the commit (HTTP %1): %2"),
     EFT_TR_NOOP("EFTMemb", "The commit was not taken: %1"), EFT_TR_NOOP("EFTMemb", "The commit failed: %1"),
     EFT_TR_NOOP("EFTMemb", "The commit may have been recorded: it reached the server, but %1. Load the batch list "
                            "again before you commit again: a batch whose statuses were recorded is no longer listed.")},
    {"request", EFT_TR_NOOP("EFTMemb", "The server refused the request (HTTP %1): %2"),
     EFT_TR_NOOP("EFTMemb", "The request was not taken: %1"), EFT_TR_NOOP("EFTMemb", "The request failed: %1"),
     EFT_TR_NOOP("EFTMemb", "The request may have been recorded: it reached the server, but %1. Load the data again "
                            "before you try again.")},
};

std::vector<std::string_view> collectFillable() {
    using namespace phrase;
    std::vector<std::string_view> all = {
        kVersion, kEligible, kSelected, kSweepTab, kBatchEntry, kBatchEntryOf, kSweepOf, kLoading, kCouldNotLoad,
        kSweepNotLoaded, kReplyUnreadWhy, kCentersIncomplete, kMembersIncomplete, kNothingSaved, kExportFailed,
        kBatchListUnreadWhy, kBatchNotListedWhy, kExportRefused, kSelectedNotShown, kSaveTooLarge, kAmountTooLarge,
        kTotalTooLarge, kMoreLine, kMoreLines, kReadingWhere, kPageNotFetched, kWhyAndStatus, kAnsweredStatus,
        kRecordWhy, kRecordTooLong, kNotAField, kWebPage, kWebPageXhtml, kTooDeep, kNotXmlAt, kTookLonger, kEncoded,
        kRedirectedElsewhere, kRedirectedTooOften, kTooLarge, kNothingFor, kNotValidInt32, kNotValidInt16,
        kNotValidSingle, kNotValidBoolean, kNotValidTimestamp, kNotHeldToCent, kSingleReadsAs, kCentsNotHeldFrom,
        kValueTooLong, kFieldTwice, kSweepRow, kBatchItem, kMemberId, kCenterId, kSourceId, kSequenceId, kBatchId,
        kRowHasNo, kCenterIdZero, kBatchZero, kLoginRefused, kRefusedWait, kNoSuchPage, kServerFailed, kSentElsewhere, kRefused, kTooLargeTell,
        kEncodedUnreadable, kGatewayGaveUp, kAnswerTooLarge, kNothingCame, kAnswerLate, kAnswerEncoded,
        kReturnedCenter, kChosenRowHasNo, kAmountOf, kMemberOfCenter, kWithSequence, kFieldAfterOpen,
        kFieldDefinedTwice, kNoFieldNamed, kTableAlreadyOpen, kTableNotOpen, kTooManyRows, kNoSuchField,
        kBeforeFirstRow, kAfterLastRow, kRowDeleted, kCannotStore, kTimestampCannotStore, kNotWhole32, kNotANumber,
        kNotTrueFalse, kNotADate, kTermWithoutEquals, kTermNotWhole, kValueNotComparable, kNoFirstRow,
        kAlreadyAfterLast};
    for (const PostWords& w : kPostWords) all.insert(all.end(), {w.refused, w.notTaken, w.failed, w.mayBeRecorded});
    // The most specific first: "record %1: %2" would take the start of a longer phrase's text.
    std::stable_sort(all.begin(), all.end(), [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
    return all;
}

}  // namespace

const PostWords& postWords(std::string_view what) {
    for (const PostWords& w : kPostWords)
        if (w.what == what) return w;
    return kPostWords[std::size(kPostWords) - 1];
}

unsigned dataBlanks(std::string_view phrase) {
    using namespace phrase;
    constexpr unsigned k1 = 1, k2 = 2, k3 = 4, k4 = 8;
    struct Data {
        std::string_view phrase;
        unsigned blanks;
    };
    static constexpr Data kData[] = {
        {kReadingWhere, k1},      {kNotAField, k1 | k2},          {kWebPage, k1},
        {kWebPageXhtml, k1},      {kRedirectedElsewhere, k1},     {kExportRefused, k1},
        {kNotValidInt32, k1 | k2 | k3}, {kNotValidInt16, k1 | k2 | k3}, {kNotValidSingle, k1 | k2 | k3},
        {kNotValidBoolean, k1 | k2 | k3}, {kNotValidTimestamp, k1 | k2 | k3}, {kNotHeldToCent, k1 | k2 | k3},
        {kValueTooLong, k1 | k2 | k4}, {kFieldTwice, k1 | k2},       {kRowHasNo, k2},
        {kChosenRowHasNo, k2},
        {kFieldAfterOpen, k1}, {kFieldDefinedTwice, k1 | k2}, {kNoFieldNamed, k1 | k2}, {kTableAlreadyOpen, k1},
        {kTableNotOpen, k1}, {kTooManyRows, k1}, {kNoSuchField, k1}, {kBeforeFirstRow, k1}, {kAfterLastRow, k1},
        {kRowDeleted, k1}, {kCannotStore, k1 | k2 | k3 | k4}, {kTimestampCannotStore, k1 | k2 | k3},
        {kNotWhole32, k1 | k2}, {kNotANumber, k1 | k2}, {kNotTrueFalse, k1 | k2}, {kNotADate, k1 | k2},
        {kTermWithoutEquals, k1 | k2}, {kTermNotWhole, k1 | k2}, {kValueNotComparable, k1 | k2 | k3},
        {kNoFirstRow, k1}, {kAlreadyAfterLast, k1},
    };
    for (const Data& d : kData)
        if (d.phrase == phrase) return d.blanks;
    // The server's reason for refusing a post.
    for (const PostWords& w : kPostWords)
        if (w.refused == phrase) return k2;
    return 0;
}

unsigned mixedBlanks(std::string_view phrase) { return phrase == phrase::kChosenRowHasNo ? 1u : 0u; }

std::span<const std::string_view> fillablePhrases() {
    static const std::vector<std::string_view> all = collectFillable();
    return all;
}

std::string fill(std::string_view phrase, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(phrase.size() + 32);
    for (std::size_t i = 0; i < phrase.size(); ++i) {
        const char c = phrase[i];
        if (c == '%' && i + 1 < phrase.size() && phrase[i + 1] >= '1' && phrase[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(phrase[i + 1] - '1');
            if (n < values.size()) {
                out += *(values.begin() + n);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace eft::ui
