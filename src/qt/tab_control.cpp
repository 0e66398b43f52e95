#include "qt/tab_control_p.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

#include "qt/access_keys_p.h"
#include "ui/models.h"

namespace eft::qt {
namespace {

QString tabCaption(int index, std::string_view caption) { return withAccessKey("tabEFT", index, caption); }

// The strip's arrow keys step to the nearest tab the operator may pick in that direction:
// QTabBar's own step lands on hidden tabs, which the control then refuses, so the key did
// nothing.
class StripBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right) {
            QTabBar::keyPressEvent(event);
            return;
        }
        const bool forward = (event->key() == Qt::Key_Right) != isRightToLeft();
        for (int i = currentIndex() + (forward ? 1 : -1); i >= 0 && i < count(); i += forward ? 1 : -1) {
            if (isTabVisible(i) && isTabEnabled(i)) {
                setCurrentIndex(i);
                break;
            }
        }
        event->accept();
    }

    // A tab chosen with the mouse may start a request during which the host destroys the
    // control, strip included: QTabBar's own handler reads its state after the choice, so the
    // choice is made here and nothing of the strip is touched after it. The strip is not
    // movable, so the press has nothing else to start.
    void mousePressEvent(QMouseEvent* event) override {
        const int index = tabAt(event->position().toPoint());
        if (event->button() != Qt::LeftButton || index < 0 || !isTabEnabled(index)) {
            QTabBar::mousePressEvent(event);
            return;
        }
        event->accept();
        setCurrentIndex(index);
    }
};

}  // namespace

TabControl::TabControl(std::span<const std::string_view> captions, QWidget* parent)
    : QWidget(parent), bar_(new StripBar(this)) {
    bar_->setObjectName(QStringLiteral("tabEFT.bar"));
    bar_->setDrawBase(false);
    bar_->setExpanding(true);
    bar_->setUsesScrollButtons(false);
    for (std::string_view caption : captions) {
        bar_->addTab(tabCaption(bar_->count(), caption));
        auto* page = new QWidget(this);
        page->setObjectName(QStringLiteral("tabEFT.page%1").arg(pages_.size()));
        page->hide();
        pages_.push_back(page);
    }
    // The pages span the strip's area too; the strip stays on top to take its clicks.
    bar_->raise();
    // The strip is the tab stop; the control around it takes no focus of its own, or Tab
    // would land on it and be handed straight back to the strip.
    bar_->setFocusPolicy(Qt::StrongFocus);
    setFocusPolicy(Qt::NoFocus);
    showPage(bar_->currentIndex());
    connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
        if (syncing_) return;
        showPage(index);
        Q_EMIT tabChosen(index);
    });
}

QWidget* TabControl::page(int index) const {
    if (index < 0 || index >= pageCount()) return nullptr;
    return pages_[static_cast<std::size_t>(index)];
}

int TabControl::currentPage() const {
    for (int i = 0; i < pageCount(); ++i)
        if (!pages_[static_cast<std::size_t>(i)]->isHidden()) return i;
    return -1;
}

void TabControl::sync(const ui::TabStrip& strip) {
    // Hiding the tab showing makes QTabBar pick another one on its own; with the signals held
    // back that move stays inside the view, and the model's selection is put back afterwards.
    const QScopedValueRollback<bool> guard(syncing_, true);
    const QSignalBlocker block(bar_);
    const int count = std::min(strip.count(), bar_->count());
    for (int i = 0; i < count; ++i) {
        const ui::TabStrip::Tab& tab = strip.tab(i);
        bar_->setTabText(i, tabCaption(i, tab.caption));
        bar_->setTabVisible(i, tab.visible);
        bar_->setTabEnabled(i, tab.enabled);
    }
    bar_->setCurrentIndex(strip.selected());
    showPage(strip.selected());
    layoutBar();
    update();
}

void TabControl::showPage(int index) {
    for (int i = 0; i < pageCount(); ++i) pages_[static_cast<std::size_t>(i)]->setVisible(i == index);
}

void TabControl::layoutBar() {
    bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
    for (QWidget* page : pages_) page->setGeometry(rect());
}

int TabControl::panelTop() const {
    return bar_->height() - style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
}

void TabControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutBar();
}

void TabControl::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.rect = QRect(0, panelTop(), width(), height() - panelTop());
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    option.shape = QTabBar::RoundedNorth;
    option.tabBarSize = bar_->sizeHint();
    option.tabBarRect = bar_->geometry();
    option.selectedTabRect = bar_->tabRect(bar_->currentIndex()).translated(bar_->pos());
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}

void TabControl::keyPressEvent(QKeyEvent* event) {
    // Ctrl+Tab and Ctrl+Shift+Tab step through the tabs the operator may pick, as in any
    // tabbed dialog; the strip then reports the step as the operator's choice.
    const bool forward = event->key() == Qt::Key_Tab && event->modifiers() == Qt::ControlModifier;
    const bool back = event->key() == Qt::Key_Backtab ||
                      (event->key() == Qt::Key_Tab && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier));
    if (!(event->modifiers() & Qt::ControlModifier) || (!forward && !back) || bar_->count() == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int n = bar_->count();
    for (int step = 1; step < n; ++step) {
        const int i = ((bar_->currentIndex() + (forward ? step : -step)) % n + n) % n;
        if (bar_->isTabVisible(i) && bar_->isTabEnabled(i)) {
            bar_->setCurrentIndex(i);
            break;
        }
    }
    event->accept();
}

}  // namespace eft::qt
