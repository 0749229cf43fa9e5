#pragma once

#include "widgets/SortGrid.h"

#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QStringList>

#include <memory>

// A sort grid filled from rows of texts (row 0 is the title row), shown off screen.
inline std::unique_ptr<TSortGrid> makeSortGrid(const QList<QStringList> &rows, int width = 300,
                                               int height = 200)
{
    auto g = std::make_unique<TSortGrid>();
    int cols = 1;
    for (const QStringList &r : rows)
        cols = std::max(cols, int(r.size()));
    g->setColCount(cols);
    g->setRowCount(std::max(2, int(rows.size())));
    for (int r = 0; r < rows.size(); ++r)
        g->setRows(r, rows[r]);
    g->resize(width, height);
    // Shown, so that the viewport has its final size before cells are measured.
    g->show();
    return g;
}

// One column of a grid's data rows (rows 1 ..).
inline QStringList dataColumn(const TMyStringGrid &g, int col)
{
    QStringList l;
    for (int r = 1; r < g.RowCount(); ++r)
        l << g.Cells(col, r);
    return l;
}

// Shows the widget and makes its window active, so that focus works off screen.
inline void showActive(QWidget &w)
{
    w.show();
    QApplication::setActiveWindow(w.window());
    w.activateWindow();
    QApplication::processEvents();
}

// Sets a locale for a test and puts the previous one back.
class LocaleScope
{
public:
    explicit LocaleScope(const QLocale &l) : m_old(QLocale()) { QLocale::setDefault(l); }
    ~LocaleScope() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};
