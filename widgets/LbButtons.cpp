#include "widgets/LbButtons.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

TLbButton::TLbButton(QWidget *parent) : QAbstractButton(parent)
{
    // Reached by a click, never by Tab.
    setFocusPolicy(Qt::ClickFocus);
    resize(100, 23);
}

void TLbButton::setColor(TColor c)
{
    if (c == m_color)
        return;
    m_color = c;
    update();
}

void TLbButton::setFontColor(TColor c)
{
    if (c == m_fontColor)
        return;
    m_fontColor = c;
    update();
}

void TLbButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, toQColor(m_color));
    const bool down = isDown();
    p.setPen(toQColor(clGray));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    QColor fg = toQColor(m_hot ? m_hotTrackFontColor : m_fontColor);
    if (!isEnabled())
        fg = toQColor(clGray);
    p.setPen(fg);
    p.setFont(font());
    const int shift = down ? 1 : 0;
    p.drawText(r.translated(shift, shift), Qt::AlignCenter | Qt::TextWordWrap, text());
}

void TLbButton::mousePressEvent(QMouseEvent *e)
{
    // Disabled widgets get no mouse events from Qt, so this runs only while enabled.
    emit mouseDown(e->button());
    if (e->button() == Qt::LeftButton)
        QAbstractButton::mousePressEvent(e);
    else
        e->accept();
}

void TLbButton::keyPressEvent(QKeyEvent *e)
{
    const int k = e->key();
    if (k == Qt::Key_Space || k == Qt::Key_Return || k == Qt::Key_Enter) {
        if (!e->isAutoRepeat()) {
            m_keyDown = true;
            setDown(true);
        }
        e->accept();
        return;
    }
    QAbstractButton::keyPressEvent(e);
}

void TLbButton::keyReleaseEvent(QKeyEvent *e)
{
    const int k = e->key();
    if (k == Qt::Key_Space || k == Qt::Key_Return || k == Qt::Key_Enter) {
        if (!e->isAutoRepeat() && m_keyDown) {
            m_keyDown = false;
            setDown(false);
            emit clicked(false);
        }
        e->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(e);
}

void TLbButton::enterEvent(QEnterEvent *e)
{
    m_hot = true;
    update();
    QAbstractButton::enterEvent(e);
}

void TLbButton::leaveEvent(QEvent *e)
{
    m_hot = false;
    update();
    QAbstractButton::leaveEvent(e);
}
