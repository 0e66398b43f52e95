#include "widget_fixture.h"

#include <QTest>

namespace eft::qt::test {

void WidgetTest::clickTab(int index) {
    QTabBar* bar = tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

void WidgetTest::tick(const char* list, int row, bool checked) {
    ListModel* m = model(list);
    m->setData(m->index(row, 0), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

std::vector<std::string> WidgetTest::targets(const std::string& method) const {
    std::vector<std::string> out;
    for (const auto& r : server.requests())
        if (r.method == method) out.push_back(r.target);
    return out;
}

std::vector<std::string> WidgetTest::titles() const {
    std::vector<std::string> out;
    for (const auto& b : boxes) out.push_back(b.title);
    return out;
}

QStringList WidgetTest::column(const char* list, int column) {
    ListModel* m = model(list);
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, column).data().toString();
    return out;
}

QStringList WidgetTest::headers(const char* list) {
    QTreeView* v = view(list);
    QStringList out;
    for (int c = 0; c < v->model()->columnCount(); ++c)
        if (!v->isColumnHidden(c)) out << v->model()->headerData(c, Qt::Horizontal).toString();
    return out;
}

}  // namespace eft::qt::test
