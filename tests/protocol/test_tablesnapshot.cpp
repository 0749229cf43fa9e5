// The results protocol as the plain table the file formats take and give.
#include "protocol/ProtocolTables.h"
#include "tests/support/ResultsGrid.h"

#include <gtest/gtest.h>

namespace {

using L = QStringList;

TEST(TableSnapshot, EveryRowHasTheGridsColumnCount)
{
    auto g = makeResults(2, {{"12", "Meier", "10:15:22,31"}, {"7"}});
    const TableData t = TProtocolTables::snapshot(*g);
    EXPECT_EQ(t.colCount, 4);
    EXPECT_EQ(t.rows, (std::vector<L>{{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"},
                                      {"12", "Meier", "10:15:22,31", ""},
                                      {"7", "", "", ""}}));

    // Taken back by another grid, the table is the same cell for cell.
    auto h = makeResults(2, {{"1"}, {"2"}, {"3"}, {"4"}});
    TProtocolTables::applyTable(*h, t);
    EXPECT_EQ(TProtocolTables::snapshot(*h).rows, t.rows);
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
        TProtocolTables::applyTable(*g, TableData{5, c.rows});
        EXPECT_EQ(g->ColCount(), 4);
        EXPECT_EQ(TProtocolTables::snapshot(*g).rows, c.grid);
        // The rows of the old table do not come back when the grid grows again.
        g->setRowCount(4);
        for (int r = int(c.grid.size()); r < 4; ++r)
            EXPECT_TRUE(TProtocolTables::rowBlank(*g, r)) << r;
    }
}

} // namespace
