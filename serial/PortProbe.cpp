#include "serial/PortProbe.h"
#include "serial/SerialDevice.h"
#include "serial/SimBarrier.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

bool isSerialPortPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (SimBarrier::isSimPath(path)) {
        struct stat st;
        const QByteArray socket = SimBarrier::socketPath(path).toLocal8Bit();
        return !socket.isEmpty() && ::stat(socket.constData(), &st) == 0 && S_ISSOCK(st.st_mode);
    }
    const QByteArray p = path.toLocal8Bit();
    const int fd = ::open(p.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    int lines = 0;
    // flock refuses a port another program holds (also for root, whom TIOCEXCL lets in).
    const bool found = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
                       ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCMGET, &lines) == 0;
    ::close(fd);
    return found;
}

quint32 probePorts(const std::function<QString(int)> &pathForPort,
                   const std::function<bool(const QString &)> &isPort)
{
    quint32 set = 0;
    for (int n = firstProbedPort; n <= lastProbedPort; ++n) {
        if (isPort(pathForPort(n)))
            set = (set & 0xFFFFu) | (1u << (n - 1)) | (quint32(n) << 16);
    }
    return set;
}

quint32 probePorts()
{
    return probePorts(devicePathForPort);
}

bool portInSet(quint32 portSet, int port)
{
    return port >= firstProbedPort && port <= lastProbedPort && (portSet & (1u << (port - 1)));
}

int highestPort(quint32 portSet)
{
    return int(portSet >> 16);
}

QStringList portListEntries(quint32 portSet)
{
    QStringList entries;
    const int highest = qMin(highestPort(portSet), lastProbedPort);
    for (int n = firstProbedPort; n <= highest; ++n)
        if (portInSet(portSet, n))
            entries << QStringLiteral("COM%1").arg(n);
    return entries;
}

QString pinPairText(quint32 status)
{
    switch (status & 0xF0) {
    case 0x10:
        return QStringLiteral("7+8");
    case 0x20:
        return QStringLiteral("4+6");
    case 0x40:
        return QStringLiteral("7+9");
    case 0x80:
        return QStringLiteral("1+4");
    default:
        return QString();
    }
}

quint32 pinPairBit(const QString &text)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char('-'), QLatin1Char('+'));
    for (quint32 bit : {0x10u, 0x20u, 0x40u, 0x80u}) {
        const QString pair = pinPairText(bit);
        if (t == pair || t == pair.section(QLatin1Char('+'), 1) + QLatin1Char('+') +
                                  pair.section(QLatin1Char('+'), 0, 0))
            return bit;
    }
    return 0;
}
