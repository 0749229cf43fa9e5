#include "serial/SerialDevice.h"
#include "platform/AppInfo.h"
#include "serial/LinuxSerialDevice.h"
#include "serial/SimBarrier.h"
#include "serial/SimSerialDevice.h"

#include <QSettings>

#include <cerrno>

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

bool isDeviceGone(int err)
{
    return err == EIO || err == ENODEV || err == ENXIO;
}

namespace {

struct Input
{
    quint32 statusBit;
    quint32 eventBit;
    int LineCounters::*counter;
};

constexpr Input inputs[] = {
    {MS_CTS_ON, EV_CTS, &LineCounters::cts},
    {MS_DSR_ON, EV_DSR, &LineCounters::dsr},
    {MS_RING_ON, EV_RING, &LineCounters::rng},
    {MS_RLSD_ON, EV_RLSD, &LineCounters::dcd},
};

constexpr qint64 maxTogglesPerReading = 1 << 15;

} // namespace

void appendEdges(std::vector<SerialEvent> &out, quint32 beforeStatus,
                 const LineCounters &beforeCounters, quint32 afterStatus,
                 const LineCounters &afterCounters, quint32 waitMask, const TimeStamp &stamp)
{
    // How often each watched input changed: at least what the status words show, more
    // where the counter says so, and always a number that ends in the state shown now
    // (some drivers count only one edge of an input, the ring indicator's falling one).
    qint64 toggles[4] = {};
    qint64 rounds = 0;
    quint32 watched = 0;
    for (int i = 0; i < 4; ++i) {
        const Input &in = inputs[i];
        if (!(waitMask & in.eventBit))
            continue;
        watched |= in.statusBit;
        const qint64 shown = ((beforeStatus ^ afterStatus) & in.statusBit) ? 1 : 0;
        // A counter that went backwards (a driver reset it) says nothing more.
        qint64 counted = qint64(afterCounters.*in.counter) - qint64(beforeCounters.*in.counter);
        if (counted < shown)
            counted = shown;
        // More than the event queue can hold only comes from a broken counter.
        counted = qMin(counted, maxTogglesPerReading);
        if ((counted & 1) != shown)
            ++counted;
        toggles[i] = counted;
        rounds = qMax(rounds, counted);
    }

    // Inputs that are not watched show their present state from the start.
    quint32 status = (beforeStatus & watched) | (afterStatus & ~watched);
    for (qint64 r = 0; r < rounds; ++r) {
        SerialEvent e;
        for (int i = 0; i < 4; ++i) {
            if (toggles[i] > r) {
                status ^= inputs[i].statusBit;
                e.events |= inputs[i].eventBit;
            }
        }
        e.status = status;
        e.stamp = stamp;
        out.push_back(e);
    }
}

LineCounters countersAfterChange(LineCounters counters, quint32 before, quint32 after)
{
    for (const Input &in : inputs)
        if ((before ^ after) & in.statusBit)
            ++(counters.*in.counter);
    return counters;
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
