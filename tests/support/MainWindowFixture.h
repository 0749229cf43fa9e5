#pragma once

#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "app/GridTable.h"
#include "app/ProtocolView.h"
#include "protocol/ProtocolTables.h"
#include "tests/support/Recorders.h"
#include "tests/support/TempSettings.h"
#include "tests/support/TestClock.h"
#include "widgets/DlgYesNo.h"
#include "widgets/SortGrid.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

// The main window with a test clock and its own settings folder, shown and active, with
// the yes/no dialog created after it as the program does.
class MainWindowFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        w = std::make_unique<TFormMain>(&clock);
        dlg = std::make_unique<TFDlgYesNo>(w.get());
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    void TearDown() override
    {
        dlg.reset();
        w.reset();
    }

    TSortGrid &pred() { return *ui(*w).SortGridPred; }
    TSortGrid &res() { return *ui(*w).SortGrid1; }

    void key(Qt::Key k) { QTest::keyClick(w.get(), k); }
    // ZEIT by F8 at the given time of day.
    void zeit(int h, int m, int s, int ms)
    {
        clock.set(h, m, s, ms);
        key(Qt::Key_F8);
    }
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
    QStringList row(TSortGrid &g, int r)
    {
        QStringList out;
        for (int c = 0; c < g.ColCount(); ++c)
            out << g.Cells(c, r);
        return out;
    }
    bool rowBlank(TSortGrid &g, int r) { return TProtocolTables::rowBlank(TGridTable(g), r); }

    TempSettings settings;
    TestClock clock;
    std::unique_ptr<TFormMain> w;
    std::unique_ptr<TFDlgYesNo> dlg;
};
