// Cost of one display tick of the running chronometer: the clock reading, ShowTime on the
// upper row and the repaints it causes, on the offscreen platform. Prints median and p99.
#include "tests/support/TestClock.h"
#include "timing/Chronometer.h"
#include "timing/display/TimeDisplay.h"

#include <QApplication>
#include <QEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

class NullCommandPanel : public ICommandPanel
{
public:
    void setCommandEnabled(ChronoCommand, bool) override {}
    void setResetCaption(const QString &) override {}
};

TimeOfDay fromValue(qint32 v)
{
    return TimeOfDay{v / 3600000, v / 60000 % 60, v / 1000 % 60, v % 1000};
}

// Runs `ticks` display ticks, each at the time `timeAt(i)` gives, and prints the figures.
void measure(const char *label, TChronometer &chrono, TestClock &clock, int ticks,
             const std::function<qint32(int)> &timeAt)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> us;
    us.reserve(ticks);
    const int warmUp = 200;
    // Start from an empty event queue, so no scenario pays for the one before it.
    QCoreApplication::processEvents();
    for (int i = 0; i < warmUp + ticks; ++i) {
        clock.t = fromValue(timeAt(i));
        const auto t0 = Clock::now();
        chrono.tick();
        // The repaints the tick asked for, delivered now as the event loop would.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        const auto t1 = Clock::now();
        if (i >= warmUp)
            us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(us.begin(), us.end());
    const double median = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    std::printf("%-44s ticks %6d  median %8.1f us  p99 %8.1f us  max %8.1f us\n", label, ticks,
                median, p99, us.back());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    TestClock clock;
    NullCommandPanel commands;
    TChronometer chrono(clock, commands);
    TTimeDisplay panel;
    chrono.setDisplayOutput(&panel);
    panel.show();
    QCoreApplication::processEvents();
    chrono.start();
    chrono.Clock().stop(); // the ticks come from the loop below

    const qint32 start = 10 * 3600000 + 1 * 60000 + 23 * 1000 + 456;
    std::printf("Display tick on the offscreen platform (target: median below 200 us)\n");
    measure("running clock, 10 ms per tick", chrono, clock, 20000,
            [&](int i) { return start + 10 * i; });
    measure("all eight digits change every tick", chrono, clock, 5000,
            [&](int i) { return (i & 1) ? 0 : 11 * 3600000 + 11 * 60000 + 11 * 1000 + 110; });
    measure("same hundredth (nothing repainted)", chrono, clock, 20000, [&](int) { return start; });
    return 0;
}
