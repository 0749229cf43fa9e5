#pragma once

#include "platform/Timer.h"
#include "serial/RealtimeKit.h"
#include "serial/SerialDevice.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

enum TBaudRate
{
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brUser
};
enum TParity
{
    prNone,
    prOdd,
    prEven,
    prMark,
    prSpace
};
enum TStopBits
{
    sbOneStopBit,
    sbOne5StopBits,
    sbTwoStopBits
};
enum TFlowControl
{
    fcNone,
    fcRtsCts,
    fcXonXoff
};
enum TEvent
{
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD
};

// A set of TEvent (bit n stands for the enumerator with ordinal n).
class TEvents
{
public:
    constexpr TEvents() = default;
    constexpr TEvents(std::initializer_list<TEvent> events)
    {
        for (TEvent e : events)
            m_bits |= bit(e);
    }
    static constexpr TEvents all()
    {
        return {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD};
    }
    constexpr bool contains(TEvent e) const { return (m_bits & bit(e)) != 0; }
    constexpr void insert(TEvent e) { m_bits |= bit(e); }
    constexpr void remove(TEvent e) { m_bits &= ~bit(e); }
    constexpr bool isEmpty() const { return m_bits == 0; }
    constexpr quint16 bits() const { return m_bits; }
    constexpr bool operator==(const TEvents &) const = default;

private:
    static constexpr quint16 bit(TEvent e) { return quint16(1u << int(e)); }
    quint16 m_bits = 0;
};

// The wait mask (EV_* bits) for a set of events.
quint32 eventMask(TEvents events);
// Bit/s of a rate enumerator; brUser gives userRate.
quint32 baudRateValue(TBaudRate rate, quint32 userRate);

// Common base of the port's exceptions.
class EComError : public std::exception
{
public:
    EComError(const QString &prefix, QString systemText)
        : Message(prefix + systemText), SystemText(std::move(systemText)),
          m_utf8(Message.toStdString())
    {}
    const char *what() const noexcept override { return m_utf8.c_str(); }
    QString Message;
    // The system's reason alone, without the prefix.
    QString SystemText;

private:
    std::string m_utf8;
};

// The device could not be opened.
class EComHandle : public EComError
{
public:
    explicit EComHandle(const QString &systemText)
        : EComError(QStringLiteral("Unable to open com port: "), systemText)
    {}
};

// The line settings were refused.
class EComState : public EComError
{
public:
    explicit EComState(const QString &systemText)
        : EComError(QStringLiteral("Unable to set com state: "), systemText)
    {}
};

class QSocketNotifier;
class TComPort;

// Asks real-time scheduling for the calling thread, as the port's worker does; false where
// the system does not allow it (then the thread keeps ordinary scheduling).
bool raiseWorkerPriority(pthread_t thread = pthread_self());

// What the port tells its owner besides line events.
enum TComNotice
{
    cnPollingFallback, // the driver's line wait never reported a change: the lines are polled
    cnEventsDropped,   // the event queue was full; DroppedEvents() says how many were lost
    cnPortLost,        // the device failed while open: the port closed itself and retries
    cnPortReopened,    // a retry opened the port again
    cnPriority,        // WorkerPriority() is known: raised, granted by RealtimeKit, or normal
};

// The event sets a worker has seen and the port's thread has not dispatched yet, in order.
// The worker only appends and never waits for the dispatcher, not even for a lock: the
// queue is a ring of fixed size with one writer (the worker) and one reader (the port's
// thread), and the reader is woken through a descriptor it watches. So a busy window
// neither delays the worker's next wait nor the stamp of the next change.
class TComQueue
{
public:
    // Event sets beyond this many are dropped and counted: a window that stays busy that
    // long has stopped dispatching, and the memory must stay bounded.
    static constexpr size_t limit = 16384;

    TComQueue();
    ~TComQueue();
    TComQueue(const TComQueue &) = delete;
    TComQueue &operator=(const TComQueue &) = delete;

    // Worker side: appends the sets (or counts those that do not fit) and wakes the reader
    // unless it has been woken already.
    void push(const std::vector<SerialEvent> &events);
    // Worker side: the device polls its lines from now on.
    void notePolling();
    // Worker side, at its start: its thread's id, for RealtimeKit when it was not raised.
    void noteRealtimeWanted(qint64 thread);

    // Reader side. Readable while something is queued for the reader.
    int wakeFd() const { return m_wakeFd; }
    // Call before draining, so that anything queued afterwards wakes the reader again.
    void clearWake();
    bool pop(SerialEvent &event);
    // True once after notePolling.
    bool takePollingNotice();
    // What noteRealtimeWanted said, once; 0 before and after.
    qint64 takeRealtimeWish();
    // Discards what is still queued (the port was closed from a handler).
    void clear();
    size_t size() const;
    quint64 dropped() const { return m_dropped.load(); }

    // Worker side, last: the worker has ended; error (an errno value) and stamp say why and
    // when its device failed, error 0 when it was asked to stop. A failure wakes the reader.
    void setFinished(int error = 0, const TimeStamp &stamp = {});
    // Waits up to ms milliseconds (forever when negative) for the worker to end.
    bool waitFinished(int ms);
    bool isFinished() const;
    // Why the worker's device failed (0: it did not), and when.
    int failure() const;
    TimeStamp failureStamp() const;

private:
    void wake();

    std::unique_ptr<SerialEvent[]> m_ring;
    std::atomic<size_t> m_head{0}; // next to read; written by the reader only
    std::atomic<size_t> m_tail{0}; // next to write; written by the worker only
    std::atomic<quint64> m_dropped{0};
    std::atomic<bool> m_polling{false};
    std::atomic<qint64> m_realtimeWish{0};
    std::atomic<bool> m_wakePending{false};
    int m_wakeFd = -1;
    // Only for the end of the worker, which Close waits for.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_finished = false;
    int m_failure = 0;
    TimeStamp m_failureStamp;
};

// The worker of an open port: waits for events of the device, stamps them and queues
// them for the port's thread. A plain standard thread: its only synchronisation with the
// port is the queue, which keeps it checkable by the thread sanitizer.
class TComThread
{
public:
    TComThread(ISerialDevice *device, quint32 waitMask, const IStampClock &clock);
    ~TComThread();
    TComThread(const TComThread &) = delete;
    TComThread &operator=(const TComThread &) = delete;

    void start();
    // Waits up to ms milliseconds (forever when negative) for the worker to end and joins
    // it. True when it has ended.
    bool wait(int ms = -1);
    bool isFinished() const { return m_queue->isFinished(); }

    quint32 waitMask() const { return m_waitMask; }
    // Asks the worker to end and wakes it; may be repeated.
    void requestStop();
    // The worker raised its own priority at its start.
    bool raisedItself() const { return m_raisedItself.load(); }
    // Another raised it (RealtimeKit): the worker watches itself as when it raised itself.
    void setRealtime() { m_realtime.store(true); }

    // How the worker is raised (SCHED_FIFO) when it starts; tests replace it. True when the
    // system allowed it.
    static std::function<bool(pthread_t)> &realtimeRequest();
    const std::shared_ptr<TComQueue> &queue() const { return m_queue; }

private:
    void run();

    ISerialDevice *m_device;
    const quint32 m_waitMask;
    const IStampClock &m_clock;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_realtime{false};
    std::atomic<bool> m_raisedItself{false};
    std::shared_ptr<TComQueue> m_queue;
    std::thread m_thread;
};

// A serial port as a source of modem-status events (the program never reads or writes
// data through it).
class TComPort : public QObject
{
    Q_OBJECT
public:
    explicit TComPort(QObject *owner = nullptr);
    ~TComPort() override;

    // General-purpose integer; the main window keeps the trigger algorithm here.
    int Tag = 0;

    TBaudRate BaudRate() const { return m_baudRate; }
    void setBaudRate(TBaudRate v) { m_baudRate = v; }
    quint32 BaudRateUser() const { return m_baudRateUser; }
    void setBaudRateUser(quint32 v) { m_baudRateUser = v; }
    quint8 Port() const { return m_port; }
    // A lost port is retried under its own number: another number ends the retries.
    void setPort(quint8 v);
    TParity Parity() const { return m_parity; }
    void setParity(TParity v) { m_parity = v; }
    TStopBits StopBits() const { return m_stopBits; }
    void setStopBits(TStopBits v) { m_stopBits = v; }
    TFlowControl FlowControl() const { return m_flowControl; }
    void setFlowControl(TFlowControl v) { m_flowControl = v; }
    quint8 DataBits() const { return m_dataBits; }
    void setDataBits(quint8 v);
    TEvents Events() const { return m_events; }
    void setEvents(TEvents v) { m_events = v; }
    bool EnableDTR() const { return m_enableDTR; }
    void setEnableDTR(bool v) { m_enableDTR = v; }
    qint32 WriteBufSize() const { return m_writeBufSize; }
    void setWriteBufSize(qint32 v) { m_writeBufSize = v; }
    qint32 ReadBufSize() const { return m_readBufSize; }
    void setReadBufSize(qint32 v) { m_readBufSize = v; }

    bool Connected() const { return m_connected; }

    // Closes the port if open, opens and configures it, starts the worker.
    // Throws EComHandle or EComState; the port then stays closed.
    void Open();
    // Stops the worker, dispatches what it had queued (unless called from a handler, which
    // drops the rest) and closes the device. On a port that retries after a loss it ends the
    // retries (and says so with OnClose).
    void Close();
    // The modem-status word of the open port as it is now (0 when closed).
    quint32 ModemStatus();

    // While a handler of an event set runs: the modem-status word after that set and the
    // moment the worker saw it. Handlers use these rather than ModemStatus(), which may
    // already show a later change.
    bool Dispatching() const { return m_current != nullptr; }
    quint32 EventStatus() const { return m_current ? m_current->status : 0; }
    TimeStamp EventStamp() const { return m_current ? m_current->stamp : TimeStamp{}; }

    // Event sets lost because the queue was full, since construction.
    quint64 DroppedEvents() const { return m_dropped; }

    // The clock the worker stamps with (tests hand in their own; it must outlive the port).
    void setStampClock(const IStampClock &clock) { m_stampClock = &clock; }

    // Port loss. When the device fails while open (a pulled adapter), the port closes itself
    // (OnClose, with Retrying() already true), says so (OnNotice cnPortLost) and tries to
    // open the same port (under its stable name where it has one, see setStableNameLookup)
    // every RetryIntervalMs until that succeeds (OnOpen, then
    // cnPortReopened) or Open or Close is called.
    static constexpr int RetryIntervalMs = 1000;
    bool Retrying() const { return m_retrying; }
    // After a failed Open: keeps trying the same port as after a loss; reason is the
    // system's text of the failure.
    void RetryOpen(const QString &reason);
    // The system's text for why the port was lost (or could not be opened), and when.
    QString LossReason() const { return m_lossReason; }
    TimeStamp LossStamp() const { return m_lossStamp; }
    // When a retry opened the port again.
    TimeStamp ReopenStamp() const { return m_reopenStamp; }
    // Where the retry timer comes from (tests hand in test timers); replaces a running one.
    void setTimerFactory(TimerFactory factory);
    ITimer *RetryTimer() const { return m_retryTimer.get(); }
    // A retry opens the device on a thread of its own (a barrier that accepts but does not
    // answer would hold the window up to its greeting timeout): true while one is under way.
    bool RetryPending() const { return m_attempt != nullptr; }

    // The line settings Open applies, resolved from the properties.
    SerialLineSettings lineSettings() const;

    // Replaces how devices are created (tests inject a double here).
    void setDeviceFactory(SerialDeviceFactory factory);
    // Finding a lost port again. identify gives the stable name of port n's device (its
    // /dev/serial/by-id link; empty where it has none), asked each time Open opens the port;
    // a lost port is then retried under that name, its device made by the path factory, so
    // that an adapter that comes back under another ttyUSB number is found. Unset, or
    // without a stable name, a lost port is retried under its number.
    using StableNameLookup = std::function<QString(quint8 port)>;
    using PathDeviceFactory = std::function<std::unique_ptr<ISerialDevice>(const QString &path)>;
    void setStableNameLookup(StableNameLookup identify);
    // How the device under a stable name is made (the system's devices unless set; tests
    // inject doubles here).
    void setPathDeviceFactory(PathDeviceFactory openPath);
    // The name the port is retried under after a loss; empty: its number.
    QString StableName() const { return m_stableName; }
    // The worker of the open port, or null.
    TComThread *ComThread() const { return m_thread.get(); }
    // How the worker of the open port is scheduled (OnNotice cnPriority when it is known).
    TWorkerPriority WorkerPriority() const { return m_priority; }
    // Why RealtimeKit did not raise it, when it was asked.
    QString PriorityReason() const { return m_priorityReason; }

    std::function<void(QObject *Sender)> OnRing, OnCTS, OnDSR, OnRLSD, OnTxEmpty, OnBreak, OnError,
        OnRxFlag, OnOpen, OnClose;
    std::function<void(QObject *Sender, int InQue)> OnRxChar;
    std::function<void(QObject *Sender, TComNotice Notice)> OnNotice;

private:
    // Opening and closing themselves; Open and Close also end the retries.
    void openPort();
    std::unique_ptr<ISerialDevice> makeDevice();
    // The device a retry opens: the one under the stable name where there is one.
    std::unique_ptr<ISerialDevice> makeRetryDevice();
    // Runs the worker on an opened and configured device.
    void startWorker(std::unique_ptr<ISerialDevice> device);
    void closePort();
    // The worker ended because its device failed: close, say so, retry.
    void lose(const std::shared_ptr<TComQueue> &queue);
    void startRetrying();
    void stopRetrying();
    void retryTimerTimeout();
    // The retry's thread has ended: takes the device it opened, if any.
    void retryAttemptEnded();
    // Waits for a retry under way to end and drops what it opened.
    void dropRetryAttempt();
    struct RetryAttempt;
    // Ends the attempt's thread (it has ended or is about to) and hands the attempt over.
    std::shared_ptr<RetryAttempt> endRetryAttempt();
    // Dispatches what the queue holds, in order, until it is empty or a handler closed or
    // reopened the port.
    void drain(std::shared_ptr<TComQueue> queue);
    void dispatchEvents(const SerialEvent &e);
    // The worker could not raise itself: RealtimeKit is asked for it.
    void askRealtimeKit(qint64 thread);

    SerialDeviceFactory m_factory;
    StableNameLookup m_identify;
    PathDeviceFactory m_openPath;
    QString m_stableName;
    std::unique_ptr<ISerialDevice> m_device;
    std::unique_ptr<TComThread> m_thread;
    // Watches the worker's queue on this object's thread.
    QSocketNotifier *m_notifier = nullptr;
    bool m_connected = false;
    bool m_closing = false;
    const IStampClock *m_stampClock = &systemStampClock();
    // The event set whose handlers run now, and how many drains are running (a handler
    // may close the port) (UI thread only).
    const SerialEvent *m_current = nullptr;
    int m_draining = 0;
    quint64 m_dropped = 0;
    quint64 m_droppedBefore = 0; // what the current worker's queue had dropped when reported
    // Counts opens and closes, so a dispatch notices that a handler closed the port.
    quint64 m_generation = 0;
    // Port loss (UI thread only).
    TimerFactory m_timerFactory = makeQtTimer;
    std::unique_ptr<ITimer> m_retryTimer;
    bool m_retrying = false;
    QString m_lossReason;
    TimeStamp m_lossStamp;
    TimeStamp m_reopenStamp;
    // A retry under way (UI thread only).
    std::shared_ptr<RetryAttempt> m_attempt;
    TWorkerPriority m_priority = TWorkerPriority::None;
    QString m_priorityReason;
    QPointer<TRealtimeKitRequest> m_realtimeKit;

    TBaudRate m_baudRate = br9600;
    quint32 m_baudRateUser = 9600;
    quint8 m_port = 1;
    TParity m_parity = prNone;
    TStopBits m_stopBits = sbOneStopBit;
    TFlowControl m_flowControl = fcNone;
    quint8 m_dataBits = 8;
    TEvents m_events = TEvents::all();
    bool m_enableDTR = true;
    qint32 m_writeBufSize = 2048;
    qint32 m_readBufSize = 2048;
};
