#include "serial/LinuxSerialDevice.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemText(int err)
{
    return SystemError::text(err);
}

// Standard rates and their termios constants; every other rate goes through termios2.
speed_t standardSpeed(quint32 rate)
{
    switch (rate) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

// Poll interval for drivers that cannot wait on the modem lines.
constexpr long pollIntervalNs = 2'000'000;

ISerialDevice::WaitResult failed(int err, SerialWait &out)
{
    out.error = err;
    return ISerialDevice::WaitResult::Failed;
}

} // namespace

quint32 modemStatusFromLines(int lines)
{
    quint32 s = 0;
    if (lines & TIOCM_CTS)
        s |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        s |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        s |= MS_RING_ON;
    if (lines & TIOCM_CD)
        s |= MS_RLSD_ON;
    return s;
}

int linesForWaitMask(quint32 waitMask)
{
    int lines = 0;
    if (waitMask & EV_CTS)
        lines |= TIOCM_CTS;
    if (waitMask & EV_DSR)
        lines |= TIOCM_DSR;
    if (waitMask & EV_RING)
        lines |= TIOCM_RNG;
    if (waitMask & EV_RLSD)
        lines |= TIOCM_CD;
    return lines;
}

int termiosForLine(termios &t, const SerialLineSettings &s)
{
    if (s.baudRate == 0 || s.dataBits < 5 || s.dataBits > 8)
        return EINVAL;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.dataBits - 5];
    switch (s.parity) {
    case SerialLineSettings::ParityNone:
        break;
    case SerialLineSettings::ParityOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case SerialLineSettings::ParityEven:
        t.c_cflag |= PARENB;
        break;
    case SerialLineSettings::ParityMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SerialLineSettings::ParitySpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // A UART sends 1.5 stop bits for 5-bit characters when asked for two.
    if (s.stopBits != SerialLineSettings::StopOne)
        t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.flow == SerialLineSettings::FlowRtsCts)
        t.c_cflag |= CRTSCTS;
    else if (s.flow == SerialLineSettings::FlowXonXoff)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    // Reads return at once with what is there.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = standardSpeed(s.baudRate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    return 0;
}

int applyTermios(int fd, const SerialLineSettings &s)
{
    termios t;
    if (tcgetattr(fd, &t) < 0)
        return errno;
    if (const int err = termiosForLine(t, s))
        return err;
    if (tcsetattr(fd, TCSANOW, &t) < 0)
        return errno;
    // Rates without a termios constant are set afterwards through termios2.
    if (standardSpeed(s.baudRate) == B0)
        return setCustomBaudRate(fd, s.baudRate);
    return 0;
}

namespace {

class KernelModemLineOps : public ModemLineOps
{
public:
    explicit KernelModemLineOps(int fd) : m_fd(fd) {}
    int counters(LineCounters &c) override
    {
        serial_icounter_struct ic;
        std::memset(&ic, 0, sizeof ic);
        if (ioctl(m_fd, TIOCGICOUNT, &ic) < 0)
            return errno;
        c = LineCounters{ic.cts, ic.dsr, ic.rng, ic.dcd};
        return 0;
    }
    int lines(int &tiocm) override { return ioctl(m_fd, TIOCMGET, &tiocm) < 0 ? errno : 0; }
    int setLines(int tiocm, bool on) override
    {
        return ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &tiocm) < 0 ? errno : 0;
    }
    int waitChange(int tiocm) override { return ioctl(m_fd, TIOCMIWAIT, tiocm) < 0 ? errno : 0; }
    void pause() override
    {
        timespec ts{0, pollIntervalNs};
        nanosleep(&ts, nullptr);
    }

private:
    int m_fd;
};

} // namespace

std::unique_ptr<ModemLineOps> kernelModemLineOps(int fd)
{
    return std::make_unique<KernelModemLineOps>(fd);
}

LinuxSerialDevice::LinuxSerialDevice(QString path, ModemLineOpsFactory ops)
    : m_path(std::move(path)), m_opsFactory(std::move(ops))
{}

LinuxSerialDevice::~LinuxSerialDevice()
{
    close();
}

bool LinuxSerialDevice::open(QString &error)
{
    close();
    const QByteArray p = m_path.toLocal8Bit();
    if (p.isEmpty()) {
        error = systemText(ENOENT);
        return false;
    }
    int fd = ::open(p.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemText(errno);
        return false;
    }
    // No sharing: TIOCEXCL keeps other users out, flock also keeps out root (which
    // TIOCEXCL does not) and refuses a second open within this process.
    if (ioctl(fd, TIOCEXCL) < 0 || flock(fd, LOCK_EX | LOCK_NB) < 0) {
        const int err = errno;
        ::close(fd);
        error = systemText(err);
        return false;
    }
    m_fd = fd;
    m_ops = m_opsFactory(fd);
    return true;
}

bool LinuxSerialDevice::configure(const SerialLineSettings &s, QString &error)
{
    if (m_fd < 0) {
        error = systemText(EBADF);
        return false;
    }
    int err = applyTermios(m_fd, s);
    // RTS is asserted only under hardware handshake; otherwise it is held off.
    if (err == 0)
        err = m_ops->setLines(TIOCM_DTR, s.enableDTR);
    if (err == 0)
        err = m_ops->setLines(TIOCM_RTS, s.flow == SerialLineSettings::FlowRtsCts);
    if (err == 0)
        err = m_ops->lines(m_lastLines);
    if (err != 0) {
        error = systemText(err);
        return false;
    }
    m_haveCounters = m_ops->counters(m_lastCounters) == 0;
    m_polling = false;
    return true;
}

int LinuxSerialDevice::readLines(LineCounters &counters, int &lines)
{
    // An edge between the two readings would be counted but not shown and later look like
    // a pulse; so the counters are read on both sides of the lines until they agree.
    for (int attempt = 0; attempt < 4; ++attempt) {
        LineCounters before;
        int err = m_ops->counters(before);
        if (err == 0)
            err = m_ops->lines(lines);
        if (err == 0)
            err = m_ops->counters(counters);
        if (err != 0)
            return err;
        if (before == counters)
            break;
    }
    return 0;
}

void LinuxSerialDevice::report(const LineCounters &counters, int lines, quint32 waitMask,
                               const TimeStamp &stamp, SerialWait &out)
{
    appendEdges(out.events, modemStatusFromLines(m_lastLines), m_lastCounters,
                modemStatusFromLines(lines), counters, waitMask, stamp);
    m_lastCounters = counters;
    m_lastLines = lines;
    m_sightings.clear();
}

ISerialDevice::WaitResult LinuxSerialDevice::waitEvent(quint32 waitMask, const IStampClock &clock,
                                                       SerialWait &out)
{
    if (m_waker.woken())
        return WaitResult::Interrupted;
    if (m_polling)
        return pollEvent(waitMask, clock, out);

    for (;;) {
        // Edges since the previous wait ended (or since the last tick) count too.
        LineCounters now;
        int lines = 0;
        if (m_haveCounters) {
            const int err = readLines(now, lines);
            if (isDeviceGone(err))
                return failed(err, out);
            if (err == 0 && !(now == m_lastCounters)) {
                report(now, lines, waitMask, clock.stamp(), out);
                if (!out.events.empty())
                    return WaitResult::Events;
            }
        }

        m_waker.enter(watchTickMs);
        int err = EINTR;
        if (!m_waker.woken())
            err = m_ops->waitChange(linesForWaitMask(waitMask));
        m_waker.leave();
        // The time of the change, before anything else.
        const TimeStamp stamp = clock.stamp();

        if (err == EINTR) {
            if (m_waker.woken())
                return WaitResult::Interrupted;
            const WaitResult seen = watch(waitMask, stamp, out);
            if (seen != WaitResult::Skipped)
                return seen;
            continue; // a tick (or a stray signal) with nothing to report
        }
        if (err != 0) {
            if (err == EINVAL || err == ENOTTY || err == ENOSYS || err == EOPNOTSUPP) {
                // The driver cannot wait on the lines: fall back to polling them.
                m_polling = true;
                return pollEvent(waitMask, clock, out);
            }
            return failed(err, out); // for example EIO: the adapter was pulled
        }

        const int readErr = m_haveCounters ? readLines(now, lines) : m_ops->lines(lines);
        if (readErr != 0)
            return isDeviceGone(readErr) ? failed(readErr, out) : WaitResult::Skipped;
        report(m_haveCounters ? now : m_lastCounters, lines, waitMask, stamp, out);
        return WaitResult::Events;
    }
}

ISerialDevice::WaitResult LinuxSerialDevice::watch(quint32 waitMask, const TimeStamp &stamp,
                                                   SerialWait &out)
{
    const quint32 watched = modemStatusFromLines(linesForWaitMask(waitMask));
    auto differ = [&](int a, int b) {
        return ((modemStatusFromLines(a) ^ modemStatusFromLines(b)) & watched) != 0;
    };
    // Something to report, or nothing (the wait goes on).
    auto reported = [&] { return out.events.empty() ? WaitResult::Skipped : WaitResult::Events; };
    int lines = 0;
    LineCounters now;
    const int err = m_haveCounters ? readLines(now, lines) : m_ops->lines(lines);
    if (err != 0)
        return isDeviceGone(err) ? failed(err, out) : WaitResult::Skipped;
    if (!m_haveCounters) {
        // Without counters the wait cannot be checked; a change seen is simply reported.
        if (!differ(lines, m_lastLines))
            return WaitResult::Skipped;
        report(m_lastCounters, lines, waitMask, stamp, out);
        return reported();
    }
    if (!(now == m_lastCounters)) {
        report(now, lines, waitMask, stamp, out);
        return reported();
    }
    // The lines show a change the counters do not (yet: some adapters deliver their
    // counters a few milliseconds after the lines show the change).
    if (differ(lines, m_sightings.empty() ? m_lastLines : m_sightings.back().lines))
        m_sightings.push_back({lines, stamp});
    if (m_sightings.empty() ||
        stamp.monotonicNs - m_sightings.front().stamp.monotonicNs < stuckAfterMs * 1'000'000)
        return WaitResult::Skipped;

    // The wait has not reported a change it should have: it never will. From now on the
    // lines are polled; what the ticks saw is reported with the ticks' stamps.
    m_polling = true;
    out.switchedToPolling = true;
    const std::vector<Sighting> seen = std::move(m_sightings);
    m_sightings.clear();
    for (const Sighting &s : seen) {
        appendEdges(out.events, modemStatusFromLines(m_lastLines), m_lastCounters,
                    modemStatusFromLines(s.lines), m_lastCounters, waitMask, s.stamp);
        m_lastLines = s.lines;
    }
    return WaitResult::Events;
}

ISerialDevice::WaitResult LinuxSerialDevice::pollEvent(quint32 waitMask, const IStampClock &clock,
                                                       SerialWait &out)
{
    for (;;) {
        if (m_waker.woken())
            return WaitResult::Interrupted;
        m_ops->pause();
        int lines = 0;
        if (const int err = m_ops->lines(lines))
            return failed(err, out);
        if (lines == m_lastLines)
            continue;
        report(m_lastCounters, lines, waitMask, clock.stamp(), out);
        if (!out.events.empty())
            return WaitResult::Events;
    }
}

void LinuxSerialDevice::interrupt()
{
    m_waker.wake();
}

quint32 LinuxSerialDevice::modemStatus()
{
    int lines = 0;
    if (m_fd < 0 || !m_ops || m_ops->lines(lines) != 0)
        return 0;
    return modemStatusFromLines(lines);
}

int LinuxSerialDevice::inQueue()
{
    int n = 0;
    if (m_fd < 0 || ioctl(m_fd, FIONREAD, &n) < 0)
        return 0;
    return n;
}

void LinuxSerialDevice::purge()
{
    if (m_fd >= 0)
        tcflush(m_fd, TCIFLUSH);
}

void LinuxSerialDevice::close()
{
    if (m_fd < 0)
        return;
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_ops.reset();
}
