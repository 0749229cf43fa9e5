#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The kept widths against a grid that measures every row, over random edits, row moves,
// deletions, sorts, column moves and a font change.
TEST(ColumnFit, KeptWidthsMatchAFullMeasureAfterEveryChange)
{
    const QList<QStringList> start{{"Nr.", "Fahrer", "Zeit 1"}, {"1", "A", ""}};
    auto kept = makeSortGrid(start);
    auto full = makeSortGrid(start);
    kept->setKeepColumnFit(true);
    std::mt19937 rnd(15);
    auto pick = [&](int n) { return int(rnd() % unsigned(std::max(n, 1))); };
    for (int step = 0; step < 3000; ++step) {
        const int op = pick(9), rows = kept->RowCount(), a = pick(rows + 3), b = pick(rows);
        const int col = pick(3);
        const QString text(pick(9), QChar(pick(2) ? 'W' : 'i'));
        for (TSortGrid *g : {kept.get(), full.get()}) {
            switch (op) {
            case 0:
            case 1:
                g->setCells(col, a, text); // also rows beyond the end
                break;
            case 2:
                g->setRowCount(2 + a % 20);
                break;
            case 3:
                g->DeleteRow(b);
                break;
            case 4:
                g->InsertRow(std::max(b, 1));
                break;
            case 5:
                g->MoveColRow(false, std::max(b, 1), std::max(a % rows, 1));
                break;
            case 6:
                g->clearRow(a);
                break;
            case 7:
                g->SortByColumn(a % 3);
                break;
            default:
                g->MoveColRow(true, a % 3, col);
            }
            if (step == 1500)
                g->setFont(QFont(g->font().family(), 20));
        }
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(kept->FittedColWidth(c), full->FittedColWidth(c))
                << "step " << step << " op " << op << " column " << c;
    }
}

} // namespace
