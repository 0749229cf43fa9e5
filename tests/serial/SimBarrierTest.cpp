#include "serial/SimBarrier.h"
#include "platform/SystemError.h"
#include "serial/Comms.h"
#include "serial/PortProbe.h"
#include "serial/SimSerialDevice.h"
#include "tests/support/TestTimer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

QString errText(int err)
{
    return SystemError::text(err);
}

// The main window's port on the simulated barrier, recording every modem-line call
// with the status word the handler reads.
class SimPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        socket = dir.filePath("barrier.sock");
        port.setDeviceFactory([this](quint8) { return createDeviceForPath("sim:" + socket); });
        port.setTimerFactory(retries.factory());
        port.setFlowControl(fcRtsCts);
        port.setDataBits(5);
        port.setEvents({evRing, evCTS, evDSR, evRLSD});
        auto rec = [this](const char *name) {
            return [this, name](QObject *) {
                EXPECT_EQ(QThread::currentThread(), qApp->thread());
                calls << QStringLiteral("%1:%2")
                             .arg(QLatin1String(name))
                             .arg(port.EventStatus(), 0, 16);
                stamps << port.EventStamp().monotonicNs;
            };
        };
        port.OnRing = rec("Ring");
        port.OnCTS = rec("CTS");
        port.OnDSR = rec("DSR");
        port.OnRLSD = rec("RLSD");
        port.OnClose = [this](QObject *) { calls << QStringLiteral("Close"); };
    }

    // Opens the port while the barrier accepts it.
    void openWithBarrier()
    {
        QString error;
        ASSERT_TRUE(server.listen(socket, error)) << error.toStdString();
        bool accepted = false;
        std::thread acceptor([&] { accepted = server.waitForClient(5000); });
        try {
            port.Open();
        } catch (...) {
            acceptor.join();
            throw;
        }
        acceptor.join();
        ASSERT_TRUE(accepted);
        ASSERT_TRUE(port.Connected());
    }

    bool waitForCalls(int n)
    {
        return QTest::qWaitFor([&] { return calls.size() >= n; }, 5000);
    }

    QTemporaryDir dir;
    QString socket;
    SimBarrierServer server;
    QStringList calls;
    QList<qint64> stamps;
    TestTimerFactory retries;
    TComPort port;
};

TEST_F(SimPortTest, ContactOnFourSixArrivesAsDsrOnUiThread)
{
    openWithBarrier();
    server.closeContact(pinPairBit("4+6"));
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(calls, QStringList{"DSR:20"});
    EXPECT_NE(port.ModemStatus() & 0x20, 0u);
    EXPECT_TRUE(contactClosed(port.ModemStatus()));
    EXPECT_EQ(pinPairText(port.ModemStatus()), "4+6");

    server.openContact(0x20);
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(calls, (QStringList{"DSR:20", "DSR:0"}));
}

TEST_F(SimPortTest, EveryEdgeOfAQuickPassIsHandedOverOnItsOwn)
{
    openWithBarrier();
    for (int i = 0; i < 5; ++i) {
        server.closeContact(0x80);
        server.openContact(0x80);
    }
    ASSERT_TRUE(waitForCalls(10));
    for (int i = 0; i < 10; i += 2) {
        EXPECT_EQ(calls[i], "RLSD:80");
        EXPECT_EQ(calls[i + 1], "RLSD:0");
    }
}

// Both changes of a pass arrive in one read, as two edges within one wait do on a real
// port: the counters show them, the status word no longer does. Both are delivered, with
// the one stamp of that wake-up, which lies after the barrier sent them.
TEST_F(SimPortTest, PassMergedIntoOneWakeUpIsDeliveredEdgeByEdge)
{
    openWithBarrier();
    server.blip(0x20);
    const qint64 sentNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              server.lastChange().mono.time_since_epoch())
                              .count();
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(calls, (QStringList{"DSR:20", "DSR:0"}));
    EXPECT_EQ(stamps[0], stamps[1]);
    EXPECT_GE(stamps[0], sentNs);
    EXPECT_EQ(port.ModemStatus(), 0u);
}

TEST_F(SimPortTest, ContactsShowOnlyOnDrivenLines)
{
    // DTR off, RTS under handshake: only the pairs on pin 7 reach an input. The changes
    // arrive in order, so a wrong event would come before the expected one.
    port.setEnableDTR(false);
    openWithBarrier();
    server.closeContact(0x20);
    server.closeContact(0x80);
    server.closeContact(0x10);
    ASSERT_TRUE(waitForCalls(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, QStringList{"CTS:10"});

    // DTR on, no handshake (RTS held off): only the pairs on pin 4.
    port.Close();
    server.shutdown();
    calls.clear();
    port.setEnableDTR(true);
    port.setFlowControl(fcNone);
    openWithBarrier();
    EXPECT_EQ(port.ModemStatus(), 0xA0u); // 4+6 and 1+4 are still closed
    server.setContacts(0x50);             // 7+8 and 7+9 close as 4+6 and 1+4 open
    server.setContacts(0x70);
    ASSERT_TRUE(waitForCalls(3));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, (QStringList{"DSR:0", "RLSD:0", "DSR:20"}));
}

TEST_F(SimPortTest, ContactClosedBeforeOpeningGivesNoEventUntilItChanges)
{
    QString error;
    server.closeContact(0x20); // remembered and sent as the greeting
    openWithBarrier();
    EXPECT_EQ(port.ModemStatus(), 0x20u);
    server.openContact(0x20);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(calls, QStringList{"DSR:0"});
}

TEST_F(SimPortTest, SecondProgramIsToldBusy)
{
    openWithBarrier();
    SimSerialDevice second(socket);
    QString error;
    bool ok = true;
    std::thread t([&] { ok = second.open(error); });
    pollfd pfd{server.listenFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    server.acceptPending();
    t.join();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.startsWith(errText(EBUSY))) << error.toStdString();
    // The first program is still served.
    server.closeContact(0x10);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(calls, QStringList{"CTS:10"});
}

TEST_F(SimPortTest, NoListeningBarrierRaisesHandleErrorWithReason)
{
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComHandle &e) {
        EXPECT_EQ(e.Message, "Unable to open com port: " + errText(ENOENT) + " (an " + socket +
                                 " wartet kein barrier-sim)");
    }
    EXPECT_FALSE(port.Connected());

    // A socket file left behind by an ended barrier-sim.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket.toLocal8Bit().constData(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::close(fd);
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComHandle &e) {
        EXPECT_TRUE(e.Message.startsWith("Unable to open com port: " + errText(ECONNREFUSED)))
            << e.what();
    }
    EXPECT_FALSE(port.Connected());
}

TEST(SimBarrierLines, ContactsLineRoundTripAndRejects)
{
    quint32 c = 0;
    EXPECT_EQ(SimBarrier::contactsLine(0x20), "contacts 0x20\n");
    EXPECT_TRUE(SimBarrier::parseContactsLine("contacts 0xf0", c));
    EXPECT_EQ(c, 0xF0u);
    EXPECT_TRUE(SimBarrier::parseContactsLine("contacts 0x123", c));
    EXPECT_EQ(c, 0x20u); // only the four input bits
    EXPECT_FALSE(SimBarrier::parseContactsLine("busy", c));
    EXPECT_FALSE(SimBarrier::parseContactsLine("contacts x", c));
    EXPECT_FALSE(SimBarrier::parseContactsLine("", c));

    EXPECT_EQ(SimBarrier::statusForContacts(0xF0, true, true), 0xF0u);
    EXPECT_EQ(SimBarrier::statusForContacts(0xF0, true, false), 0xA0u);
    EXPECT_EQ(SimBarrier::statusForContacts(0xF0, false, true), 0x50u);
    EXPECT_EQ(SimBarrier::statusForContacts(0xF0, false, false), 0u);

    EXPECT_TRUE(SimBarrier::isSimPath("sim:/tmp/x"));
    EXPECT_FALSE(SimBarrier::isSimPath("/dev/ttyS0"));
    EXPECT_EQ(SimBarrier::socketPath("sim:/tmp/x"), "/tmp/x");
}

TEST(SimBarrierLines, ListenRefusesToReplaceAnOrdinaryFile)
{
    QTemporaryDir dir;
    QFile f(dir.filePath("keep"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("data");
    f.close();
    SimBarrierServer server;
    QString error;
    EXPECT_FALSE(server.listen(f.fileName(), error));
    EXPECT_EQ(error, errText(EEXIST));
    EXPECT_EQ(QFileInfo(f.fileName()).size(), 4);
}

// Starting a process from a threaded program confuses the thread sanitizer's view of
// the parent's later locking (false reports); the tool tests run in the normal build.
bool spawningUnsupported()
{
#if defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

QString toolPath()
{
    QString bin = qEnvironmentVariable("TORNELO_BIN_DIR");
    if (bin.isEmpty())
        bin = QCoreApplication::applicationDirPath() + "/../bin";
    return QDir(bin).filePath("barrier-sim");
}

// The command-line barrier drives the real port: one pass on "4+6", each change logged
// with the wall-clock time it was sent, which the port's stamps follow.
TEST_F(SimPortTest, BarrierSimToolMakesAPassAndLogsItsTimes)
{
    if (spawningUnsupported())
        GTEST_SKIP() << "not under the thread sanitizer";
    if (!QFileInfo::exists(toolPath()))
        GTEST_SKIP() << "barrier-sim not built";
    QList<TimeStamp> stamped;
    port.OnDSR = [&](QObject *) {
        calls << QStringLiteral("DSR:%1").arg(port.EventStatus(), 0, 16);
        stamped << port.EventStamp();
    };
    const QString log = dir.filePath("changes.log");
    QProcess sim;
    sim.start(toolPath(), {socket, "--once", "--log", log, "pass", "4+6", "30"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    // The socket file appears before the tool listens on it; its own word is the sign.
    QByteArray out;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            out += sim.readAllStandardOutput();
            return out.contains("listening on");
        },
        10000));
    port.Open();
    // The tool ends after its pass (--once): the port learns of it as of a pulled adapter.
    if (sim.state() != QProcess::NotRunning) {
        ASSERT_TRUE(sim.waitForFinished(10000));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.Connected(); }, 10000));
    EXPECT_EQ(calls, (QStringList{"DSR:20", "DSR:0", "Close"}));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    out += sim.readAllStandardOutput();
    EXPECT_TRUE(out.contains("program connected"));

    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3) << lines.join('|').toStdString(); // two lines and the end
    const QRegularExpression form(
        QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d{6}) (0x[0-9a-f]{2})$"));
    const char *contacts[] = {"0x20", "0x00"};
    for (int i = 0; i < 2; ++i) {
        const QRegularExpressionMatch m = form.match(QString::fromLatin1(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(5), contacts[i]);
        // Printed on standard output too.
        EXPECT_TRUE(out.contains(lines[i].left(15))) << lines[i].toStdString();
        const qint64 sentUs = ((m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 60 +
                               m.captured(3).toLongLong()) *
                                  1'000'000 +
                              m.captured(4).toLongLong();
        const TimeOfDay &t = stamped[i].timeOfDay;
        const qint64 stampUs =
            (((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond) * 1000;
        // The stamp follows the send (it has only milliseconds); generous for loaded
        // machines.
        EXPECT_GE(stampUs, sentUs / 1000 * 1000) << lines[i].toStdString();
        EXPECT_LT(stampUs - sentUs, 1'000'000) << lines[i].toStdString();
    }
}

TEST(BarrierSimTool, RejectsBadCommandsBeforeListening)
{
    if (spawningUnsupported())
        GTEST_SKIP() << "not under the thread sanitizer";
    if (!QFileInfo::exists(toolPath()))
        GTEST_SKIP() << "barrier-sim not built";
    QTemporaryDir dir;
    const QString sock = dir.filePath("s");
    for (const QStringList &args :
         {QStringList{sock, "pass", "5+6", "30"}, QStringList{sock, "repeat", "4+6", "300", "200"},
          QStringList{sock, "jump"}, QStringList{}}) {
        QProcess sim;
        sim.start(toolPath(), args);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 2) << args.join(' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(sock));
    }
}

} // namespace
