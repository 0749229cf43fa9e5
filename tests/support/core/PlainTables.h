#pragma once

#include "protocol/PlainTable.h"
#include "protocol/ProtocolTables.h"

#include <QStringList>

#include <initializer_list>
#include <memory>

// Both protocols as plain tables with the titles the window gives them: the intermediate
// protocol (running number, time, "Nr.") and the results protocol with N time columns,
// filled row by row from lists of cells.
inline std::unique_ptr<TPlainTable> plainPred(std::initializer_list<QStringList> rows = {})
{
    auto t = std::make_unique<TPlainTable>(3, 2);
    t->setRowCells(0, {QString(), QStringLiteral("Zeit"), QStringLiteral("Nr.")});
    int r = 1;
    for (const QStringList &cells : rows) {
        if (t->rowCount() <= r)
            t->setRowCount(r + 1);
        t->setRowCells(r++, cells);
    }
    return t;
}

inline std::unique_ptr<TPlainTable> plainResults(int n,
                                                 std::initializer_list<QStringList> rows = {})
{
    auto t = std::make_unique<TPlainTable>(n + 2, 2);
    QStringList titles{QStringLiteral("Nr."), QStringLiteral("Fahrer")};
    for (int k = 1; k <= n; ++k)
        titles << TProtocolTables::timeTitle(k);
    t->setRowCells(0, titles);
    int r = 1;
    for (const QStringList &cells : rows) {
        if (t->rowCount() <= r)
            t->setRowCount(r + 1);
        t->setRowCells(r++, cells);
    }
    return t;
}

inline QStringList tableRow(const ITable &t, int r)
{
    return t.rowCells(r);
}
