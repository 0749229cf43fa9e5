#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "tests/support/DisplayReader.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestTimer.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/Udigit.h"

#include <QDate>
#include <QFontInfo>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class DisplayInMainWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form.chrono->setTimerFactory(timers.factory());
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    QImage panel() { return ui(form).PanelTimer->grab().toImage(); }

    TestClock clock;
    TestTimerFactory timers;
    TFormMain form{&clock};
};

TEST_F(DisplayInMainWindow, StartRunsTheUpperRowAndZeitFillsTheLowerRow)
{
    EXPECT_EQ(ui(form).PanelTimer->geometry(), QRect(0, 0, 492, 239));
    EXPECT_EQ(readRow(panel(), 0, clLime), QStringLiteral("00:00:00,00"));
    EXPECT_EQ(readRow(panel(), 1, clYellow), QStringLiteral("00:00:00,00"));

    clock.set(10, 0, 0, 0);
    QTest::keyClick(&form, Qt::Key_F4);
    ASSERT_TRUE(form.chrono->running());
    clock.set(10, 1, 23, 456);
    form.ClockTimer();
    QImage img = panel();
    EXPECT_EQ(pixelAt(img, 2, 2), clBlack);
    EXPECT_EQ(readRow(img, 0, clLime), QStringLiteral("10:01:23,45"));
    EXPECT_EQ(readRow(img, 1, clYellow), QStringLiteral("00:00:00,00"));

    clock.set(8, 5, 3, 79);
    QTest::keyClick(&form, Qt::Key_F8);
    img = panel();
    EXPECT_EQ(readRow(img, 1, clYellow), QStringLiteral("08:05:03,07"));
    EXPECT_EQ(readRow(img, 0, clLime), QStringLiteral("10:01:23,45")); // until the next tick

    // The running clock's timer drives the upper row by itself.
    clock.set(12, 34, 56, 780);
    timers.made.back()->advance(10);
    EXPECT_EQ(readRow(panel(), 0, clLime), QStringLiteral("12:34:56,78"));

    QTest::keyClick(&form, Qt::Key_F9); // STOPP
    img = panel();
    EXPECT_EQ(readRow(img, 0, clLime), QStringLiteral("00:00:00,00"));
    EXPECT_EQ(readRow(img, 1, clYellow), QStringLiteral("08:05:03,07"));
    QTest::keyClick(&form, Qt::Key_F9); // RESET
    EXPECT_EQ(readRow(panel(), 1, clYellow), QStringLiteral("00:00:00,00"));
}

TEST_F(DisplayInMainWindow, DateLabelShowsTodayInTheShortForm)
{
    QLabel *l = ui(form).LabelDate;
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->text(), QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    EXPECT_EQ(l->size(), QSize(122, 27));
    EXPECT_EQ(l->alignment(), Qt::AlignCenter);
    EXPECT_EQ(l->font().pixelSize(), 24);
    EXPECT_EQ(QFontInfo(l->font()).family(), QStringLiteral("Liberation Sans"));
    // Dark grey text, nothing painted behind it.
    const QImage img = l->grab().toImage();
    bool textColour = false;
    for (int y = 0; y < img.height() && !textColour; ++y)
        for (int x = 0; x < img.width() && !textColour; ++x)
            textColour = pixelAt(img, x, y) == TColor(0x383838);
    EXPECT_TRUE(textColour);
    EXPECT_FALSE(l->autoFillBackground());
}

} // namespace
