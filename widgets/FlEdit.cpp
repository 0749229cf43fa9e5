#include "widgets/FlEdit.h"

#include "platform/ErrorBox.h"
#include "widgets/Spin.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>
#include <stdexcept>

namespace {
bool isDigitChar(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
} // namespace

TCustomFloatEdit::TCustomFloatEdit(QWidget *parent) : QLineEdit(parent)
{
    const QString sep = QLocale().decimalPoint();
    m_separator = sep.isEmpty() ? QLatin1Char('.') : sep.at(0);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setAcceptDrops(false);
    setText(textForm(m_min));
}

QString TCustomFloatEdit::textForm(double v) const
{
    if (v == 0)
        v = 0; // no "-0,0"
    QString t = QString::number(v, 'f', m_digits);
    t.replace(QLatin1Char('.'), m_separator);
    return t;
}

bool TCustomFloatEdit::toNumber(const QString &text, double &v) const
{
    const QString sep = QRegularExpression::escape(QString(m_separator));
    const QRegularExpression form(
        QStringLiteral("^\\s*([+-]?)(\\d*)(?:%1(\\d*))?([eE][+-]?\\d+)?\\s*$").arg(sep));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const QString whole = m.captured(2);
    const QString fraction = m.captured(3);
    // At least one digit, before or after the separator.
    if (whole.isEmpty() && fraction.isEmpty())
        return false;
    const QString c = m.captured(1) + (whole.isEmpty() ? QStringLiteral("0") : whole) +
                      QLatin1Char('.') + (fraction.isEmpty() ? QStringLiteral("0") : fraction) +
                      m.captured(4);
    bool ok = false;
    const double d = QLocale::c().toDouble(c, &ok);
    if (!ok || !std::isfinite(d))
        return false;
    v = d;
    return true;
}

double TCustomFloatEdit::Value() const
{
    QString t = text();
    if (t.isEmpty() || t == QLatin1String("-") || t == QString(m_separator) ||
        t == QLatin1String("E"))
        t = QStringLiteral("0");
    double v = 0;
    if (!toNumber(t, v))
        v = m_min;
    return qBound(m_min, v, m_max);
}

void TCustomFloatEdit::showError() const
{
    if (!ErrorMessage.isEmpty())
        ErrorBox::show(const_cast<TCustomFloatEdit *>(this), ErrorMessage);
}

void TCustomFloatEdit::setValue(double v)
{
    if (std::isnan(v))
        v = m_min;
    if (v > m_max) {
        showError();
        v = m_max;
    } else if (v < m_min) {
        showError();
        v = m_min;
    }
    setText(textForm(v));
}

void TCustomFloatEdit::setMin(double v)
{
    if (v == m_min)
        return;
    if (v > m_max)
        throw std::invalid_argument("Minimum value must not be greater than maximum value !");
    m_min = v;
    setValue(Value());
}

void TCustomFloatEdit::setMax(double v)
{
    if (v == m_max)
        return;
    if (v < m_min)
        throw std::invalid_argument("Maximum value must not be less than minimum value !");
    m_max = v;
    setValue(Value());
}

void TCustomFloatEdit::setDigits(int digits)
{
    digits = qBound(0, digits, 18);
    if (digits == m_digits)
        return;
    // The value is read with the old number of decimals and written with the new one.
    const double v = Value();
    m_digits = digits;
    setValue(v);
}

void TCustomFloatEdit::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        QChar k = QLatin1Char('\r');
        if (OnEnterPress)
            OnEnterPress(this, k);
        if (k.isNull())
            return;
        e->ignore(); // never inserted; the dialog's default button gets it
        return;
    }
    if (key == Qt::Key_Escape) {
        setValue(m_entryValue);
        selectAll();
        e->ignore(); // a dialog still takes Escape as "cancel"
        return;
    }
    if (!m_editorEnabled) {
        // Only moving the cursor and selecting remain.
        if (!e->text().isEmpty() || key == Qt::Key_Up || key == Qt::Key_Down ||
            key == Qt::Key_Backspace || key == Qt::Key_Delete || e->matches(QKeySequence::Paste) ||
            e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Undo) ||
            e->matches(QKeySequence::Redo))
            return;
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (spinKey(e))
        return;
    const QString t = e->text();
    if (t.size() == 1 && t[0].unicode() >= 32 && t[0].unicode() != 127 &&
        !(e->modifiers() & Qt::ControlModifier)) {
        if (acceptChar(t[0]))
            QLineEdit::keyPressEvent(e);
        return;
    }
    QLineEdit::keyPressEvent(e);
}

// True when the character is to be inserted as typed; false when it was dropped or the
// text was already set here.
bool TCustomFloatEdit::acceptChar(QChar c)
{
    if (!(c == QLatin1Char('-') || isDigitChar(c) || c == QLatin1Char('e') || c == m_separator))
        return false;
    QString candidate = text();
    if (hasSelectedText())
        candidate.replace(selectionStart(), selectedText().size(), c);
    else
        candidate.insert(cursorPosition(), c);

    if (candidate == QLatin1String("-")) {
        setText(QStringLiteral("-0"));
        setSelection(1, 1);
        return false;
    }
    if (candidate == QString(m_separator)) {
        setText(QStringLiteral("0") + m_separator + QStringLiteral("0"));
        setSelection(2, 1);
        return false;
    }
    double v = 0;
    if (!toNumber(candidate, v) || v < m_min || v > m_max)
        return false;
    if (c == m_separator && m_digits == 0)
        return false;
    if (!candidate.contains(QLatin1Char('e'), Qt::CaseInsensitive)) {
        const int p = candidate.indexOf(m_separator);
        if (p >= 0 && candidate.size() - p - 1 > m_digits)
            return false;
    }
    return true;
}

void TCustomFloatEdit::focusInEvent(QFocusEvent *e)
{
    QLineEdit::focusInEvent(e);
    if (AutoSelect)
        selectAll();
    m_entryValue = Value();
}

void TCustomFloatEdit::focusOutEvent(QFocusEvent *e)
{
    // Switching to another window or opening a menu is no leaving of the field.
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason ||
        !isVisible()) {
        QLineEdit::focusOutEvent(e);
        return;
    }
    QString t = text();
    if (t.isEmpty())
        t = textForm(m_min);
    double v = 0;
    if (!toNumber(t, v) || v < m_min || v > m_max) {
        showError();
        setValue(m_entryValue);
        selectAll();
        QLineEdit::focusOutEvent(e);
        // The field is not left: the focus comes back once the move has ended.
        QPointer<TCustomFloatEdit> self(this);
        QTimer::singleShot(0, this, [self] {
            if (self && self->isVisible() && self->isEnabled())
                self->setFocus(Qt::OtherFocusReason);
        });
        return;
    }
    setText(textForm(v));
    setValue(Value());
    QLineEdit::focusOutEvent(e);
}

// ---- TSpinFloatEdit ----

TSpinFloatEdit::TSpinFloatEdit(QWidget *parent)
    : TCustomFloatEdit(parent), m_button(new TSpinButton(this))
{
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->FocusControl = this;
    m_button->setCursor(Qt::ArrowCursor);
    m_button->OnUpClick = [this](QObject *s) { UpClick(s); };
    m_button->OnDownClick = [this](QObject *s) { DownClick(s); };
    placeSpinButton(*this, *m_button);
}

void TSpinFloatEdit::setTimerFactory(const TimerFactory &factory)
{
    m_button->setTimerFactory(factory);
}

void TSpinFloatEdit::UpClick(QObject *)
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    if (OnComputedIncrement)
        OnComputedIncrement(this, true);
    else
        setValue(Value() + m_increment);
}

void TSpinFloatEdit::DownClick(QObject *)
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    if (OnComputedIncrement)
        OnComputedIncrement(this, false);
    else
        setValue(Value() - m_increment);
}

bool TSpinFloatEdit::spinKey(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Up) {
        UpClick(this);
        return true;
    }
    if (e->key() == Qt::Key_Down) {
        DownClick(this);
        return true;
    }
    return false;
}

void TSpinFloatEdit::resizeEvent(QResizeEvent *e)
{
    TCustomFloatEdit::resizeEvent(e);
    placeSpinButton(*this, *m_button);
}
