// How often the program wakes while nothing happens: the window shown, the journal and the
// recovery file kept, the clock stopped and then running. Each thread's context switches
// (/proc/self/task/*/status) count its wake-ups; the figures are per second over 10 s.
// A laptop on battery all day pays for every one of them.
#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "app/Safekeeping.h"
#include "tests/support/TestClock.h"
#include "widgets/DlgYesNo.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <map>

namespace {

// Context switches of every thread of this process, by thread name.
std::map<QString, long long> switches()
{
    std::map<QString, long long> out;
    for (const QString &tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/self/task/%1/status").arg(tid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QString name;
        long long n = 0;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.startsWith("Name:"))
                name = QString::fromLatin1(line.mid(5).trimmed());
            else if (line.startsWith("voluntary_ctxt_switches:") ||
                     line.startsWith("nonvoluntary_ctxt_switches:"))
                n += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
        out[name + QLatin1Char('/') + tid] = n;
    }
    return out;
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void measure(const char *what)
{
    const auto before = switches();
    idle(10000);
    const auto after = switches();
    long long total = 0;
    std::printf("%s:\n", what);
    for (const auto &[thread, n] : after) {
        const auto it = before.find(thread);
        const long long d = n - (it == before.end() ? 0 : it->second);
        total += d;
        if (d > 0)
            std::printf("  %-28s %6.1f /s\n", qPrintable(thread), double(d) / 10.0);
    }
    // The measuring itself: the one timer that ends the wait.
    std::printf("  all threads                  %6.1f /s\n", double(total) / 10.0);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFormMain::portProbe() = [] { return quint32(0); };
    QTemporaryDir data(QDir::currentPath() + QStringLiteral("/bench-idle-XXXXXX"));
    TestClock clock;
    TFormMain w(&clock);
    TFDlgYesNo dlg(&w);
    w.show();
    w.startSafekeeping(data.path());
    idle(1500);
    measure("Clock stopped, nothing happening (target: at most 5 wake-ups a second)");
    ui(w).mStart->trigger();
    idle(500);
    measure("Clock running (the display every 10 ms)");
    w.showMinimized();
    idle(500);
    measure("Clock running, window minimised");
    return 0;
}
