#pragma once

#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "app/GridTable.h"
#include "tests/support/GridOperator.h"
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
class MainWindowFixture : public ::testing::Test, public GridOperator
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

    TSortGrid &pred() override { return *ui(*w).SortGridPred; }
    TSortGrid &res() { return *ui(*w).SortGrid1; }

    void key(Qt::Key k) { QTest::keyClick(w.get(), k); }
    // ZEIT by F8 at the given time of day.
    void zeit(int h, int m, int s, int ms)
    {
        clock.set(h, m, s, ms);
        key(Qt::Key_F8);
    }

    TempSettings settings;
    TestClock clock;
    std::unique_ptr<TFormMain> w;
    std::unique_ptr<TFDlgYesNo> dlg;
};
