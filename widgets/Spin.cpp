#include "widgets/Spin.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <qdrawutil.h>

#include <algorithm>
#include <climits>

// ---- TTimerSpeedButton ----

TTimerSpeedButton::TTimerSpeedButton(QWidget *parent) : QWidget(parent), m_factory(makeQtTimer)
{
    setFocusPolicy(Qt::NoFocus);
}

TTimerSpeedButton::~TTimerSpeedButton() = default;

void TTimerSpeedButton::setGlyph(const QPixmap &glyph)
{
    m_glyph = glyph;
    update();
}

void TTimerSpeedButton::setDrawFocusRect(bool on)
{
    if (m_drawFocusRect == on)
        return;
    m_drawFocusRect = on;
    update();
}

void TTimerSpeedButton::click()
{
    if (!OnClick)
        return;
    try {
        OnClick();
    } catch (...) {
        // A failing handler must not leave the button repeating.
        if (m_timer)
            m_timer->stop();
        throw;
    }
}

void TTimerSpeedButton::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(e);
        return;
    }
    m_held = true;
    m_down = true;
    update();
    if (OnPress)
        OnPress();
    if (m_allowTimer) {
        if (!m_timer) {
            m_timer = m_factory ? m_factory() : makeQtTimer();
            m_timer->onTimeout = [this] { timerExpired(); };
        }
        m_timer->setSingleShot(false);
        m_timer->start(InitRepeatPause);
    }
}

void TTimerSpeedButton::mouseMoveEvent(QMouseEvent *e)
{
    if (!m_held)
        return;
    const bool inside = rect().contains(e->position().toPoint());
    if (inside != m_down) {
        m_down = inside;
        update();
    }
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton || !m_held)
        return;
    m_held = false;
    const bool wasDown = m_down && rect().contains(e->position().toPoint());
    m_down = false;
    if (m_timer)
        m_timer->stop();
    update();
    if (wasDown)
        click();
}

void TTimerSpeedButton::timerExpired()
{
    if (m_timer->interval() != RepeatPause)
        m_timer->start(RepeatPause);
    // Only while the mouse still holds the button down over it.
    if (m_held && m_down)
        click();
}

void TTimerSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, palette().button());
    qDrawWinButton(&p, r, palette(), m_down);
    if (!m_glyph.isNull()) {
        QPixmap pm = m_glyph;
        if (!isEnabled()) {
            QStyleOption opt;
            opt.initFrom(this);
            pm = style()->generatedIconPixmap(QIcon::Disabled, m_glyph, &opt);
        }
        const QSize gs = pm.deviceIndependentSize().toSize();
        QPoint at((r.width() - gs.width()) / 2, (r.height() - gs.height()) / 2);
        if (m_down)
            at += QPoint(1, 1);
        p.drawPixmap(at, pm);
    }
    if (m_drawFocusRect) {
        QRect fr = r.adjusted(3, 3, -3, -3);
        if (m_down)
            fr.translate(1, 1);
        QStyleOptionFocusRect fo;
        fo.initFrom(this);
        fo.rect = fr;
        fo.backgroundColor = palette().color(QPalette::Button);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &fo, &p, this);
    }
}

// ---- TSpinButton ----

namespace {
QPixmap arrowGlyph(bool up)
{
    QImage img(9, 6, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    // A triangle four rows high, its point at the middle column.
    for (int row = 0; row < 4; ++row) {
        const int y = up ? 1 + row : 4 - row;
        for (int x = 4 - row; x <= 4 + row; ++x)
            img.setPixel(x, y, qRgb(0, 0, 0));
    }
    return QPixmap::fromImage(img);
}
} // namespace

QPixmap TSpinButton::spinUpGlyph()
{
    return arrowGlyph(true);
}

QPixmap TSpinButton::spinDownGlyph()
{
    return arrowGlyph(false);
}

TSpinButton::TSpinButton(QWidget *parent)
    : QWidget(parent), m_up(new TTimerSpeedButton(this)), m_down(new TTimerSpeedButton(this))
{
    m_focused = m_up;
    setFocusPolicy(Qt::TabFocus);
    setMinimumWidth(15);
    m_up->setObjectName("UpButton");
    m_down->setObjectName("DownButton");
    m_up->setGlyph(spinUpGlyph());
    m_down->setGlyph(spinDownGlyph());
    m_up->setAllowTimer(true);
    m_down->setAllowTimer(true);
    m_up->OnClick = [this] {
        if (OnUpClick)
            OnUpClick(this);
    };
    m_down->OnClick = [this] {
        if (OnDownClick)
            OnDownClick(this);
    };
    m_up->OnPress = [this] { halfPressed(m_up); };
    m_down->OnPress = [this] { halfPressed(m_down); };
    resize(20, 25);
}

void TSpinButton::setTimerFactory(const TimerFactory &factory)
{
    m_up->setTimerFactory(factory);
    m_down->setTimerFactory(factory);
}

void TSpinButton::resizeEvent(QResizeEvent *)
{
    const int w = width();
    const int h = height();
    m_up->setGeometry(0, 0, w, h / 2);
    // The down half starts one pixel above the up half's bottom edge.
    const int downTop = h / 2 - 1;
    m_down->setGeometry(0, downTop, w, h - downTop);
}

void TSpinButton::halfPressed(TTimerSpeedButton *b)
{
    setFocusBtn(b);
    if (FocusControl && FocusControl->focusPolicy() != Qt::NoFocus && FocusControl->isEnabled() &&
        FocusControl->isVisible() && !FocusControl->hasFocus())
        FocusControl->setFocus(Qt::MouseFocusReason);
    else if (!FocusControl && (focusPolicy() & Qt::TabFocus) && !hasFocus())
        setFocus(Qt::MouseFocusReason);
}

void TSpinButton::setFocusBtn(TTimerSpeedButton *b)
{
    m_focused = b;
    updateFocusRects();
}

void TSpinButton::updateFocusRects()
{
    m_up->setDrawFocusRect(hasFocus() && m_focused == m_up);
    m_down->setDrawFocusRect(hasFocus() && m_focused == m_down);
}

void TSpinButton::keyPressEvent(QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Space:
        m_focused->click();
        break;
    case Qt::Key_Up:
        setFocusBtn(m_up);
        m_up->click();
        break;
    case Qt::Key_Down:
        setFocusBtn(m_down);
        m_down->click();
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void TSpinButton::focusInEvent(QFocusEvent *e)
{
    QWidget::focusInEvent(e);
    updateFocusRects();
}

void TSpinButton::focusOutEvent(QFocusEvent *e)
{
    QWidget::focusOutEvent(e);
    updateFocusRects();
}

// ---- TSpinEdit ----

void placeSpinButton(QLineEdit &edit, TSpinButton &button)
{
    QStyleOptionFrame opt;
    opt.initFrom(&edit);
    const int frame =
        edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, &edit) : 0;
    const int w = 15;
    button.setGeometry(edit.width() - frame - w, frame, w, qMax(2, edit.height() - 2 * frame));
    edit.setTextMargins(0, 0, w + 2, 0);
}

TSpinEdit::TSpinEdit(QWidget *parent) : QLineEdit(parent), m_button(new TSpinButton(this))
{
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->FocusControl = this;
    m_button->OnUpClick = [this](QObject *s) { UpClick(s); };
    m_button->OnDownClick = [this](QObject *s) { DownClick(s); };
    m_button->setCursor(Qt::ArrowCursor);
    // A dropped text would bypass the key filter.
    setAcceptDrops(false);
    setText(QStringLiteral("0"));
    placeSpinButton(*this, *m_button);
}

qint32 TSpinEdit::CheckValue(qint32 v) const
{
    if (m_min == m_max)
        return v;
    if (v < m_min)
        return m_min;
    if (v > m_max)
        return m_max;
    return v;
}

qint32 TSpinEdit::Value() const
{
    bool ok = false;
    const qint32 v = text().trimmed().toInt(&ok);
    return ok ? v : m_min;
}

void TSpinEdit::setValue(qint32 v)
{
    setText(QString::number(CheckValue(v)));
}

void TSpinEdit::setMinValue(qint32 v)
{
    m_min = v;
}

void TSpinEdit::setMaxValue(qint32 v)
{
    m_max = v;
}

void TSpinEdit::UpClick(QObject *)
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    setValue(qint32(std::clamp<qint64>(qint64(Value()) + m_increment, INT32_MIN, INT32_MAX)));
}

void TSpinEdit::DownClick(QObject *)
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    setValue(qint32(std::clamp<qint64>(qint64(Value()) - m_increment, INT32_MIN, INT32_MAX)));
}

void TSpinEdit::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Up) {
        UpClick(this);
        return;
    }
    if (e->key() == Qt::Key_Down) {
        DownClick(this);
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        // Never inserted; the dialog's default button gets it.
        e->ignore();
        return;
    }
    if (e->matches(QKeySequence::Paste)) {
        pasteLimited(QClipboard::Clipboard);
        return;
    }
    if (e->matches(QKeySequence::Cut)) {
        if (mayChangeText())
            QLineEdit::keyPressEvent(e);
        return;
    }
    if (!m_editorEnabled && (e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete))
        return;
    const QString t = e->text();
    if (t.size() == 1 && t[0].unicode() >= 32 && t[0].unicode() != 127) {
        const QChar c = t[0];
        const bool allowed = c == QLatin1Char('+') || c == QLatin1Char('-') || c.isDigit() ||
                             QString(c) == QLocale().decimalPoint();
        if (!allowed) {
            QApplication::beep();
            return;
        }
        if (!m_editorEnabled || room() < 1)
            return;
    }
    QLineEdit::keyPressEvent(e);
}

int TSpinEdit::room() const
{
    if (m_maxLength == 0)
        return INT_MAX;
    return qMax(0, m_maxLength - int(text().size()) + int(selectedText().size()));
}

void TSpinEdit::focusInEvent(QFocusEvent *e)
{
    QLineEdit::focusInEvent(e);
    if (AutoSelect)
        selectAll();
}

void TSpinEdit::focusOutEvent(QFocusEvent *e)
{
    // A text that is no number reads as MinValue, which is within the limits, so it
    // stays as typed.
    const qint32 v = Value();
    if (CheckValue(v) != v)
        setValue(v);
    QLineEdit::focusOutEvent(e);
}

void TSpinEdit::resizeEvent(QResizeEvent *e)
{
    QLineEdit::resizeEvent(e);
    placeSpinButton(*this, *m_button);
}

void TSpinEdit::contextMenuEvent(QContextMenuEvent *e)
{
    QMenu *menu = createStandardContextMenu();
    for (QAction *a : menu->actions()) {
        const QString name = a->objectName();
        if (name == QLatin1String("edit-paste")) {
            // Pasted text obeys MaxLength like typed text.
            a->disconnect();
            connect(a, &QAction::triggered, this, [this] { pasteLimited(QClipboard::Clipboard); });
        }
        if (!mayChangeText() &&
            (name == QLatin1String("edit-paste") || name == QLatin1String("edit-cut") ||
             name == QLatin1String("edit-delete") || name == QLatin1String("edit-undo") ||
             name == QLatin1String("edit-redo")))
            a->setEnabled(false);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

void TSpinEdit::pasteLimited(QClipboard::Mode mode)
{
    if (mayChangeText())
        insert(QGuiApplication::clipboard()->text(mode).left(room()));
}

void TSpinEdit::mouseReleaseEvent(QMouseEvent *e)
{
    // The middle button pastes the selection on X11.
    if (e->button() == Qt::MiddleButton) {
        pasteLimited(QClipboard::Selection);
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}
