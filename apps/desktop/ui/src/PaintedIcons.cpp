#include "PaintedIcons.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QLineF>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QRectF>

#include <functional>

namespace vexilo {
namespace {

constexpr int kIconSize = 32;
const QColor kIconInk(45, 45, 45, 255);

QIcon paintIcon(qreal penWidth, const std::function<void(QPainter&)>& draw)
{
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(QBrush(kIconInk), penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        draw(painter);
    }
    return QIcon(pixmap);
}

}  // namespace

QIcon makeActualSizeIcon()
{
    return paintIcon(1.8, [](QPainter& painter) {
        painter.drawRoundedRect(QRectF(6.5, 7.5, 19.0, 17.0), 2.0, 2.0, Qt::AbsoluteSize);
        QFont font = painter.font();
        font.setPixelSize(8);
        font.setWeight(QFont::Bold);
        painter.setFont(font);
        painter.drawText(QRectF(6.0, 7.0, 20.0, 18.0), Qt::AlignCenter, QStringLiteral("1:1"));
    });
}

QIcon makeFitToWindowIcon()
{
    return paintIcon(2.2, [](QPainter& painter) {
        const QLineF brackets[] = {
            {8, 8, 15, 8},    {8, 8, 8, 15},    {24, 8, 17, 8},   {24, 8, 24, 15},
            {8, 24, 15, 24},  {8, 24, 8, 17},   {24, 24, 17, 24}, {24, 24, 24, 17},
        };
        for (const QLineF& line : brackets) {
            painter.drawLine(line);
        }
    });
}

QIcon makeZoomIcon(bool zoomIn)
{
    return paintIcon(2.2, [zoomIn](QPainter& painter) {
        painter.drawEllipse(QRectF(7.5, 6.5, 13.0, 13.0));
        painter.drawLine(QLineF(18.5, 18.5, 25.0, 25.0));
        painter.drawLine(QLineF(11.5, 13.0, 16.5, 13.0));
        if (zoomIn) {
            painter.drawLine(QLineF(14.0, 10.5, 14.0, 15.5));
        }
    });
}

}  // namespace vexilo
