#include "serial/SimBarrier.h"
#include "platform/SystemError.h"
#include "serial/SerialDevice.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

bool SimBarrier::isSimPath(const QString &devicePath)
{
    return devicePath.startsWith(QLatin1String(pathPrefix));
}

QString SimBarrier::socketPath(const QString &devicePath)
{
    return devicePath.mid(int(sizeof(pathPrefix)) - 1);
}

QByteArray SimBarrier::contactsLine(quint32 contacts)
{
    return "contacts 0x" + QByteArray::number(contacts & MS_ALL_LINES, 16) + '\n';
}

bool SimBarrier::parseContactsLine(const QByteArray &line, quint32 &contacts)
{
    return parseContactsLine(line.constData(), size_t(line.size()), contacts);
}

bool SimBarrier::parseContactsLine(const char *line, size_t length, quint32 &contacts)
{
    static const char prefix[] = "contacts ";
    const size_t prefixLength = sizeof prefix - 1;
    char number[32];
    if (length <= prefixLength || std::memcmp(line, prefix, prefixLength) != 0)
        return false;
    // The number, without surrounding blanks, as a terminated copy for strtoul.
    size_t from = prefixLength, to = length;
    while (from < to && std::isspace(static_cast<unsigned char>(line[from])))
        ++from;
    while (to > from && std::isspace(static_cast<unsigned char>(line[to - 1])))
        --to;
    if (from == to || to - from >= sizeof number)
        return false;
    std::memcpy(number, line + from, to - from);
    number[to - from] = '\0';
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(number, &end, 0);
    if (errno != 0 || *end != '\0' || number[0] == '-' || number[0] == '+' || v > 0xFFFFFFFFull)
        return false;
    contacts = quint32(v) & MS_ALL_LINES;
    return true;
}

quint32 SimBarrier::statusForContacts(quint32 contacts, bool dtr, bool rts)
{
    quint32 s = 0;
    if (dtr)
        s |= contacts & (MS_DSR_ON | MS_RLSD_ON);
    if (rts)
        s |= contacts & (MS_CTS_ON | MS_RING_ON);
    return s;
}

QByteArray SimBarrier::wallClockText(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto us = duration_cast<microseconds>(t.time_since_epoch()).count();
    const std::time_t secs = std::time_t(us / 1'000'000);
    std::tm local{};
    localtime_r(&secs, &local);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long long>(us % 1'000'000));
    return QByteArray(buf);
}

SimBarrierServer::~SimBarrierServer()
{
    shutdown();
}

bool SimBarrierServer::listen(const QString &path, QString &error)
{
    shutdown();
    const QByteArray p = path.toLocal8Bit();
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (p.isEmpty() || size_t(p.size()) >= sizeof addr.sun_path) {
        error = SystemError::text(ENAMETOOLONG);
        return false;
    }
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));

    struct stat st;
    if (::lstat(p.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = SystemError::text(EEXIST);
            return false;
        }
        ::unlink(p.constData());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0 ||
        ::listen(fd, 4) < 0) {
        error = SystemError::text(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_listenFd = fd;
    m_path = path;
    return true;
}

void SimBarrierServer::acceptPending()
{
    if (m_listenFd < 0)
        return;
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    if (m_clientFd >= 0) {
        static const char busy[] = "busy\n";
        ::send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL);
        ::close(fd);
        return;
    }
    m_clientFd = fd;
    const QByteArray greeting = SimBarrier::contactsLine(m_contacts);
    if (::send(fd, greeting.constData(), size_t(greeting.size()), MSG_NOSIGNAL) < 0)
        dropClient();
}

bool SimBarrierServer::waitForClient(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!hasClient() && m_listenFd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, int(left)) > 0)
            acceptPending();
    }
    return hasClient();
}

void SimBarrierServer::serviceClient()
{
    if (m_clientFd < 0)
        return;
    char buf[256];
    const ssize_t n = ::recv(m_clientFd, buf, sizeof buf, MSG_DONTWAIT);
    // The program sends nothing; end of stream or an error means it went away.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        dropClient();
}

void SimBarrierServer::setContacts(quint32 contacts)
{
    m_contacts = contacts & MS_ALL_LINES;
    send(SimBarrier::contactsLine(m_contacts));
}

void SimBarrierServer::blip(quint32 pairBit)
{
    const quint32 closed = (m_contacts | pairBit) & MS_ALL_LINES;
    m_contacts &= ~pairBit;
    send(SimBarrier::contactsLine(closed) + SimBarrier::contactsLine(m_contacts));
}

void SimBarrierServer::send(const QByteArray &message)
{
    m_lastChange.mono = std::chrono::steady_clock::now();
    m_lastChange.wall = std::chrono::system_clock::now();
    if (m_clientFd < 0)
        return;
    if (::send(m_clientFd, message.constData(), size_t(message.size()), MSG_NOSIGNAL) < 0)
        dropClient();
}

void SimBarrierServer::dropClient()
{
    if (m_clientFd >= 0)
        ::close(m_clientFd);
    m_clientFd = -1;
}

void SimBarrierServer::shutdown()
{
    dropClient();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        ::unlink(m_path.toLocal8Bit().constData());
    }
}
