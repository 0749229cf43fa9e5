#include "timing/BarrierGuard.h"

#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"
#include "timing/Chronometer.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr quint32 kDsr = 0x20; // contact on "4+6"
constexpr quint32 kCts = 0x10; // contact on "7+8"

// The guard alone, as the window drives it: line changes stamped as the port's worker
// stamps them (stamps in ms, 0 ms = 10:00:00.000), a lock timer the test moves on by hand,
// and in the window's place a receiver that takes each pass the guard lets through while
// ZEIT is enabled and hands it back otherwise.
class GuardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        guard.stampClock = &stamps;
        auto t = std::make_unique<TestTimer>();
        timer = t.get();
        guard.setLockTimer(std::move(t));
        QObject::connect(&guard, &TBarrierGuard::passAccepted, [this](const TBarrierPass &p) {
            accepted.push_back(p);
            if (zeitEnabled)
                taken << TChronometer::timeText(p.stamp.timeOfDay);
            else
                guard.passNotTaken(p);
        });
        QObject::connect(&guard, &TBarrierGuard::passIgnored,
                         [this](const TBarrierPass &p, TBarrierGuard::Ignored why) {
                             ignored.push_back({p, why});
                         });
        QObject::connect(&guard, &TBarrierGuard::lockStateChanged, [this](int s) { shown = s; });
    }

    // A change stamped at ms, handled now (whatever the stamp clock says now).
    void line(quint32 s, qint64 ms, int events = 1)
    {
        for (int i = 0; i < events; ++i)
            guard.ComPortLS(s, stamps.at(ms));
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

    // START (which locks a free barrier), then F3.
    void runningAndFree()
    {
        zeitEnabled = true;
        guard.lockIfFree();
        ASSERT_EQ(guard.lockState(), 0);
        guard.ImageLSzeitClick();
        ASSERT_EQ(guard.lockState(), 1);
    }

    TBarrierGuard guard;
    TestStampClock stamps;
    TestTimer *timer = nullptr;
    bool zeitEnabled = false;
    QStringList taken;
    std::vector<TBarrierPass> accepted;
    std::vector<std::pair<TBarrierPass, TBarrierGuard::Ignored>> ignored;
    // What the icon shows: the lock state last announced (locked at start).
    int shown = 0;
};

TEST_F(GuardTest, AlgorithmZeroTakesClosingsOutsideTheLockTime)
{
    guard.setLockTime(150);
    runningAndFree();
    prompt(kDsr, 0); // closes: a time
    EXPECT_EQ(taken.size(), 1);
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(guard.lockTimeRunning());
    prompt(0, 50);     // opens: none
    prompt(kDsr, 100); // closes within the lock time: none
    EXPECT_EQ(taken.size(), 1);
    moveTo(150);
    EXPECT_FALSE(guard.lockTimeRunning());
    EXPECT_EQ(shown, 1);
    prompt(0, 200);
    prompt(kDsr, 12'345); // after the lock time: a time again
    EXPECT_EQ(taken, (QStringList{"10:00:00,00", "10:00:12,34"}));
}

// The 500 ms example: lock time 500, the contact closes at 0, opens at 100, closes again
// at 300 (ignored), opens at 400; the icon turns green at 500; the closing at 800 counts.
TEST_F(GuardTest, FiveHundredMillisecondSequence)
{
    guard.setLockTime(500);
    runningAndFree();
    EXPECT_EQ(shown, 1);
    prompt(kDsr, 0);
    EXPECT_EQ(taken, QStringList{"10:00:00,00"});
    EXPECT_EQ(shown, 0);
    prompt(0, 100);
    prompt(kDsr, 300);
    EXPECT_EQ(taken.size(), 1);
    prompt(0, 400);
    moveTo(499);
    EXPECT_EQ(shown, 0);
    moveTo(500);
    EXPECT_EQ(shown, 1);
    prompt(kDsr, 800);
    EXPECT_EQ(taken, (QStringList{"10:00:00,00", "10:00:00,80"}));
    EXPECT_EQ(shown, 0);
}

// Closings stamped at 0, 60 and 120 ms with a lock time of 100 ms take the times at 0 and
// 120 however late they are handled: in one batch long after they happened (with the lock
// timer not yet fired, or firing between two of them), or each at once.
enum class Handling
{
    Prompt,
    LateInOneBatch,
    LateTimerFiresBetween,
};

class LockTimeOnStamps : public GuardTest, public ::testing::WithParamInterface<Handling>
{
};

TEST_P(LockTimeOnStamps, TimesAtZeroAndOneHundredTwenty)
{
    guard.setLockTime(100);
    runningAndFree();
    const std::pair<quint32, qint64> changes[] = {{kDsr, 0}, {0, 30},     {kDsr, 60},
                                                  {0, 90},   {kDsr, 120}, {0, 150}};
    if (GetParam() != Handling::Prompt)
        stamps.set(2000); // the window was busy for two seconds
    for (const auto &[status, ms] : changes) {
        if (GetParam() == Handling::Prompt) {
            prompt(status, ms);
        } else {
            line(status, ms);
            if (GetParam() == Handling::LateTimerFiresBetween)
                timer->fire();
        }
    }
    EXPECT_EQ(taken, (QStringList{"10:00:00,00", "10:00:00,12"}));
    // The icon shows the lock of the last time until its timer ends it.
    EXPECT_EQ(shown, GetParam() == Handling::LateTimerFiresBetween ? 1 : 0);
    moveTo(std::max<qint64>(stamps.ms(), 220) + 1);
    timer->fire();
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(guard.lockTimeRunning());
}

INSTANTIATE_TEST_SUITE_P(Handlings, LockTimeOnStamps,
                         ::testing::Values(Handling::Prompt, Handling::LateInOneBatch,
                                           Handling::LateTimerFiresBetween));

// The lock time ends exactly where it ends: a change stamped on its last nanosecond is
// inside it, one stamped at its end is not, whether the lock timer has fired by then or

// the change is handled late, before the timer could fire.
class LockTimeEnd : public GuardTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LockTimeEnd, ChangeStampedAtTheEndCounts)
{
    const bool timerFired = GetParam();
    guard.setLockTime(100);
    runningAndFree();
    prompt(kDsr, 0);
    if (timerFired)
        moveTo(100);
    else
        stamps.set(300); // the window was busy: the timer has not fired yet
    EXPECT_EQ(guard.lockTimeRunning(), !timerFired);
    line(0, 50);
    TimeStamp lastInside = stamps.at(100);
    lastInside.monotonicNs -= 1;
    guard.ComPortLS(kDsr, lastInside);
    EXPECT_EQ(taken, QStringList{"10:00:00,00"});
    line(0, 100);
    line(kDsr, 100);
    EXPECT_EQ(taken, (QStringList{"10:00:00,00", "10:00:00,10"}));
}

INSTANTIATE_TEST_SUITE_P(TimerFiredOrNot, LockTimeEnd, ::testing::Bool());

TEST_F(GuardTest, LateChangeSetsTheTimerForWhatIsLeftOfTheLockTime)
{
    guard.setLockTime(300);
    runningAndFree();
    stamps.set(1120);
    line(kDsr, 1000); // handled 120 ms late: 180 ms of the lock time are left
    EXPECT_EQ(timer->interval(), 180);
    stamps.set(5000);
    line(0, 1500);
    line(kDsr, 1600); // the lock time ended long ago: the timer is not waited for
    EXPECT_EQ(taken, (QStringList{"10:00:01,00", "10:00:01,60"}));
    EXPECT_EQ(timer->interval(), 0);
}

// A timer that fires early does not show the barrier free before the lock time is over.
TEST_F(GuardTest, EarlyTimerWaitsForTheRestOfTheLockTime)
{
    guard.setLockTime(100);
    runningAndFree();
    prompt(kDsr, 0);
    stamps.set(95);
    timer->fire();
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(guard.lockTimeRunning());
    EXPECT_EQ(timer->interval(), 5);
    moveTo(100);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(guard.lockTimeRunning());
}

TEST_F(GuardTest, TriggerEdgeAndStatusFilter)
{
    guard.setLockTime(0); // no lock time: every qualifying change counts
    runningAndFree();

    guard.setTriggerEdge(1); // only the opening takes a time
    line(kDsr, 0);
    EXPECT_EQ(taken.size(), 0);
    line(0, 10);
    EXPECT_EQ(taken.size(), 1);
    EXPECT_EQ(guard.lockState(), 1); // stays free without a lock time

    guard.setTriggerEdge(2); // any other value never
    line(kDsr, 20);
    line(0, 30);
    guard.setTriggerEdge(-1);
    line(kDsr, 40);
    line(0, 50);
    EXPECT_EQ(taken.size(), 1);

    guard.setTriggerEdge(0);
    line(kCts | kDsr, 60, 2); // CTS and DSR in one set: two events, one change
    EXPECT_EQ(taken.size(), 2);
    line(kCts, 70); // several lines: a change between two contact patterns also fires
    EXPECT_EQ(taken.size(), 3);
    line(kCts, 80, 3); // no change, no time
    EXPECT_EQ(taken.size(), 3);
}

class RecordingContactTest : public IContactTest
{
public:
    bool contactTestVisible() const override { return visible; }
    void updateContactTest(quint32 status, bool contact) override
    {
        seen.append({status, contact});
    }
    bool visible = true;
    QList<std::pair<quint32, bool>> seen;
};

// While the contact test is shown, stamped changes drive it and never the timing path;
// the status it saw counts as seen afterwards.
TEST_F(GuardTest, ContactTestTakesTheChangesWhileVisible)
{
    RecordingContactTest test;
    guard.contactTest = [&]() -> IContactTest * { return &test; };
    guard.setLockTime(0);
    runningAndFree();
    prompt(kDsr, 0);
    prompt(kDsr, 10); // unchanged
    prompt(0, 20);
    EXPECT_TRUE(taken.isEmpty());
    using P = std::pair<quint32, bool>;
    EXPECT_EQ(test.seen, (QList<P>{P{kDsr, true}, P{0, false}}));
    test.visible = false;
    prompt(0, 30);
    EXPECT_TRUE(taken.isEmpty());
    prompt(kDsr, 40);
    EXPECT_EQ(taken, QStringList{"10:00:00,04"});
}

// A pass carries its stamp, the status word after the change and the port it came from,
// whether it is let through or ignored.
TEST_F(GuardTest, PassesCarryTheirStampStatusAndPort)
{
    guard.setLockTime(100);
    runningAndFree();
    guard.ComPortLS(kCts | kDsr, stamps.at(5), 7);
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0].stamp.monotonicNs, 5'000'000);
    EXPECT_EQ(accepted[0].stamp.timeOfDay, (TimeOfDay{10, 0, 0, 5}));
    EXPECT_EQ(accepted[0].status, kCts | kDsr);
    EXPECT_EQ(accepted[0].port, 7);
    guard.ComPortLS(0, stamps.at(20), 7);
    guard.ComPortLS(kDsr, stamps.at(40), 7); // within the lock time
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0].second, TBarrierGuard::Ignored::LockTime);
    EXPECT_EQ(ignored[0].first.stamp.monotonicNs, 40'000'000);
    EXPECT_EQ(ignored[0].first.status, kDsr);
    EXPECT_EQ(ignored[0].first.port, 7);
    EXPECT_EQ(taken, QStringList{"10:00:00,00"});
}

// A pass that ZEIT could not take (the chronometer is idle) is handed back and counts as
// ignored, "Uhr nicht gestartet"; its lock time runs all the same and ends free.
TEST_F(GuardTest, PassNotTakenIsIgnoredAndStillRunsTheLockTime)
{
    guard.setLockTime(120);
    guard.ImageLSzeitClick(); // freed while idle
    ASSERT_EQ(shown, 1);
    guard.ComPortLS(kDsr, stamps.at(0), 5);
    EXPECT_TRUE(taken.isEmpty());
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0].second, TBarrierGuard::Ignored::NotRunning);
    EXPECT_EQ(ignored[0].first.port, 5);
    EXPECT_EQ(TBarrierGuard::ignoredText(ignored[0].second), "Uhr nicht gestartet");
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(guard.lockTimeRunning());
    moveTo(120);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(guard.lockTimeRunning());
}

} // namespace
