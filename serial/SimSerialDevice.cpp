#include "serial/SimSerialDevice.h"

#include "platform/SystemError.h"
#include "serial/SimBarrier.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QString systemText(int err)
{
    return SystemError::text(err);
}
} // namespace

SimSerialDevice::SimSerialDevice(QString socketPath) : m_socketPath(std::move(socketPath))
{
    // The stop wake-up: stays readable once written, so a wake before the wait counts.
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SimSerialDevice::~SimSerialDevice()
{
    close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool SimSerialDevice::open(QString &error)
{
    close();
    const QByteArray p = m_socketPath.toLocal8Bit();
    const QString where = QStringLiteral(" (an %1 wartet kein barrier-sim)").arg(m_socketPath);
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (p.isEmpty() || size_t(p.size()) >= sizeof addr.sun_path) {
        error = systemText(p.isEmpty() ? ENOENT : ENAMETOOLONG) + where;
        return false;
    }
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = systemText(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        const int err = errno;
        ::close(fd);
        error = systemText(err) + where;
        return false;
    }

    // The barrier greets with its contacts, or says it already serves another program.
    m_fd = fd;
    m_length = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(greetingTimeoutMs);
    quint32 contacts = 0;
    int parsed = -1;
    while ((parsed = takeLine(contacts)) < 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd pfd{m_fd, POLLIN, 0};
        int r = left > 0 ? ::poll(&pfd, 1, int(left)) : 0;
        if (r < 0 && errno == EINTR)
            continue;
        const ssize_t n = r > 0 ? receive() : -1;
        if (n <= 0) {
            const int err = r == 0 ? ETIMEDOUT : (n == 0 ? ECONNRESET : errno);
            close();
            error = systemText(err) +
                    QStringLiteral(" (barrier-sim an %1 hat nicht geantwortet)").arg(m_socketPath);
            return false;
        }
    }
    if (parsed == 0) {
        close();
        error = systemText(EBUSY) +
                QStringLiteral(" (barrier-sim an %1 bedient schon ein anderes Programm)")
                    .arg(m_socketPath);
        return false;
    }
    m_contacts = contacts;
    m_status.store(0);
    // Drain wake-ups left from an earlier worker.
    eventfd_t ignored;
    ::eventfd_read(m_wakeFd, &ignored);
    return true;
}

bool SimSerialDevice::configure(const SerialLineSettings &settings, QString &error)
{
    if (m_fd < 0) {
        error = systemText(EBADF);
        return false;
    }
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8) {
        error = systemText(EINVAL);
        return false;
    }
    m_dtr = settings.enableDTR;
    m_rts = settings.flow == SerialLineSettings::FlowRtsCts;
    m_status.store(SimBarrier::statusForContacts(m_contacts, m_dtr, m_rts));
    m_reportedStatus = m_status.load();
    m_reportedCounters = m_counters;
    return true;
}

ssize_t SimSerialDevice::receive()
{
    // A line longer than the buffer is no line of the barrier's: it is dropped.
    if (m_length == sizeof m_buffer)
        m_length = 0;
    const ssize_t n = ::recv(m_fd, m_buffer + m_length, sizeof m_buffer - m_length, MSG_DONTWAIT);
    if (n > 0)
        m_length += size_t(n);
    return n;
}

int SimSerialDevice::takeLine(quint32 &contacts)
{
    const char *nl = static_cast<const char *>(std::memchr(m_buffer, '\n', m_length));
    if (!nl)
        return -1;
    const size_t length = size_t(nl - m_buffer);
    const bool ok = SimBarrier::parseContactsLine(m_buffer, length, contacts);
    m_length -= length + 1;
    std::memmove(m_buffer, nl + 1, m_length);
    return ok ? 1 : 0;
}

void SimSerialDevice::takeLines()
{
    quint32 contacts = 0;
    int parsed;
    while ((parsed = takeLine(contacts)) >= 0) {
        if (parsed == 0)
            continue;
        const quint32 before = m_status.load();
        const quint32 after = SimBarrier::statusForContacts(contacts, m_dtr, m_rts);
        m_contacts = contacts;
        m_counters = countersAfterChange(m_counters, before, after);
        m_status.store(after);
    }
}

ISerialDevice::WaitResult SimSerialDevice::waitEvent(quint32 waitMask, const IStampClock &clock,
                                                     SerialWait &out)
{
    // Lines that came with an earlier read (the greeting's) count from now.
    TimeStamp stamp = clock.stamp();
    for (;;) {
        takeLines();
        if (!(m_counters == m_reportedCounters)) {
            appendEdges(out.events, m_reportedStatus, m_reportedCounters, m_status.load(),
                        m_counters, waitMask, stamp);
            m_reportedStatus = m_status.load();
            m_reportedCounters = m_counters;
            if (!out.events.empty())
                return WaitResult::Events;
        }
        pollfd pfd[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, POLLIN, 0}};
        const int r = ::poll(pfd, 2, -1);
        // The time of the change, before anything else.
        stamp = clock.stamp();
        if (r < 0) {
            if (errno == EINTR)
                continue;
            out.error = errno;
            return WaitResult::Failed;
        }
        if (pfd[0].revents & POLLIN)
            return WaitResult::Interrupted;
        const ssize_t n = receive();
        if (n == 0) {
            // The barrier went away, like a pulled adapter; the socket's end has no error
            // of its own, the peer's hang-up is the closest.
            out.error = ECONNRESET;
            return WaitResult::Failed;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            out.error = errno;
            return WaitResult::Failed;
        }
    }
}

void SimSerialDevice::interrupt()
{
    if (m_wakeFd >= 0)
        ::eventfd_write(m_wakeFd, 1);
}

quint32 SimSerialDevice::modemStatus()
{
    return m_fd >= 0 ? m_status.load() : 0;
}

void SimSerialDevice::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
