#pragma once

#include "platform/Clock.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

// Event bits of a completed wait, as the port component dispatches them.
constexpr quint32 EV_RXCHAR = 0x0001;
constexpr quint32 EV_RXFLAG = 0x0002;
constexpr quint32 EV_TXEMPTY = 0x0004;
constexpr quint32 EV_CTS = 0x0008;
constexpr quint32 EV_DSR = 0x0010;
constexpr quint32 EV_RLSD = 0x0020;
constexpr quint32 EV_BREAK = 0x0040;
constexpr quint32 EV_ERR = 0x0080;
constexpr quint32 EV_RING = 0x0100;

// Bits of the modem-status word.
constexpr quint32 MS_CTS_ON = 0x0010;
constexpr quint32 MS_DSR_ON = 0x0020;
constexpr quint32 MS_RING_ON = 0x0040;
constexpr quint32 MS_RLSD_ON = 0x0080;
constexpr quint32 MS_ALL_LINES = MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;

// Which wait events a change of the given modem-status bits stands for, limited to
// the events in waitMask. Shared by every backend that learns about the lines by
// comparing two status words.
quint32 eventsFromStatusChange(quint32 before, quint32 after, quint32 waitMask);

// Transition counters of the four modem-status inputs, as the kernel keeps them.
struct LineCounters
{
    int cts = 0;
    int dsr = 0;
    int rng = 0;
    int dcd = 0;
    bool operator==(const LineCounters &) const = default;
};

// One event set as the worker queues it: the events, the modem-status word after them and
// the moment the worker saw them.
struct SerialEvent
{
    quint32 events = 0;
    quint32 status = 0;
    TimeStamp stamp;
};

// What one completed wait delivered.
struct SerialWait
{
    std::vector<SerialEvent> events;
    // The device stopped trusting its line wait and polls the lines from now on.
    bool switchedToPolling = false;
    // Why a failed wait failed (an errno value, EIO for a pulled adapter); 0 otherwise.
    int error = 0;
};

// Errors of a modem-line call that mean the device is gone (adapter pulled, port hung
// up): the port is lost, however often the call is repeated.
bool isDeviceGone(int err);

// Appends to out the edges between two readings of the lines (status words and counters),
// all with the same stamp, limited to the lines of waitMask. Each change the status words
// show is an edge; where a line's counter moved more often (a short pulse between two
// readings, say closed and open again), every further change is an edge of its own, so
// that a pulse the status words no longer show is still delivered. Lines that change the
// same number of times change together. Allocates nothing once out has room.
void appendEdges(std::vector<SerialEvent> &out, quint32 beforeStatus,
                 const LineCounters &beforeCounters, quint32 afterStatus,
                 const LineCounters &afterCounters, quint32 waitMask, const TimeStamp &stamp);
// The counters after the changes from one status word to another (each changed input
// counts once), as the kernel counts them.
LineCounters countersAfterChange(LineCounters counters, quint32 before, quint32 after);

// The line settings a device is configured with, already resolved to plain numbers.
struct SerialLineSettings
{
    enum Parity
    {
        ParityNone,
        ParityOdd,
        ParityEven,
        ParityMark,
        ParitySpace
    };
    enum StopBits
    {
        StopOne,
        StopOneAndHalf,
        StopTwo
    };
    enum Flow
    {
        FlowNone,
        FlowRtsCts,
        FlowXonXoff
    };

    quint32 baudRate = 9600;
    quint8 dataBits = 8;
    Parity parity = ParityNone;
    StopBits stopBits = StopOne;
    Flow flow = FlowNone;
    bool enableDTR = true;
    qint32 readBufSize = 2048;
    qint32 writeBufSize = 2048;
};

// One serial device as the port component uses it. open/configure/modemStatus/purge/
// close run on the thread that owns the port; waitEvent runs on the worker thread and
// interrupt may be called from any thread while waitEvent blocks.
// A device stamps what it reports with the clock it is given, first thing after its wait
// returns, so that the time of a change does not depend on when it is handled.
class ISerialDevice
{
public:
    enum class WaitResult
    {
        Events,      // the wait delivered its event sets (possibly none of interest)
        Skipped,     // the wait completed but reported failure; wait again
        Interrupted, // interrupt() was called (or a stray signal arrived)
        Failed,      // the wait itself failed (out.error says why); the worker gives up
    };

    virtual ~ISerialDevice() = default;

    // Opens the device exclusively. On failure returns false and sets error to the
    // system's text for the reason.
    virtual bool open(QString &error) = 0;
    // Applies the line settings and drives DTR/RTS. Same error convention.
    virtual bool configure(const SerialLineSettings &settings, QString &error) = 0;
    // Blocks until one of the events in waitMask happens, interrupt() is called or the
    // wait fails. Appends what happened, in order, to out.events.
    virtual WaitResult waitEvent(quint32 waitMask, const IStampClock &clock, SerialWait &out) = 0;
    // Wakes a blocked waitEvent; sticky, so a call just before the wait is not lost.
    virtual void interrupt() = 0;
    // The modem-status word (MS_* bits); 0 when it cannot be read.
    virtual quint32 modemStatus() = 0;
    // Bytes waiting in the receive queue.
    virtual int inQueue() = 0;
    // Discards the receive side.
    virtual void purge() = 0;
    virtual void close() = 0;
};

// Creates the device for port number n (COMn). Never opens anything itself.
using SerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>(quint8 port)>;

// Default device path of COMn (1..16) on Linux; empty for other numbers.
QString defaultDevicePath(int port);
// The device path of COMn, honouring the per-user override (group "Devices", key
// "COMn"). A path "sim:<socket>" names the simulated light barrier.
QString devicePathForPort(int port);
// Creates the device object for a path: the simulated barrier for "sim:...", otherwise
// the Linux serial device.
std::unique_ptr<ISerialDevice> createDeviceForPath(const QString &path);
// The factory used by ports that were not given one.
SerialDeviceFactory systemDeviceFactory();
