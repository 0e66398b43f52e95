#pragma once
// ScreenView: the Qt widgets of the fixed screen, built from the layout data, and their
// binding to the core's element models. Operator input goes to the model as the element's
// event; the core's coalesced notices re-read the models into the widgets. Changes made here
// on the core's behalf never come back to it as operator input.
//
// Ownership: the widgets are children of the host widget; the list adapters are owned here.
// The control must outlive the view.
#include <QObject>
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
    TabControl* tabs() const { return tabs_; }
    QTreeView* listView(const std::string& name) const;
    ListModel* listModel(const std::string& name) const;

    void listReset(ui::ListView& list) override;
    void listLinesChanged(ui::ListView& list, int first, int last) override;
    void elementChanged(ui::Element& element) override;

private:
    struct ListBinding {
        QTreeView* view;
        ListModel* model;
    };

    void build(QWidget* host);
    QWidget* buildElement(const ui::ElementLayout& e, QWidget* parent);
    void buildList(const ui::ElementLayout& e, QTreeView* view);
    void chainFocus();
    void syncAll();
    void syncLabel(const ui::Label& label);
    void syncOptions();
    void syncCombo();
    void operatorInputDone();

    ui::Screen& screen_;
    TwipScale scale_;
    TabControl* tabs_ = nullptr;
    QButtonGroup* options_ = nullptr;
    QComboBox* combo_ = nullptr;
    std::map<std::string, QWidget*, std::less<>> byName_;
    std::unordered_map<const ui::Label*, QLabel*> labels_;
    std::unordered_map<const ui::Button*, QPushButton*> buttons_;
    std::unordered_map<const ui::ListView*, ListBinding> lists_;
    std::vector<std::pair<int, QWidget*>> focusable_;
};

}  // namespace eft::qt
