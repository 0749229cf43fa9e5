// The live results under load (loopback only, bounded): 50 clients poll /results.json every
// 200 ms for about 30 s while the simulated barrier makes 100 passes; then the same again
// with a slowloris attack beside them (128 connections from 8 addresses, each trickling
// a request head one byte a second and coming back a second after it was closed) and a
// newcomer opening a fresh connection twice a second. Prints the answer times and, beside
// the same 100 passes without clients, the stamp error of every pass (the worker's stamp
// minus the moment the barrier sent the change). Every client has a loopback address of its
// own, as phones on a network do: the server gives one address at most a quarter of its
// connections.

#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "app/LiveResults.h"
#include "serial/Comms.h"
#include "serial/SimBarrier.h"
#include "tests/support/TempSettings.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kPasses = 100;
constexpr int kPassEveryMs = 300;
constexpr int kClients = 50;
constexpr int kPollMs = 200;
constexpr int kAttackAddresses = 8;
constexpr int kAttackPerAddress = 16;
constexpr int kNewcomerEveryMs = 500;

QHostAddress loopback(int b, int c)
{
    return QHostAddress(QStringLiteral("127.0.%1.%2").arg(b).arg(c));
}

struct Stats
{
    std::vector<double> v;
    double at(double q) const
    {
        if (v.empty())
            return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[std::min(s.size() - 1, size_t(q * double(s.size())))];
    }
    void print(const char *what, const char *unit) const
    {
        std::printf("%-34s n=%zu  p50 %.3f  p99 %.3f  max %.3f %s\n", what, v.size(), at(0.5),
                    at(0.99), at(1.0), unit);
    }
};

// Reads one answer to its end; true for 200 or 304. Keeps the validator it carries.
bool answered(QTcpSocket &s, QByteArray *etag = nullptr)
{
    QByteArray all;
    while (s.waitForReadyRead(5000)) {
        all += s.readAll();
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        qsizetype length = 0;
        for (const QByteArray &line : all.left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
            if (etag && line.toLower().startsWith("etag:"))
                *etag = line.mid(5).trimmed();
        }
        if (all.size() >= end + 4 + length)
            return all.startsWith("HTTP/1.1 200") || all.startsWith("HTTP/1.1 304");
    }
    return false;
}

// One client: keeps its connection, asks every kPollMs with the last validator, as the
// page does. Records the answer times in milliseconds and the failures.
void client(quint16 port, QHostAddress from, std::atomic<bool> &stop, std::mutex &m, Stats &times,
            int &failures)
{
    QTcpSocket s;
    QByteArray etag;
    auto next = Steady::now();
    while (!stop) {
        if (s.state() != QAbstractSocket::ConnectedState) {
            s.abort();
            s.bind(from, 0);
            s.connectToHost(QHostAddress::LocalHost, port);
            if (!s.waitForConnected(5000)) {
                std::lock_guard<std::mutex> l(m);
                ++failures;
                continue;
            }
        }
        QByteArray req = "GET /results.json HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!etag.isEmpty())
            req += "If-None-Match: " + etag + "\r\n";
        req += "\r\n";
        const auto t0 = Steady::now();
        s.write(req);
        const bool ok = answered(s, &etag);
        const double ms = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
        {
            std::lock_guard<std::mutex> l(m);
            if (ok)
                times.v.push_back(ms);
            else
                ++failures;
        }
        next += std::chrono::milliseconds(kPollMs);
        std::this_thread::sleep_until(next);
    }
}

// A newcomer: a fresh connection twice a second, one request, as a phone opening the page.
// Records the time from connecting to the end of the answer.
void newcomer(quint16 port, std::atomic<bool> &stop, std::mutex &m, Stats &times, int &failures)
{
    auto next = Steady::now();
    for (int k = 0; !stop; ++k) {
        QTcpSocket s;
        s.bind(loopback(3, 1 + k % 200), 0);
        const auto t0 = Steady::now();
        s.connectToHost(QHostAddress::LocalHost, port);
        bool ok = false;
        if (s.waitForConnected(5000)) {
            s.write("GET /results.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            ok = answered(s);
        }
        const double ms = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
        {
            std::lock_guard<std::mutex> l(m);
            if (ok)
                times.v.push_back(ms);
            else
                ++failures;
        }
        next += std::chrono::milliseconds(kNewcomerEveryMs);
        std::this_thread::sleep_until(next);
    }
}

// The slowloris: connections that each send the start of a request head and then one
// byte a second, never finishing it; one closed by the server comes back a second later.
struct Slowloris
{
    std::atomic<bool> stop{false};
    int opened = 0, refused = 0, closedByServer = 0, maxHeld = 0;

    void run(quint16 port)
    {
        struct Conn
        {
            int fd = -1;
            int from = 0;
            Steady::time_point next;
        };
        std::vector<Conn> conns(size_t(kAttackAddresses * kAttackPerAddress));
        for (size_t i = 0; i < conns.size(); ++i)
            conns[i].from = 1 + int(i) / kAttackPerAddress;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto drop = [](Conn &c) {
            ::close(c.fd);
            c.fd = -1;
            c.next = Steady::now() + std::chrono::seconds(1);
        };
        while (!stop) {
            const auto now = Steady::now();
            int held = 0;
            for (Conn &c : conns) {
                if (c.fd < 0 && now >= c.next) {
                    c.fd = ::socket(AF_INET, SOCK_STREAM, 0);
                    sockaddr_in from{};
                    from.sin_family = AF_INET;
                    from.sin_addr.s_addr = htonl((127u << 24) | (2u << 8) | unsigned(c.from));
                    if (::bind(c.fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
                        ::connect(c.fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
                        drop(c);
                        continue;
                    }
                    ++opened;
                    const char head[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
                    ::send(c.fd, head, sizeof head - 1, MSG_NOSIGNAL);
                    c.next = now + std::chrono::seconds(1);
                } else if (c.fd >= 0 && now >= c.next) {
                    if (::send(c.fd, "a", 1, MSG_NOSIGNAL) != 1) {
                        ++closedByServer;
                        drop(c);
                        continue;
                    }
                    c.next = now + std::chrono::seconds(1);
                }
                held += c.fd >= 0 ? 1 : 0;
            }
            maxHeld = std::max(maxHeld, held);
            // Wake for what the server sends (a refusal, a close) or the next byte.
            std::vector<pollfd> fds;
            std::vector<Conn *> of;
            for (Conn &c : conns)
                if (c.fd >= 0) {
                    fds.push_back({c.fd, POLLIN, 0});
                    of.push_back(&c);
                }
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            for (size_t i = 0; i < fds.size(); ++i) {
                if (!fds[i].revents)
                    continue;
                char buf[256];
                const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                if (n > 0 && QByteArray(buf, int(n)).startsWith("HTTP/1.1 503"))
                    ++refused;
                else if (n <= 0)
                    ++closedByServer;
                drop(*of[i]);
            }
        }
        for (Conn &c : conns)
            if (c.fd >= 0)
                ::close(c.fd);
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TempSettings settings;
    const QString socket = settings.dir.path() + QStringLiteral("/barrier.sock");
    SimBarrierServer server;
    QString error;
    if (!server.listen(socket, error)) {
        std::printf("barrier: %s\n", qPrintable(error));
        return 1;
    }
    settings.write({{"Port", 5}, {"Wait", 100}, {"Devices/COM5", "sim:" + socket}});
    bool accepted = false;
    std::thread greet([&] { accepted = server.waitForClient(5000); });
    TFormMain w;
    greet.join();
    if (!accepted || !w.ComPort->Connected()) {
        std::printf("the program did not connect to the simulated barrier\n");
        return 1;
    }
    w.show();
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    w.startLiveResults(true, port);
    if (!QTest::qWaitFor([&] { return w.live && w.live->running(); }, 5000)) {
        std::printf("the live results did not start\n");
        return 1;
    }
    ui(w).mStart->trigger();
    ui(w).LockLSStart1->trigger();

    // The stamps the worker gave the closings.
    std::vector<TimeStamp> stamps;
    const auto handler = w.ComPort->OnDSR;
    w.ComPort->OnDSR = [&](QObject *s) {
        if (w.ComPort->EventStatus() & 0x20)
            stamps.push_back(w.ComPort->EventStamp());
        handler(s);
    };

    TSortGrid *const pred = ui(w).SortGridPred;
    auto taken = [&] {
        int n = 0;
        for (int r = 1; r < pred->RowCount(); ++r)
            n += pred->Cells(1, r).isEmpty() ? 0 : 1;
        return n;
    };
    // Makes the passes and returns how many times they took.
    auto runPasses = [&](Stats &stampError) {
        stamps.clear();
        const int before = taken();
        std::vector<SimBarrierServer::ChangeTime> closings;
        std::thread barrier([&] {
            auto next = Steady::now();
            for (int k = 0; k < kPasses; ++k) {
                std::this_thread::sleep_until(next);
                server.closeContact(0x20);
                closings.push_back(server.lastChange());
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                server.openContact(0x20);
                next += std::chrono::milliseconds(kPassEveryMs);
            }
        });
        (void)QTest::qWaitFor([&] { return stamps.size() >= size_t(kPasses); },
                              kPasses * kPassEveryMs + 10000);
        barrier.join();
        QTest::qWait(300);
        for (size_t k = 0; k < std::min(stamps.size(), closings.size()); ++k)
            stampError.v.push_back(
                double(stamps[k].monotonicNs - std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                   closings[k].mono.time_since_epoch())
                                                   .count()) /
                1000.0);
        return taken() - before;
    };

    Stats quiet, loaded, attacked, answers, answersAttacked, fresh;
    const int takenQuiet = runPasses(quiet);

    std::mutex m;
    int failures = 0, failuresAttacked = 0, freshFailures = 0;
    // Readers poll while the passes run; returns the passes taken.
    auto withClients = [&](Stats &stampError, Stats &times, int &fails) {
        std::atomic<bool> stop{false};
        std::vector<std::thread> clients;
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back(client, port, loopback(1, 1 + i), std::ref(stop), std::ref(m),
                                 std::ref(times), std::ref(fails));
        const int n = runPasses(stampError);
        stop = true;
        for (auto &t : clients)
            t.join();
        return n;
    };
    const int takenLoaded = withClients(loaded, answers, failures);

    Slowloris attack;
    std::thread attacker([&] { attack.run(port); });
    // The attack holds what it can before the readers come.
    QTest::qWait(2000);
    std::atomic<bool> stopFresh{false};
    std::thread newcomers(newcomer, port, std::ref(stopFresh), std::ref(m), std::ref(fresh),
                          std::ref(freshFailures));
    const int takenAttacked = withClients(attacked, answersAttacked, failuresAttacked);
    stopFresh = true;
    newcomers.join();
    attack.stop = true;
    attacker.join();

    std::printf("%d passes %d ms apart, lock time 100 ms; %d clients polling every %d ms\n",
                kPasses, kPassEveryMs, kClients, kPollMs);
    std::printf("passes taken: without clients %d/%d, with clients %d/%d, with clients and "
                "slowloris %d/%d\n",
                takenQuiet, kPasses, takenLoaded, kPasses, takenAttacked, kPasses);
    quiet.print("stamp error without clients", "us");
    loaded.print("stamp error with clients", "us");
    attacked.print("stamp error with clients, slowloris", "us");
    answers.print("answer time of /results.json", "ms");
    std::printf("requests answered: %zu, failed: %d\n", answers.v.size(), failures);
    std::printf("slowloris beside: %d connections from %d addresses trickling a head, 1 byte/s\n",
                kAttackAddresses * kAttackPerAddress, kAttackAddresses);
    answersAttacked.print("answer time, slowloris beside", "ms");
    std::printf("requests answered: %zu, failed: %d\n", answersAttacked.v.size(), failuresAttacked);
    fresh.print("newcomer: connect + answer", "ms");
    std::printf("newcomers answered: %zu, failed: %d\n", fresh.v.size(), freshFailures);
    std::printf("slowloris: opened %d, refused (503) %d, closed by the server %d, at most %d "
                "open at once\n",
                attack.opened, attack.refused, attack.closedByServer, attack.maxHeld);
    return 0;
}
