#include "ui/layout.h"

#include "control/version.h"
#include "eftmemb/control.h"
#include "ui/phrases.h"
#include "ui/phrases.h"

namespace eft::ui {
namespace {

constexpr Font kSans{"MS Sans Serif", 8.25, false};
constexpr Font kSansBold{"MS Sans Serif", 8.25, true};
constexpr Font kTahoma{"Tahoma", 8.25, false};
constexpr Font kTahomaBold{"Tahoma", 8.25, true};
constexpr Font kInstruction{"MS Sans Serif", 9.75, true};

constexpr auto N = SortAs::Number;
constexpr auto D = SortAs::Date;

constexpr Column kCenterColumns[] = {
    {"", 300, Align::Left},
    {EFT_TR_NOOP("EFTMemb", "Center"), 746, Align::Left, N},
    {EFT_TR_NOOP("EFTMemb", "Name of Center"), 2701, Align::Left, SortAs::Text, true},
    {EFT_TR_NOOP("EFTMemb", "Due In"), 1001, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "Due Out"), 1001, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "Net In"), 1001, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "Net Out"), 1001, Align::Right, N},
};

constexpr Column kMemberColumns[] = {
    {"", 300, Align::Left},
    {EFT_TR_NOOP("EFTMemb", "Date "), 1070, Align::Left, D},
    {EFT_TR_NOOP("EFTMemb", "Center"), 800, Align::Center, N},
    {EFT_TR_NOOP("EFTMemb", "Member"), 800, Align::Center, N},
    {EFT_TR_NOOP("EFTMemb", "Source"), 2800, Align::Left},
    {EFT_TR_NOOP("EFTMemb", "Total"), 900, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "Royalty"), 900, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "NAC"), 900, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "Franchise Fee"), 1500, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "GST"), 900, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "PST"), 900, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "NMC Payments"), 1500, Align::Right, N},
    {EFT_TR_NOOP("EFTMemb", "Member Name"), 1440, Align::Left, SortAs::Text, true},
};

constexpr Column kBatchColumns[] = {
    {EFT_TR_NOOP("EFTMemb", "X"), 300, Align::Left},   {EFT_TR_NOOP("EFTMemb", "Center"), 1000, Align::Left}, {EFT_TR_NOOP("EFTMemb", "Center Name"), 5850, Align::Left, SortAs::Text, true},
    {EFT_TR_NOOP("EFTMemb", "Amount"), 1000, Align::Right}, {"", 0, Align::Right},   {"", 0, Align::Right},
};

using K = LayoutKind;

constexpr ElementLayout kLayout[] = {
    {"tabEFT", -1, K::TabControl, "", kSans, {60, 60, 8655, 6075}, 4, -1, "", {}},
    // List of Centers
    {"fraCenterList", -1, K::Frame, "", kSans, {120, 360, 8415, 4665}, 12, 0, "", {}},
    {"lblCenterListTitle", -1, K::Label, EFT_TR_NOOP("EFTMemb", "Premium Center(s) Ready For EFT"), kTahomaBold, {120, 480, 2850, 195}, 15, 0, "fraCenterList", {}},
    {"lstEFTCenter", -1, K::ListView, "", kTahoma, {120, 240, 8175, 4000}, 13, 0, "fraCenterList", kCenterColumns},
    {"lblGrandTotal", -1, K::Label, EFT_TR_NOOP("EFTMemb", "Grand Total: $0.00"), kSans, {120, 4320, 1335, 195}, 14, 0, "fraCenterList", {}},
    {"cmdLoadData", -1, K::Button, EFT_TR_NOOP("EFTMemb", "&Load Data"), kTahomaBold, {120, 5040, 1335, 375}, 0, 0, "", {}},
    {"cmdSelectAllCenters", -1, K::Button, EFT_TR_NOOP("EFTMemb", "&Select All"), kTahoma, {2385, 5100, 1335, 375}, 1, 0, "", {}},
    {"cmdDeSelectAllCenters", -1, K::Button, EFT_TR_NOOP("EFTMemb", "DeSelect &All"), kTahoma, {2400, 5550, 1335, 375}, 2, 0, "", {}},
    {"optCountry", 1, K::OptionButton, EFT_TR_NOOP("EFTMemb", "United States"), kSansBold, {4770, 5205, 1695, 375}, 22, 0, "", {}},
    {"optCountry", 2, K::OptionButton, EFT_TR_NOOP("EFTMemb", "Canada"), kSansBold, {4770, 5625, 1335, 195}, 24, 0, "", {}},
    {"cmdViewCenterDetails", -1, K::Button, EFT_TR_NOOP("EFTMemb", "&Details"), kTahoma, {7170, 5325, 1335, 375}, 3, 0, "", {}},
    {"lblVersionCentertab", -1, K::Label, "", kSans, {180, 5715, 3270, 255}, 25, 0, "", {}},
    // Membership Sweep
    {"fraCenterDetails", -1, K::Frame, "", kSans, {120, 360, 8415, 4995}, 6, 1, "", {}},
    {"lstEFTMember", -1, K::ListView, "", kTahoma, {120, 240, 8175, 4275}, 7, 1, "fraCenterDetails", kMemberColumns},
    {"lblMerchandiseEligible", -1, K::Label, EFT_TR_NOOP("EFTMemb", "Amount Eligible: $0.00"), kSans, {120, 4635, 1575, 195}, 8, 1, "fraCenterDetails", {}},
    {"lblMerchandiseSelected", -1, K::Label, EFT_TR_NOOP("EFTMemb", "Amount Selected: $0.00"), kSans, {4365, 4635, 1710, 195}, 9, 1, "fraCenterDetails", {}},
    {"cmdSelectAllMerchandise", -1, K::Button, EFT_TR_NOOP("EFTMemb", "S&elect All"), kTahoma, {1710, 5520, 1335, 375}, 11, 1, "", {}},
    {"cmdDeSelectAllMerchandise", -1, K::Button, EFT_TR_NOOP("EFTMemb", "DeSelec&t All"), kTahoma, {3120, 5520, 1335, 375}, 17, 1, "", {}},
    {"cmdSaveMerchandise", -1, K::Button, EFT_TR_NOOP("EFTMemb", "&Save"), kTahoma, {5700, 5550, 1335, 375}, 10, 1, "", {}},
    {"cmdCancelMerchandiseList", -1, K::Button, EFT_TR_NOOP("EFTMemb", "&Cancel"), kTahoma, {7200, 5535, 1335, 375}, 5, 1, "", {}},
    {"lblVersionMerchandise", -1, K::Label, "", kSans, {120, 5580, 1455, 255}, 16, 1, "", {}},
    // Update Batch Status
    {"cmbBatches", -1, K::ComboBox, "", kSans, {180, 435, 4905, 315}, 18, 3, "", {}},
    {"lblIstr", -1, K::Label, EFT_TR_NOOP("EFTMemb", "Please set / check  centers which have cleared:"), kInstruction, {165, 825, 7515, 300}, 23, 3, "", {}},
    {"Frame2", -1, K::Frame, "", kSans, {165, 1050, 8370, 4845}, 19, 3, "", {}},
    // The list comes before "Commit" in the focus order: the other way round, Tab from the
    // batch box reached "Commit" with no center ticked, and one more key marked every center failed.
    {"lstBatchDetails", -1, K::ListView, "", kTahoma, {45, 210, 8220, 3870}, 20, 3, "Frame2", kBatchColumns},
    {"cmdPassedFailed", -1, K::Button, EFT_TR_NOOP("EFTMemb", "Commit"), kSans, {6960, 4320, 1305, 360}, 21, 3, "Frame2", {}},
};

}  // namespace

std::span<const ElementLayout> screenLayout() { return kLayout; }

const ElementLayout* findLayout(std::string_view name, int index) {
    for (const auto& e : kLayout)
        if (e.name == name && e.index == index) return &e;
    return nullptr;
}

std::string versionCaption() { return fill(phrase::kVersion, {libraryVersion()}); }

}  // namespace eft::ui

namespace eft {

std::string libraryVersion() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision);
}

}  // namespace eft
