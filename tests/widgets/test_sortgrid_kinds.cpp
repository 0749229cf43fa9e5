#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

namespace {

enum Kind
{
    Check,
    Combo,
    Ellipsis
};

// Six data rows; column 1 (60 pixels wide) holds cells of the given kind.
std::unique_ptr<TSortGrid> kindGrid(Kind kind, const QStringList &column1,
                                    QWidget *parent = nullptr)
{
    QList<QStringList> data{{"Nr", "Wert", "Rest", "Ende"}};
    for (int r = 1; r <= 6; ++r)
        data << QStringList{QString::number(r), column1.value(r - 1), "x", ""};
    auto g = makeSortGrid(data, 300, 220);
    if (parent) {
        g->setParent(parent);
        g->show();
    }
    g->setColWidths(1, 60);
    g->OnGetCellFormat = [kind](QObject *, int c, int r, TGridDrawState, TFormatOptions &, bool &cb,
                                bool &co, bool &el) {
        cb = c == 1 && r > 0 && kind == Check;
        co = c == 1 && r > 0 && kind == Combo;
        el = c == 1 && r > 0 && kind == Ellipsis;
    };
    showActive(*g->window());
    g->setFocus();
    return g;
}

// Whether every opaque pixel of the picture shows in the grid with its top-left at `at`.
bool drawnAt(TSortGrid &g, TSortGrid::TCellPicture which, QPoint at)
{
    const QImage img = g.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage pic = TSortGrid::CellPicture(which);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
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

class CheckBoxText : public ::testing::TestWithParam<std::pair<const char *, bool>>
{
};

TEST_P(CheckBoxText, DrawsThePictureOfItsState)
{
    const auto [text, checked] = GetParam();
    auto g = kindGrid(Check, {"", text});
    EXPECT_EQ(g->IsChecked(1, 2), checked);
    const QRect cell = g->CellRect(1, 2); // 60 x 24: the box is centred
    const QPoint at(cell.left() + 22, cell.top() + 24 / 2 - 8);
    EXPECT_TRUE(drawnAt(*g, checked ? TSortGrid::cpChecked : TSortGrid::cpUnchecked, at));
    EXPECT_FALSE(drawnAt(*g, checked ? TSortGrid::cpUnchecked : TSortGrid::cpChecked, at));
}

INSTANTIATE_TEST_SUITE_P(Texts, CheckBoxText,
                         ::testing::Values(std::pair{"1", true}, std::pair{"true", true},
                                           std::pair{"V", true}, std::pair{"True", false},
                                           std::pair{"v", false}, std::pair{"", false}));

TEST(SortGridCheckBox, SpaceAndClickToggleToVOrEmpty)
{
    auto g = kindGrid(Check, {"1", "", "true"});
    std::vector<std::pair<int, bool>> events;
    g->OnSetChecked = [&](QObject *, int, int r, bool state) { events.emplace_back(r, state); };
    g->GotoCell(1, 1, false);
    QTest::keyClick(g.get(), Qt::Key_Space);
    click(*g, g->CellRect(1, 2).center());
    click(*g, g->CellRect(1, 3).center());
    QTest::mousePress(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 4).center());
    QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, g->CellRect(1, 5).center());
    g->SetChecked(2, 4, true); // not a check box
    EXPECT_EQ(dataColumn(*g, 1).mid(0, 5), (QStringList{"", "V", "", "", ""}));
    EXPECT_EQ(g->Cells(2, 4), "x");
    EXPECT_EQ(events, (std::vector<std::pair<int, bool>>{{1, false}, {2, true}, {3, false}}));
    EXPECT_TRUE(g->Modified());
}

TEST(SortGridEllipsis, FiresOnSpaceAndWithinTheRightmost16Pixels)
{
    auto g = kindGrid(Ellipsis, {"a", "b"});
    int events = 0;
    g->OnSetEllipsis = [&](QObject *, int c, int r) { events += c == 1 && r == 2; };
    const QRect cell = g->CellRect(1, 2); // 60 wide
    for (const auto &[x, fires] :
         {std::pair{59, 1}, std::pair{44, 1}, std::pair{43, 0}, std::pair{2, 0}}) {
        events = 0;
        click(*g, QPoint(cell.left() + x, cell.center().y()));
        EXPECT_EQ(events, fires) << "x = " << x;
    }
    QTest::keyClick(g.get(), Qt::Key_Space);
    EXPECT_EQ(events, 1);
}

class DropDownList : public ::testing::TestWithParam<std::tuple<int, int, int, int>>
{
};

TEST_P(DropDownList, PlacedAndSizedOverTheCellAndWritesThePick)
{
    const auto [items, width, height, shownItems] = GetParam();
    QWidget window;
    window.resize(600, 500);
    auto g = kindGrid(Combo, {"k03", "k02"}, &window);
    g->setGeometry(20, 180, 300, 220);
    g->OnGetComboBox = [&](QObject *, int, int, QStringList &strs, int &w, int &h, bool &sorted) {
        EXPECT_TRUE(strs.isEmpty() && w == 0 && h == 0 && sorted);
        for (int i = items; i >= 1; --i)
            strs << QString("k%1").arg(i, 2, 10, QChar('0'));
        w = width;
        h = height;
    };
    QStringList picks;
    g->OnSetComboBox = [&](QObject *, int c, int r, const QString &s) {
        picks << QString("%1,%2 %3").arg(c).arg(r).arg(s);
    };
    g->GotoCell(1, 2, false);
    QTest::keyClick(g.get(), Qt::Key_Space);
    QListWidget *list = g->ComboList();
    ASSERT_TRUE(list->isVisible() && list->hasFocus());
    const QRect cell = g->CellRect(1, 2);
    const QPoint at = g->viewport()->mapTo(&window, cell.topLeft());
    const int h = shownItems * QFontMetrics(g->font()).height() + 5;
    EXPECT_EQ(list->geometry(),
              QRect(at.x() + 2, at.y() - h + 59, width ? width : cell.width() + 1, h));
    EXPECT_EQ(list->item(0)->text(), "k01"); // sorted
    EXPECT_EQ(list->currentItem()->text(), "k02");
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(!list->isVisible() && g->hasFocus());
    EXPECT_EQ(picks, QStringList{"1,2 k03"});
    EXPECT_EQ(g->Cells(1, 2), "k03");
}

INSTANTIATE_TEST_SUITE_P(Sizes, DropDownList,
                         ::testing::Values(std::tuple{3, 0, 0, 3}, std::tuple{12, 0, 0, 10},
                                           std::tuple{3, 0, 1, 10}, std::tuple{3, 150, 0, 3}));

TEST(SortGridFilter, RowOneEmptyOrWithoutHandlerAllRowsHideAndComeBackInOrder)
{
    auto empty = makeSortGrid({{"A", "B"}, {"", ""}, {"x", "y"}});
    empty->setFiltered(true); // row 1 is empty: nothing happens
    EXPECT_FALSE(empty->Filtered());
    EXPECT_EQ(empty->RowCount(), 3);

    auto g = makeSortGrid({{"K", "N"}, {"d", "1"}, {"b", "2"}, {"a", "3"}, {"c", "4"}});
    g->SortOptions().CanSort = false;
    g->setModified(false);
    g->setFiltered(true);
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->Rows(1), (QStringList{"", ""}));
    EXPECT_EQ(g->HiddenRowCount(), 4);
    EXPECT_EQ(g->FindInColumn(0, "a", false), 4); // hidden rows are found
    g->setFiltered(false);
    EXPECT_EQ(g->HiddenRowCount(), 0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"d", "b", "a", "c"}));
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
    g->InsertRow(1);
    g->setCells(0, 1, "e");
    g->setFiltered(false);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"e", "a", "c", "d", "b"}));
}

TEST(SortGridMultiSelect, MouseCtrlShiftAndKeyboardRanges)
{
    auto g =
        makeSortGrid({{"Nr"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}, {"7"}, {"8"}}, 200, 300);
    g->setOptions(g->Options() & ~TGridOptions(goRangeSelect));
    showActive(*g);
    g->setMultiSelect(true);
    int events = 0;
    g->OnRowSelected = [&](QObject *) { ++events; };
    const struct
    {
        Qt::KeyboardModifiers mods;
        int row;
        std::set<int> selected;
        int current;
    } steps[] = {
        {{}, 2, {2}, 2},
        {Qt::ControlModifier, 4, {2, 4}, 4},
        {Qt::ControlModifier, 6, {2, 4, 6}, 6},
        {Qt::ControlModifier, 4, {2, 6}, 6}, // the current row moves to the last selected
        {Qt::ShiftModifier, 3, {3, 4, 5, 6}, 3},
        {{}, 5, {5}, 5},
        {Qt::ControlModifier, 5, {5}, 5}, // the only selected row stays
    };
    for (const auto &s : steps) {
        if (s.mods & Qt::ShiftModifier) // Shift goes down before the click
            QTest::keyPress(g.get(), Qt::Key_Shift);
        click(*g, g->CellRect(0, s.row).center(), s.mods);
        if (s.mods & Qt::ShiftModifier)
            QTest::keyRelease(g.get(), Qt::Key_Shift);
        EXPECT_EQ(g->SelectedRows(), s.selected) << "row " << s.row;
        EXPECT_EQ(g->Row(), s.current) << "row " << s.row;
    }
    EXPECT_EQ(events, 7); // Shift cleared the selection once

    // From the keyboard: Shift ranges from the current row, a plain key selects one row.
    QTest::keyClick(g.get(), Qt::Key_Down, Qt::ShiftModifier); // Shift pressed, then Down
    QTest::keyClick(g.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{5, 6, 7}));
    QTest::keyClick(g.get(), Qt::Key_Down);
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{8}));
    EXPECT_FALSE(g->Options() & goRangeSelect); // only on while Shift ranges
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
    for (const auto &[row, move, drags] :
         {std::tuple{2, QPoint(10, -10), 0}, std::tuple{2, QPoint(0, 11), 1},
          std::tuple{3, QPoint(20, 0), 0}}) {
        DragCountingGrid g;
        g.resize(300, 200);
        showActive(g);
        g.setMultiSelect(true);
        click(g, g.CellRect(0, 2).center());
        const QPoint from = g.CellRect(0, row).center(), to = from + move;
        QTest::mousePress(g.viewport(), Qt::LeftButton, {}, from);
        QMouseEvent ev(QEvent::MouseMove, to, g.viewport()->mapToGlobal(to), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(g.viewport(), &ev);
        EXPECT_EQ(g.drags, drags) << row << " " << move.x() << "," << move.y();
    }
}

namespace {
double thumbShare(QScrollBar *bar)
{
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = bar->orientation();
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.pageStep = bar->pageStep();
    opt.sliderPosition = opt.sliderValue = bar->value();
    const auto rect = [&](QStyle::SubControl sc) {
        const QRect r = bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, bar);
        return bar->orientation() == Qt::Vertical ? r.height() : r.width();
    };
    return double(rect(QStyle::SC_ScrollBarSlider)) / rect(QStyle::SC_ScrollBarGroove);
}
} // namespace

TEST(SortGridScrollBars, ProportionalThumbsShowTheVisibleShare)
{
    for (int rows : {10, 20}) {
        TSortGrid g; // few tall rows in view, where the plain thumbs are too small
        g.setColCount(rows / 2);
        g.setRowCount(rows);
        g.setDefaultRowHeight(80);
        g.resize(300, 400);
        g.show();
        g.setProportionalScrollBars(true);
        const auto share = [&](int shown, int of) { return double(shown) / of; };
        EXPECT_NEAR(thumbShare(g.verticalScrollBar()), share(g.VisibleRowCount() + 1, rows), 0.01);
        EXPECT_NEAR(thumbShare(g.horizontalScrollBar()), share(g.VisibleColCount(), rows / 2),
                    0.01);
        g.setRowCount(rows * 2); // follows the size
        EXPECT_NEAR(thumbShare(g.verticalScrollBar()), share(g.VisibleRowCount() + 1, rows * 2),
                    0.01);
    }
}
