// The widgets against the layout data: place, font and container of every element, the list
// columns, the tabs at creation, and the screen given more room than its design.
#include <QDir>
#include <QFontInfo>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <numeric>

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
    EXPECT_EQ(widget.size(), area);
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

// A larger application font (a desktop's system font at 150 %) grows the whole layout with it,
// places and fonts alike; a smaller one leaves the design as it is. Changed while the control
// is shown, as a desktop's setting is.
TEST_F(LayoutTest, TheLayoutScalesWithTheApplicationFont) {
    const QFont before = QApplication::font();
    struct Case {
        const char* name;
        double points, scale;
    };
    const double dpi = widget.logicalDpiX();
    for (const Case& c : {Case{"9pt", 9, 1.0}, Case{"13.5pt", 13.5, 1.5}, Case{"7pt", 7, 1.0}, Case{"18pt", 18, 2.0}}) {
        SCOPED_TRACE(c.name);
        QFont f = before;
        f.setPointSizeF(c.points);
        QApplication::setFont(f);
        QApplication::processEvents();
        widget.resize(widget.minimumSize());
        QApplication::processEvents();
        EXPECT_EQ(widget.minimumSize(), scaled({0, 0, ui::kControlWidth, ui::kControlHeight}, dpi * c.scale).size());
        for (const ui::ElementLayout& e : ui::screenLayout()) {
            if (e.kind == ui::LayoutKind::Label || e.kind == ui::LayoutKind::OptionButton) continue;
            QWidget* w = widget.elementWidget(str(e.name), e.index);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->geometry(), scaled(e.rect, dpi * c.scale)) << e.name;
            EXPECT_DOUBLE_EQ(w->font().pointSizeF(), e.font.points * c.scale) << e.name;
        }
        QTreeView* centers = view("lstEFTCenter");
        const auto& columns = ui::findLayout("lstEFTCenter")->columns;
        for (std::size_t col = 0; col < columns.size(); ++col) {
            if (columns[col].width > 0 && !columns[col].stretches) {
                EXPECT_EQ(centers->columnWidth(static_cast<int>(col)), scaled({0, 0, columns[col].width, 0}, dpi * c.scale).width());
            }
        }
    }
    QApplication::setFont(before);
    QApplication::processEvents();
    widget.resize(widget.minimumSize());
}

TEST_F(LayoutTest, AtCreationTheCentersTabShowsWithTheUnitedStatesChosen) {
    QTabBar* bar = tabBar();
    ASSERT_EQ(bar->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bar->tabText(i).remove(QLatin1Char('&')), str(ui::kTabCaptions[i]));
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
            // The name column takes what room the list has beyond its columns' design widths.
            if (col.width > 0 && col.stretches) {
                EXPECT_GE(v->columnWidth(c), scaled({0, 0, col.width, 0}, dpi).width()) << c;
            } else if (col.width > 0) {
                EXPECT_EQ(v->columnWidth(c), scaled({0, 0, col.width, 0}, dpi).width()) << c;
            }
        }
    }
}

// The screen at its design size and larger: the tab control, the frames and the lists take
// the extra room, everything else keeps its distance to the nearest edges of its container,
// and the list columns keep their widths but for the name column, which takes the room left.
// Each size is rendered for a look.
TEST_F(LayoutTest, MoreRoomGrowsTheListsAndKeepsTheButtonsByTheirEdges) {
    serveDemo();
    click("cmdLoadData");
    QApplication::processEvents();
    const QSize design = widget.size();
    ASSERT_EQ(design, widget.minimumSize());
    EXPECT_GT(widget.maximumWidth(), 4 * design.width()) << "the control can grow";

    struct Seen {
        QWidget* w;
        QRect rect;
        QSize room;
        bool grows;
    };
    std::vector<Seen> seen;
    for (const ui::ElementLayout& e : ui::screenLayout()) {
        QWidget* w = widget.elementWidget(str(e.name), e.index);
        const bool grows = e.kind == ui::LayoutKind::TabControl || e.kind == ui::LayoutKind::Frame ||
                           e.kind == ui::LayoutKind::ListView;
        seen.push_back({w, w->geometry(), w->parentWidget()->size(), grows});
    }
    QTreeView* members = view("lstEFTMember");
    constexpr int kMemberName = 12;
    std::vector<int> widths;
    for (int c = 0; c < members->model()->columnCount(); ++c) widths.push_back(members->columnWidth(c));

    struct Size {
        const char* name;
        QSize size;
    };
    const Size sizes[] = {{"1.0x", design}, {"1.5x", design * 1.5}, {"large", QSize(1900, 1150)}};
    QDir().mkpath(QStringLiteral(EFT_SCREENSHOT_DIR));
    for (const Size& sz : sizes) {
        SCOPED_TRACE(sz.name);
        widget.resize(sz.size);
        QApplication::processEvents();
        ASSERT_EQ(widget.size(), sz.size);
        const QSize extra = sz.size - design;
        const QString png = QDir(QStringLiteral(EFT_SCREENSHOT_DIR)).filePath(QStringLiteral("layout-%1.png").arg(sz.name));
        EXPECT_TRUE(widget.grab().save(png, "PNG"));
        for (const Seen& s : seen) {
            SCOPED_TRACE(s.w->objectName().toStdString());
            const QRect now = s.w->geometry();
            if (s.grows) {
                EXPECT_EQ(now, s.rect.adjusted(0, 0, extra.width(), extra.height()));
            } else {
                // The nearest edge decides, by where the element's centre lies in its container.
                const int dx = 2 * s.rect.center().x() > s.room.width() ? extra.width() : 0;
                const int dy = 2 * s.rect.center().y() > s.room.height() ? extra.height() : 0;
                EXPECT_EQ(now.topLeft(), s.rect.topLeft() + QPoint(dx, dy));
            }
            EXPECT_TRUE(QRect(QPoint(0, 0), s.w->parentWidget()->size()).contains(now)) << "inside its container";
        }
        // Only the name column grows, and only once the list is wider than its columns.
        int total = 0;
        for (int c = 0; c < members->model()->columnCount(); ++c) {
            total += members->columnWidth(c);
            if (c != kMemberName) {
                EXPECT_EQ(members->columnWidth(c), widths[static_cast<std::size_t>(c)]) << c;
            }
        }
        const int designedTotal = std::accumulate(widths.begin(), widths.end(), 0);
        EXPECT_EQ(total, std::max(designedTotal, members->width() - 2 * members->frameWidth() -
                                                     members->style()->pixelMetric(QStyle::PM_ScrollBarExtent)));
    }
    // The anchors that matter to the operator, spelled out for the largest size.
    const QSize extra = sizes[2].size - design;
    auto at = [&](const char* name, int index = -1) {
        for (const Seen& s : seen)
            if (s.w == widget.elementWidget(QString::fromLatin1(name), index)) return s.rect.topLeft();
        return QPoint(-1, -1);
    };
    EXPECT_EQ(element("cmdLoadData")->pos(), at("cmdLoadData") + QPoint(0, extra.height()));
    EXPECT_EQ(element("cmdViewCenterDetails")->pos(), at("cmdViewCenterDetails") + QPoint(extra.width(), extra.height()));
    EXPECT_EQ(element("cmbBatches")->pos(), at("cmbBatches"));
    EXPECT_EQ(element("cmdPassedFailed")->pos(), at("cmdPassedFailed") + QPoint(extra.width(), extra.height()));
    EXPECT_EQ(element("lblGrandTotal")->pos(), at("lblGrandTotal") + QPoint(0, extra.height()));
}

TEST_F(LayoutTest, AtTheLargeSizeTheMemberListNeedsNoSideScrolling) {
    widget.resize(1900, 1150);
    ui::Screen& s = widget.control().screen();
    s.tabEFT.setVisible(1, true);
    s.tabEFT.select(1);
    s.lstEFTMember.addLine();
    s.flush();
    QApplication::processEvents();
    EXPECT_FALSE(view("lstEFTMember")->horizontalScrollBar()->isVisible());
    widget.resize(widget.minimumSize());
    QApplication::processEvents();
    EXPECT_TRUE(view("lstEFTMember")->horizontalScrollBar()->isVisible()) << "at the design size it scrolls";
}

}  // namespace
}  // namespace eft::qt::test
