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
    // 15 twips make a pixel at 96 dots per inch; other resolutions, and a text scale above 1,
    // scale the whole screen.
    explicit TwipScale(double logicalDpi, double textScale = 1.0)
        : pixelsPerTwip_(logicalDpi * textScale / 96.0 / ui::kTwipsPerPixel) {}

    int px(int twips) const;
    QRect rect(const ui::Rect& r) const;

private:
    double pixelsPerTwip_;
};

// How much larger than the standard 9 points (Qt's own default, and the Windows dialog text the
// design's fonts were drawn beside) the text of `font` is: a desktop's larger system font
// reaches a Qt program as its application font. Never below 1: a small font does not shrink
// the screen below its design.
double textScale(const QFont& font);

// The design font, `textScale` times its size, first, then look-alikes: the layout keeps its
// proportions on machines without "Tahoma" or "MS Sans Serif".
QFont designFont(const ui::Font& font, double textScale = 1.0);
QStringList fallbackFamilies();

Qt::Alignment alignmentOf(ui::Align align);

// WCAG 2.1's contrast ratio of two colours (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);
// The palette with every text role at 4.5:1 or more against the role it is drawn on: a
// background too close to its text (Fusion's selection under white text) is moved away from
// it, darker or lighter, and nothing else is touched.
QPalette readablePalette(QPalette palette);

}  // namespace eft::qt
