// Sort grid figures: sorting 10,000 rows, painting a large against a small grid, and
// appending rows one by one. Run: QT_QPA_PLATFORM=offscreen build/bench/bench_sortgrid
#include "widgets/SortGrid.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QRandomGenerator>

#include <memory>

namespace {

QString timeText(QRandomGenerator &rng)
{
    const int ms = rng.bounded(86400000);
    return QString::asprintf("%02d:%02d:%02d,%02d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                             ms / 10 % 100);
}

std::unique_ptr<TSortGrid> filledGrid(int dataRows, quint32 seed = 42)
{
    QRandomGenerator rng(seed);
    auto g = std::make_unique<TSortGrid>();
    g->setColCount(3);
    g->BeginUpdate();
    g->setRowCount(dataRows + 1);
    g->setRows(0, {"", "Zeit", "Nr."});
    for (int r = 1; r <= dataRows; ++r)
        g->setRows(r, {QString::number(r), timeText(rng), QString::number(rng.bounded(1, 500))});
    g->EndUpdate();
    g->resize(400, 600);
    g->show();
    return g;
}

void BM_SortByColumn(benchmark::State &state)
{
    const int rows = int(state.range(0));
    const TSortStyle style = TSortStyle(state.range(1));
    auto g = filledGrid(rows);
    std::vector<QStringList> original;
    for (int r = 0; r <= rows; ++r)
        original.push_back(g->Rows(r));
    for (auto _ : state) {
        state.PauseTiming();
        for (int r = 1; r <= rows; ++r)
            g->setRows(r, original[size_t(r)]);
        g->SortOptions().SortStyle = style;
        state.ResumeTiming();
        g->SortByColumn(style == ssNumeric ? 2 : 1);
    }
    state.SetLabel(style == ssNumeric           ? "ssNumeric, start numbers"
                   : style == ssNumericExtended ? "ssNumericExtended, time texts"
                                                : "ssNormal, time texts");
}
BENCHMARK(BM_SortByColumn)
    ->Args({10000, ssNormal})
    ->Args({10000, ssNumeric})
    ->Args({10000, ssNumericExtended})
    ->Unit(benchmark::kMillisecond);

void BM_Paint(benchmark::State &state)
{
    auto g = filledGrid(int(state.range(0)));
    g->GotoCell(0, int(state.range(0)) / 2, true); // somewhere in the middle
    QImage img(g->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        g->viewport()->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_Paint)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_AppendRowsOneByOne(benchmark::State &state)
{
    const int n = int(state.range(0));
    QRandomGenerator rng(7);
    for (auto _ : state) {
        auto g = std::make_unique<TSortGrid>();
        g->setColCount(3);
        g->setRowCount(2);
        g->resize(400, 600);
        for (int i = 1; i <= n; ++i) {
            // As the intermediate protocol takes each time.
            if (i > 1)
                g->setRowCount(g->RowCount() + 1);
            const int r = g->RowCount() - 1;
            g->setRows(r, {QString::number(r), timeText(rng), QString()});
            g->GotoCell(0, r, true);
        }
        benchmark::DoNotOptimize(g->RowCount());
    }
    state.SetComplexityN(n);
    state.counters["s_per_row"] = benchmark::Counter(
        double(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendRowsOneByOne)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

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
