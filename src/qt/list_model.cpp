#include "qt/list_model_p.h"

#include <algorithm>

#include "qt/layout_metrics_p.h"
#include "qt/translation_p.h"
#include "qt/accessible_texts_p.h"

namespace eft::qt {
namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ListModel::ListModel(ui::Screen& screen, ui::ListView& list, std::span<const ui::Column> columns, QObject* parent)
    : QAbstractTableModel(parent), screen_(screen), list_(list), columns_(columns), rows_(list.lineCount()) {}

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

const ui::ListView::Line* ListModel::lineAt(int row) const {
    // A row the views know of may be gone in the core until the pending reset arrives.
    if (row < 0 || row >= rows_ || row >= list_.lineCount()) return nullptr;
    return &list_.line(row);
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    const ui::ListView::Line* line = lineAt(index.row());
    if (!line) return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (column == 0) return toQString(line->text);
        if (static_cast<std::size_t>(column - 1) < line->sub.size())
            return toQString(line->sub[static_cast<std::size_t>(column - 1)]);
        return {};
    case Qt::CheckStateRole:
        if (column == 0) return line->checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::AccessibleTextRole: {
        // The tick's cell reads the whole line; every other cell its caption and value.
        if (column == 0) {
            QStringList values{toQString(line->text)};
            for (std::string_view s : line->sub) values << toQString(s);
            const QString spoken = spokenLine(list_.name(), values, line->checked);
            return line->tip.empty() ? spoken : spoken + QStringLiteral(", ") + translated(line->tip);
        }
        const QString value = data(index, Qt::DisplayRole).toString();
        const QString caption = headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().trimmed();
        return caption.isEmpty() ? value : caption + QStringLiteral(" ") + value;
    }
    case Qt::TextAlignmentRole:
        return static_cast<int>(alignmentOf(columns_[static_cast<std::size_t>(column)].align));
    case Qt::ToolTipRole:
    case Qt::StatusTipRole:
        if (line->tip.empty()) return {};
        return translated(line->tip);
    default:
        return {};
    }
}

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0 || !lineAt(index.row())) return false;
    const bool checked = value.toInt() == Qt::Checked;
    const bool accepted = list_.operatorSetChecked(index.row(), checked);
    // A list without an ItemCheck handler raises no event, so nothing else would flush the
    // changed tick to the views.
    screen_.flush();
    return accepted;
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    // A locked line shows its tick and says why in its tip; the operator cannot change it.
    const ui::ListView::Line* line = lineAt(index.row());
    if (index.column() == 0 && !(line && line->locked)) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const ui::Column& c = columns_[static_cast<std::size_t>(section)];
    switch (role) {
    case Qt::DisplayRole:
        return translated(c.caption);
    case Qt::TextAlignmentRole:
        return static_cast<int>(alignmentOf(c.align));
    default:
        return {};
    }
}

void ListModel::captionsChanged() {
    if (columnCount() > 0) Q_EMIT headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void ListModel::linesReset() {
    beginResetModel();
    rows_ = list_.lineCount();
    endResetModel();
}

void ListModel::linesChanged(int first, int last) {
    last = std::min(last, rows_ - 1);
    if (first < 0 || first > last) return;
    Q_EMIT dataChanged(index(first, 0), index(last, columnCount() - 1));
}

bool ListModel::isColumnHidden(int column) const { return columnWidthTwips(column) == 0; }

int ListModel::columnWidthTwips(int column) const {
    if (column < 0 || column >= columnCount()) return 0;
    return columns_[static_cast<std::size_t>(column)].width;
}

}  // namespace eft::qt
