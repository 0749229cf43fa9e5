#pragma once

#include "platform/Timer.h"

#include <QChar>
#include <QLineEdit>
#include <QString>

#include <functional>

class TSpinButton;

// A decimal field. Every text typed must stay a number within [Min, Max] with at most
// Digits decimals, so the field cannot hold a value outside its limits; a field whose
// text is out of range all the same (deleted digits, pasted text) cannot be left.
class TCustomFloatEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TCustomFloatEdit(QWidget *parent = nullptr);

    // The text as a number, limited silently; "", "-", "E" and the separator alone read
    // as 0, a text that is no number as Min.
    double Value() const;
    // Limits to [Min, Max] (with ErrorMessage when it had to) and writes the text form.
    void setValue(double v);
    double Min() const { return m_min; }
    // Throws std::invalid_argument when above Max; the limits stay as they were.
    void setMin(double v);
    double Max() const { return m_max; }
    // Throws std::invalid_argument when below Min.
    void setMax(double v);
    // Decimal places shown and accepted, 0 to 18.
    int Digits() const { return m_digits; }
    void setDigits(int digits);
    // Shown in a message box when a value had to be corrected; nothing while empty.
    QString ErrorMessage;
    // Off: typing and the arrow keys are ignored.
    bool EditorEnabled() const { return m_editorEnabled; }
    void setEditorEnabled(bool on) { m_editorEnabled = on; }
    bool AutoSelect = true;

    // Called for Enter; the key is never inserted. Clearing it keeps Enter from the dialog.
    std::function<void(QObject *Sender, QChar &Key)> OnEnterPress;

    // The separator of the locale when the field was made: the only one accepted.
    QChar decimalSeparator() const { return m_separator; }
    // The value the field had when it received the focus.
    double entryValue() const { return m_entryValue; }
    // Fixed-point text with exactly Digits decimals and the captured separator.
    QString textForm(double v) const;
    // A text to a number with the captured separator; false when it is none.
    bool toNumber(const QString &text, double &v) const;

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    // The spin edit's arrow keys; true when the key was used.
    virtual bool spinKey(QKeyEvent *) { return false; }

private:
    bool acceptChar(QChar c);
    void showError() const;

    QChar m_separator;
    double m_min = 0.0;
    double m_max = 100.0;
    int m_digits = 1;
    bool m_editorEnabled = true;
    double m_entryValue = 0.0;
};

// The decimal field with a spin button.
class TSpinFloatEdit : public TCustomFloatEdit
{
    Q_OBJECT
public:
    explicit TSpinFloatEdit(QWidget *parent = nullptr);

    double Increment() const { return m_increment; }
    void setIncrement(double v) { m_increment = v; }
    // When set, the spin actions call it (true for up) instead of stepping by Increment.
    std::function<void(QObject *Sender, bool bIncrement)> OnComputedIncrement;

    TSpinButton *Button() const { return m_button; }
    void setTimerFactory(const TimerFactory &factory);

    void UpClick(QObject *Sender);
    void DownClick(QObject *Sender);

protected:
    bool spinKey(QKeyEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    TSpinButton *m_button;
    double m_increment = 1.0;
};
