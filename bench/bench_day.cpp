// What a pass costs late in a long day: the intermediate protocol holds 0, 5,000 or 10,000
// entries (and the results protocol 1,000 cars) while passes come.
//
// UI thread after a time: the entry appended (table work), the time handed to the
// journal, and each timer callback the time causes (the changed rows handed to the
// recovery file, the journal's thread woken).
// CPU per pass: the whole process (every thread: journal, recovery file, fdatasync) over
// a stream of passes 50 ms apart, and over passes 1.1 s apart (each then writes the
// recovery file at once).
// Run it where the user's data folder lives: /tmp may be a memory file system.

#include "app/ProtocolView.h"
#include "app/Safekeeping.h"
#include "platform/Clock.h"
#include "protocol/ProtocolTables.h"
#include "timing/Chronometer.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1))];
}

double cpuMs()
{
    rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// A Qt timer whose callbacks are timed.
class TimedTimer : public QtTimer
{
public:
    explicit TimedTimer(std::vector<double> &us) : m_us(us) {}
    void start(int ms) override
    {
        if (!m_wrapped) {
            m_wrapped = true;
            onTimeout = [inner = onTimeout, this] {
                QElapsedTimer t;
                t.start();
                if (inner)
                    inner();
                m_us.push_back(double(t.nsecsElapsed()) / 1e3);
            };
        }
        QtTimer::start(ms);
    }

private:
    std::vector<double> &m_us;
    bool m_wrapped = false;
};

// Waits in the event loop without waking in between (QTest::qWait wakes every few ms,
// which would count as the program's CPU).
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Run
{
    std::vector<double> tableUs, journalUs, callbackUs;
    double cpuPerPassMs = 0;
};

Run run(int entries, int passes, int apartMs, const QString &folder)
{
    TSortGrid pred, results;
    TProtocolView::configurePred(pred);
    TProtocolView::configureResults(results, 4);
    pred.setCells(1, 0, QStringLiteral("Zeit"));
    pred.setCells(2, 0, QStringLiteral("Nr."));
    pred.setRowCount(std::max(2, entries + 1));
    for (int r = 1; r <= entries; ++r) {
        pred.setCells(0, r, QString::number(r));
        pred.setCells(1, r,
                      TChronometer::timeText(TimeOfDay{8 + r / 3600, r / 60 % 60, r % 60, 0}));
        pred.setCells(2, r, QString::number(r % 997));
    }
    results.setRowCount(1001);
    for (int r = 1; r <= 1000; ++r) {
        results.setCells(0, r, QString::number(r));
        results.setCells(1, r, QStringLiteral("Fahrerin Nummer %1").arg(r));
        results.setCells(2, r, QStringLiteral("08:00:00,00"));
    }
    TProtocolView view(pred, results, TProtocolView::Buttons{});
    SystemClock clock;
    Run out;
    {
        TSafekeeping keeping(view.predTable(), view.resultsTable(), clock, folder);
        keeping.setTimerFactory([&out] { return std::make_unique<TimedTimer>(out.callbackUs); });
        keeping.start(QStringLiteral("bench"), QStringLiteral("0"));
        idle(1500); // the first write and its second are over
        out.callbackUs.clear();
        const double cpu0 = cpuMs();
        for (int k = 0; k < passes; ++k) {
            const TimeOfDay t = clock.now();
            const QString text = TChronometer::timeText(t);
            QElapsedTimer e;
            e.start();
            view.AppendCapture(text);
            out.tableUs.push_back(double(e.nsecsElapsed()) / 1e3);
            e.restart();
            keeping.timeTaken(text, t, QStringLiteral("Lichtschranke 4+6 COM5"));
            out.journalUs.push_back(double(e.nsecsElapsed()) / 1e3);
            idle(apartMs);
        }
        idle(1200); // the last write
        keeping.writer()->flush(60000);
        out.cpuPerPassMs = (cpuMs() - cpu0) / passes;
    }
    return out;
}

void print(const char *what, int entries, const std::vector<double> &us)
{
    std::printf("  %-44s %6d entries: median %7.1f us  p99 %7.1f us  max %7.1f us\n", what, entries,
                percentile(us, 0.5), percentile(us, 0.99), percentile(us, 1.0));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-day-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder in %s\n", qPrintable(QDir::currentPath()));
        return 1;
    }
    std::printf("folder %s\n", qPrintable(dir.path()));
    double first = 0;
    std::printf("A stream of 200 passes 50 ms apart:\n");
    for (int entries : {0, 5000, 10000}) {
        const Run r = run(entries, 200, 50, dir.path() + QStringLiteral("/s%1").arg(entries));
        print("UI thread: entry appended", entries, r.tableUs);
        print("UI thread: time handed to the journal", entries, r.journalUs);
        print("UI thread: a timer callback after it", entries, r.callbackUs);
        if (entries == 0)
            first = r.cpuPerPassMs;
        std::printf(
            "  CPU per pass (all threads)                  %6d entries: %.3f ms (%.2f x the "
            "first; target <= 1.3)\n",
            entries, r.cpuPerPassMs, r.cpuPerPassMs / first);
    }
    std::printf("Ten passes 1.1 s apart (each writes the recovery file at once):\n");
    for (int entries : {0, 5000, 10000}) {
        const Run r = run(entries, 10, 1100, dir.path() + QStringLiteral("/q%1").arg(entries));
        if (entries == 0)
            first = r.cpuPerPassMs;
        print("UI thread: a timer callback after it", entries, r.callbackUs);
        std::printf(
            "  CPU per pass (all threads)                  %6d entries: %.3f ms (%.2f x the "
            "first)\n",
            entries, r.cpuPerPassMs, r.cpuPerPassMs / first);
    }
    return 0;
}
