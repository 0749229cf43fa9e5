#include "widgets/Udigit.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr quint8 kDigitPatterns[10] = {125, 80, 55, 87, 90, 79, 111, 81, 127, 95};
}

TDigit::TDigit(QWidget *parent) : QWidget(parent)
{
    // Every paint covers the whole rectangle, so Qt need not clear what lies behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    resize(16, 32);
}

quint8 TDigit::digitPattern(int digit)
{
    return (digit >= 0 && digit <= 9) ? kDigitPatterns[digit] : kDigitPatterns[0];
}

void TDigit::setValue(int v)
{
    // Compared with the stored value, not with the pattern: a pattern set directly is
    // left alone by setting the same value again.
    if (v == m_value)
        return;
    const bool overflow = v < 0 || v > 9;
    m_value = overflow ? 0 : v;
    if (overflow && OnOverflow)
        OnOverflow(this);
    m_valueBinary = kDigitPatterns[m_value];
    update();
}

void TDigit::setValueBinary(quint8 v)
{
    if (v == m_valueBinary)
        return;
    m_valueBinary = v;
    update();
}

void TDigit::setColorOn(TColor c)
{
    if (c == m_colorOn)
        return;
    m_colorOn = c;
    update();
}

void TDigit::setColorOff(TColor c)
{
    if (c == m_colorOff)
        return;
    m_colorOff = c;
    update();
}

void TDigit::setColor(TColor c)
{
    if (c == m_color)
        return;
    m_color = c;
    update();
}

void TDigit::setThickness(int t)
{
    if (t > width() / 2 || t > height() / 2 || t == m_thickness)
        return;
    m_thickness = t;
    update();
}

void TDigit::setSeparation(int s)
{
    if (s == m_separation)
        return;
    m_separation = s;
    update();
}

void TDigit::setBorderStyle(TBorderStyle b)
{
    if (b == m_borderStyle)
        return;
    m_borderStyle = b;
    update();
}

void TDigit::paintEvent(QPaintEvent *e)
{
    const int w = width() - 1;
    const int h = height() - 1;
    const int m = h / 2;
    const int t = m_thickness;
    const int s = m_separation;

    const QColor background = toQColor(m_color);
    const QColor on = toQColor(m_colorOn);
    const QColor off = toQColor(m_colorOff);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(e->rect(), background);
    // A one-pixel cosmetic pen lies on the vertex pixels themselves, so each segment gets
    // its rim in the background colour exactly along the corner points.
    QPen pen(background);
    pen.setWidth(0);
    pen.setCosmetic(true);
    p.setPen(pen);

    unsigned mask = 1;
    auto segment = [&](const QPoint *pts, int n) {
        p.setBrush((m_valueBinary & mask) ? on : off);
        p.drawPolygon(pts, n);
        mask <<= 1;
    };

    for (const int b : {0, m - t, h - 2 * t}) {
        const QPoint pts[6] = {{s + t, b + t},
                               {s + 2 * t, b},
                               {w - s - 2 * t, b},
                               {w - s - t, b + t},
                               {w - s - 2 * t, b + 2 * t},
                               {s + 2 * t, b + 2 * t}};
        segment(pts, 6);
    }
    for (const int b : {0, m - t}) {
        for (const int x : {0, w - 2 * t}) {
            const QPoint pts[6] = {{x, b + 2 * t + s},         {x + t, b + t + s},
                                   {x + 2 * t, b + 2 * t + s}, {x + 2 * t, b + m - t - s},
                                   {x + t, b + m - s},         {x, b + m - t - s}};
            segment(pts, 6);
        }
    }
    const QPoint point[3] = {{w, h}, {w - 2 * t + s, h}, {w, h - 2 * t + s}};
    segment(point, 3);
}

void TDigit::mousePressEvent(QMouseEvent *e)
{
    if (OnMouseDown)
        OnMouseDown(this, e->button(), e->modifiers(), e->position().toPoint().x(),
                    e->position().toPoint().y());
    QWidget::mousePressEvent(e);
}

void TDigit::mouseReleaseEvent(QMouseEvent *e)
{
    if (OnMouseUp)
        OnMouseUp(this, e->button(), e->modifiers(), e->position().toPoint().x(),
                  e->position().toPoint().y());
    QWidget::mouseReleaseEvent(e);
}

void TDigit::mouseMoveEvent(QMouseEvent *e)
{
    if (OnMouseMove)
        OnMouseMove(this, e->modifiers(), e->position().toPoint().x(), e->position().toPoint().y());
    QWidget::mouseMoveEvent(e);
}
