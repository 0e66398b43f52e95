#pragma once
// How every box of the control reads: a failure shows its fixed text first (" Error !  ",
// when the box has one), then one plain line saying what could not be done, why and what to do,
// and keeps the technical detail (address without credentials, status, library text, the
// server's own words) behind "Show Details…". A long text is cut for the box and kept whole in
// the details, so a huge server text cannot freeze the host.
#include <string>
#include <string_view>

#include "eftmemb/control.h"
#include "ui/phrases.h"

namespace eft {

// The fixed text every failure box of the control begins with.
inline constexpr std::string_view kFixedErrorText = EFT_TR_NOOP("EFTMemb", " Error !  ");
// The title of every failure box but the sweep load's, which has none of its own.
inline constexpr std::string_view kFailureTitle = EFT_TR_NOOP("EFTMemb", "ERROR");

inline constexpr std::size_t kBoxTextBytes = 4096;
inline constexpr int kBoxTextLines = 60;

// The text as a box shows it: at most kBoxTextBytes or kBoxTextLines, then "… (N more lines)";
// a text within both comes back unchanged.
std::string boxExcerpt(std::string_view text);

// `request` with its text cut to boxExcerpt and the whole text put before its details.
MessageBoxRequest fittedForBox(MessageBoxRequest request);

// The fixed text (may be empty), then the plain line, each on its own line.
std::string failureText(std::string_view fixedText, std::string_view plainLine);

// The first line of a server's reason, for the plain line; the whole reason goes to the details.
std::string firstLine(std::string_view text);

}  // namespace eft
