#include "app/FMain.h"
#include "tests/support/WindowControls.h"

#include "app/Safekeeping.h"
#include "protocol/Journal.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"
#include "tests/support/core/Files.h"
#include "timing/BarrierGuard.h"
#include "timing/display/BarrierIcons.h"
#include "widgets/ClickImage.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr quint32 kDsr = 0x20; // contact on "4+6"
constexpr quint32 kCts = 0x10; // contact on "7+8"

// Drives the main window's light-barrier handler with line changes stamped as the port's
// worker stamps them (stamps in ms, 0 ms = 10:00:00.000), and a lock timer the test moves
// on by hand.
class BarrierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        w = std::make_unique<TFormMain>(&clock);
        w->chrono->setCaptureOutput(&capture);
        w->guard->setTriggerEdge(0);
        windowStamps = w->guard->stampClock;
        w->guard->stampClock = &stamps;
        auto t = std::make_unique<TestTimer>();
        timer = t.get();
        w->guard->setLockTimer(std::move(t));
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    // A change stamped at ms, handled now (whatever the stamp clock says now).
    void line(quint32 s, qint64 ms, int events = 1)
    {
        for (int i = 0; i < events; ++i)
            w->guard->ComPortLS(s, stamps.at(ms));
    }
    // Time moves on to ms (the lock timer with it), then the change is handled at once.
    void prompt(quint32 s, qint64 ms)
    {
        moveTo(ms);
        line(s, ms);
    }
    void moveTo(qint64 ms)
    {
        const qint64 step = ms - stamps.ms();
        stamps.set(ms);
        timer->advance(int(step));
    }

    int iconState() const
    {
        const QImage shown = ui(*w).ImageLSzeit->pixmap().toImage();
        for (int s = 0; s < 2; ++s)
            if (shown == w->ImageList1[s].toImage())
                return s;
        return -1;
    }

    void runningAndFree()
    {
        QTest::keyClick(w.get(), Qt::Key_F4);
        ASSERT_EQ(w->guard->lockState(), 0); // START locks
        QTest::keyClick(w.get(), Qt::Key_F3);
        ASSERT_EQ(w->guard->lockState(), 1);
    }

    TestClock clock;
    TestStampClock stamps;
    const IStampClock *windowStamps = nullptr; // what the window gave the guard
    TestTimer *timer = nullptr;
    RecordingCapture capture;
    std::unique_ptr<TFormMain> w;
};

TEST_F(BarrierTest, IconsAreRedWithHorizontalBarAndGreenWithVerticalBar)
{
    const QImage locked = barrierIcon(0).toImage();
    const QImage free = barrierIcon(1).toImage();
    EXPECT_EQ(locked.size(), QSize(30, 30));
    EXPECT_GT(locked.pixelColor(4, 15).red(), 200);
    EXPECT_LT(locked.pixelColor(4, 15).green(), 30);
    EXPECT_EQ(locked.pixelColor(9, 15), QColor(Qt::white)); // bar across
    EXPECT_NE(locked.pixelColor(15, 8), QColor(Qt::white));
    EXPECT_GT(free.pixelColor(4, 15).green(), 150);
    EXPECT_LT(free.pixelColor(4, 15).red(), 30);
    EXPECT_EQ(free.pixelColor(15, 8), QColor(Qt::white)); // bar upright
    EXPECT_NE(free.pixelColor(8, 15), QColor(Qt::white));
    // Not connected: grey with a white cross, neither bar.
    const QImage lost = barrierIconNotConnected().toImage();
    EXPECT_EQ(lost.size(), QSize(30, 30));
    const QColor rim = lost.pixelColor(4, 15);
    EXPECT_TRUE(rim.red() == rim.green() && rim.green() == rim.blue() && rim.red() < 200);
    for (QPoint arm : {QPoint(15, 15), QPoint(12, 12), QPoint(18, 12), QPoint(12, 18)})
        EXPECT_EQ(lost.pixelColor(arm), QColor(Qt::white)) << arm.x() << "," << arm.y();
    EXPECT_NE(lost.pixelColor(15, 8), QColor(Qt::white));
    EXPECT_NE(lost.pixelColor(8, 15), QColor(Qt::white));
    EXPECT_EQ(iconState(), 0); // locked at start
    EXPECT_EQ(ui(*w).ImageLSzeit->toolTip(), "[F3] Zeit-LS frei / gesperrt");
    EXPECT_EQ(ui(*w).ImageLSzeit->cursor().shape(), Qt::PointingHandCursor);
}

// A call that does not come from a port event reads the status now and takes the time
// from the window's clock, as keys do.
TEST_F(BarrierTest, CallWithoutAnEventReadsTheLineAndTheClockNow)
{
    w->guard->setLockTime(0);
    w->guard->stampClock = windowStamps;
    quint32 status = 0x30;
    w->guard->readStatus = [&] { return status; };
    runningAndFree();
    EXPECT_EQ(w->guard->LastLineStatus, 0x55555555u);
    clock.set(11, 22, 33, 449);
    w->ComPortLS(nullptr); // any real word differs from the initial value
    EXPECT_EQ(capture.texts, QStringList{"11:22:33,44"});
    EXPECT_EQ(w->guard->LastLineStatus, 0x30u);
}

TEST_F(BarrierTest, IdleEventRunsTheLockTimeWithoutTakingATime)
{
    w->guard->setLockTime(120);
    QTest::keyClick(w.get(), Qt::Key_F3); // freed in Idle
    ASSERT_EQ(iconState(), 1);
    prompt(kDsr, 0);
    EXPECT_TRUE(capture.texts.isEmpty());
    EXPECT_EQ(iconState(), 0);
    EXPECT_TRUE(w->guard->lockTimeRunning());
    moveTo(120);
    EXPECT_EQ(iconState(), 1);
}

TEST_F(BarrierTest, LockAfterStartAndKeysDuringLockTime)
{
    w->guard->setLockTime(300);
    QTest::keyClick(w.get(), Qt::Key_F3); // free before START
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_EQ(w->guard->lockState(), 0); // START locks a free barrier
    prompt(kDsr, 0);
    prompt(0, 10);
    EXPECT_TRUE(capture.texts.isEmpty());

    QTest::keyClick(w.get(), Qt::Key_F3);
    prompt(kDsr, 1000); // a time, and the lock time runs
    ASSERT_EQ(capture.texts.size(), 1);
    clock.set(12, 0, 0, 0);
    QTest::keyClick(w.get(), Qt::Key_F8); // keys ignore the lock time, and read the clock
    EXPECT_EQ(capture.texts, (QStringList{"10:00:01,00", "12:00:00,00"}));
    QTest::keyClick(w.get(), Qt::Key_F3); // freed during the lock time...
    EXPECT_EQ(iconState(), 1);
    prompt(0, 1100);
    prompt(kDsr, 1200); // ...but changes inside it are still ignored
    EXPECT_EQ(capture.texts.size(), 2);
    // The lock time ends with the barrier free; a barrier already free stays free.
    moveTo(1300);
    EXPECT_FALSE(w->guard->lockTimeRunning());
    EXPECT_EQ(iconState(), 1);
    prompt(0, 1400);
    prompt(kDsr, 1500);
    EXPECT_EQ(capture.texts.size(), 3);
}

TEST_F(BarrierTest, StoppLeavesTheLockAndResetLocks)
{
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    QTest::keyClick(w.get(), Qt::Key_F9); // STOPP
    EXPECT_EQ(w->guard->lockState(), 1);
    QTest::keyClick(w.get(), Qt::Key_F9); // RESET
    EXPECT_EQ(w->guard->lockState(), 0);
    QTest::keyClick(w.get(), Qt::Key_F9); // disabled in Idle
    EXPECT_EQ(w->guard->lockState(), 0);
    QTest::mouseClick(ui(*w).ImageLSzeit, Qt::LeftButton);
    EXPECT_EQ(w->guard->lockState(), 1);
    QTest::mouseClick(ui(*w).ImageLSzeit, Qt::RightButton); // only a left click toggles
    EXPECT_EQ(w->guard->lockState(), 1);
}

} // namespace

namespace {
// The contact test of an open settings dialog.
struct OpenContactTest : IContactTest
{
    bool contactTestVisible() const override { return true; }
    void updateContactTest(quint32, bool) override {}
};

// A pass that takes no time leaves a trace: a journal line with its moment, pin pair and
// reason, and a count in the status bar with the last one, which START sets back.
TEST_F(BarrierTest, PassesWithoutATimeAreJournalledAndCounted)
{
    QTemporaryDir data;
    w->startSafekeeping(data.path());
    w->guard->setLockTime(500);
    QTest::keyClick(w.get(), Qt::Key_F3); // free, but the chronometer is idle
    prompt(kDsr, 0);                      // no time; the lock time runs all the same
    prompt(0, 100);
    prompt(kCts, 200); // within the lock time
    moveTo(600);
    QTest::keyClick(w.get(), Qt::Key_F3); // locked by the operator
    prompt(0, 700);
    prompt(kDsr, 800);
    OpenContactTest dialog;
    w->guard->contactTest = [&] { return &dialog; };
    prompt(0, 900);
    prompt(kDsr, 1010);
    prompt(0, 1100); // an opening takes no time by this edge: no trace either
    EXPECT_TRUE(capture.texts.isEmpty());
    EXPECT_TRUE(ui(*w).LabelIgnored->isVisible());
    EXPECT_EQ(ui(*w).LabelIgnored->text(),
              "Durchfahrten ohne Zeit: 4, zuletzt 10:00:01,01 (Einstellungen offen)");

    ASSERT_TRUE(w->safekeeping->writer()->flush(10000));
    QStringList traces;
    for (const QString &name : QDir(data.path()).entryList({"journal-*.txt"}))
        for (const QString &line : fileLines(data.filePath(name)))
            if (line.contains("\tDurchfahrt ohne Zeit\t"))
                traces << line;
    EXPECT_EQ(traces,
              (QStringList{
                  "10:00:00.000\tDurchfahrt ohne Zeit\t10:00:00,00\t4+6\t-\tUhr nicht gestartet",
                  "10:00:00.200\tDurchfahrt ohne Zeit\t10:00:00,20\t7+8\t-\tSperrzeit",
                  "10:00:00.800\tDurchfahrt ohne Zeit\t10:00:00,80\t4+6\t-\tLichtschranke gesperrt",
                  "10:00:01.010\tDurchfahrt ohne Zeit\t10:00:01,01\t4+6\t-\tEinstellungen offen",
              }));

    // START begins a new count; a pass that takes its time adds nothing.
    w->guard->contactTest = [] { return nullptr; };
    runningAndFree();
    EXPECT_FALSE(ui(*w).LabelIgnored->isVisible());
    prompt(0, 1200);
    prompt(kDsr, 1300);
    EXPECT_EQ(capture.texts, QStringList{"10:00:01,30"});
    EXPECT_FALSE(ui(*w).LabelIgnored->isVisible());
    w->safekeeping->close();
}
} // namespace
