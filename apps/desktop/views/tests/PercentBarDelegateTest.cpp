#include "vexilo/views/PercentBarDelegate.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

using vexilo::PercentBarDelegate;

namespace {

constexpr QSize kCellSize{200, 24};

QImage paintCell(const QStyledItemDelegate& delegate, const QModelIndex& index) {
    QImage image(kCellSize, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = QRect(QPoint(0, 0), kCellSize);
    option.state = QStyle::State_Enabled;
    delegate.paint(&painter, option, index);
    return image;
}

// How many columns of the cell's middle row differ from the unfilled bar's.
int filledColumns(const QImage& bar, const QImage& emptyBar) {
    int columns = 0;
    for (int x = 0; x < bar.width(); ++x) {
        columns += bar.pixel(x, bar.height() / 2) != emptyBar.pixel(x, bar.height() / 2) ? 1 : 0;
    }
    return columns;
}

}  // namespace

class PercentBarDelegateTest : public QObject {
    Q_OBJECT

private slots:
    void fillFollowsThePermilleRole() {
        QStandardItemModel model(4, 1);
        const std::array permilles{0, 250, 1000, 1700};
        for (int row = 0; row < 4; ++row) {
            model.setData(model.index(row, 0), QString(), Qt::DisplayRole);
            model.setData(model.index(row, 0), permilles[static_cast<std::size_t>(row)],
                          PercentBarDelegate::kPermilleRole);
        }
        PercentBarDelegate delegate;
        const QImage empty = paintCell(delegate, model.index(0, 0));
        const int quarter = filledColumns(paintCell(delegate, model.index(1, 0)), empty);
        const int full = filledColumns(paintCell(delegate, model.index(2, 0)), empty);
        QVERIFY(quarter > 0);
        QVERIFY2(full > 3 * quarter, qPrintable(QStringLiteral("quarter %1, full %2").arg(quarter).arg(full)));
        // Above 1000 the bar is clamped to full.
        QCOMPARE(paintCell(delegate, model.index(3, 0)), paintCell(delegate, model.index(2, 0)));
    }

    void cellsWithoutAShareArePaintedAsUsual() {
        QStandardItemModel model(1, 1);
        model.setData(model.index(0, 0), QStringLiteral("42.5%"), Qt::DisplayRole);
        PercentBarDelegate delegate;
        QStyledItemDelegate plain;
        QCOMPARE(paintCell(delegate, model.index(0, 0)), paintCell(plain, model.index(0, 0)));
    }
};

VEXILO_QT_TEST(PercentBarDelegateTest)
#include "PercentBarDelegateTest.moc"
