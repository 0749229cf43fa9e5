// How long the spreadsheet exchange takes (make bench): 1000 cars with 10 times saved and
// loaded again as .xlsx, .ods and .xls, milliseconds per command as the window sees it
// (from the click to the finished signal), and 100,000 cars as .xlsx.
#include "app/GridTable.h"
#include "app/ProtocolView.h"
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
constexpr int kManyCars = 100000;
constexpr int kTimes = 10;
constexpr int kRounds = 5;

std::unique_ptr<TSortGrid> protocol(int cars)
{
    auto g = std::make_unique<TSortGrid>();
    TProtocolView::configureResults(*g, kTimes);
    g->setRowCount(cars + 1);
    g->setCells(0, 0, QStringLiteral("Nr."));
    g->setCells(1, 0, QStringLiteral("Fahrer"));
    for (int c = 2; c < kTimes + 2; ++c)
        g->setCells(c, 0, TProtocolTables::timeTitle(c - 1));
    for (int r = 1; r <= cars; ++r) {
        g->setCells(0, r, QString::number(r));
        g->setCells(1, r, QStringLiteral("Fahrer Müller ") + QString::number(r));
        for (int c = 2; c < kTimes + 2; ++c)
            g->setCells(c, r,
                        QStringLiteral("10:%1:%2,%3")
                            .arg(c + 10)
                            .arg(r % 60, 2, 10, QLatin1Char('0'))
                            .arg(r % 100, 2, 10, QLatin1Char('0')));
    }
    return g;
}

// Runs one command to its end; milliseconds, or -1 when it failed.
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
    return ok ? double(t.nsecsElapsed()) / 1e6 : -1;
}

void report(const QString &what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.front() < 0) {
        std::printf("%-26s FAILED\n", qPrintable(what));
        return;
    }
    std::printf("%-26s min %8.1f ms  median %8.1f ms  max %8.1f ms  (%d runs)\n", qPrintable(what),
                v.front(), v[v.size() / 2], v.back(), int(v.size()));
}

bool sameTable(TSortGrid &a, TSortGrid &b)
{
    if (a.RowCount() != b.RowCount())
        return false;
    for (int r = 0; r < a.RowCount(); ++r)
        for (int c = 0; c < a.ColCount(); ++c)
            if (a.Cells(c, r) != b.Cells(c, r))
                return false;
    return true;
}

void measure(const char *suffix, int cars, int rounds, const QString &dir)
{
    auto g = protocol(cars);
    auto back = protocol(1);
    TGridTable gt(*g, {0, 1}), backt(*back, {0, 1});
    TSheetCommands out(gt, nullptr), in(backt, nullptr);
    out.applicationTitle = QStringLiteral("tornelo");
    const QString file = dir + QStringLiteral("/protokoll.") + QLatin1String(suffix);
    std::vector<double> saves, loads;
    for (int i = 0; i < rounds; ++i) {
        saves.push_back(timed(out, true, file));
        loads.push_back(timed(in, false, file));
    }
    const QString what = QStringLiteral("%1 cars .%2").arg(cars).arg(QLatin1String(suffix));
    report(what + QStringLiteral(" save"), saves);
    report(what + QStringLiteral(" load"), loads);
    std::printf("%-26s %s\n", "  load equals the table:", sameTable(*g, *back) ? "yes" : "NO");
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("%d times per car; LibreOffice %s\n", kTimes,
                SpreadsheetApp::available() ? "installed" : "not installed");
    if (SpreadsheetApp::available()) {
        // The first start of LibreOffice also sets up its private profile.
        auto g = protocol(1);
        TGridTable gt(*g);
        TSheetCommands first(gt, nullptr);
        std::printf("first .xls save (sets up the profile if new) %.1f ms\n",
                    timed(first, true, dir.filePath(QStringLiteral("first.xls"))));
    }
    measure("xlsx", kCars, kRounds, dir.path());
    measure("ods", kCars, kRounds, dir.path());
    if (SpreadsheetApp::available())
        measure("xls", kCars, kRounds, dir.path());
    measure("xlsx", kManyCars, 1, dir.path());
    return 0;
}
