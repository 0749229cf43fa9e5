#pragma once

#include "live/LiveServer.h"
#include "platform/Clock.h"

#include <QObject>
#include <QString>

#include <optional>

class ITable;

// The live results as the window runs them: what the settings file and the command line
// ask for, the snapshots of the results protocol and of the last entries of the
// intermediate protocol handed to the server as soon as either has changed, and what the
// status bar says.
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

    TLiveResults(ITable &pred, ITable &results, QObject *parent = nullptr);

    QString applicationTitle;

    // Starts the server unless the settings' address is refused (the status bar says why).
    void start(const Config &c);
    bool running() const { return m_listening; }
    quint16 port() const { return m_port; }

    // A time taken: published with its time of day as soon as its entry is written.
    void noteCapture(const QString &timeText, const TimeOfDay &t);
    // Both protocols as they are now, handed to the server.
    void publish();

signals:
    // The permanent status-bar text (address to type, or why it is not running).
    void status(const QString &text);

private:
    // A protocol changed (a time, a typed number, a load, a sort): published once the
    // event that changed it has been handled, so that the changes of one command make one
    // snapshot.
    void publishSoon();

    ITable &m_pred;
    ITable &m_results;
    TLiveServer m_server;
    bool m_started = false;
    bool m_publishQueued = false;
    QString m_lastTime, m_lastTimeOfDay;
    RecentEntries m_recent;
    bool m_listening = false;
    quint16 m_port = 0;
    TLiveServer::Options m_options;
};
