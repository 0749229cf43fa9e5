// The protocol tables as the window shows them: the two grids with their buttons, the
// "Nr." cell's editor and keys, the selection; times come in as the chronometer hands
// them over. The rules alone are tested on plain tables in rules/test_tablerules.cpp, the
// tables at the start of the window in tests/app/test_mainwindow.cpp.
#include "tests/support/ProtocolViewFixture.h"

#include "platform/Printers.h"
#include "timing/Chronometer.h"

namespace {

class Tables : public ProtocolViewFixture
{
protected:
    // ZEIT at the given time of day: the text the chronometer hands over.
    void zeit(int h, int m, int s, int ms)
    {
        capture(TChronometer::timeText(TimeOfDay{h, m, s, ms}));
    }
};

TEST_F(Tables, InsertMovesNumberedTimesIntoTheCarsRow)
{
    zeit(10, 0, 1, 0);
    number(1, "12");
    EXPECT_EQ(pred().Cells(2, 1), "12");
    EXPECT_TRUE(bInsert->isEnabled());
    QTest::mouseClick(bInsert, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "", "10:00:01,00", "", "", ""}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_TRUE(rowBlank(pred(), 1)); // the only entry leaves one empty row
    EXPECT_TRUE(sbSave->isEnabled());
    EXPECT_TRUE(sbCls->isEnabled());
    EXPECT_TRUE(sbWeb->isEnabled());

    // Four more entries for car 12: Zeit 2 to 4, then the fifth stays.
    for (int i = 2; i <= 5; ++i) {
        zeit(10, 0, i, 0);
        number(pred().RowCount() - 1, "12");
        pred().setRow(pred().RowCount() - 1);
        view->bInsertClick();
    }
    EXPECT_EQ(row(res(), 1),
              (QStringList{"12", "", "10:00:01,00", "10:00:02,00", "10:00:03,00", "10:00:04,00"}));
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "10:00:05,00", "12"}));
    EXPECT_EQ(res().Row(), 1);
    EXPECT_EQ(res().RowCount(), 2);
}

TEST_F(Tables, NumbersAreComparedAsTextAndGapsAreFilled)
{
    res().setCells(0, 1, "07");
    res().setCells(2, 1, "09:00:00,00");
    res().setCells(4, 1, "09:10:00,00"); // Zeit 3 filled, Zeit 2 empty
    zeit(10, 0, 0, 0);
    number(1, "07");
    zeit(10, 0, 1, 0);
    number(2, "7");
    view->bInsertALLClick();
    EXPECT_EQ(row(res(), 1),
              (QStringList{"07", "", "09:00:00,00", "10:00:00,00", "09:10:00,00", ""}));
    EXPECT_EQ(res().RowCount(), 3);
    EXPECT_EQ(row(res(), 2), (QStringList{"7", "", "10:00:01,00", "", "", ""}));
}

TEST_F(Tables, InsertAllKeepsUnnumberedEntries)
{
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    zeit(10, 0, 3, 0);
    zeit(10, 0, 4, 0);
    number(1, "5");
    number(3, "5");
    number(4, "9");
    EXPECT_TRUE(bInsertALL->isEnabled());
    QTest::mouseClick(bInsertALL, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"5", "", "10:00:01,00", "10:00:03,00", "", ""}));
    EXPECT_EQ(row(res(), 2), (QStringList{"9", "", "10:00:04,00", "", "", ""}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", ""}));
    EXPECT_EQ(pred().Row(), 1);
}

TEST_F(Tables, TakeBackReturnsTheLastTimeSorted)
{
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    zeit(10, 0, 3, 0);
    number(1, "12");
    number(3, "12");
    view->bInsertALLClick();
    ASSERT_EQ(row(res(), 1), (QStringList{"12", "", "10:00:01,00", "10:00:03,00", "", ""}));
    ASSERT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", ""}));
    clickCell(res(), 0, 1);
    EXPECT_TRUE(bRestore->isEnabled());

    QTest::mouseClick(bRestore, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "", "10:00:01,00", "", "", ""}));
    EXPECT_EQ(pred().RowCount(), 3);
    EXPECT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", ""}));
    EXPECT_EQ(row(pred(), 2), (QStringList{"2", "10:00:03,00", "12"}));
    EXPECT_TRUE(bRestore->isEnabled());

    view->bRestoreClick();
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "", "", "", "", ""})); // the row stays
    // Sorted by time: the restored Zeit 1 comes first.
    EXPECT_EQ(pred().Cells(1, 1), "10:00:01,00");
    EXPECT_EQ(pred().Cells(2, 1), "12");
    EXPECT_EQ(pred().Cells(1, 2), "10:00:02,00");
    EXPECT_EQ(pred().Cells(1, 3), "10:00:03,00");
    EXPECT_FALSE(bRestore->isEnabled());
    view->bRestoreClick(); // nothing left to take back
    EXPECT_EQ(pred().RowCount(), 4);
}

TEST_F(Tables, TakeBackIntoEmptyListStaysInRowOne)
{
    res().setCells(0, 1, "3");
    res().setCells(2, 1, "11:00:00,00");
    res().setRow(1);
    view->bRestoreClick();
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "11:00:00,00", "3"}));
    zeit(11, 0, 5, 0);
    EXPECT_EQ(pred().RowCount(), 3);
    EXPECT_EQ(row(pred(), 2), (QStringList{"2", "11:00:05,00", ""}));
}

TEST_F(Tables, NumberCellAcceptsDigitsOnlyAndEnterMovesOn)
{
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    clickCell(pred(), 2, 1);
    type("a-1 2x");
    EXPECT_TRUE(pred().EditorMode());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    type("7");
    enter();
    EXPECT_EQ(pred().Cells(2, 1), "17");
    EXPECT_EQ(pred().Row(), 2);
    EXPECT_FALSE(bInsert->isEnabled()); // row 2 has no number yet
    EXPECT_TRUE(bInsertALL->isEnabled());
    // Enter on the last row stays there.
    type("4");
    enter();
    EXPECT_EQ(pred().Cells(2, 2), "4");
    EXPECT_EQ(pred().Row(), 2);
}

TEST_F(Tables, ClickingTimeColumnsSelectsWholeRow)
{
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    clickCell(pred(), 1, 1);
    EXPECT_EQ(pred().Selection(), (TGridRect{0, 1, 2, 1}));
    EXPECT_FALSE(pred().Options() & goEditing);
    EXPECT_TRUE(pred().Options() & goRowSelect);
    EXPECT_FALSE(pred().EditorMode());
    type("5"); // no editor: nothing lands in "Nr."
    EXPECT_EQ(pred().Cells(2, 1), "");
    clickCell(pred(), 2, 2);
    EXPECT_TRUE(pred().Options() & goEditing);
    EXPECT_FALSE(pred().Options() & goRowSelect);
    type("8");
    EXPECT_EQ(pred().InplaceEditor()->text(), "8");
}

TEST_F(Tables, DropUnnumberedEntries)
{
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    zeit(10, 0, 3, 0);
    number(2, "4");
    QTest::mouseClick(bDel, Qt::LeftButton);
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", "4"}));
    EXPECT_FALSE(bInsertALL->isEnabled());
    clickCell(pred(), 1, 1); // a selection that finds a number enables it again
    EXPECT_TRUE(bInsertALL->isEnabled());

    view->bInsertClick();
    zeit(10, 0, 4, 0);
    view->bDelClick(); // no numbers at all: one empty row remains
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_TRUE(rowBlank(pred(), 1));
}

TEST_F(Tables, FewerTimeColumns)
{
    tables().setCountRunden(2);
    view->ApplyTimeColumnCount();
    EXPECT_EQ(row(res(), 0), (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}));
    for (int i = 1; i <= 3; ++i) {
        zeit(10, 0, i, 0);
        number(pred().RowCount() - 1, "8");
    }
    view->bInsertALLClick();
    EXPECT_EQ(row(res(), 1), (QStringList{"8", "", "10:00:01,00", "10:00:02,00"}));
    EXPECT_EQ(row(pred(), 1), (QStringList{"3", "10:00:03,00", "8"}));
}

TEST_F(Tables, PrintButtonNeedsAPrinter)
{
    res().setCells(0, 1, "1");
    Printers::setCountForTesting(0);
    view->UpdateFileButtons();
    EXPECT_TRUE(sbSave->isEnabled());
    EXPECT_FALSE(sbPrint->isEnabled());
    Printers::setCountForTesting(1);
    view->UpdateFileButtons();
    EXPECT_TRUE(sbPrint->isEnabled());
    Printers::setCountForTesting(-1);
}

} // namespace
