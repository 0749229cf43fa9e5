#include "live/LiveServer.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

enum class Verdict
{
    Serve,
    NotFound,
    MethodNotAllowed,
    TooLarge
};

// The paths there are; nothing is ever looked up on the disk.
bool knownPath(const QByteArray &path)
{
    return path == "/" || path == "/results.json" || path == "/favicon.svg" ||
           path == "/favicon.ico";
}

// Judges a request head from its raw bytes, before the HTTP parser sees it: the request
// target must be one of the paths above exactly as written (no absolute URL, no escapes,
// no dot segments), and only GET is answered.
Verdict judgeHead(const QByteArray &head)
{
    const qsizetype end = head.indexOf("\r\n");
    const QList<QByteArray> parts = head.left(end < 0 ? head.size() : end).split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1."))
        return Verdict::NotFound;
    QByteArray target = parts[1];
    const qsizetype query = target.indexOf('?');
    if (query >= 0)
        target.truncate(query);
    if (!knownPath(target))
        return Verdict::NotFound;
    if (parts[0] != "GET")
        return Verdict::MethodNotAllowed;
    // Plain answers only: a connection upgrade (WebSocket) is never taken up.
    if (head.toLower().contains("\r\nupgrade:"))
        return Verdict::NotFound;
    return Verdict::Serve;
}

QByteArray refusal(Verdict v)
{
    switch (v) {
    case Verdict::MethodNotAllowed:
        return "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n";
    case Verdict::TooLarge:
        return "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    default:
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
}

// Accepts at most a fixed number of connections, closes idle ones, and looks at every
// request head before the HTTP server does.
class BoundedTcpServer : public QTcpServer
{
public:
    BoundedTcpServer(const TLiveServer::Options &o, QObject *parent)
        : QTcpServer(parent), m_options(o)
    {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_open >= m_options.maxConnections) {
            socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                          "Connection: close\r\n\r\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
        idle->start(m_options.idleMs);

        // Connected before the HTTP server connects its own, so this runs first on every
        // arrival of data.
        auto *pending = new QByteArray;
        connect(socket, &QObject::destroyed, [pending] { delete pending; });
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, idle, pending] {
            idle->start(m_options.idleMs);
            if (m_refused.contains(socket)) {
                socket->readAll();
                return;
            }
            pending->append(socket->peek(socket->bytesAvailable()));
            for (;;) {
                const qsizetype end = pending->indexOf("\r\n\r\n");
                if (end < 0) {
                    if (pending->size() > m_options.maxRequestBytes)
                        refuse(socket, Verdict::TooLarge);
                    return;
                }
                const Verdict v = end + 4 > m_options.maxRequestBytes
                                      ? Verdict::TooLarge
                                      : judgeHead(pending->left(end));
                if (v != Verdict::Serve) {
                    refuse(socket, v);
                    return;
                }
                pending->remove(0, end + 4);
            }
        });
        addPendingConnection(socket);
    }

private:
    void refuse(QTcpSocket *socket, Verdict v)
    {
        // The HTTP server never sees this request: its bytes are taken away here.
        m_refused.insert(socket);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_refused.remove(socket); });
        socket->readAll();
        socket->write(refusal(v));
        socket->disconnectFromHost();
    }

    TLiveServer::Options m_options;
    int m_open = 0;
    QSet<QTcpSocket *> m_refused;
};

} // namespace

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
        if (path != QLatin1String("/") && path != QLatin1String("/results.json")) {
            responder.write(Status::NotFound);
            return;
        }
        render();
        if (path == QLatin1String("/")) {
            responder.write(m_page, {{"Content-Type", "text/html; charset=utf-8"},
                                     {"Cache-Control", "no-cache"}});
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
    }

    std::unique_ptr<QHttpServer> m_http;
    QTcpServer *m_tcp = nullptr;
    std::shared_ptr<const LiveSnapshot> m_rendered;
    QByteArray m_json, m_etag, m_page;
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
