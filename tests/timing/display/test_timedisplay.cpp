#include "tests/support/DisplayReader.h"
#include "tests/support/PaintCounter.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestTimer.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/Udigit.h"

#include <QFontInfo>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <climits>
#include <set>

namespace {

// The eight digit values of a row as text, tens first.
QString rowValues(const TTimeDisplay &p, int row)
{
    QString s;
    for (int i = 0; i < 8; ++i)
        s += QString::number(p.rowDigits(row)[i]->Value());
    return s;
}

struct ShowCase
{
    int row;
    qint32 before; // shown first, so that the digits really change
    qint32 value;
    const char *shown;
};

void PrintTo(const ShowCase &c, std::ostream *os)
{
    *os << "row " << c.row << " value " << c.value;
}

class DisplayShowTime : public ::testing::TestWithParam<ShowCase>
{
};

TEST_P(DisplayShowTime, SplitsTheValueOntoTheRowsDigits)
{
    const ShowCase c = GetParam();
    TTimeDisplay p;
    p.ShowTime(c.row, c.before);
    p.ShowTime(c.row, c.value);
    const QImage img = p.grab().toImage();
    const TColor lit = c.row == 0 ? clLime : clYellow;
    EXPECT_EQ(readRow(img, c.row, lit), QString::fromLatin1(c.shown));
    // The other row is untouched and still shows zero.
    EXPECT_EQ(readRow(img, 1 - c.row, c.row == 0 ? clYellow : clLime),
              QStringLiteral("00:00:00,00"));
    // Every digit control holds a digit, and the values agree with the picture.
    QString expected = QString::fromLatin1(c.shown);
    expected.remove(u':').remove(u',');
    EXPECT_EQ(rowValues(p, c.row), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayShowTime,
    ::testing::Values(ShowCase{0, 86399999, 0, "00:00:00,00"},
                      ShowCase{1, 0, 29103079, "08:05:03,07"},
                      ShowCase{0, 0, 86399999, "23:59:59,99"},
                      ShowCase{1, 0, 36000009, "10:00:00,00"}, // cut, not rounded
                      ShowCase{0, 0, 5, "00:00:00,00"}, ShowCase{1, 86399999, -1, "00:00:00,00"},
                      ShowCase{0, 86399999, -29103079, "00:00:00,00"},
                      ShowCase{1, 86399999, INT_MIN, "00:00:00,00"},
                      // beyond a day the hours wrap at 100
                      ShowCase{0, 0, 100 * 3600000 + 61000, "00:01:01,00"},
                      ShowCase{1, 0, INT_MAX, "96:31:23,64"}));

TEST(DisplayShowDigits, TensAndUnitsPerNumber)
{
    TTimeDisplay p;
    p.ShowDigits(0, 12, 34, 56, 78);
    EXPECT_EQ(rowValues(p, 0), QStringLiteral("12345678"));
    p.ShowDigits(1, 9, 8, 7, 6);
    EXPECT_EQ(rowValues(p, 1), QStringLiteral("09080706"));
    // Numbers beyond two digits cannot be shown; the overflowing tens show 0.
    p.ShowDigits(1, 123, 0, 0, 0);
    EXPECT_EQ(rowValues(p, 1), QStringLiteral("03000000"));
}

TEST(DisplayLayout, ControlsSitWhereTheFormPutsThem)
{
    TTimeDisplay p;
    EXPECT_EQ(p.objectName(), QStringLiteral("PanelTimer"));
    EXPECT_EQ(p.size(), QSize(492, 239));

    struct Place
    {
        TDigit *d;
        const char *name;
        int left;
        int top;
    };
    const Place digits[] = {
        {p.Digit1, "Digit1", 8, 11},      {p.Digit2, "Digit2", 56, 11},
        {p.Digit3, "Digit3", 136, 11},    {p.Digit4, "Digit4", 184, 11},
        {p.Digit5, "Digit5", 264, 11},    {p.Digit6, "Digit6", 312, 11},
        {p.Digit7, "Digit7", 392, 11},    {p.Digit8, "Digit8", 440, 11},
        {p.Digit12, "Digit12", 8, 136},   {p.Digit13, "Digit13", 56, 136},
        {p.Digit15, "Digit15", 136, 136}, {p.Digit16, "Digit16", 184, 136},
        {p.Digit18, "Digit18", 264, 136}, {p.Digit19, "Digit19", 312, 136},
        {p.Digit21, "Digit21", 392, 136}, {p.Digit22, "Digit22", 440, 136},
    };
    for (const Place &d : digits) {
        ASSERT_NE(d.d, nullptr) << d.name;
        EXPECT_EQ(d.d->objectName(), QLatin1String(d.name));
        EXPECT_EQ(d.d->geometry(), QRect(d.left, d.top, 45, 89)) << d.name;
        EXPECT_EQ(d.d->Thickness(), 5) << d.name;
        EXPECT_EQ(d.d->Separation(), 1) << d.name;
    }

    struct Label
    {
        QLabel *l;
        const char *name;
        const char *text;
        int left;
        int top;
    };
    const Label separators[] = {
        {p.LabHour, "LabHour", ":", 109, 11},  {p.LabMin, "LabMin", ":", 234, 11},
        {p.LabSec, "LabSec", ",", 362, 41},    {p.LabHour2, "LabHour2", ":", 106, 136},
        {p.LabMin2, "LabMin2", ":", 234, 136}, {p.LabSec2, "LabSec2", ",", 362, 166},
    };
    for (const Label &l : separators) {
        ASSERT_NE(l.l, nullptr) << l.name;
        EXPECT_EQ(l.l->objectName(), QLatin1String(l.name));
        EXPECT_EQ(l.l->text(), QLatin1String(l.text)) << l.name;
        EXPECT_EQ(l.l->geometry(), QRect(l.left, l.top, 25, 81)) << l.name;
        EXPECT_EQ(l.l->alignment(), Qt::AlignCenter) << l.name;
        EXPECT_EQ(l.l->font().pixelSize(), 64) << l.name;
        EXPECT_TRUE(l.l->font().bold()) << l.name;
        EXPECT_EQ(QFontInfo(l.l->font()).family(), QStringLiteral("Liberation Serif")) << l.name;
    }

    const Label captions[] = {
        {p.Lab_Hour, "Lab_Hour", "Std.", 60, 106},
        {p.Lab_Min, "Lab_Min", "Min.", 164, 106},
        {p.Lab_sek, "Lab_sek", "Sek.", 292, 106},
        {p.Lab_100, "Lab_100", "1/100", 414, 106},
    };
    for (const Label &l : captions) {
        ASSERT_NE(l.l, nullptr) << l.name;
        EXPECT_EQ(l.l->objectName(), QLatin1String(l.name));
        EXPECT_EQ(l.l->text(), QLatin1String(l.text)) << l.name;
        EXPECT_EQ(l.l->pos(), QPoint(l.left, l.top)) << l.name;
        EXPECT_EQ(l.l->font().pixelSize(), 19) << l.name;
        EXPECT_TRUE(l.l->font().bold()) << l.name;
        EXPECT_EQ(QFontInfo(l.l->font()).family(), QStringLiteral("Liberation Sans")) << l.name;
    }
}

// Which colours occur inside a rectangle of an image.
std::set<TColor> coloursIn(const QImage &img, const QRect &r)
{
    std::set<TColor> s;
    const QRect inside = r & img.rect(); // the lower comma reaches below the panel
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            s.insert(pixelAt(img, x, y));
    return s;
}

TEST(DisplayColors, DefaultsLimeAndYellowOnBlack)
{
    TTimeDisplay p;
    EXPECT_EQ(p.C1(), clBlack);
    EXPECT_EQ(p.C2(), clLime);
    EXPECT_EQ(p.C3(), TColor(0x404040));
    EXPECT_EQ(p.C4(), clYellow);
    p.ShowTime(0, 29103079);
    p.ShowTime(1, 29103079);
    const QImage img = p.grab().toImage();
    EXPECT_EQ(pixelAt(img, 2, 2), clBlack);
    EXPECT_EQ(readRow(img, 0, clLime), QStringLiteral("08:05:03,07"));
    EXPECT_EQ(readRow(img, 1, clYellow), QStringLiteral("08:05:03,07"));
    // The separators are drawn in their row's colour, the captions in white.
    EXPECT_TRUE(coloursIn(img, p.LabHour->geometry()).count(clLime));
    EXPECT_TRUE(coloursIn(img, p.LabSec2->geometry()).count(clYellow));
    EXPECT_TRUE(coloursIn(img, p.Lab_Hour->geometry()).count(clWhite));
}

TEST(DisplayColors, AppliedToDigitsAndSeparatorsCaptionsStayWhite)
{
    TTimeDisplay p;
    p.ShowTime(0, 29103079);
    p.ShowTime(1, 86399999);
    p.setC1(clWhite);
    p.setC2(clBlue);
    p.setC3(clGreen);
    p.setC4(clRed);
    p.ApplyDisplayColors();
    const QImage img = p.grab().toImage();

    EXPECT_EQ(pixelAt(img, 2, 2), clWhite);     // panel
    EXPECT_EQ(pixelAt(img, 250, 120), clWhite); // between the rows
    EXPECT_EQ(readRow(img, 0, clBlue), QStringLiteral("08:05:03,07"));
    EXPECT_EQ(readRow(img, 1, clRed), QStringLiteral("23:59:59,99"));
    // Unlit segments and the digits' background take the panel colour: the middle bar of
    // the upper 0 and the corner of the upper 8.
    EXPECT_EQ(pixelAt(img, 8 + 22, 11 + 44), clWhite);
    EXPECT_EQ(pixelAt(img, 8 + 0, 11 + 0), clWhite);
    for (const TDigit *d : {p.Digit1, p.Digit8})
        EXPECT_EQ(d->ColorOn(), clBlue);
    for (const TDigit *d : {p.Digit12, p.Digit22})
        EXPECT_EQ(d->ColorOn(), clRed);

    for (QLabel *l : {p.LabHour, p.LabMin, p.LabSec}) {
        const auto c = coloursIn(img, l->geometry());
        EXPECT_TRUE(c.count(clBlue)) << l->objectName().toStdString();
        EXPECT_FALSE(c.count(clRed)) << l->objectName().toStdString();
    }
    for (QLabel *l : {p.LabHour2, p.LabMin2, p.LabSec2}) {
        const auto c = coloursIn(img, l->geometry());
        EXPECT_TRUE(c.count(clRed)) << l->objectName().toStdString();
        EXPECT_FALSE(c.count(clBlue)) << l->objectName().toStdString();
    }
    // White text on white: a caption in any other colour would leave other pixels.
    for (QLabel *l : {p.Lab_Hour, p.Lab_Min, p.Lab_sek, p.Lab_100})
        EXPECT_EQ(coloursIn(img, l->geometry()), std::set<TColor>{clWhite})
            << l->objectName().toStdString();
}

// The display tests need no buttons: the command panel ignores what it is told.
class NullCommandPanel : public ICommandPanel
{
public:
    void setCommandEnabled(ChronoCommand, bool) override {}
    void setResetCaption(const QString &) override {}
};

class DisplayTick : public ::testing::Test
{
protected:
    void SetUp() override
    {
        chrono.setDisplayOutput(&panel);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        for (int row = 0; row < 2; ++row)
            for (int i = 0; i < 8; ++i)
                counter.watch(panel.rowDigits(row)[i]);
        counter.watch(panel.LabHour);
        counter.watch(panel.Lab_100);
        flushPaints();
        chrono.setTimerFactory(timers.factory());
        chrono.start();
    }

    // Ticks at the given time and returns the names of the controls that were repainted.
    std::string tickAt(int h, int m, int s, int ms)
    {
        flushPaints();
        counter.reset();
        clock.set(h, m, s, ms);
        timers.made.back()->fire();
        flushPaints();
        QStringList painted;
        for (const auto &[obj, n] : counter.counts) {
            if (n > 1)
                painted << obj->objectName() + QStringLiteral(" x") + QString::number(n);
            else if (n == 1)
                painted << obj->objectName();
        }
        painted.sort();
        return painted.join(u' ').toStdString();
    }

    TestClock clock;
    TestTimerFactory timers;
    NullCommandPanel commands;
    TChronometer chrono{clock, commands};
    TTimeDisplay panel;
    PaintCounter counter;
};

TEST_F(DisplayTick, RepaintsOnlyTheDigitsThatChange)
{
    tickAt(10, 1, 23, 456);
    EXPECT_EQ(readRow(panel.grab().toImage(), 0, clLime), QStringLiteral("10:01:23,45"));

    EXPECT_EQ(tickAt(10, 1, 23, 467), "Digit8");
    EXPECT_EQ(tickAt(10, 1, 23, 469), ""); // same hundredth
    EXPECT_EQ(tickAt(10, 1, 23, 999), "Digit7 Digit8");
    EXPECT_EQ(tickAt(10, 1, 24, 0), "Digit6 Digit7 Digit8");
    EXPECT_EQ(tickAt(10, 1, 25, 1), "Digit6");
    // Digits 6 and 8 change, 7 between them does not.
    EXPECT_EQ(tickAt(10, 1, 26, 11), "Digit6 Digit8");
    EXPECT_EQ(tickAt(10, 59, 59, 990), "Digit3 Digit4 Digit5 Digit6 Digit7 Digit8");
    EXPECT_EQ(tickAt(11, 0, 0, 0), "Digit2 Digit3 Digit4 Digit5 Digit6 Digit7 Digit8");
    EXPECT_EQ(readRow(panel.grab().toImage(), 0, clLime), QStringLiteral("11:00:00,00"));
}

} // namespace
