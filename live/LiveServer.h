#pragma once

#include "live/LiveSnapshot.h"

#include <QHostAddress>
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

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
        // A request head must be complete this long after its first byte.
        int headMs = 10000;
        // Milliseconds of a monotonic clock, read on the server's thread; empty: the
        // system's. Tests move it on by hand.
        std::function<qint64()> clock;
    };

    explicit TLiveServer(QObject *parent = nullptr);
    ~TLiveServer() override;

    // Starts listening; answers with listening() or failed() (on this object's thread).
    void start(const Options &options);
    void stop();
    bool isRunning() const { return m_thread.isRunning(); }

    // Any thread: the snapshot every later request answers from.
    void publish(std::shared_ptr<const LiveSnapshot> snapshot);

    // The address to listen on as the settings name it: empty for every interface,
    // "localhost" for this machine alone, or one of own (this machine's addresses). Anything
    // else gives no address and the reason, in German, why not.
    static std::optional<QHostAddress>
    listenAddress(const QString &text, const QList<QHostAddress> &own, QString &reason);
    static std::optional<QHostAddress> listenAddress(const QString &text, QString &reason);

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

// The look at every request head, from its raw bytes, before the HTTP parser sees it.
namespace LiveGate {
// Where the first head in bytes ends (just past its empty line), whether its lines end in
// CR LF or in LF alone; -1 while it is incomplete. from: how many bytes were looked through
// before without finding the end.
qsizetype headEnd(const QByteArray &bytes, qsizetype from = 0);
// 200 when the head may go on to the HTTP server, else the status it is refused with: the
// request target must be one of the served paths exactly as written (no absolute URL, no
// escapes, no dot segments), only GET is answered, no upgrade and no body; lines that
// parsers could read differently (a stray CR, folding) are refused.
int judge(const QByteArray &head);
} // namespace LiveGate

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
