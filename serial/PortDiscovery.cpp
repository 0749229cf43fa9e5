#include "serial/PortDiscovery.h"

#include "serial/SimBarrier.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString byIdFolder = QStringLiteral("/dev/serial/by-id");

// A one-line attribute of sysfs (they are short; anything longer is not one).
QString attribute(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.read(256)).trimmed();
}
} // namespace

QString PortInfo::text() const
{
    if (simulated)
        return QStringLiteral("Simulierte Lichtschranke (%1)").arg(SimBarrier::socketPath(path)) +
               (node.isEmpty() ? QStringLiteral(" · nicht angeschlossen") : QString());
    if (node.isEmpty())
        return path + QStringLiteral(" · nicht angeschlossen");
    // Makers often repeat their name in the product ("FTDI" and "FT232R USB UART" but
    // "Prolific Technology Inc." and "Prolific USB-Serial Controller").
    QString adapter = product;
    if (adapter.isEmpty())
        adapter = maker;
    else if (!maker.isEmpty() && !product.startsWith(maker.section(QLatin1Char(' '), 0, 0)))
        adapter = maker + QLatin1Char(' ') + product;
    return adapter.isEmpty() ? node : node + QStringLiteral(" · ") + adapter;
}

PortDiscovery::PortDiscovery(QString root)
{
    const QString canonical = QFileInfo(root).canonicalFilePath();
    m_root = canonical.isEmpty() ? QDir::cleanPath(root) : canonical;
}

QString PortDiscovery::below(const QString &systemPath) const
{
    return m_root == QLatin1String("/") ? systemPath : m_root + systemPath;
}

QString PortDiscovery::above(const QString &rootedPath) const
{
    if (m_root == QLatin1String("/") || rootedPath.isEmpty())
        return rootedPath;
    return rootedPath.startsWith(m_root + QLatin1Char('/')) ? rootedPath.mid(m_root.size())
                                                            : QString();
}

QString PortDiscovery::node(const QString &path) const
{
    if (path.isEmpty() || SimBarrier::isSimPath(path) || !path.startsWith(QLatin1Char('/')))
        return QString();
    return above(QFileInfo(below(path)).canonicalFilePath());
}

QString PortDiscovery::stableName(const QString &path) const
{
    const QString device = node(path);
    if (device.isEmpty())
        return QString();
    if (path.startsWith(byIdFolder + QLatin1Char('/')))
        return path;
    const QDir folder(below(byIdFolder));
    const QStringList names = folder.entryList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        if (above(QFileInfo(folder.filePath(name)).canonicalFilePath()) == device)
            return byIdFolder + QLatin1Char('/') + name;
    return QString();
}

QString PortDiscovery::usbDeviceFolder(const QString &ttyName) const
{
    const QString sys = QFileInfo(below(QStringLiteral("/sys"))).canonicalFilePath();
    QString folder =
        QFileInfo(below(QStringLiteral("/sys/class/tty/") + ttyName + QStringLiteral("/device")))
            .canonicalFilePath();
    if (sys.isEmpty())
        return QString();
    // The tty's device is the adapter's interface or a port of it; the USB device that
    // holds them (the one with a vendor id) is a few folders up.
    for (int up = 0; up < 6 && folder.startsWith(sys + QLatin1Char('/')); ++up) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return folder;
        folder = QFileInfo(folder).path();
    }
    return QString();
}

PortInfo PortDiscovery::describe(const QString &path) const
{
    PortInfo info;
    info.path = path;
    if (SimBarrier::isSimPath(path)) {
        info.simulated = true;
        const QString socket = SimBarrier::socketPath(path);
        // The socket lies where the user said, not below the root.
        if (!socket.isEmpty() && QFileInfo::exists(socket))
            info.node = socket;
        return info;
    }
    info.node = node(path);
    if (info.node.isEmpty())
        return info;
    const QString usb = usbDeviceFolder(QFileInfo(info.node).fileName());
    if (!usb.isEmpty()) {
        info.maker = attribute(usb + QStringLiteral("/manufacturer"));
        info.product = attribute(usb + QStringLiteral("/product"));
    }
    info.stableName = stableName(path);
    return info;
}
