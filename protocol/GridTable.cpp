#include "protocol/GridTable.h"

#include "widgets/SortGrid.h"

TableData GridTable::snapshot(const TSortGrid &g)
{
    TableData t;
    t.colCount = g.ColCount();
    t.rows.reserve(size_t(g.RowCount()));
    for (int r = 0; r < g.RowCount(); ++r) {
        QStringList row = g.Rows(r);
        while (row.size() < t.colCount)
            row << QString();
        row = row.mid(0, t.colCount);
        t.rows.push_back(row);
    }
    return t;
}

void GridTable::apply(TSortGrid &g, const TableData &t)
{
    g.BeginUpdate();
    const int rows = std::max(2, t.rowCount());
    // The grid keeps the texts of rows it hides; those of the old table must not come back
    // when it grows again.
    for (int r = rows; r < g.RowCount(); ++r)
        g.clearRow(r);
    g.setRowCount(rows);
    for (int r = 0; r < g.RowCount(); ++r) {
        QStringList row = r < t.rowCount() ? t.rows[size_t(r)].mid(0, g.ColCount()) : QStringList();
        while (row.size() < g.ColCount())
            row << QString();
        g.setRows(r, row);
    }
    g.EndUpdate();
}
