#pragma once

#include "serial/SerialDevice.h"
#include "serial/SignalWaker.h"

#include <atomic>
#include <functional>
#include <memory>
#include <termios.h>
#include <vector>

// The modem-status word for a TIOCM_* line set.
quint32 modemStatusFromLines(int lines);
// The TIOCM_* inputs the modem-line wait must watch for a wait mask.
int linesForWaitMask(quint32 waitMask);

// Sets raw mode and the line settings' flags and standard rate on t. Returns 0 or
// EINVAL for settings no terminal can carry.
int termiosForLine(termios &t, const SerialLineSettings &settings);
// Applies the line settings to a terminal descriptor. Returns 0 or an errno value.
int applyTermios(int fd, const SerialLineSettings &settings);
// Rates the kernel has no Bnnn constant for go through termios2 (LinuxBaudRate.cpp).
int setCustomBaudRate(int fd, quint32 rate);
// Reads the output rate in bit/s; for tests and diagnostics. Returns 0 or an errno value.
int readBaudRate(int fd, quint32 &rate);

// The kernel's modem-line calls on an open port. Each returns 0 or an errno value.
class ModemLineOps
{
public:
    virtual ~ModemLineOps() = default;
    virtual int counters(LineCounters &c) = 0;    // TIOCGICOUNT
    virtual int lines(int &tiocm) = 0;            // TIOCMGET
    virtual int setLines(int tiocm, bool on) = 0; // TIOCMBIS / TIOCMBIC
    virtual int waitChange(int tiocm) = 0;        // TIOCMIWAIT; blocks, EINTR on a signal
    virtual void pause() = 0;                     // the polling interval (2 ms)
};
// Creates the modem-line calls for a descriptor (tests replace the kernel's).
using ModemLineOpsFactory = std::function<std::unique_ptr<ModemLineOps>(int fd)>;
std::unique_ptr<ModemLineOps> kernelModemLineOps(int fd);

// A serial port device file (/dev/ttyS0, /dev/ttyUSB0, ...).
class LinuxSerialDevice : public ISerialDevice
{
public:
    explicit LinuxSerialDevice(QString path, ModemLineOpsFactory ops = kernelModemLineOps);
    ~LinuxSerialDevice() override;

    bool open(QString &error) override;
    bool configure(const SerialLineSettings &settings, QString &error) override;
    WaitResult waitEvent(quint32 waitMask, const IStampClock &clock, SerialWait &out) override;
    void interrupt() override;
    quint32 modemStatus() override;
    int inQueue() override;
    void purge() override;
    void close() override;

    QString path() const { return m_path; }
    int fd() const { return m_fd; }
    // True once the device polls its lines (driver without a line wait, or one whose wait
    // never ended on a change).
    bool polling() const { return m_polling; }

    // While the line wait blocks, the lines are looked at this often.
    static constexpr int watchTickMs = 20;
    // A change the wait has not reported after this long means the wait never reports.
    static constexpr qint64 stuckAfterMs = 100;

private:
    WaitResult pollEvent(quint32 waitMask, const IStampClock &clock, SerialWait &out);
    // Reads counters and lines with no edge between the two readings; 0 or an errno value.
    int readLines(LineCounters &counters, int &lines);
    // Reports the edges since the last report, up to the given readings.
    void report(const LineCounters &counters, int lines, quint32 waitMask, const TimeStamp &stamp,
                SerialWait &out);
    // A tick during the wait: Events when it produced something to report, Failed when the
    // device is gone, Skipped otherwise.
    WaitResult watch(quint32 waitMask, const TimeStamp &stamp, SerialWait &out);

    QString m_path;
    ModemLineOpsFactory m_opsFactory;
    std::unique_ptr<ModemLineOps> m_ops;
    int m_fd = -1;
    SignalWaker m_waker;
    // Worker-side state: what the previous wait ended with, so that an edge between two
    // waits (while a set is being dispatched) is still reported.
    bool m_haveCounters = false;
    LineCounters m_lastCounters;
    int m_lastLines = 0;
    bool m_polling = false;
    // Changes a tick saw that the counters do not show yet; each with its stamp.
    struct Sighting
    {
        int lines;
        TimeStamp stamp;
    };
    std::vector<Sighting> m_sightings;
};
