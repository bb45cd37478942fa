#pragma once

#include <QStyledItemDelegate>

namespace vexilo {

// Draws a cell as a progress bar whose fill is the model's share in thousandths
// (Qt::UserRole + 1, 1000 = 100 %) and whose label is the cell's display text.
class PercentBarDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int kPermilleRole = Qt::UserRole + 1;
    static constexpr int kBarInset = 4;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace vexilo
