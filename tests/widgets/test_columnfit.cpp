#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The kept widths against a grid that measures every row, over random edits (also of rows
// beyond the end), row counts, row moves and deletions, sorts, column moves, whole tables
// taken with widths measured elsewhere, and a new font.
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
        [](TSortGrid &g, int a, int, int col, const QString &t) { g.setCells(col, a, t); },
        // A table read from a file, its widths measured elsewhere as the file commands do.
        [](TSortGrid &g, int a, int, int, const QString &t) {
            std::vector<QStringList> rows;
            for (int r = 0; r < 2 + a % 20; ++r)
                rows.push_back({QString::number(r * 7), t.left(r), r % 2 ? t : QString()});
            g.replaceRows(rows);
            for (int c = 0; c < 3 && g.KeepColumnFit(); ++c) {
                const QFontMetrics fm(g.dataFont(c));
                std::vector<int> widths(rows.size());
                for (size_t r = 1; r < rows.size(); ++r)
                    widths[r] = TSortGrid::textWidth(fm, rows[r][c]);
                g.adoptColumnWidths(c, widths);
            }
        }};
    const QList<QStringList> start{{"Nr.", "Fahrer", "Zeit 1"}, {"1", "A", ""}};
    auto kept = makeSortGrid(start), full = makeSortGrid(start);
    kept->setKeepColumnFit(true);
    std::mt19937 rnd(15);
    for (int step = 0; step < 3000; ++step) {
        const int rows = kept->RowCount(), op = int(rnd() % 10), a = int(rnd() % (rows + 3));
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
