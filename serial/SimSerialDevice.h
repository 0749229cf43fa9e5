#pragma once

#include "serial/SerialDevice.h"

#include <atomic>
#include <sys/types.h>

// The port end of the simulated light barrier: connects to tools/barrier-sim's socket
// and turns its contact changes into modem-line events, honouring which lines the port
// drives (DTR, and RTS under handshake).
class SimSerialDevice : public ISerialDevice
{
public:
    explicit SimSerialDevice(QString socketPath);
    ~SimSerialDevice() override;

    bool open(QString &error) override;
    bool configure(const SerialLineSettings &settings, QString &error) override;
    WaitResult waitEvent(quint32 waitMask, const IStampClock &clock, SerialWait &out) override;
    void interrupt() override;
    quint32 modemStatus() override;
    int inQueue() override { return 0; }
    void purge() override {}
    void close() override;

    // How long open waits for the barrier's greeting.
    static constexpr int greetingTimeoutMs = 1000;

private:
    // Appends what the socket has to the buffer; recv's result.
    ssize_t receive();
    // Takes the first complete line: -1 none yet, 0 not a contacts line, 1 contacts set.
    int takeLine(quint32 &contacts);
    // Takes every complete line received so far, counting each input's changes.
    void takeLines();

    QString m_socketPath;
    int m_fd = -1;
    int m_wakeFd = -1;
    // Received and not yet taken; a fixed buffer, so the worker allocates nothing.
    char m_buffer[1024];
    size_t m_length = 0;
    quint32 m_contacts = 0;
    bool m_dtr = false;
    bool m_rts = false;
    // Like the kernel, the port end counts every change of its inputs; what arrives in one
    // read is seen together, so changes in quick succession merge as they do on a real
    // port and reach the worker as counters that moved more than the status word shows.
    LineCounters m_counters;
    quint32 m_reportedStatus = 0;
    LineCounters m_reportedCounters;
    // Written by the worker, read by ModemStatus on the port's thread.
    std::atomic<quint32> m_status{0};
};
