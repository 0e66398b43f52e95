#pragma once
// How the design's units become Qt's: twips to device-independent pixels at the widget's
// logical resolution, the design's fonts with fallbacks for machines that lack them, and
// column alignment flags.
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QStringList>

#include "ui/layout.h"

namespace eft::qt {

class TwipScale {
public:
    // 15 twips make a pixel at 96 dots per inch; other resolutions scale the whole screen.
    explicit TwipScale(double logicalDpi) : pixelsPerTwip_(logicalDpi / 96.0 / ui::kTwipsPerPixel) {}

    int px(int twips) const;
    QRect rect(const ui::Rect& r) const;

private:
    double pixelsPerTwip_;
};

// The design font first, then look-alikes: the layout keeps its proportions on machines
// without "Tahoma" or "MS Sans Serif".
QFont designFont(const ui::Font& font);
QStringList fallbackFamilies();

Qt::Alignment alignmentOf(ui::Align align);

// WCAG 2.1's contrast ratio of two colours (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);
// The palette with every text role at 4.5:1 or more against the role it is drawn on: a
// background too close to its text (Fusion's selection under white text) is moved away from
// it, darker or lighter, and nothing else is touched.
QPalette readablePalette(QPalette palette);

}  // namespace eft::qt
