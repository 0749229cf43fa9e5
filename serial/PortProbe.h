#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

// Port numbers the program looks for: COM1 to COM16.
constexpr int firstProbedPort = 1;
constexpr int lastProbedPort = 16;

// Whether a device path names a usable serial port: it opens exclusively, is a
// character device and has modem lines (a pseudo-terminal has none). A "sim:" path
// counts when its socket exists.
bool isSerialPortPath(const QString &path);

// Probes COM1..COM16 once. Bits 0-15: bit n-1 set when COMn was found; bits 16-31: the
// highest port found (0 when none). The path mapping and the test are replaceable.
quint32 probePorts(const std::function<QString(int)> &pathForPort,
                   const std::function<bool(const QString &)> &isPort = isSerialPortPath);
// The same over the configured device paths.
quint32 probePorts();

// "COM" + n for each port found, ascending.
QStringList portListEntries(quint32 portSet);
bool portInSet(quint32 portSet, int port);
int highestPort(quint32 portSet);

// The pin pair a single active status bit stands for: "7+8" (0x10), "4+6" (0x20),
// "7+9" (0x40), "1+4" (0x80) when exactly one of those four bits is set; else empty.
QString pinPairText(quint32 status);
// A pin pair text back to its status bit (0 when unknown); accepts "4-6" too.
quint32 pinPairBit(const QString &text);
// A contact is closed when any of the four modem-status inputs is on.
constexpr bool contactClosed(quint32 status)
{
    return (status & 0xF0) != 0;
}
