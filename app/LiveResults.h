#pragma once

#include "live/LiveServer.h"
#include "platform/Clock.h"
#include "platform/Timer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TSortGrid;

// The live results as the window runs them: what the settings file and the command line
// ask for, the snapshots of the results protocol and of the last entries of the
// intermediate protocol handed to the server after each change, and what the status bar
// says.
class TLiveResults : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        bool enabled = false;
        // As written in the settings; judged when the server starts (listenAddress).
        QString address;
        TLiveServer::Options options;
    };
    // The [Live] group of the program's settings file (Enabled, Port, Address); a port
    // that cannot be read keeps its default.
    static Config readSettings();
    // --live switches it on, --live=PORT also chooses the port.
    static Config withCommandLine(Config c, bool live, std::optional<quint16> port);

    TLiveResults(TSortGrid &pred, TSortGrid &results, QObject *parent = nullptr);

    QString applicationTitle;
    // The permanent status-bar text (address to type, or why it is not running).
    std::function<void(const QString &)> showStatus;
    void setTimerFactory(TimerFactory f) { m_makeTimer = std::move(f); }

    // Starts the server unless the settings' address is refused (the status bar says why).
    void start(const Config &c);
    bool running() const { return m_listening; }
    quint16 port() const { return m_port; }

    // A time taken: published with its time of day as soon as its entry is written.
    void noteCapture(const QString &timeText, const TimeOfDay &t);
    // Publishes if either protocol changed since the last snapshot.
    void publishIfChanged();
    void publish();

    // How often the protocols are looked at for changes (a typed number is one).
    static constexpr int CheckMs = 250;

private:
    TSortGrid &m_pred;
    TSortGrid &m_results;
    TLiveServer m_server;
    TimerFactory m_makeTimer = makeQtTimer;
    std::unique_ptr<ITimer> m_check;
    quint64 m_seen = ~quint64(0), m_seenPred = ~quint64(0);
    QString m_lastTime, m_lastTimeOfDay;
    RecentEntries m_recent;
    bool m_listening = false;
    quint16 m_port = 0;
    TLiveServer::Options m_options;
};
