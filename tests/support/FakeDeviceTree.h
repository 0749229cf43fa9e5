#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

// A folder laid out as the system's /sys and /dev are for serial ports, for port discovery
// to read instead of the machine's: a USB adapter is a USB device folder with maker and
// product, an interface, the tty with its class link and device link, the device node and
// its /dev/serial/by-id link, all linked relatively as the kernel and udev do.
class FakeDeviceTree
{
public:
    FakeDeviceTree()
    {
        QDir().mkpath(at(QStringLiteral("/dev")));
        QDir().mkpath(at(QStringLiteral("/sys/class/tty")));
    }
    QString root() const { return m_dir.path(); }
    QString at(const QString &systemPath) const { return m_dir.path() + systemPath; }

    // An adapter plugged into USB port usbPort ("1-2") that became tty ("ttyUSB0"); an ACM
    // device's tty hangs from the interface, a usb-serial one's from a port below it.
    void plugUsb(const QString &tty, const QString &usbPort, const QString &maker,
                 const QString &product, const QString &serial)
    {
        const QString usb = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/") + usbPort;
        const QString iface = usb + QLatin1Char('/') + usbPort + QStringLiteral(":1.0");
        const bool acm = tty.startsWith(QLatin1String("ttyACM"));
        const QString device = acm ? iface : iface + QLatin1Char('/') + tty;
        write(usb + QStringLiteral("/idVendor"), QStringLiteral("0403\n"));
        write(usb + QStringLiteral("/manufacturer"), maker + QLatin1Char('\n'));
        write(usb + QStringLiteral("/product"), product + QLatin1Char('\n'));
        write(iface + QStringLiteral("/bInterfaceNumber"), QStringLiteral("00\n"));
        addTty(tty, device);
        QString id = QStringLiteral("usb-") + maker + QLatin1Char('_') + product +
                     QLatin1Char('_') + serial + QStringLiteral("-if00") +
                     (acm ? QString() : QStringLiteral("-port0"));
        id.replace(QLatin1Char(' '), QLatin1Char('_'));
        QDir().mkpath(at(QStringLiteral("/dev/serial/by-id")));
        const QString link = at(QStringLiteral("/dev/serial/by-id/") + id);
        QFile::remove(link);
        link_(QStringLiteral("../../") + tty, link);
    }
    // A port on the board ("ttyS0"), without USB and without a by-id name.
    void addOnBoard(const QString &tty)
    {
        addTty(tty, QStringLiteral("/sys/devices/platform/serial8250"));
    }
    // Pulled: the tty's sysfs entries, its node and its by-id links go.
    void unplug(const QString &tty)
    {
        QFile::remove(at(QStringLiteral("/sys/class/tty/") + tty));
        QFile::remove(at(QStringLiteral("/dev/") + tty));
        QDir byId(at(QStringLiteral("/dev/serial/by-id")));
        for (const QString &name :
             byId.entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(byId.filePath(name));
            if (target.isEmpty() || target.endsWith(QLatin1Char('/') + tty))
                QFile::remove(byId.filePath(name));
        }
    }
    // The by-id name of the adapter whose node is tty, in the system's terms; empty if none.
    QString byIdOf(const QString &tty) const
    {
        QDir byId(at(QStringLiteral("/dev/serial/by-id")));
        for (const QString &name :
             byId.entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot))
            if (QFileInfo(byId.filePath(name)).canonicalFilePath() ==
                QFileInfo(at(QStringLiteral("/dev/") + tty)).canonicalFilePath())
                return QStringLiteral("/dev/serial/by-id/") + name;
        return QString();
    }

private:
    void addTty(const QString &tty, const QString &device)
    {
        // The tty's own folder below its device, with the link back up to it.
        const QString own = device + QStringLiteral("/tty/") + tty;
        QDir().mkpath(at(own));
        link_(QStringLiteral("../../../") + QFileInfo(device).fileName(),
              at(own + QStringLiteral("/device")));
        QDir().mkpath(at(QStringLiteral("/sys/class/tty")));
        const QString classLink = at(QStringLiteral("/sys/class/tty/") + tty);
        QFile::remove(classLink);
        link_(QStringLiteral("../../..") + own, classLink);
        // The node: a plain file unless a test put a listening barrier there already.
        QDir().mkpath(at(QStringLiteral("/dev")));
        const QString node = at(QStringLiteral("/dev/") + tty);
        if (!QFileInfo::exists(node))
            write(QStringLiteral("/dev/") + tty, QString());
    }
    void write(const QString &systemPath, const QString &text)
    {
        QDir().mkpath(QFileInfo(at(systemPath)).path());
        QFile f(at(systemPath));
        if (f.open(QIODevice::WriteOnly))
            f.write(text.toUtf8());
    }
    static void link_(const QString &target, const QString &link)
    {
        [[maybe_unused]] const int rc =
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData());
    }

    QTemporaryDir m_dir;
};
