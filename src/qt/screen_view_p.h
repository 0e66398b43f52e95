#pragma once
// ScreenView: the Qt widgets of the fixed screen, built from the layout data, and their
// binding to the core's element models. Operator input goes to the model as the element's
// event; the core's coalesced notices re-read the models into the widgets. Changes made here
// on the core's behalf never come back to it as operator input.
//
// Ownership: the widgets are children of the host widget; the list adapters are owned here.
// The control must outlive the view.
#include <QObject>
#include <QSize>
#include <QString>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "qt/layout_metrics_p.h"
#include "ui/screen.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace eft {
class EFTMemb;
}

namespace eft::qt {

class ListModel;
class TabControl;

class ScreenView : public QObject, public ui::ScreenObserver {
    Q_OBJECT

public:
    ScreenView(EFTMemb& control, QWidget* host);
    ~ScreenView() override;

    // The widget of an element: by name, option buttons by name and index.
    QWidget* widget(const std::string& name, int index = -1) const;

    // Places the elements for a control of this size: at the design size as designed; with
    // more room the tab control, the frames and the lists grow by the extra width and height,
    // and every other element keeps its distance to the nearest edges of its container.
    void fitTo(const QSize& size);
    // The whole screen at `textScale` times its design (fonts, places, columns), fitted anew to
    // a control of `size`: a larger application font grows the layout with the text.
    void rescale(double textScale, const QSize& size);

    // Tab and Shift+Tab: the next (or previous) element of the tab showing, the strip among
    // them, in the design's focus order. At either end it wraps when `wrap`; otherwise it
    // returns false and leaves the move to the host's own focus chain.
    bool moveFocus(bool next, bool wrap);
    // The elements a Tab visits now, in order.
    std::vector<QWidget*> tabStops() const;
    TabControl* tabs() const { return tabs_; }
    QTreeView* listView(const std::string& name) const;
    ListModel* listModel(const std::string& name) const;

    void listReset(ui::ListView& list) override;
    void listLinesChanged(ui::ListView& list, int first, int last) override;
    void elementChanged(ui::Element& element) override;

    // Renders every text again in the language now installed, and places the elements anew.
    void retranslate();

private:
    struct ListBinding {
        QTreeView* view;
        ListModel* model;
    };

    void build(QWidget* host);
    QWidget* buildElement(const ui::ElementLayout& e, QWidget* parent);
    void buildList(const ui::ElementLayout& e, QTreeView* view);
    void chainFocus();
    // Names and descriptions for screen readers, in the language installed.
    void nameForScreenReaders();
    QRect placed(const ui::ElementLayout& e) const;
    void place(const ui::ElementLayout& e, QWidget* w);
    void fitColumns();
    void syncAll();
    void syncLabel(const ui::Label& label);
    void syncOptions();
    void syncCombo();
    void operatorInputDone();
    std::string_view buttonCaption(const ui::ElementLayout& e) const;

    ui::Screen& screen_;
    double textScale_;
    TwipScale scale_;
    TabControl* tabs_ = nullptr;
    QButtonGroup* options_ = nullptr;
    QComboBox* combo_ = nullptr;
    std::map<std::string, QWidget*, std::less<>> byName_;
    std::unordered_map<const ui::Label*, QLabel*> labels_;
    std::unordered_map<const ui::Button*, QPushButton*> buttons_;
    std::unordered_map<const ui::ListView*, ListBinding> lists_;
    std::vector<std::pair<int, QWidget*>> focusable_;
    std::vector<std::pair<const ui::ElementLayout*, QWidget*>> placedWidgets_;
    QSize design_;
    QSize extra_{0, 0};
};

}  // namespace eft::qt
