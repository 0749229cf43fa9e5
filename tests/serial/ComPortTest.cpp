#include "platform/SystemError.h"
#include "serial/Comms.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>

namespace {

// A port on the device double, with every handler recording its name.
class ComPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port.setDeviceFactory(line->factory());
        auto rec = [this](const char *name) {
            return [this, name](QObject *sender) {
                EXPECT_EQ(sender, &port);
                EXPECT_EQ(QThread::currentThread(), qApp->thread());
                calls << QString::fromLatin1(name);
            };
        };
        port.OnRing = rec("Ring");
        port.OnCTS = rec("CTS");
        port.OnDSR = rec("DSR");
        port.OnRLSD = rec("RLSD");
        port.OnTxEmpty = rec("TxEmpty");
        port.OnBreak = rec("Break");
        port.OnError = rec("Error");
        port.OnRxFlag = rec("RxFlag");
        port.OnOpen = rec("Open");
        port.OnClose = rec("Close");
        port.OnRxChar = [this](QObject *, int inQue) {
            calls << QStringLiteral("RxChar:%1").arg(inQue);
        };
    }

    // Lets the event loop run until n handler calls have been recorded.
    bool waitForCalls(int n)
    {
        return QTest::qWaitFor([&] { return calls.size() >= n; }, 5000);
    }
    // Fires the retry timer and lets the event loop run until that attempt has ended.
    bool retryOnce(TestTimer &retry)
    {
        retry.fire();
        return QTest::qWaitFor([&] { return !port.RetryPending(); }, 10000);
    }
    bool waitForWaiting()
    {
        return line->waitUntil([&] { return line->waiting; });
    }
    // Waits until the worker has taken n completions and waits again, without letting the
    // event loop run.
    bool waitForWorkerAt(int n)
    {
        return line->waitUntil([&] { return line->waiting && line->waitsEntered == n + 1; });
    }

    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    QStringList calls; // declared before the port, which still reports OnClose when destroyed
    TComPort port;
};

TEST(ComPortProperties, DefaultsAtConstruction)
{
    TComPort p;
    EXPECT_EQ(p.BaudRate(), br9600);
    EXPECT_EQ(p.BaudRateUser(), 9600u);
    EXPECT_EQ(p.Port(), 1);
    EXPECT_EQ(p.Parity(), prNone);
    EXPECT_EQ(p.StopBits(), sbOneStopBit);
    EXPECT_EQ(p.FlowControl(), fcNone);
    EXPECT_EQ(p.DataBits(), 8);
    EXPECT_EQ(p.Events(), TEvents::all());
    EXPECT_TRUE(p.EnableDTR());
    EXPECT_EQ(p.WriteBufSize(), 2048);
    EXPECT_EQ(p.ReadBufSize(), 2048);
    EXPECT_FALSE(p.Connected());
    EXPECT_EQ(p.ModemStatus(), 0u);
}

class DataBitsClamp : public ::testing::TestWithParam<std::pair<int, int>>
{
};

TEST_P(DataBitsClamp, ReadsBackClamped)
{
    TComPort p;
    p.setDataBits(quint8(GetParam().first));
    EXPECT_EQ(p.DataBits(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Values, DataBitsClamp,
                         ::testing::Values(std::pair{9, 8}, std::pair{4, 5}, std::pair{0, 5},
                                           std::pair{255, 8}, std::pair{5, 5}, std::pair{6, 6},
                                           std::pair{7, 7}, std::pair{8, 8}));

class EventMaskBits : public ::testing::TestWithParam<std::pair<TEvent, quint32>>
{
};

TEST_P(EventMaskBits, EachEventHasItsOwnBit)
{
    EXPECT_EQ(eventMask(TEvents{GetParam().first}), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Table, EventMaskBits,
                         ::testing::Values(std::pair{evRxChar, 0x0001u},
                                           std::pair{evRxFlag, 0x0002u},
                                           std::pair{evTxEmpty, 0x0004u}, std::pair{evCTS, 0x0008u},
                                           std::pair{evDSR, 0x0010u}, std::pair{evRLSD, 0x0020u},
                                           std::pair{evBreak, 0x0040u}, std::pair{evError, 0x0080u},
                                           std::pair{evRing, 0x0100u}));

TEST(ComPortProperties, WaitMaskOfEventSets)
{
    EXPECT_EQ(eventMask(TEvents{evRing, evCTS, evDSR, evRLSD}), 0x0138u);
    EXPECT_EQ(eventMask(TEvents::all()), 0x01FFu);
    EXPECT_EQ(eventMask(TEvents{}), 0u);
}

TEST(ComPortProperties, RatesOfEveryEnumerator)
{
    const quint32 expected[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int r = br110; r < brUser; ++r)
        EXPECT_EQ(baudRateValue(TBaudRate(r), 28800), expected[r]) << r;
    EXPECT_EQ(baudRateValue(brUser, 28800), 28800u);
}

// The main window's port: what reaches the device and the worker.
TEST_F(ComPortTest, MainWindowConfigurationReachesDevice)
{
    port.setBaudRateUser(28800);
    port.setPort(3);
    port.setFlowControl(fcRtsCts);
    port.setDataBits(5);
    port.setEvents({evRing, evCTS, evDSR, evRLSD});
    port.setWriteBufSize(64);
    port.setReadBufSize(64);
    port.Open();
    ASSERT_TRUE(waitForWaiting());
    EXPECT_EQ(line->lastPort, 3);
    EXPECT_EQ(line->lastWaitMask, 0x0138u);
    EXPECT_EQ(line->lastSettings.baudRate, 9600u);
    EXPECT_EQ(line->lastSettings.dataBits, 5);
    EXPECT_EQ(line->lastSettings.parity, SerialLineSettings::ParityNone);
    EXPECT_EQ(line->lastSettings.stopBits, SerialLineSettings::StopOne);
    EXPECT_EQ(line->lastSettings.flow, SerialLineSettings::FlowRtsCts);
    EXPECT_TRUE(line->lastSettings.enableDTR);
    EXPECT_EQ(line->lastSettings.readBufSize, 64);
    EXPECT_EQ(line->lastSettings.writeBufSize, 64);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(calls, QStringList{"Open"});

    port.setBaudRate(brUser);
    port.setParity(prMark);
    port.setStopBits(sbOne5StopBits);
    port.setEnableDTR(false);
    port.Open();
    EXPECT_EQ(line->lastSettings.baudRate, 28800u);
    EXPECT_EQ(line->lastSettings.parity, SerialLineSettings::ParityMark);
    EXPECT_EQ(line->lastSettings.stopBits, SerialLineSettings::StopOneAndHalf);
    EXPECT_FALSE(line->lastSettings.enableDTR);
}

TEST_F(ComPortTest, DispatchOrderWithinOneCompletion)
{
    port.Open();
    calls.clear();
    line->pushEvents(EV_CTS | EV_DSR);
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(calls, (QStringList{"CTS", "DSR"}));

    calls.clear();
    line->pushEvents(EV_RLSD | EV_RING);
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(calls, (QStringList{"Ring", "RLSD"}));

    calls.clear();
    line->pushEvents(0x01FF);
    ASSERT_TRUE(waitForCalls(9));
    EXPECT_EQ(calls, (QStringList{"RxChar:7", "TxEmpty", "Break", "Ring", "CTS", "DSR", "RxFlag",
                                  "RLSD", "Error"}));
}

TEST_F(ComPortTest, OnlyEventsOfTheWaitMaskAndAssignedHandlersRun)
{
    port.setEvents({evDSR, evCTS});
    port.OnCTS = nullptr;
    port.Open();
    calls.clear();
    // RING is outside the mask, CTS has no handler: only DSR is seen.
    line->pushEvents(EV_RING | EV_CTS | EV_DSR);
    ASSERT_TRUE(waitForCalls(1));
    line->pushEvents(EV_RING);
    line->pushEvents(EV_DSR);
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(calls, (QStringList{"DSR", "DSR"}));
}

TEST_F(ComPortTest, WorkerKeepsWaitingWhileTheWindowIsBusy)
{
    port.Open();
    calls.clear();
    // Nothing is dispatched while the test holds the event loop: the worker queues each
    // set and goes on waiting.
    line->pushEvents(EV_DSR);
    line->pushEvents(EV_CTS);
    line->pushEvents(EV_RING | EV_RLSD);
    ASSERT_TRUE(waitForWorkerAt(3));
    EXPECT_TRUE(calls.isEmpty());
    ASSERT_TRUE(waitForCalls(4));
    EXPECT_EQ(calls, (QStringList{"DSR", "CTS", "Ring", "RLSD"}));
}

TEST_F(ComPortTest, HandlersSeeTheStatusAndStampOfTheirSet)
{
    TestStampClock stamps;
    port.setStampClock(stamps);
    QList<std::pair<quint32, qint64>> seen;
    port.OnDSR = [&](QObject *) {
        EXPECT_TRUE(port.Dispatching());
        seen.append({port.EventStatus(), port.EventStamp().monotonicNs / 1'000'000});
    };
    port.Open();
    ASSERT_TRUE(waitForWorkerAt(0));
    stamps.set(10);
    line->change(0x20);
    ASSERT_TRUE(waitForWorkerAt(1));
    stamps.set(25);
    line->change(0x00);
    ASSERT_TRUE(waitForWorkerAt(2));
    stamps.set(40);
    // Closed and opened again before the wait returned: the counters show it, the status
    // word does not. Both edges arrive, with the stamp of that wake-up.
    line->pulse(0x20);
    ASSERT_TRUE(waitForWorkerAt(3));
    stamps.set(99);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 4; }, 5000));
    using P = std::pair<quint32, qint64>;
    EXPECT_EQ(seen, (QList<P>{P{0x20, 10}, P{0x00, 25}, P{0x20, 40}, P{0x00, 40}}));
    EXPECT_EQ(port.ModemStatus(), 0u);
    EXPECT_FALSE(port.Dispatching());
}

TEST_F(ComPortTest, FullQueueDropsAndCountsTheRestAndSaysSo)
{
    int dsr = 0;
    QList<TComNotice> notices;
    port.OnDSR = [&](QObject *) { ++dsr; };
    port.OnNotice = [&](QObject *, TComNotice n) {
        if (n != cnPriority) // how the worker is scheduled: beside the point here
            notices << n;
    };
    port.Open();
    const int sent = int(TComQueue::limit) + 500;
    for (int i = 0; i < sent; ++i)
        line->pushEvents(EV_DSR);
    ASSERT_TRUE(waitForWorkerAt(sent));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.isEmpty(); }, 10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(dsr, int(TComQueue::limit));
    EXPECT_EQ(port.DroppedEvents(), 500u);
    EXPECT_EQ(notices, QList<TComNotice>{cnEventsDropped});
    // Afterwards the port works as before.
    line->pushEvents(EV_DSR);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dsr == int(TComQueue::limit) + 1; }, 5000));
    EXPECT_EQ(notices.size(), 1);
}

TEST_F(ComPortTest, OpenOnOpenPortClosesFirstWithNewWorker)
{
    port.Open();
    ASSERT_TRUE(waitForWaiting());
    TComThread *first = port.ComThread();
    ASSERT_NE(first, nullptr);
    calls.clear();
    port.Open();
    EXPECT_EQ(calls, (QStringList{"Close", "Open"}));
    EXPECT_EQ(line->devicesCreated, 2);
    EXPECT_EQ(line->closes, 1);
    EXPECT_EQ(line->purges, 1);
    ASSERT_TRUE(waitForWaiting());
    // The new worker dispatches.
    calls.clear();
    line->pushEvents(EV_CTS);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(calls, QStringList{"CTS"});
}

TEST_F(ComPortTest, CloseOnClosedPortFiresNothing)
{
    port.Close();
    EXPECT_TRUE(calls.isEmpty());
    port.Open();
    port.Close();
    port.Close();
    EXPECT_EQ(calls, (QStringList{"Open", "Close"}));
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.ComThread(), nullptr);
    EXPECT_EQ(line->closes, 1);
    EXPECT_EQ(port.ModemStatus(), 0u);
}

TEST_F(ComPortTest, CloseDeliversWhatWasQueuedBeforeIt)
{
    port.Open();
    calls.clear();
    line->pushEvents(EV_DSR);
    line->pushEvents(EV_CTS);
    ASSERT_TRUE(waitForWorkerAt(2));
    port.Close();
    EXPECT_EQ(calls, (QStringList{"DSR", "CTS", "Close"}));
    EXPECT_EQ(line->purges, 1);
    // The wake-up left behind does nothing.
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, (QStringList{"DSR", "CTS", "Close"}));
}

// The device fails while open (adapter pulled): what it saw before is delivered, the port
// closes itself and says why and when, and reopens on the retry timer once it can.
TEST_F(ComPortTest, LostDeviceClosesSaysWhyAndReopensOnTheRetryTimer)
{
    TestTimerFactory timers;
    TestStampClock stamps;
    port.setTimerFactory(timers.factory());
    port.setStampClock(stamps);
    port.OnNotice = [&](QObject *, TComNotice n) {
        if (n != cnPriority)
            calls << (n == cnPortLost ? "Lost" : n == cnPortReopened ? "Reopened" : "Other");
    };
    port.Open();
    calls.clear();
    stamps.set(1234);
    line->pushEvents(EV_DSR);
    line->pushFailure(ENODEV);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.Connected(); }, 10000));
    EXPECT_EQ(calls, (QStringList{"DSR", "Close", "Lost"}));
    EXPECT_TRUE(port.Retrying());
    EXPECT_EQ(port.LossReason(), SystemError::text(ENODEV));
    EXPECT_EQ(port.LossStamp().monotonicNs, 1'234'000'000);
    EXPECT_EQ(line->closes, 1);
    ASSERT_EQ(timers.made.size(), 1u);
    TestTimer &retry = *timers.made[0];
    EXPECT_TRUE(retry.isActive());
    EXPECT_EQ(retry.interval(), TComPort::RetryIntervalMs);

    // Still gone: nothing more is said, the first reason stands.
    line->failOpen("No such device");
    ASSERT_TRUE(retryOnce(retry));
    ASSERT_TRUE(retryOnce(retry));
    EXPECT_EQ(line->opens, 3);
    EXPECT_EQ(line->closes, 3); // the failed attempts release what they got
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(calls, (QStringList{"DSR", "Close", "Lost"}));
    EXPECT_EQ(port.LossReason(), SystemError::text(ENODEV));

    line->failOpen(QString());
    stamps.set(5000);
    ASSERT_TRUE(retryOnce(retry));
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(port.Retrying());
    EXPECT_FALSE(retry.isActive());
    EXPECT_EQ(port.ReopenStamp().monotonicNs, 5'000'000'000);
    EXPECT_EQ(calls, (QStringList{"DSR", "Close", "Lost", "Open", "Reopened"}));
    // The new worker delivers again.
    line->pushEvents(EV_CTS);
    ASSERT_TRUE(waitForCalls(6));
    EXPECT_EQ(calls.last(), "CTS");
}

// A port whose device has a stable name is retried under that name (an adapter back under
// another ttyUSB number), one without it under its number; the name is the one of the port
// opened last.
TEST_F(ComPortTest, LostPortIsRetriedUnderItsStableName)
{
    TestTimerFactory timers;
    port.setTimerFactory(timers.factory());
    QStringList identified, retriedAs;
    const SerialDeviceFactory byNumber = line->factory();
    port.setDeviceFactory([&](quint8 n) {
        retriedAs << QStringLiteral("COM%1").arg(n);
        return byNumber(n);
    });
    port.setStableNameLookup([&](quint8 n) {
        identified << QStringLiteral("COM%1").arg(n);
        return n == 5 ? QStringLiteral("/dev/serial/by-id/usb-X-port0") : QString();
    });
    port.setPathDeviceFactory([&](const QString &path) {
        retriedAs << path;
        return byNumber(0);
    });
    for (quint8 n : {quint8(5), quint8(6)}) {
        SCOPED_TRACE(int(n));
        retriedAs.clear();
        port.setPort(n);
        port.Open();
        EXPECT_EQ(identified.last(), QStringLiteral("COM%1").arg(n));
        line->pushFailure(ENODEV);
        ASSERT_TRUE(QTest::qWaitFor([&] { return port.Retrying(); }, 10000));
        ASSERT_TRUE(retryOnce(*timers.made.back()));
        ASSERT_TRUE(port.Connected());
        const QString expected =
            n == 5 ? QStringLiteral("/dev/serial/by-id/usb-X-port0") : QStringLiteral("COM6");
        EXPECT_EQ(retriedAs, (QStringList{QStringLiteral("COM%1").arg(n), expected}));
        EXPECT_EQ(port.StableName(), n == 5 ? expected : QString());
        // The retry opened the port again; it asks for no new name.
        EXPECT_EQ(identified.size(), n == 5 ? 1 : 2);
        port.Close();
    }
}

// Choosing a port (Open) or none (Close) ends the retries; Close says so once with OnClose.
TEST_F(ComPortTest, OpenOrCloseEndsTheRetries)
{
    TestTimerFactory timers;
    port.setTimerFactory(timers.factory());
    for (bool byOpen : {false, true}) {
        line->failOpen(QString());
        port.Open();
        line->pushFailure();
        ASSERT_TRUE(QTest::qWaitFor([&] { return port.Retrying(); }, 10000));
        calls.clear();
        if (byOpen) {
            line->failOpen("Permission denied");
            EXPECT_THROW(port.Open(), EComHandle);
        } else {
            port.Close();
        }
        EXPECT_EQ(calls, QStringList{"Close"});
        EXPECT_FALSE(port.Retrying());
        EXPECT_FALSE(timers.made.back()->isActive());
        port.Close(); // closed and not retrying: nothing more
        EXPECT_EQ(calls, QStringList{"Close"});
    }
    // A port destroyed while it retries ends them without a word.
    line->failOpen(QString());
    int closes = 0;
    {
        TComPort p;
        p.setDeviceFactory(line->factory());
        p.setTimerFactory(timers.factory());
        p.OnClose = [&](QObject *) { ++closes; };
        p.RetryOpen("gone");
        EXPECT_TRUE(p.Retrying());
    }
    EXPECT_EQ(closes, 0);
}

// The device double, whose open waits until the test lets it go (or ten seconds pass).
class HeldOpenDevice : public FakeSerialDevice
{
public:
    HeldOpenDevice(std::shared_ptr<FakeSerialLine> line, std::shared_future<void> release,
                   std::atomic<int> &entered)
        : FakeSerialDevice(std::move(line)), m_release(std::move(release)), m_entered(entered)
    {}
    bool open(QString &error) override
    {
        ++m_entered;
        m_release.wait_for(std::chrono::seconds(10));
        return FakeSerialDevice::open(error);
    }

private:
    std::shared_future<void> m_release;
    std::atomic<int> &m_entered;
};

// A retry opens the device off the window's thread: while the device takes its time, the
// window goes on and further ticks start no second attempt. What it opened after the
// retries ended (another port or none was chosen) is released, not used.
TEST_F(ComPortTest, RetryOpensWithoutHoldingUpTheWindow)
{
    TestTimerFactory timers;
    port.setTimerFactory(timers.factory());
    for (bool closedMeanwhile : {false, true}) {
        SCOPED_TRACE(closedMeanwhile ? "closed meanwhile" : "left to open");
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> entered{0};
        port.setDeviceFactory(
            [&](quint8) { return std::make_unique<HeldOpenDevice>(line, released, entered); });
        const int opensBefore = line->opens, closesBefore = line->closes;
        port.RetryOpen("gone");
        calls.clear();
        TestTimer &retry = *timers.made.back();
        retry.fire();
        ASSERT_TRUE(QTest::qWaitFor([&] { return entered == 1; }, 10000));
        bool windowRan = false;
        QMetaObject::invokeMethod(
            qApp, [&] { windowRan = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return windowRan; }, 10000));
        EXPECT_TRUE(port.RetryPending());
        retry.fire();
        if (closedMeanwhile)
            port.Close();
        release.set_value();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !port.RetryPending(); }, 10000));
        EXPECT_EQ(entered, 1);
        EXPECT_EQ(line->opens - opensBefore, 1);
        EXPECT_EQ(port.Connected(), !closedMeanwhile);
        EXPECT_EQ(line->closes - closesBefore, closedMeanwhile ? 1 : 0);
        EXPECT_EQ(calls, closedMeanwhile ? QStringList{"Close"} : QStringList{"Open"});
        port.Close();
    }
}

TEST_F(ComPortTest, SkippedCompletionIsWaitedAgain)
{
    port.Open();
    calls.clear();
    line->pushSkip();
    line->pushEvents(EV_CTS);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(calls, QStringList{"CTS"});
    ASSERT_TRUE(waitForWaiting());
    EXPECT_EQ(line->waitsEntered, 3);
}

TEST_F(ComPortTest, OpenFailureRaisesHandleErrorAndStaysClosed)
{
    port.Open();
    calls.clear();
    line->failOpen(QStringLiteral("No such file or directory"));
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComHandle &e) {
        EXPECT_EQ(e.Message, QStringLiteral("Unable to open com port: No such file or directory"));
        EXPECT_STREQ(e.what(), "Unable to open com port: No such file or directory");
    }
    // The port open before was closed, with OnClose; no OnOpen for the failed attempt.
    EXPECT_EQ(calls, QStringList{"Close"});
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.ComThread(), nullptr);
}

TEST_F(ComPortTest, StateFailureRaisesStateErrorReleasesDevice)
{
    line->failConfigure(QStringLiteral("Inappropriate ioctl for device"));
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComError &e) {
        EXPECT_NE(dynamic_cast<const EComState *>(&e), nullptr);
        EXPECT_EQ(e.Message,
                  QStringLiteral("Unable to set com state: Inappropriate ioctl for device"));
    }
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.ComThread(), nullptr);
    EXPECT_EQ(line->closes, 1);
}

TEST_F(ComPortTest, CloseFromHandlerDropsRestOfTheSet)
{
    port.OnCTS = [&](QObject *) {
        calls << QStringLiteral("CTS");
        port.Close();
    };
    port.Open();
    calls.clear();
    line->pushEvents(EV_CTS | EV_DSR);
    line->pushEvents(EV_DSR);
    ASSERT_TRUE(waitForWorkerAt(2));
    ASSERT_TRUE(waitForCalls(2));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, (QStringList{"CTS", "Close"}));
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortTest, ReopenFromHandlerKeepsWorking)
{
    bool reopened = false;
    port.OnCTS = [&](QObject *) {
        if (!reopened) {
            reopened = true;
            port.Open();
        }
    };
    port.Open();
    line->pushEvents(EV_CTS | EV_DSR);
    ASSERT_TRUE(QTest::qWaitFor([&] { return reopened; }, 5000));
    ASSERT_TRUE(waitForWaiting());
    calls.clear();
    line->pushEvents(EV_DSR);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(calls, QStringList{"DSR"});
    EXPECT_EQ(line->devicesCreated, 2);
}

// Handlers run by Close (the pending set) may call Close or Open again.
TEST_F(ComPortTest, HandlersRunByCloseCannotReenterIt)
{
    QString reopenError;
    port.OnDSR = [&](QObject *) {
        calls << QStringLiteral("DSR");
        port.Close();
        try {
            port.Open();
        } catch (const EComHandle &e) {
            reopenError = e.Message;
        }
    };
    port.Open();
    calls.clear();
    line->pushEvents(EV_DSR);
    ASSERT_TRUE(waitForWorkerAt(1));
    port.Close();
    EXPECT_EQ(calls, (QStringList{"DSR", "Close"}));
    EXPECT_EQ(reopenError, "Unable to open com port: " + SystemError::text(EBUSY));
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(line->devicesCreated, 1);
    port.Open();
    EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortTest, ModemStatusReadsTheOpenDevice)
{
    line->setStatus(0x30);
    EXPECT_EQ(port.ModemStatus(), 0u);
    port.Open();
    EXPECT_EQ(port.ModemStatus(), 0x30u);
}

TEST(ComPortLifetime, DestroyingAnOpenPortClosesIt)
{
    auto line = std::make_shared<FakeSerialLine>();
    int closes = 0;
    {
        TComPort p;
        p.setDeviceFactory(line->factory());
        p.OnClose = [&](QObject *) { ++closes; };
        p.Open();
        ASSERT_TRUE(line->waitUntil([&] { return line->waiting; }));
        line->pushEvents(EV_DSR); // left queued for the dispatcher
    }
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(line->closes, 1);
    QCoreApplication::processEvents();
}

// Many sets in flight while the port closes at arbitrary moments: no deadlock, no
// handler after OnClose, and every worker has ended.
TEST(ComPortLifetime, CloseRacingWithEventsNeverDeadlocks)
{
    auto line = std::make_shared<FakeSerialLine>();
    TComPort p;
    p.setDeviceFactory(line->factory());
    bool closed = true;
    int late = 0;
    int seen = 0;
    p.OnDSR = [&](QObject *) {
        ++seen;
        if (closed)
            ++late;
    };
    p.OnOpen = [&](QObject *) { closed = false; };
    p.OnClose = [&](QObject *) { closed = true; };
    for (int round = 0; round < 60; ++round) {
        p.Open();
        const int before = seen;
        int waitsBefore = 0;
        ASSERT_TRUE(line->waitUntil([&] {
            waitsBefore = line->waitsEntered;
            return line->waiting;
        }));
        for (int i = 0; i < 1 + round % 4; ++i)
            line->pushEvents(EV_DSR);
        if (round % 3 == 0) {
            // Some sets dispatched through the event loop.
            EXPECT_TRUE(QTest::qWaitFor([&] { return seen > before; }, 5000));
        } else if (round % 3 == 1) {
            // Sets queued that only Close dispatches.
            const int taken = waitsBefore + (1 + round % 4);
            EXPECT_TRUE(
                line->waitUntil([&] { return line->waiting && line->waitsEntered >= taken; }));
        }
        p.Close();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(late, 0);
    EXPECT_GT(seen, 0);
    EXPECT_EQ(line->opens, 60);
    EXPECT_EQ(line->purges, 60);
}

} // namespace
