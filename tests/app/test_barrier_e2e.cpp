#include "platform/SystemError.h"
#include "tests/support/WindowControls.h"
#include "tests/support/MainWindowFixture.h"

#include "app/Safekeeping.h"
#include "protocol/FileCommands.h"
#include "protocol/Recovery.h"
#include "protocol/SheetCommands.h"
#include "serial/Comms.h"
#include "serial/SimBarrier.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/FakeSoffice.h"
#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"
#include "tests/support/TextLoads.h"
#include "timing/BarrierGuard.h"
#include "timing/display/BarrierIcons.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/ClickImage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTime>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr quint32 k46 = 0x20; // "4+6": DTR to DSR
constexpr quint32 k78 = 0x10; // "7+8": RTS to CTS

using WallTime = std::chrono::system_clock::time_point;

// The time text of a moment on the wall clock, cut to the hundredth.
QString textAt(WallTime t)
{
    return TChronometer::timeText(timeOfDayAt(t));
}

// The program's time for a change the barrier made at t: the barrier's own time cut to the
// hundredth, or the next hundredth where t lies within a millisecond of it (the worker
// sees the change a few microseconds after the barrier sent it) or, on a machine so busy
// that the worker saw it later, within that delay.
bool matchesBarrierTime(const QString &taken, WallTime t,
                        std::chrono::microseconds seenAfter = std::chrono::microseconds(0))
{
    if (taken == textAt(t))
        return true;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch());
    const auto toBoundary = 10'000 - us.count() % 10'000;
    const auto tolerance = std::max<long long>(1000, seenAfter.count() + 1000);
    return toBoundary <= tolerance && taken == textAt(t + std::chrono::microseconds(toBoundary));
}

// Which picture the barrier icon shows: "locked", "free" or "not connected".
std::string iconShown(const TFormMain &w)
{
    const QImage shown = ui(w).ImageLSzeit->pixmap().toImage();
    if (shown == barrierIconNotConnected().toImage())
        return "not connected";
    for (int s = 0; s < 2; ++s)
        if (shown == w.ImageList1[s].toImage())
            return s ? "free" : "locked";
    return "other";
}

bool statusMatches(const TFormMain &w, const QString &pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern))
        .match(ui(w).StatusBar1->currentMessage())
        .hasMatch();
}

QString reasonText(int err)
{
    return QRegularExpression::escape(SystemError::text(err));
}

// A barrier that is accepting while action runs (the port opens during it).
bool connectDuring(SimBarrierServer &server, const std::function<void()> &action)
{
    bool accepted = false;
    std::thread barrier([&] { accepted = server.waitForClient(10000); });
    action();
    barrier.join();
    return accepted;
}

// A stamp's time of day to the second, as the status bar says it.
QString clockAt(const TimeStamp &t)
{
    return QTime(t.timeOfDay.hour, t.timeOfDay.minute, t.timeOfDay.second).toString("HH:mm:ss");
}

QStringList takenTimes(const TFormMain &w)
{
    QStringList out;
    const TSortGrid &g = *ui(w).SortGridPred;
    for (int r = 1; r < g.RowCount(); ++r)
        if (!g.Cells(1, r).isEmpty())
            out << g.Cells(1, r);
    return out;
}

// The program with its port mapped to the simulated barrier through the settings store,
// as a user without hardware runs it: the real worker thread delivers the line changes,
// stamped with the system's clock.
class BarrierEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        socket = settings.dir.path() + QStringLiteral("/barrier.sock");
        QString error;
        ASSERT_TRUE(server.listen(socket, error)) << error.toStdString();
    }

    // clock: the window's local clock; nullptr: the test clock.
    void start(int alg, int wait, IClock *windowClock = nullptr)
    {
        settings.write({{"Port", 5},
                        {"Alg", alg},
                        {"Left", 243},
                        {"Top", 112},
                        {"Width", 800},
                        {"Height", 530},
                        {"Sound", 1},
                        {"C1", 0},
                        {"C2", 0xFF00},
                        {"C3", 0},
                        {"Acc", 2},
                        {"C4", 0xFFFF},
                        {"FilterInd", 1},
                        {"Wait", wait},
                        {"CountRunden", 4},
                        {"Devices/COM5", "sim:" + socket}});
        // The barrier greets the port while the window opens it during its creation.
        bool accepted = false;
        std::thread barrier([&] { accepted = server.waitForClient(10000); });
        w = std::make_unique<TFormMain>(windowClock ? windowClock : &clock);
        barrier.join();
        ASSERT_TRUE(accepted);
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    void pass(quint32 pair, bool closed)
    {
        if (closed)
            server.closeContact(pair);
        else
            server.openContact(pair);
    }
    // Waits until the window has handled the change that leaves the pair in this state:
    // after that, anything an earlier change would have done is done.
    [[nodiscard]] bool seen(quint32 pair, bool closed)
    {
        return QTest::qWaitFor([&] { return ((w->guard->LastLineStatus & pair) != 0) == closed; },
                               10000);
    }
    QStringList times() const { return takenTimes(*w); }
    // Records the worker's stamp of every change that closes a contact (DSR and CTS
    // events), so a check can allow for a machine so busy that the worker saw it late.
    void recordClosingStamps()
    {
        for (auto *h : {&w->ComPort->OnDSR, &w->ComPort->OnCTS}) {
            *h = [this, handler = *h](QObject *s) {
                if (w->ComPort->EventStatus() & (k46 | k78))
                    closingStamps.push_back(w->ComPort->EventStamp());
                if (handler)
                    handler(s);
            };
        }
    }
    // How long after the barrier's send the worker stamped the change.
    static std::chrono::microseconds seenAfter(const TimeStamp &stamp,
                                               const SimBarrierServer::ChangeTime &sent)
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::nanoseconds(stamp.monotonicNs) - sent.mono.time_since_epoch());
    }

    std::vector<TimeStamp> closingStamps;
    TempSettings settings;
    TestClock clock;
    SimBarrierServer server;
    QString socket;
    std::unique_ptr<TFormMain> w;
};

TEST_F(BarrierEndToEnd, PassesTakeTheTimesTheBarrierMadeThem)
{
    start(0, 200);
    ASSERT_TRUE(w->ComPort->Connected());
    EXPECT_TRUE(ui(*w).ImageLSzeit->isVisible()); // shown while the port is open
    QTest::keyClick(w.get(), Qt::Key_F4);
    pass(k46, true);
    ASSERT_TRUE(seen(k46, true));
    EXPECT_TRUE(times().isEmpty()); // START left the barrier locked
    pass(k46, false);
    ASSERT_TRUE(seen(k46, false));

    QTest::keyClick(w.get(), Qt::Key_F3);
    recordClosingStamps();
    pass(k46, true);
    const auto first = server.lastChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 1; }, 10000));
    ASSERT_EQ(closingStamps.size(), 1u);
    EXPECT_TRUE(matchesBarrierTime(times()[0], first.wall, seenAfter(closingStamps[0], first)))
        << times()[0].toStdString();
    // The lower row shows the time taken.
    const qint32 shown = ui(*w).PanelTimer->shownValue(1);
    EXPECT_EQ(TChronometer::timeText(TimeOfDay{shown / 3'600'000, shown / 60'000 % 60,
                                               shown / 1000 % 60, shown % 1000}),
              times()[0]);
    EXPECT_EQ(w->guard->LastLineStatus & 0xF0, k46);
    EXPECT_EQ(w->guard->lockState(), 0); // the lock time runs
    pass(k46, false);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w->guard->lockState() == 1; }, 10000)); // lock time over
    pass(k78, true); // any of the four inputs counts
    const auto second = server.lastChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 2; }, 10000));
    ASSERT_EQ(closingStamps.size(), 2u);
    EXPECT_TRUE(matchesBarrierTime(times()[1], second.wall, seenAfter(closingStamps[1], second)))
        << times()[1].toStdString();
}

// The window busy for two seconds while ten passes 150 ms apart arrive (lock time 0.1 s):
// all ten land, in order, each at the time the barrier made it.
TEST_F(BarrierEndToEnd, BlockedWindowLosesAndDelaysNoPass)
{
    start(0, 100);
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    std::vector<SimBarrierServer::ChangeTime> closings;
    // The stamps the worker gave the closings, to tell a busy machine from a late time.
    std::vector<TimeStamp> stamps;
    const auto handler = w->ComPort->OnDSR;
    w->ComPort->OnDSR = [&, handler](QObject *s) {
        if (w->ComPort->EventStatus() & k46)
            stamps.push_back(w->ComPort->EventStamp());
        handler(s);
    };
    std::thread barrier([&] {
        for (int k = 0; k < 10; ++k) {
            // At least 150 ms from the previous closing, however loaded the machine.
            if (k > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            server.closeContact(k46);
            closings.push_back(server.lastChange());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            server.openContact(k46);
        }
    });
    // The window does nothing for two seconds (a large file loading, say).
    std::this_thread::sleep_for(std::chrono::seconds(2));
    barrier.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 10; }, 10000));
    ASSERT_TRUE(seen(k46, false)); // the last change, so no further time can come
    ASSERT_EQ(times().size(), 10);
    ASSERT_EQ(stamps.size(), 10u);
    for (size_t k = 0; k < 10; ++k) {
        const auto seenAfter = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::nanoseconds(stamps[k].monotonicNs) - closings[k].mono.time_since_epoch());
        // Stamped when it happened, not when the window was free again (that would be
        // 650 ms or more even for the last pass); the bound leaves room for a loaded machine.
        EXPECT_GE(seenAfter.count(), 0) << k;
        EXPECT_LT(seenAfter.count(), 300'000) << k;
        EXPECT_EQ(times()[int(k)], TChronometer::timeText(stamps[k].timeOfDay)) << k;
        EXPECT_TRUE(matchesBarrierTime(times()[int(k)], closings[k].wall, seenAfter))
            << k << ": " << times()[int(k)].toStdString() << " barrier "
            << SimBarrier::wallClockText(closings[k].wall).toStdString() << ", seen "
            << seenAfter.count() << " us later";
    }
}

// Milliseconds since midnight of a time text ("hh:mm:ss,cc").
int textMs(const QString &t)
{
    return ((t.mid(0, 2).toInt() * 60 + t.mid(3, 2).toInt()) * 60 + t.mid(6, 2).toInt()) * 1000 +
           t.mid(9, 2).toInt() * 10;
}

// A starter list of a million lines is read while the barrier makes a pass every 150 ms
// and F8 is pressed: every pass takes the time the barrier made it (judged as when the
// window is blocked), F8 the time it was pressed, and the results protocol keeps its old
// table until the new one is whole.
TEST_F(BarrierEndToEnd, MillionLineListLoadsWhileTimesAreTaken)
{
    constexpr int kLines = 1'000'000;
    const QString list = settings.dir.path() + "/million.txt";
    {
        QByteArray bytes = "Nr.;Fahrer\r\n";
        bytes.reserve(20'000'000);
        for (int k = 1; k <= kLines; ++k) {
            const QByteArray n = QByteArray::number(k);
            bytes += n + ";Name " + n + "\r\n";
        }
        ASSERT_LE(bytes.size(), TextFormat::MaxFileBytes);
        QFile f(list);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    // The window on the system's clock, so that F8 is judged against the moment it was
    // pressed.
    start(0, 100, &systemClock());
    const QString old = settings.dir.path() + "/alt.txt";
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Nr.;Fahrer\r\n1;Alt\r\n");
    }
    ASSERT_TRUE(awaitTextLoad(*w->files, [&] { w->LoadProtocolText(old); }));
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);

    std::vector<SimBarrierServer::ChangeTime> closings;
    std::vector<TimeStamp> stamps;
    const auto handler = w->ComPort->OnDSR;
    w->ComPort->OnDSR = [&, handler](QObject *s) {
        if (w->ComPort->EventStatus() & k46)
            stamps.push_back(w->ComPort->EventStamp());
        handler(s);
    };
    struct Taken
    {
        QString text;
        QString source;
        bool reading;   // taken while the file was still being read
        bool oldIntact; // the results protocol then still held the old table
    };
    std::vector<Taken> taken;
    QObject::connect(w.get(), &TFormMain::timeTaken, w.get(),
                     [&](const QString &text, const TimeOfDay &, const QString &source) {
                         const TSortGrid &g = *ui(*w).SortGrid1;
                         taken.push_back({text, source, w->files->busy(),
                                          g.RowCount() == 2 && g.Cells(1, 1) == "Alt"});
                     });
    QSignalSpy done(w->files, &TFileCommands::finished);

    w->LoadProtocolText(list);
    ASSERT_TRUE(w->files->busy());
    EXPECT_FALSE(ui(*w).sbOpen->isEnabled());
    std::thread barrier([&] {
        for (int k = 0; k < 10; ++k) {
            if (k > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            server.closeContact(k46);
            closings.push_back(server.lastChange());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            server.openContact(k46);
        }
    });
    // F8 as the window receives a key: an event for the UI thread, handled when it is free.
    std::mutex pressMutex;
    std::vector<WallTime> presses;
    std::thread operatorHand([&] {
        for (int k = 0; k < 4; ++k) {
            if (k > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(120));
            {
                std::lock_guard lock(pressMutex);
                presses.push_back(std::chrono::system_clock::now());
            }
            QMetaObject::invokeMethod(
                w.get(), [&] { QTest::keyClick(w.get(), Qt::Key_F8); }, Qt::QueuedConnection);
        }
    });
    ASSERT_TRUE(done.wait(120000));
    barrier.join();
    operatorHand.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return taken.size() == 14; }, 10000));
    ASSERT_TRUE(seen(k46, false));

    EXPECT_TRUE(done.at(0).at(0).toBool());
    const TSortGrid &g = *ui(*w).SortGrid1;
    EXPECT_EQ(g.RowCount(), kLines + 1);
    EXPECT_EQ(g.Cells(0, kLines), QString::number(kLines));
    EXPECT_EQ(g.Cells(1, kLines), "Name " + QString::number(kLines));
    EXPECT_TRUE(ui(*w).sbOpen->isEnabled());

    std::vector<Taken> passes, keys;
    for (const Taken &t : taken)
        (t.source == "F8" ? keys : passes).push_back(t);
    ASSERT_EQ(passes.size(), 10u);
    ASSERT_EQ(keys.size(), 4u);
    ASSERT_EQ(stamps.size(), 10u);
    int duringLoad = 0;
    for (size_t k = 0; k < 10; ++k) {
        const auto seenAfter = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::nanoseconds(stamps[k].monotonicNs) - closings[k].mono.time_since_epoch());
        EXPECT_GE(seenAfter.count(), 0) << k;
        EXPECT_LT(seenAfter.count(), 300'000) << k;
        EXPECT_EQ(passes[k].text, TChronometer::timeText(stamps[k].timeOfDay)) << k;
        EXPECT_TRUE(matchesBarrierTime(passes[k].text, closings[k].wall, seenAfter))
            << k << ": " << passes[k].text.toStdString() << " barrier "
            << SimBarrier::wallClockText(closings[k].wall).toStdString();
        duringLoad += passes[k].reading;
    }
    for (size_t k = 0; k < 4; ++k) {
        // Handled within 300 ms of the press, as a pass is stamped on a loaded machine.
        const int late = textMs(keys[k].text) - textMs(textAt(presses[k]));
        EXPECT_GE(late, 0) << k;
        EXPECT_LE(late, 300) << k << ": " << keys[k].text.toStdString() << " pressed "
                             << textAt(presses[k]).toStdString();
        duringLoad += keys[k].reading;
    }
    for (const Taken &t : taken)
        EXPECT_TRUE(!t.reading || t.oldIntact) << t.text.toStdString();
    // The first pass and the first press came while the file was read.
    EXPECT_TRUE(passes[0].reading);
    EXPECT_TRUE(keys[0].reading);
    std::printf("million lines: %d of 14 times taken while the file was read\n", duringLoad);
}

TEST_F(BarrierEndToEnd, OpeningEdgeAndClosingThePort)
{
    start(1, 0);
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    pass(k46, true);
    ASSERT_TRUE(seen(k46, true));
    EXPECT_TRUE(times().isEmpty());
    pass(k46, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 1; }, 10000));
    w->ComPort->Close();
    EXPECT_FALSE(ui(*w).ImageLSzeit->isVisible());
}

// barrier-sim ends while the barrier is free and its contact closed (the adapter is pulled
// in the middle of a pass): the port closes, the icon and the status bar say so. The
// contact opens unseen; barrier-sim started again on the same socket is opened by a retry,
// the barrier is free as it was, and the next closing is taken although it shows the same
// lines as the last change seen before the loss.
TEST_F(BarrierEndToEnd, LostBarrierIsSaidAndTakesTimesAgainWhenBack)
{
    start(0, 0);
    TestTimerFactory timers;
    w->ComPort->setTimerFactory(timers.factory());
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    ASSERT_EQ(w->guard->lockState(), 1);
    pass(k46, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 1; }, 10000));
    QElapsedTimer since;
    qint64 closedAfter = -1;
    const auto onClose = w->ComPort->OnClose;
    w->ComPort->OnClose = [&, onClose](QObject *s) {
        closedAfter = since.elapsed();
        onClose(s);
    };

    since.start();
    server.shutdown();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->ComPort->Connected(); }, 10000));
    std::printf("barrier gone: OnClose after %lld ms\n", static_cast<long long>(closedAfter));
    EXPECT_GE(closedAfter, 0);
    EXPECT_TRUE(ui(*w).ImageLSzeit->isVisible());
    EXPECT_EQ(iconShown(*w), "not connected");
    const QString lost = "Verbindung zur Lichtschranke an COM5 um \\d\\d:\\d\\d:\\d\\d verloren: " +
                         reasonText(ECONNRESET) + "\\. Neuer Versuch jede Sekunde\\.";
    EXPECT_TRUE(statusMatches(*w, lost)) << ui(*w).StatusBar1->currentMessage().toStdString();
    ASSERT_EQ(timers.made.size(), 1u);
    TestTimer &retry = *timers.made[0];
    auto retryEnded = [&] {
        return QTest::qWaitFor([&] { return !w->ComPort->RetryPending(); }, 10000);
    };

    // Not back yet: a retry changes nothing on screen.
    pass(k46, false);
    retry.advance(TComPort::RetryIntervalMs);
    ASSERT_TRUE(retryEnded());
    EXPECT_FALSE(w->ComPort->Connected());
    EXPECT_EQ(iconShown(*w), "not connected");
    EXPECT_TRUE(statusMatches(*w, lost));

    QString error;
    ASSERT_TRUE(server.listen(socket, error)) << error.toStdString();
    ASSERT_TRUE(connectDuring(server, [&] { retry.advance(TComPort::RetryIntervalMs); }));
    ASSERT_TRUE(retryEnded());
    EXPECT_TRUE(w->ComPort->Connected());
    EXPECT_EQ(iconShown(*w), "free"); // as it was
    EXPECT_TRUE(statusMatches(*w, "Lichtschranke an COM5 um \\d\\d:\\d\\d:\\d\\d verbunden\\."))
        << ui(*w).StatusBar1->currentMessage().toStdString();
    pass(k46, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 2; }, 10000));
}

// A port that cannot be opened at start-up is said without a dialog and tried until it
// opens.
TEST(BarrierStartUp, PortMissingAtStartIsSaidAndRetriedUntilItComes)
{
    TempSettings settings;
    const QString socket = settings.dir.path() + "/barrier.sock";
    settings.write({{"Port", 9}, {"Alg", 0}, {"Devices/COM9", "sim:" + socket}});
    TestClock clock;
    TFormMain w(&clock);
    TestTimerFactory timers;
    w.ComPort->setTimerFactory(timers.factory());
    w.show();
    EXPECT_FALSE(w.ComPort->Connected());
    EXPECT_TRUE(w.ComPort->Retrying());
    EXPECT_TRUE(ui(w).ImageLSzeit->isVisible());
    EXPECT_EQ(iconShown(w), "not connected");
    EXPECT_TRUE(statusMatches(w, "Lichtschranke an COM9 ließ sich um \\d\\d:\\d\\d:\\d\\d nicht "
                                 "öffnen: " +
                                     reasonText(ENOENT) +
                                     " \\(an .* wartet kein barrier-sim\\)\\. Neuer Versuch "
                                     "jede Sekunde\\."))
        << ui(w).StatusBar1->currentMessage().toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    SimBarrierServer server;
    QString error;
    ASSERT_TRUE(server.listen(socket, error)) << error.toStdString();
    ASSERT_EQ(timers.made.size(), 1u);
    ASSERT_TRUE(connectDuring(server, [&] { timers.made[0]->advance(TComPort::RetryIntervalMs); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.ComPort->RetryPending(); }, 10000));
    EXPECT_TRUE(w.ComPort->Connected());
    EXPECT_FALSE(w.ComPort->Retrying());
    EXPECT_EQ(iconShown(w), "locked");
    EXPECT_TRUE(statusMatches(w, "Lichtschranke an COM9 um \\d\\d:\\d\\d:\\d\\d verbunden\\."));
}

// The window's port on the device double, stamping with a clock the test sets.
class BarrierOnDeviceDouble : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        w->ComPort->setDeviceFactory(line->factory());
        w->ComPort->setStampClock(stamps);
        w->ComPort->setPort(1);
        w->ComPort->Open();
        ASSERT_TRUE(workerAt(0));
        key(Qt::Key_F4);
        key(Qt::Key_F3);
    }
    void TearDown() override
    {
        w->ComPort->Close();
        MainWindowFixture::TearDown();
    }
    // The worker has taken n completions and waits again (the window has run nothing).
    bool workerAt(int n)
    {
        return line->waitUntil([&] { return line->waiting && line->waitsEntered == n + 1; });
    }

    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    TestStampClock stamps;
};

// Closed and opened between two waits: one wake-up whose counters show the pass and whose
// status word no longer does. The pass is taken once, at the time of that wake-up.
TEST_F(BarrierOnDeviceDouble, ShortPassMergedIntoOneWakeUpIsTakenOnce)
{
    stamps.setOrigin(10, 15, 22, 0);
    stamps.set(318);
    line->pulse(k46);
    ASSERT_TRUE(workerAt(1));
    stamps.set(5000); // handled later than it happened
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->guard->LastLineStatus == 0u; }, 5000));
    EXPECT_EQ(takenTimes(*w), QStringList{"10:15:22,31"});
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(1), ((10 * 60 + 15) * 60 + 22) * 1000 + 318);
}

TEST_F(BarrierOnDeviceDouble, PollingAndLostChangesAreSaidOnceInTheStatusBar)
{
    QSignalSpy said(ui(*w).StatusBar1, &QStatusBar::messageChanged);
    line->changeFoundByPolling(k46);
    ASSERT_TRUE(QTest::qWaitFor([&] { return takenTimes(*w).size() == 1; }, 5000));
    ASSERT_EQ(said.size(), 1);
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(),
              "Lichtschranke an COM1: Der Treiber meldet keine Kontaktänderungen, die Leitungen "
              "werden jetzt alle 2 ms abgefragt.");
    ui(*w).StatusBar1->clearMessage();
    line->changeFoundByPolling(0); // the port polls already: nothing more to say
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->guard->LastLineStatus == 0u; }, 5000));
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(), "");

    // More event sets than the queue holds while the window is busy.
    const int sent = int(TComQueue::limit) + 7;
    for (int i = 0; i < sent; ++i)
        line->change(i % 2 ? 0 : k46);
    ASSERT_TRUE(workerAt(2 + sent));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->ComPort->DroppedEvents() == 7u; }, 10000));
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(),
              "Lichtschranke: 7 Kontaktänderungen verloren, weil das Programm zu lange "
              "beschäftigt war.");
}

// The device's line wait fails (the adapter was pulled) with the system's reason: the
// window says which port was lost, when and why, shows "not connected", and shows the lock
// state it had again once a retry has opened the port.
TEST_F(BarrierOnDeviceDouble, FailedLineWaitIsSaidWithPortTimeAndReason)
{
    TestTimerFactory timers;
    w->ComPort->setTimerFactory(timers.factory());
    stamps.setOrigin(10, 15, 22, 0);
    qint64 ms = 0;
    for (int err : {EIO, ENODEV}) {
        SCOPED_TRACE(err);
        stamps.set(ms += 2500);
        const QString when = clockAt(stamps.stamp());
        line->pushFailure(err);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->ComPort->Connected(); }, 10000));
        EXPECT_EQ(iconShown(*w), "not connected");
        EXPECT_EQ(ui(*w).StatusBar1->currentMessage(),
                  QStringLiteral("Verbindung zur Lichtschranke an COM1 um %1 verloren: %2. Neuer "
                                 "Versuch jede Sekunde.")
                      .arg(when, SystemError::text(err)));

        stamps.set(ms += 1000);
        timers.made.back()->fire();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->ComPort->RetryPending(); }, 10000));
        EXPECT_TRUE(w->ComPort->Connected());
        EXPECT_EQ(iconShown(*w), "free");
        EXPECT_EQ(
            ui(*w).StatusBar1->currentMessage(),
            QStringLiteral("Lichtschranke an COM1 um %1 verbunden.").arg(clockAt(stamps.stamp())));
    }
    // Times are taken again.
    line->change(k46);
    ASSERT_TRUE(QTest::qWaitFor([&] { return takenTimes(*w).size() == 1; }, 10000));
}

} // namespace

// A spreadsheet conversion takes seconds; meanwhile a pass is taken at the time the barrier
// made it, and the running clock keeps being shown.
TEST_F(BarrierEndToEnd, PassDuringASpreadsheetConversion)
{
    FakeSoffice office;
    office.answer({{"Nr.", "Fahrer"}, {"12", "Meier"}});
    start(0, 100);
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    QSignalSpy done(w->findChild<TSheetCommands *>(), &TSheetCommands::finished);
    w->LoadProtocolSheet(office.input("liste.xls"));
    ASSERT_FALSE(ui(*w).sbOpen->isEnabled()); // the conversion runs

    clock.set(10, 30, 0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui(*w).PanelTimer->shownValue(0) == 37'800'000; }, 5000));
    pass(k46, true);
    const WallTime at = server.lastChange().wall;
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 1; }, 5000));
    EXPECT_TRUE(matchesBarrierTime(times()[0], at)) << times()[0].toStdString();
    clock.set(10, 30, 1, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui(*w).PanelTimer->shownValue(0) == 37'801'000; }, 5000));
    EXPECT_EQ(done.size(), 0);

    office.release();
    ASSERT_TRUE(done.wait(30000));
    EXPECT_EQ(ui(*w).SortGrid1->Cells(1, 1), "Meier");
    EXPECT_EQ(times().size(), 1);
}

// Cars pass while the operator types start numbers: the digits stay on the entry they were
// typed into, a new entry waits (marked) until it is selected, and a number confirmed on
// the last entry is not changed by digits typed before the next pass.
TEST_F(BarrierEndToEnd, NumbersTypedWhileCarsPassStayWhereTheyWereTyped)
{
    start(0, 0);
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    TSortGrid &pred = *ui(*w).SortGridPred;
    auto carPasses = [&] {
        const int before = int(times().size());
        pass(k46, true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return int(times().size()) == before + 1; }, 10000));
        pass(k46, false);
        ASSERT_TRUE(seen(k46, false));
    };
    auto clickNr = [&](int row) {
        QTest::mouseClick(pred.viewport(), Qt::LeftButton, {}, pred.CellRect(2, row).center());
    };
    auto type = [&](const QString &keys) {
        for (QChar ch : keys)
            QTest::keyClicks(QApplication::focusWidget(), QString(ch));
    };
    auto enter = [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); };

    for (int n = 1; n <= 3; ++n) {
        carPasses();
        EXPECT_EQ(pred.Row(), n); // nothing typed: the new entry is selected
    }
    clickNr(2);
    type("2");
    carPasses();
    EXPECT_EQ(pred.Row(), 2);
    EXPECT_TRUE(w->view->markedNew(4));
    // The new entry's time cell shows it waits for its number.
    const QRect timeCell = pred.CellRect(1, 4);
    EXPECT_EQ(pred.viewport()->grab().toImage().pixelColor(timeCell.topLeft() + QPoint(3, 3)),
              QColor(255, 236, 140));
    type("7");
    enter();
    EXPECT_EQ(pred.Cells(2, 2), "27");
    EXPECT_EQ(pred.Cells(2, 4), "");
    EXPECT_EQ(pred.Row(), 3); // Enter moves on, as always
    carPasses();
    EXPECT_EQ(pred.Row(), 5);
    clickNr(4);
    EXPECT_FALSE(w->view->markedNew(4));

    // A digit replaces the number of a cell just selected; further digits and Backspace edit.
    clickNr(1);
    type("12");
    enter();
    clickNr(1);
    type("5");
    EXPECT_EQ(pred.Cells(2, 1), "5");
    type("83");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(pred.Cells(2, 1), "58");
    enter();
    // A second click opens the editor over the number; the first digit still replaces it.
    clickNr(1);
    clickNr(1);
    ASSERT_TRUE(pred.EditorMode());
    QTest::mouseClick(pred.InplaceEditor(), Qt::LeftButton, {}, QPoint(2, 5));
    type("6");
    EXPECT_EQ(pred.Cells(2, 1), "6");
    enter();

    // Enter on the last entry ends the edit: digits typed before the next pass change
    // nothing, and the status bar says why.
    clickNr(5);
    type("9");
    enter();
    type("3");
    EXPECT_EQ(pred.Cells(2, 5), "9");
    EXPECT_TRUE(ui(*w).StatusBar1->currentMessage().contains("bestätigt"))
        << ui(*w).StatusBar1->currentMessage().toStdString();
    carPasses();
    EXPECT_EQ(pred.Row(), 6);
    type("4");
    EXPECT_EQ(pred.Cells(2, 6), "4");
    EXPECT_EQ(pred.Cells(2, 5), "9");
}

// After a crash while the clock ran with the barrier free, "Ja" brings the run back as it
// was: the next pass of the barrier is taken without a key pressed.
TEST_F(BarrierEndToEnd, RestoredRunTakesTheNextPassAtOnce)
{
    QTemporaryDir data;
    RecoveryFormat::State left;
    left.results.colCount = 6;
    left.results.rows = {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"},
                         {"12", "Meier", "", "", "", ""}};
    left.pred.colCount = 3;
    left.pred.rows = {{"", "Zeit", "Nr."}, {"1", "10:00:00,00", ""}};
    left.written = QDateTime::currentDateTime();
    left.run = {RecoveryFormat::Running, true};
    QFile f(data.filePath("recovery.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(RecoveryFormat::encode(left));
    f.close();

    start(0, 0);
    TFDlgYesNo dlg(w.get());
    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    w->startSafekeeping(data.path());
    EXPECT_TRUE(w->chrono->running());
    EXPECT_EQ(w->guard->lockState(), 1);
    pass(k46, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times().size() == 2; }, 10000));
    EXPECT_EQ(times()[0], "10:00:00,00");
    w->safekeeping->close();
}
