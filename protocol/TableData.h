#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// A protocol table as plain values: row 0 holds the titles, every row has exactly
// colCount cells. What the writers and the live results read, without a widget.
struct TableData
{
    int colCount = 0;
    std::vector<QStringList> rows;

    int rowCount() const { return int(rows.size()); }
    QString cell(int col, int row) const
    {
        if (row < 0 || row >= rowCount() || col < 0)
            return {};
        return rows[size_t(row)].value(col);
    }
};
