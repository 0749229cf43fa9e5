#include "widgets/LbButtons.h"

#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

struct Rgb
{
    int r, g, b;
};

Rgb rgbOf(TColor c)
{
    const QColor q = toQColor(c);
    return {q.red(), q.green(), q.blue()};
}

QColor qColorOf(Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

// Step i of steps from a to b, per channel: (1 - i/steps) * a + i/steps * b, truncated.
Rgb between(Rgb a, Rgb b, int i, int steps)
{
    auto channel = [i, steps](int x, int y) { return (x * (steps - i) + y * i) / steps; };
    return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

// 32 bands from `from` at row top to `to` at row bottom (exclusive). The bands are one
// pixel high until the span exceeds 31 rows; later bands overwrite earlier ones where
// they overlap, and nothing is drawn at or below bottom.
void fillGradient(QPainter &p, int left, int right, int top, int bottom, Rgb from, Rgb to)
{
    constexpr int kSteps = 31;
    const int span = bottom - top;
    if (span <= 0 || right <= left)
        return;
    const int bandHeight = span / kSteps + 1;
    for (int i = 0; i <= kSteps; ++i) {
        const int y = top + i * span / kSteps;
        const int h = std::min(bandHeight, bottom - y);
        if (h > 0)
            p.fillRect(left, y, right - left, h, qColorOf(between(from, to, i, kSteps)));
    }
}

// Dotted, inverting rectangle: every other pixel of the outline has its colour inverted,
// so it shows on any face.
void drawFocusRect(QImage &img, const QRect &r)
{
    auto invert = [&img](int x, int y) {
        if ((x + y) % 2 == 0 && img.valid(x, y))
            img.setPixel(x, y, img.pixel(x, y) ^ 0x00FFFFFFu);
    };
    for (int x = r.left(); x <= r.right(); ++x) {
        invert(x, r.top());
        if (r.bottom() != r.top())
            invert(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        invert(r.left(), y);
        if (r.right() != r.left())
            invert(r.right(), y);
    }
}

constexpr QRgb kTransparentKey = 0xFFFF00FFu; // magenta

} // namespace

TLbButton::TLbButton(QWidget *parent, const TimerFactory &timers)
    : QAbstractButton(parent), m_fade(timers())
{
    setFocusPolicy(Qt::StrongFocus);
    resize(100, 23);
    m_fade->onTimeout = [this] { fadeStep(); };
}

TLbButton::~TLbButton()
{
    // The fade must not outlive the button it repaints.
    m_fade->stop();
    m_fade->onTimeout = nullptr;
}

void TLbButton::setHotTrackFont(const QFont &f)
{
    if (m_hotTrackFont == f)
        return;
    m_hotTrackFont = f;
    update();
}

void TLbButton::setAlignment(Qt::Alignment a)
{
    a &= Qt::AlignHorizontal_Mask;
    if (a == m_alignment)
        return;
    m_alignment = a;
    update();
}

void TLbButton::setSlowDecease(bool on)
{
    if (on == m_slowDecease)
        return;
    m_slowDecease = on;
    // A fade under way ends at once when the fade is switched off.
    if (!on && m_fade->isActive()) {
        m_fade->stop();
        setHotLevel(0);
    }
}

QMenu *TLbButton::PopupMenu() const
{
    return m_popupMenu;
}

void TLbButton::setPopupMenu(QMenu *m)
{
    m_popupMenu = m;
}

QColor TLbButton::faceColor() const
{
    if (isDown() && m_colorWhenDown != clNone)
        return toQColor(m_colorWhenDown);
    const Rgb face = rgbOf(m_color);
    if (!isEnabled() || m_hotTrackColor == clNone || m_hotLevel == 0)
        return qColorOf(face);
    return qColorOf(between(face, rgbOf(m_hotTrackColor), m_hotLevel, kHotLevels));
}

QImage TLbButton::render() const
{
    const int w = width();
    const int h = height();
    const int shift = isDown() ? 1 : 0;
    const QColor face = faceColor();
    const Rgb faceRgb{face.red(), face.green(), face.blue()};
    const Rgb light = rgbOf(m_colorLight);
    const QColor shadow = toQColor(m_colorShadow);

    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kTransparentKey);
    {
        QPainter p(&img);
        fillGradient(p, 2, w - 2, 2, h / 4 + shift, light, faceRgb);
        fillGradient(p, 2, w - 2, h / 4 + shift, h - 1, faceRgb, light);

        p.setBrush(Qt::NoBrush);
        p.setPen(isDown() ? shadow : face);
        p.drawRect(1, 1, w - 3, h - 3);
        p.setPen(shadow);
        p.drawRoundedRect(QRectF(0, 0, w - 1, h - 1), 3, 3);

        const bool hotFont = m_useHotTrackFont && (m_pointerInside || hasFocus());
        const QFont f = hotFont ? HotTrackFont() : font();
        QColor textColor = toQColor(hotFont ? m_hotTrackFontColor : m_fontColor);
        if (!isEnabled())
            textColor = toQColor(clGray);
        p.setFont(f);
        p.setPen(textColor);
        const QRect textRect(4 + shift, shift, w - 8, h);
        QString caption = text();
        int flags = int(m_alignment) | Qt::AlignVCenter;
        if (m_wordWrap) {
            flags |= Qt::TextWordWrap;
        } else {
            const QFontMetrics fm(f);
            while (!caption.isEmpty() && fm.horizontalAdvance(caption) > w - 8)
                caption.chop(1);
        }
        p.drawText(textRect, flags, caption);
    }
    if (hasFocus() && isEnabled())
        drawFocusRect(img, QRect(4, 4, w - 8, h - 8));

    // The corners outside the rounded outline stay magenta; they let the parent through.
    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x)
            if (line[x] == kTransparentKey)
                line[x] = 0;
    }
    return out;
}

void TLbButton::paintEvent(QPaintEvent *)
{
    if (width() <= 0 || height() <= 0)
        return;
    QPainter p(this);
    p.drawImage(0, 0, render());
}

void TLbButton::mousePressEvent(QMouseEvent *e)
{
    // Disabled widgets get no mouse events from Qt, so this runs only while enabled.
    QPointer<TLbButton> alive(this);
    emit mouseDown(e->button());
    // START disables itself on its own press; a disabled button gets no release, so it
    // must not be marked pressed.
    if (alive && e->button() == Qt::LeftButton && isEnabled()) {
        m_pressed = true;
        setFocus(Qt::MouseFocusReason);
        setDown(true);
    }
    e->accept();
}

void TLbButton::mouseMoveEvent(QMouseEvent *e)
{
    // The press stays marked while the pointer is away: the release clicks all the same.
    e->accept();
}

void TLbButton::mouseReleaseEvent(QMouseEvent *e)
{
    e->accept();
    if (e->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    setDown(false);
    QPointer<TLbButton> alive(this);
    emit clicked(false);
    if (alive)
        afterClick();
}

void TLbButton::keyPressEvent(QKeyEvent *e)
{
    const int k = e->key();
    if (k == Qt::Key_Space || k == Qt::Key_Return || k == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QAbstractButton::keyPressEvent(e);
}

void TLbButton::keyReleaseEvent(QKeyEvent *e)
{
    const int k = e->key();
    if (k == Qt::Key_Space || k == Qt::Key_Return || k == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(e);
}

void TLbButton::changeEvent(QEvent *e)
{
    // Disabled while held down: no release will come to end the press.
    if (e->type() == QEvent::EnabledChange && !isEnabled()) {
        m_pressed = false;
        setDown(false);
    }
    QAbstractButton::changeEvent(e);
}

// Runs after the click handlers, which may still change the result or the menu.
void TLbButton::afterClick()
{
    if (m_modalResult != 0) {
        auto *dialog = qobject_cast<QDialog *>(window());
        if (dialog && dialog->isModal())
            dialog->done(m_modalResult);
    }
    if (m_popupMenu)
        m_popupMenu->popup(mapToGlobal(QPoint(0, height())));
}

void TLbButton::enterEvent(QEnterEvent *e)
{
    m_pointerInside = true;
    if (isEnabled() && isVisible()) {
        m_fade->stop();
        setHotLevel(kHotLevels);
    }
    update();
    emit OnMouseEnter(this);
    QAbstractButton::enterEvent(e);
}

void TLbButton::leaveEvent(QEvent *e)
{
    m_pointerInside = false;
    if (m_slowDecease && m_hotLevel > 0) {
        if (!m_fade->isActive())
            m_fade->start(kFadeStepMs);
    } else {
        m_fade->stop();
        setHotLevel(0);
    }
    update();
    emit OnMouseExit(this);
    QAbstractButton::leaveEvent(e);
}

void TLbButton::fadeStep()
{
    setHotLevel(m_hotLevel - 1);
    if (m_hotLevel == 0)
        m_fade->stop();
}

void TLbButton::setHotLevel(int level)
{
    level = std::clamp(level, 0, kHotLevels);
    if (level == m_hotLevel)
        return;
    m_hotLevel = level;
    update();
}
