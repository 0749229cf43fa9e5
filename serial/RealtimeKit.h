#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

// How the worker of an open port is scheduled. A stamp is only as good as the moment the
// worker gets the processor after its wait returns: before ordinary threads, a busy
// machine does not delay it.
enum class TWorkerPriority
{
    None,        // no port open
    Asking,      // RealtimeKit has been asked, no answer yet
    Realtime,    // the worker raised itself (root, or a raised RLIMIT_RTPRIO)
    RealtimeKit, // RealtimeKit raised it for us, within its limits
    Normal,      // neither: the stamps compete with every other program
};
// "Echtzeit", "Echtzeit über RealtimeKit", "normale Priorität", ...
QString workerPriorityText(TWorkerPriority p);

// Asks RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus, as audio servers do)
// to run one thread of this process before ordinary threads, when the process may not do
// so itself. Asynchronous: nothing waits for the bus; the answer comes as answered() on
// the thread that made the request. RealtimeKit grants only a process whose
// RLIMIT_RTTIME is within its RTTimeUSecMax, so the limit is lowered to that first (a
// real-time thread that never sleeps for that long is then stopped by the system; the
// worker sleeps almost all the time).
class TRealtimeKitRequest : public QObject
{
    Q_OBJECT
public:
    // tid: the kernel's id of the thread (gettid); priority: the wanted SCHED_RR priority,
    // lowered to RealtimeKit's MaxRealtimePriority.
    TRealtimeKitRequest(qint64 tid, int priority, QObject *parent = nullptr);

    // Tests: the bus to ask instead of the system bus (empty: the system bus).
    static void setBusAddressForTesting(const QString &address);

signals:
    // Once per request. why: what RealtimeKit or the bus said when it was not granted.
    void answered(bool granted, const QString &why);

private:
    void ask();
    void askThread(int priority);
    void finish(bool granted, const QString &why);

    QDBusConnection m_bus;
    const qint64 m_tid;
    const int m_priority;
    bool m_done = false;
};
