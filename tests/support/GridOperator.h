#pragma once

#include "app/GridTable.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

// What the operator does to the protocol grids with mouse and keys, for fixtures that show
// them (the whole window or the protocol view alone); pred() is the intermediate protocol.
class GridOperator
{
public:
    virtual ~GridOperator() = default;
    virtual TSortGrid &pred() = 0;

    void clickCell(TSortGrid &g, int col, int row, Qt::MouseButton b = Qt::LeftButton)
    {
        const QRect r = g.CellRect(col, row);
        ASSERT_FALSE(r.isEmpty()) << "cell out of view " << col << "," << row;
        QTest::mouseClick(g.viewport(), b, {}, r.center());
    }
    // Types into whatever has the focus (the grid or its editor).
    void type(const QString &text)
    {
        for (QChar ch : text) {
            QWidget *f = QApplication::focusWidget();
            ASSERT_NE(f, nullptr);
            QTest::keyClicks(f, QString(ch));
        }
    }
    void enter()
    {
        QWidget *f = QApplication::focusWidget();
        ASSERT_NE(f, nullptr);
        QTest::keyClick(f, Qt::Key_Return);
    }
    // The operator's way of numbering an entry: click the "Nr." cell, type, Enter.
    void number(int row, const QString &nr)
    {
        clickCell(pred(), 2, row);
        type(nr);
        enter();
    }
    static QStringList row(TSortGrid &g, int r)
    {
        QStringList out;
        for (int c = 0; c < g.ColCount(); ++c)
            out << g.Cells(c, r);
        return out;
    }
    static bool rowBlank(TSortGrid &g, int r)
    {
        return TProtocolTables::rowBlank(TGridTable(g), r);
    }
};
