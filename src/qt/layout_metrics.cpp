#include "qt/layout_metrics_p.h"

#include <QFontInfo>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace eft::qt {

int TwipScale::px(int twips) const { return qRound(twips * pixelsPerTwip_); }

QRect TwipScale::rect(const ui::Rect& r) const { return {px(r.left), px(r.top), px(r.width), px(r.height)}; }

QStringList fallbackFamilies() {
    // Ordered by how closely their widths match the design fonts: the condensed DejaVu face
    // is the nearest of the fonts every Linux desktop has.
    return {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
            QStringLiteral("Liberation Sans"),       QStringLiteral("Arial"),
            QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
            QStringLiteral("sans-serif")};
}

double textScale(const QFont& font) {
    constexpr double kStandardPoints = 9.0;
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    return std::max(1.0, points / kStandardPoints);
}

QFont designFont(const ui::Font& font, double textScale) {
    const QString family = QString::fromUtf8(font.family.data(), static_cast<qsizetype>(font.family.size()));
    QStringList families{family};
    for (const QString& f : fallbackFamilies())
        if (f != family) families << f;
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(font.points * textScale);
    f.setBold(font.bold);
    return f;
}

namespace {

double luminance(const QColor& c) {
    const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

QColor mixed(const QColor& from, const QColor& to, double t) {
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t));
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette readablePalette(QPalette palette) {
    constexpr double kLeast = 4.5;
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
        {QPalette::HighlightedText, QPalette::Highlight}, {QPalette::Text, QPalette::Base},
        {QPalette::WindowText, QPalette::Window},         {QPalette::ButtonText, QPalette::Button},
        {QPalette::ToolTipText, QPalette::ToolTipBase}};
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const auto& [text, behind] : pairs) {
            const QColor fg = palette.color(group, text);
            const QColor bg = palette.color(group, behind);
            if (contrastRatio(fg, bg) >= kLeast) continue;
            const QColor away = luminance(fg) > luminance(bg) ? QColor(Qt::black) : QColor(Qt::white);
            QColor moved = bg;
            for (int step = 1; step <= 20 && contrastRatio(fg, moved) < kLeast; ++step) moved = mixed(bg, away, step / 20.0);
            palette.setColor(group, behind, moved);
        }
    }
    return palette;
}

Qt::Alignment alignmentOf(ui::Align align) {
    switch (align) {
    case ui::Align::Right: return Qt::AlignRight | Qt::AlignVCenter;
    case ui::Align::Center: return Qt::AlignHCenter | Qt::AlignVCenter;
    case ui::Align::Left: break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

}  // namespace eft::qt
