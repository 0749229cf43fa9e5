#pragma once

#include "app/GridTable.h"
#include "app/ProtocolView.h"
#include "protocol/ProtocolTables.h"
#include "tests/support/core/Files.h"
#include "widgets/SortGrid.h"

#include <QStringList>

#include <initializer_list>
#include <memory>

// A results protocol as the main window sets it up, with N time columns and its titles,
// filled row by row from lists of cells.
inline std::unique_ptr<TSortGrid> makeResults(int n, std::initializer_list<QStringList> rows = {})
{
    auto g = std::make_unique<TSortGrid>();
    TProtocolView::configureResults(*g, n);
    g->setCells(0, 0, QStringLiteral("Nr."));
    g->setCells(1, 0, QStringLiteral("Fahrer"));
    for (int c = 2; c < n + 2; ++c)
        g->setCells(c, 0, TProtocolTables::timeTitle(c - 1));
    int r = 1;
    for (const QStringList &cells : rows) {
        if (g->RowCount() <= r)
            g->setRowCount(r + 1);
        for (int c = 0; c < cells.size(); ++c)
            g->setCells(c, r, cells[c]);
        ++r;
    }
    return g;
}

inline QStringList gridRow(const TSortGrid &g, int r)
{
    QStringList out;
    for (int c = 0; c < g.ColCount(); ++c)
        out << g.Cells(c, r);
    return out;
}
