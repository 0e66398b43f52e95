#pragma once
// ListModel: one list-view model of the core as a Qt table model. Column 0 is the line's own
// text with its check box, column k is sub-item k; captions, alignment and the check state
// come from the layout data and the core's lines.
//
// The core changes its lines first and reports them at its next flush, so the adapter keeps
// the row count the views last learned and changes it only inside a reset: between a change
// and its notice the views never see rows appear or vanish.
//
// Ownership: the adapter refers to the screen and the list it presents; both must outlive it.
#include <QAbstractTableModel>
#include <span>

#include "ui/layout.h"
#include "ui/screen.h"

namespace eft::qt {

class ListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    ListModel(ui::Screen& screen, ui::ListView& list, std::span<const ui::Column> columns,
              QObject* parent = nullptr);

    ui::ListView& list() const { return list_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // A check box the operator changes goes to the core as ItemCheck; nothing else is editable.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The core's notices, forwarded by the screen binding.
    void linesReset();
    // The column captions read differently (another language).
    void captionsChanged();
    void linesChanged(int first, int last);

    // The columns the operator must never see (zero width in the layout).
    bool isColumnHidden(int column) const;
    int columnWidthTwips(int column) const;

private:
    const ui::ListView::Line* lineAt(int row) const;

    ui::Screen& screen_;
    ui::ListView& list_;
    std::span<const ui::Column> columns_;
    int rows_ = 0;
};

}  // namespace eft::qt
