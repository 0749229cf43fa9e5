#include "timing/Chronometer.h"

#include "tests/support/Recorders.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestTimer.h"

#include <gtest/gtest.h>

namespace {

struct FakePanel : ICommandPanel
{
    bool enabled[3] = {true, false, false};
    QString caption = QStringLiteral("STOPP");
    void setCommandEnabled(ChronoCommand c, bool e) override { enabled[int(c)] = e; }
    void setResetCaption(const QString &c) override { caption = c; }
};

struct TextCase
{
    TimeOfDay t;
    const char *text;
    qint32 value;
};

class TimeTextTest : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(TimeTextTest, FormsZeroPaddedTextCutNotRounded)
{
    const TextCase &c = GetParam();
    EXPECT_EQ(TChronometer::timeText(c.t).toStdString(), c.text);
    EXPECT_EQ(msOfDay(c.t), c.value);
}

INSTANTIATE_TEST_SUITE_P(Chronometer, TimeTextTest,
                         ::testing::Values(TextCase{{8, 5, 3, 79}, "08:05:03,07", 29103079},
                                           TextCase{{0, 0, 0, 5}, "00:00:00,00", 5},
                                           TextCase{{10, 1, 23, 456}, "10:01:23,45", 36083456},
                                           TextCase{{10, 2, 0, 9}, "10:02:00,00", 36120009},
                                           TextCase{{23, 59, 59, 999}, "23:59:59,99", 86399999},
                                           TextCase{{12, 0, 0, 990}, "12:00:00,99", 43200990}));

TEST(Chronometer, DisplayTickRunsAcrossMidnight)
{
    TestClock clock;
    FakePanel panel;
    TChronometer c(clock, panel);
    TestTimerFactory timers;
    c.setTimerFactory(timers.factory());
    RecordingDisplay display;
    c.setDisplayOutput(&display);
    c.start();
    clock.set(23, 59, 59, 999);
    c.tick();
    clock.set(0, 0, 0, 0);
    c.tick();
    clock.set(0, 0, 0, 15);
    c.tick();
    ASSERT_EQ(display.calls.size(), 3u);
    EXPECT_EQ(display.calls[0], std::make_pair(0, 86399999));
    EXPECT_EQ(display.calls[1], std::make_pair(0, 0));
    EXPECT_EQ(display.calls[2], std::make_pair(0, 15));
    c.resetClick();
}

// Minimised, the running row is not drawn and the display timer wakes once a second; a
// time is taken and shown on the lower row as always; shown again, the row is right at once.
TEST(Chronometer, HiddenDisplayIsNotDrawnAndTicksSeldom)
{
    TestClock clock;
    FakePanel panel;
    TChronometer c(clock, panel);
    TestTimerFactory timers;
    c.setTimerFactory(timers.factory());
    RecordingDisplay display;
    RecordingCapture capture;
    c.setDisplayOutput(&display);
    c.setCaptureOutput(&capture);
    c.start();
    TestTimer &tick = *timers.made.back();
    EXPECT_EQ(tick.interval(), 10);
    c.setDisplayHidden(true);
    EXPECT_TRUE(c.running());
    EXPECT_EQ(tick.interval(), 1000);
    tick.advance(3000);
    EXPECT_TRUE(display.calls.empty());
    clock.set(10, 0, 5, 120);
    c.lap(QStringLiteral("F8"));
    EXPECT_EQ(capture.texts, QStringList{"10:00:05,12"});
    ASSERT_EQ(display.calls.size(), 1u);
    EXPECT_EQ(display.calls[0], std::make_pair(1, 36005120));
    clock.set(10, 0, 7, 0);
    c.setDisplayHidden(false);
    EXPECT_EQ(tick.interval(), 10);
    ASSERT_EQ(display.calls.size(), 2u);
    EXPECT_EQ(display.calls[1], std::make_pair(0, 36007000));
    // Started while minimised, it ticks seldom from the start.
    c.resetClick();
    c.setDisplayHidden(true);
    c.start();
    EXPECT_EQ(tick.interval(), 1000);
}

TEST(Chronometer, LapReadsClockOnceAndFeedsDisplayThenCapture)
{
    // A clock that moves on every reading: the shown value and the text must still agree.
    struct MovingClock : IClock
    {
        mutable int reads = 0;
        TimeOfDay now() const override { return TimeOfDay{8, 5, 3, 79 + 100 * reads++}; }
    } clock;
    FakePanel panel;
    TChronometer c(clock, panel);
    RecordingDisplay display;
    RecordingCapture capture;
    c.setDisplayOutput(&display);
    c.setCaptureOutput(&capture);
    // Announced with where it came from, before it is shown or captured.
    QStringList announced;
    QObject::connect(&c, &TChronometer::lapTaken,
                     [&](const QString &text, const TimeOfDay &t, const QString &source) {
                         EXPECT_TRUE(display.calls.empty());
                         EXPECT_TRUE(capture.texts.isEmpty());
                         EXPECT_EQ(msOfDay(t), 29103079);
                         announced << text + ' ' + source;
                     });
    c.lap(QStringLiteral("F8"));
    EXPECT_EQ(announced, QStringList{"08:05:03,07 F8"});
    EXPECT_EQ(clock.reads, 1);
    ASSERT_EQ(display.calls.size(), 1u);
    EXPECT_EQ(display.calls[0], std::make_pair(1, 29103079));
    EXPECT_EQ(capture.texts, QStringList{QStringLiteral("08:05:03,07")});
    // A moment already taken (a pass) does not read the clock.
    display.calls.clear();
    capture.texts.clear();
    c.lapAt(TimeOfDay{8, 5, 3, 79}, QStringLiteral("Lichtschranke 4+6 COM5"));
    EXPECT_EQ(announced.last(), "08:05:03,07 Lichtschranke 4+6 COM5");
    EXPECT_EQ(clock.reads, 1);
}

TEST(Chronometer, RunNotificationsAndStopFlag)
{
    TestClock clock;
    FakePanel panel;
    TChronometer c(clock, panel);
    TestTimerFactory timers;
    c.setTimerFactory(timers.factory());
    int started = 0, reset = 0;
    QObject::connect(&c, &TChronometer::runStarted, [&] { ++started; });
    QObject::connect(&c, &TChronometer::runReset, [&] { ++reset; });

    c.start();
    EXPECT_TRUE(c.running());
    EXPECT_EQ(started, 1);
    c.resetClick(); // STOPP
    EXPECT_EQ(c.stopFlag(), 1);
    EXPECT_FALSE(c.running());
    EXPECT_EQ(reset, 0);
    c.start(); // START in Stopped puts the flag back
    EXPECT_EQ(c.stopFlag(), 0);
    EXPECT_EQ(panel.caption, "STOPP");
    c.resetClick(); // stops again rather than resetting
    EXPECT_EQ(panel.caption, "RESET");
    EXPECT_EQ(reset, 0);
    c.resetClick(); // RESET
    EXPECT_EQ(reset, 1);
    EXPECT_EQ(c.stopFlag(), 0);

    // Forced reset from any state: flag 1, then the command takes the RESET path.
    c.start();
    c.setStopFlag(1);
    c.resetClick();
    EXPECT_FALSE(c.running());
    EXPECT_EQ(reset, 2);
    EXPECT_TRUE(panel.enabled[0]);
    EXPECT_FALSE(panel.enabled[1]);
    EXPECT_FALSE(panel.enabled[2]);
}

} // namespace
