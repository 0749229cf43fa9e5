// The live results under load (loopback only, bounded): 50 clients poll /results.json every
// 200 ms for about 30 s while the simulated barrier makes 100 passes. Prints the answer
// times and, beside the same 100 passes without clients, the stamp error of every pass
// (the worker's stamp minus the moment the barrier sent the change).

#include "app/FMain.h"
#include "app/LiveResults.h"
#include "serial/Comms.h"
#include "serial/SimBarrier.h"
#include "tests/support/TempSettings.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

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

// One client: keeps its connection, asks every kPollMs with the last validator, as the
// page does. Records the answer times in milliseconds and the failures.
void client(quint16 port, std::atomic<bool> &stop, std::mutex &m, Stats &times, int &failures)
{
    QTcpSocket s;
    QByteArray etag;
    auto next = Steady::now();
    while (!stop) {
        if (s.state() != QAbstractSocket::ConnectedState) {
            s.abort();
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
        QByteArray all;
        bool ok = false;
        while (s.waitForReadyRead(5000)) {
            all += s.readAll();
            const qsizetype end = all.indexOf("\r\n\r\n");
            if (end < 0)
                continue;
            qsizetype length = 0;
            for (const QByteArray &line : all.left(end).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
                if (line.toLower().startsWith("etag:"))
                    etag = line.mid(5).trimmed();
            }
            if (all.size() >= end + 4 + length) {
                ok = all.startsWith("HTTP/1.1 200") || all.startsWith("HTTP/1.1 304");
                break;
            }
        }
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
    w.mStart->trigger();
    w.LockLSStart1->trigger();

    // The stamps the worker gave the closings.
    std::vector<TimeStamp> stamps;
    const auto handler = w.ComPort->OnDSR;
    w.ComPort->OnDSR = [&](QObject *s) {
        if (w.ComPort->EventStatus() & 0x20)
            stamps.push_back(w.ComPort->EventStamp());
        handler(s);
    };

    auto taken = [&] {
        int n = 0;
        for (int r = 1; r < w.SortGridPred->RowCount(); ++r)
            n += w.SortGridPred->Cells(1, r).isEmpty() ? 0 : 1;
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

    Stats quiet, loaded, answers;
    const int takenQuiet = runPasses(quiet);

    std::atomic<bool> stop{false};
    std::mutex m;
    int failures = 0;
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back(client, port, std::ref(stop), std::ref(m), std::ref(answers),
                             std::ref(failures));
    const int takenLoaded = runPasses(loaded);
    stop = true;
    for (auto &t : clients)
        t.join();

    std::printf("%d passes %d ms apart, lock time 100 ms; %d clients polling every %d ms\n",
                kPasses, kPassEveryMs, kClients, kPollMs);
    std::printf("passes taken: without clients %d/%d, with clients %d/%d\n", takenQuiet, kPasses,
                takenLoaded, kPasses);
    quiet.print("stamp error without clients", "us");
    loaded.print("stamp error with clients", "us");
    answers.print("answer time of /results.json", "ms");
    std::printf("requests answered: %zu, failed: %d\n", answers.v.size(), failures);
    return 0;
}
