#include "platform/AppInfo.h"
#include "platform/SystemError.h"
#include "serial/Comms.h"
#include "serial/LinuxSerialDevice.h"
#include "serial/SignalWaker.h"
#include "tests/support/TempSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

QString errText(int err)
{
    return SystemError::text(err);
}

// A pseudo-terminal: a terminal device without modem lines.
class Pty
{
public:
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slavePath = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    int master = -1;
    QString slavePath;
};

TComPort *portOnPath(TComPort &port, const QString &path)
{
    port.setDeviceFactory([path](quint8) { return createDeviceForPath(path); });
    return &port;
}

TEST(LinuxSerialPort, MissingDeviceRaisesHandleErrorWithSystemText)
{
    QTemporaryDir dir;
    TComPort port;
    bool opened = false;
    port.OnOpen = [&](QObject *) { opened = true; };
    portOnPath(port, dir.filePath("ttyNONE"));
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComHandle &e) {
        EXPECT_EQ(e.Message, "Unable to open com port: " + errText(ENOENT));
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(opened);
}

TEST(LinuxSerialPort, PseudoTerminalRefusesLineStateAndStaysClosed)
{
    Pty pty;
    ASSERT_FALSE(pty.slavePath.isEmpty());
    TComPort port;
    port.setFlowControl(fcRtsCts);
    port.setDataBits(5);
    bool opened = false;
    port.OnOpen = [&](QObject *) { opened = true; };
    portOnPath(port, pty.slavePath);
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComState &e) {
        EXPECT_EQ(e.Message, "Unable to set com state: " + errText(ENOTTY));
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(opened);
    EXPECT_EQ(port.ComThread(), nullptr);
    // The failed attempt released the device at once.
    LinuxSerialDevice again(pty.slavePath);
    QString error;
    EXPECT_TRUE(again.open(error)) << error.toStdString();
}

TEST(LinuxSerialPort, SecondExclusiveOpenFails)
{
    Pty pty;
    ASSERT_FALSE(pty.slavePath.isEmpty());
    LinuxSerialDevice first(pty.slavePath), second(pty.slavePath);
    QString error;
    ASSERT_TRUE(first.open(error)) << error.toStdString();
    EXPECT_FALSE(second.open(error));
    // Root passes TIOCEXCL and is stopped by the lock; anyone else by TIOCEXCL.
    EXPECT_TRUE(error == errText(EWOULDBLOCK) || error == errText(EBUSY)) << error.toStdString();
    first.close();
    EXPECT_TRUE(second.open(error)) << error.toStdString();
}

TEST(LinuxSerialPort, RegularFileIsNoPort)
{
    QTemporaryDir dir;
    QFile f(dir.filePath("plain"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    LinuxSerialDevice dev(f.fileName());
    QString error;
    EXPECT_FALSE(dev.open(error));
    EXPECT_EQ(error, errText(ENOTTY));
}

struct TermiosCase
{
    SerialLineSettings settings;
    tcflag_t cflagSet;   // bits that must be set
    tcflag_t cflagClear; // bits that must be clear
    tcflag_t iflagSet;
    tcflag_t iflagClear;
    quint32 rate;
};

SerialLineSettings line(quint32 rate, quint8 bits, SerialLineSettings::Parity p,
                        SerialLineSettings::StopBits s, SerialLineSettings::Flow f)
{
    SerialLineSettings ls;
    ls.baudRate = rate;
    ls.dataBits = bits;
    ls.parity = p;
    ls.stopBits = s;
    ls.flow = f;
    return ls;
}

class TermiosMapping : public ::testing::TestWithParam<TermiosCase>
{
};

TEST_P(TermiosMapping, FlagsFollowTheLineSettings)
{
    const TermiosCase &c = GetParam();
    termios t;
    std::memset(&t, 0xFF, sizeof t); // whatever the terminal had before
    ASSERT_EQ(termiosForLine(t, c.settings), 0);
    EXPECT_EQ(t.c_cflag & c.cflagSet, c.cflagSet);
    EXPECT_EQ(t.c_cflag & c.cflagClear, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, c.cflagSet & CSIZE);
    EXPECT_EQ(t.c_iflag & c.iflagSet, c.iflagSet);
    EXPECT_EQ(t.c_iflag & c.iflagClear, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

// On a terminal (size and parity aside, which a pseudo-terminal forces to 8N) the rest and the
// rate arrive, including rates that need termios2.
TEST_P(TermiosMapping, TerminalTakesSizeStopBitsFlowAndRate)
{
    Pty pty;
    const int fd = ::open(pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const TermiosCase &c = GetParam();
    ASSERT_EQ(applyTermios(fd, c.settings), 0);
    termios t;
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    const tcflag_t kept = CSTOPB | CRTSCTS;
    EXPECT_EQ(t.c_cflag & kept, c.cflagSet & kept);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflagSet & (IXON | IXOFF));
    quint32 rate = 0;
    EXPECT_EQ(readBaudRate(fd, rate), 0);
    EXPECT_EQ(rate, c.rate);
    ::close(fd);
}

using S = SerialLineSettings;
INSTANTIATE_TEST_SUITE_P(
    Lines, TermiosMapping,
    ::testing::Values(
        // The main window's port: 9600 bit/s, 5N1, hardware handshake.
        TermiosCase{line(9600, 5, S::ParityNone, S::StopOne, S::FlowRtsCts), CS5 | CRTSCTS | CREAD,
                    PARENB | CSTOPB, 0, IXON | IXOFF, 9600},
        TermiosCase{line(19200, 8, S::ParityEven, S::StopTwo, S::FlowNone), CS8 | PARENB | CSTOPB,
                    PARODD | CMSPAR | CRTSCTS, 0, IXON | IXOFF, 19200},
        TermiosCase{line(2400, 7, S::ParityOdd, S::StopOneAndHalf, S::FlowXonXoff),
                    CS7 | PARENB | PARODD | CSTOPB, CMSPAR | CRTSCTS, IXON | IXOFF, 0, 2400},
        TermiosCase{line(115200, 6, S::ParityMark, S::StopOne, S::FlowNone),
                    CS6 | PARENB | PARODD | CMSPAR, CSTOPB, 0, 0, 115200},
        TermiosCase{line(57600, 8, S::ParitySpace, S::StopOne, S::FlowNone), CS8 | PARENB | CMSPAR,
                    PARODD, 0, 0, 57600},
        // Rates without a termios constant.
        TermiosCase{line(14400, 8, S::ParityNone, S::StopOne, S::FlowNone), CS8, PARENB, 0, 0,
                    14400},
        TermiosCase{line(256000, 8, S::ParityNone, S::StopOne, S::FlowNone), CS8, PARENB, 0, 0,
                    256000},
        TermiosCase{line(28800, 8, S::ParityNone, S::StopOne, S::FlowNone), CS8, PARENB, 0, 0,
                    28800}));

TEST(LinuxSerialPort, ZeroRateIsRefused)
{
    Pty pty;
    const int fd = ::open(pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(applyTermios(fd, line(0, 8, S::ParityNone, S::StopOne, S::FlowNone)), EINVAL);
    ::close(fd);
}

// Edges between two readings: (events, status) in order.
struct EdgeCase
{
    const char *name;
    quint32 beforeStatus;
    LineCounters beforeCounters;
    quint32 afterStatus;
    LineCounters afterCounters;
    quint32 waitMask;
    std::vector<std::pair<quint32, quint32>> edges;
};

class EdgesBetweenReadings : public ::testing::TestWithParam<EdgeCase>
{
};

TEST_P(EdgesBetweenReadings, OneEventPerEdge)
{
    const EdgeCase &c = GetParam();
    TimeStamp stamp;
    stamp.monotonicNs = 1234;
    std::vector<SerialEvent> got;
    appendEdges(got, c.beforeStatus, c.beforeCounters, c.afterStatus, c.afterCounters, c.waitMask,
                stamp);
    std::vector<std::pair<quint32, quint32>> edges;
    for (const SerialEvent &e : got) {
        edges.emplace_back(e.events, e.status);
        EXPECT_EQ(e.stamp.monotonicNs, 1234);
    }
    EXPECT_EQ(edges, c.edges);
}

using E = std::vector<std::pair<quint32, quint32>>;
INSTANTIATE_TEST_SUITE_P(
    Table, EdgesBetweenReadings,
    ::testing::Values(
        EdgeCase{"nothing", 0x20, {1, 2, 3, 4}, 0x20, {1, 2, 3, 4}, 0x0138, E{}},
        EdgeCase{"closing", 0, {1, 2, 3, 4}, 0x20, {1, 3, 3, 4}, 0x0138, E{{EV_DSR, 0x20}}},
        // Counted and shown together: one set, as a single wait reports it.
        EdgeCase{
            "two at once", 0, {1, 2, 3, 4}, 0x30, {2, 3, 3, 4}, 0x0138, E{{EV_CTS | EV_DSR, 0x30}}},
        // Closed and opened between two readings: the status word shows nothing.
        EdgeCase{
            "short pass", 0, {1, 2, 3, 4}, 0, {1, 4, 3, 4}, 0x0138, E{{EV_DSR, 0x20}, {EV_DSR, 0}}},
        EdgeCase{"two passes",
                 0,
                 {0, 0, 0, 0},
                 0,
                 {0, 4, 0, 0},
                 0x0138,
                 E{{EV_DSR, 0x20}, {EV_DSR, 0}, {EV_DSR, 0x20}, {EV_DSR, 0}}},
        // Opened, closed, opened: ends open.
        EdgeCase{"odd count",
                 0x80,
                 {0, 0, 0, 0},
                 0,
                 {0, 0, 0, 3},
                 0x0138,
                 E{{EV_RLSD, 0}, {EV_RLSD, 0x80}, {EV_RLSD, 0}}},
        // A driver that counts only the falling edge of the ring indicator.
        EdgeCase{"ring pulse",
                 0,
                 {0, 0, 0, 0},
                 0,
                 {0, 0, 1, 0},
                 0x0138,
                 E{{EV_RING, 0x40}, {EV_RING, 0}}},
        EdgeCase{"ring rises uncounted",
                 0,
                 {0, 0, 0, 0},
                 0x40,
                 {0, 0, 0, 0},
                 0x0138,
                 E{{EV_RING, 0x40}}},
        // One input pulses while another changes once: they change together first.
        EdgeCase{"pulse and change",
                 0xA0,
                 {0, 0, 0, 0},
                 0x20,
                 {0, 2, 0, 1},
                 0x0138,
                 E{{EV_DSR | EV_RLSD, 0}, {EV_DSR, 0x20}}},
        // Unwatched inputs show their present state and cause no edge.
        EdgeCase{
            "outside the mask", 0, {0, 0, 0, 0}, 0x30, {2, 1, 0, 0}, EV_DSR, E{{EV_DSR, 0x30}}},
        // A counter that went backwards is not trusted.
        EdgeCase{"counter reset", 0, {5, 5, 5, 5}, 0x20, {0, 0, 0, 0}, 0x0138, E{{EV_DSR, 0x20}}}),
    [](const ::testing::TestParamInfo<EdgeCase> &i) {
        std::string n = i.param.name;
        for (char &ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(LinuxSerialLines, StatusWordsAndLinesGiveEvents)
{
    EXPECT_EQ(eventsFromStatusChange(0, 0x20, 0x1FF), EV_DSR);
    EXPECT_EQ(eventsFromStatusChange(0x20, 0, 0x1FF), EV_DSR);
    EXPECT_EQ(eventsFromStatusChange(0x10, 0xC0, 0x1FF), EV_CTS | EV_RING | EV_RLSD);
    EXPECT_EQ(eventsFromStatusChange(0x30, 0x30, 0x1FF), 0u);
    EXPECT_EQ(eventsFromStatusChange(0, 0xF0, EV_CTS), EV_CTS);

    EXPECT_EQ(modemStatusFromLines(TIOCM_CTS), 0x10u);
    EXPECT_EQ(modemStatusFromLines(TIOCM_DSR), 0x20u);
    EXPECT_EQ(modemStatusFromLines(TIOCM_RNG), 0x40u);
    EXPECT_EQ(modemStatusFromLines(TIOCM_CD), 0x80u);
    EXPECT_EQ(modemStatusFromLines(TIOCM_DTR | TIOCM_RTS | TIOCM_LE), 0u);

    EXPECT_EQ(linesForWaitMask(0x0138), TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD);
    EXPECT_EQ(linesForWaitMask(EV_RXCHAR | EV_ERR), 0);
}

// The wake-up that ends a blocked modem-line wait, shown on a blocking pipe read.
TEST(SignalWakerTest, WakesABlockedSystemCall)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    SignalWaker waker;
    std::atomic<bool> done{false};
    int result = 0, err = 0;
    std::thread t([&] {
        char c;
        waker.enter();
        if (!waker.woken()) {
            result = int(::read(fds[0], &c, 1));
            err = errno;
        }
        waker.leave();
        done = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        waker.wake();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    t.join();
    EXPECT_TRUE(done);
    if (result != 0) { // 0 would mean the wake came before the read, which is fine too
        EXPECT_EQ(result, -1);
        EXPECT_EQ(err, EINTR);
    }
    EXPECT_TRUE(waker.woken());
    ::close(fds[0]);
    ::close(fds[1]);
}

// The tick interrupts a blocked call again and again without waking it for good; after
// leave() it stops.
TEST(SignalWakerTest, TickInterruptsABlockedCall)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    SignalWaker waker;
    std::atomic<int> interrupted{0};
    std::atomic<bool> done{false};
    std::thread t([&] {
        char c;
        for (int i = 0; i < 3; ++i) {
            waker.enter(5);
            const ssize_t n = ::read(fds[0], &c, 1);
            const int err = errno;
            waker.leave();
            if (n < 0 && err == EINTR)
                ++interrupted;
        }
        done = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!done) { // without ticks the reads would block for good: end them
        ASSERT_EQ(::write(fds[1], "xxx", 3), 3);
    }
    t.join();
    EXPECT_EQ(interrupted.load(), 3);
    EXPECT_FALSE(waker.woken());
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(SignalWakerTest, WakeBeforeTheCallIsNotLost)
{
    SignalWaker waker;
    waker.wake(); // nobody inside yet: no signal, but the flag stays
    EXPECT_TRUE(waker.woken());
}

class DefaultPaths : public ::testing::TestWithParam<std::pair<int, const char *>>
{
};

TEST_P(DefaultPaths, PortNumberMapsToDevice)
{
    EXPECT_EQ(defaultDevicePath(GetParam().first), QString::fromLatin1(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Table, DefaultPaths,
                         ::testing::Values(std::pair{1, "/dev/ttyS0"}, std::pair{4, "/dev/ttyS3"},
                                           std::pair{5, "/dev/ttyUSB0"},
                                           std::pair{12, "/dev/ttyUSB7"},
                                           std::pair{13, "/dev/ttyACM0"},
                                           std::pair{16, "/dev/ttyACM3"}, std::pair{0, ""},
                                           std::pair{17, ""}, std::pair{255, ""}));

TEST(DevicePaths, PerUserOverrideReplacesDefault)
{
    TempSettings tmp("zeitnahme");
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quendra", "zeitnahme");
        store.setValue("Devices/COM5", "sim:/tmp/ls.sock");
        store.setValue("Devices/COM2", "/dev/ttyUSB3");
        store.setValue("Devices/COM3", "  ");
    }
    EXPECT_EQ(devicePathForPort(5), "sim:/tmp/ls.sock");
    EXPECT_EQ(devicePathForPort(2), "/dev/ttyUSB3");
    EXPECT_EQ(devicePathForPort(3), "/dev/ttyS2"); // blank counts as not set
    EXPECT_EQ(devicePathForPort(13), "/dev/ttyACM0");
}

} // namespace

namespace {

// Without modem lines neither the line wait nor the polling fallback can work: the wait
// must fail (ending the worker quietly) instead of blocking or spinning.
TEST(LinuxSerialWait, TerminalWithoutModemLinesFailsTheWait)
{
    Pty pty;
    LinuxSerialDevice dev(pty.slavePath);
    QString error;
    ASSERT_TRUE(dev.open(error)) << error.toStdString();
    SerialWait got;
    EXPECT_EQ(dev.waitEvent(0x0138, systemStampClock(), got), ISerialDevice::WaitResult::Failed);
    EXPECT_TRUE(got.events.empty());
    EXPECT_EQ(dev.modemStatus(), 0u);
    dev.interrupt();
    EXPECT_EQ(dev.waitEvent(0x0138, systemStampClock(), got),
              ISerialDevice::WaitResult::Interrupted);
}

} // namespace
