// The widget on big lists: a fill of 100,000 member lines into the member list view, a
// column sort of them, and one operator tick. Each figure includes the view's own work
// (reset, item layout and the paint of the rows on screen), offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeView>
#include <string>

#include "control/eftmemb.h"
#include "eftmemb/eftmemb_widget.h"
#include "qt/list_model_p.h"

namespace {

constexpr int kLines = 100'000;

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
            const int member = 10'000 + (i * 7919) % lines;
            const std::string amount = std::to_string(member % 997) + "." + std::to_string(10 + member % 89);
            l.setSubItem(line, 1, "12/06/2026");
            l.setSubItem(line, 2, "0" + std::to_string(100 + i / 1000));
            l.setSubItem(line, 3, std::to_string(member));
            l.setSubItem(line, 4, member % 3 ? "Membership dues" : "Enrollment (NAC and franchise fee)");
            for (int k = 5; k <= 11; ++k) l.setSubItem(line, k, amount);
            l.setSubItem(line, 12, "Member " + std::to_string(member));
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
