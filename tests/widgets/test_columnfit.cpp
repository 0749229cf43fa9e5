#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The kept widths against a grid that measures every row, over random edits (also of rows
// beyond the end), row counts, row moves and deletions, sorts, column moves and a new font.
TEST(ColumnFit, KeptWidthsMatchAFullMeasureAfterEveryChange)
{
    using Op = std::function<void(TSortGrid &, int a, int row, int col, const QString &)>;
    const Op ops[] = {
        [](TSortGrid &g, int a, int, int, const QString &) { g.setRowCount(2 + a % 20); },
        [](TSortGrid &g, int, int row, int, const QString &) { g.DeleteRow(row); },
        [](TSortGrid &g, int, int row, int, const QString &) { g.InsertRow(row); },
        [](TSortGrid &g, int a, int row, int, const QString &) { g.MoveColRow(false, row, a); },
        [](TSortGrid &g, int a, int, int, const QString &) { g.clearRow(a); },
        [](TSortGrid &g, int, int, int col, const QString &) { g.SortByColumn(col); },
        [](TSortGrid &g, int a, int, int col, const QString &) { g.MoveColRow(true, a % 3, col); },
        [](TSortGrid &g, int a, int, int col, const QString &t) { g.setCells(col, a, t); },
        [](TSortGrid &g, int a, int, int col, const QString &t) { g.setCells(col, a, t); }};
    const QList<QStringList> start{{"Nr.", "Fahrer", "Zeit 1"}, {"1", "A", ""}};
    auto kept = makeSortGrid(start), full = makeSortGrid(start);
    kept->setKeepColumnFit(true);
    std::mt19937 rnd(15);
    for (int step = 0; step < 3000; ++step) {
        const int rows = kept->RowCount(), op = int(rnd() % 9), a = int(rnd() % (rows + 3));
        const int row = 1 + int(rnd() % (rows - 1)), col = int(rnd() % 3);
        const QString text(int(rnd() % 30), QChar(rnd() % 2 ? 'W' : 'i'));
        for (TSortGrid *g : {kept.get(), full.get()}) {
            ops[op](*g, a, row, col, text);
            if (step == 1500)
                g->setFont(QFont(g->font().family(), 20));
        }
        if (rnd() % 5 != 0) // so that changes pile up between two fits
            continue;
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(kept->FittedColWidth(c), full->FittedColWidth(c)) << step << " op " << op;
    }
}

} // namespace
