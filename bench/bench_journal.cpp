// The journal of every time taken.
//
// UI cost: how long the UI thread spends handing one taken time to the journal (its
// values queued and the journal's thread woken; the line is made there), the same through
// the window's slot (the wake-up scheduled), and how long the events that follow take
// there (the wake-up, and the changed rows handed to the recovery file).
// Durable: from handing the line over to fdatasync having returned for it, on the disk
// of the current folder (run it where the user's data folder lives; /tmp may be a
// memory file system where fdatasync costs nothing).
//
// Times come one by one 20 ms apart (a busy start line), then in bursts of ten at once,
// each while the recovery file is being rewritten with results protocols of 50, 500 and
// 5,000 rows (the intermediate protocol holds 30 entries at most).

#include "app/GridTable.h"
#include "app/Safekeeping.h"
#include "platform/Clock.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures
{
    double p50, p99, max;
};

Figures figures(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    auto at = [&](size_t p) { return v[std::min(v.size() - 1, v.size() * p / 100)]; };
    return {at(50), at(99), v.back()};
}

void print(const char *what, const char *unit, const std::vector<double> &v)
{
    const Figures f = figures(v);
    std::printf("%-52s n %5zu  median %9.1f %s  p99 %9.1f %s  max %9.1f %s\n", what, v.size(),
                f.p50, unit, f.p99, unit, f.max, unit);
}

void fill(TSortGrid &pred, TSortGrid &results, int rows)
{
    // Entries wait in the intermediate protocol only until they are numbered.
    const int entries = std::min(rows, 30);
    pred.setColCount(3);
    pred.setRowCount(entries + 1);
    results.setColCount(6);
    results.setRowCount(rows + 1);
    for (int r = 1; r <= rows; ++r) {
        if (r <= entries) {
            pred.setCells(0, r, QString::number(r));
            pred.setCells(1, r, QStringLiteral("10:15:22,31"));
        }
        for (int c = 0; c < 6; ++c)
            results.setCells(c, r,
                             c == 1 ? QStringLiteral("Fahrerin Nummer %1").arg(r)
                                    : QStringLiteral("10:1%1:22,31").arg(c));
    }
}

void run(int rows, const QString &folder)
{
    TSortGrid pred, results;
    fill(pred, results, rows);
    SystemClock clock;
    TGridTable predTable(pred), resultsTable(results);
    TSafekeeping keeping(predTable, resultsTable, clock, folder);

    // The moment each line was handed over, by its number; durable moments likewise.
    std::mutex m;
    std::vector<Clock::time_point> handed(1, Clock::time_point());
    std::vector<double> durableMs;
    std::atomic<quint64> durable{0};
    keeping.writer()->onDurable = [&](quint64 n) {
        const auto now = Clock::now();
        std::lock_guard lock(m);
        for (quint64 k = durable.load() + 1; k <= n && k < handed.size(); ++k)
            durableMs.push_back(std::chrono::duration<double, std::milli>(now - handed[k]).count());
        durable = n;
    };
    // The start line is number 1.
    {
        std::lock_guard lock(m);
        handed.push_back(Clock::now());
    }
    keeping.start(QStringLiteral("bench"), QStringLiteral("0"));
    while (durable.load() < 1) {
        QCoreApplication::processEvents(); // the wake-up the start line scheduled
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
        std::lock_guard lock(m);
        durableMs.clear();
    }

    std::vector<double> uiUs, lineUs, checkUs;
    const QString source = QStringLiteral("Lichtschranke 4+6 COM5");
    // Each time is handed over twice: through the window's slot (journal and check) and
    // to the journal alone. Which goes first alternates, and only the first of the two is
    // counted: the second would find every cache warm.
    auto take = [&](int k) {
        const TimeOfDay t = clock.now();
        const QString text = QStringLiteral("10:15:%1,31").arg(k % 60, 2, 10, QLatin1Char('0'));
        for (int part = 0; part < 2; ++part) {
            const bool slot = (k + part) % 2 == 0;
            {
                std::lock_guard lock(m);
                handed.push_back(Clock::now());
            }
            const auto a = Clock::now();
            if (slot)
                keeping.timeTaken(text, t, source);
            else {
                keeping.writer()->appendTime(t, text, source);
                keeping.writer()->wake();
            }
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count();
            if (part == 0)
                (slot ? uiUs : lineUs).push_back(us);
        }
        // A change the tables took, as the capture makes one.
        pred.setCells(2, 1, QString::number(k));
    };
    auto check = [&] {
        const auto a = Clock::now();
        QCoreApplication::processEvents(); // the recovery check the time scheduled
        checkUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
    };

    for (int k = 0; k < 300; ++k) {
        take(k);
        check();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int b = 0; b < 30; ++b) {
        for (int k = 0; k < 10; ++k)
            take(k);
        check();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    keeping.writer()->flush(60000);

    char label[96];
    std::snprintf(label, sizeof label, "UI thread: a time to the journal (%d rows)", rows);
    print(label, "us", lineUs);
    std::snprintf(label, sizeof label, "UI thread: the same through the window's slot");
    print(label, "us", uiUs);
    std::snprintf(label, sizeof label, "UI thread: the events after it (%d rows)", rows);
    print(label, "us", checkUs);
    std::lock_guard lock(m);
    std::snprintf(label, sizeof label, "durable after handing over (%d rows)", rows);
    print(label, "ms", durableMs);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-journal-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder in %s\n", qPrintable(QDir::currentPath()));
        return 1;
    }
    std::printf("folder %s\n", qPrintable(dir.path()));
    for (int rows : {50, 500, 5000})
        run(rows, dir.path() + QStringLiteral("/r%1").arg(rows));
    return 0;
}
