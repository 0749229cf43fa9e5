#pragma once

// A raw HTTP exchange for the live-results tests: one request over a fresh connection,
// read to the end of its answer. The server runs on its own thread, so the test may block.
#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

struct Answer
{
    int status = 0;
    QByteArray headers;
    QByteArray body;
    bool closed = false;
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : headers.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
};

// One raw request over a fresh connection; the server runs on its own thread, so the
// test may block here. from: the loopback address to send from (the server counts its
// connections per client address).
inline Answer ask(quint16 port, const QByteArray &request,
                  const QHostAddress &from = QHostAddress::LocalHost)
{
    Answer a;
    QTcpSocket s;
    s.bind(from, 0);
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(10000))
        return a;
    s.write(request);
    s.waitForBytesWritten(10000);
    QByteArray all;
    for (;;) {
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end >= 0) {
            a.headers = all.left(end);
            a.status = all.mid(9, 3).toInt();
            const int length = a.header("Content-Length").toInt();
            if (all.size() - end - 4 >= length) {
                a.body = all.mid(end + 4, length);
                break;
            }
        }
        if (s.state() != QAbstractSocket::ConnectedState && s.bytesAvailable() == 0) {
            a.closed = true;
            break;
        }
        if (!s.waitForReadyRead(10000)) {
            all += s.readAll();
            if (s.state() != QAbstractSocket::ConnectedState)
                continue;
            break;
        }
        all += s.readAll();
    }
    return a;
}

inline QByteArray get(const QByteArray &target, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}
