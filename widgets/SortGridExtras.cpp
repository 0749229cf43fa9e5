// The parts of TSortGrid that an owner switches on: check-box, drop-down and ellipsis
// cells, row filtering, hidden rows, multi-row selection with dragging, proportional
// scroll bars.
#include "widgets/SortGrid.h"

#include <QDrag>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

// Hands the events of one object to a function.
class FunctionFilter : public QObject
{
public:
    FunctionFilter(QObject *parent, std::function<bool(QEvent *)> f)
        : QObject(parent), m_f(std::move(f))
    {}

protected:
    bool eventFilter(QObject *, QEvent *e) override { return m_f(e); }

private:
    std::function<bool(QEvent *)> m_f;
};

bool isNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return true;
    default:
        return false;
    }
}

constexpr QRgb kInk = 0xFF000000;
constexpr QRgb kBoxBorder = 0xFF404040;
constexpr QRgb kBoxInside = 0xFFFFFFFF;
constexpr QRgb kFace = 0xFFC0C0C0;
constexpr QRgb kLight = 0xFFFFFFFF;
constexpr QRgb kShadow = 0xFF404040;

QImage drawCheckBox(bool checked)
{
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    // A 13 x 13 box in the middle.
    for (int y = 2; y <= 14; ++y)
        for (int x = 2; x <= 14; ++x) {
            const bool edge = x == 2 || x == 14 || y == 2 || y == 14;
            img.setPixel(x, y, edge ? kBoxBorder : kBoxInside);
        }
    if (checked) {
        // A tick two pixels thick: down from (4, 7) to (6, 9), then up to (11, 4).
        const QPoint tick[] = {{4, 7}, {5, 8}, {6, 9}, {7, 8}, {8, 7}, {9, 6}, {10, 5}, {11, 4}};
        for (const QPoint &pt : tick) {
            img.setPixel(pt, kInk);
            img.setPixel(pt.x(), pt.y() + 1, kInk);
        }
    }
    return img;
}

QImage drawCellButton(bool ellipsis)
{
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(kFace);
    for (int i = 0; i < 16; ++i) {
        img.setPixel(i, 0, kLight);
        img.setPixel(0, i, kLight);
        img.setPixel(i, 15, kShadow);
        img.setPixel(15, i, kShadow);
    }
    if (ellipsis) {
        // Three dots of 2 x 2 pixels near the bottom.
        for (int dot = 0; dot < 3; ++dot)
            for (int y = 10; y <= 11; ++y)
                for (int x = 3 + 4 * dot; x <= 4 + 4 * dot; ++x)
                    img.setPixel(x, y, kInk);
    } else {
        // A triangle pointing down, 7 pixels wide at the top.
        for (int row = 0; row < 4; ++row)
            for (int x = 4 + row; x <= 10 - row; ++x)
                img.setPixel(x, 6 + row, kInk);
    }
    return img;
}

} // namespace

QImage TSortGrid::CellPicture(TCellPicture which)
{
    static const QImage pictures[] = {drawCheckBox(true), drawCheckBox(false),
                                      drawCellButton(false), drawCellButton(true)};
    return pictures[which];
}

// ---------------------------------------------------------------------------------------
// Cell kinds

TSortGrid::CellKinds TSortGrid::cellKinds(int ACol, int ARow)
{
    CellKinds k;
    if (!OnGetCellFormat || ACol < 0 || ARow < 0 || ACol >= ColCount() || ARow >= RowCount())
        return k;
    CellFormat(ACol, ARow, cellState(ACol, ARow), k.checkBox, k.combo, k.ellipsis);
    return k;
}

bool TSortGrid::CanEditShow() const
{
    if (!TMyStringGrid::CanEditShow())
        return false;
    if (!OnGetCellFormat)
        return true;
    // Asking the format handler changes nothing in the grid; it only needs a sender.
    const CellKinds k = const_cast<TSortGrid *>(this)->cellKinds(Col(), Row());
    return !k.checkBox && !k.combo;
}

void TSortGrid::drawCellKinds(QPainter &p, int col, int row, const QRect &rect, const CellKinds &k)
{
    p.save();
    p.setClipRect(rect);
    if (k.checkBox) {
        const int w = rect.width() <= 16 ? rect.width() - 1 : 16;
        if (w > 0)
            p.drawImage(QRect(rect.left() + (rect.width() - w) / 2,
                              rect.top() + RowHeights(row) / 2 - 8, w, 16),
                        CellPicture(IsChecked(col, row) ? cpChecked : cpUnchecked));
    }
    const bool currentRow = row == Row();
    TCellPicture glyph = cpChecked;
    if (k.combo && currentRow && (col == Col() || EditorMode()))
        glyph = cpCombobox;
    else if (k.ellipsis && currentRow && col != Col())
        glyph = cpEllipsis;
    if (glyph != cpChecked) {
        const int w = std::min(16, rect.width());
        p.drawImage(QRect(rect.left() + rect.width() - w, rect.top(), w, rect.height()),
                    CellPicture(glyph));
    }
    p.restore();
}

bool TSortGrid::IsChecked(int ACol, int ARow) const
{
    const QString t = Cells(ACol, ARow);
    return t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("V");
}

void TSortGrid::SetChecked(int ACol, int ARow, bool State)
{
    if (!cellKinds(ACol, ARow).checkBox)
        return;
    setCells(ACol, ARow, State ? QStringLiteral("V") : QString());
    InvalidateRow(ARow);
    if (OnSetChecked)
        OnSetChecked(this, ACol, ARow, State);
}

void TSortGrid::toggleCheck(int ACol, int ARow)
{
    const QString before = Cells(ACol, ARow);
    SetChecked(ACol, ARow, !IsChecked(ACol, ARow));
    // A toggle is the user's edit of the cell.
    if (Cells(ACol, ARow) != before)
        setModified(true);
}

bool TSortGrid::cellKindAction(int ACol, int ARow, const QPoint *atPos)
{
    if (ARow < FixedRows() || ACol < 0)
        return false;
    const CellKinds k = cellKinds(ACol, ARow);
    if (k.checkBox) {
        toggleCheck(ACol, ARow);
        return true;
    }
    if (k.combo) {
        if (!m_comboOpen || !(m_comboCell == TGridCoord{ACol, ARow}))
            openComboList(ACol, ARow);
        return true;
    }
    if (k.ellipsis) {
        const QRect r = CellRect(ACol, ARow);
        const bool onButton = !atPos || atPos->x() >= r.left() + r.width() - 16;
        if (onButton && OnSetEllipsis)
            OnSetEllipsis(this, ACol, ARow);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// The drop-down list

void TSortGrid::createComboList()
{
    m_comboList = new QListWidget(this);
    m_comboList->hide();
    m_comboList->setFocusPolicy(Qt::ClickFocus); // no tab stop
    m_comboList->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_comboList->setLineWidth(2);
    m_comboList->setUniformItemSizes(true);
    m_comboList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_comboList->installEventFilter(
        new FunctionFilter(m_comboList, [this](QEvent *e) { return comboEvent(e); }));
    connect(m_comboList, &QListWidget::itemClicked, this, [this] { closeComboList(true); });
    connect(m_comboList, &QObject::destroyed, this, [this] { m_comboList = nullptr; });
}

bool TSortGrid::openComboList(int ACol, int ARow)
{
    QStringList strs;
    int width = 0, height = 0;
    bool sorted = true;
    if (OnGetComboBox)
        OnGetComboBox(this, ACol, ARow, strs, width, height, sorted);
    closeComboList(false);
    if (strs.isEmpty() || !m_comboList || ACol >= ColCount() || ARow >= RowCount())
        return false;
    ClampInView(ACol, ARow);
    const QRect cell = CellRect(ACol, ARow);
    if (cell.isEmpty())
        return false; // a hidden column

    QListWidget *list = m_comboList;
    QWidget *win = window();
    if (list->parentWidget() != win)
        list->setParent(win);
    list->setFont(font());
    list->clear();
    list->setSortingEnabled(false);
    const int itemHeight = QFontMetrics(font()).height();
    const int w = width != 0 ? width : cell.width() + 1;
    for (const QString &s : std::as_const(strs)) {
        auto *item = new QListWidgetItem(s);
        item->setSizeHint(QSize(w, itemHeight));
        list->addItem(item);
    }
    if (sorted) {
        list->setSortingEnabled(true);
        list->sortItems();
    }
    const int n = list->count();
    const int h = (height != 0 || n >= 10) ? 10 * itemHeight + 5 : n * itemHeight + 5;
    const QPoint at = viewport()->mapTo(win, cell.topLeft());
    list->setGeometry(at.x() + 2, at.y() - h + 59, w, h);
    const QList<QListWidgetItem *> found = list->findItems(Cells(ACol, ARow), Qt::MatchExactly);
    list->setCurrentItem(found.isEmpty() ? list->item(0) : found.first());
    m_comboCell = {ACol, ARow};
    m_comboOpen = true;
    list->show();
    list->raise();
    list->scrollToItem(list->currentItem());
    list->setFocus();
    return true;
}

void TSortGrid::closeComboList(bool write)
{
    if (!m_comboList)
        return;
    if (!m_comboOpen) {
        m_comboList->hide();
        return;
    }
    m_comboOpen = false;
    const TGridCoord cell = m_comboCell;
    const QListWidgetItem *item = m_comboList->currentItem();
    const QString str = item ? item->text() : QString();
    m_comboList->hide();
    const bool pick = write && item && cell.X < ColCount() && cell.Y < RowCount();
    if (pick) {
        if (Cells(cell.X, cell.Y) != str) {
            setCells(cell.X, cell.Y, str);
            setModified(true);
        }
        InvalidateCol(cell.X);
    }
    setFocus();
    if (pick && OnSetComboBox)
        OnSetComboBox(this, cell.X, cell.Y, str);
}

bool TSortGrid::comboEvent(QEvent *e)
{
    if (e->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(e)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            closeComboList(true);
            return true;
        case Qt::Key_Escape:
            closeComboList(false);
            return true;
        default:
            break;
        }
    } else if (e->type() == QEvent::FocusOut && m_comboOpen) {
        // Focus that goes to another control picks; the window losing its activation (an
        // other application, a popup, the window closing) leaves the list as it is.
        const Qt::FocusReason why = static_cast<QFocusEvent *>(e)->reason();
        if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason)
            closeComboList(true);
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Filtering and hidden rows

void TSortGrid::setHideRows(bool v)
{
    if (v == m_hideRows)
        return;
    m_hideRows = v;
    if (RowCount() > 1)
        setRow(1);
    InvalidateGrid();
}

void TSortGrid::setFiltered(bool v)
{
    if (v == m_filtered)
        return;
    if (v) {
        const QStringList first = RowCount() > 1 ? Rows(1) : QStringList();
        if (std::all_of(first.cbegin(), first.cend(), [](const QString &s) { return s.isEmpty(); }))
            return; // nothing to filter
    }
    m_filtered = v;
    if (!v && m_hiddenRowCount == 0)
        return;
    const bool wasModified = m_modified;
    const bool bracket = !Updating();
    if (bracket)
        BeginUpdate();
    validateCell();
    HideEditor();
    m_filtering = true;
    if (v)
        filterRows();
    else
        unfilterRows();
    m_filtering = false;
    if (bracket)
        EndUpdate();
    m_modified = wasModified;
}

void TSortGrid::filterRows()
{
    const int n = RowCount();
    std::vector<QStringList> &store = storage();
    if (int(store.size()) < n)
        store.resize(size_t(n));
    std::vector<QStringList> kept, rejected;
    for (int r = 1; r < n; ++r) {
        bool accept = false;
        if (OnSetFilter)
            OnSetFilter(Rows(r), accept);
        (accept ? kept : rejected).push_back(store[size_t(r)]);
    }
    m_hiddenRowCount = int(rejected.size());
    if (kept.empty()) {
        // One empty row stays in view; the hidden rows follow it in their order.
        store.insert(store.begin() + 1, QStringList());
        setRowCount(2);
    } else {
        size_t at = 1;
        for (QStringList &row : kept)
            store[at++] = std::move(row);
        for (QStringList &row : rejected)
            store[at++] = std::move(row);
        setRowCount(n - m_hiddenRowCount);
        SortByColumn(m_sortOptions.SortCol);
    }
    syncEditor();
    GotoCell(0, 1, true);
}

void TSortGrid::unfilterRows()
{
    const int hidden = m_hiddenRowCount;
    setRowCount(RowCount() + hidden);
    const QStringList first = Rows(1);
    if (RowCount() > 2 &&
        std::all_of(first.cbegin(), first.cend(), [](const QString &s) { return s.isEmpty(); }))
        DeleteRowAt(1);
    if (hidden > 0)
        SortByColumn(m_sortOptions.SortCol);
    m_hiddenRowCount = 0;
    // The old row numbers no longer name the same data.
    m_selectedRows = {Row()};
}

// ---------------------------------------------------------------------------------------
// Multi-row selection

void TSortGrid::setMultiSelect(bool v)
{
    if (v == m_multiSelect)
        return;
    m_multiSelect = v;
    if (v) {
        setOptions(Options() | goRowSelect);
    } else {
        endKeyRange();
        m_selectedRows = {Row()};
    }
    InvalidateGrid();
}

void TSortGrid::selectRows(const std::set<int> &rows)
{
    if (rows == m_selectedRows)
        return;
    m_selectedRows = rows;
    InvalidateGrid();
    if (OnRowSelected)
        OnRowSelected(this);
}

std::set<int> TSortGrid::selectionRectRows() const
{
    const TGridRect s = Selection();
    std::set<int> rows;
    for (int r = std::max(s.Top, FixedRows()); r <= s.Bottom && r < RowCount(); ++r)
        rows.insert(r);
    return rows;
}

void TSortGrid::endKeyRange()
{
    m_keyRange = false;
    if (m_keyRangeAddedOption) {
        m_keyRangeAddedOption = false;
        setOptions(Options() & ~TGridOptions(goRangeSelect));
    }
}

bool TSortGrid::multiSelectKeyPress(QKeyEvent *e)
{
    if (e->key() != Qt::Key_Shift)
        return false;
    // Shift starts a range: the rows come from the selection rectangle when it ends.
    if (!e->isAutoRepeat()) {
        m_keyRange = true;
        if (!(Options() & goRangeSelect)) {
            m_keyRangeAddedOption = true;
            setOptions(Options() | goRangeSelect);
        }
        selectRows({});
    }
    return true;
}

void TSortGrid::multiSelectAfterKey(QKeyEvent *e)
{
    if (isNavigationKey(e->key()) && !(e->modifiers() & Qt::ShiftModifier))
        selectRows({Row()});
}

void TSortGrid::keyReleaseEvent(QKeyEvent *e)
{
    if (multiSelecting()) {
        const bool nav = isNavigationKey(e->key());
        if ((nav && !(e->modifiers() & Qt::ShiftModifier)) ||
            (e->key() == Qt::Key_Shift && m_selectedRows.empty())) {
            std::set<int> rows = m_selectedRows;
            rows.merge(selectionRectRows());
            selectRows(rows);
            if (nav)
                endKeyRange();
        }
    }
    TMyStringGrid::keyReleaseEvent(e);
}

void TSortGrid::multiSelectRelease(QMouseEvent *e, int row)
{
    const auto mods = e->modifiers();
    std::set<int> rows = m_selectedRows;
    if (mods & Qt::ShiftModifier) {
        if (!(mods & Qt::ControlModifier))
            rows.clear();
        rows.merge(selectionRectRows());
    } else if (mods & Qt::ControlModifier) {
        if (!rows.count(row)) {
            rows.insert(row);
        } else if (rows.size() > 1) {
            rows.erase(row);
            setCurrentCell(Col(), *rows.rbegin(), true);
        }
    } else {
        rows = {row};
    }
    selectRows(rows);
}

void TSortGrid::mouseMoveEvent(QMouseEvent *e)
{
    if (m_dragCandidate && (e->buttons() & Qt::LeftButton)) {
        const QPoint d = e->position().toPoint() - m_pressPos;
        if (std::abs(d.x()) > 10 || std::abs(d.y()) > 10) {
            m_dragCandidate = false;
            BeginDrag();
        }
        return; // the selection stays as it is while a drag may start
    }
    TMyStringGrid::mouseMoveEvent(e);
}

void TSortGrid::BeginDrag()
{
    QStringList lines;
    for (int r : m_selectedRows)
        lines << Rows(r).join(QLatin1Char('\t'));
    auto *mime = new QMimeData;
    mime->setText(lines.join(QLatin1Char('\n')));
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction);
}

// ---------------------------------------------------------------------------------------
// Proportional scroll bars

void TSortGrid::setProportionalScrollBars(bool v)
{
    if (v == m_proportionalScrollBars)
        return;
    m_proportionalScrollBars = v;
    UpdateScrollBars();
}

void TSortGrid::ScrollBarsUpdated()
{
    if (!m_proportionalScrollBars)
        return;
    // A thumb's share of the groove is pageStep / (range + pageStep).
    auto fit = [](QScrollBar *bar, int shown, int total) {
        const int range = bar->maximum() - bar->minimum();
        if (range <= 0 || total <= shown)
            return;
        bar->setPageStep(std::max(1, int(std::lround(double(shown) * range / (total - shown)))));
    };
    fit(verticalScrollBar(), VisibleRowCount() + 1, RowCount());
    fit(horizontalScrollBar(), VisibleColCount(), ColCount());
}
