// How long the spreadsheet exchange takes (make bench): 1000 cars with 10 times saved as
// .xls and loaded again through LibreOffice, seconds per direction.
#include "protocol/ProtocolTables.h"
#include "protocol/SheetCommands.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr int kCars = 1000;
constexpr int kTimes = 10;
constexpr int kRounds = 3;

std::unique_ptr<TSortGrid> protocol()
{
    auto g = std::make_unique<TSortGrid>();
    TProtocolTables::configureResults(*g, kTimes);
    g->setRowCount(kCars + 1);
    g->setCells(0, 0, QStringLiteral("Nr."));
    g->setCells(1, 0, QStringLiteral("Fahrer"));
    for (int c = 2; c < kTimes + 2; ++c)
        g->setCells(c, 0, TProtocolTables::timeTitle(c - 1));
    for (int r = 1; r <= kCars; ++r) {
        g->setCells(0, r, QString::number(r));
        g->setCells(1, r, QStringLiteral("Fahrer Müller ") + QString::number(r));
        for (int c = 2; c < kTimes + 2; ++c)
            g->setCells(c, r, QStringLiteral("10:15:%1,31").arg(c + 10));
    }
    return g;
}

// Runs one command to its end; seconds, or -1 when it failed.
double timed(TSheetCommands &s, bool save, const QString &file)
{
    QEventLoop loop;
    bool ok = false;
    auto c = QObject::connect(&s, &TSheetCommands::finished, [&](bool r) {
        ok = r;
        loop.quit();
    });
    QElapsedTimer t;
    t.start();
    save ? s.SaveProtocolSheet(file) : s.LoadProtocolSheet(file);
    loop.exec();
    QObject::disconnect(c);
    return ok ? t.elapsed() / 1000.0 : -1;
}

void report(const char *what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("%-28s min %.2f s  median %.2f s  max %.2f s  (%d runs)\n", what, v.front(),
                v[v.size() / 2], v.back(), int(v.size()));
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!SpreadsheetApp::available()) {
        std::printf("LibreOffice is not installed: nothing measured\n");
        return 0;
    }
    QTemporaryDir dir;
    auto g = protocol();
    auto back = protocol();
    TSheetCommands out(*g, nullptr), in(*back, nullptr);
    out.applicationTitle = QStringLiteral("tornelo");
    const QString file = dir.filePath(QStringLiteral("protokoll.xls"));
    // The first run also sets up the private profile; it is reported on its own.
    std::printf("first save (sets up the profile if new) %.2f s\n", timed(out, true, file));
    std::vector<double> saves, loads;
    for (int i = 0; i < kRounds; ++i) {
        saves.push_back(timed(out, true, file));
        loads.push_back(timed(in, false, file));
    }
    std::printf("%d cars, %d times, .xls:\n", kCars, kTimes);
    report("save", saves);
    report("load", loads);
    std::printf("load kept every row: %s\n",
                back->RowCount() == kCars + 1 && back->Cells(11, kCars) == g->Cells(11, kCars)
                    ? "yes"
                    : "NO");
    return 0;
}
