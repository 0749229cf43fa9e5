// The recovery file kept by following a grid's changes must hold exactly what a copy of
// the grid would, whatever the grid went through between two writes: the grid's change
// notices, told through the table adapter, leave nothing out.
#include "app/GridTable.h"
#include "app/ProtocolView.h"
#include "protocol/ProtocolTables.h"
#include "protocol/Recovery.h"
#include "protocol/RecoveryMirror.h"
#include "protocol/TableFollower.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

TEST(GridChanges, FollowedFileEqualsACopyAfterRandomChanges)
{
    QRandomGenerator rng(4711);
    for (int round = 0; round < 200; ++round) {
        TSortGrid pred, results;
        TProtocolView::configurePred(pred);
        TProtocolView::configureResults(results, 1 + int(rng.bounded(4)));
        TGridTable predTable(pred), resultsTable(results);
        TTableFollower predChanges(predTable), resultsChanges(resultsTable);
        TRecoveryMirror mirror;
        auto text = [&] {
            static const QStringList texts = {"",     " ",           "12",         "Anna\tB.",
                                              "a\\b", "10:00:01,00", "Zeile\nzwei"};
            return texts[int(rng.bounded(texts.size()))];
        };
        for (int step = 0; step < 60; ++step) {
            TSortGrid &g = rng.bounded(2) ? pred : results;
            const int rows = g.RowCount();
            switch (rng.bounded(11)) {
            case 0:
            case 1:
            case 2: // a cell, also one beyond the rows, where hidden texts wait
                g.setCells(int(rng.bounded(g.ColCount())), int(rng.bounded(rows + 2)), text());
                break;
            case 3:
                g.clearRow(int(rng.bounded(rows)));
                break;
            case 4:
                g.setRowCount(std::max(2, rows + int(rng.bounded(5)) - 2));
                break;
            case 5:
                g.DeleteRow(int(rng.bounded(rows)));
                break;
            case 6:
                g.InsertRow(int(rng.bounded(rows)));
                break;
            case 7:
                g.MoveColRow(false, 1 + int(rng.bounded(std::max(1, rows - 1))),
                             1 + int(rng.bounded(std::max(1, rows - 1))));
                break;
            case 8: // a sort rearranges everything
                g.SortOptions().CanSort = true;
                g.SortByColumn(int(rng.bounded(g.ColCount())));
                g.SortOptions().CanSort = false;
                break;
            case 9:
                if (&g == &results)
                    g.setColCount(2 + 1 + int(rng.bounded(4)));
                break;
            case 10: { // the file is written
                mirror.hand(resultsChanges.take(), predChanges.take());
                const auto back = RecoveryFormat::decode(mirror.file({}));
                ASSERT_TRUE(back) << round << " " << step;
                ASSERT_EQ(back->results.colCount, results.ColCount());
                ASSERT_EQ(back->results.rows, TProtocolTables::snapshot(resultsTable).rows)
                    << round << " " << step;
                ASSERT_EQ(back->pred.rows, TProtocolTables::snapshot(predTable).rows)
                    << round << " " << step;
                break;
            }
            }
        }
    }
}

} // namespace
