#include "app/FMain.h"

#include "tests/support/Recorders.h"
#include "tests/support/TestClock.h"
#include "timing/BarrierGuard.h"
#include "widgets/ClickImage.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

constexpr quint32 kDsr = 0x20; // contact on "4+6"
constexpr quint32 kCts = 0x10; // contact on "7+8"

// Drives the main window's light-barrier handler with a status word the test sets,
// the way the port's events would.
class BarrierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        w = std::make_unique<TFormMain>(&clock);
        w->chrono->setCaptureOutput(&capture);
        w->guard->readStatus = [this] { return status; };
        w->guard->algorithm = [this] { return alg; };
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    void line(quint32 s, int events = 1)
    {
        status = s;
        for (int i = 0; i < events; ++i)
            w->ComPortLS(nullptr);
    }

    int iconState() const
    {
        const QImage shown = w->ImageLSzeit->pixmap().toImage();
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
    RecordingCapture capture;
    std::unique_ptr<TFormMain> w;
    quint32 status = 0;
    int alg = 0;
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
    EXPECT_EQ(iconState(), 0); // locked at start
    EXPECT_EQ(w->ImageLSzeit->toolTip(), "[F3] Zeit-LS frei / gesperrt");
    EXPECT_EQ(w->ImageLSzeit->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(BarrierTest, AlgorithmZeroTakesClosingsOutsideTheLockTime)
{
    w->TimerGesperrt->setInterval(150);
    runningAndFree();
    line(kDsr); // closes: a time
    EXPECT_EQ(capture.texts.size(), 1);
    EXPECT_EQ(iconState(), 0);
    EXPECT_TRUE(w->guard->lockTimeRunning());
    line(0); // opens: none
    line(kDsr); // closes within the lock time: none
    EXPECT_EQ(capture.texts.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!w->guard->lockTimeRunning(), 2000);
    EXPECT_EQ(iconState(), 1);
    line(0);
    clock.set(10, 5, 0, 0);
    line(kDsr); // after the lock time: a time again
    EXPECT_EQ(capture.texts, (QStringList{"10:01:23,45", "10:05:00,00"}));
}

TEST_F(BarrierTest, FiveHundredMillisecondSequence)
{
    w->TimerGesperrt->setInterval(500);
    runningAndFree();
    EXPECT_EQ(iconState(), 1);
    QElapsedTimer t;
    t.start();
    auto at = [&](int ms) {
        while (t.elapsed() < ms)
            QTest::qWait(5);
    };
    clock.set(10, 0, 0, 0);
    line(kDsr);
    EXPECT_EQ(capture.texts, QStringList{"10:00:00,00"});
    EXPECT_EQ(iconState(), 0);
    at(100);
    line(0);
    at(300);
    line(kDsr);
    EXPECT_EQ(capture.texts.size(), 1);
    at(400);
    line(0);
    EXPECT_EQ(iconState(), 0);
    // The lock time ends at about 500 ms (later only if the machine is busy).
    QTRY_COMPARE_WITH_TIMEOUT(iconState(), 1, 3000);
    EXPECT_GE(t.elapsed(), 490);
    at(std::max<qint64>(800, t.elapsed()));
    clock.set(10, 0, 0, 800);
    line(kDsr);
    EXPECT_EQ(capture.texts, (QStringList{"10:00:00,00", "10:00:00,80"}));
    EXPECT_EQ(iconState(), 0);
}

TEST_F(BarrierTest, TriggerEdgeAndStatusFilter)
{
    w->TimerGesperrt->setInterval(0); // no lock time: every qualifying change counts
    runningAndFree();

    alg = 1; // only the opening takes a time
    line(kDsr);
    EXPECT_EQ(capture.texts.size(), 0);
    line(0);
    EXPECT_EQ(capture.texts.size(), 1);
    EXPECT_EQ(w->guard->lockState(), 1); // stays free without a lock time

    alg = 2; // any other value never
    line(kDsr);
    line(0);
    alg = -1;
    line(kDsr);
    line(0);
    EXPECT_EQ(capture.texts.size(), 1);

    alg = 0;
    line(kCts | kDsr, 2); // CTS and DSR in one batch: two events, one change
    EXPECT_EQ(capture.texts.size(), 2);
    line(kCts); // several lines: a change between two contact patterns also fires
    EXPECT_EQ(capture.texts.size(), 3);
    line(kCts, 3); // no change, no time
    EXPECT_EQ(capture.texts.size(), 3);
}

TEST_F(BarrierTest, FirstEventAlwaysCountsAsAChange)
{
    w->TimerGesperrt->setInterval(0);
    runningAndFree();
    EXPECT_EQ(w->guard->LastLineStatus, 0x55555555u);
    line(0x30); // any real word differs from the initial value
    EXPECT_EQ(capture.texts.size(), 1);
    EXPECT_EQ(w->guard->LastLineStatus, 0x30u);
}

TEST_F(BarrierTest, IdleEventRunsTheLockTimeWithoutTakingATime)
{
    w->TimerGesperrt->setInterval(120);
    QTest::keyClick(w.get(), Qt::Key_F3); // freed in Idle
    ASSERT_EQ(iconState(), 1);
    line(kDsr);
    EXPECT_TRUE(capture.texts.isEmpty());
    EXPECT_EQ(iconState(), 0);
    EXPECT_TRUE(w->guard->lockTimeRunning());
    QTRY_COMPARE_WITH_TIMEOUT(iconState(), 1, 2000);
}

TEST_F(BarrierTest, LockAfterStartAndKeysDuringLockTime)
{
    w->TimerGesperrt->setInterval(300);
    QTest::keyClick(w.get(), Qt::Key_F3); // free before START
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_EQ(w->guard->lockState(), 0); // START locks a free barrier
    line(kDsr);
    line(0);
    EXPECT_TRUE(capture.texts.isEmpty());

    QTest::keyClick(w.get(), Qt::Key_F3);
    line(kDsr); // a time, and the lock time runs
    ASSERT_EQ(capture.texts.size(), 1);
    QTest::keyClick(w.get(), Qt::Key_F8); // keys ignore the lock time
    EXPECT_EQ(capture.texts.size(), 2);
    QTest::keyClick(w.get(), Qt::Key_F3); // freed during the lock time...
    EXPECT_EQ(iconState(), 1);
    line(0);
    line(kDsr); // ...but events are still ignored until the timer fires
    EXPECT_EQ(capture.texts.size(), 2);
    // The lock time ends with the barrier free; a barrier already free stays free.
    QTRY_VERIFY_WITH_TIMEOUT(!w->guard->lockTimeRunning(), 2000);
    EXPECT_EQ(iconState(), 1);
    line(0);
    line(kDsr);
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
    QTest::mouseClick(w->ImageLSzeit, Qt::LeftButton);
    EXPECT_EQ(w->guard->lockState(), 1);
    QTest::mouseClick(w->ImageLSzeit, Qt::RightButton); // only a left click toggles
    EXPECT_EQ(w->guard->lockState(), 1);
}

} // namespace
