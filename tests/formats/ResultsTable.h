#pragma once

#include "formats/TableData.h"

#include <initializer_list>

// A results protocol with N time columns and its titles, filled row by row from lists of
// cells; at least one data row, as the window's table has.
inline TableData resultsTable(int n, std::initializer_list<QStringList> rows = {})
{
    TableData t;
    t.colCount = n + 2;
    QStringList titles{QStringLiteral("Nr."), QStringLiteral("Fahrer")};
    for (int k = 1; k <= n; ++k)
        titles << QStringLiteral("Zeit ") + QString::number(k);
    t.rows.push_back(titles);
    for (QStringList cells : rows) {
        cells.resize(t.colCount);
        t.rows.push_back(cells);
    }
    if (t.rows.size() < 2)
        t.rows.emplace_back(t.colCount);
    return t;
}
