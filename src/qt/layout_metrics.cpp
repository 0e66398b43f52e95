#include "qt/layout_metrics_p.h"

#include <QtMath>

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

QFont designFont(const ui::Font& font) {
    const QString family = QString::fromUtf8(font.family.data(), static_cast<qsizetype>(font.family.size()));
    QStringList families{family};
    for (const QString& f : fallbackFamilies())
        if (f != family) families << f;
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(font.points);
    f.setBold(font.bold);
    return f;
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
