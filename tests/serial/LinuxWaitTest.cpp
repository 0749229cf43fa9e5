#include "platform/SystemError.h"
#include "serial/Comms.h"
#include "serial/LinuxSerialDevice.h"
#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {

// What the scripted modem lines hold; shared with the device's ops object.
struct LineState
{
    std::mutex mutex;
    LineCounters counters;
    int tiocm = 0;
    bool countersWork = true;
    int failWith = 0; // every counters and lines call fails with this errno value
    std::deque<std::function<int(LineState &)>> waits; // one per waitChange call
    std::deque<int> polls;                             // tiocm after each pause
    int waitCalls = 0;
    int lastWaitLines = 0;
    int pauses = 0;
    int driven = 0; // TIOCM_DTR / TIOCM_RTS as set
    // Moved on by each pause (the 2 ms of the polling interval), when set.
    TestStampClock *clock = nullptr;
    // The last scripted wait stays for every later call (a wait that blocks each time).
    bool keepLast = false;
    // Pauses really sleep (the worker polls on its own thread).
    bool realPause = false;
    // Runs once, right after the next lines call has read the lines: an edge that comes
    // between that reading and the counters read after it.
    std::function<void(LineState &)> afterLines;
};

class ScriptedLines : public ModemLineOps
{
public:
    explicit ScriptedLines(std::shared_ptr<LineState> s) : st(std::move(s)) {}
    int counters(LineCounters &c) override
    {
        std::lock_guard lock(st->mutex);
        if (st->failWith)
            return st->failWith;
        if (!st->countersWork)
            return ENOTTY;
        c = st->counters;
        return 0;
    }
    int lines(int &tiocm) override
    {
        std::lock_guard lock(st->mutex);
        if (st->failWith)
            return st->failWith;
        tiocm = st->tiocm | st->driven;
        if (auto edge = std::exchange(st->afterLines, nullptr))
            edge(*st);
        return 0;
    }
    int setLines(int tiocm, bool on) override
    {
        std::lock_guard lock(st->mutex);
        st->driven = on ? st->driven | tiocm : st->driven & ~tiocm;
        return 0;
    }
    int waitChange(int tiocm) override
    {
        std::lock_guard lock(st->mutex);
        ++st->waitCalls;
        st->lastWaitLines = tiocm;
        if (st->waits.empty())
            return EIO;
        auto step = st->waits.front();
        if (!st->keepLast || st->waits.size() > 1)
            st->waits.pop_front();
        return step(*st);
    }
    void pause() override
    {
        if (st->realPause)
            QThread::msleep(2);
        std::lock_guard lock(st->mutex);
        ++st->pauses;
        if (st->clock)
            st->clock->advance(2);
        if (!st->polls.empty()) {
            st->tiocm = st->polls.front();
            st->polls.pop_front();
        }
    }
    std::shared_ptr<LineState> st;
};

// A pseudo-terminal stands in for the device file (open, lock, termios are real); the
// modem lines are scripted.
class LinuxWaitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = QString::fromLocal8Bit(ptsname(master));
        dev = std::make_unique<LinuxSerialDevice>(
            slave, [this](int) { return std::make_unique<ScriptedLines>(state); });
    }
    void TearDown() override
    {
        dev.reset();
        ::close(master);
    }
    void openAndConfigure(bool dtr = true,
                          SerialLineSettings::Flow flow = SerialLineSettings::FlowRtsCts)
    {
        QString error;
        ASSERT_TRUE(dev->open(error)) << error.toStdString();
        SerialLineSettings s;
        s.enableDTR = dtr;
        s.flow = flow;
        ASSERT_TRUE(dev->configure(s, error)) << error.toStdString();
    }

    // One wait of the device; the edges it delivered as (events, status).
    ISerialDevice::WaitResult wait(quint32 mask, std::vector<std::pair<quint32, quint32>> &edges)
    {
        got = SerialWait{};
        const ISerialDevice::WaitResult r = dev->waitEvent(mask, stamps, got);
        edges.clear();
        for (const SerialEvent &e : got.events)
            edges.emplace_back(e.events, e.status);
        return r;
    }

    int master = -1;
    QString slave;
    std::shared_ptr<LineState> state = std::make_shared<LineState>();
    std::unique_ptr<LinuxSerialDevice> dev;
    TestStampClock stamps;
    SerialWait got;
};

using Edges = std::vector<std::pair<quint32, quint32>>;

TEST_F(LinuxWaitTest, DtrAndRtsFollowTheSettings)
{
    openAndConfigure(true, SerialLineSettings::FlowRtsCts);
    EXPECT_EQ(state->driven, TIOCM_DTR | TIOCM_RTS);
    openAndConfigure(false, SerialLineSettings::FlowNone);
    EXPECT_EQ(state->driven, 0);
    openAndConfigure(true, SerialLineSettings::FlowXonXoff);
    EXPECT_EQ(state->driven, TIOCM_DTR);
}

TEST_F(LinuxWaitTest, CounterDifferencesGiveOneEventPerEdge)
{
    openAndConfigure();
    state->waits.push_back([this](LineState &s) {
        stamps.set(7);
        ++s.counters.dsr;
        s.tiocm |= TIOCM_DSR;
        s.counters.cts += 2; // closed and opened again during the wait
        return 0;
    });
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_CTS | EV_DSR, 0x30}, {EV_CTS, 0x20}}));
    // Stamped when the wait returned, both with the same stamp.
    EXPECT_EQ(got.events[0].stamp.monotonicNs, 7'000'000);
    EXPECT_EQ(got.events[1].stamp.monotonicNs, 7'000'000);
    EXPECT_EQ(state->lastWaitLines, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD);
}

TEST_F(LinuxWaitTest, EdgeBetweenWaitsIsNotLost)
{
    openAndConfigure();
    ++state->counters.dcd; // changed while the worker was queueing the previous set
    state->tiocm |= TIOCM_CD;
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_RLSD, 0x80}}));
    EXPECT_EQ(state->waitCalls, 0);

    // A change outside the mask does not end the wait early.
    ++state->counters.cts;
    state->waits.push_back([](LineState &s) {
        ++s.counters.dcd;
        s.tiocm &= ~TIOCM_CD;
        return 0;
    });
    EXPECT_EQ(wait(EV_RLSD, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_RLSD, 0}}));
    EXPECT_EQ(state->waitCalls, 1);
}

// The contact closes, and opens again just after the lines were read but before the
// counters were: both readings are taken again until they agree, so the opening is
// reported as it happened and no pulse is made up from a count the lines did not show.
TEST_F(LinuxWaitTest, EdgeBetweenLinesAndCountersIsNoFalsePulse)
{
    openAndConfigure();
    state->waits.push_back([](LineState &s) {
        ++s.counters.dsr;
        s.tiocm |= TIOCM_DSR;
        s.afterLines = [](LineState &s) {
            ++s.counters.dsr;
            s.tiocm &= ~TIOCM_DSR;
        };
        return 0;
    });
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_DSR, 0x20}, {EV_DSR, 0}}));
    // The next closing is one edge from where the lines really are.
    state->waits.push_back([](LineState &s) {
        ++s.counters.dsr;
        s.tiocm |= TIOCM_DSR;
        return 0;
    });
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_DSR, 0x20}}));
}

TEST_F(LinuxWaitTest, WaitErrorsMapToResults)
{
    openAndConfigure();
    state->waits.push_back([](LineState &) { return EIO; });
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Failed);
    EXPECT_EQ(got.error, EIO);
    dev->interrupt();
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Interrupted);
}

// A status call that fails because the device is gone fails the wait with its reason,
// wherever the worker makes it; any other failure of a status call is waited out.
TEST_F(LinuxWaitTest, StatusCallsOfAGoneDeviceFailTheWait)
{
    struct Case
    {
        const char *where;
        int error;
        int waitResult; // what the line wait returns once the status calls fail
        bool polling;
        ISerialDevice::WaitResult expected;
    };
    const Case cases[] = {
        {"after a change", EIO, 0, false, ISerialDevice::WaitResult::Failed},
        {"on a tick", ENODEV, EINTR, false, ISerialDevice::WaitResult::Failed},
        {"after a change, not gone", EAGAIN, 0, false, ISerialDevice::WaitResult::Skipped},
        {"polling", ENXIO, ENOTTY, true, ISerialDevice::WaitResult::Failed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.where);
        state->failWith = 0;
        openAndConfigure();
        state->waits.clear();
        state->waits.push_back([c](LineState &s) {
            s.failWith = c.error;
            return c.waitResult;
        });
        Edges edges;
        EXPECT_EQ(wait(0x0138, edges), c.expected);
        EXPECT_EQ(got.error, c.expected == ISerialDevice::WaitResult::Failed ? c.error : 0);
        EXPECT_EQ(dev->polling(), c.polling);
    }
}

TEST_F(LinuxWaitTest, DriverWithoutLineWaitFallsBackToPolling)
{
    openAndConfigure();
    state->clock = &stamps;
    state->waits.push_back([](LineState &) { return ENOTTY; });
    state->polls = {0, 0, TIOCM_DSR};
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_DSR, 0x20}}));
    EXPECT_EQ(state->pauses, 3);
    EXPECT_EQ(got.events[0].stamp.monotonicNs, 6'000'000); // the poll that saw it
    // A driver that refuses the wait is not news for the status bar.
    EXPECT_FALSE(got.switchedToPolling);
    // From now on only polling: the line wait is not tried again.
    state->polls = {TIOCM_DSR | TIOCM_RNG};
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_RING, 0x60}}));
    EXPECT_EQ(state->waitCalls, 1);
    // Changes outside the mask keep it polling.
    state->polls = {TIOCM_RNG, TIOCM_RNG | TIOCM_CD};
    EXPECT_EQ(wait(EV_RLSD, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_RLSD, 0xC0}}));
    dev->interrupt();
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Interrupted);
}

TEST_F(LinuxWaitTest, WithoutCountersTheStatusWordsAreCompared)
{
    state->countersWork = false;
    openAndConfigure();
    state->waits.push_back([](LineState &s) {
        s.tiocm |= TIOCM_CTS | TIOCM_CD;
        return 0;
    });
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_CTS | EV_RLSD, 0x90}}));
    EXPECT_EQ(dev->modemStatus(), 0x90u);
}

// A driver whose line wait accepts but never ends on a change (it reports no modem-status
// changes): the ticks of the wait see the lines change, and after a while without the
// counters moving the device switches to polling, once, delivering what the ticks saw
// with the ticks' stamps. Each scripted wait is one tick of 20 ms.
TEST_F(LinuxWaitTest, WaitThatNeverReportsSwitchesToPolling)
{
    openAndConfigure();
    state->clock = &stamps;
    // The contact closes at 105 ms and opens at 155 ms; nobody counts either.
    for (int tick = 1; tick <= 20; ++tick)
        state->waits.push_back([this, tick](LineState &s) {
            const qint64 now = tick * LinuxSerialDevice::watchTickMs;
            stamps.set(now);
            s.tiocm = (now >= 105 && now < 155) ? TIOCM_DSR : 0;
            return EINTR;
        });
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_TRUE(got.switchedToPolling);
    EXPECT_TRUE(dev->polling());
    EXPECT_EQ(edges, (Edges{{EV_DSR, 0x20}, {EV_DSR, 0}}));
    // Stamped by the first tick after each change: within 25 ms of it.
    EXPECT_EQ(got.events[0].stamp.monotonicNs / 1'000'000, 120);
    EXPECT_EQ(got.events[1].stamp.monotonicNs / 1'000'000, 160);
    EXPECT_GE(stamps.ms(), 120 + LinuxSerialDevice::stuckAfterMs);
    const int waits = state->waitCalls;

    // From now on the lines are polled every 2 ms, and the switch is not reported again.
    state->polls = {0, TIOCM_DSR};
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_DSR, 0x20}}));
    EXPECT_FALSE(got.switchedToPolling);
    EXPECT_EQ(state->waitCalls, waits);
}

// Some adapters show a change on the lines a few milliseconds before their counters: a
// wait that does report, only late, is not taken for one that never does.
TEST_F(LinuxWaitTest, CountersThatLagAreNotMistakenForAStuckWait)
{
    openAndConfigure();
    state->clock = &stamps;
    for (int tick = 1; tick <= 3; ++tick)
        state->waits.push_back([this, tick](LineState &s) {
            stamps.set(tick * 20);
            s.tiocm = TIOCM_DSR; // visible from the first tick on
            if (tick == 3)
                s.counters.dsr = 1; // counted 40 ms later
            return EINTR;
        });
    Edges edges;
    EXPECT_EQ(wait(0x0138, edges), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(edges, (Edges{{EV_DSR, 0x20}}));
    EXPECT_FALSE(got.switchedToPolling);
    EXPECT_FALSE(dev->polling());
}

// Through the port and its worker: a wait that really blocks in a system call (a pipe
// read stands in for the line wait) is ended by Close, and line changes are handed over.
TEST_F(LinuxWaitTest, CloseWakesAWorkerBlockedInTheSystemCall)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // Each byte written is one change of DSR; reading blocks until one comes (or the
    // wait's tick interrupts it).
    state->keepLast = true;
    state->waits.push_back([fd = fds[0]](LineState &s) {
        char c;
        s.mutex.unlock(); // block without holding the state
        const ssize_t n = ::read(fd, &c, 1);
        const int err = errno;
        s.mutex.lock();
        if (n < 0)
            return err;
        ++s.counters.dsr;
        s.tiocm ^= TIOCM_DSR;
        return 0;
    });

    TComPort port;
    port.setDeviceFactory([this](quint8) {
        return std::make_unique<LinuxSerialDevice>(
            slave, [this](int) { return std::make_unique<ScriptedLines>(state); });
    });
    port.setFlowControl(fcRtsCts);
    port.setEvents({evRing, evCTS, evDSR, evRLSD});
    QList<quint32> seen;
    port.OnDSR = [&](QObject *) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        seen << port.EventStatus();
    };
    port.Open();
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 1; }, 5000));
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 5000));
    EXPECT_EQ(seen, (QList<quint32>{0x20, 0x00}));

    // Let the worker block in the read again, then close.
    const int calls = [&] {
        std::lock_guard lock(state->mutex);
        return state->waitCalls;
    }();
    for (int i = 0; i < 50000; ++i) {
        std::lock_guard lock(state->mutex);
        if (state->waitCalls > calls)
            break;
        QThread::usleep(100);
    }
    QElapsedTimer t;
    t.start();
    port.Close();
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_FALSE(port.Connected());
    ::close(fds[0]);
    ::close(fds[1]);
}

// The same stuck driver through the port and its worker, with the real tick: a line wait
// that blocks in a system call and never ends on a change. The pass is still taken and
// the switch to polling is reported once.
TEST_F(LinuxWaitTest, StuckWaitThroughThePortStillTakesThePass)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0); // never written: only a signal ends a read
    state->keepLast = true;
    state->realPause = true;
    state->waits.push_back([fd = fds[0]](LineState &s) {
        char c;
        s.mutex.unlock();
        const ssize_t n = ::read(fd, &c, 1);
        const int err = errno;
        s.mutex.lock();
        return n < 0 ? err : EIO;
    });
    TComPort port;
    port.setDeviceFactory([this](quint8) {
        return std::make_unique<LinuxSerialDevice>(
            slave, [this](int) { return std::make_unique<ScriptedLines>(state); });
    });
    port.setFlowControl(fcRtsCts);
    port.setEvents({evRing, evCTS, evDSR, evRLSD});
    QList<std::pair<quint32, qint64>> seen;
    QList<TComNotice> notices;
    port.OnDSR = [&](QObject *) {
        seen.append({port.EventStatus(), port.EventStamp().monotonicNs});
    };
    port.OnNotice = [&](QObject *, TComNotice n) {
        if (n != cnPriority) // how the worker is scheduled: beside the point here
            notices << n;
    };
    port.Open();
    auto waitCalls = [&] {
        std::lock_guard lock(state->mutex);
        return state->waitCalls;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return waitCalls() >= 2; }, 10000)); // ticking

    auto setDsr = [&](bool on) {
        std::lock_guard lock(state->mutex);
        state->tiocm = on ? TIOCM_DSR : 0;
        return monotonicNowNs();
    };
    const qint64 closedAt = setDsr(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 1; }, 10000));
    const qint64 openedAt = setDsr(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 10000));
    EXPECT_EQ(seen[0].first, 0x20u);
    EXPECT_EQ(seen[1].first, 0u);
    EXPECT_EQ(notices, QList<TComNotice>{cnPollingFallback});
    // The stamps come from the tick (or the poll) that saw each change. The bounds allow
    // for a loaded machine; the figures are printed for the record.
    const double closeMs = double(seen[0].second - closedAt) / 1e6;
    const double openMs = double(seen[1].second - openedAt) / 1e6;
    std::printf("stuck line wait: close stamped %+.3f ms, open %+.3f ms after the change\n",
                closeMs, openMs);
    EXPECT_GT(closeMs, -5.0);
    EXPECT_LT(closeMs, 1000.0);
    EXPECT_GT(openMs, -5.0);
    EXPECT_LT(openMs, 1000.0);
    port.Close();
    ::close(fds[0]);
    ::close(fds[1]);
}

// The real device's path through the port: the line wait fails with EIO (the adapter was
// pulled). The change before it is delivered, the port closes itself and says so, and the
// retry timer opens the device again, whose worker delivers the next change.
TEST_F(LinuxWaitTest, LineWaitFailingLosesThePortAndTheRetryReopensIt)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // Each 'x' written is one change of DSR, an 'e' makes the wait fail with EIO.
    state->keepLast = true;
    state->waits.push_back([fd = fds[0]](LineState &s) {
        char c = 0;
        s.mutex.unlock();
        const ssize_t n = ::read(fd, &c, 1);
        const int err = errno;
        s.mutex.lock();
        if (n < 0)
            return err;
        if (c == 'e')
            return EIO;
        ++s.counters.dsr;
        s.tiocm ^= TIOCM_DSR;
        return 0;
    });
    TComPort port;
    port.setDeviceFactory([this](quint8) {
        return std::make_unique<LinuxSerialDevice>(
            slave, [this](int) { return std::make_unique<ScriptedLines>(state); });
    });
    TestTimerFactory timers;
    port.setTimerFactory(timers.factory());
    port.setEvents({evRing, evCTS, evDSR, evRLSD});
    QStringList calls;
    port.OnDSR = [&](QObject *) { calls << QStringLiteral("DSR %1").arg(port.EventStatus()); };
    port.OnOpen = [&](QObject *) { calls << "Open"; };
    port.OnClose = [&](QObject *) { calls << "Close"; };
    port.OnNotice = [&](QObject *, TComNotice n) {
        if (n != cnPriority)
            calls << (n == cnPortLost ? "Lost" : n == cnPortReopened ? "Reopened" : "Other");
    };
    port.Open();
    ASSERT_EQ(::write(fds[1], "xe", 2), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.Connected(); }, 10000));
    EXPECT_EQ(calls, (QStringList{"Open", "DSR 32", "Close", "Lost"}));
    EXPECT_EQ(port.LossReason(), SystemError::text(EIO));
    ASSERT_EQ(timers.made.size(), 1u);
    timers.made[0]->fire();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.RetryPending(); }, 10000));
    EXPECT_TRUE(port.Connected());
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.size() == 7; }, 10000));
    EXPECT_EQ(calls.mid(4), (QStringList{"Open", "Reopened", "DSR 0"}));
    port.Close();
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace
