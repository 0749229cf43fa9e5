#pragma once

#include "serial/SerialDevice.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// The line a test drives: scripted wait results and a modem-status word, plus a record
// of what the port did with its devices. Shared by every device the factory creates.
// Completions are stamped with the clock the port hands the device.
class FakeSerialLine : public std::enable_shared_from_this<FakeSerialLine>
{
public:
    // Scripted completions, consumed by waitEvent in order.
    // One event set with these bits and the status word as it is then.
    void pushEvents(quint32 events);
    void pushSkip();
    // The wait fails with this errno value (the device is gone).
    void pushFailure(int error = EIO);
    void setStatus(quint32 status);
    // Kernel-like completions: the inputs' transition counters move and the wait reports
    // the difference since its previous report.
    // The lines change to status (each changed input counts once) and the wait returns.
    void change(quint32 status);
    // The inputs close and open again before the wait returns: their counters move by
    // two while the status word shows nothing (a pass shorter than the port's reaction).
    void pulse(quint32 inputs);
    // A change that the device found only by looking at the lines itself: it reports the
    // change and that it polls from now on.
    void changeFoundByPolling(quint32 status);

    // Failures the next open/configure report (empty: succeed).
    void failOpen(const QString &text);
    void failConfigure(const QString &text);

    // Waits (up to ms) until pred holds; pred runs under the line's lock.
    bool waitUntil(const std::function<bool()> &pred, int ms = 5000);

    SerialDeviceFactory factory();

    // Record (read under lock via waitUntil, or when no worker runs).
    int devicesCreated = 0;
    int opens = 0;
    int configures = 0;
    int closes = 0;
    int purges = 0;
    int interrupts = 0;
    int waitsEntered = 0;
    bool waiting = false;
    quint8 lastPort = 0;
    quint32 lastWaitMask = 0;
    SerialLineSettings lastSettings;

private:
    friend class FakeSerialDevice;
    struct Step
    {
        ISerialDevice::WaitResult result;
        quint32 events;
        bool counted = false; // report the counters' difference instead of events
        bool polling = false; // and the switch to polling
        int error = 0;        // why a failed wait failed
    };
    void push(const Step &step);
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Step> m_steps;
    quint32 m_status = 0;
    LineCounters m_counters;
    QString m_openError;
    QString m_configureError;
};

class FakeSerialDevice : public ISerialDevice
{
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeSerialLine> line);

    bool open(QString &error) override;
    bool configure(const SerialLineSettings &settings, QString &error) override;
    WaitResult waitEvent(quint32 waitMask, const IStampClock &clock, SerialWait &out) override;
    void interrupt() override;
    quint32 modemStatus() override;
    int inQueue() override { return 7; }
    void purge() override;
    void close() override;

private:
    std::shared_ptr<FakeSerialLine> m_line;
    bool m_interrupted = false; // guarded by the line's mutex
    // What this device's waits have reported so far (worker thread).
    quint32 m_reportedStatus = 0;
    LineCounters m_reportedCounters;
};
