#include "serial/SerialDevice.h"
#include "platform/AppInfo.h"
#include "serial/LinuxSerialDevice.h"
#include "serial/SimBarrier.h"
#include "serial/SimSerialDevice.h"

#include <QSettings>

quint32 eventsFromStatusChange(quint32 before, quint32 after, quint32 waitMask)
{
    const quint32 changed = before ^ after;
    quint32 ev = 0;
    if (changed & MS_CTS_ON)
        ev |= EV_CTS;
    if (changed & MS_DSR_ON)
        ev |= EV_DSR;
    if (changed & MS_RING_ON)
        ev |= EV_RING;
    if (changed & MS_RLSD_ON)
        ev |= EV_RLSD;
    return ev & waitMask;
}

QString defaultDevicePath(int port)
{
    if (port >= 1 && port <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(port - 1);
    if (port >= 5 && port <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(port - 5);
    if (port >= 13 && port <= 16)
        return QStringLiteral("/dev/ttyACM%1").arg(port - 13);
    return QString();
}

QString devicePathForPort(int port)
{
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quendra"),
                          AppInfo::baseName());
    const QString key = QStringLiteral("Devices/COM%1").arg(port);
    const QString path = store.value(key).toString().trimmed();
    return path.isEmpty() ? defaultDevicePath(port) : path;
}

std::unique_ptr<ISerialDevice> createDeviceForPath(const QString &path)
{
    if (SimBarrier::isSimPath(path))
        return std::make_unique<SimSerialDevice>(SimBarrier::socketPath(path));
    return std::make_unique<LinuxSerialDevice>(path);
}

SerialDeviceFactory systemDeviceFactory()
{
    return [](quint8 port) { return createDeviceForPath(devicePathForPort(port)); };
}
