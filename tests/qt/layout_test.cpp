// The widgets against the layout data: place, font and container of every element, the list
// columns, the tabs at creation and the keyboard focus order.
#include <QFontInfo>
#include <QRadioButton>

#include "qt/layout_metrics_p.h"
#include "ui/layout.h"
#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

using LayoutTest = WidgetTest;

QRect scaled(const ui::Rect& r, double dpi) {
    auto px = [dpi](int twips) { return qRound(twips * dpi / 96.0 / 15.0); };
    return {px(r.left), px(r.top), px(r.width), px(r.height)};
}

QString str(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

TEST(TwipScaleTest, FifteenTwipsAPixelAtNinetySixDpiAndProportionalAbove) {
    struct Case {
        double dpi;
        int twips, px;
    };
    for (const Case& c : {Case{96, 8820, 588}, Case{96, 746, 50}, Case{96, 7, 0}, Case{144, 8820, 882},
                          Case{192, 195, 26}, Case{120, 300, 25}})
        EXPECT_EQ(TwipScale(c.dpi).px(c.twips), c.px) << c.twips << " twips at " << c.dpi;
}

TEST_F(LayoutTest, EveryElementSitsWhereTheDesignPutsIt) {
    const double dpi = widget.logicalDpiX();
    const QSize area = scaled({0, 0, ui::kControlWidth, ui::kControlHeight}, dpi).size();
    EXPECT_EQ(widget.minimumSize(), area);
    EXPECT_EQ(widget.maximumSize(), area);
    for (const ui::ElementLayout& e : ui::screenLayout()) {
        SCOPED_TRACE(std::string(e.name) + (e.index >= 0 ? "(" + std::to_string(e.index) + ")" : ""));
        QWidget* w = widget.elementWidget(str(e.name), e.index);
        ASSERT_NE(w, nullptr);
        const QRect design = scaled(e.rect, dpi);
        if (e.kind == ui::LayoutKind::Label || e.kind == ui::LayoutKind::OptionButton) {
            // Text elements may grow to fit their caption in the font in use, never shrink.
            EXPECT_EQ(w->x(), design.x());
            EXPECT_GE(w->width(), design.width());
            EXPECT_GE(w->height(), design.height());
            if (e.kind == ui::LayoutKind::Label) EXPECT_EQ(w->y(), design.y());
            else EXPECT_LE(std::abs(w->geometry().center().y() - design.center().y()), 1);
        } else {
            EXPECT_EQ(w->geometry(), design);
        }
        QWidget* container = !e.container.empty() ? widget.elementWidget(str(e.container))
                             : e.tab >= 0         ? tabs()->page(e.tab)
                                                  : &widget;
        EXPECT_EQ(w->parentWidget(), container);

        const QFont f = w->font();
        EXPECT_EQ(f.families().value(0), str(e.font.family));
        EXPECT_DOUBLE_EQ(f.pointSizeF(), e.font.points);
        EXPECT_EQ(QFontInfo(f).bold(), e.font.bold) << "the face found keeps the weight";
    }
}

TEST_F(LayoutTest, AtCreationTheCentersTabShowsWithTheUnitedStatesChosen) {
    QTabBar* bar = tabBar();
    ASSERT_EQ(bar->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bar->tabText(i), str(ui::kTabCaptions[i]));
        EXPECT_EQ(bar->isTabVisible(i), i != 1) << i;
    }
    EXPECT_EQ(bar->currentIndex(), 0);
    EXPECT_EQ(tabs()->currentPage(), 0);
    EXPECT_TRUE(element<QRadioButton>("optCountry", 1)->isChecked());
    EXPECT_FALSE(element<QRadioButton>("optCountry", 2)->isChecked());
    EXPECT_EQ(labelText("lblVersionMerchandise"), QStringLiteral("Version: 2.0.7"));
    EXPECT_EQ(labelText("lblIstr"), QStringLiteral("Please set / check  centers which have cleared:"));
}

TEST_F(LayoutTest, ListColumnsHaveTheirCaptionsWidthsAndHiddenColumns) {
    const double dpi = widget.logicalDpiX();
    for (const char* name : {"lstEFTCenter", "lstEFTMember", "lstBatchDetails"}) {
        SCOPED_TRACE(name);
        const auto columns = ui::findLayout(name)->columns;
        QTreeView* v = view(name);
        EXPECT_FALSE(v->rootIsDecorated());
        EXPECT_TRUE(v->uniformRowHeights());
        EXPECT_FALSE(v->isSortingEnabled());
        ASSERT_EQ(v->model()->columnCount(), static_cast<int>(columns.size()));
        for (int c = 0; c < v->model()->columnCount(); ++c) {
            const ui::Column& col = columns[static_cast<std::size_t>(c)];
            EXPECT_EQ(v->model()->headerData(c, Qt::Horizontal).toString(), str(col.caption));
            EXPECT_EQ(v->isColumnHidden(c), col.width == 0) << c;
            if (col.width > 0) {
                EXPECT_EQ(v->columnWidth(c), scaled({0, 0, col.width, 0}, dpi).width()) << c;
            }
        }
    }
    EXPECT_EQ(headers("lstBatchDetails"), (QStringList{"X", "Center", "Center Name", "Amount"}));
}

TEST_F(LayoutTest, TabKeyOrderFollowsTheDesignFocusOrder) {
    std::vector<std::pair<int, QWidget*>> expected;
    for (const ui::ElementLayout& e : ui::screenLayout()) {
        if (e.kind == ui::LayoutKind::Label || e.kind == ui::LayoutKind::Frame) continue;
        QWidget* w = widget.elementWidget(str(e.name), e.index);
        expected.emplace_back(e.focusOrder, e.kind == ui::LayoutKind::TabControl ? tabBar() : w);
    }
    std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<QWidget*> want, chain;
    for (auto& p : expected) want.push_back(p.second);
    QWidget* w = want.front();
    do {
        if (std::find(want.begin(), want.end(), w) != want.end()) chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != want.front() && chain.size() <= want.size());
    EXPECT_EQ(chain, want);
}

}  // namespace
}  // namespace eft::qt::test
