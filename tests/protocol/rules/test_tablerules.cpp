// The rules of the protocol tables on plain tables: what a command does to the cells, the
// rows and the current row, and what it tells the journal. The window's own part
// (selection, buttons, editor) is tested with its grids in tests/protocol/test_tables.cpp.
#include "tests/support/core/PlainTables.h"

#include <gtest/gtest.h>

namespace {

using L = QStringList;

class Rules : public ::testing::Test
{
protected:
    Rules()
    {
        QObject::connect(&tables, &TProtocolTables::changeMade,
                         [this](const QStringList &e) { journal << e; });
    }
    // A taken time, as the chronometer hands it over.
    int capture(const QString &time) { return tables.appendCapture(time); }
    // The operator types a start number into an entry.
    void number(int row, const QString &nr) { pred->setCell(2, row, nr); }
    void insert(int row)
    {
        pred->setCurrentRow(row);
        tables.insert();
    }

    std::unique_ptr<TPlainTable> pred = plainPred();
    std::unique_ptr<TPlainTable> res = plainResults(4);
    TProtocolTables tables{*pred, *res};
    QList<QStringList> journal;
};

TEST_F(Rules, CapturesFillRowOneThenAppend)
{
    EXPECT_EQ(capture("10:01:23,45"), 1);
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_EQ(tableRow(*pred, 1), (L{"1", "10:01:23,45", ""}));
    EXPECT_EQ(capture("10:02:00,00"), 2);
    EXPECT_EQ(pred->rowCount(), 3);
    EXPECT_EQ(tableRow(*pred, 2), (L{"2", "10:02:00,00", ""}));
    EXPECT_TRUE(journal.isEmpty()); // the chronometer journals the time itself
}

TEST_F(Rules, InsertMovesNumberedTimesIntoTheCarsRow)
{
    capture("10:00:01,00");
    // Without a number Insert does nothing.
    EXPECT_FALSE(tables.insert().numbered);
    EXPECT_TRUE(TProtocolTables::rowBlank(*res, 1));
    number(1, "12");
    pred->setCurrentRow(1);
    const TProtocolTables::Inserted first = tables.insert();
    EXPECT_TRUE(first.numbered && first.moved && first.newCar);
    EXPECT_EQ(tableRow(*res, 1), (L{"12", "", "10:00:01,00", "", "", ""}));
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(*pred, 1)); // the only entry leaves one empty row
    EXPECT_EQ(journal, (QList<L>{{"Einfügen", "12", "10:00:01,00", "Zeit 1"}}));

    // Four more entries for car 12: Zeit 2 to 4, then the fifth stays.
    for (int i = 2; i <= 5; ++i) {
        const int r = capture(QStringLiteral("10:00:0%1,00").arg(i));
        number(r, "12");
        insert(r);
    }
    EXPECT_EQ(tableRow(*res, 1),
              (L{"12", "", "10:00:01,00", "10:00:02,00", "10:00:03,00", "10:00:04,00"}));
    EXPECT_EQ(tableRow(*pred, 1), (L{"1", "10:00:05,00", "12"}));
    EXPECT_EQ(res->currentRow(), 1);
    EXPECT_EQ(res->rowCount(), 2);
    EXPECT_EQ(journal.size(), 4);
    EXPECT_EQ(journal.back(), (L{"Einfügen", "12", "10:00:04,00", "Zeit 4"}));
}

TEST_F(Rules, NumbersAreComparedAsTextAndGapsAreFilled)
{
    res->setCell(0, 1, "07");
    res->setCell(2, 1, "09:00:00,00");
    res->setCell(4, 1, "09:10:00,00"); // Zeit 3 filled, Zeit 2 empty
    number(capture("10:00:00,00"), "07");
    number(capture("10:00:01,00"), "7");
    tables.insertAll();
    EXPECT_EQ(tableRow(*res, 1), (L{"07", "", "09:00:00,00", "10:00:00,00", "09:10:00,00", ""}));
    EXPECT_EQ(res->rowCount(), 3);
    EXPECT_EQ(tableRow(*res, 2), (L{"7", "", "10:00:01,00", "", "", ""}));
}

TEST_F(Rules, InsertAllKeepsUnnumberedEntries)
{
    for (int i = 1; i <= 4; ++i)
        capture(QStringLiteral("10:00:0%1,00").arg(i));
    number(1, "5");
    number(3, "5");
    number(4, "9");
    pred->setCurrentRow(4);
    const TProtocolTables::Inserted done = tables.insertAll();
    EXPECT_TRUE(done.moved && done.newCar);
    EXPECT_EQ(tableRow(*res, 1), (L{"5", "", "10:00:01,00", "10:00:03,00", "", ""}));
    EXPECT_EQ(tableRow(*res, 2), (L{"9", "", "10:00:04,00", "", "", ""}));
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_EQ(tableRow(*pred, 1), (L{"2", "10:00:02,00", ""}));
    EXPECT_EQ(pred->currentRow(), 1);
    EXPECT_EQ(journal.size(), 3);
}

TEST_F(Rules, TakeBackReturnsTheLastTimeSorted)
{
    for (int i = 1; i <= 3; ++i)
        capture(QStringLiteral("10:00:0%1,00").arg(i));
    number(1, "12");
    number(3, "12");
    tables.insertAll();
    ASSERT_EQ(tableRow(*res, 1), (L{"12", "", "10:00:01,00", "10:00:03,00", "", ""}));
    ASSERT_EQ(tableRow(*pred, 1), (L{"2", "10:00:02,00", ""}));
    res->setCurrentRow(1);
    journal.clear();

    EXPECT_TRUE(tables.takeBack());
    EXPECT_EQ(tableRow(*res, 1), (L{"12", "", "10:00:01,00", "", "", ""}));
    EXPECT_EQ(pred->rowCount(), 3);
    EXPECT_EQ(tableRow(*pred, 1), (L{"2", "10:00:02,00", ""}));
    EXPECT_EQ(tableRow(*pred, 2), (L{"2", "10:00:03,00", "12"}));

    EXPECT_TRUE(tables.takeBack());
    EXPECT_EQ(tableRow(*res, 1), (L{"12", "", "", "", "", ""})); // the row stays
    // Sorted by time: the restored Zeit 1 comes first.
    EXPECT_EQ(pred->cell(1, 1), "10:00:01,00");
    EXPECT_EQ(pred->cell(2, 1), "12");
    EXPECT_EQ(pred->cell(1, 2), "10:00:02,00");
    EXPECT_EQ(pred->cell(1, 3), "10:00:03,00");
    EXPECT_FALSE(tables.takeBack()); // nothing left to take back
    EXPECT_EQ(pred->rowCount(), 4);
    EXPECT_EQ(journal, (QList<L>{{"Zurück", "12", "10:00:03,00", "Zeit 2"},
                                 {"Zurück", "12", "10:00:01,00", "Zeit 1"}}));
}

// Take back gives back the car's last time, whichever column that is, and leaves no gap.
TEST_F(Rules, TakeBackTakesTheLastTimeOfAnyCar)
{
    const struct
    {
        L car;
        L after;
        QString back;
    } cases[] = {
        {{"3", "", "09:00:01,00"}, {"3", "", "", "", "", ""}, "09:00:01,00"},
        {{"3", "", "09:00:01,00", "09:00:02,00", "09:00:03,00"},
         {"3", "", "09:00:01,00", "09:00:02,00", "", ""},
         "09:00:03,00"},
        {{"3", "", "09:00:01,00", "09:00:02,00", "09:00:03,00", "09:00:04,00"},
         {"3", "", "09:00:01,00", "09:00:02,00", "09:00:03,00", ""},
         "09:00:04,00"},
        // A gap left by an edit: the last time still goes first.
        {{"3", "", "09:00:01,00", "", "09:00:03,00"},
         {"3", "", "09:00:01,00", "", "", ""},
         "09:00:03,00"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.car.join('|').toStdString());
        auto p = plainPred();
        auto r = plainResults(4, {c.car});
        TProtocolTables t(*p, *r);
        r->setCurrentRow(1);
        ASSERT_TRUE(t.takeBack());
        EXPECT_EQ(tableRow(*r, 1), c.after);
        EXPECT_EQ(tableRow(*p, 1), (L{"1", c.back, "3"}));
    }
}

// A car with every one of its N time columns filled gives back its last time first, then
// the one before, and never leaves a gap in its row.
class TakeBackFullRow : public ::testing::TestWithParam<int>
{
};

TEST_P(TakeBackFullRow, StartsAtTheLastColumn)
{
    const int n = GetParam();
    auto time = [](int k) {
        return QStringLiteral("10:%1:%2,00")
            .arg(k / 60, 2, 10, QLatin1Char('0'))
            .arg(k % 60, 2, 10, QLatin1Char('0'));
    };
    L car{"5", ""};
    for (int k = 1; k <= n; ++k)
        car << time(k);
    auto p = plainPred();
    auto r = plainResults(n, {car});
    TProtocolTables t(*p, *r);
    t.setCountRunden(n);
    r->setCurrentRow(1);
    for (int k = n; k >= 1; --k) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(t.takeBack());
        // Sorted by time: the one just given back is the earliest so far.
        EXPECT_EQ(p->cell(1, 1), time(k));
        EXPECT_EQ(p->cell(2, 1), "5");
        for (int c = 2; c < n + 2; ++c)
            EXPECT_EQ(r->cell(c, 1), c - 1 < k ? time(c - 1) : QString()) << "Zeit " << c - 1;
    }
    EXPECT_EQ(p->rowCount(), n + 1);
}

INSTANTIATE_TEST_SUITE_P(Rules, TakeBackFullRow, ::testing::Values(1, 2, 4, 7, 100));

TEST_F(Rules, TakeBackIntoEmptyListStaysInRowOne)
{
    res->setCell(0, 1, "3");
    res->setCell(2, 1, "11:00:00,00");
    res->setCurrentRow(1);
    tables.takeBack();
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_EQ(tableRow(*pred, 1), (L{"1", "11:00:00,00", "3"}));
    capture("11:00:05,00");
    EXPECT_EQ(pred->rowCount(), 3);
    EXPECT_EQ(tableRow(*pred, 2), (L{"2", "11:00:05,00", ""}));
}

TEST_F(Rules, DropUnnumberedEntries)
{
    for (int i = 1; i <= 3; ++i)
        capture(QStringLiteral("10:00:0%1,00").arg(i));
    number(2, "4");
    tables.dropUnnumbered();
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_EQ(tableRow(*pred, 1), (L{"2", "10:00:02,00", "4"}));
    EXPECT_EQ(journal, (QList<L>{{"Zwischenprotokoll löschen", "10:00:01,00", "10:00:03,00"}}));

    insert(1);
    capture("10:00:04,00");
    tables.dropUnnumbered(); // no numbers at all: one empty row remains
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(*pred, 1));
    // An empty list drops nothing and says nothing.
    journal.clear();
    tables.dropUnnumbered();
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(Rules, NewProtocolEmptiesBothAndKeepsTheTitles)
{
    number(capture("10:00:01,00"), "3");
    insert(1);
    capture("10:00:02,00");
    res->setCell(1, 0, "Pilot");
    journal.clear();

    tables.clear();
    EXPECT_EQ(journal, (QList<L>{{"Neu / Löschen"}}));
    EXPECT_EQ(res->rowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(*res, 1));
    EXPECT_EQ(tableRow(*res, 0), (L{"Nr.", "Pilot", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"}));
    EXPECT_EQ(pred->rowCount(), 2);
    EXPECT_TRUE(TProtocolTables::rowBlank(*pred, 1));
    EXPECT_TRUE(TProtocolTables::tableEmpty(*pred));
    EXPECT_TRUE(TProtocolTables::tableEmpty(*res));
    // The next time fills row 1 again.
    capture("10:05:00,00");
    EXPECT_EQ(tableRow(*pred, 1), (L{"1", "10:05:00,00", ""}));
}

TEST_F(Rules, FewerTimeColumns)
{
    tables.setCountRunden(2);
    tables.ApplyTimeColumnCount();
    EXPECT_EQ(tableRow(*res, 0), (L{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}));
    for (int i = 1; i <= 3; ++i)
        number(capture(QStringLiteral("10:00:0%1,00").arg(i)), "8");
    tables.insertAll();
    EXPECT_EQ(tableRow(*res, 1), (L{"8", "", "10:00:01,00", "10:00:02,00"}));
    EXPECT_EQ(tableRow(*pred, 1), (L{"3", "10:00:03,00", "8"}));
}

// Fewer time columns than hold times would drop times: the columns that hold one stay.
TEST(TimeColumns, ColumnsThatHoldTimesStay)
{
    const struct
    {
        std::initializer_list<QStringList> rows;
        int wanted;
        int kept;
    } cases[] = {
        {{}, 2, 2},
        {{}, 0, 1},
        {{}, 250, 100},
        {{{"1", "", "09:00:00,00"}}, 1, 1},
        {{{"1", "", "09:00:00,00", "", "09:02:00,00"}}, 2, 3},
        {{{"1"}, {"2", "", "", "", "", "", "09:05:00,00"}}, 4, 5},
        // Blanks and controls are no time; a name column does not count.
        {{{"1", "Anna", " ", "\t", "\x01"}}, 1, 1},
    };
    for (const auto &c : cases) {
        auto p = plainPred();
        auto r = plainResults(5, c.rows);
        TProtocolTables t(*p, *r);
        EXPECT_EQ(t.timeColumnsKeeping(c.wanted), c.kept) << c.wanted;
    }
}

TEST(Restore, BothTablesComeBackAndEntriesTakenMeanwhileFollow)
{
    auto pred = plainPred({{"1", "09:00:09,00", ""}});
    auto res = plainResults(4);
    TProtocolTables tables(*pred, *res);
    const TableData savedPred{3, {{"", "Zeit", "Nr."}, {"1", "08:00:01,00", "7"}, {"", "", ""}}};
    const TableData savedRes{
        8,
        {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4", "Zeit 5", "Zeit 6"},
         {"7", "Anna", "08:00:00,00", "", "", "", "", ""}}};
    tables.restore(savedPred, savedRes);
    EXPECT_EQ(tables.CountRunden(), 6);
    EXPECT_EQ(TProtocolTables::snapshot(*res).rows, savedRes.rows);
    EXPECT_EQ(
        TProtocolTables::snapshot(*pred).rows,
        (std::vector<L>{{"", "Zeit", "Nr."}, {"1", "08:00:01,00", "7"}, {"2", "09:00:09,00", ""}}));
    EXPECT_EQ(res->currentRow(), 1);
    EXPECT_EQ(pred->currentRow(), 2);
}

} // namespace
