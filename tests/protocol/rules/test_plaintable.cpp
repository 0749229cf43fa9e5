// The plain table: what the rules and the observers rely on of any protocol table.
#include "tests/support/core/PlainTables.h"

#include <gtest/gtest.h>

namespace {

using L = QStringList;

// Every change is told once, with what it was, and moves the revision on; a write of the
// text a cell already holds is no change.
TEST(PlainTable, ChangesAreToldAndCounted)
{
    TPlainTable t(3, 3);
    std::vector<TableChange> told;
    QObject::connect(&t, &ITable::changed, [&](const TableChange &c) { told.push_back(c); });
    const auto kinds = [&] {
        std::vector<int> k;
        for (const TableChange &c : told)
            k.push_back(int(c.kind) * 10000 + c.a * 100 + c.b);
        told.clear();
        return k;
    };
    const quint64 r0 = t.revision();
    t.setCell(1, 2, "x");
    t.setCell(1, 2, "x");
    EXPECT_EQ(kinds(), (std::vector<int>{TableChange::Cell * 10000 + 102}));
    t.setRowCells(1, {"a", "b"});
    EXPECT_EQ(kinds(), (std::vector<int>{TableChange::Row * 10000 + 100 - 1}));
    t.setRowCount(5);
    EXPECT_EQ(kinds(), (std::vector<int>{TableChange::RowCount * 10000 + 305}));
    t.deleteRow(4);
    EXPECT_EQ(kinds(), (std::vector<int>{TableChange::RowDeleted * 10000 + 400 - 1}));
    t.insertRow(1);
    EXPECT_EQ(kinds(), (std::vector<int>{TableChange::RowCount * 10000 + 405,
                                         TableChange::RowMoved * 10000 + 401}));
    t.setColCount(4);
    t.sortByColumn(1);
    EXPECT_EQ(kinds(),
              (std::vector<int>{TableChange::All * 10000 - 101, TableChange::All * 10000 - 101}));
    EXPECT_EQ(t.revision(), r0 + 8);
    // Outside the table nothing is written.
    t.setCell(9, 1, "y");
    t.setCell(1, 9, "y");
    EXPECT_TRUE(kinds().empty());
    EXPECT_EQ(t.cell(9, 1), "");
}

TEST(PlainTable, RowsAsTheRulesUseThem)
{
    TPlainTable t(TableData{3, {{"", "Zeit", "Nr."}, {"1", "10:00:00,00", "7"}, {"2"}}});
    EXPECT_EQ(t.rowCells(2), (L{"2", "", ""}));
    EXPECT_EQ(t.findInColumn(2, "7"), 1);
    EXPECT_EQ(t.findInColumn(2, "07"), -1);
    EXPECT_EQ(t.findInColumn(2, "Nr."), -1); // the titles are no data
    EXPECT_EQ(t.currentRow(), 1);
    t.setCurrentRow(5);
    EXPECT_EQ(t.currentRow(), 2);

    // The only data row is emptied, never deleted; the title row stays.
    t.deleteRow(0);
    t.deleteRow(1);
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.rowCells(1), (L{"2", "", ""}));
    t.deleteRow(1);
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.rowCells(1), (L{"", "", ""}));

    // Rows that come back after the table shrank are empty.
    t.setCell(0, 1, "x");
    t.setRowCount(3);
    t.setCell(0, 2, "y");
    t.setRowCount(2);
    t.setRowCount(3);
    EXPECT_EQ(t.cell(0, 2), "");
    EXPECT_EQ(t.currentRow(), 1);

    // A new row goes where it is asked for and becomes current.
    t.insertRow(1);
    EXPECT_EQ(t.rowCells(1), (L{"", "", ""}));
    EXPECT_EQ(t.cell(0, 2), "x");
    EXPECT_EQ(t.currentRow(), 1);
    t.insertRow(99);
    EXPECT_EQ(t.rowCount(), 5);
    EXPECT_EQ(t.currentRow(), 4);
}

// Ascending by text, letters of either case alike, equal texts in their order; the title
// row stays on top.
TEST(PlainTable, SortIsStableAndIgnoresTheCaseOfLetters)
{
    TPlainTable t(TableData{2,
                            {{"T", "x"},
                             {"b", "1"},
                             {"A", "2"},
                             {"10:00:02,00", "3"},
                             {"a", "4"},
                             {"", "5"},
                             {"B", "6"},
                             {"10:00:01,00", "7"}}});
    t.sortByColumn(0);
    QStringList order;
    for (int r = 0; r < t.rowCount(); ++r)
        order << t.cell(1, r);
    EXPECT_EQ(order, (L{"x", "5", "7", "3", "2", "4", "1", "6"}));
}

TEST(PlainTable, TakingRowsHandsBackTheOldOnes)
{
    TPlainTable t(TableData{2, {{"A", "B"}, {"1", "2"}}});
    std::vector<L> rows{{"X", "Y", "Z"}, {"3"}, {"4", "5"}};
    const auto old = t.takeRows(rows);
    ASSERT_TRUE(old);
    EXPECT_EQ(*old, (std::vector<L>{{"A", "B"}, {"1", "2"}}));
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(TProtocolTables::snapshot(t).rows,
              (std::vector<L>{{"X", "Y"}, {"3", ""}, {"4", "5"}}));
}

} // namespace
