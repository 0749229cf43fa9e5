#pragma once

#include <QString>

// What a serial port is, for the user: the device node a path leads to now, and for a USB
// adapter its maker and product and the name that stays when it comes back under another
// ttyUSB number.
struct PortInfo
{
    // The path as configured ("/dev/ttyUSB0", a /dev/serial/by-id link, "sim:<socket>").
    QString path;
    // The device node it leads to now ("/dev/ttyUSB1"); empty when there is none.
    QString node;
    // "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0"; empty when the device
    // has none (a port on the board, the simulated barrier).
    QString stableName;
    QString maker;
    QString product;
    bool simulated = false;

    // "/dev/ttyUSB0 · FTDI FT232R USB UART", "/dev/ttyS0", "Simulierte Lichtschranke
    // (/tmp/b.sock)", "/dev/ttyUSB3 · nicht angeschlossen".
    QString text() const;
};

// Reads what the system says about serial devices: /sys/class/tty/<name>/device leads to
// the USB device's manufacturer and product, /dev/serial/by-id holds the stable names.
// Everything is read below a root folder ("/" on the system; tests give a folder of their
// own holding sys/ and dev/), and the paths handed in and out are the system's.
// A handful of small files per port: cheap enough for the UI thread.
class PortDiscovery
{
public:
    explicit PortDiscovery(QString root = QStringLiteral("/"));

    QString root() const { return m_root; }
    PortInfo describe(const QString &path) const;
    // The by-id link that leads to the same device as path; empty when there is none.
    QString stableName(const QString &path) const;
    // The device node a path leads to now, following links; empty when there is none.
    QString node(const QString &path) const;

private:
    // A path of the system as it lies below the root, and back.
    QString below(const QString &systemPath) const;
    QString above(const QString &rootedPath) const;
    // The folder of the USB device a tty belongs to, below the root; empty when it is not
    // on USB.
    QString usbDeviceFolder(const QString &ttyName) const;

    QString m_root;
};
