// The widget on big lists: a fill of 100,000 member lines into the member list view, a
// column sort of them, and one operator tick. Each figure includes the view's own work
// (reset, item layout and the paint of the rows on screen), offscreen.
//
// The anchor, BM_FillBareTreeView, fills the same texts into the leanest model a QTreeView
// can show (one flat vector of strings) and shows them the same way: the fill's ratio to it
// is what the control's lines cost beyond the texts themselves.
#include <benchmark/benchmark.h>

#include <QAbstractTableModel>
#include <QApplication>
#include <QTreeView>
#include <string>
#include <vector>

#include "control/eftmemb.h"
#include "eftmemb/eftmemb_widget.h"
#include "qt/list_model_p.h"

namespace {

constexpr int kLines = 100'000;
constexpr int kSubItems = 12;

// The texts the control writes into member line `i` of `lines`: dates, center and member
// numbers, sources, amounts and names. `put(k, text)` takes sub-item k.
template <typename Put>
void memberTexts(int i, int lines, Put&& put) {
    const int member = 10'000 + (i * 7919) % lines;
    const std::string amount = std::to_string(member % 997) + "." + std::to_string(10 + member % 89);
    put(1, "12/06/2026");
    put(2, "0" + std::to_string(100 + i / 1000));
    put(3, std::to_string(member));
    put(4, member % 3 ? "Membership dues" : "Enrollment (NAC and franchise fee)");
    for (int k = 5; k <= 11; ++k) put(k, std::string(amount));
    put(12, "Member " + std::to_string(member));
}

// A table model with nothing but the texts.
class BareModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kSubItems + 1; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || index.column() == 0) return {};
        const std::string& text = cells_[static_cast<std::size_t>(index.row() * kSubItems + index.column() - 1)];
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    void fill(int lines) {
        beginResetModel();
        cells_.clear();
        cells_.reserve(static_cast<std::size_t>(lines) * kSubItems);
        for (int i = 0; i < lines; ++i)
            memberTexts(i, lines, [this](int, std::string text) { cells_.push_back(std::move(text)); });
        rows_ = lines;
        endResetModel();
    }

private:
    std::vector<std::string> cells_;
    int rows_ = 0;
};

// The member list of the control, shown on its tab as "&Details" leaves it.
class MemberListView {
public:
    MemberListView() {
        widget_.setMessageBoxHandler([](const eft::MessageBoxRequest&) { return eft::MsgAnswer::Ok; });
        widget_.show();
        eft::ui::TabStrip& tabs = screen().tabEFT;
        tabs.setVisible(1, true);
        tabs.select(1);
        screen().flush();
        view_ = qobject_cast<QTreeView*>(widget_.elementWidget(QStringLiteral("lstEFTMember")));
        settle();
    }

    eft::ui::Screen& screen() { return widget_.control().screen(); }
    eft::ui::ListView& list() { return screen().lstEFTMember; }
    QTreeView* view() const { return view_; }

    // Lines with the texts the control writes: dates, center and member numbers, sources,
    // amounts and names.
    void fill(int lines) {
        eft::ui::ListView& l = list();
        l.clear();
        l.reserve(static_cast<std::size_t>(lines));
        for (int i = 0; i < lines; ++i) {
            const int line = l.addLine();
            memberTexts(i, lines, [&](int k, std::string text) { l.setSubItem(line, k, std::move(text)); });
        }
        screen().flush();
    }

    // The view catches up: pending events, the item layout, and a paint of what is visible.
    void settle() {
        QCoreApplication::processEvents();
        view_->doItemsLayout();
        view_->viewport()->repaint();
    }

private:
    eft::qt::EftMembWidget widget_;
    QTreeView* view_ = nullptr;
};

void BM_FillMemberList(benchmark::State& state) {
    MemberListView v;
    for (auto _ : state) {
        v.fill(kLines);
        v.settle();
    }
    if (v.view()->model()->rowCount() != kLines) state.SkipWithError("the view did not get the lines");
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_FillMemberList)->Unit(benchmark::kMillisecond);

void BM_FillBareTreeView(benchmark::State& state) {
    QTreeView view;
    BareModel model;
    view.setModel(&model);
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.resize(588, 416);
    view.show();
    for (auto _ : state) {
        model.fill(kLines);
        QCoreApplication::processEvents();
        view.doItemsLayout();
        view.viewport()->repaint();
    }
    if (model.rowCount() != kLines) state.SkipWithError("the view did not get the lines");
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_FillBareTreeView)->Unit(benchmark::kMillisecond);

// The view's share of a fill or a sort: one reset of 100,000 lines and the layout after it.
void BM_ResetMemberListView(benchmark::State& state) {
    MemberListView v;
    v.fill(kLines);
    v.settle();
    auto* model = qobject_cast<eft::qt::ListModel*>(v.view()->model());
    for (auto _ : state) {
        model->linesReset();
        v.settle();
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ResetMemberListView)->Unit(benchmark::kMillisecond);

void BM_SortMemberList(benchmark::State& state) {
    MemberListView v;
    v.fill(kLines);
    v.settle();
    // Alternating between two columns makes every sort a real one.
    int position = 6;  // "Total"
    for (auto _ : state) {
        position = position == 6 ? 13 : 6;  // "Member Name", "Total"
        v.list().operatorColumnClick(position);
        v.settle();
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_SortMemberList)->Unit(benchmark::kMillisecond);

void BM_TickMemberLine(benchmark::State& state) {
    MemberListView v;
    v.fill(kLines);
    v.settle();
    auto* model = qobject_cast<eft::qt::ListModel*>(v.view()->model());
    bool checked = true;
    for (auto _ : state) {
        // The line on screen, ticked and cleared in turn, as the view's delegate hands it over.
        model->setData(model->index(3, 0), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        checked = !checked;
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_TickMemberLine)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
