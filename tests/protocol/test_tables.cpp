#include "tests/support/MainWindowFixture.h"

#include "platform/Printers.h"
#include "widgets/LbButtons.h"

#include <QLabel>
#include <QTime>

namespace {

using Tables = MainWindowFixture;

TEST_F(Tables, StartUpTitlesAndEmptyTables)
{
    EXPECT_EQ(row(pred(), 0), (QStringList{"", "Zeit", "Nr."}));
    EXPECT_EQ(row(res(), 0),
              (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(res().RowCount(), 2);
    for (QToolButton *b : {w->sbSave, w->sbPrint, w->sbWeb, w->sbCls, w->bInsert, w->bInsertALL,
                           w->bRestore, w->bDel})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(w->sbOpen->isEnabled());
    EXPECT_EQ(pred().ColWidths(0), 40);
    EXPECT_EQ(pred().ColWidths(2), 48);
    EXPECT_EQ(pred().ColWidths(1), pred().width() - 40 - 48 - 3 - 22);
    for (int c = 2; c < 6; ++c)
        EXPECT_EQ(res().ColWidths(c), 98);
    EXPECT_GE(res().ColWidths(0), 48);
    EXPECT_GE(res().ColWidths(1), 70);
    EXPECT_EQ(pred().DefaultRowHeight(), 22);
}

TEST_F(Tables, CapturesFillRowOneThenAppend)
{
    key(Qt::Key_F4);
    zeit(10, 1, 23, 456);
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "10:01:23,45", ""}));
    EXPECT_TRUE(w->bDel->isEnabled());
    zeit(10, 2, 0, 9);
    EXPECT_EQ(pred().RowCount(), 3);
    EXPECT_EQ(row(pred(), 2), (QStringList{"2", "10:02:00,00", ""}));
    EXPECT_EQ(pred().Row(), 2);
    EXPECT_EQ(pred().Selection(), (TGridRect{0, 2, 2, 2}));

    // Widening the window leaves the time column as wide as it was; the results' time
    // columns stay 98.
    const int before = pred().ColWidths(1);
    w->resize(1100, 700);
    EXPECT_EQ(pred().ColWidths(1), before); // the left panel keeps its width
    for (int c = 2; c < 6; ++c)
        EXPECT_EQ(res().ColWidths(c), 98);
}

TEST_F(Tables, InsertMovesNumberedTimesIntoTheCarsRow)
{
    key(Qt::Key_F4);
    zeit(10, 0, 1, 0);
    number(1, "12");
    EXPECT_EQ(pred().Cells(2, 1), "12");
    EXPECT_TRUE(w->bInsert->isEnabled());
    QTest::mouseClick(w->bInsert, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "", "10:00:01,00", "", "", ""}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(pred(), 1)); // the only entry leaves one empty row
    EXPECT_TRUE(w->sbSave->isEnabled());
    EXPECT_TRUE(w->sbCls->isEnabled());
    EXPECT_TRUE(w->sbWeb->isEnabled());

    // Four more entries for car 12: Zeit 2 to 4, then the fifth stays.
    for (int i = 2; i <= 5; ++i) {
        zeit(10, 0, i, 0);
        number(pred().RowCount() - 1, "12");
        pred().setRow(pred().RowCount() - 1);
        w->bInsertClick();
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
    key(Qt::Key_F4);
    zeit(10, 0, 0, 0);
    number(1, "07");
    zeit(10, 0, 1, 0);
    number(2, "7");
    w->bInsertALLClick();
    EXPECT_EQ(row(res(), 1),
              (QStringList{"07", "", "09:00:00,00", "10:00:00,00", "09:10:00,00", ""}));
    EXPECT_EQ(res().RowCount(), 3);
    EXPECT_EQ(row(res(), 2), (QStringList{"7", "", "10:00:01,00", "", "", ""}));
}

TEST_F(Tables, InsertAllKeepsUnnumberedEntries)
{
    key(Qt::Key_F4);
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    zeit(10, 0, 3, 0);
    zeit(10, 0, 4, 0);
    number(1, "5");
    number(3, "5");
    number(4, "9");
    EXPECT_TRUE(w->bInsertALL->isEnabled());
    QTest::mouseClick(w->bInsertALL, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"5", "", "10:00:01,00", "10:00:03,00", "", ""}));
    EXPECT_EQ(row(res(), 2), (QStringList{"9", "", "10:00:04,00", "", "", ""}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", ""}));
    EXPECT_EQ(pred().Row(), 1);
}

TEST_F(Tables, TakeBackReturnsTheLastTimeSorted)
{
    key(Qt::Key_F4);
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    zeit(10, 0, 3, 0);
    number(1, "12");
    number(3, "12");
    w->bInsertALLClick();
    ASSERT_EQ(row(res(), 1), (QStringList{"12", "", "10:00:01,00", "10:00:03,00", "", ""}));
    ASSERT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", ""}));
    clickCell(res(), 0, 1);
    EXPECT_TRUE(w->bRestore->isEnabled());

    QTest::mouseClick(w->bRestore, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "", "10:00:01,00", "", "", ""}));
    EXPECT_EQ(pred().RowCount(), 3);
    EXPECT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", ""}));
    EXPECT_EQ(row(pred(), 2), (QStringList{"2", "10:00:03,00", "12"}));
    EXPECT_TRUE(w->bRestore->isEnabled());

    w->bRestoreClick();
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "", "", "", "", ""})); // the row stays
    // Sorted by time: the restored Zeit 1 comes first.
    EXPECT_EQ(pred().Cells(1, 1), "10:00:01,00");
    EXPECT_EQ(pred().Cells(2, 1), "12");
    EXPECT_EQ(pred().Cells(1, 2), "10:00:02,00");
    EXPECT_EQ(pred().Cells(1, 3), "10:00:03,00");
    EXPECT_FALSE(w->bRestore->isEnabled());
    w->bRestoreClick(); // nothing left to take back
    EXPECT_EQ(pred().RowCount(), 4);
}

// A car with every one of its N time columns filled gives back its last time first, then
// the one before, and never leaves a gap in its row.
class TakeBackFullRow : public MainWindowFixture, public ::testing::WithParamInterface<int>
{
};

TEST_P(TakeBackFullRow, StartsAtTheLastColumn)
{
    const int n = GetParam();
    auto time = [](int k) { return QTime(10, 0).addSecs(k).toString("HH:mm:ss") + ",00"; };
    w->tables->setCountRunden(n);
    w->ApplyTimeColumnCount();
    ASSERT_EQ(res().ColCount(), n + 2);
    res().setCells(0, 1, "5");
    for (int k = 1; k <= n; ++k)
        res().setCells(k + 1, 1, time(k));
    res().setRow(1);
    for (int k = n; k >= 1; --k) {
        SCOPED_TRACE(k);
        w->bRestoreClick();
        // Sorted by time: the one just given back is the earliest so far.
        EXPECT_EQ(pred().Cells(1, 1), time(k));
        EXPECT_EQ(pred().Cells(2, 1), "5");
        for (int c = 2; c < n + 2; ++c)
            EXPECT_EQ(res().Cells(c, 1), c - 1 < k ? time(c - 1) : QString()) << "Zeit " << c - 1;
    }
    EXPECT_EQ(pred().RowCount(), n + 1);
}

INSTANTIATE_TEST_SUITE_P(Tables, TakeBackFullRow, ::testing::Values(1, 2, 4, 7, 100));

TEST_F(Tables, TakeBackIntoEmptyListStaysInRowOne)
{
    res().setCells(0, 1, "3");
    res().setCells(2, 1, "11:00:00,00");
    res().setRow(1);
    w->bRestoreClick();
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "11:00:00,00", "3"}));
    key(Qt::Key_F4);
    zeit(11, 0, 5, 0);
    EXPECT_EQ(pred().RowCount(), 3);
    EXPECT_EQ(row(pred(), 2), (QStringList{"2", "11:00:05,00", ""}));
}

TEST_F(Tables, NumberCellAcceptsDigitsOnlyAndEnterMovesOn)
{
    key(Qt::Key_F4);
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
    EXPECT_FALSE(w->bInsert->isEnabled()); // row 2 has no number yet
    EXPECT_TRUE(w->bInsertALL->isEnabled());
    // Enter on the last row stays there.
    type("4");
    enter();
    EXPECT_EQ(pred().Cells(2, 2), "4");
    EXPECT_EQ(pred().Row(), 2);
}

TEST_F(Tables, ClickingTimeColumnsSelectsWholeRow)
{
    key(Qt::Key_F4);
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
    key(Qt::Key_F4);
    zeit(10, 0, 1, 0);
    zeit(10, 0, 2, 0);
    zeit(10, 0, 3, 0);
    number(2, "4");
    QTest::mouseClick(w->bDel, Qt::LeftButton);
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"2", "10:00:02,00", "4"}));
    EXPECT_FALSE(w->bInsertALL->isEnabled());
    clickCell(pred(), 1, 1); // a selection that finds a number enables it again
    EXPECT_TRUE(w->bInsertALL->isEnabled());

    w->bInsertClick();
    zeit(10, 0, 4, 0);
    w->bDelClick(); // no numbers at all: one empty row remains
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(pred(), 1));
}

TEST_F(Tables, NewProtocolAsksAndResetsEverything)
{
    key(Qt::Key_F4);
    zeit(10, 0, 1, 0);
    number(1, "3");
    w->bInsertClick();
    zeit(10, 0, 2, 0);
    res().setCells(1, 0, "Pilot");

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrCancel);
    w->sbClsClick();
    EXPECT_EQ(dlg->Label1->text(), "Ergebnisse entfernen?");
    EXPECT_EQ(res().Cells(0, 1), "3");
    EXPECT_TRUE(w->chrono->running());

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    QTest::mouseClick(w->sbCls, Qt::LeftButton);
    EXPECT_EQ(res().RowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(res(), 1));
    EXPECT_EQ(row(res(), 0), (QStringList{"Nr.", "Pilot", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(pred(), 1));
    EXPECT_FALSE(w->chrono->running());
    EXPECT_EQ(w->chrono->stopFlag(), 0);
    EXPECT_EQ(w->bReset->text(), "STOPP");
    EXPECT_TRUE(w->mStart->isEnabled());
    EXPECT_FALSE(w->mLAP->isEnabled());
    for (QToolButton *b : {w->sbSave, w->sbCls, w->bInsertALL, w->bDel})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    // The next ZEIT fills row 1 again.
    key(Qt::Key_F4);
    zeit(10, 5, 0, 0);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "10:05:00,00", ""}));
}

TEST_F(Tables, FewerTimeColumns)
{
    w->tables->setCountRunden(2);
    w->ApplyTimeColumnCount();
    EXPECT_EQ(row(res(), 0), (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}));
    key(Qt::Key_F4);
    for (int i = 1; i <= 3; ++i) {
        zeit(10, 0, i, 0);
        number(pred().RowCount() - 1, "8");
    }
    w->bInsertALLClick();
    EXPECT_EQ(row(res(), 1), (QStringList{"8", "", "10:00:01,00", "10:00:02,00"}));
    EXPECT_EQ(row(pred(), 1), (QStringList{"3", "10:00:03,00", "8"}));
}

TEST_F(Tables, PrintButtonNeedsAPrinter)
{
    res().setCells(0, 1, "1");
    Printers::setCountForTesting(0);
    w->UpdateFileButtons();
    EXPECT_TRUE(w->sbSave->isEnabled());
    EXPECT_FALSE(w->sbPrint->isEnabled());
    Printers::setCountForTesting(1);
    w->UpdateFileButtons();
    EXPECT_TRUE(w->sbPrint->isEnabled());
    Printers::setCountForTesting(-1);
}

TEST_F(Tables, WholeSessionAsAUserRunsIt)
{
    key(Qt::Key_F4);
    for (int i = 0; i < 6; ++i)
        zeit(9, 30, 10 * i, 120);
    const QStringList numbers = {"1", "2", "1", "3", "2", "1"};
    for (int i = 0; i < 6; ++i)
        number(i + 1, numbers[i]);
    QTest::mouseClick(w->bInsertALL, Qt::LeftButton);
    EXPECT_TRUE(TProtocolTables::rowBlank(pred(), 1));
    EXPECT_EQ(row(res(), 1),
              (QStringList{"1", "", "09:30:00,12", "09:30:20,12", "09:30:50,12", ""}));
    EXPECT_EQ(row(res(), 2), (QStringList{"2", "", "09:30:10,12", "09:30:40,12", "", ""}));
    EXPECT_EQ(row(res(), 3), (QStringList{"3", "", "09:30:30,12", "", "", ""}));

    clickCell(res(), 0, 1);
    QTest::mouseClick(w->bRestore, Qt::LeftButton);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "09:30:50,12", "1"}));
    clickCell(pred(), 1, 1); // selecting the entry enables Insert
    QTest::mouseClick(w->bInsert, Qt::LeftButton);
    EXPECT_EQ(res().Cells(4, 1), "09:30:50,12");

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    QTest::mouseClick(w->sbCls, Qt::LeftButton);
    EXPECT_EQ(res().RowCount(), 2);
    EXPECT_FALSE(w->sbSave->isEnabled());
}

} // namespace
