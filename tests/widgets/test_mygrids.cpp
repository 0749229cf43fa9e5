#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

namespace {

// A plain string grid: one fixed row and column, 20-pixel rows.
std::unique_ptr<TMyStringGrid> makeGrid(int cols, int rows, int width = 300, int height = 200)
{
    auto g = std::make_unique<TMyStringGrid>();
    g->setColCount(cols);
    g->setRowCount(rows);
    g->setDefaultRowHeight(20);
    g->resize(width, height);
    g->show();
    return g;
}

TGridCoord current(const TMyCustomGrid &g)
{
    return {g.Col(), g.Row()};
}

} // namespace

TEST(BaseGridStorage, RowsBeyondRowCountComeBackColumnsDoNot)
{
    auto g = makeGrid(3, 5);
    g->setCells(1, 4, "kept");
    g->setCells(2, 1, "col");
    g->setRowCount(3);
    EXPECT_EQ(g->Cells(1, 4), "kept"); // still stored
    EXPECT_EQ(g->Cols(1).size(), 3);
    g->setRowCount(6);
    EXPECT_EQ(g->Cells(1, 4), "kept");
    g->setColCount(2);
    g->setColCount(3);
    EXPECT_EQ(g->Cells(2, 1), ""); // a removed column takes its texts along

    g->setRows(2, {"a", "b", "c", "ignored"});
    EXPECT_EQ(g->Rows(2), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(g->RowText(2), "a\nb\nc\n");
    g->setCols(0, {"h", "1", "2"});
    EXPECT_EQ(g->Cols(0), (QStringList{"h", "1", "2", "", "", ""}));
    g->clearCol(0);
    EXPECT_EQ(g->Cols(0), QStringList(6, QString()));
    g->clearRow(2);
    EXPECT_EQ(g->Rows(2), (QStringList{"", "", ""}));
    // Far-away reads and writes of empty texts store nothing and do not fail.
    EXPECT_EQ(g->Cells(50, 10000), "");
    g->setCells(50, 10000, "");
    g->setCells(-1, 2, "x");
    EXPECT_EQ(g->Cells(-1, 2), "");
}

TEST(BaseGridStorage, MoveAndDeleteRowsAndColumns)
{
    auto g = makeGrid(3, 5);
    for (int r = 0; r < 5; ++r)
        g->setRows(r, {QString("a%1").arg(r), QString("b%1").arg(r), QString("c%1").arg(r)});
    g->setRowHeights(1, 33);
    g->MoveColRow(false, 1, 3);
    EXPECT_EQ(g->Cols(0), (QStringList{"a0", "a2", "a3", "a1", "a4"}));
    EXPECT_EQ(g->RowHeights(3), 33); // the height moves with its row
    g->MoveColRow(true, 0, 2);
    EXPECT_EQ(g->Rows(0), (QStringList{"b0", "c0", "a0"}));
    g->DeleteRowAt(1);
    EXPECT_EQ(g->RowCount(), 4);
    EXPECT_EQ(g->Cols(2), (QStringList{"a0", "a3", "a1", "a4"}));
    g->setRowCount(5);
    EXPECT_EQ(g->Cells(2, 4), ""); // the deleted row stays deleted
    g->DeleteColumnAt(0);
    EXPECT_EQ(g->Rows(0), (QStringList{"c0", "a0"}));
}

TEST(BaseGridDraw, OnlyVisibleRowsAreDrawn)
{
    int calls = 0;
    auto count = [&](int rows) {
        auto g = makeGrid(4, rows, 300, 200);
        g->OnDrawCell = [&](QObject *, int, int, const QRect &, TGridDrawState) { ++calls; };
        calls = 0;
        g->viewport()->grab();
        return calls;
    };
    const int small = count(100);
    EXPECT_GT(small, 0);
    EXPECT_EQ(count(10000), small);
}

TEST(BaseGridDraw, FixedSelectedAndPlainCellColours)
{
    auto g = makeGrid(3, 4);
    g->setFixedColor(clYellow);
    g->setColor(clAqua);
    g->setOptions(g->Options() | goRangeSelect);
    g->setSelection({1, 1, 2, 2}); // anchor (1, 1), current (2, 2)
    const QImage img = g->viewport()->grab().toImage();
    auto at = [&](int c, int r) {
        return img.pixelColor(g->CellRect(c, r).topLeft() + QPoint(1, 1));
    };
    EXPECT_EQ(at(0, 0), toQColor(clYellow));
    EXPECT_EQ(at(0, 2), toQColor(clYellow));
    EXPECT_EQ(at(1, 1), toQColor(TMyCustomGrid::clHighlight)); // selected, not focused
    EXPECT_EQ(at(2, 1), toQColor(TMyCustomGrid::clHighlight));
    EXPECT_EQ(at(1, 3), toQColor(clAqua));
    EXPECT_EQ(g->Selection(), (TGridRect{1, 1, 2, 2}));

    // A hidden column takes no room.
    const int x2 = g->CellRect(2, 1).left();
    g->setColWidths(1, -1);
    EXPECT_TRUE(g->CellRect(1, 1).isEmpty());
    EXPECT_EQ(g->CellRect(2, 1).left(), g->ColWidths(0) + 1);
    EXPECT_LT(g->CellRect(2, 1).left(), x2);
}

struct NavCase
{
    int key;
    Qt::KeyboardModifiers mods;
    TGridOptions extra;
    TGridCoord expected;
};

class BaseGridNavigation : public ::testing::TestWithParam<NavCase>
{
};

TEST_P(BaseGridNavigation, MovesTheCurrentCell)
{
    const NavCase &c = GetParam();
    auto g = makeGrid(6, 50, 300, 200); // fixed row 0 and column 0
    g->setOptions(g->Options() | c.extra);
    g->setCol(3);
    g->setRow(10);
    const int visible = g->VisibleRowCount();
    QTest::keyClick(g.get(), Qt::Key(c.key), c.mods);
    TGridCoord expected = c.expected;
    if (expected.Y == -1) // a page down from row 10
        expected.Y = 10 + visible;
    if (expected.Y == -2) // a page up
        expected.Y = 10 - visible;
    EXPECT_EQ(current(*g), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, BaseGridNavigation,
    ::testing::Values(NavCase{Qt::Key_Down, {}, {}, {3, 11}}, NavCase{Qt::Key_Up, {}, {}, {3, 9}},
                      NavCase{Qt::Key_Left, {}, {}, {2, 10}},
                      NavCase{Qt::Key_Right, {}, {}, {4, 10}},
                      NavCase{Qt::Key_Home, {}, {}, {1, 10}}, NavCase{Qt::Key_End, {}, {}, {5, 10}},
                      NavCase{Qt::Key_Home, Qt::ControlModifier, {}, {1, 1}},
                      NavCase{Qt::Key_End, Qt::ControlModifier, {}, {5, 49}},
                      NavCase{Qt::Key_Home, {}, goRowSelect, {3, 1}},
                      NavCase{Qt::Key_PageDown, {}, {}, {3, -1}},
                      NavCase{Qt::Key_PageUp, {}, {}, {3, -2}},
                      NavCase{Qt::Key_Tab, {}, {}, {3, 10}}, // tabs off: focus moves on
                      NavCase{Qt::Key_Tab, {}, goTabs, {4, 10}},
                      NavCase{Qt::Key_Backtab, Qt::ShiftModifier, goTabs, {2, 10}}));

TEST(BaseGridKeys, TabWrapsRowsAndRangeSelectExtends)
{
    auto g = makeGrid(3, 5);
    g->setOptions(g->Options() | goTabs | goRangeSelect);
    g->setCol(2);
    g->setRow(1);
    QTest::keyClick(g.get(), Qt::Key_Tab);
    EXPECT_EQ(current(*g), (TGridCoord{1, 2}));
    QTest::keyClick(g.get(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(g.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(g->Selection(), (TGridRect{1, 2, 1, 4}));
    QTest::keyClick(g.get(), Qt::Key_Up);
    EXPECT_EQ(g->Selection(), (TGridRect{1, 3, 1, 3}));
    g->setOptions(g->Options() | goRowSelect);
    EXPECT_EQ(g->Selection(), (TGridRect{1, 3, 2, 3}));

    // A refused cell stops the move.
    g->OnSelectCell = [](QObject *, int, int r, bool &can) { can = r != 4; };
    QTest::keyClick(g.get(), Qt::Key_Down);
    EXPECT_EQ(g->Row(), 3);
}

TEST(BaseGridScroll, CurrentCellStaysInViewAndBarsFollow)
{
    auto g = makeGrid(3, 200);
    const int visible = g->VisibleRowCount();
    ASSERT_GT(visible, 2);
    g->setRow(100);
    EXPECT_EQ(g->TopRow(), 100 - visible + 1);
    g->setRow(5);
    EXPECT_EQ(g->TopRow(), 5);
    g->verticalScrollBar()->setValue(50);
    EXPECT_EQ(g->TopRow(), 50);
    EXPECT_EQ(g->Row(), 5);
    g->setTopRow(100000);
    EXPECT_EQ(g->TopRow() + g->VisibleRowCount(), 200); // the last row fits exactly
    EXPECT_EQ(g->verticalScrollBar()->maximum(), g->TopRow());
    g->setTopRow(-4);
    EXPECT_EQ(g->TopRow(), 1);
}

TEST(BaseGridEditor, TypingEditsEnterCommitsEscapeRestores)
{
    auto g = makeGrid(3, 4);
    g->setOptions(g->Options() | goEditing);
    showActive(*g);
    g->setCol(1);
    g->setRow(2);
    g->setCells(1, 2, "old");
    QList<QString> set;
    g->OnSetEditText = [&](QObject *, int c, int r, const QString &v) {
        EXPECT_EQ(c, 1);
        EXPECT_EQ(r, 2);
        set << v;
    };
    QTest::keyClicks(g.get(), "a");
    ASSERT_TRUE(g->EditorMode());
    QTest::keyClicks(g->InplaceEditor(), "bc");
    EXPECT_EQ(g->Cells(1, 2), "abc");
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Return);
    EXPECT_FALSE(g->EditorMode());
    EXPECT_EQ(set.last(), "abc");

    QTest::keyClick(g.get(), Qt::Key_F2);
    ASSERT_TRUE(g->EditorMode());
    QTest::keyClicks(g->InplaceEditor(), "xyz");
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Escape);
    EXPECT_FALSE(g->EditorMode());
    EXPECT_EQ(g->Cells(1, 2), "abc");

    // No editor with row select, nor on a fixed cell.
    g->setOptions(g->Options() | goRowSelect);
    g->setEditorMode(true);
    EXPECT_FALSE(g->EditorMode());
}

TEST(BaseGridEditor, OnKeyPressSeesAndFiltersEditorCharacters)
{
    auto g = makeGrid(3, 4);
    g->setOptions(g->Options() | goEditing | goAlwaysShowEditor);
    showActive(*g);
    QString seen;
    g->OnKeyPress = [&](QObject *, QChar &k) {
        seen += k;
        if (k == 'q')
            k = QChar(0);
        else if (k == 'u')
            k = 'U';
    };
    g->setRow(2);
    ASSERT_TRUE(g->EditorMode()); // always shown
    QTest::keyClicks(g->InplaceEditor(), "quq");
    EXPECT_EQ(seen, "quq");
    EXPECT_EQ(g->Cells(1, 2), "U");
    // Enter does not close an editor that is always shown.
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Return);
    EXPECT_TRUE(g->EditorMode());
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Down);
    EXPECT_EQ(g->Row(), 3);
    EXPECT_TRUE(g->EditorMode());
}

TEST(BaseGridMouse, ClickSelectsAndSecondClickEdits)
{
    auto g = makeGrid(3, 6);
    g->setOptions(g->Options() | goEditing);
    showActive(*g);
    int dbl = 0;
    g->OnDblClick = [&](QObject *) { ++dbl; };
    const QPoint p = g->CellRect(2, 3).center();
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, p);
    EXPECT_EQ(current(*g), (TGridCoord{2, 3}));
    EXPECT_FALSE(g->EditorMode());
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, p);
    EXPECT_TRUE(g->EditorMode());
    g->setEditorMode(false);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 1).center());
    EXPECT_EQ(dbl, 1);
    // A click on a fixed cell moves nothing.
    const TGridCoord before = current(*g);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->CellRect(0, 4).center());
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->CellRect(2, 0).center());
    EXPECT_EQ(current(*g), before);
    EXPECT_EQ(g->MouseCoord(-5, 3), (TGridCoord{-1, -1}));
}
