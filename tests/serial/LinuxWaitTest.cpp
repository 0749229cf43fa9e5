#include "serial/Comms.h"
#include "serial/LinuxSerialDevice.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// What the scripted modem lines hold; shared with the device's ops object.
struct LineState
{
    std::mutex mutex;
    LineCounters counters;
    int tiocm = 0;
    bool countersWork = true;
    std::deque<std::function<int(LineState &)>> waits; // one per waitChange call
    std::deque<int> polls;                             // tiocm after each pause
    int waitCalls = 0;
    int lastWaitLines = 0;
    int pauses = 0;
    int driven = 0; // TIOCM_DTR / TIOCM_RTS as set
};

class ScriptedLines : public ModemLineOps
{
public:
    explicit ScriptedLines(std::shared_ptr<LineState> s) : st(std::move(s)) {}
    int counters(LineCounters &c) override
    {
        std::lock_guard lock(st->mutex);
        if (!st->countersWork)
            return ENOTTY;
        c = st->counters;
        return 0;
    }
    int lines(int &tiocm) override
    {
        std::lock_guard lock(st->mutex);
        tiocm = st->tiocm | st->driven;
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
        st->waits.pop_front();
        return step(*st);
    }
    void pause() override
    {
        std::lock_guard lock(st->mutex);
        ++st->pauses;
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

    int master = -1;
    QString slave;
    std::shared_ptr<LineState> state = std::make_shared<LineState>();
    std::unique_ptr<LinuxSerialDevice> dev;
};

TEST_F(LinuxWaitTest, DtrAndRtsFollowTheSettings)
{
    openAndConfigure(true, SerialLineSettings::FlowRtsCts);
    EXPECT_EQ(state->driven, TIOCM_DTR | TIOCM_RTS);
    openAndConfigure(false, SerialLineSettings::FlowNone);
    EXPECT_EQ(state->driven, 0);
    openAndConfigure(true, SerialLineSettings::FlowXonXoff);
    EXPECT_EQ(state->driven, TIOCM_DTR);
}

TEST_F(LinuxWaitTest, CounterDifferencesGiveTheEventSet)
{
    openAndConfigure();
    state->waits.push_back([](LineState &s) {
        ++s.counters.dsr;
        s.counters.cts += 2; // closed and opened again during the wait: still an event
        return 0;
    });
    quint32 events = 0;
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_DSR | EV_CTS);
    EXPECT_EQ(state->lastWaitLines, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD);
}

TEST_F(LinuxWaitTest, EdgeBetweenWaitsIsNotLost)
{
    openAndConfigure();
    ++state->counters.rng; // changed while the previous set was being dispatched
    quint32 events = 0;
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_RING);
    EXPECT_EQ(state->waitCalls, 0);

    // A change outside the mask does not end the wait early.
    ++state->counters.cts;
    state->waits.push_back([](LineState &s) {
        ++s.counters.dcd;
        return 0;
    });
    EXPECT_EQ(dev->waitEvent(EV_RLSD, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_RLSD);
    EXPECT_EQ(state->waitCalls, 1);
}

TEST_F(LinuxWaitTest, WaitErrorsMapToResults)
{
    openAndConfigure();
    state->waits.push_back([](LineState &) { return EINTR; });
    state->waits.push_back([](LineState &) { return EIO; });
    quint32 events = 0;
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Interrupted);
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Failed);
}

TEST_F(LinuxWaitTest, DriverWithoutLineWaitFallsBackToPolling)
{
    openAndConfigure();
    state->waits.push_back([](LineState &) { return ENOTTY; });
    state->polls = {0, 0, TIOCM_DSR};
    quint32 events = 0;
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_DSR);
    EXPECT_EQ(state->pauses, 3);
    // From now on only polling: the line wait is not tried again.
    state->polls = {TIOCM_DSR | TIOCM_RNG};
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_RING);
    EXPECT_EQ(state->waitCalls, 1);
    // Changes outside the mask keep it polling.
    state->polls = {TIOCM_RNG, TIOCM_RNG | TIOCM_CD};
    EXPECT_EQ(dev->waitEvent(EV_RLSD, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_RLSD);
    dev->interrupt();
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Interrupted);
}

TEST_F(LinuxWaitTest, WithoutCountersTheStatusWordsAreCompared)
{
    state->countersWork = false;
    openAndConfigure();
    state->waits.push_back([](LineState &s) {
        s.tiocm |= TIOCM_CTS | TIOCM_CD;
        return 0;
    });
    quint32 events = 0;
    EXPECT_EQ(dev->waitEvent(0x0138, events), ISerialDevice::WaitResult::Events);
    EXPECT_EQ(events, EV_CTS | EV_RLSD);
    EXPECT_EQ(dev->modemStatus(), 0x90u);
}

// Through the port and its worker: a wait that really blocks in a system call (a pipe
// read stands in for the line wait) is ended by Close, and line changes are handed over.
TEST_F(LinuxWaitTest, CloseWakesAWorkerBlockedInTheSystemCall)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // Each byte written is one change of DSR; reading blocks until one comes.
    for (int i = 0; i < 100; ++i)
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
        seen << port.ModemStatus();
    };
    port.Open();
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 1; }, 5000));
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 5000));
    EXPECT_EQ(seen, (QList<quint32>{0x20, 0x00}));

    // Let the worker block in the read again, then close.
    for (int i = 0; i < 5000; ++i) {
        std::lock_guard lock(state->mutex);
        if (state->waitCalls == 3)
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

} // namespace
