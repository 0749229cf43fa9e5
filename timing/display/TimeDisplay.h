#pragma once

#include "platform/Colors.h"
#include "timing/Chronometer.h"

#include <QWidget>

class QLabel;
class TDigit;

// The time display panel (PanelTimer): the upper row follows the running clock, the lower
// row holds the last time taken, both as seven-segment digits.
class TTimeDisplay : public QWidget, public IDisplayOutput
{
    Q_OBJECT
public:
    explicit TTimeDisplay(QWidget *parent = nullptr);

    // value: milliseconds since local midnight; row 0 upper, any other row lower.
    void ShowTime(int row, qint32 value) override;
    // The value last handed to ShowTime for a row.
    qint32 shownValue(int row) const { return m_value[row == 0 ? 0 : 1]; }
    // Puts four two-digit numbers on the eight digits of a row.
    void ShowDigits(int row, int h, int m, int s, int hh);
    // Colours both rows and their separators from C1, C2 and C4.
    void ApplyDisplayColors();

    // C1: panel background (and the unlit segments once applied).
    TColor C1() const { return m_c1; }
    void setC1(TColor c);
    // C2: upper row.
    TColor C2() const { return m_c2; }
    void setC2(TColor c) { m_c2 = c; }
    // C3: stored with the other colours, but the display does not use it.
    TColor C3() const { return m_c3; }
    void setC3(TColor c) { m_c3 = c; }
    // C4: lower row.
    TColor C4() const { return m_c4; }
    void setC4(TColor c) { m_c4 = c; }

    // The eight digits of a row: hours, minutes, seconds, hundredths, tens first.
    TDigit *const *rowDigits(int row) const { return row == 0 ? m_upper : m_lower; }

    TDigit *Digit1 = nullptr;
    TDigit *Digit2 = nullptr;
    TDigit *Digit3 = nullptr;
    TDigit *Digit4 = nullptr;
    TDigit *Digit5 = nullptr;
    TDigit *Digit6 = nullptr;
    TDigit *Digit7 = nullptr;
    TDigit *Digit8 = nullptr;
    TDigit *Digit12 = nullptr;
    TDigit *Digit13 = nullptr;
    TDigit *Digit15 = nullptr;
    TDigit *Digit16 = nullptr;
    TDigit *Digit18 = nullptr;
    TDigit *Digit19 = nullptr;
    TDigit *Digit21 = nullptr;
    TDigit *Digit22 = nullptr;

    QLabel *LabHour = nullptr;
    QLabel *LabMin = nullptr;
    QLabel *LabSec = nullptr;
    QLabel *LabHour2 = nullptr;
    QLabel *LabMin2 = nullptr;
    QLabel *LabSec2 = nullptr;

    QLabel *Lab_Hour = nullptr;
    QLabel *Lab_Min = nullptr;
    QLabel *Lab_sek = nullptr;
    QLabel *Lab_100 = nullptr;

private:
    TColor m_c1 = clBlack;
    TColor m_c2 = clLime;
    TColor m_c3 = 0x404040;
    TColor m_c4 = clYellow;
    qint32 m_value[2] = {0, 0};
    TDigit *m_upper[8] = {};
    TDigit *m_lower[8] = {};
};
