#pragma once
// TabControl: the screen's tab control, a tab strip over one page per tab. The pages cover
// the whole control, strip included, because the design places every element relative to the
// tab control's own corner, not to the area below the tabs.
//
// It shows whatever the core's tab strip model holds (sync) and reports only the operator's
// own choices (tabChosen): the moves the strip makes by itself, such as leaving a tab that
// is being hidden, never reach the core.
#include <QWidget>
#include <span>
#include <string_view>
#include <vector>

class QTabBar;

namespace eft::ui {
class TabStrip;
}

namespace eft::qt {

class TabControl : public QWidget {
    Q_OBJECT

public:
    TabControl(std::span<const std::string_view> captions, QWidget* parent = nullptr);

    QTabBar* bar() const { return bar_; }
    QWidget* page(int index) const;
    int pageCount() const { return static_cast<int>(pages_.size()); }
    int currentPage() const;

    void sync(const ui::TabStrip& strip);

Q_SIGNALS:
    void tabChosen(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void layoutBar();
    void showPage(int index);
    int panelTop() const;

    QTabBar* bar_;
    std::vector<QWidget*> pages_;
    bool syncing_ = false;
};

}  // namespace eft::qt
