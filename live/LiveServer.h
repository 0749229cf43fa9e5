#pragma once

#include "live/LiveSnapshot.h"

#include <QHostAddress>
#include <QObject>
#include <QThread>

#include <memory>
#include <mutex>

class LiveServerCore;
class SnapshotBox;

// The live results on the local network: a read-only web server on a thread of its own.
// It answers from the last snapshot the UI thread published, so no request touches a
// widget or waits for the UI thread, and a busy server never slows the timing.
class TLiveServer : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QHostAddress address = QHostAddress::Any;
        quint16 port = 8080;
        int maxConnections = 64;
        // A request head larger than this is refused with 413.
        int maxRequestBytes = 16 * 1024;
        // Connections that send nothing for this long are closed.
        int idleMs = 15000;
    };

    explicit TLiveServer(QObject *parent = nullptr);
    ~TLiveServer() override;

    // Starts listening; answers with listening() or failed() (on this object's thread).
    void start(const Options &options);
    void stop();
    bool isRunning() const { return m_thread.isRunning(); }

    // Any thread: the snapshot every later request answers from.
    void publish(std::shared_ptr<const LiveSnapshot> snapshot);

    // The address a phone on the same network types in: the configured address, or the
    // first non-loopback IPv4 address of this machine.
    static QString addressForPhones(const Options &options, quint16 port);

signals:
    void listening(quint16 port);
    void failed(const QString &reason);

private:
    QThread m_thread;
    LiveServerCore *m_core = nullptr;
    std::shared_ptr<SnapshotBox> m_box;
};

// The published snapshot, handed between the UI thread and the server's thread.
class SnapshotBox
{
public:
    void set(std::shared_ptr<const LiveSnapshot> s)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshot = std::move(s);
    }
    std::shared_ptr<const LiveSnapshot> get() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_snapshot;
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const LiveSnapshot> m_snapshot;
};
