// The screen at any scale and in either language: nothing cut, overlapping or out of its
// container, the fixed layout the same in both languages; and text that keeps a contrast of
// 4.5:1 with what lies behind it in a light and a dark palette. ctest runs these tests again
// at QT_SCALE_FACTOR 1.5 and 2, and with the application font at 150 % (EFT_TEST_FONT_SCALE).
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <cmath>

#include "login_dialog.h"
#include "qt/translation_p.h"
#include "ui/layout.h"
#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

struct Placed {
    QString name;
    QWidget* widget;
    QRect rect;  // in the page's coordinates
    const ui::ElementLayout* design;
};

// Some elements overlap in the design itself (the title over the center list).
bool designOverlaps(const Placed& a, const Placed& b) {
    const auto r = [](const ui::Rect& d) { return QRect(d.left, d.top, d.width, d.height); };
    return r(a.design->rect).intersects(r(b.design->rect));
}

class ScreenFitTest : public WidgetTest, public ::testing::WithParamInterface<QString> {
protected:
    ~ScreenFitTest() override { widget.setLanguage(QStringLiteral("en")); }

    // Lines in every list, the totals set, the batch box filled.
    void fill() {
        serveDemo();
        click("cmdLoadData");
        tick("lstEFTCenter", 0);
        click("cmdViewCenterDetails");
        tick("lstEFTMember", 0);
        click("cmdCancelMerchandiseList");
        answers = {MsgAnswer::Yes};
        clickTab(2);
        element<QComboBox>("cmbBatches")->activated(1);
        QApplication::processEvents();
    }

    std::vector<Placed> elementsOf(int page) {
        std::vector<Placed> out;
        QWidget* p = tabs()->page(page);
        for (const ui::ElementLayout& e : ui::screenLayout()) {
            if (e.tab != page) continue;
            QWidget* w = widget.elementWidget(QString::fromUtf8(e.name.data(), static_cast<qsizetype>(e.name.size())), e.index);
            if (!w || !w->isVisibleTo(p)) continue;
            out.push_back({w->objectName(), w, QRect(w->mapTo(p, QPoint(0, 0)), w->size()), &e});
        }
        return out;
    }
};

// Whether a text's whole width and height fit the room a widget gives it.
void expectFits(const QString& where, const QString& text, const QFont& font, int width, int height) {
    const QFontMetrics fm(font);
    const QString plain = withoutAccessKeys(text);
    EXPECT_LE(fm.horizontalAdvance(plain), width) << where.toStdString() << ": \"" << plain.toStdString() << '"';
    EXPECT_LE(fm.height(), height) << where.toStdString() << ": \"" << plain.toStdString() << '"';
}

TEST_P(ScreenFitTest, NothingIsCutOverlappingOrOutsideAndTheLayoutIsTheSame) {
    // The run is at the scale ctest asked for, and the design scales with the fonts' resolution.
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(widget.devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    // A larger application font grows the whole layout with its text.
    const double fontScale = qEnvironmentVariableIsSet("EFT_TEST_FONT_SCALE") ? qEnvironmentVariable("EFT_TEST_FONT_SCALE").toDouble() : 1.0;
    EXPECT_EQ(widget.minimumSizeHint().width(),
              qRound(ui::kControlWidth * fontScale * widget.logicalDpiX() / 96.0 / ui::kTwipsPerPixel));
    fill();
    const std::map<QString, QRect> english = [&] {
        std::map<QString, QRect> rects;
        for (int page : {0, 1, 3})
            for (const Placed& p : elementsOf(page)) rects[p.name] = p.rect;
        return rects;
    }();
    widget.setLanguage(GetParam());
    QApplication::processEvents();
    ASSERT_EQ(widget.language(), GetParam());
    const QRect control = widget.rect();
    for (int page : {0, 1, 3}) {
        QWidget* p = tabs()->page(page);
        const std::vector<Placed> placed = elementsOf(page);
        ASSERT_GE(placed.size(), 4u) << "page " << page;
        for (const Placed& e : placed) {
            const std::string where = e.name.toStdString();
            EXPECT_DOUBLE_EQ(e.widget->font().pointSizeF(), e.design->font.points * fontScale) << where;
            EXPECT_TRUE(p->rect().contains(e.rect)) << where << " leaves its page";
            EXPECT_TRUE(e.widget->parentWidget()->rect().contains(e.widget->geometry())) << where << " leaves its frame";
            EXPECT_TRUE(control.contains(QRect(e.widget->mapTo(&widget, QPoint(0, 0)), e.widget->size())))
                << where << " leaves the control";
            // The fixed layout: only labels and options may widen for their text.
            const bool mayGrow = qobject_cast<QLabel*>(e.widget) || qobject_cast<QRadioButton*>(e.widget);
            if (!mayGrow) {
                EXPECT_EQ(e.rect, english.at(e.name)) << where << " moved with the language";
            }

            if (auto* label = qobject_cast<QLabel*>(e.widget)) {
                expectFits(e.name, label->text(), label->font(), label->contentsRect().width(), label->contentsRect().height());
            } else if (auto* button = qobject_cast<QPushButton*>(e.widget)) {
                const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
                expectFits(e.name, button->text(), button->font(), button->width() - margin, button->height() - 2);
            } else if (auto* option = qobject_cast<QRadioButton*>(e.widget)) {
                const int indicator = option->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, option) +
                                      option->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, option);
                expectFits(e.name, option->text(), option->font(), option->width() - indicator, option->height());
            } else if (auto* list = qobject_cast<QTreeView*>(e.widget)) {
                const int margin = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list->header());
                for (int c = 0; c < list->model()->columnCount(); ++c) {
                    if (list->isColumnHidden(c)) continue;
                    const QString caption = list->model()->headerData(c, Qt::Horizontal).toString();
                    expectFits(e.name + QStringLiteral(" column %1").arg(c), caption, list->header()->font(),
                               list->columnWidth(c) - margin, list->header()->height());
                }
            }
        }
        // No two elements side by side (in one container) that the design keeps apart cover
        // each other: a wider text or a larger font must not push one over another.
        for (std::size_t i = 0; i < placed.size(); ++i)
            for (std::size_t j = i + 1; j < placed.size(); ++j)
                if (placed[i].widget->parentWidget() == placed[j].widget->parentWidget() &&
                    !designOverlaps(placed[i], placed[j])) {
                    EXPECT_FALSE(placed[i].rect.intersects(placed[j].rect))
                        << placed[i].name.toStdString() << " covers " << placed[j].name.toStdString();
                }
    }
    // Every tab the strip shows has room for its whole caption.
    QTabBar* bar = tabBar();
    for (int i = 0; i < bar->count(); ++i)
        if (bar->isTabVisible(i))
            expectFits(QStringLiteral("tab %1").arg(i), bar->tabText(i), bar->font(), bar->tabRect(i).width(),
                       bar->tabRect(i).height());
}

INSTANTIATE_TEST_SUITE_P(Languages, ScreenFitTest, ::testing::Values(QStringLiteral("en"), QStringLiteral("fr")),
                         [](const auto& info) { return info.param.toStdString(); });

// WCAG 2.1's relative luminance and contrast ratio.
double luminance(const QColor& c) {
    const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    p.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
    p.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    p.setColor(QPalette::Button, QColor(0x3c, 0x3c, 0x3c));
    p.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x6f, 0xbf));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x3c, 0x3c, 0x3c));
    p.setColor(QPalette::ToolTipText, QColor(0xee, 0xee, 0xee));
    return p;
}

class ContrastTest : public ::testing::TestWithParam<const char*> {};

// The text roles every element draws with against what they are drawn on, read from the
// elements themselves, the sign-in dialog's refusal included: a colour set by the control or
// the host shows here.
TEST_P(ContrastTest, TextStandsOutAtFourAndAHalfToOne) {
    const QPalette before = QApplication::palette();
    const bool dark = std::string(GetParam()) == "dark";
    QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
    {
        EftMembWidget control;
        eft::host::LoginDialog dialog({}, true);
        struct Pair {
            QPalette::ColorRole text, behind;
        };
        const Pair pairs[] = {{QPalette::WindowText, QPalette::Window},
                              {QPalette::ButtonText, QPalette::Button},
                              {QPalette::Text, QPalette::Base},
                              {QPalette::HighlightedText, QPalette::Highlight},
                              {QPalette::ToolTipText, QPalette::ToolTipBase}};
        QList<QWidget*> widgets = control.findChildren<QWidget*>();
        widgets << dialog.refusedLabel();
        int checked = 0;
        for (QWidget* w : widgets) {
            // The roles each kind of element draws its text with.
            std::vector<Pair> used;
            if (qobject_cast<QLabel*>(w)) used = {pairs[0]};
            else if (qobject_cast<QAbstractButton*>(w)) used = {pairs[0], pairs[1]};
            else if (qobject_cast<QAbstractItemView*>(w) || qobject_cast<QComboBox*>(w)) used = {pairs[1], pairs[2], pairs[3]};
            else continue;
            used.push_back(pairs[4]);
            for (const Pair& p : used) {
                const double ratio = contrast(w->palette().color(QPalette::Active, p.text),
                                              w->palette().color(QPalette::Active, p.behind));
                EXPECT_GE(ratio, 4.5) << GetParam() << ' ' << w->objectName().toStdString() << " role " << p.text;
                ++checked;
            }
        }
        EXPECT_GT(checked, 50);
    }
    QApplication::setPalette(before);
}

INSTANTIATE_TEST_SUITE_P(Palettes, ContrastTest, ::testing::Values("light", "dark"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace eft::qt::test
