#pragma once
// The fixed layout of the screen as data: every element with its kind, caption, font,
// position and size in twips, focus order and container, and the list columns. Views build
// their widgets from this; nothing else holds a position or a caption of the design.
#include <span>
#include <string>
#include <string_view>

#include "ui/phrases.h"

namespace eft::ui {

inline constexpr int kTwipsPerPixel = 15;  // at 96 dots per inch
inline constexpr int kControlWidth = 8820;
inline constexpr int kControlHeight = 6240;

enum class LayoutKind { TabControl, Frame, ListView, Label, Button, OptionButton, ComboBox };
enum class Align { Left, Right, Center };
// How a header click orders a column: by its text, by the number it shows (amounts, ids), or by
// the date it shows ("mm/dd/yyyy"); always ascending.
enum class SortAs { Text, Number, Date };

struct Font {
    std::string_view family;
    double points;
    bool bold;
};

struct Rect {
    int left, top, width, height;
};

struct Column {
    std::string_view caption;
    int width;  // twips; 0 is never shown
    Align align;
    SortAs sortAs = SortAs::Text;
    // Takes the room the list has beyond its designed width.
    bool stretches = false;
};

struct ElementLayout {
    std::string_view name;
    int index;  // option-button index, or -1
    LayoutKind kind;
    std::string_view caption;
    Font font;
    Rect rect;  // relative to the container
    int focusOrder;
    int tab;                    // the tab it lies on, or -1 for the control itself
    std::string_view container; // a frame's name, or empty for the tab page / control
    std::span<const Column> columns;
};

inline constexpr std::string_view kTabCaptions[] = {
    EFT_TR_NOOP("EFTMemb", "List of Centers"), EFT_TR_NOOP("EFTMemb", "Membership Sweep"),
    EFT_TR_NOOP("EFTMemb", "Export Batch"), EFT_TR_NOOP("EFTMemb", "Update Batch Status")};

std::span<const ElementLayout> screenLayout();
const ElementLayout* findLayout(std::string_view name, int index = -1);

// The version caption of the two version labels.
std::string versionCaption();

}  // namespace eft::ui
