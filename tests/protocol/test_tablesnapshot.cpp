// The results protocol grid as the plain values the file formats take and give, through
// the table adapter: rows the grid keeps beyond its end never come back.
#include "protocol/ProtocolTables.h"
#include "tests/support/ResultsGrid.h"

#include <gtest/gtest.h>

namespace {

using L = QStringList;

TEST(TableSnapshot, EveryRowHasTheGridsColumnCount)
{
    auto g = makeResults(2, {{"12", "Meier", "10:15:22,31"}, {"7"}});
    const TableData t = TProtocolTables::snapshot(TGridTable(*g));
    EXPECT_EQ(t.colCount, 4);
    EXPECT_EQ(t.rows, (std::vector<L>{{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"},
                                      {"12", "Meier", "10:15:22,31", ""},
                                      {"7", "", "", ""}}));

    // Taken back by another grid, the table is the same cell for cell.
    auto h = makeResults(2, {{"1"}, {"2"}, {"3"}, {"4"}});
    TGridTable ht(*h);
    TProtocolTables::applyTable(ht, t);
    EXPECT_EQ(TProtocolTables::snapshot(TGridTable(*h)).rows, t.rows);
}

TEST(TableApply, RowsAreReplacedAndTheColumnsStayTheGrids)
{
    const struct
    {
        const char *what;
        std::vector<L> rows;
        std::vector<L> grid;
    } cases[] = {
        {"cells beyond the last column are dropped, missing ones empty",
         {{"A", "B", "C", "D", "E"}, {"1"}},
         {{"A", "B", "C", "D"}, {"1", "", "", ""}}},
        {"a title row alone gets one empty data row",
         {{"Nr.", "Fahrer"}},
         {{"Nr.", "Fahrer", "", ""}, {"", "", "", ""}}},
        {"nothing at all leaves two empty rows", {}, {{"", "", "", ""}, {"", "", "", ""}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto g = makeResults(2, {{"99", "Alt", "a", "b"}, {"98", "Alt"}, {"97", "Alt"}});
        TGridTable gt(*g);
        TProtocolTables::applyTable(gt, TableData{5, c.rows});
        EXPECT_EQ(g->ColCount(), 4);
        EXPECT_EQ(TProtocolTables::snapshot(TGridTable(*g)).rows, c.grid);
        // The rows of the old table do not come back when the grid grows again.
        g->setRowCount(4);
        for (int r = int(c.grid.size()); r < 4; ++r)
            EXPECT_TRUE(TProtocolTables::rowBlank(gt, r)) << r;
    }
}

// Taking the rows over gives the grid the same table as copying them cell by cell, and
// hands back the rows it held, also those kept beyond its end, which must not come back.
TEST(TableTake, SameAsApplyingAndTheOldRowsGo)
{
    auto g = makeResults(2, {{"99", "Alt", "a", "b"}, {"98", "Alt"}, {"97", "Alt"}});
    g->setRowCount(2);
    const TableData t{4, {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}, {"1", "A", "", ""}, {"2"}}};
    TableData full = t;
    full.rows[2] = L{"2", "", "", ""};
    TGridTable gt(*g);
    const std::optional<std::vector<L>> old = TProtocolTables::takeTable(gt, full);
    ASSERT_TRUE(old.has_value());
    ASSERT_EQ(old->size(), 4u);
    EXPECT_EQ(old->at(3).value(0), "97");
    auto h = makeResults(2);
    TGridTable ht(*h);
    TProtocolTables::applyTable(ht, t);
    EXPECT_EQ(TProtocolTables::snapshot(TGridTable(*g)).rows,
              TProtocolTables::snapshot(TGridTable(*h)).rows);
    EXPECT_EQ(g->RowCount(), 3);
    g->setRowCount(4);
    EXPECT_TRUE(TProtocolTables::rowBlank(gt, 3));

    // A table of another width is fitted to the grid's columns instead.
    EXPECT_FALSE(TProtocolTables::takeTable(gt, TableData{5, {{"A", "B", "C", "D", "E"}, {"1"}}}));
    EXPECT_EQ(TProtocolTables::snapshot(TGridTable(*g)).rows,
              (std::vector<L>{{"A", "B", "C", "D"}, {"1", "", "", ""}}));
}

} // namespace
