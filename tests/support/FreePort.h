#pragma once

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>

// A port for a server a test starts (on every interface, as the live results listen by
// default). Taken below the kernel's range for outgoing connections: a port from that range
// may be handed to a client connection between this probe and the server's listen.
inline quint16 freeListenPort()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const quint16 port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}
