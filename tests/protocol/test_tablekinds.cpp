// The rules are tested on plain tables and run on the window's grids: both kinds of table
// must hold the same texts after the same operations, find the same rows and sort alike.
#include "app/GridTable.h"
#include "app/ProtocolView.h"
#include "tests/support/core/PlainTables.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

TEST(TableKinds, PlainTableAndGridAgreeAfterRandomOperations)
{
    QRandomGenerator rng(20261209);
    const QStringList texts = {"",         " ",           "7",           "07",   "12",
                               "Anna",     "anna",        "10:00:01,00", "B",    "b",
                               "Zeile\n2", "10:00:00,99", "\t",          "Ärger"};
    for (int round = 0; round < 300; ++round) {
        const bool asPred = rng.bounded(2);
        const int n = 1 + int(rng.bounded(4));
        TSortGrid grid;
        asPred ? TProtocolView::configurePred(grid) : TProtocolView::configureResults(grid, n);
        TGridTable g(grid);
        TPlainTable p(grid.ColCount(), grid.RowCount());
        auto text = [&] { return texts[int(rng.bounded(texts.size()))]; };
        for (int step = 0; step < 40; ++step) {
            const int rows = p.rowCount();
            const int col = int(rng.bounded(p.colCount()));
            switch (rng.bounded(9)) {
            case 0:
            case 1: {
                const int r = int(rng.bounded(rows));
                const QString t = text();
                p.setCell(col, r, t);
                g.setCell(col, r, t);
                break;
            }
            case 2: {
                const int r = int(rng.bounded(rows));
                QStringList cells;
                for (int c = 0; c < p.colCount() + 1; ++c)
                    cells << text();
                p.setRowCells(r, cells);
                g.setRowCells(r, cells);
                break;
            }
            case 3: {
                // Rows that leave are emptied first, as the rules do: a grid keeps the
                // texts of rows it hides.
                const int to = std::max(2, rows + int(rng.bounded(5)) - 2);
                for (ITable *t : {static_cast<ITable *>(&p), static_cast<ITable *>(&g)}) {
                    for (int r = to; r < rows; ++r)
                        t->clearRow(r);
                    t->setRowCount(to);
                }
                break;
            }
            case 4: {
                const int r = int(rng.bounded(rows + 1));
                p.deleteRow(r);
                g.deleteRow(r);
                break;
            }
            case 5: {
                const int r = int(rng.bounded(rows + 1));
                p.insertRow(r);
                g.insertRow(r);
                break;
            }
            case 6: {
                const int r = int(rng.bounded(rows));
                p.clearRow(r);
                g.clearRow(r);
                break;
            }
            case 7:
                p.clearCol(col);
                g.clearCol(col);
                break;
            case 8:
                p.sortByColumn(col);
                g.sortByColumn(col);
                break;
            }
            SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
            ASSERT_EQ(TProtocolTables::snapshot(g).rows, TProtocolTables::snapshot(p).rows);
            for (const QString &t : texts)
                ASSERT_EQ(g.findInColumn(col, t), p.findInColumn(col, t)) << t.toStdString();
            ASSERT_EQ(TProtocolTables::tableEmpty(g), TProtocolTables::tableEmpty(p));
        }
    }
}

} // namespace
