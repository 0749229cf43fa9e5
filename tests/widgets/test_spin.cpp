#include "tests/support/TestTimer.h"
#include "widgets/FlEdit.h"
#include "widgets/Spin.h"
#include "widgets/oClrBox.h"

#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// German number format for one test: the decimal comma.
class GermanLocale
{
public:
    GermanLocale() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    ~GermanLocale() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};

// A shown, active window holding the control under test and a second field to move to.
template <class T> struct Shown
{
    Shown()
    {
        auto *l = new QVBoxLayout(&window);
        control = new T(&window);
        other = new QLineEdit(&window);
        l->addWidget(control);
        l->addWidget(other);
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QWidget window;
    T *control;
    QLineEdit *other;
};

void press(QWidget *w)
{
    QTest::mousePress(w, Qt::LeftButton, {}, w->rect().center());
}
void release(QWidget *w)
{
    QTest::mouseRelease(w, Qt::LeftButton, {}, w->rect().center());
}

// ---- Spin button ----

TEST(SpinButton, HeldHalfRepeatsOnlyWhileOverItAndClicksOnRelease)
{
    TestTimerFactory timers;
    Shown<TSpinButton> s;
    s.control->setTimerFactory(timers.factory());
    QString log;
    s.control->OnUpClick = [&](QObject *) { log += 'U'; };
    s.control->OnDownClick = [&](QObject *) { log += 'D'; };
    TTimerSpeedButton *up = s.control->UpButton(), *down = s.control->DownButton();
    press(down);
    timers.made.at(0)->advance(500); // repeats at 400 and 500
    release(down);
    timers.made.at(0)->advance(1000);
    EXPECT_EQ(log, "DDD");
    EXPECT_EQ(s.control->focusedButton(), down); // the press moved the focus half there

    press(up);
    QMouseEvent away(QEvent::MouseMove, QPointF(-20, -20), up->mapToGlobal(QPointF(-20, -20)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(up, &away);
    timers.made.at(1)->advance(700);
    QTest::mouseRelease(up, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(log, "DDD"); // neither repeats nor a click outside the button
    EXPECT_EQ(up->geometry().bottom(), down->geometry().top()); // one pixel overlap

    log.clear();
    s.control->setFocus();
    for (Qt::Key k : {Qt::Key_Up, Qt::Key_Space, Qt::Key_Down, Qt::Key_Space})
        QTest::keyClick(s.control, k);
    EXPECT_EQ(log, "UUDD");
}

// ---- Integer spin edit ----

struct LimitCase
{
    int min, max, set;
    const char *text;
};

class SpinEditLimits : public ::testing::TestWithParam<LimitCase>
{
};

TEST_P(SpinEditLimits, ValueIsLimitedUnlessTheLimitsAreEqual)
{
    const LimitCase c = GetParam();
    TSpinEdit e;
    e.setMinValue(c.min);
    e.setMaxValue(c.max);
    e.setValue(c.set);
    EXPECT_EQ(e.text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpinEditLimits,
                         ::testing::Values(LimitCase{1, 100, 250, "100"}, LimitCase{1, 100, 0, "1"},
                                           LimitCase{0, 0, -7, "-7"}, LimitCase{5, 5, 9, "9"},
                                           LimitCase{1, 100, 37, "37"}));

TEST(SpinEdit, CounterTakesTwoCharactersAndReaches100OnlyBySpinning)
{
    GermanLocale de;
    Shown<TSpinEdit> s;
    TSpinEdit &e = *s.control;
    e.setMinValue(1);
    e.setMaxValue(100);
    e.setMaxLength(2);
    e.setFocus();
    e.selectAll();
    QTest::keyClicks(&e, "1x.+00");
    EXPECT_EQ(e.text(), "1+"); // letters and '.' dropped, the third character too
    e.selectAll();
    QTest::keyClicks(&e, "100");
    EXPECT_EQ(e.text(), "10");
    e.setValue(99);
    QTest::keyClick(&e, Qt::Key_Up); // the spin actions are not held to two characters
    EXPECT_EQ(e.text(), "100");
    // Leaving rewrites an out-of-range number, but leaves an empty text empty.
    e.setMaxLength(32767);
    for (auto [typed, left] : {std::pair{"250", "100"}, {"0", "1"}, {"", ""}}) {
        e.setFocus();
        e.setText(typed);
        s.other->setFocus();
        EXPECT_EQ(e.text(), left) << typed;
    }
    EXPECT_EQ(e.Value(), 1);
}

// ---- Decimal spin edit ----

struct KeyCase
{
    double min;
    int digits;
    const char *start; // "[..]" marks the selection, "|" the cursor
    const char *keys;
    const char *text;
    const char *selected;
};

class FloatKeys : public ::testing::TestWithParam<KeyCase>
{
};

TEST_P(FloatKeys, EveryTypedTextStaysANumberWithinTheLimits)
{
    const KeyCase c = GetParam();
    GermanLocale de;
    Shown<TSpinFloatEdit> s;
    TSpinFloatEdit &e = *s.control;
    e.setMax(10.0);
    e.setMin(c.min);
    e.setDigits(c.digits);
    e.setFocus();
    QString start = QString::fromUtf8(c.start);
    const int selFrom = start.indexOf('['), cursor = start.indexOf('|');
    start.remove('[').remove(']').remove('|');
    e.setText(start);
    if (selFrom >= 0)
        e.setSelection(selFrom, QString::fromUtf8(c.start).indexOf(']') - selFrom - 1);
    else
        e.setCursorPosition(cursor >= 0 ? cursor : start.size());
    QTest::keyClicks(&e, QString::fromUtf8(c.keys));
    EXPECT_EQ(e.text(), c.text);
    EXPECT_EQ(e.selectedText(), c.selected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FloatKeys,
                         ::testing::Values(KeyCase{0, 1, "", ",", "0,0", "0"},   // separator alone
                                           KeyCase{0, 1, "", "-", "-0", "0"},    // minus alone
                                           KeyCase{0, 1, "0,1", "5", "0,1", ""}, // a second decimal
                                           KeyCase{0, 1, "", "11", "1", ""},     // 11 is above 10
                                           KeyCase{0, 1, "5", ".a,", "5,", ""},  // only the comma
                                           KeyCase{0, 1, "[0,1]", "7,5", "7,5",
                                                   ""}, // replaces the selection
                                           KeyCase{0, 1, "1|", "e", "1", ""},  // "1e" is no number
                                           KeyCase{5, 1, "", "17", "7", ""},   // no way through "1"
                                           KeyCase{0, 0, "5", ",", "5", ""})); // no decimals at all

TEST(FloatEdit, EscapeAndARefusedExitReturnToTheEntryValue)
{
    GermanLocale de;
    Shown<TSpinFloatEdit> s;
    TSpinFloatEdit &e = *s.control;
    e.setMax(10.0);
    e.setMin(5.0);
    e.setValue(6.5);
    s.other->setFocus();
    e.setFocus();
    QTest::keyClicks(&e, "8");
    EXPECT_EQ(e.text(), "8");
    QTest::keyClick(&e, Qt::Key_Escape);
    EXPECT_EQ(e.text(), "6,5");
    EXPECT_EQ(e.selectedText(), "6,5");

    // A text that went out of range by deleting cannot be left.
    e.setCursorPosition(1);
    QTest::keyClick(&e, Qt::Key_Backspace); // ",5" reads 0.5, below 5
    EXPECT_EQ(e.text(), ",5");
    s.other->setFocus();
    EXPECT_EQ(e.text(), "6,5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.hasFocus(); }, 10000));
    // A valid one is rewritten with its decimals.
    e.setText("7,");
    s.other->setFocus();
    EXPECT_EQ(e.text(), "7,0");
    EXPECT_FALSE(e.hasFocus());
}

TEST(FloatEdit, LimitsThatCrossAreRefusedAndStayAsTheyWere)
{
    TCustomFloatEdit e;
    e.setMax(10.0);
    EXPECT_THROW(e.setMin(11.0), std::invalid_argument);
    e.setMin(2.0);
    EXPECT_THROW(e.setMax(1.0), std::invalid_argument);
    EXPECT_EQ(e.Min(), 2.0);
    EXPECT_EQ(e.Max(), 10.0);
    EXPECT_EQ(e.Value(), 2.0); // raising Min rewrote the value
}

// ---- Colour combo ----

struct ComboCase
{
    TColorSet set;
    TColor value;
    TColor shown; // ColorValue afterwards
    int index;    // selected item
    int changes;  // OnChange calls
};

class ColorCombo : public ::testing::TestWithParam<ComboCase>
{
};

TEST_P(ColorCombo, SettingAValueSelectsTheFirstItemOfThatColourOrTheUserEntry)
{
    const ComboCase c = GetParam();
    ToColorCombo combo;
    combo.setColorSet(c.set);
    int changes = 0;
    combo.OnChange = [&](QObject *) { ++changes; };
    combo.setColorValue(c.value);
    EXPECT_EQ(combo.ColorValue(), c.shown);
    EXPECT_EQ(combo.currentIndex(), c.index);
    EXPECT_EQ(changes, c.changes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ColorCombo,
    ::testing::Values(ComboCase{clrPure, 0x123456, clBlack, 0, 0}, // not one of the 16
                      ComboCase{clrPure | clrUser, 0x123456, 0x123456, 16, 1},
                      ComboCase{clrPure | clrUser, clWhite, clWhite, 15, 1}, // before "Other..."
                      ComboCase{clrPure | clrCtrl | clrUser, 0xFF00000F, 0xFF00000F, 31, 1},
                      ComboCase{0, 0x123456, 0x123456, 0, 1})); // empty set: the user entry only

struct SwatchCase
{
    bool names;
    QPoint outline, inside, outsideSwatch;
};

class ColorSwatch : public ::testing::TestWithParam<SwatchCase>
{
};

TEST_P(ColorSwatch, ItemsAreAnOutlinedSwatchOnTheBackground)
{
    const SwatchCase c = GetParam();
    ToColorCombo combo;
    combo.setColorSet(clrPure);
    combo.setDrawColorName(c.names);
    QImage img(100, 20, QImage::Format_RGB32);
    QPainter p(&img);
    combo.drawItem(p, img.rect(), 9 /* Red */, false);
    p.end();
    const QRgb back = combo.palette().color(QPalette::Base).rgb();
    EXPECT_EQ(img.pixel(c.outline), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(c.inside), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(c.outsideSwatch), back);
    EXPECT_EQ(img.pixel(1, 1), back);
}

INSTANTIATE_TEST_SUITE_P(Cases, ColorSwatch,
                         ::testing::Values(SwatchCase{true, {23, 17}, {22, 16}, {24, 10}},
                                           SwatchCase{false, {97, 17}, {96, 16}, {98, 10}}));

} // namespace
