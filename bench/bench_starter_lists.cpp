// How long reading a large starter list takes and how much memory it needs (make bench):
// lists of 10,000, 100,000 and 1,000,000 cars, and a saved protocol with times. Each file
// is read by a child process of its own, so that the peaks do not mix, through the Open
// command's own path (worker, then the table taken over and its columns fitted). Also how
// long the UI thread was busy in one piece meanwhile: the window must not freeze.
#include "app/ProtocolView.h"
#include "formats/TextFormat.h"
#include "protocol/FileCommands.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A value of /proc/self/status in kB (VmRSS: now, VmHWM: the peak so far).
long statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

struct Shape
{
    const char *name;
    int lines;
    bool times; // a saved protocol (TAB, two of four times) rather than a starter list
};

QByteArray fileFor(const Shape &s)
{
    QByteArray out =
        s.times ? "Nr.\tFahrer\tZeit 1\tZeit 2\tZeit 3\tZeit 4\t\r\n" : "Nr.;Fahrer\r\n";
    out.reserve(qsizetype(s.lines) * (s.times ? 60 : 21));
    for (int k = 1; k <= s.lines; ++k) {
        const QByteArray n = QByteArray::number(k);
        if (s.times)
            out += n + "\tFahrer M\xC3\xBCller " + n + "\t10:15:22,31\t10:16:01,02\t \t \t\r\n";
        else
            out += n + ";Name " + n + "\r\n";
    }
    return out;
}

// The child: reads the file as the window does and prints one line of figures.
int readInChild(const QString &file, qint64 bytes, int lines)
{
    int argc = 1;
    char name[] = "bench_starter_lists";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TSortGrid pred, results;
    TProtocolView view(pred, results, {});
    TProtocolView::configurePred(pred);
    TProtocolView::configureResults(results, 4);
    results.resize(700, 300);
    TFileCommands cmd(view.resultsTable(), nullptr);
    QObject::connect(&cmd, &TFileCommands::loaded, [&] { view.resultsLoaded(); });
    const long baseKb = statusKb("VmRSS:");

    // The longest the event loop was away: what a key press would have waited.
    QElapsedTimer clock;
    qint64 lastTick = 0, longest = 0, taken = -1, applied = -1;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = qMax(longest, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    // The worker's result is on the UI thread when the busy state ends; the table is in
    // place and fitted at finished.
    QObject::connect(&cmd, &TFileCommands::busyChanged, [&](bool busy) {
        if (!busy)
            taken = clock.elapsed();
    });
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&cmd, &TFileCommands::finished, [&](bool r) {
        ok = r;
        applied = clock.elapsed();
        loop.quit();
    });
    clock.start();
    tick.start();
    cmd.LoadProtocolText(file);
    loop.exec();
    tick.stop();
    longest = qMax(longest, applied - lastTick);
    const long peakKb = statusKb("VmHWM:");
    // What the recovery file and the live page take of the table on the UI thread after
    // every change.
    QElapsedTimer copying;
    copying.start();
    const TableData copy = TProtocolTables::snapshot(view.resultsTable());
    const qint64 copyMs = copying.elapsed();
    if (!ok || results.RowCount() != lines + 1 || copy.rowCount() != lines + 1) {
        std::printf("reading failed\n");
        std::fflush(stdout);
        return 1;
    }
    const double fileMb = double(bytes) / 1e6;
    const double growthMb = double(peakKb - baseKb) / 1e3;
    std::printf("%9d %8.1f %9lld %9lld %9lld %8lld %8.0f %8.0f %8.0f %7.1f\n", lines, fileMb,
                static_cast<long long>(applied), static_cast<long long>(applied - taken),
                static_cast<long long>(longest), static_cast<long long>(copyMs),
                double(baseKb) / 1e3, double(peakKb) / 1e3, growthMb, growthMb / fileMb);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    const Shape shapes[] = {{"starter list (Nr.;Name)", 10'000, false},
                            {"starter list (Nr.;Name)", 100'000, false},
                            {"starter list (Nr.;Name)", 1'000'000, false},
                            {"saved protocol (TAB, two times)", 100'000, true},
                            {"saved protocol (TAB, two times)", 300'000, true}};
    const char *shown = nullptr;
    for (const Shape &s : shapes) {
        if (!shown || std::strcmp(shown, s.name) != 0) {
            std::printf("\n%s\n%9s %8s %9s %9s %9s %8s %8s %8s %8s %7s\n", s.name, "lines",
                        "file MB", "load ms", "apply ms", "stall ms", "copy ms", "base MB",
                        "peak MB", "grow MB", "x file");
            shown = s.name;
        }
        const QString file = dir.filePath(QStringLiteral("list.txt"));
        const QByteArray bytes = fileFor(s);
        {
            QFile f(file);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                return 1;
        }
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0)
            _exit(readInChild(file, bytes.size(), s.lines));
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return 1;
    }
    std::printf("\nload: from the Open command to the fitted table; apply: the UI thread's part "
                "at the end (taking the rows, fitting the columns); stall: the longest the event "
                "loop was kept away; copy: one copy of the table as the recovery file and the live "
                "page take it; grow: peak resident memory (VmHWM) above the resident memory "
                "before the load.\n");
    return 0;
}
