// The recovery file kept by following a table's changes must hold exactly what a copy of
// the table would, whatever the table went through between two writes.
#include "protocol/Recovery.h"
#include "protocol/RecoveryMirror.h"
#include "protocol/TableFollower.h"
#include "tests/support/core/PlainTables.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

TEST(TableFollower, FollowedFileEqualsACopyAfterRandomChanges)
{
    QRandomGenerator rng(4711);
    for (int round = 0; round < 200; ++round) {
        auto pred = plainPred();
        auto results = plainResults(1 + int(rng.bounded(4)));
        TTableFollower predChanges(*pred), resultsChanges(*results);
        TRecoveryMirror mirror;
        auto text = [&] {
            static const QStringList texts = {"",     " ",           "12",         "Anna\tB.",
                                              "a\\b", "10:00:01,00", "Zeile\nzwei"};
            return texts[int(rng.bounded(texts.size()))];
        };
        for (int step = 0; step < 60; ++step) {
            ITable &t = rng.bounded(2) ? static_cast<ITable &>(*pred) : *results;
            const int rows = t.rowCount();
            switch (rng.bounded(11)) {
            case 0:
            case 1:
            case 2: // a cell, also one beyond the rows, which the table ignores
                t.setCell(int(rng.bounded(t.colCount())), int(rng.bounded(rows + 2)), text());
                break;
            case 3:
                t.clearRow(int(rng.bounded(rows)));
                break;
            case 4:
                t.setRowCount(std::max(2, rows + int(rng.bounded(5)) - 2));
                break;
            case 5:
                t.deleteRow(int(rng.bounded(rows)));
                break;
            case 6:
                t.insertRow(int(rng.bounded(rows + 1)));
                break;
            case 7: { // a whole row written at once
                QStringList cells;
                for (int c = 0; c < t.colCount(); ++c)
                    cells << text();
                t.setRowCells(int(rng.bounded(rows)), cells);
                break;
            }
            case 8: // a sort rearranges everything
                t.sortByColumn(int(rng.bounded(t.colCount())));
                break;
            case 9:
                if (&t == results.get())
                    t.setColCount(2 + 1 + int(rng.bounded(4)));
                break;
            case 10: { // the file is written
                mirror.hand(resultsChanges.take(), predChanges.take());
                const auto back = RecoveryFormat::decode(mirror.file({}));
                ASSERT_TRUE(back) << round << " " << step;
                ASSERT_EQ(back->results.colCount, results->colCount());
                ASSERT_EQ(back->results.rows, TProtocolTables::snapshot(*results).rows)
                    << round << " " << step;
                ASSERT_EQ(back->pred.rows, TProtocolTables::snapshot(*pred).rows)
                    << round << " " << step;
                break;
            }
            }
        }
    }
}

} // namespace
