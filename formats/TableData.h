#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// A protocol table as plain values: row 0 holds the titles, every row has exactly
// colCount cells. What the file formats take and give and the live results read; the
// grids hand out and take back such a value (TProtocolTables::snapshot, applyTable).
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

    // Nothing left once characters 0 to 32 are stripped from both ends: the one rule by
    // which a cell counts as empty.
    static bool isBlank(const QString &s)
    {
        for (const QChar ch : s)
            if (ch.unicode() > 32)
                return false;
        return true;
    }
};
