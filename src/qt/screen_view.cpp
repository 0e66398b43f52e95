#include "qt/screen_view_p.h"

#include <QApplication>
#include <QButtonGroup>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTreeView>
#include <algorithm>

#include "control/eftmemb.h"
#include "qt/access_keys_p.h"
#include "qt/accessible_texts_p.h"
#include "qt/list_model_p.h"
#include "qt/tab_control_p.h"
#include "qt/translation_p.h"
#include "ui/layout.h"

namespace eft::qt {
namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string keyOf(std::string_view name, int index) {
    std::string key(name);
    if (index >= 0) key += "(" + std::to_string(index) + ")";
    return key;
}

}  // namespace

ScreenView::ScreenView(EFTMemb& control, QWidget* host)
    : screen_(control.screen()),
      textScale_(textScale(host->font())),
      scale_(host->logicalDpiX(), textScale_),
      design_(scale_.px(ui::kControlWidth), scale_.px(ui::kControlHeight)) {
    build(host);
    fitColumns();
    // The core's own construction left notices nobody needs: the widgets are read in full below.
    screen_.flush();
    syncAll();
    screen_.addObserver(this);
}

ScreenView::~ScreenView() {
    screen_.removeObserver(this);
    // The views may outlive this binding by a moment while their parent is torn down; they
    // must not read lines through adapters that are about to go.
    for (auto& [list, binding] : lists_) binding.view->setModel(nullptr);
}

QWidget* ScreenView::widget(const std::string& name, int index) const {
    auto it = byName_.find(keyOf(name, index));
    return it == byName_.end() ? nullptr : it->second;
}

QTreeView* ScreenView::listView(const std::string& name) const {
    for (const auto& [list, binding] : lists_)
        if (list->name() == name) return binding.view;
    return nullptr;
}

ListModel* ScreenView::listModel(const std::string& name) const {
    for (const auto& [list, binding] : lists_)
        if (list->name() == name) return binding.model;
    return nullptr;
}

// Building ---------------------------------------------------------------------------------

void ScreenView::build(QWidget* host) {
    const ui::ElementLayout* tab = ui::findLayout("tabEFT");
    tabs_ = new TabControl(ui::kTabCaptions, host);
    tabs_->setObjectName(QStringLiteral("tabEFT"));
    if (tab) {
        tabs_->setFont(designFont(tab->font, textScale_));
        place(*tab, tabs_);
        focusable_.emplace_back(tab->focusOrder, tabs_->bar());
    }
    byName_["tabEFT"] = tabs_;
    connect(tabs_, &TabControl::tabChosen, this, [this](int index) {
        const QPointer<ScreenView> alive(this);
        screen_.tabEFT.operatorSelect(index);
        if (!alive) return;  // the host destroyed the control during the request
        operatorInputDone();
        // A refused choice puts the strip back where the model stands.
        tabs_->sync(screen_.tabEFT);
    });

    // Frames first, so that every element finds its container whatever the order of the data.
    std::map<std::string_view, QWidget*> frames;
    for (const ui::ElementLayout& e : ui::screenLayout()) {
        if (e.kind != ui::LayoutKind::Frame) continue;
        QWidget* page = tabs_->page(e.tab);
        auto* frame = new QGroupBox(page ? page : host);
        frame->setObjectName(toQString(e.name));
        frame->setFont(designFont(e.font, textScale_));
        place(e, frame);
        frames[e.name] = frame;
        byName_[std::string(e.name)] = frame;
    }
    for (const ui::ElementLayout& e : ui::screenLayout()) {
        if (e.kind == ui::LayoutKind::Frame || e.kind == ui::LayoutKind::TabControl) continue;
        QWidget* parent = tabs_->page(e.tab);
        if (!e.container.empty()) {
            auto it = frames.find(e.container);
            if (it != frames.end()) parent = it->second;
        }
        QWidget* w = buildElement(e, parent ? parent : host);
        if (!w) continue;
        w->setObjectName(toQString(keyOf(e.name, e.index)));
        w->setFont(designFont(e.font, textScale_));
        place(e, w);
        byName_[keyOf(e.name, e.index)] = w;
    }
    chainFocus();
    nameForScreenReaders();
}

void ScreenView::nameForScreenReaders() {
    for (const auto& [e, w] : placedWidgets_) {
        const AccessibleText* t = accessibleText(e->name, e->index);
        if (!t) continue;
        QWidget* target = w == tabs_ ? tabs_->bar() : w;
        if (!t->name.empty()) target->setAccessibleName(translated(t->name));
        if (!t->description.empty()) target->setAccessibleDescription(translated(t->description));
    }
    for (int i = 0; i < tabs_->pageCount(); ++i)
        tabs_->page(i)->setAccessibleName(withoutAccessKeys(translated(ui::kTabCaptions[static_cast<std::size_t>(i)])));
}

// Placing -----------------------------------------------------------------------------------

QRect ScreenView::placed(const ui::ElementLayout& e) const {
    QRect r = scale_.rect(e.rect);
    const bool grows = e.kind == ui::LayoutKind::TabControl || e.kind == ui::LayoutKind::Frame ||
                       e.kind == ui::LayoutKind::ListView;
    if (grows) return r.adjusted(0, 0, extra_.width(), extra_.height());
    // Every container grows by the same extra room as the tab control.
    const ui::ElementLayout* container = e.container.empty() ? ui::findLayout("tabEFT") : ui::findLayout(e.container);
    const QSize room = container ? scale_.rect(container->rect).size() : design_;
    const int dx = 2 * r.center().x() > room.width() ? extra_.width() : 0;
    const int dy = 2 * r.center().y() > room.height() ? extra_.height() : 0;
    return r.translated(dx, dy);
}

void ScreenView::place(const ui::ElementLayout& e, QWidget* w) {
    QRect r = placed(e);
    if (e.kind == ui::LayoutKind::OptionButton) {
        // Option buttons keep their caption and indicator whole when the font in use runs
        // taller than the design's: they grow about their design centre.
        const QSize hint = w->sizeHint();
        const int h = std::max(r.height(), hint.height());
        r = QRect(r.x(), r.center().y() - (h - 1) / 2, std::max(r.width(), hint.width()), h);
    } else if (e.kind == ui::LayoutKind::Label) {
        // Totals outgrow their design width; a label widens to its caption instead of cutting
        // the amount off, and never shrinks below the design.
        r.setSize(r.size().expandedTo(w->sizeHint()));
    }
    w->setGeometry(r);
    auto known = std::find_if(placedWidgets_.begin(), placedWidgets_.end(), [w](const auto& p) { return p.second == w; });
    if (known == placedWidgets_.end()) placedWidgets_.emplace_back(&e, w);
}

void ScreenView::fitTo(const QSize& size) {
    const QSize extra = (size - design_).expandedTo(QSize(0, 0));
    if (extra == extra_) return;
    extra_ = extra;
    for (const auto& [e, w] : placedWidgets_) place(*e, w);
    fitColumns();
}

void ScreenView::rescale(double textScale, const QSize& size) {
    if (textScale == textScale_) return;
    QWidget* host = tabs_->parentWidget();
    textScale_ = textScale;
    scale_ = TwipScale(host->logicalDpiX(), textScale_);
    design_ = QSize(scale_.px(ui::kControlWidth), scale_.px(ui::kControlHeight));
    extra_ = (size - design_).expandedTo(QSize(0, 0));
    // Fonts first: a label and an option are placed by the room their text needs.
    for (const auto& [e, w] : placedWidgets_) w->setFont(designFont(e->font, textScale_));
    for (const auto& [e, w] : placedWidgets_) place(*e, w);
    for (auto& [list, binding] : lists_)
        for (int c = 0; c < binding.model->columnCount(); ++c)
            binding.view->setColumnWidth(c, scale_.px(binding.model->columnWidthTwips(c)));
    fitColumns();
    // The batch box's list opens as wide as its entries in the new font.
    if (combo_) combo_->view()->setMinimumWidth(combo_->view()->sizeHintForColumn(0) + 4 * combo_->view()->frameWidth());
}

void ScreenView::fitColumns() {
    // The lists grow with the window; the room they gain goes to their name column, so the
    // columns do not stay squeezed on the left of a wide list.
    for (auto& [list, binding] : lists_) {
        const ui::ElementLayout* e = ui::findLayout(list->name());
        if (!e) continue;
        QTreeView* view = binding.view;
        int designed = 0;
        for (const ui::Column& c : e->columns) designed += scale_.px(c.width);
        const int room = view->width() - 2 * view->frameWidth() - view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const int spare = std::max(0, room - designed);
        for (std::size_t c = 0; c < e->columns.size(); ++c)
            if (e->columns[c].stretches) view->setColumnWidth(static_cast<int>(c), scale_.px(e->columns[c].width) + spare);
    }
}

// Keyboard focus ----------------------------------------------------------------------------

std::vector<QWidget*> ScreenView::tabStops() const {
    std::vector<QWidget*> stops;
    for (const auto& [order, w] : focusable_)
        if (w->isVisible() && w->isEnabled()) stops.push_back(w);
    return stops;
}

bool ScreenView::moveFocus(bool next, bool wrap) {
    const std::vector<QWidget*> stops = tabStops();
    if (stops.empty()) return false;
    // The element holding the focus: the focus widget itself or the element it lies in (the
    // line editor of a combo box, say).
    QWidget* focus = QApplication::focusWidget();
    auto at = stops.end();
    for (QWidget* w = focus; w && at == stops.end(); w = w->parentWidget()) at = std::find(stops.begin(), stops.end(), w);
    std::size_t target = 0;
    if (at == stops.end()) {
        target = next ? 0 : stops.size() - 1;
    } else {
        const auto i = static_cast<std::size_t>(at - stops.begin());
        const bool atEnd = next ? i + 1 == stops.size() : i == 0;
        if (atEnd && !wrap) return false;
        target = next ? (i + 1) % stops.size() : (i + stops.size() - 1) % stops.size();
    }
    stops[target]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

QWidget* ScreenView::buildElement(const ui::ElementLayout& e, QWidget* parent) {
    const std::string name(e.name);
    switch (e.kind) {
    case ui::LayoutKind::Label: {
        auto* model = dynamic_cast<ui::Label*>(screen_.find(name));
        if (!model) return nullptr;
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        labels_[model] = label;
        return label;
    }
    case ui::LayoutKind::Button: {
        auto* model = dynamic_cast<ui::Button*>(screen_.find(name));
        if (!model) return nullptr;
        auto* button = new QPushButton(withAccessKey(e.name, e.index, model->caption()), parent);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, model] {
            const QPointer<ScreenView> alive(this);
            model->operatorClick();
            if (!alive) return;
            operatorInputDone();
        });
        buttons_[model] = button;
        focusable_.emplace_back(e.focusOrder, button);
        return button;
    }
    case ui::LayoutKind::OptionButton: {
        if (!options_) options_ = new QButtonGroup(this);
        auto* option = new QRadioButton(withAccessKey(e.name, e.index, e.caption), parent);
        options_->addButton(option, e.index);
        const auto index = static_cast<std::int16_t>(e.index);
        connect(option, &QRadioButton::clicked, this, [this, index] {
            const QPointer<ScreenView> alive(this);
            screen_.optCountry.operatorChoose(index);
            if (!alive) return;
            operatorInputDone();
            syncOptions();
        });
        focusable_.emplace_back(e.focusOrder, option);
        return option;
    }
    case ui::LayoutKind::ComboBox: {
        combo_ = new QComboBox(parent);
        combo_->setEditable(false);
        connect(combo_, &QComboBox::activated, this, [this](int index) {
            const QPointer<ScreenView> alive(this);
            screen_.cmbBatches.operatorChoose(index);
            if (!alive) return;
            operatorInputDone();
            syncCombo();
        });
        focusable_.emplace_back(e.focusOrder, combo_);
        return combo_;
    }
    case ui::LayoutKind::ListView: {
        auto* view = new QTreeView(parent);
        buildList(e, view);
        focusable_.emplace_back(e.focusOrder, view);
        return view;
    }
    case ui::LayoutKind::TabControl:
    case ui::LayoutKind::Frame:
        break;
    }
    return nullptr;
}

void ScreenView::buildList(const ui::ElementLayout& e, QTreeView* view) {
    auto* list = dynamic_cast<ui::ListView*>(screen_.find(std::string(e.name)));
    if (!list) return;
    auto* model = new ListModel(screen_, *list, e.columns, this);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The core sorts; Qt's own sorting would show an order the core does not know.
    view->setSortingEnabled(false);
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setMinimumSectionSize(0);
    for (int c = 0; c < model->columnCount(); ++c) {
        view->setColumnWidth(c, scale_.px(model->columnWidthTwips(c)));
        view->setColumnHidden(c, model->isColumnHidden(c));
    }
    lists_[list] = ListBinding{view, model};
    // The current line's tip goes to the host window's status line too (a QMainWindow shows
    // it), so a keyboard user reads it without hovering; a line without one clears it.
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, view,
            [view](const QModelIndex& current, const QModelIndex& previous) {
                const QString tip = current.data(Qt::StatusTipRole).toString();
                if (tip.isEmpty() && previous.data(Qt::StatusTipRole).toString().isEmpty()) return;
                QStatusTipEvent event(tip);
                QCoreApplication::sendEvent(view, &event);
            });
    connect(header, &QHeaderView::sectionClicked, this, [this, list](int section) {
        const QPointer<ScreenView> alive(this);
        list->operatorColumnClick(section + 1);
        if (!alive) return;
        operatorInputDone();
    });
}

void ScreenView::chainFocus() {
    std::stable_sort(focusable_.begin(), focusable_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable_.size(); ++i)
        QWidget::setTabOrder(focusable_[i - 1].second, focusable_[i].second);
}

// Reading the models -----------------------------------------------------------------------

void ScreenView::syncAll() {
    tabs_->sync(screen_.tabEFT);
    for (const auto& [model, label] : labels_) syncLabel(*model);
    for (const auto& [model, button] : buttons_) button->setEnabled(model->enabled());
    syncOptions();
    syncCombo();
    for (auto& [list, binding] : lists_) binding.model->linesReset();
}

void ScreenView::syncLabel(const ui::Label& model) {
    auto it = labels_.find(&model);
    if (it == labels_.end()) return;
    QLabel* label = it->second;
    label->setText(translated(model.caption()));
    label->setHidden(!model.visible());
    if (const ui::ElementLayout* e = ui::findLayout(model.name())) place(*e, label);
}

void ScreenView::syncOptions() {
    if (!options_) return;
    if (QAbstractButton* chosen = options_->button(screen_.optCountry.chosen())) chosen->setChecked(true);
}

void ScreenView::syncCombo() {
    if (!combo_) return;
    const ui::ComboBox& model = screen_.cmbBatches;
    const QSignalBlocker block(combo_);
    const auto& entries = model.entries();
    bool same = combo_->count() == static_cast<int>(entries.size());
    for (int i = 0; same && i < combo_->count(); ++i)
        same = combo_->itemText(i) == translated(entries[static_cast<std::size_t>(i)].text) &&
               combo_->itemData(i).toInt() == entries[static_cast<std::size_t>(i)].data &&
               combo_->itemData(i, Qt::ToolTipRole).toString() == withoutAccessKeys(translated(entries[static_cast<std::size_t>(i)].tip));
    if (!same) {
        combo_->clear();
        for (const auto& entry : entries) {
            combo_->addItem(translated(entry.text), entry.data);
            if (!entry.tip.empty()) combo_->setItemData(combo_->count() - 1, withoutAccessKeys(translated(entry.tip)), Qt::ToolTipRole);
        }
        // The entries name their country at their end: the list opens wide enough to show it.
        combo_->view()->setMinimumWidth(combo_->view()->sizeHintForColumn(0) + 4 * combo_->view()->frameWidth());
    }
    combo_->setCurrentIndex(model.selected());
    combo_->setEnabled(model.enabled());
}

void ScreenView::operatorInputDone() { screen_.flush(); }

void ScreenView::retranslate() {
    for (const auto& [e, w] : placedWidgets_) {
        if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(withAccessKey(e->name, e->index, buttonCaption(*e)));
    }
    tabs_->sync(screen_.tabEFT);
    for (const auto& [model, label] : labels_) syncLabel(*model);
    syncCombo();
    for (auto& [list, binding] : lists_) binding.model->captionsChanged();
    for (const auto& [e, w] : placedWidgets_) place(*e, w);
    nameForScreenReaders();
}

std::string_view ScreenView::buttonCaption(const ui::ElementLayout& e) const {
    if (e.kind == ui::LayoutKind::Button)
        if (auto* model = dynamic_cast<ui::Button*>(screen_.find(std::string(e.name)))) return model->caption();
    return e.caption;
}

// The core's notices --------------------------------------------------------------------------

void ScreenView::listReset(ui::ListView& list) {
    auto it = lists_.find(&list);
    if (it != lists_.end()) it->second.model->linesReset();
}

void ScreenView::listLinesChanged(ui::ListView& list, int first, int last) {
    auto it = lists_.find(&list);
    if (it != lists_.end()) it->second.model->linesChanged(first, last);
}

void ScreenView::elementChanged(ui::Element& element) {
    switch (element.kind()) {
    case ui::ElementKind::TabStrip:
        tabs_->sync(screen_.tabEFT);
        break;
    case ui::ElementKind::Label:
        syncLabel(static_cast<const ui::Label&>(element));
        break;
    case ui::ElementKind::Button: {
        auto it = buttons_.find(&static_cast<const ui::Button&>(element));
        if (it != buttons_.end()) it->second->setEnabled(it->first->enabled());
        break;
    }
    case ui::ElementKind::OptionGroup:
        syncOptions();
        break;
    case ui::ElementKind::ComboBox:
        syncCombo();
        break;
    case ui::ElementKind::ListView:
    case ui::ElementKind::Frame:
        // Sorting switched on or a new key: the lines follow with their own reset.
        break;
    }
}

}  // namespace eft::qt
