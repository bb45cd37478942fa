#include "vexilo/views/PercentBarDelegate.h"

#include <QApplication>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>

namespace vexilo {

void PercentBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    bool converted = false;
    const int permille = index.model() != nullptr ? index.data(kPermilleRole).toInt(&converted) : 0;
    if (!converted) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(kBarInset, kBarInset, -kBarInset, -kBarInset);
    bar.minimum = 0;
    bar.maximum = 1000;
    bar.progress = std::clamp(permille, 0, 1000);
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    // Qt 6 reads the bar's orientation from its state; without the flag it fills upwards.
    bar.state = option.state | QStyle::State_Horizontal;
    const QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

}  // namespace vexilo
