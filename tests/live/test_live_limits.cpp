// The live server against clients that hold its slots or send heads that parsers read in
// different ways, and the address it listens on.
#include "live/ConnectionSlots.h"
#include "live/LiveServer.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

#include "tests/live/HttpAsk.h"

namespace {

using Id = ConnectionSlots::Id;

// A loopback address of its own for client k: the server counts slots per address.
QHostAddress client(int k)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(k));
}

std::unique_ptr<QTcpSocket> connectFrom(const QHostAddress &from, quint16 port)
{
    auto s = std::make_unique<QTcpSocket>();
    s->bind(from, 0);
    s->connectToHost(QHostAddress::LocalHost, port);
    if (!s->waitForConnected(10000))
        return nullptr;
    return s;
}

class LiveLimits : public ::testing::Test
{
protected:
    // A server on 127.0.0.1 whose deadlines follow now.
    quint16 startServer(TLiveServer::Options o = {})
    {
        o.address = QHostAddress::LocalHost;
        o.port = 0;
        o.clock = [this] { return now.load(); };
        QSignalSpy up(&server, &TLiveServer::listening);
        server.start(o);
        if (!up.wait(10000))
            return 0;
        return up.at(0).at(0).value<quint16>();
    }
    std::atomic<qint64> now{0};
    TLiveServer server;
};

} // namespace

TEST(ConnectionSlots, AHeadHasTenSecondsFromItsFirstByteWhateverTricklesIn)
{
    ConnectionSlots table({64, 10000, 15000});
    const Id id = *table.admit("10.0.0.2", 0).id;
    // Nothing sent yet: the idle rule.
    EXPECT_EQ(table.nextDeadline(), 15000);
    // First byte at 2 s, then one a second: the head's time runs on from its first byte.
    for (qint64 t = 2000; t < 12000; t += 1000)
        table.received(id, t, false, true);
    EXPECT_TRUE(table.expired(11999).empty());
    EXPECT_EQ(table.expired(12000), std::vector<Id>{id});

    // A complete head, then the connection waits for the next request under the idle rule;
    // the next head has its own ten seconds, even when it begins in the arrival that ends
    // the one before.
    const Id kept = *table.admit("10.0.0.3", 0).id;
    table.received(kept, 1000, true, false);
    EXPECT_EQ(table.nextDeadline(), 12000); // still the slow one above
    table.release(id);
    EXPECT_EQ(table.nextDeadline(), 16000);
    table.received(kept, 17000, false, true);
    EXPECT_EQ(table.nextDeadline(), 27000);
    table.received(kept, 20000, true, true);
    EXPECT_EQ(table.nextDeadline(), 30000);
}

TEST(ConnectionSlots, OneAddressHoldsAQuarterAndAFreedSlotIsTakenAtOnce)
{
    ConnectionSlots table({8, 10000, 15000});
    const Id first = *table.admit("10.0.0.2", 0).id;
    ASSERT_TRUE(table.admit("10.0.0.2", 0).id);
    const ConnectionSlots::Admission third = table.admit("10.0.0.2", 0);
    EXPECT_FALSE(third.id);
    EXPECT_FALSE(third.evict);
    // Another address is not counted against it.
    EXPECT_TRUE(table.admit("10.0.0.3", 0).id);
    table.release(first);
    EXPECT_TRUE(table.admit("10.0.0.2", 0).id);
    EXPECT_EQ(table.heldBy("10.0.0.2"), 2);
    EXPECT_EQ(table.used(), 3);
}

TEST(ConnectionSlots, WhenAllAreTakenTheLongestWaitingHeadMakesWay)
{
    ConnectionSlots table({4, 10000, 15000});
    const Id silent = *table.admit("a", 0).id;
    const Id reader = *table.admit("b", 100).id;
    table.received(reader, 150, true, false); // answered, waits for its next request
    const Id slow = *table.admit("c", 200).id;
    table.received(slow, 900, false, true);
    const Id second = *table.admit("d", 300).id;
    table.received(second, 400, true, false);
    table.received(second, 500, false, true); // its second head, begun at 500

    // The order of waiting: silent since it was accepted (0), slow since it was accepted
    // (200), second since its second head began (500); the reader is not waiting.
    ConnectionSlots::Admission a = table.admit("e", 1000);
    EXPECT_EQ(a.evict, silent);
    const Id e = *a.id;
    EXPECT_EQ(table.admit("f", 1000).evict, slow);
    EXPECT_EQ(table.admit("g", 1000).evict, second);
    EXPECT_EQ(table.admit("h", 1000).evict, e);
    EXPECT_EQ(table.heldBy("b"), 1);
    EXPECT_EQ(table.used(), 4);
}

TEST(ConnectionSlots, TheAddressHoldingMostGivesWayFirst)
{
    ConnectionSlots table({8, 10000, 15000});
    // A phone whose head is late, then a crowd from three addresses and one more client.
    const Id phone = *table.admit("phone", 0).id;
    std::vector<Id> crowd;
    for (const char *c : {"x", "x", "y", "y", "z", "z"})
        crowd.push_back(*table.admit(c, 100 + qint64(crowd.size())).id);
    ASSERT_TRUE(table.admit("q", 200).id);
    // Each of the crowd's addresses gives up its longest waiting slot before the phone,
    // which has waited longer than any of them.
    EXPECT_EQ(table.admit("w", 1000).evict, crowd[0]);
    EXPECT_EQ(table.admit("v", 1000).evict, crowd[2]);
    EXPECT_EQ(table.admit("u", 1000).evict, crowd[4]);
    // Now every address holds one: the longest waiting goes.
    EXPECT_EQ(table.admit("t", 1000).evict, phone);
}

TEST(ConnectionSlots, AnsweredConnectionsAreNeverPushedOut)
{
    ConnectionSlots table({2, 10000, 15000});
    for (const char *c : {"a", "b"})
        table.received(*table.admit(c, 0).id, 10, true, false);
    const ConnectionSlots::Admission a = table.admit("c", 20);
    EXPECT_FALSE(a.id);
    EXPECT_FALSE(a.evict);
    // Until they fall silent.
    EXPECT_EQ(table.expired(15010).size(), 2u);
}

// The heads are written with LF; each is also sent with CR LF, and both must get the
// same answer.
TEST_F(LiveLimits, LfAndCrLfHeadsAreJudgedAlike)
{
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    const struct
    {
        QByteArray head;
        int status;
    } cases[] = {
        {"GET / HTTP/1.1\nHost: x\n\n", 200},
        {"GET /anzeige HTTP/1.1\nHost: x\n\n", 200},
        {"GET /results.json?t=1 HTTP/1.1\nHost: x\n\n", 200},
        {"GET http://127.0.0.1/ HTTP/1.1\nHost: x\n\n", 404},
        {"GET /%2e%2e/ HTTP/1.1\nHost: x\n\n", 404},
        {"GET /%72esults.json HTTP/1.1\nHost: x\n\n", 404},
        {"GET /anzeige/../../README.md HTTP/1.1\nHost: x\n\n", 404},
        {"GET / HTTP/1.1\nHost: x\nUpgrade: websocket\nConnection: Upgrade\n\n", 404},
        {"GET / HTTP/1.1\nHost: x\nuPgRaDe:websocket\n\n", 404},
        {"GET / HTTP/1.1\nHost: x\nContent-Length: 5\n\nhello", 400},
        {"GET / HTTP/1.1\nHost: x\nTransfer-Encoding: chunked\n\n0\n\n", 400},
        {"GET / HTTP/1.1\nHost: x\n Upgrade: websocket\n\n", 400},
        {"GET / HTTP/1.1\nHost: x\nUpgrade : websocket\n\n", 400},
        {"GET / HTTP/1.1\nno colon\n\n", 400},
        {"\nGET / HTTP/1.1\nHost: x\n\n", 404},
        {"POST / HTTP/1.1\nHost: x\n\n", 405},
        {"GET / HTTP/1.1\nHost: x\nX-Big: " + QByteArray(20000, 'a') + "\n\n", 413},
    };
    for (const auto &c : cases) {
        QByteArray crlf = c.head;
        crlf.replace("\n", "\r\n");
        SCOPED_TRACE(c.head.left(60).toStdString());
        EXPECT_EQ(ask(port, c.head).status, c.status);
        EXPECT_EQ(ask(port, crlf).status, c.status);
    }
    // Line ends mixed within one head, and a CR that ends no line.
    EXPECT_EQ(ask(port, "GET / HTTP/1.1\r\nHost: x\nUpgrade: websocket\r\n\n").status, 404);
    EXPECT_EQ(ask(port, "GET / HTTP/1.1\r\nHost: x\r\nX: a\rUpgrade: websocket\r\n\r\n").status,
              400);
    EXPECT_EQ(ask(port, "GET / HTTP/1.1\r\nHost: x\r\n\n").status, 200);
}

// The gate lets through the pages as they are spelled and nothing else: a path with
// escapes is refused even when it decodes to one of them, so that what passes the gate is
// exactly what the server behind it answers.
TEST(LiveGate, EscapedPathsAreNotThePagesTheyDecodeTo)
{
    const struct
    {
        QByteArray target;
        int status;
    } cases[] = {
        {"/results.json", 200},
        {"/results.json?t=%31", 200},
        {"/%72esults.json", 404},
        {"/results%2ejson", 404},
        {"/results%2Ejson?t=1", 404},
        {"/%61nzeige", 404},
        {"/%2F", 404},
        {"/%2f", 404},
        {"/favicon%2Esvg", 404},
        {"/%66avicon.ico", 404},
        {"%2F", 404},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LiveGate::judge("GET " + c.target + " HTTP/1.1\r\nHost: x\r\n\r\n"), c.status)
            << c.target.toStdString();
}

TEST(LiveGate, HeadsEndAtTheFirstEmptyLineWhateverTheLineEnds)
{
    const struct
    {
        QByteArray bytes;
        qsizetype from; // looked through before, without an end
        qsizetype end;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\nGET", 0, 27},
        {"GET / HTTP/1.1\nHost: x\n\nGET", 0, 24},
        {"GET / HTTP/1.1\r\nHost: x\n\r\n", 0, 26},
        {"GET / HTTP/1.1\nHost: x\r\n\n", 0, 25},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r", 0, -1},
        {"GET / HTTP/1.1\r\nHost: x\r\r\n", 0, -1},
        {"", 0, -1},
        // The end arrives a byte at a time: found although it began before from.
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", 26, 27},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", 25, 27},
        {"GET / HTTP/1.1\nHost: x\n\n", 23, 24},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LiveGate::headEnd(c.bytes, c.from), c.end) << c.bytes.toStdString() << c.from;
}

// A crowd of slow clients from four addresses, each trickling a head one byte a second
// and coming back when it is closed, on a clock the test moves.
TEST_F(LiveLimits, SlowHeadsCannotShutOutAReader)
{
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    struct Attacker
    {
        QHostAddress from;
        std::unique_ptr<QTcpSocket> socket;
        bool original = true;
    };
    std::vector<Attacker> attack;
    auto open = [&](Attacker &a) {
        a.socket = connectFrom(a.from, port);
        ASSERT_NE(a.socket, nullptr);
        a.socket->write("GET / HTTP/1.1\r\nX-Pad: ");
        a.socket->flush();
    };
    for (int k = 2; k <= 5; ++k)
        for (int i = 0; i < 16; ++i) {
            attack.push_back({client(k), nullptr});
            open(attack.back());
        }
    // A seventeenth connection from one of them is refused at once: a quarter each.
    const auto extra = connectFrom(client(2), port);
    ASSERT_NE(extra, nullptr);
    ASSERT_TRUE(extra->waitForReadyRead(10000));
    EXPECT_TRUE(extra->readAll().startsWith("HTTP/1.1 503"));

    for (int second = 0; second <= 25; ++second) {
        now = second * 1000;
        QCoreApplication::processEvents();
        for (Attacker &a : attack) {
            if (a.socket->state() == QAbstractSocket::ConnectedState) {
                a.socket->write("a");
                a.socket->flush();
                continue;
            }
            // Never refused: its address's slots came free the moment it was closed.
            EXPECT_TRUE(a.socket->readAll().isEmpty());
            a.original = false;
            open(a);
        }
        // The reader is answered in every second of the attack, from its first.
        const Answer answer = ask(port, get("/results.json"), client(1));
        ASSERT_EQ(answer.status, 200) << "second " << second;
        if (second == 10) {
            // Every head begun at 0 s is past its ten seconds now, however it trickled.
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    for (const Attacker &a : attack)
                        if (a.original && a.socket->state() == QAbstractSocket::ConnectedState)
                            return false;
                    return true;
                },
                10000));
        }
    }
}

TEST_F(LiveLimits, AnsweredConnectionsHoldTheirSlotsUntilIdle)
{
    TLiveServer::Options o;
    o.maxConnections = 4;
    const quint16 port = startServer(o);
    ASSERT_NE(port, 0);
    std::vector<std::unique_ptr<QTcpSocket>> readers;
    for (int k = 2; k <= 5; ++k) {
        readers.push_back(connectFrom(client(k), port));
        ASSERT_NE(readers.back(), nullptr);
        readers.back()->write(get("/favicon.svg"));
        ASSERT_TRUE(readers.back()->waitForReadyRead(10000));
        EXPECT_TRUE(readers.back()->readAll().startsWith("HTTP/1.1 200"));
    }
    // All four wait for their next request: none makes way.
    EXPECT_EQ(ask(port, get("/")).status, 503);
    // Silent for the idle time: closed before the next newcomer is judged.
    now = o.idleMs;
    EXPECT_EQ(ask(port, get("/")).status, 200);
    for (auto &s : readers) {
        if (s->state() == QAbstractSocket::ConnectedState) {
            EXPECT_TRUE(s->waitForDisconnected(10000));
        }
    }
}

TEST(LiveAddress, OnlyThisMachinesOwnAddressesAreListenedOn)
{
    const QList<QHostAddress> own = {QHostAddress("127.0.0.1"), QHostAddress("::1"),
                                     QHostAddress("192.168.7.20"), QHostAddress("fe80::7%eth0")};
    const struct
    {
        QString text;
        std::optional<QHostAddress> address;
        QString reason;
    } cases[] = {
        {"", QHostAddress(QHostAddress::Any), {}},
        {"  ", QHostAddress(QHostAddress::Any), {}},
        {"localhost", QHostAddress(QHostAddress::LocalHost), {}},
        {"LocalHost ", QHostAddress(QHostAddress::LocalHost), {}},
        {"192.168.7.20", QHostAddress("192.168.7.20"), {}},
        {"::1", QHostAddress("::1"), {}},
        {"fe80::7", QHostAddress("fe80::7%eth0"), {}},
        {"10.9.9.9", std::nullopt, "Adresse 10.9.9.9 gehört nicht zu diesem Rechner"},
        {"0.0.0.0", std::nullopt, "Adresse 0.0.0.0 gehört nicht zu diesem Rechner"},
        {"999.1.1.1", std::nullopt,
         "Adresse „999.1.1.1“ ist ungültig (leer: alle Netzwerke, localhost: nur dieser "
         "Rechner)"},
        {"rechner.local", std::nullopt,
         "Adresse „rechner.local“ ist ungültig (leer: alle Netzwerke, localhost: nur dieser "
         "Rechner)"},
        {"192.168.7.20:8080", std::nullopt,
         "Adresse „192.168.7.20:8080“ ist ungültig (leer: alle Netzwerke, localhost: nur "
         "dieser Rechner)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QString reason;
        const std::optional<QHostAddress> a = TLiveServer::listenAddress(c.text, own, reason);
        EXPECT_EQ(a, c.address);
        EXPECT_EQ(reason, c.reason);
    }
    // This machine's own loopback is one of its addresses.
    QString reason;
    EXPECT_EQ(TLiveServer::listenAddress("127.0.0.1", reason), QHostAddress("127.0.0.1"));
}
