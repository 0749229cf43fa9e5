#include "live/LiveServer.h"

#include "live/ConnectionSlots.h"

#include <QElapsedTimer>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// The paths there are; nothing is ever looked up on the disk.
bool knownPath(const QByteArray &path)
{
    return path == "/" || path == "/anzeige" || path == "/results.json" || path == "/favicon.svg" ||
           path == "/favicon.ico";
}

QByteArray refusal(int status)
{
    switch (status) {
    case 405:
        return "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n";
    case 413:
        return "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    case 400:
        return "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    default:
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
}

const QByteArray busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                        "Connection: close\r\n\r\n";

// The client's address as the slots count it: an IPv4 client of a dual-stack listener
// is the same client as on an IPv4 listener.
QString clientOf(const QTcpSocket &socket)
{
    const QHostAddress a = socket.peerAddress();
    bool v4 = false;
    const quint32 ip4 = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip4).toString() : a.toString();
}

qint64 systemMs()
{
    static QElapsedTimer since = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return since.elapsed();
}

// Accepts at most a fixed number of connections, shares them out fairly, closes slow and
// idle ones, and looks at every request head before the HTTP server does.
class BoundedTcpServer : public QTcpServer
{
public:
    BoundedTcpServer(const TLiveServer::Options &o, QObject *parent)
        : QTcpServer(parent), m_options(o), m_slots({o.maxConnections, o.headMs, o.idleMs}),
          m_clock(o.clock ? o.clock : systemMs)
    {
        m_wake.setSingleShot(true);
        connect(&m_wake, &QTimer::timeout, this, [this] { sweep(); });
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // Slots past their deadline are freed first, so that this connection can take one.
        const qint64 now = sweep();
        const ConnectionSlots::Admission a = m_slots.admit(clientOf(*socket), now);
        if (a.evict)
            drop(*a.evict);
        if (!a.id) {
            socket->write(busy);
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            arm(now);
            return;
        }
        const ConnectionSlots::Id id = *a.id;
        m_sockets.insert(id, socket);
        auto release = [this, id] {
            m_slots.release(id);
            m_sockets.remove(id);
        };
        connect(socket, &QTcpSocket::disconnected, this, release);
        connect(socket, &QObject::destroyed, this, release);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

        // Connected before the HTTP server connects its own, so this runs first on every
        // arrival of data.
        auto *head = new Head;
        connect(socket, &QObject::destroyed, [head] { delete head; });
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, id, head] {
            const qint64 now = sweep();
            if (!m_sockets.contains(id) || m_refused.contains(socket)) {
                socket->readAll();
                return;
            }
            QByteArray &pending = head->pending;
            pending.append(socket->peek(socket->bytesAvailable()));
            bool completed = false;
            for (;;) {
                const qsizetype end = LiveGate::headEnd(pending, head->scanned);
                if (end < 0) {
                    if (pending.size() > m_options.maxRequestBytes) {
                        refuse(socket, 413);
                        return;
                    }
                    head->scanned = pending.size();
                    break;
                }
                const int status =
                    end > m_options.maxRequestBytes ? 413 : LiveGate::judge(pending.left(end));
                if (status != 200) {
                    refuse(socket, status);
                    return;
                }
                pending.remove(0, end);
                head->scanned = 0;
                completed = true;
            }
            m_slots.received(id, now, completed, !pending.isEmpty());
            arm(now);
        });
        addPendingConnection(socket);
        arm(now);
    }

private:
    // The bytes of a head not yet complete, and how far they have been looked through, so
    // that a head trickling in is not searched from its start at every byte.
    struct Head
    {
        QByteArray pending;
        qsizetype scanned = 0;
    };

    // Closes what is past its deadline; returns the time it judged by.
    qint64 sweep()
    {
        const qint64 now = m_clock();
        for (const ConnectionSlots::Id id : m_slots.expired(now))
            drop(id);
        arm(now);
        return now;
    }
    // Frees the slot at once and closes its connection without a word.
    void drop(ConnectionSlots::Id id)
    {
        m_slots.release(id);
        if (QTcpSocket *socket = m_sockets.take(id))
            socket->abort();
    }
    // One timer for all deadlines: nothing wakes the thread while no deadline is due. It is
    // set anew only when the next deadline moved, not on every byte.
    void arm(qint64 now)
    {
        const std::optional<qint64> next = m_slots.nextDeadline();
        if (next == m_armedFor && m_wake.isActive() == bool(next))
            return;
        m_armedFor = next;
        if (next)
            m_wake.start(int(std::clamp<qint64>(*next - now, 0, 24 * 3600 * 1000)));
        else
            m_wake.stop();
    }
    void refuse(QTcpSocket *socket, int status)
    {
        // The HTTP server never sees this request: its bytes are taken away here.
        m_refused.insert(socket);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_refused.remove(socket); });
        socket->readAll();
        socket->write(refusal(status));
        socket->disconnectFromHost();
    }

    TLiveServer::Options m_options;
    ConnectionSlots m_slots;
    std::function<qint64()> m_clock;
    QTimer m_wake;
    std::optional<qint64> m_armedFor;
    QHash<ConnectionSlots::Id, QTcpSocket *> m_sockets;
    QSet<QTcpSocket *> m_refused;
};

} // namespace

qsizetype LiveGate::headEnd(const QByteArray &bytes, qsizetype from)
{
    // A head ends at its first empty line, whether its lines end in CR LF or in LF alone.
    // The end may have begun up to two bytes before from.
    for (qsizetype i = bytes.indexOf('\n', std::max<qsizetype>(0, from - 2)); i >= 0;
         i = bytes.indexOf('\n', i + 1)) {
        qsizetype j = i + 1;
        if (j < bytes.size() && bytes[j] == '\r')
            ++j;
        if (j < bytes.size() && bytes[j] == '\n')
            return j + 1;
    }
    return -1;
}

int LiveGate::judge(const QByteArray &head)
{
    // Each line without its end: LF, or CR LF. A CR anywhere else is refused, so that no
    // reader of these bytes can split them into lines differently.
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\r'))
            return 400;
    }
    // The empty line that ends the head.
    while (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return 400;
    const QList<QByteArray> parts = lines[0].split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1."))
        return 404;
    QByteArray target = parts[1];
    const qsizetype query = target.indexOf('?');
    if (query >= 0)
        target.truncate(query);
    if (!knownPath(target))
        return 404;
    if (parts[0] != "GET")
        return 405;
    for (qsizetype k = 1; k < lines.size(); ++k) {
        const QByteArray &line = lines[k];
        const qsizetype colon = line.indexOf(':');
        // Folded lines and names with blanks are read differently by different parsers.
        if (colon <= 0 || line.left(colon).contains(' ') || line.left(colon).contains('\t'))
            return 400;
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        // Plain answers only: a connection upgrade (WebSocket) is never taken up.
        if (name == "upgrade")
            return 404;
        // A GET carries no body; one announced anyway could hide a second request in it.
        if (name == "transfer-encoding" || (name == "content-length" && value != "0"))
            return 400;
    }
    return 200;
}

// Lives on the server's thread.
class LiveServerCore : public QObject
{
public:
    explicit LiveServerCore(std::shared_ptr<SnapshotBox> b) : box(std::move(b)) {}
    const std::shared_ptr<SnapshotBox> box;

    // Returns the bound port, or 0 with the reason.
    quint16 start(const TLiveServer::Options &o, QString &reason)
    {
        m_http = std::make_unique<QHttpServer>();
        m_tcp = new BoundedTcpServer(o, m_http.get());
        if (!m_tcp->listen(o.address, o.port)) {
            reason = m_tcp->serverError() == QAbstractSocket::AddressInUseError
                         ? QStringLiteral("Port %1 ist belegt").arg(o.port)
                         : m_tcp->errorString();
            m_http.reset();
            return 0;
        }
        m_http->bind(m_tcp);
        m_http->setMissingHandler(
            [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                answer(request, std::move(responder));
            });
        return m_tcp->serverPort();
    }
    void stop() { m_http.reset(); }

private:
    void answer(const QHttpServerRequest &request, QHttpServerResponder &&responder)
    {
        using Status = QHttpServerResponder::StatusCode;
        const QString path = request.url().path();
        if (request.method() != QHttpServerRequest::Method::Get) {
            responder.write({{"Allow", "GET"}}, Status::MethodNotAllowed);
            return;
        }
        if (path == QLatin1String("/favicon.svg") || path == QLatin1String("/favicon.ico")) {
            responder.write(LivePages::icon(), {{"Content-Type", "image/svg+xml"},
                                                {"Cache-Control", "max-age=86400"}});
            return;
        }
        if (path != QLatin1String("/") && path != QLatin1String("/anzeige") &&
            path != QLatin1String("/results.json")) {
            responder.write(Status::NotFound);
            return;
        }
        render();
        if (path != QLatin1String("/results.json")) {
            responder.write(
                path == QLatin1String("/") ? m_page : m_display,
                {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-cache"}});
            return;
        }
        if (request.value("If-None-Match") == m_etag) {
            responder.write({{"ETag", m_etag}, {"Cache-Control", "no-cache"}}, Status::NotModified);
            return;
        }
        responder.write(m_json, {{"Content-Type", "application/json; charset=utf-8"},
                                 {"ETag", m_etag},
                                 {"Cache-Control", "no-cache"}});
    }

    // The answers are built once per snapshot, on this thread.
    void render()
    {
        std::shared_ptr<const LiveSnapshot> s = box->get();
        if (!s)
            s = std::make_shared<const LiveSnapshot>();
        if (s == m_rendered)
            return;
        m_rendered = s;
        m_json = LivePages::json(*s);
        m_etag = LivePages::etag(m_json);
        m_page = LivePages::page(*s);
        m_display = LivePages::display(*s);
    }

    std::unique_ptr<QHttpServer> m_http;
    QTcpServer *m_tcp = nullptr;
    std::shared_ptr<const LiveSnapshot> m_rendered;
    QByteArray m_json, m_etag, m_page, m_display;
};

TLiveServer::TLiveServer(QObject *parent) : QObject(parent), m_box(std::make_shared<SnapshotBox>())
{
    m_thread.setObjectName(QStringLiteral("live results"));
}

TLiveServer::~TLiveServer()
{
    stop();
}

void TLiveServer::start(const Options &options)
{
    stop();
    m_core = new LiveServerCore(m_box);
    m_core->moveToThread(&m_thread);
    m_thread.start();
    LiveServerCore *core = m_core;
    // stop() waits for the core to be deleted on its thread, after this has run, so the
    // signals are emitted while this object lives; they reach its thread queued.
    QMetaObject::invokeMethod(core, [this, core, options] {
        QString reason;
        const quint16 port = core->start(options, reason);
        if (port)
            emit listening(port);
        else
            emit failed(reason);
    });
}

void TLiveServer::stop()
{
    if (!m_core)
        return;
    LiveServerCore *core = m_core;
    m_core = nullptr;
    // The server's objects belong to its thread and are deleted there.
    QMetaObject::invokeMethod(
        core, [core] { delete core; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void TLiveServer::publish(std::shared_ptr<const LiveSnapshot> snapshot)
{
    m_box->set(std::move(snapshot));
}

std::optional<QHostAddress>
TLiveServer::listenAddress(const QString &text, const QList<QHostAddress> &own, QString &reason)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QHostAddress(QHostAddress::Any);
    if (t.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress a;
    if (!a.setAddress(t)) {
        reason = QStringLiteral("Adresse \u201E%1\u201C ist ungültig (leer: alle Netzwerke, "
                                "localhost: nur dieser Rechner)")
                     .arg(t.left(40));
        return std::nullopt;
    }
    // An IPv6 address typed without its zone still names the interface that has it.
    for (const QHostAddress &o : own) {
        QHostAddress bare = o;
        bare.setScopeId(QString());
        if (o == a || (a.scopeId().isEmpty() && bare == a))
            return o;
    }
    reason = QStringLiteral("Adresse %1 gehört nicht zu diesem Rechner").arg(a.toString());
    return std::nullopt;
}

std::optional<QHostAddress> TLiveServer::listenAddress(const QString &text, QString &reason)
{
    return listenAddress(text, QNetworkInterface::allAddresses(), reason);
}

QString TLiveServer::addressForPhones(const Options &options, quint16 port)
{
    QString host;
    if (options.address != QHostAddress::Any && options.address != QHostAddress::AnyIPv4 &&
        options.address != QHostAddress::AnyIPv6) {
        host = options.address.toString();
    } else {
        for (const QHostAddress &a : QNetworkInterface::allAddresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
                host = a.toString();
                break;
            }
        if (host.isEmpty())
            host = QStringLiteral("127.0.0.1");
    }
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}
