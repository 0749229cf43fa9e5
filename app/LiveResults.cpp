#include "app/LiveResults.h"

#include "platform/AppInfo.h"
#include "protocol/ProtocolTables.h"
#include "protocol/Table.h"

#include <QSettings>

TLiveResults::Config TLiveResults::readSettings()
{
    Config c;
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quendra"),
                          AppInfo::baseName());
    const QString enabled = store.value(QStringLiteral("Live/Enabled")).toString().trimmed();
    c.enabled = enabled == QLatin1String("1") ||
                enabled.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    bool ok = false;
    const int port = store.value(QStringLiteral("Live/Port")).toInt(&ok);
    if (ok && port > 0 && port < 65536)
        c.options.port = quint16(port);
    c.address = store.value(QStringLiteral("Live/Address")).toString();
    return c;
}

TLiveResults::Config TLiveResults::withCommandLine(Config c, bool live, std::optional<quint16> port)
{
    if (live)
        c.enabled = true;
    if (port)
        c.options.port = *port;
    return c;
}

TLiveResults::TLiveResults(ITable &pred, ITable &results, QObject *parent)
    : QObject(parent), m_pred(pred), m_results(results)
{
    connect(&m_server, &TLiveServer::listening, this, [this](quint16 port) {
        m_listening = true;
        m_port = port;
        emit status(QStringLiteral("Live-Ergebnisse: ") +
                    TLiveServer::addressForPhones(m_options, port));
    });
    connect(&m_server, &TLiveServer::failed, this, [this](const QString &reason) {
        emit status(QStringLiteral("Live-Ergebnisse nicht gestartet: ") + reason);
    });
    connect(&m_pred, &ITable::changed, this, &TLiveResults::publishSoon);
    connect(&m_results, &ITable::changed, this, &TLiveResults::publishSoon);
}

void TLiveResults::start(const Config &c)
{
    if (!c.enabled)
        return;
    QString reason;
    const std::optional<QHostAddress> address = TLiveServer::listenAddress(c.address, reason);
    if (!address) {
        // Never a wider audience than the user asked for: no server at all.
        emit status(QStringLiteral("Live-Ergebnisse nicht gestartet: ") + reason);
        return;
    }
    m_options = c.options;
    m_options.address = *address;
    m_started = true;
    publish();
    m_server.start(m_options);
}

void TLiveResults::noteCapture(const QString &timeText, const TimeOfDay &t)
{
    if (!m_started)
        return;
    m_lastTime = timeText;
    m_lastTimeOfDay = QStringLiteral("%1:%2:%3.%4")
                          .arg(t.hour, 2, 10, QLatin1Char('0'))
                          .arg(t.minute, 2, 10, QLatin1Char('0'))
                          .arg(t.second, 2, 10, QLatin1Char('0'))
                          .arg(t.millisecond, 3, 10, QLatin1Char('0'));
    m_recent.taken(timeText);
    // The time is announced before its entry is written: published right after that.
    publishSoon();
}

void TLiveResults::publishSoon()
{
    if (!m_started || m_publishQueued)
        return;
    m_publishQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_publishQueued = false;
            publish();
        },
        Qt::QueuedConnection);
}

void TLiveResults::publish()
{
    auto s = std::make_shared<LiveSnapshot>();
    s->title = applicationTitle;
    s->results = TProtocolTables::snapshot(m_results);
    s->lastTime = m_lastTime;
    s->lastTimeOfDay = m_lastTimeOfDay;
    s->entries = m_recent.follow(TProtocolTables::snapshot(m_pred), s->results);
    m_server.publish(std::move(s));
}
