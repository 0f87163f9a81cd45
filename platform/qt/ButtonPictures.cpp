#include "ButtonPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
QPixmap blank()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}
} // namespace

QIcon checkMarkPicture()
{
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 128, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
    return QIcon(pm);
}

QIcon exitDoorPicture()
{
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Door frame and the opened leaf.
    p.setPen(QPen(QColor(90, 60, 30), 1));
    p.setBrush(QColor(60, 40, 20));
    p.drawRect(QRectF(8.5, 1.5, 6, 13));
    p.setBrush(QColor(190, 140, 80));
    p.drawPolygon(QPolygonF({QPointF(8.5, 1.5), QPointF(12.5, 3.5), QPointF(12.5, 15.5), QPointF(8.5, 14.5)}));
    // Green arrow pointing into the door.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 160, 0));
    QPainterPath arrow;
    arrow.moveTo(0.5, 6.5);
    arrow.lineTo(5.5, 6.5);
    arrow.lineTo(5.5, 4.0);
    arrow.lineTo(10.0, 8.0);
    arrow.lineTo(5.5, 12.0);
    arrow.lineTo(5.5, 9.5);
    arrow.lineTo(0.5, 9.5);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return QIcon(pm);
}
