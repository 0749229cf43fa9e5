#include "timing/display/BarrierIcons.h"

#include <QPainter>

QPixmap barrierIcon(int lockState)
{
    QPixmap pm(30, 30);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    const bool free = lockState == 1;
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(free ? QColor(0, 170, 0) : QColor(220, 0, 0));
    p.drawEllipse(QRectF(1, 1, 28, 28));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    if (free)
        p.drawRect(12, 6, 6, 18); // vertical bar: the way is open
    else
        p.drawRect(6, 12, 18, 6); // horizontal bar: no entry
    return pm;
}

QPixmap barrierIconNotConnected()
{
    QPixmap pm(30, 30);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(120, 120, 120));
    p.drawEllipse(QRectF(1, 1, 28, 28));
    // A cross: no line to the barrier.
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(9, 9), QPointF(21, 21));
    p.drawLine(QPointF(21, 9), QPointF(9, 21));
    return pm;
}
