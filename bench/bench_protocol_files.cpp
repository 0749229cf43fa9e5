// How long saving and loading a large results protocol takes (make bench): 1000 cars
// with 100 time columns, as text file and as HTML page.
#include "app/GridTable.h"
#include "app/ProtocolView.h"
#include "formats/HtmlReport.h"
#include "formats/TextFormat.h"
#include "protocol/FileCommands.h"
#include "protocol/ProtocolTables.h"
#include "tests/support/TextLoads.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>

namespace {
constexpr int kCars = 1000;
constexpr int kTimes = 100;

std::unique_ptr<TSortGrid> bigProtocol()
{
    auto g = std::make_unique<TSortGrid>();
    TProtocolView::configureResults(*g, kTimes);
    g->setRowCount(kCars + 1);
    g->setCells(0, 0, QStringLiteral("Nr."));
    g->setCells(1, 0, QStringLiteral("Fahrer"));
    for (int c = 2; c < kTimes + 2; ++c)
        g->setCells(c, 0, TProtocolTables::timeTitle(c - 1));
    for (int r = 1; r <= kCars; ++r) {
        g->setCells(0, r, QString::number(r));
        g->setCells(1, r, QStringLiteral("Fahrer Müller ") + QString::number(r));
        for (int c = 2; c < kTimes + 2; ++c)
            g->setCells(c, r, QStringLiteral("10:15:22,31"));
    }
    return g;
}

void BM_SaveText(benchmark::State &state)
{
    QTemporaryDir dir;
    auto g = bigProtocol();
    TGridTable table(*g, {0, 1});
    TFileCommands cmd(table, nullptr);
    const QString f = dir.filePath(QStringLiteral("p.txt"));
    for (auto _ : state)
        benchmark::DoNotOptimize(cmd.SaveProtocolText(f));
    state.SetBytesProcessed(state.iterations() * QFileInfo(f).size());
}
BENCHMARK(BM_SaveText)->Unit(benchmark::kMillisecond);

void BM_LoadText(benchmark::State &state)
{
    QTemporaryDir dir;
    auto g = bigProtocol();
    TGridTable table(*g, {0, 1});
    TFileCommands cmd(table, nullptr);
    const QString f = dir.filePath(QStringLiteral("p.txt"));
    cmd.SaveProtocolText(f);
    // The file is read on a worker; an iteration ends when the table has taken it.
    for (auto _ : state)
        benchmark::DoNotOptimize(loadText(cmd, f));
    state.SetBytesProcessed(state.iterations() * QFileInfo(f).size());
}
BENCHMARK(BM_LoadText)->Unit(benchmark::kMillisecond);

void BM_WriteHtml(benchmark::State &state)
{
    QTemporaryDir dir;
    auto g = bigProtocol();
    TGridTable table(*g, {0, 1});
    TFileCommands cmd(table, nullptr);
    cmd.applicationTitle = QStringLiteral("tornelo");
    const QString f = dir.filePath(QStringLiteral("p.html"));
    for (auto _ : state)
        benchmark::DoNotOptimize(cmd.WriteHtmlReport(f));
    state.SetBytesProcessed(state.iterations() * QFileInfo(f).size());
}
BENCHMARK(BM_WriteHtml)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
