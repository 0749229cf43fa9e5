#include "serial/RealtimeKit.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <QVariantMap>

#include <sys/resource.h>

namespace {
const char Service[] = "org.freedesktop.RealtimeKit1";
const char Path[] = "/org/freedesktop/RealtimeKit1";
// How long an answer may take; the worker runs at normal priority meanwhile.
constexpr int AnswerMs = 5000;

QString &busAddress()
{
    static QString address;
    return address;
}

QDBusConnection connectBus()
{
    if (busAddress().isEmpty())
        return QDBusConnection::systemBus();
    return QDBusConnection::connectToBus(busAddress(), QStringLiteral("tornelo-realtimekit"));
}
} // namespace

QString workerPriorityText(TWorkerPriority p)
{
    switch (p) {
    case TWorkerPriority::None:
        return QStringLiteral("keine Lichtschranke");
    case TWorkerPriority::Asking:
        return QStringLiteral("RealtimeKit angefragt");
    case TWorkerPriority::Realtime:
        return QStringLiteral("Echtzeit");
    case TWorkerPriority::RealtimeKit:
        return QStringLiteral("Echtzeit über RealtimeKit");
    case TWorkerPriority::Normal:
        return QStringLiteral("normale Priorität");
    }
    return QString();
}

void TRealtimeKitRequest::setBusAddressForTesting(const QString &address)
{
    if (!busAddress().isEmpty())
        QDBusConnection::disconnectFromBus(QStringLiteral("tornelo-realtimekit"));
    busAddress() = address;
}

TRealtimeKitRequest::TRealtimeKitRequest(qint64 tid, int priority, QObject *parent)
    : QObject(parent), m_bus(connectBus()), m_tid(tid), m_priority(priority)
{
    // The answer always comes from the event loop, also when there is no bus at all.
    QTimer::singleShot(0, this, &TRealtimeKitRequest::ask);
}

void TRealtimeKitRequest::finish(bool granted, const QString &why)
{
    if (m_done)
        return;
    m_done = true;
    emit answered(granted, why);
}

void TRealtimeKitRequest::ask()
{
    if (!m_bus.isConnected()) {
        finish(false, QStringLiteral("kein System-D-Bus"));
        return;
    }
    // Its limits first: the priority it allows and the CPU time a real-time thread may use
    // without sleeping.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(Service), QLatin1String(Path),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    get << QLatin1String(Service);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, AnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QVariantMap> reply = *w;
        if (reply.isError()) {
            finish(false, reply.error().message());
            return;
        }
        const QVariantMap props = reply.value();
        bool okPrio = false, okTime = false;
        const int maxPriority = props.value(QStringLiteral("MaxRealtimePriority")).toInt(&okPrio);
        const qlonglong maxRtTime =
            props.value(QStringLiteral("RTTimeUSecMax")).toLongLong(&okTime);
        if (!okPrio || !okTime || maxPriority < 1 || maxRtTime <= 0) {
            finish(false, QStringLiteral("RealtimeKit nennt keine Grenzen"));
            return;
        }
        rlimit limit = {};
        if (getrlimit(RLIMIT_RTTIME, &limit) != 0) {
            finish(false, QStringLiteral("RLIMIT_RTTIME nicht lesbar"));
            return;
        }
        const rlim_t most = rlim_t(maxRtTime);
        if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > most)
            limit.rlim_max = most;
        if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > limit.rlim_max)
            limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
            finish(false, QStringLiteral("RLIMIT_RTTIME nicht setzbar"));
            return;
        }
        askThread(std::min(m_priority, maxPriority));
    });
}

void TRealtimeKitRequest::askThread(int priority)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                                       QLatin1String(Service),
                                                       QStringLiteral("MakeThreadRealtime"));
    call << qulonglong(m_tid) << uint(priority);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, AnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<> reply = *w;
        if (reply.isError())
            finish(false, reply.error().message());
        else
            finish(true, QString());
    });
}
