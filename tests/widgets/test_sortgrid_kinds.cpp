#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

namespace {

enum Kind
{
    None,
    Check,
    Combo,
    Ellipsis
};

// A grid whose column 1 holds cells of the given kind.
std::unique_ptr<TSortGrid> kindGrid(Kind kind, const QStringList &column1, int rows = 6)
{
    QList<QStringList> data{{"Nr", "Wert", "Rest"}};
    for (int r = 1; r <= rows; ++r)
        data << QStringList{QString::number(r), column1.value(r - 1), "x"};
    auto g = makeSortGrid(data, 300, 220);
    g->setColWidths(1, 60);
    g->OnGetCellFormat = [kind](QObject *, int c, int r, TGridDrawState, TFormatOptions &, bool &cb,
                                bool &co, bool &el) {
        if (c != 1 || r == 0)
            return;
        cb = kind == Check;
        co = kind == Combo;
        el = kind == Ellipsis;
    };
    showActive(*g);
    return g;
}

QImage shot(TSortGrid &g)
{
    return g.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Whether every opaque pixel of pic appears in img with its top-left at `at`.
bool drawnAt(const QImage &img, const QImage &pic, QPoint at)
{
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x)
            if (qAlpha(pic.pixel(x, y)) == 255 &&
                (img.pixel(at + QPoint(x, y)) & 0xFFFFFF) != (pic.pixel(x, y) & 0xFFFFFF))
                return false;
    return true;
}

void click(TSortGrid &g, QPoint pos, Qt::KeyboardModifiers mods = {})
{
    QTest::mouseClick(g.viewport(), Qt::LeftButton, mods, pos);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Check boxes

struct CheckCase
{
    QString text;
    bool checked;
};

void PrintTo(const CheckCase &c, std::ostream *os)
{
    *os << '"' << c.text.toStdString() << '"';
}

class CheckBoxText : public ::testing::TestWithParam<CheckCase>
{
};

TEST_P(CheckBoxText, DrawsThePictureOfItsState)
{
    const CheckCase &c = GetParam();
    auto g = kindGrid(Check, {"", c.text});
    EXPECT_EQ(g->IsChecked(1, 2), c.checked);
    const QRect cell = g->CellRect(1, 2); // 60 wide, 24 high: the box is centred
    const QPoint at(cell.left() + 22, cell.top() + 24 / 2 - 8);
    const QImage img = shot(*g);
    EXPECT_TRUE(drawnAt(
        img, TSortGrid::CellPicture(c.checked ? TSortGrid::cpChecked : TSortGrid::cpUnchecked),
        at));
    EXPECT_FALSE(drawnAt(
        img, TSortGrid::CellPicture(c.checked ? TSortGrid::cpUnchecked : TSortGrid::cpChecked),
        at));
}

INSTANTIATE_TEST_SUITE_P(Texts, CheckBoxText,
                         ::testing::Values(CheckCase{"1", true}, CheckCase{"true", true},
                                           CheckCase{"V", true}, CheckCase{"True", false},
                                           CheckCase{"v", false}, CheckCase{"", false},
                                           CheckCase{"yes", false}));

TEST(SortGridCheckBox, SpaceAndClickToggleToVOrEmpty)
{
    auto g = kindGrid(Check, {"1", "", "true"});
    std::vector<std::pair<int, bool>> events;
    g->OnSetChecked = [&](QObject *, int c, int r, bool state) {
        EXPECT_EQ(c, 1);
        events.emplace_back(r, state);
    };
    g->GotoCell(1, 1, false);
    QTest::keyClick(g.get(), Qt::Key_Space);
    click(*g, g->CellRect(1, 2).center());
    click(*g, g->CellRect(1, 3).center());
    EXPECT_EQ(dataColumn(*g, 1).mid(0, 3), (QStringList{"", "V", ""}));
    EXPECT_EQ(events, (std::vector<std::pair<int, bool>>{{1, false}, {2, true}, {3, false}}));
    EXPECT_TRUE(g->Modified());
    EXPECT_FALSE(g->EditorMode());

    // A press and a release on different cells toggle nothing; nor does a plain cell.
    QTest::mousePress(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 4).center());
    QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 5).center());
    g->SetChecked(2, 4, true);
    EXPECT_EQ(g->Cells(1, 4), "");
    EXPECT_EQ(g->Cells(2, 4), "x");
    EXPECT_EQ(events.size(), 3u);
}

// ---------------------------------------------------------------------------------------
// Cell buttons

struct GlyphCase
{
    Kind kind;
    int currentCol;
    bool editing;
    bool drawn;
};

void PrintTo(const GlyphCase &c, std::ostream *os)
{
    *os << (c.kind == Combo ? "drop-down" : "ellipsis") << ", current column " << c.currentCol
        << (c.editing ? ", editing" : "");
}

class CellButtonGlyph : public ::testing::TestWithParam<GlyphCase>
{
};

TEST_P(CellButtonGlyph, AtTheRightEdgeOnlyWhereTheRulesSay)
{
    const GlyphCase &c = GetParam();
    auto g = kindGrid(c.kind, {"a", "b"});
    g->setDefaultRowHeight(16);
    if (c.editing)
        g->setOptions(g->Options() | goEditing);
    g->GotoCell(c.currentCol, 2, false);
    if (c.editing)
        g->ShowEditor();
    ASSERT_EQ(g->EditorMode(), c.editing);
    const QRect cell = g->CellRect(1, 2);
    const QImage img = shot(*g);
    const auto pic =
        TSortGrid::CellPicture(c.kind == Combo ? TSortGrid::cpCombobox : TSortGrid::cpEllipsis);
    EXPECT_EQ(drawnAt(img, pic, QPoint(cell.left() + cell.width() - 16, cell.top())), c.drawn);
    // Never in another row.
    const QRect other = g->CellRect(1, 1);
    EXPECT_FALSE(drawnAt(img, pic, QPoint(other.left() + other.width() - 16, other.top())));
}

INSTANTIATE_TEST_SUITE_P(Rules, CellButtonGlyph,
                         ::testing::Values(GlyphCase{Combo, 1, false, true},
                                           GlyphCase{Combo, 0, false, false},
                                           GlyphCase{Combo, 0, true, true},
                                           GlyphCase{Ellipsis, 1, false, false},
                                           GlyphCase{Ellipsis, 0, false, true}));

TEST(SortGridEllipsis, FiresOnSpaceAndOnlyWithinTheRightmost16Pixels)
{
    auto g = kindGrid(Ellipsis, {"a", "b"});
    std::vector<int> rows;
    g->OnSetEllipsis = [&](QObject *, int c, int r) {
        EXPECT_EQ(c, 1);
        rows.push_back(r);
    };
    const QRect cell = g->CellRect(1, 2);
    const int right = cell.left() + cell.width();
    for (const auto &[x, fires] :
         {std::pair{right - 1, true}, std::pair{right - 16, true}, std::pair{right - 17, false},
          std::pair{cell.left() + 2, false}}) {
        rows.clear();
        click(*g, QPoint(x, cell.center().y()));
        EXPECT_EQ(rows.size(), fires ? 1u : 0u) << "x = " << x - cell.left();
    }
    rows.clear();
    QTest::keyClick(g.get(), Qt::Key_Space);
    EXPECT_EQ(rows, std::vector<int>{2});
}

// ---------------------------------------------------------------------------------------
// Drop-down list

struct ListCase
{
    int items;
    int width;  // OnGetComboBox's answer
    int height; // likewise
    int expectedItems;
};

void PrintTo(const ListCase &c, std::ostream *os)
{
    *os << c.items << " items, Width " << c.width << ", Height " << c.height;
}

class DropDownList : public ::testing::TestWithParam<ListCase>
{
};

TEST_P(DropDownList, PlacedAndSizedOverTheCellAndWritesThePick)
{
    const ListCase &c = GetParam();
    QWidget window;
    window.resize(600, 500);
    auto g = kindGrid(Combo, {"k03", "k02"});
    g->setParent(&window);
    g->show();
    g->setGeometry(20, 180, 300, 220);
    showActive(window);
    g->setFocus();
    QStringList items;
    for (int i = c.items; i >= 1; --i)
        items << QString("k%1").arg(i, 2, 10, QChar('0'));
    g->OnGetComboBox = [&](QObject *, int, int, QStringList &strs, int &w, int &h, bool &sorted) {
        EXPECT_TRUE(strs.isEmpty() && w == 0 && h == 0 && sorted);
        strs = items;
        w = c.width;
        h = c.height;
    };
    QStringList picks;
    g->OnSetComboBox = [&](QObject *, int col, int row, const QString &s) {
        picks << QString("%1,%2 %3").arg(col).arg(row).arg(s);
    };
    g->GotoCell(1, 2, false);
    QTest::keyClick(g.get(), Qt::Key_Space);
    QListWidget *list = g->ComboList();
    ASSERT_TRUE(list->isVisible());
    const QRect cell = g->CellRect(1, 2);
    const QPoint at = g->viewport()->mapTo(&window, cell.topLeft());
    const int ih = QFontMetrics(g->font()).height();
    const int h = c.expectedItems * ih + 5;
    EXPECT_EQ(list->geometry(),
              QRect(at.x() + 2, at.y() - h + 59, c.width ? c.width : cell.width() + 1, h));
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(list->item(0)->text(), "k01"); // sorted
    EXPECT_EQ(list->currentItem()->text(), "k02");

    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible());
    EXPECT_TRUE(g->hasFocus());
    EXPECT_EQ(g->Cells(1, 2), "k03");
    EXPECT_EQ(picks, QStringList{"1,2 k03"});

    // A click on an item picks it too.
    click(*g, g->CellRect(1, 1).center());
    ASSERT_TRUE(list->isVisible());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(g->Cells(1, 1), "k01");
    EXPECT_EQ(picks.size(), 2);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DropDownList,
                         ::testing::Values(ListCase{3, 0, 0, 3}, ListCase{12, 0, 0, 10},
                                           ListCase{3, 0, 1, 10}, ListCase{3, 150, 0, 3}));

TEST(SortGridDropDown, FocusToAnotherControlPicksClosingTheWindowDoesNot)
{
    for (bool gridFirst : {false, true}) {
        auto *window = new QWidget;
        auto *g = new TSortGrid(window);
        g->setColCount(2);
        g->setRowCount(3);
        g->setGeometry(0, 100, 200, 150);
        g->OnGetCellFormat = [](QObject *, int c, int, TGridDrawState, TFormatOptions &, bool &,
                                bool &co, bool &) { co = c == 1; };
        int picks = 0;
        g->OnGetComboBox = [](QObject *, int, int, QStringList &strs, int &, int &, bool &) {
            strs = QStringList{"a", "b"};
        };
        g->OnSetComboBox = [&](QObject *, int, int, const QString &) { ++picks; };
        showActive(*window);
        g->GotoCell(1, 1, false);
        g->setFocus();
        QTest::keyClick(g, Qt::Key_Space);
        ASSERT_TRUE(g->ComboList()->hasFocus());
        if (!gridFirst) {
            auto *other = new QLineEdit(window);
            other->show();
            other->setFocus(Qt::MouseFocusReason);
            EXPECT_EQ(picks, 1);
            EXPECT_EQ(g->Cells(1, 1), "a");
            EXPECT_TRUE(g->hasFocus());
            picks = 0;
            QTest::keyClick(g, Qt::Key_Space);
            ASSERT_TRUE(g->ComboList()->hasFocus());
        }
        if (gridFirst)
            delete g;
        delete window;
        EXPECT_EQ(picks, 0);
    }
}

TEST(SortGridDropDown, WithoutItemsNothingOpensAndTheCellIsNotEdited)
{
    auto g = kindGrid(Combo, {"a"});
    g->setOptions(g->Options() | goEditing);
    g->GotoCell(1, 1, false);
    QTest::keyClick(g.get(), Qt::Key_Space);
    QTest::keyClick(g.get(), Qt::Key_F2);
    EXPECT_FALSE(g->ComboList()->isVisible());
    EXPECT_FALSE(g->EditorMode());
    EXPECT_EQ(g->Cells(1, 1), "a");
}

TEST(SortGridDropDown, TabWhileEditingOpensTheListAndMovesOn)
{
    QList<QStringList> data{{"A", "B", "C", "D"}, {"x", "k2", "y", "z"}, {"", "", "", ""}};
    auto g = makeSortGrid(data, 360, 200);
    g->setOptions(g->Options() | goEditing | goTabs | goAlwaysShowEditor);
    g->OnGetCellFormat = [](QObject *, int c, int r, TGridDrawState, TFormatOptions &, bool &,
                            bool &co, bool &) { co = c == 1 && r > 0; };
    g->OnGetComboBox = [](QObject *, int, int, QStringList &strs, int &, int &, bool &) {
        strs = QStringList{"k1", "k2", "k3"};
    };
    showActive(*g);
    g->GotoCell(0, 1, false);
    g->ShowEditor();
    ASSERT_TRUE(g->EditorMode());
    QTest::keyClick(g->InplaceEditor(), Qt::Key_Tab);
    QListWidget *list = g->ComboList();
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(g->Col(), 2); // already on the next column
    EXPECT_FALSE(g->EditorMode());
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(g->Cells(1, 1), "k3");
    EXPECT_EQ(g->Col(), 2);
    EXPECT_TRUE(g->hasFocus());
}

// ---------------------------------------------------------------------------------------
// Filtering

TEST(SortGridFilter, RowOneEmptyDoesNothing)
{
    auto g = makeSortGrid({{"A", "B"}, {"", ""}, {"x", "y"}});
    int calls = 0;
    g->OnSetFilter = [&](const QStringList &, bool &) { ++calls; };
    g->setFiltered(true);
    EXPECT_FALSE(g->Filtered());
    EXPECT_EQ(g->RowCount(), 3);
    EXPECT_EQ(calls, 0);
}

TEST(SortGridFilter, WithoutHandlerAllRowsHideAndComeBackInOrder)
{
    auto g = makeSortGrid({{"K", "N"}, {"d", "1"}, {"b", "2"}, {"a", "3"}, {"c", "4"}});
    g->SortOptions().CanSort = false;
    g->setModified(false);
    g->setFiltered(true);
    EXPECT_TRUE(g->Filtered());
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->Rows(1), (QStringList{"", ""}));
    EXPECT_EQ(g->HiddenRowCount(), 4);
    EXPECT_EQ(g->FindInColumn(0, "a", false), 4); // hidden rows are found
    EXPECT_FALSE(g->Modified());

    g->setFiltered(false);
    EXPECT_EQ(g->HiddenRowCount(), 0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"d", "b", "a", "c"}));
    EXPECT_EQ(g->FindInColumn(0, "a", false), 3);
    EXPECT_FALSE(g->Modified());
}

TEST(SortGridFilter, AcceptedRowsStayAndInsertingKeepsTheHiddenOnes)
{
    auto g = makeSortGrid({{"K", "N"}, {"d", "1"}, {"b", "2"}, {"a", "3"}, {"c", "4"}});
    g->SortOptions().CanSort = false;
    QStringList seen;
    g->OnSetFilter = [&](const QStringList &row, bool &accept) {
        seen << row.join(":");
        accept = row[0] == "a" || row[0] == "c";
    };
    g->setFiltered(true);
    EXPECT_EQ(seen, (QStringList{"d:1", "b:2", "a:3", "c:4"}));
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"a", "c"}));
    EXPECT_EQ(g->HiddenRowCount(), 2);
    EXPECT_EQ(g->Row(), 1);

    g->InsertRow(1);
    g->setCells(0, 1, "e");
    g->setFiltered(false);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"e", "a", "c", "d", "b"}));
}

// ---------------------------------------------------------------------------------------
// Multi-row selection

struct ClickStep
{
    Qt::KeyboardModifiers mods;
    int row;
    std::set<int> selected;
    int current;
};

TEST(SortGridMultiSelect, PlainCtrlAndShiftClicks)
{
    QList<QStringList> rows{{"Nr"}};
    for (int i = 1; i <= 8; ++i)
        rows << QStringList{QString::number(i)};
    auto g = makeSortGrid(rows, 200, 300);
    showActive(*g);
    g->setMultiSelect(true);
    EXPECT_TRUE(g->Options() & goRowSelect);
    int events = 0;
    g->OnRowSelected = [&](QObject *) { ++events; };
    const ClickStep steps[] = {
        {{}, 2, {2}, 2},
        {Qt::ControlModifier, 4, {2, 4}, 4},
        {Qt::ControlModifier, 6, {2, 4, 6}, 6},
        {Qt::ControlModifier, 4, {2, 6}, 6}, // the current row moves to the last selected
        {Qt::ShiftModifier, 3, {3, 4, 5, 6}, 3},
        {{}, 5, {5}, 5},
        {Qt::ControlModifier, 5, {5}, 5}, // the last selected row stays
    };
    for (const ClickStep &s : steps) {
        events = 0;
        click(*g, g->CellRect(0, s.row).center(), s.mods);
        EXPECT_EQ(g->SelectedRows(), s.selected) << "row " << s.row;
        EXPECT_EQ(g->Row(), s.current) << "row " << s.row;
        EXPECT_LE(events, 2);
    }
    // Selected rows are drawn in the selection colours.
    const QImage img = shot(*g);
    EXPECT_EQ(img.pixelColor(g->CellRect(0, 5).topLeft() + QPoint(1, 1)),
              toQColor(TMyCustomGrid::clHighlight));
    EXPECT_NE(img.pixelColor(g->CellRect(0, 4).topLeft() + QPoint(1, 1)),
              toQColor(TMyCustomGrid::clHighlight));
}

TEST(SortGridMultiSelect, KeyboardRangeWithShiftAndSingleRowWithout)
{
    auto g = makeSortGrid({{"Nr"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}}, 200, 300);
    g->setOptions(g->Options() & ~TGridOptions(goRangeSelect));
    showActive(*g);
    g->setMultiSelect(true);
    g->GotoCell(0, 2, false);
    QTest::keyClick(g.get(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(g.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{2, 3, 4}));
    QTest::keyClick(g.get(), Qt::Key_Down);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{5}));
    EXPECT_FALSE(g->Options() & goRangeSelect); // range selection was only on for Shift
    QTest::keyClick(g.get(), Qt::Key_Home);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{1}));
}

namespace {
class DragCountingGrid : public TSortGrid
{
public:
    int drags = 0;

protected:
    void BeginDrag() override { ++drags; }
};
} // namespace

TEST(SortGridMultiSelect, DragStartsAfterMoreThanTenPixelsOnASelectedRow)
{
    struct Case
    {
        int row;
        QPoint move;
        int drags;
    };
    for (const Case &c :
         {Case{2, {10, 10}, 0}, Case{2, {11, 0}, 1}, Case{2, {0, -11}, 1}, Case{3, {20, 0}, 0}}) {
        DragCountingGrid g;
        g.setColCount(1);
        g.setRowCount(5);
        g.resize(200, 200);
        showActive(g);
        g.setMultiSelect(true);
        click(g, g.CellRect(0, 2).center());
        const QPoint from = g.CellRect(0, c.row).center();
        QTest::mousePress(g.viewport(), Qt::LeftButton, {}, from);
        const QPoint to = from + c.move;
        QMouseEvent move(QEvent::MouseMove, to, g.viewport()->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(g.viewport(), &move);
        EXPECT_EQ(g.drags, c.drags) << c.row << " " << c.move.x() << "," << c.move.y();
        QTest::mouseRelease(g.viewport(), Qt::LeftButton, {}, to);
    }
}

// ---------------------------------------------------------------------------------------
// Proportional scroll bars

namespace {
double thumbShare(QScrollBar *bar)
{
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = bar->orientation();
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.pageStep = bar->pageStep();
    opt.singleStep = bar->singleStep();
    opt.sliderPosition = bar->sliderPosition();
    opt.sliderValue = bar->value();
    opt.subControls = QStyle::SC_All;
    const QStyle *s = bar->style();
    const QRect thumb =
        s->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, bar);
    const QRect groove =
        s->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarGroove, bar);
    return bar->orientation() == Qt::Vertical ? double(thumb.height()) / groove.height()
                                              : double(thumb.width()) / groove.width();
}
} // namespace

class ProportionalThumbs : public ::testing::TestWithParam<int>
{
};

TEST_P(ProportionalThumbs, ShowTheVisibleShare)
{
    const int rows = GetParam();
    TSortGrid g;
    g.setColCount(rows / 2);
    g.setRowCount(rows);
    g.resize(300, 400);
    g.show();
    g.setProportionalScrollBars(true);
    const double v = double(g.VisibleRowCount() + 1) / rows;
    const double h = double(g.VisibleColCount()) / g.ColCount();
    EXPECT_NEAR(thumbShare(g.verticalScrollBar()), v, 0.02) << rows;
    EXPECT_NEAR(thumbShare(g.horizontalScrollBar()), h, 0.02) << rows;
    g.setRowCount(rows * 2); // follows the size
    EXPECT_NEAR(thumbShare(g.verticalScrollBar()), double(g.VisibleRowCount() + 1) / (rows * 2),
                0.02);
}

INSTANTIATE_TEST_SUITE_P(RowCounts, ProportionalThumbs, ::testing::Values(20, 30, 40));
