#include "widgets/Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {
QPixmap blank(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}
} // namespace

QPixmap Pictures::question(int size)
{
    QPixmap pm = blank(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // Bubble with its tail to the lower left.
    QPainterPath bubble;
    bubble.addEllipse(QRectF(2.5, 1.5, 27, 22));
    QPainterPath tail;
    tail.moveTo(7, 18);
    tail.lineTo(4, 30);
    tail.lineTo(15, 22);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    p.setPen(QPen(QColor(0xFF, 0xFF, 0xFF).darker(260), 1.2));
    p.setBrush(QColor::fromRgba(BubbleWhite));
    p.drawPath(bubble);

    // The question mark: a hook, a stem and a dot.
    QPen pen(QColor::fromRgba(QuestionMarkBlue), 3.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath hook;
    hook.moveTo(11.5, 9);
    hook.cubicTo(11.5, 3.5, 20.5, 3.5, 20.5, 8.5);
    hook.cubicTo(20.5, 12, 16, 12, 16, 15.5);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgba(QuestionMarkBlue));
    p.drawEllipse(QPointF(16, 19.7), 2.0, 2.0);
    return pm;
}

QPixmap Pictures::application(int size)
{
    QPixmap pm = blank(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    const QColor rim = QColor::fromRgba(WatchRim);

    // Crown and the two side buttons.
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawRoundedRect(QRectF(13, 0.5, 6, 3), 1, 1);
    p.drawRect(QRectF(14.8, 3, 2.4, 3));
    p.save();
    p.translate(16, 18);
    p.rotate(45);
    p.drawRoundedRect(QRectF(-1.6, -16.5, 3.2, 3.5), 0.8, 0.8);
    p.rotate(-90);
    p.drawRoundedRect(QRectF(-1.6, -16.5, 3.2, 3.5), 0.8, 0.8);
    p.restore();

    // Case and face.
    const QPointF c(16, 18.5);
    p.setBrush(rim);
    p.drawEllipse(c, 13, 13);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 10.5, 10.5);

    // Twelve marks, the quarters longer.
    for (int i = 0; i < 12; ++i) {
        const double a = qDegreesToRadians(i * 30.0);
        const double outer = 9.5, inner = (i % 3 == 0) ? 7.0 : 8.3;
        p.setPen(QPen(rim, i % 3 == 0 ? 1.4 : 0.8));
        p.drawLine(c + QPointF(qSin(a) * inner, -qCos(a) * inner),
                   c + QPointF(qSin(a) * outer, -qCos(a) * outer));
    }

    // The red seconds hand, pointing at about twenty seconds, and its hub.
    const double a = qDegreesToRadians(120.0);
    p.setPen(QPen(QColor::fromRgba(WatchHand), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c - QPointF(qSin(a) * 2.5, -qCos(a) * 2.5),
               c + QPointF(qSin(a) * 8.5, -qCos(a) * 8.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgba(WatchHand));
    p.drawEllipse(c, 1.8, 1.8);
    return pm;
}

QIcon Pictures::applicationIcon()
{
    QIcon icon;
    for (int s : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(application(s));
    return icon;
}

QPixmap Pictures::agree(int size)
{
    QPixmap pm = blank(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    p.setPen(QPen(QColor::fromRgba(TickGreen), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    p.drawPath(tick);
    return pm;
}
