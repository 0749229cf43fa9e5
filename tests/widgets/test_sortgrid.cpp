#include "tests/support/GridHelpers.h"
#include "tests/support/Guards.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

QFont testFont()
{
    QFont f("Liberation Sans");
    f.setPixelSize(13);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

QImage grabViewport(TSortGrid &g)
{
    return g.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Bounding box of the pixels in area that differ from bg, relative to the area.
QRect inkBox(const QImage &img, const QRect &area, QColor bg)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (img.pixelColor(x, y) != bg)
                box |= QRect(x - area.left(), y - area.top(), 1, 1);
    return box;
}

// Where text drawn with its top-left at (x, y) inside a cell of the given size leaves ink.
QRect referenceInk(const QSize &cell, const QFont &font, const QString &text, int x, int y)
{
    QImage ref(cell, QImage::Format_RGB32);
    ref.fill(Qt::white);
    QPainter p(&ref);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(x, y + QFontMetrics(font).ascent(), text);
    p.end();
    return inkBox(ref, ref.rect(), Qt::white);
}

void wheel(TSortGrid &g, int delta)
{
    const QPointF pos(10, 40);
    QWheelEvent ev(pos, g.viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(g.viewport(), &ev);
}

std::unique_ptr<TSortGrid> numberedGrid(int dataRows, int width = 300, int height = 200)
{
    QList<QStringList> rows{{"Nr", "Name"}};
    for (int i = 1; i <= dataRows; ++i)
        rows << QStringList{QString::number(i), QString("n%1").arg(i)};
    return makeSortGrid(rows, width, height);
}

const TGridOptions kLines =
    TGridOptions(goFixedVertLine) | goFixedHorzLine | goVertLine | goHorzLine;

} // namespace

// ---------------------------------------------------------------------------------------
// Drawing

TEST(SortGridDraw, TextOffsetsOfEachAlignmentAtExactPixels)
{
    auto g = makeSortGrid({{"A", "B", "C"}, {"Wq", "Wq", "Wq"}, {"", "", ""}}, 400, 200);
    g->setFont(testFont());
    g->setOptions(kLines);
    g->setColor(clWhite);
    for (int c = 0; c < 3; ++c)
        g->setColWidths(c, 90);
    g->setRowHeights(1, 34);
    g->setRow(2);
    g->OnGetCellFormat = [](QObject *, int col, int row, TGridDrawState, TFormatOptions &f, bool &,
                            bool &, bool &) {
        if (row != 1)
            return;
        f.AlignmentHorz = col == 0 ? taRightJustify : (col == 1 ? taCenter : taLeftJustify);
        f.AlignmentVert = col == 0 ? taBottomJustify : (col == 1 ? taMiddle : taTopJustify);
        f.Font.Color = Qt::black;
        f.Brush.Color = Qt::white;
    };
    const QImage img = grabViewport(*g);
    const QFontMetrics fm(testFont());
    const int tw = fm.horizontalAdvance("Wq"), th = fm.height();
    const int w = 90, h = 34;
    const QPoint expected[3] = {{w - tw - 2, h - th - 3}, {(w - tw) / 2, (h - th) / 2}, {2, 2}};
    for (int c = 0; c < 3; ++c) {
        const QRect cell = g->CellRect(c, 1);
        ASSERT_EQ(cell.size(), QSize(w, h));
        EXPECT_EQ(inkBox(img, cell, Qt::white),
                  referenceInk(cell.size(), testFont(), "Wq", expected[c].x(), expected[c].y()))
            << "column " << c;
    }
}

TEST(SortGridDraw, SortArrowAtExactPixels)
{
    auto g = makeSortGrid({{"", "", ""}, {"1", "2", "3"}, {"2", "1", "3"}}, 300, 150);
    g->setFixedColor(clYellow);
    g->setRowHeights(0, 20);
    g->setColWidths(2, 9);
    g->SortOptions().SortCol = 1;
    const QColor yellow = toQColor(clYellow);
    const QColor black(Qt::black);

    QImage img = grabViewport(*g);
    const QRect head = g->CellRect(1, 0);
    const int x0 = head.left() + 3, y0 = head.top() + 20 / 2 - 4;
    // "UP": two pixels at the tip, eight at the base.
    EXPECT_EQ(img.pixelColor(x0 + 3, y0), black);
    EXPECT_EQ(img.pixelColor(x0 + 4, y0), black);
    EXPECT_EQ(img.pixelColor(x0 + 2, y0), yellow);
    EXPECT_EQ(img.pixelColor(x0 + 5, y0), yellow);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(img.pixelColor(x0 + x, y0 + 6), black) << x;
    EXPECT_EQ(img.pixelColor(x0 - 1, y0 + 6), yellow);
    EXPECT_EQ(img.pixelColor(x0 + 8, y0 + 6), yellow);
    EXPECT_EQ(img.pixelColor(x0 + 3, y0 - 1), yellow);
    EXPECT_EQ(img.pixelColor(x0 + 3, y0 + 7), yellow);
    // No arrow over the other columns.
    const QRect other = g->CellRect(0, 0);
    EXPECT_EQ(img.pixelColor(other.left() + 6, y0 + 6), yellow);

    g->HeaderClick(1, Qt::LeftButton); // same column: descending, "DOWN"
    img = grabViewport(*g);
    EXPECT_EQ(img.pixelColor(x0 + 3, y0 + 6), black);
    EXPECT_EQ(img.pixelColor(x0 + 2, y0 + 6), yellow);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(img.pixelColor(x0 + x, y0), black) << x;

    // A column of 10 pixels or less gets an arrow of its width less 3.
    g->SortOptions().SortCol = 2;
    img = grabViewport(*g);
    const QRect narrow = g->CellRect(2, 0);
    EXPECT_EQ(img.pixelColor(narrow.left() + 3 + 5, y0), black);
    EXPECT_EQ(img.pixelColor(narrow.left() + 2, y0), yellow);
    EXPECT_EQ(img.pixelColor(narrow.left() + 3 + 5, y0 + 7), yellow);

    // With CanSort off no arrow is drawn.
    g->SortOptions().SortCol = 1;
    g->SortOptions().CanSort = false;
    img = grabViewport(*g);
    EXPECT_EQ(img.pixelColor(x0 + 3, y0 + 6), yellow);
}

TEST(SortGridDraw, DataRowsBlankDuringUpdateAndWithHideRows)
{
    auto g = makeSortGrid({{"Title"}, {"Wq"}, {"Wq"}}, 200, 120);
    g->setOptions(kLines);
    g->setColor(clWhite);
    g->setFixedColor(clWhite);
    g->setColWidths(0, 80);
    g->setRow(2);
    const QColor white(Qt::white);
    const QRect data = g->CellRect(0, 1), head = g->CellRect(0, 0);
    int formatCalls = 0;
    g->OnGetCellFormat = [&](QObject *, int, int, TGridDrawState, TFormatOptions &, bool &, bool &,
                             bool &) { ++formatCalls; };

    EXPECT_FALSE(inkBox(grabViewport(*g), data, white).isEmpty());
    g->BeginUpdate();
    formatCalls = 0;
    QImage img = grabViewport(*g);
    EXPECT_TRUE(inkBox(img, data, white).isEmpty());
    EXPECT_FALSE(inkBox(img, head.adjusted(0, 0, -1, -1), white).isEmpty()); // title drawn
    EXPECT_EQ(formatCalls, 1);                                               // only the title
    g->EndUpdate();
    EXPECT_FALSE(inkBox(grabViewport(*g), data, white).isEmpty());

    // Hiding the rows moves to row 1, which then is one bar of the selection colour.
    g->setHideRows(true);
    EXPECT_EQ(g->Row(), 1);
    img = grabViewport(*g);
    EXPECT_TRUE(inkBox(img, g->CellRect(0, 2), white).isEmpty());
    EXPECT_TRUE(inkBox(img, data, img.pixelColor(data.topLeft())).isEmpty());
}

struct TitleCase
{
    QString text;
    int avail;
};

class TitleShortening : public ::testing::TestWithParam<TitleCase>
{
};

TEST_P(TitleShortening, EndsInTwoDotsAndKeepsThreeCharacters)
{
    const TitleCase &c = GetParam();
    const QFontMetrics fm(testFont());
    const QString s = TSortGrid::ShortenTitle(c.text, c.avail, fm);
    if (fm.horizontalAdvance(c.text) <= c.avail || c.text.size() < 2) {
        EXPECT_EQ(s, c.text);
        return;
    }
    EXPECT_TRUE(s.endsWith("..")) << s.toStdString();
    // The longest prefix whose shortened form fits, but never fewer than three
    // characters in all (two for a two-character title).
    QString expected = c.text.left(1) + "..";
    if (c.text.size() == 2)
        expected = "..";
    for (int k = c.text.size() - 2; k >= 1; --k) {
        const QString t = c.text.left(k) + "..";
        if (fm.horizontalAdvance(t) <= c.avail) {
            expected = t;
            break;
        }
    }
    EXPECT_EQ(s, expected);
}

INSTANTIATE_TEST_SUITE_P(Titles, TitleShortening,
                         ::testing::Values(TitleCase{"Zeitnahme", 1000}, TitleCase{"Zeitnahme", 40},
                                           TitleCase{"Zeitnahme", 25}, TitleCase{"Zeitnahme", 1},
                                           TitleCase{"abc", 1}, TitleCase{"ab", 1},
                                           TitleCase{"x", 0}, TitleCase{"Fahrer", 30}));

TEST(SortGridDraw, HeaderDrawsTheShortenedTitle)
{
    auto g = makeSortGrid({{"Zeitnahme", ""}, {"", ""}}, 300, 120);
    g->setFont(testFont());
    g->setFixedColor(clWhite);
    g->SortOptions().CanSort = false;
    g->setColWidths(0, 40);
    g->OnGetCellFormat = [](QObject *, int, int, TGridDrawState, TFormatOptions &f, bool &, bool &,
                            bool &) { f.Font.Color = Qt::black; };
    const QRect head = g->CellRect(0, 0);
    const QString s = TSortGrid::ShortenTitle("Zeitnahme", 39, QFontMetrics(testFont()));
    EXPECT_EQ(inkBox(grabViewport(*g), head, Qt::white),
              referenceInk(head.size(), testFont(), s, 2, 2));
}

// ---------------------------------------------------------------------------------------
// Column widths

TEST(SortGridColumns, AutoSizeCol)
{
    auto g = makeSortGrid({{"", "Nr.", "Fahrername"}, {"", "1234567", "Al"}, {"", "12", ""}});
    const QFontMetrics fm(g->font());
    g->SortOptions().SortCol = 2;

    g->AutoSizeCol(0, true);
    EXPECT_EQ(g->ColWidths(0), fm.horizontalAdvance("xx"));
    g->AutoSizeCol(1, true);
    EXPECT_EQ(g->ColWidths(1), fm.horizontalAdvance("1234567") + fm.horizontalAdvance("X"));
    // The sort column's title has room for the arrow.
    g->AutoSizeCol(2, true);
    EXPECT_EQ(g->ColWidths(2), fm.horizontalAdvance("Fahrername") + 12 + fm.horizontalAdvance("X"));

    // Measured in the font the format handler gives.
    QFont bold = g->font();
    bold.setBold(true);
    bold.setPixelSize(30);
    g->OnGetCellFormat = [&](QObject *, int, int row, TGridDrawState, TFormatOptions &f, bool &,
                             bool &, bool &) {
        if (row > 0)
            static_cast<QFont &>(f.Font) = bold;
    };
    g->AutoSizeCol(1, true);
    EXPECT_EQ(g->ColWidths(1),
              QFontMetrics(bold).horizontalAdvance("1234567") + fm.horizontalAdvance("X"));

    // A hidden column is sized only when forced.
    g->setColWidths(0, -1);
    g->AutoSizeCol(0, false);
    EXPECT_EQ(g->ColWidths(0), -1);
    g->AutoSizeCol(0, true);
    EXPECT_EQ(g->ColWidths(0), fm.horizontalAdvance("xx"));
}

TEST(SortGridColumns, LastColumnFillsTheControl)
{
    auto g = makeSortGrid({{"a", "b", "c"}, {"1", "2", "3"}}, 300, 150);
    g->setColWidths(0, 50);
    g->setColWidths(1, 60);
    showActive(*g);
    g->resize(320, 150);
    QApplication::processEvents();
    EXPECT_EQ(g->CellRect(2, 1).right(), g->viewport()->width() - 1);
    EXPECT_FALSE(g->horizontalScrollBar()->isVisible());
    g->resize(420, 150);
    QApplication::processEvents();
    EXPECT_EQ(g->CellRect(2, 1).right(), g->viewport()->width() - 1);
    g->resize(200, 150);
    QApplication::processEvents();
    EXPECT_EQ(g->CellRect(2, 1).right(), g->viewport()->width() - 1);

    // When the columns before the last do not fit, the last keeps its width.
    g->setColWidths(0, 400);
    const int before = g->ColWidths(2);
    g->resize(210, 150);
    QApplication::processEvents();
    EXPECT_EQ(g->ColWidths(2), before);
}

// ---------------------------------------------------------------------------------------
// Search and moving

TEST(SortGridSearch, FindInColumn)
{
    auto g = makeSortGrid({{"Nr"}, {"12"}, {"07"}, {"7"}, {"Abc"}});
    EXPECT_EQ(g->FindInColumn(0, "7", false), 3);
    EXPECT_EQ(g->FindInColumn(0, "07", false), 2);
    EXPECT_EQ(g->FindInColumn(0, "1", false), -1);
    EXPECT_EQ(g->FindInColumn(0, "abc", false), -1);
    EXPECT_EQ(g->FindInColumn(0, "abc", true), 4);
    EXPECT_EQ(g->FindInColumn(0, "Nr", false), -1); // the title row is no data
}

TEST(SortGridSearch, FirstLetterSearchCyclesAndWraps)
{
    auto g = makeSortGrid({{"", "Name"},
                           {"", "Berta"},
                           {"", "anton"},
                           {"", "Bernd"},
                           {"", "Axel"},
                           {"", ""},
                           {"", "cäsar"}});
    g->SortOptions().SortCol = 1;
    QString seen;
    g->OnKeyPress = [&](QObject *, QChar &k) { seen += k; };
    showActive(*g);
    ASSERT_EQ(g->Row(), 1);
    QTest::keyClick(g.get(), 'a');
    EXPECT_EQ(g->Row(), 2);
    EXPECT_EQ(g->Col(), 1);
    QTest::keyClick(g.get(), 'a');
    EXPECT_EQ(g->Row(), 4);
    QTest::keyClick(g.get(), 'a'); // wraps to the top
    EXPECT_EQ(g->Row(), 2);
    QTest::keyClick(g.get(), 'b');
    EXPECT_EQ(g->Row(), 3);
    QTest::keyClick(g.get(), 'b');
    EXPECT_EQ(g->Row(), 1);
    QTest::keyClick(g.get(), 'z'); // nothing starts with Z: stays
    EXPECT_EQ(g->Row(), 1);
    EXPECT_EQ(seen, "AAABBZ"); // the owner sees the upper-cased key
}

TEST(SortGridScroll, GotoCellAndScrollToCell)
{
    auto g = numberedGrid(100);
    g->setDefaultRowHeight(20);
    showActive(*g);
    const int visible = g->VisibleRowCount();
    ASSERT_GT(visible, 3);
    g->GotoCell(1, 50, true);
    EXPECT_EQ(g->Row(), 50);
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->TopRow(), 49); // one row below the top
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{50}));
    g->GotoCell(9, 500, true); // clamped
    EXPECT_EQ(g->Row(), 100);
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->TopRow(), 101 - g->VisibleRowCount());
    g->ScrollToCell(0, 10);
    EXPECT_EQ(g->TopRow(), 9);
    EXPECT_EQ(g->Row(), 100); // scrolling does not move the current cell

    bool asked = false;
    g->OnSelectCell = [&](QObject *, int, int, bool &can) {
        asked = true;
        can = false;
    };
    g->GotoCell(0, 20, true);
    EXPECT_TRUE(asked);
    EXPECT_EQ(g->Row(), 100);
    EXPECT_EQ(g->TopRow(), 9);
}

TEST(SortGridScroll, WheelStepDownOneRowUpThreeRows)
{
    auto g = numberedGrid(100);
    g->setDefaultRowHeight(20);
    showActive(*g);
    g->GotoCell(1, 12, false);
    g->setTopRow(10);
    wheel(*g, -120);
    EXPECT_EQ(g->TopRow(), 11);
    wheel(*g, 120);
    EXPECT_EQ(g->TopRow(), 8);
    EXPECT_EQ(g->Row(), 12);
    EXPECT_EQ(g->Col(), 1);
    wheel(*g, 240); // two steps up, stopping at the first data row
    EXPECT_EQ(g->TopRow(), 2);
    wheel(*g, 120);
    EXPECT_EQ(g->TopRow(), 1);
    g->setTopRow(1000);
    const int bottom = g->TopRow();
    wheel(*g, -120);
    EXPECT_EQ(g->TopRow(), bottom);
}

// ---------------------------------------------------------------------------------------
// Rows, columns and size changes

TEST(SortGridRows, RowCountChangeMovesToFirstDataRow)
{
    auto g = numberedGrid(40);
    g->setDefaultRowHeight(20);
    showActive(*g);
    g->GotoCell(1, 30, true);
    ASSERT_GT(g->TopRow(), 1);
    g->setRowCount(45);
    EXPECT_EQ(g->Row(), 1);
    EXPECT_EQ(g->Col(), 0);
    EXPECT_EQ(g->TopRow(), 1);

    g->GotoCell(1, 30, true);
    g->OnSelectCell = [](QObject *, int col, int, bool &can) { can = col != 0; };
    g->setRowCount(50);
    EXPECT_EQ(g->Row(), 30);

    g->OnSelectCell = nullptr;
    g->BeginUpdate();
    g->setRowCount(55);
    EXPECT_EQ(g->Row(), 30);
    g->EndUpdate();
}

TEST(SortGridRows, SizeChangeEventsAndRowsizeTooSmall)
{
    QStringList messages;
    ValueGuard<std::function<void(const QString &)>> hook(TSortGrid::ShowMessageHook,
                                                          [&](const QString &m) { messages << m; });
    auto g = numberedGrid(3);
    QList<QPair<int, int>> sizes;
    int modified = 0;
    g->OnSizeChanged = [&](QObject *, int c, int r) { sizes << qMakePair(c, r); };
    g->OnModified = [&](QObject *) { ++modified; };
    g->setModified(false);
    modified = 0;
    g->setRowCount(6);
    EXPECT_TRUE(g->Modified());
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(sizes, (QList<QPair<int, int>>{{2, 4}}));
    EXPECT_TRUE(messages.isEmpty());
    g->setRowCount(1);
    EXPECT_EQ(messages, QStringList{"Rowsize too small"});
    EXPECT_EQ(g->RowCount(), 1);
    g->GotoCell(0, 1, true); // no data row: nothing to go to, no failure
    g->ScrollToCell(0, 1);
}

TEST(SortGridRows, DeleteRow)
{
    auto g = makeSortGrid({{"Nr", "Zeit"}, {"5", "10:00:00,00"}});
    QList<int> deleted;
    g->OnRowDelete = [&](QObject *, int r) { deleted << r; };
    g->setModified(false);
    g->DeleteRow(1); // the only data row is emptied, not removed
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->Rows(1), (QStringList{"", ""}));
    EXPECT_EQ(deleted, QList<int>{1});
    EXPECT_TRUE(g->Modified());

    auto h = makeSortGrid({{"Nr"}, {"a"}, {"b"}, {"c"}});
    h->DeleteRow(2);
    EXPECT_EQ(dataColumn(*h, 0), (QStringList{"a", "c"}));
    h->setRowCount(4); // the deleted row does not come back
    EXPECT_EQ(dataColumn(*h, 0), (QStringList{"a", "c", ""}));
    h->DeleteRow(0); // the title row stays
    h->DeleteRow(9);
    EXPECT_EQ(h->Cells(0, 0), "Nr");
    EXPECT_EQ(h->RowCount(), 4);
}

TEST(SortGridRows, InsertRowOnLastAppendsOtherwiseBefore)
{
    auto g = makeSortGrid({{"Nr"}, {"a"}, {"b"}, {"c"}, {"stale"}});
    g->setRowCount(4); // "stale" is kept beyond the last row
    QList<int> inserted;
    g->OnRowInsert = [&](QObject *, int r) { inserted << r; };
    g->InsertRow(3);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"a", "b", "c", ""}));
    EXPECT_EQ(g->Row(), 4);
    g->InsertRow(1);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"", "a", "b", "c", ""}));
    EXPECT_EQ(g->Row(), 1);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{1}));
    EXPECT_EQ(inserted, (QList<int>{4, 1}));
}

TEST(SortGridRows, InsertAndDeleteColumnKeepSortColumnOnItsData)
{
    auto g = makeSortGrid({{"a", "b", "c"}, {"1", "2", "3"}});
    g->SortOptions().SortCol = 1;
    QList<int> events;
    g->OnColumnInsert = [&](QObject *, int c) { events << c; };
    g->OnColumnDelete = [&](QObject *, int c) { events << -c - 100; };
    g->InsertColumn(0);
    EXPECT_EQ(g->Rows(0), (QStringList{"", "a", "b", "c"}));
    EXPECT_EQ(g->SortOptions().SortCol, 2);
    EXPECT_EQ(g->Col(), 0);
    g->DeleteColumn(3);
    EXPECT_EQ(g->Rows(1), (QStringList{"", "1", "2"}));
    EXPECT_EQ(events, (QList<int>{0, -103}));
    g->MoveColRow(true, 2, 0);
    EXPECT_EQ(g->SortOptions().SortCol, 0);
    EXPECT_EQ(g->Cells(0, 0), "b");
}

TEST(SortGridRows, ExtendedKeys)
{
    auto g = makeSortGrid({{"a", "b"}, {"1", "2"}});
    showActive(*g);
    QTest::keyClick(g.get(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(g->RowCount(), 2); // off by default
    g->setExtendedKeys(true);
    QTest::keyClick(g.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(g->Rows(1), (QStringList{"1", "2"})); // the last data row is refused
    QTest::keyClick(g.get(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(g->RowCount(), 3);
    QTest::keyClick(g.get(), Qt::Key_Insert, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(g->RowCount(), 3); // modifiers must match exactly
    QTest::keyClick(g.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(g->RowCount(), 2);
    QTest::keyClick(g.get(), Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(g->ColCount(), 3);
    QTest::keyClick(g.get(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(g.get(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(g.get(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(g->ColCount(), 1); // the last column is refused
}

// ---------------------------------------------------------------------------------------
// Mouse

TEST(SortGridMouse, HeaderClicksAndBorderDoubleClick)
{
    auto g = makeSortGrid({{"Nr", "Name", "Zeit"}, {"2", "b", "x"}, {"1", "a", "y"}}, 400, 150);
    for (int c = 0; c < 3; ++c)
        g->setColWidths(c, 80);
    g->SortOptions().CanSort = false;
    showActive(*g);
    const QRect h0 = g->CellRect(0, 0), h1 = g->CellRect(1, 0);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, h0.center());
    EXPECT_EQ(g->SortOptions().SortDirection, sdDescending);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"2", "1"})); // CanSort off: no sort
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, QPoint(h0.left() + 3, h0.center().y()));
    EXPECT_EQ(g->SortOptions().SortDirection, sdDescending); // near a border: no click

    g->SortOptions().CanSort = true;
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, h1.center());
    EXPECT_EQ(g->SortOptions().SortDirection, sdAscending);
    EXPECT_EQ(g->SortOptions().SortCol, 1);
    EXPECT_EQ(dataColumn(*g, 1), (QStringList{"a", "b"}));
    QTest::mouseClick(g->viewport(), Qt::RightButton, {}, h1.center());
    EXPECT_EQ(dataColumn(*g, 1), (QStringList{"b", "a"}));

    // Press on one title, release on another: no click.
    QTest::mousePress(g->viewport(), Qt::LeftButton, {}, h0.center());
    QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, h1.center());
    EXPECT_EQ(g->SortOptions().SortCol, 1);

    // Double-click on the right border of a title fits the column to its texts.
    const QFontMetrics fm(g->font());
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, QPoint(h0.right() - 1, h0.center().y()));
    EXPECT_EQ(g->ColWidths(0), fm.horizontalAdvance("Nr") + fm.horizontalAdvance("X"));
    // Just right of a border fits the column to the left.
    const QRect h2 = g->CellRect(2, 0);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, QPoint(h2.left() + 2, h2.center().y()));
    EXPECT_EQ(g->ColWidths(1),
              fm.horizontalAdvance("Name") + 12 + fm.horizontalAdvance("X")); // sort column
}

TEST(SortGridMouse, ClickSelectsRowAndFiresRowSelected)
{
    auto g = numberedGrid(5, 300, 200);
    showActive(*g);
    int selectedEvents = 0;
    g->OnRowSelected = [&](QObject *) { ++selectedEvents; };
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 3).center());
    EXPECT_EQ(g->Row(), 3);
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{3}));
    EXPECT_EQ(selectedEvents, 1);
    EXPECT_TRUE(g->hasFocus());
}

// ---------------------------------------------------------------------------------------
// Editing

TEST(SortGridEdit, ValidationRejectsAndRestores)
{
    auto g = makeSortGrid({{"Nr", "Zeit"}, {"5", "a"}, {"6", "b"}});
    g->setOptions(kLines | goEditing);
    showActive(*g);
    g->GotoCell(0, 1, false);
    g->setModified(false);
    QStringList calls;
    g->OnCellValidate = [&](QObject *, int c, int r, const QString &oldV, QString &newV,
                            bool &valid) {
        calls << QString("%1,%2 %3->%4").arg(c).arg(r).arg(oldV, newV);
        valid = !newV.contains('x');
        if (valid)
            newV = newV + "!";
    };
    QTest::keyClick(g.get(), Qt::Key_F2);
    ASSERT_TRUE(g->EditorMode());
    QLineEdit *ed = g->InplaceEditor();
    QTest::keyClick(ed, 'x');
    EXPECT_EQ(g->Cells(0, 1), "5x");
    EXPECT_TRUE(g->Modified());
    QTest::keyClick(ed, Qt::Key_Return);
    EXPECT_EQ(calls, QStringList{"0,1 5->5x"});
    EXPECT_EQ(g->Cells(0, 1), "5"); // rejected: the old text is back
    EXPECT_FALSE(g->Modified());
    EXPECT_FALSE(g->EditorMode());

    QTest::keyClick(g.get(), Qt::Key_F2);
    QTest::keyClick(g->InplaceEditor(), '7');
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Return);
    EXPECT_EQ(g->Cells(0, 1), "57!"); // the handler's value is stored
    EXPECT_TRUE(g->Modified());

    // Leaving the edited cell by key validates too.
    QTest::keyClick(g.get(), Qt::Key_F2);
    QTest::keyClick(g->InplaceEditor(), 'x');
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Down);
    EXPECT_EQ(g->Cells(0, 1), "57!");
    EXPECT_EQ(g->Row(), 2);
}

TEST(SortGridEdit, KeyPressFiltersEditorInputAndEnterMovesOn)
{
    // The way the main window filters the start-number column.
    auto g = makeSortGrid({{"", "Zeit", "Nr."}, {"1", "t1", ""}, {"2", "t2", ""}});
    g->setOptions(kLines | goEditing);
    g->SortOptions().SortCol = 1;
    QList<QPair<int, QString>> edits;
    g->OnSetEditText = [&](QObject *, int, int r, const QString &v) { edits << qMakePair(r, v); };
    g->OnKeyPress = [&](QObject *, QChar &k) {
        if (k == QChar(13))
            g->setRow(std::min(g->Row() + 1, g->RowCount() - 1));
        else if (k != QChar(8) && !(k >= '0' && k <= '9'))
            k = QChar(0);
    };
    showActive(*g);
    g->GotoCell(2, 1, false);
    QTest::keyClicks(g.get(), "1");
    ASSERT_TRUE(g->EditorMode());
    QTest::keyClicks(g->InplaceEditor(), "2a -3");
    EXPECT_EQ(g->Cells(2, 1), "123");
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Backspace);
    EXPECT_EQ(g->Cells(2, 1), "12");
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Return);
    EXPECT_EQ(g->Row(), 2);
    EXPECT_EQ(g->Cells(2, 1), "12");
    ASSERT_FALSE(edits.isEmpty());
    EXPECT_EQ(edits.last(), qMakePair(1, QString("12")));
}

TEST(SortGridEdit, LeavingTheGridValidates)
{
    QWidget window;
    auto *g = new TSortGrid(&window);
    auto *other = new QLineEdit(&window);
    g->setColCount(2);
    g->setRowCount(3);
    g->setRows(1, {"5", "a"});
    g->setGeometry(0, 0, 200, 150);
    other->setGeometry(0, 160, 100, 20);
    g->setOptions(kLines | goEditing);
    showActive(window);
    g->setFocus();
    g->GotoCell(0, 1, false);
    int calls = 0;
    g->OnCellValidate = [&](QObject *, int, int, const QString &, QString &, bool &valid) {
        ++calls;
        valid = false;
    };
    QTest::keyClick(g, Qt::Key_F2);
    ASSERT_TRUE(g->EditorMode());
    QTest::keyClick(g->InplaceEditor(), '9');
    other->setFocus();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(g->Cells(0, 1), "5");
}

TEST(SortGridRows, UpdateOnSizeChangeResortsOutsideUpdates)
{
    auto g = makeSortGrid({{"K"}, {"b"}, {"a"}});
    g->SortOptions().UpdateOnSizeChange = true;
    g->setRowCount(4);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"", "a", "b"}));
    g->setCells(0, 1, "z");
    g->BeginUpdate();
    EXPECT_FALSE(g->SortOptions().UpdateOnSizeChange);
    g->setRowCount(5);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"z", "a", "b", ""}));
    g->EndUpdate();
    EXPECT_TRUE(g->SortOptions().UpdateOnSizeChange);
}

TEST(SortGridFormat, StateFlagsAndModifiedEvents)
{
    auto g = makeSortGrid({{"A", "B"}, {"1", "2"}, {"3", "4"}});
    showActive(*g);
    g->setFocus();
    g->GotoCell(1, 2, false);
    QMap<QPair<int, int>, TGridDrawState> states;
    g->OnGetCellFormat = [&](QObject *, int c, int r, TGridDrawState st, TFormatOptions &f, bool &,
                             bool &, bool &) {
        states[qMakePair(c, r)] = st;
        EXPECT_EQ(f.AlignmentHorz, taRightJustify); // the grid's default is handed over
        EXPECT_EQ(f.BevelStyle, cbRaised);
    };
    g->setAlignmentHorz(taRightJustify);
    g->setBevelStyle(cbRaised);
    g->viewport()->grab();
    EXPECT_TRUE(states[qMakePair(1, 2)] & gdFocused);
    EXPECT_TRUE(states[qMakePair(1, 2)] & gdSelected);
    EXPECT_FALSE(states[qMakePair(0, 1)] & (gdFocused | gdSelected));
    EXPECT_TRUE(states[qMakePair(0, 0)] & gdFixed);
}

TEST(SortGridMouse, RightReleaseOverDataRowOpensPopupMenu)
{
    auto g = numberedGrid(3);
    QMenu menu;
    menu.addAction("x");
    g->setPopupMenu(&menu);
    showActive(*g);
    QTest::mouseClick(g->viewport(), Qt::RightButton, {}, g->CellRect(0, 0).center());
    EXPECT_FALSE(menu.isVisible()); // not over the title row
    QTest::mouseClick(g->viewport(), Qt::RightButton, {}, g->CellRect(0, 2).center());
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
}

TEST(SortGridEdit, StructuralChangesNeverWriteTheEditorIntoAnotherRow)
{
    auto g = makeSortGrid({{"K", "V"}, {"b", "1"}, {"a", "2"}, {"c", "3"}});
    g->setOptions(kLines | goEditing);
    showActive(*g);
    g->GotoCell(1, 1, false);
    QTest::keyClick(g.get(), Qt::Key_F2);
    QTest::keyClick(g->InplaceEditor(), 'x');
    ASSERT_EQ(g->Cells(1, 1), "1x");
    g->SortByColumn(0);
    g->setEditorMode(false);
    EXPECT_EQ(g->Rows(1), (QStringList{"a", "2"}));
    EXPECT_EQ(g->Rows(2), (QStringList{"b", "1x"}));
    EXPECT_EQ(g->Rows(3), (QStringList{"c", "3"}));

    // Shrinking the grid under an open editor.
    g->GotoCell(1, 3, false);
    QTest::keyClick(g.get(), Qt::Key_F2);
    QTest::keyClick(g->InplaceEditor(), 'y');
    g->setRowCount(3);
    EXPECT_FALSE(g->EditorMode());
    EXPECT_EQ(g->Rows(2), (QStringList{"b", "1x"}));
    g->setRowCount(4);
    EXPECT_EQ(g->Rows(3), (QStringList{"c", "3y"}));

    // Selecting another cell from outside closes the editor without writing.
    g->GotoCell(1, 1, false);
    QTest::keyClick(g.get(), Qt::Key_F2);
    g->setSelection({0, 2, 1, 2});
    EXPECT_FALSE(g->EditorMode());
    EXPECT_EQ(g->Rows(2), (QStringList{"b", "1x"}));
    EXPECT_EQ(g->Rows(1), (QStringList{"a", "2"}));
}
