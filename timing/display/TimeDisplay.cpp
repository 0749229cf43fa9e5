#include "timing/display/TimeDisplay.h"

#include "widgets/Udigit.h"

#include <QLabel>
#include <QPalette>

namespace {
constexpr int kPanelWidth = 492;
constexpr int kPanelHeight = 239;
constexpr int kDigitWidth = 45;
constexpr int kDigitHeight = 89;
constexpr int kUpperTop = 11;
constexpr int kLowerTop = 136;
constexpr int kCaptionTop = 106;
// The lefts of the eight digits of a row: hours, minutes, seconds, hundredths.
constexpr int kDigitLefts[8] = {8, 56, 136, 184, 264, 312, 392, 440};

TDigit *makeDigit(QWidget *parent, const char *name, int left, int top)
{
    auto *d = new TDigit(parent);
    d->setObjectName(QLatin1String(name));
    // Size before Thickness: the thickness is checked against the size.
    d->setGeometry(left, top, kDigitWidth, kDigitHeight);
    d->setThickness(5);
    d->setSeparation(1);
    return d;
}

QLabel *makeSeparator(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    QFont f(QStringLiteral("Times New Roman"));
    f.setPixelSize(64);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    l->setAutoFillBackground(false);
    l->setGeometry(left, top, 25, 81);
    return l;
}

QLabel *makeCaption(QWidget *parent, const char *name, const QString &text, int left)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(19);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    l->setAutoFillBackground(false);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(pal);
    l->adjustSize();
    l->move(left, kCaptionTop);
    return l;
}

void setTextColor(QLabel *l, TColor c)
{
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, toQColor(c));
    l->setPalette(pal);
}
} // namespace

TTimeDisplay::TTimeDisplay(QWidget *parent) : QWidget(parent)
{
    setObjectName("PanelTimer");
    setAutoFillBackground(true);
    resize(kPanelWidth, kPanelHeight);

    const char *upperNames[8] = {"Digit1", "Digit2", "Digit3", "Digit4",
                                 "Digit5", "Digit6", "Digit7", "Digit8"};
    const char *lowerNames[8] = {"Digit12", "Digit13", "Digit15", "Digit16",
                                 "Digit18", "Digit19", "Digit21", "Digit22"};
    for (int i = 0; i < 8; ++i) {
        m_upper[i] = makeDigit(this, upperNames[i], kDigitLefts[i], kUpperTop);
        m_lower[i] = makeDigit(this, lowerNames[i], kDigitLefts[i], kLowerTop);
    }
    Digit1 = m_upper[0];
    Digit2 = m_upper[1];
    Digit3 = m_upper[2];
    Digit4 = m_upper[3];
    Digit5 = m_upper[4];
    Digit6 = m_upper[5];
    Digit7 = m_upper[6];
    Digit8 = m_upper[7];
    Digit12 = m_lower[0];
    Digit13 = m_lower[1];
    Digit15 = m_lower[2];
    Digit16 = m_lower[3];
    Digit18 = m_lower[4];
    Digit19 = m_lower[5];
    Digit21 = m_lower[6];
    Digit22 = m_lower[7];

    const QString colon = QStringLiteral(":");
    const QString comma = QStringLiteral(",");
    LabHour = makeSeparator(this, "LabHour", colon, 109, kUpperTop);
    LabMin = makeSeparator(this, "LabMin", colon, 234, kUpperTop);
    LabSec = makeSeparator(this, "LabSec", comma, 362, 41);
    LabHour2 = makeSeparator(this, "LabHour2", colon, 106, kLowerTop);
    LabMin2 = makeSeparator(this, "LabMin2", colon, 234, kLowerTop);
    LabSec2 = makeSeparator(this, "LabSec2", comma, 362, 166);

    Lab_Hour = makeCaption(this, "Lab_Hour", QStringLiteral("Std."), 60);
    Lab_Min = makeCaption(this, "Lab_Min", QStringLiteral("Min."), 164);
    Lab_sek = makeCaption(this, "Lab_sek", QStringLiteral("Sek."), 292);
    Lab_100 = makeCaption(this, "Lab_100", QStringLiteral("1/100"), 414);

    setC1(m_c1);
    ApplyDisplayColors();
    ShowTime(0, 0);
    ShowTime(1, 0);
}

void TTimeDisplay::setC1(TColor c)
{
    m_c1 = c;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, toQColor(c));
    setPalette(pal);
}

void TTimeDisplay::ShowTime(int row, qint32 value)
{
    // Integer division truncates toward zero and the remainder keeps the dividend's sign,
    // so a negative value gives numbers <= 0, which the digits show as 0.
    m_value[row == 0 ? 0 : 1] = value;
    const qint32 c = value / 10;
    ShowDigits(row, (c / 360000) % 100, (c / 6000) % 60, (c / 100) % 60, c % 100);
}

void TTimeDisplay::ShowDigits(int row, int h, int m, int s, int hh)
{
    TDigit *const *d = rowDigits(row);
    const int numbers[4] = {h, m, s, hh};
    for (int i = 0; i < 4; ++i) {
        // Each digit repaints only if its value changes.
        d[2 * i]->setValue(numbers[i] / 10);
        d[2 * i + 1]->setValue(numbers[i] % 10);
    }
}

void TTimeDisplay::ApplyDisplayColors()
{
    for (TDigit *d : m_upper) {
        d->setColorOn(m_c2);
        d->setColorOff(m_c1);
        d->setColor(m_c1);
    }
    for (QLabel *l : {LabHour, LabMin, LabSec})
        setTextColor(l, m_c2);
    for (TDigit *d : m_lower) {
        d->setColorOn(m_c4);
        d->setColorOff(m_c1);
        d->setColor(m_c1);
    }
    for (QLabel *l : {LabHour2, LabMin2, LabSec2})
        setTextColor(l, m_c4);
}
