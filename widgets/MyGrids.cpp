#include "widgets/MyGrids.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>

namespace {

QColor lineColor(bool fixed)
{
    return fixed ? QColor(Qt::black) : toQColor(clSilver);
}

} // namespace

// ---------------------------------------------------------------------------------------
// TMyCustomGrid

TMyCustomGrid::TMyCustomGrid(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // A fixed two-pixel border, so that widths derived from the control's size are exact.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    m_colWidths.assign(size_t(m_colCount), m_defaultColWidth);
    m_rowHeights.assign(size_t(m_rowCount), m_defaultRowHeight);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

    m_editor = new QLineEdit(viewport());
    m_editor->setFrame(false);
    m_editor->hide();
    m_editor->installEventFilter(this);
    connect(m_editor, &QLineEdit::textChanged, this, [this](const QString &t) {
        if (!m_settingEditor && m_editorMode && m_cur.X < m_colCount && m_cur.Y < m_rowCount)
            SetEditText(m_cur.X, m_cur.Y, t);
    });

    auto syncFromBar = [this]() {
        if (m_syncingBars)
            return;
        setTopRow(verticalScrollBar()->value());
        setLeftCol(horizontalScrollBar()->value());
    };
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, syncFromBar);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, syncFromBar);
    updateScrollBars();
}

TMyCustomGrid::~TMyCustomGrid() = default;

void TMyCustomGrid::setColCount(int v)
{
    v = std::max(v, 0);
    if (v == m_colCount)
        return;
    const int oldCols = m_colCount;
    if (m_editorMode && m_cur.X >= v)
        HideEditor();
    if (v < m_fixedCols)
        m_fixedCols = v;
    m_colCount = v;
    m_colWidths.resize(size_t(v), m_defaultColWidth);
    const int minCol = v > m_fixedCols ? m_fixedCols : std::max(0, v - 1);
    m_cur.X = std::clamp(m_cur.X, minCol, std::max(minCol, v - 1));
    m_anchor.X = std::clamp(m_anchor.X, minCol, std::max(minCol, v - 1));
    m_leftCol = std::clamp(m_leftCol, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    SizeChanged(oldCols, m_rowCount);
    updateScrollBars();
    UpdateEditorGeometry();
    viewport()->update();
}

void TMyCustomGrid::setRowCount(int v)
{
    v = std::max(v, m_fixedRows);
    if (v == m_rowCount)
        return;
    const int oldRows = m_rowCount;
    if (m_editorMode && m_cur.Y >= v)
        HideEditor();
    m_rowCount = v;
    m_rowHeights.resize(size_t(v), m_defaultRowHeight);
    const int minRow = v > m_fixedRows ? m_fixedRows : std::max(0, v - 1);
    m_cur.Y = std::clamp(m_cur.Y, minRow, std::max(minRow, v - 1));
    m_anchor.Y = std::clamp(m_anchor.Y, minRow, std::max(minRow, v - 1));
    m_topRow = std::clamp(m_topRow, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    SizeChanged(m_colCount, oldRows);
    updateScrollBars();
    UpdateEditorGeometry();
    viewport()->update();
}

void TMyCustomGrid::setFixedCols(int v)
{
    v = std::clamp(v, 0, std::max(0, m_colCount - 1));
    if (v == m_fixedCols)
        return;
    // Like a fresh grid: scrolled to the first scrollable column, which is current.
    m_fixedCols = v;
    m_leftCol = v;
    m_cur.X = v;
    m_anchor = m_cur;
    updateScrollBars();
    viewport()->update();
}

void TMyCustomGrid::setFixedRows(int v)
{
    v = std::clamp(v, 0, std::max(0, m_rowCount - 1));
    if (v == m_fixedRows)
        return;
    m_fixedRows = v;
    m_topRow = v;
    m_cur.Y = v;
    m_anchor = m_cur;
    updateScrollBars();
    viewport()->update();
}

void TMyCustomGrid::setDefaultColWidth(int v)
{
    m_defaultColWidth = v;
    std::fill(m_colWidths.begin(), m_colWidths.end(), v);
    ColWidthsChanged();
    updateScrollBars();
    viewport()->update();
}

void TMyCustomGrid::setDefaultRowHeight(int v)
{
    m_defaultRowHeight = v;
    std::fill(m_rowHeights.begin(), m_rowHeights.end(), v);
    RowHeightsChanged();
    updateScrollBars();
    viewport()->update();
}

int TMyCustomGrid::ColWidths(int col) const
{
    return col >= 0 && col < m_colCount ? m_colWidths[size_t(col)] : 0;
}

void TMyCustomGrid::setColWidths(int col, int w)
{
    if (col < 0 || col >= m_colCount || m_colWidths[size_t(col)] == w)
        return;
    m_colWidths[size_t(col)] = w;
    ColWidthsChanged();
    updateScrollBars();
    UpdateEditorGeometry();
    viewport()->update();
}

int TMyCustomGrid::RowHeights(int row) const
{
    return row >= 0 && row < m_rowCount ? m_rowHeights[size_t(row)] : 0;
}

void TMyCustomGrid::setRowHeights(int row, int h)
{
    if (row < 0 || row >= m_rowCount || m_rowHeights[size_t(row)] == h)
        return;
    m_rowHeights[size_t(row)] = h;
    RowHeightsChanged();
    updateScrollBars();
    UpdateEditorGeometry();
    viewport()->update();
}

void TMyCustomGrid::setCol(int v)
{
    if (v != m_cur.X)
        MoveCurrent(v, m_cur.Y, true, true);
}

void TMyCustomGrid::setRow(int v)
{
    if (v != m_cur.Y)
        MoveCurrent(m_cur.X, v, true, true);
}

void TMyCustomGrid::setLeftCol(int v)
{
    v = std::clamp(v, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    if (v == m_leftCol)
        return;
    m_leftCol = v;
    TopLeftChanged();
    updateScrollBars();
    UpdateEditorGeometry();
    viewport()->update();
}

void TMyCustomGrid::setTopRow(int v)
{
    v = std::clamp(v, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    if (v == m_topRow)
        return;
    m_topRow = v;
    TopLeftChanged();
    updateScrollBars();
    UpdateEditorGeometry();
    viewport()->update();
}

int TMyCustomGrid::fixedWidth() const
{
    int w = 0;
    for (int c = 0; c < m_fixedCols; ++c)
        if (m_colWidths[size_t(c)] >= 0)
            w += m_colWidths[size_t(c)] + GridLineWidth();
    return w;
}

int TMyCustomGrid::fixedHeight() const
{
    int h = 0;
    for (int r = 0; r < m_fixedRows; ++r)
        h += m_rowHeights[size_t(r)] + GridLineWidth();
    return h;
}

int TMyCustomGrid::VisibleColCount() const
{
    const int avail = viewport()->width() - fixedWidth();
    int used = 0, n = 0;
    for (int c = m_leftCol; c < m_colCount; ++c) {
        const int w = m_colWidths[size_t(c)];
        if (w < 0)
            continue;
        used += w + GridLineWidth();
        if (used > avail + GridLineWidth())
            break;
        ++n;
    }
    return n;
}

int TMyCustomGrid::VisibleRowCount() const
{
    const int avail = viewport()->height() - fixedHeight();
    int used = 0, n = 0;
    for (int r = m_topRow; r < m_rowCount; ++r) {
        used += m_rowHeights[size_t(r)] + GridLineWidth();
        if (used > avail + GridLineWidth())
            break;
        ++n;
    }
    return n;
}

int TMyCustomGrid::MaxTopRow() const
{
    if (m_rowCount <= m_fixedRows)
        return m_fixedRows;
    const int avail = viewport()->height() - fixedHeight();
    int used = 0;
    int r = m_rowCount - 1;
    for (; r >= m_fixedRows; --r) {
        used += m_rowHeights[size_t(r)] + GridLineWidth();
        if (used > avail + GridLineWidth())
            break;
    }
    return std::min(m_rowCount - 1, r + 1);
}

int TMyCustomGrid::MaxLeftCol() const
{
    if (m_colCount <= m_fixedCols)
        return m_fixedCols;
    const int avail = viewport()->width() - fixedWidth();
    int used = 0;
    int c = m_colCount - 1;
    for (; c >= m_fixedCols; --c) {
        const int w = m_colWidths[size_t(c)];
        if (w < 0)
            continue;
        used += w + GridLineWidth();
        if (used > avail + GridLineWidth())
            break;
    }
    int res = std::min(m_colCount - 1, c + 1);
    while (res < m_colCount - 1 && m_colWidths[size_t(res)] < 0)
        ++res;
    return res;
}

void TMyCustomGrid::updateScrollBars()
{
    m_syncingBars = true;
    QScrollBar *vb = verticalScrollBar();
    vb->setRange(m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    vb->setPageStep(std::max(1, VisibleRowCount()));
    vb->setValue(m_topRow);
    QScrollBar *hb = horizontalScrollBar();
    hb->setRange(m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    hb->setPageStep(std::max(1, VisibleColCount()));
    hb->setValue(m_leftCol);
    ScrollBarsUpdated();
    m_syncingBars = false;
}

void TMyCustomGrid::scrollContentsBy(int, int)
{
    // Scrolling is by whole rows and columns (see the scroll bars' valueChanged).
}

TGridRect TMyCustomGrid::Selection() const
{
    TGridRect r;
    r.Left = std::min(m_anchor.X, m_cur.X);
    r.Right = std::max(m_anchor.X, m_cur.X);
    r.Top = std::min(m_anchor.Y, m_cur.Y);
    r.Bottom = std::max(m_anchor.Y, m_cur.Y);
    if (m_options & goRowSelect) {
        r.Left = m_fixedCols;
        r.Right = m_colCount - 1;
    }
    return r;
}

void TMyCustomGrid::setSelection(const TGridRect &r)
{
    const TGridRect old = Selection();
    auto clampC = [this](int c) { return std::clamp(c, 0, std::max(0, m_colCount - 1)); };
    auto clampR = [this](int v) { return std::clamp(v, 0, std::max(0, m_rowCount - 1)); };
    const TGridCoord cur{clampC(r.Right), clampR(r.Bottom)};
    if (m_editorMode && !(cur == m_cur))
        HideEditor();
    m_anchor = {clampC(r.Left), clampR(r.Top)};
    m_cur = cur;
    selectionChanged(old);
}

void TMyCustomGrid::selectionChanged(const TGridRect &)
{
    UpdateEditorGeometry();
    viewport()->update();
}

void TMyCustomGrid::setOptions(TGridOptions o)
{
    if (o == m_options)
        return;
    m_options = o;
    if (m_editorMode && !CanEditShow())
        HideEditor();
    viewport()->update();
}

void TMyCustomGrid::setEditorMode(bool v)
{
    if (v)
        ShowEditor();
    else
        HideEditor();
}

void TMyCustomGrid::setFixedColor(TColor c)
{
    if (c == m_fixedColor)
        return;
    m_fixedColor = c;
    viewport()->update();
}

void TMyCustomGrid::setColor(TColor c)
{
    if (c == m_color)
        return;
    m_color = c;
    viewport()->update();
}

void TMyCustomGrid::BeginUpdate()
{
    ++m_updateCount;
}

void TMyCustomGrid::EndUpdate()
{
    if (m_updateCount > 0)
        --m_updateCount;
    if (m_updateCount == 0)
        viewport()->update();
}

QRect TMyCustomGrid::CellRect(int col, int row) const
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        return {};
    if (m_colWidths[size_t(col)] < 0)
        return {};
    int x = 0;
    if (col < m_fixedCols) {
        for (int c = 0; c < col; ++c)
            if (m_colWidths[size_t(c)] >= 0)
                x += m_colWidths[size_t(c)] + GridLineWidth();
    } else {
        if (col < m_leftCol)
            return {};
        x = fixedWidth();
        const int w = viewport()->width();
        for (int c = m_leftCol; c < col && x < w; ++c)
            if (m_colWidths[size_t(c)] >= 0)
                x += m_colWidths[size_t(c)] + GridLineWidth();
        if (x >= w)
            return {};
    }
    int y = 0;
    if (row < m_fixedRows) {
        for (int r = 0; r < row; ++r)
            y += m_rowHeights[size_t(r)] + GridLineWidth();
    } else {
        if (row < m_topRow)
            return {};
        y = fixedHeight();
        const int h = viewport()->height();
        for (int r = m_topRow; r < row && y < h; ++r)
            y += m_rowHeights[size_t(r)] + GridLineWidth();
        if (y >= h)
            return {};
    }
    return QRect(x, y, m_colWidths[size_t(col)], m_rowHeights[size_t(row)]);
}

TGridCoord TMyCustomGrid::MouseCoord(int x, int y) const
{
    TGridCoord res{-1, -1};
    const int vw = viewport()->width(), vh = viewport()->height();
    if (x < 0 || y < 0 || x >= vw || y >= vh)
        return res;
    int pos = 0;
    auto walkCols = [&](int from, int to) {
        for (int c = from; c < to && pos < vw; ++c) {
            const int w = m_colWidths[size_t(c)];
            if (w < 0)
                continue;
            if (x < pos + w + GridLineWidth()) {
                res.X = c;
                return true;
            }
            pos += w + GridLineWidth();
        }
        return false;
    };
    if (!walkCols(0, m_fixedCols))
        walkCols(m_leftCol, m_colCount);
    pos = 0;
    auto walkRows = [&](int from, int to) {
        for (int r = from; r < to && pos < vh; ++r) {
            const int h = m_rowHeights[size_t(r)];
            if (y < pos + h + GridLineWidth()) {
                res.Y = r;
                return true;
            }
            pos += h + GridLineWidth();
        }
        return false;
    };
    if (!walkRows(0, m_fixedRows))
        walkRows(m_topRow, m_rowCount);
    if (res.X < 0 || res.Y < 0)
        return {-1, -1};
    return res;
}

void TMyCustomGrid::InvalidateCell(int col, int row)
{
    const QRect r = CellRect(col, row);
    if (!r.isEmpty())
        viewport()->update(r.adjusted(0, 0, 1, 1));
}

void TMyCustomGrid::InvalidateRow(int row)
{
    for (int c = 0; c < m_colCount; ++c) {
        const QRect r = CellRect(c, row);
        if (!r.isEmpty()) {
            viewport()->update(QRect(0, r.top(), viewport()->width(), r.height() + 1));
            return;
        }
    }
}

void TMyCustomGrid::InvalidateCol(int col)
{
    for (int r = 0; r < m_rowCount; ++r) {
        const QRect rc = CellRect(col, r);
        if (!rc.isEmpty()) {
            viewport()->update(QRect(rc.left(), 0, rc.width() + 1, viewport()->height()));
            return;
        }
    }
}

void TMyCustomGrid::InvalidateGrid()
{
    viewport()->update();
}

TGridDrawState TMyCustomGrid::cellState(int col, int row) const
{
    TGridDrawState st;
    if (col < m_fixedCols || row < m_fixedRows)
        st |= gdFixed;
    if (hasFocus() && col == m_cur.X && row == m_cur.Y)
        st |= gdFocused;
    const TGridRect s = Selection();
    if (!(st & gdFixed) && col >= s.Left && col <= s.Right && row >= s.Top && row <= s.Bottom)
        st |= gdSelected;
    return st;
}

void TMyCustomGrid::PrepareCanvas(QPainter &p, int, int, TGridDrawState state)
{
    m_cellFont = font();
    if ((state & gdSelected) &&
        (!(state & gdFocused) || (m_options & (goDrawFocusSelected | goRowSelect)))) {
        m_cellBrush = toQColor(clHighlight);
        m_cellFontColor = toQColor(clHighlightText);
    } else if (state & gdFixed) {
        m_cellBrush = toQColor(m_fixedColor);
        m_cellFontColor = palette().color(QPalette::ButtonText);
    } else {
        m_cellBrush = toQColor(m_color);
        m_cellFontColor = palette().color(QPalette::Text);
    }
    p.setFont(m_cellFont);
    p.setPen(m_cellFontColor);
}

void TMyCustomGrid::paintEvent(QPaintEvent *e)
{
    QPainter p(viewport());
    const QRect clip = e->rect();
    const int vw = viewport()->width(), vh = viewport()->height();
    p.fillRect(clip, toQColor(m_color));

    // Visible rows and columns only: fixed ones first, then from TopRow/LeftCol.
    std::vector<int> rows, cols;
    {
        int y = 0;
        for (int r = 0; r < m_fixedRows && y < vh; ++r) {
            rows.push_back(r);
            y += m_rowHeights[size_t(r)] + GridLineWidth();
        }
        for (int r = m_topRow; r < m_rowCount && y < vh; ++r) {
            rows.push_back(r);
            y += m_rowHeights[size_t(r)] + GridLineWidth();
        }
        int x = 0;
        for (int c = 0; c < m_fixedCols && x < vw; ++c) {
            if (m_colWidths[size_t(c)] < 0)
                continue;
            cols.push_back(c);
            x += m_colWidths[size_t(c)] + GridLineWidth();
        }
        for (int c = m_leftCol; c < m_colCount && x < vw; ++c) {
            if (m_colWidths[size_t(c)] < 0)
                continue;
            cols.push_back(c);
            x += m_colWidths[size_t(c)] + GridLineWidth();
        }
    }

    int y = 0;
    for (int r : rows) {
        const int h = m_rowHeights[size_t(r)];
        int x = 0;
        for (int c : cols) {
            const int w = m_colWidths[size_t(c)];
            const QRect rc(x, y, w, h);
            if (rc.adjusted(0, 0, 1, 1).intersects(clip)) {
                const TGridDrawState st = cellState(c, r);
                p.save();
                PrepareCanvas(p, c, r, st);
                p.fillRect(rc, m_cellBrush);
                DrawCell(p, c, r, rc, st);
                p.restore();
                const bool fixed = st & gdFixed;
                p.setPen(lineColor(fixed));
                if (m_options & (fixed ? goFixedVertLine : goVertLine))
                    p.drawLine(x + w, y, x + w, y + h);
                if (m_options & (fixed ? goFixedHorzLine : goHorzLine))
                    p.drawLine(x, y + h, x + w, y + h);
            }
            x += w + GridLineWidth();
        }
        y += h + GridLineWidth();
    }
}

void TMyCustomGrid::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    setTopRow(m_topRow);
    setLeftCol(m_leftCol);
    updateScrollBars();
    UpdateEditorGeometry();
}

void TMyCustomGrid::DrawCell(QPainter &, int, int, const QRect &, TGridDrawState) {}

bool TMyCustomGrid::SelectCell(int, int)
{
    return true;
}

QString TMyCustomGrid::GetEditText(int, int)
{
    return {};
}

void TMyCustomGrid::SetEditText(int col, int row, const QString &value)
{
    if (OnSetEditText)
        OnSetEditText(this, col, row, value);
}

void TMyCustomGrid::SizeChanged(int, int) {}
void TMyCustomGrid::ColumnMoved(int, int) {}
void TMyCustomGrid::RowMoved(int, int) {}
void TMyCustomGrid::ColumnDeleted(int) {}
void TMyCustomGrid::RowDeleted(int) {}

bool TMyCustomGrid::CanEditShow() const
{
    return (m_options & goEditing) && !(m_options & goRowSelect);
}

bool TMyCustomGrid::MoveCurrent(int col, int row, bool moveAnchor, bool show)
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        return false;
    if (!SelectCell(col, row))
        return false;
    // The owner's handler may have changed the grid; check again.
    if (col >= m_colCount || row >= m_rowCount)
        return false;
    const TGridRect old = Selection();
    if (m_editorMode && (col != m_cur.X || row != m_cur.Y))
        HideEditor();
    m_cur = {col, row};
    if (moveAnchor || !(m_options & goRangeSelect))
        m_anchor = m_cur;
    if (show)
        ClampInView(col, row);
    selectionChanged(old);
    if ((m_options & goAlwaysShowEditor) && CanEditShow() && hasFocus())
        ShowEditor();
    return true;
}

void TMyCustomGrid::ClampInView(int col, int row)
{
    if (row >= m_fixedRows && row < m_rowCount) {
        if (row < m_topRow) {
            setTopRow(row);
        } else {
            const int avail = viewport()->height() - fixedHeight();
            int used = 0, top = row;
            for (int r = row; r >= m_fixedRows; --r) {
                used += m_rowHeights[size_t(r)] + GridLineWidth();
                if (used > avail + GridLineWidth())
                    break;
                top = r;
            }
            if (top > m_topRow)
                setTopRow(top);
        }
    }
    if (col >= m_fixedCols && col < m_colCount && m_colWidths[size_t(col)] >= 0) {
        if (col < m_leftCol) {
            setLeftCol(col);
        } else {
            const int avail = viewport()->width() - fixedWidth();
            int used = 0, left = col;
            for (int c = col; c >= m_fixedCols; --c) {
                if (m_colWidths[size_t(c)] < 0)
                    continue;
                used += m_colWidths[size_t(c)] + GridLineWidth();
                if (used > avail + GridLineWidth())
                    break;
                left = c;
            }
            if (left > m_leftCol)
                setLeftCol(left);
        }
    }
}

void TMyCustomGrid::MoveColumn(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= m_colCount || to >= m_colCount)
        return;
    if (m_editorMode)
        HideEditor();
    const int w = m_colWidths[size_t(from)];
    m_colWidths.erase(m_colWidths.begin() + from);
    m_colWidths.insert(m_colWidths.begin() + to, w);
    ColumnMoved(from, to);
    viewport()->update();
}

void TMyCustomGrid::MoveRow(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= m_rowCount || to >= m_rowCount)
        return;
    if (m_editorMode)
        HideEditor();
    const int h = m_rowHeights[size_t(from)];
    m_rowHeights.erase(m_rowHeights.begin() + from);
    m_rowHeights.insert(m_rowHeights.begin() + to, h);
    RowMoved(from, to);
    viewport()->update();
}

void TMyCustomGrid::DeleteColumnAt(int col)
{
    if (col < 0 || col >= m_colCount)
        return;
    if (m_editorMode)
        HideEditor();
    const int oldCols = m_colCount;
    ColumnDeleted(col);
    m_colWidths.erase(m_colWidths.begin() + col);
    --m_colCount;
    if (m_fixedCols > m_colCount)
        m_fixedCols = m_colCount;
    const int last = std::max(0, m_colCount - 1);
    const int minCol = m_colCount > m_fixedCols ? m_fixedCols : last;
    m_cur.X = std::clamp(m_cur.X, minCol, std::max(minCol, last));
    m_anchor.X = std::clamp(m_anchor.X, minCol, std::max(minCol, last));
    m_leftCol = std::clamp(m_leftCol, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    SizeChanged(oldCols, m_rowCount);
    updateScrollBars();
    viewport()->update();
}

void TMyCustomGrid::DeleteRowAt(int row)
{
    if (row < 0 || row >= m_rowCount || m_rowCount <= m_fixedRows)
        return;
    if (m_editorMode)
        HideEditor();
    const int oldRows = m_rowCount;
    RowDeleted(row);
    m_rowHeights.erase(m_rowHeights.begin() + row);
    --m_rowCount;
    const int last = std::max(0, m_rowCount - 1);
    const int minRow = m_rowCount > m_fixedRows ? m_fixedRows : last;
    m_cur.Y = std::clamp(m_cur.Y, minRow, std::max(minRow, last));
    m_anchor.Y = std::clamp(m_anchor.Y, minRow, std::max(minRow, last));
    m_topRow = std::clamp(m_topRow, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    SizeChanged(m_colCount, oldRows);
    updateScrollBars();
    viewport()->update();
}

void TMyCustomGrid::ShowEditor()
{
    if (!CanEditShow() || m_cur.X < m_fixedCols || m_cur.Y < m_fixedRows || m_cur.X >= m_colCount ||
        m_cur.Y >= m_rowCount)
        return;
    if (!m_editorMode) {
        m_editorOriginal = GetEditText(m_cur.X, m_cur.Y);
        m_settingEditor = true;
        m_editor->setText(m_editorOriginal);
        m_settingEditor = false;
        m_editorMode = true;
        m_editor->setFont(font());
        UpdateEditorGeometry();
        EditorShown();
    }
    m_editor->show();
    m_editor->setFocus();
}

void TMyCustomGrid::HideEditor()
{
    if (!m_editorMode)
        return;
    // Every change of the editor is already in the cell (see textChanged); writing the
    // text again here could put it into a cell that has since received other data.
    m_editorMode = false;
    const bool hadFocus = m_editor->hasFocus();
    m_editor->hide();
    if (hadFocus)
        setFocus();
    InvalidateCell(m_cur.X, m_cur.Y);
}

void TMyCustomGrid::UpdateEditorGeometry()
{
    if (!m_editorMode)
        return;
    const QRect r = CellRect(m_cur.X, m_cur.Y);
    if (r.isEmpty()) {
        m_editor->hide();
        return;
    }
    m_editor->setGeometry(r);
    if (!m_editor->isVisible())
        m_editor->show();
}

bool TMyCustomGrid::isInGrid(QWidget *w) const
{
    return w && (w == this || isAncestorOf(w));
}

void TMyCustomGrid::KeyPress(QChar &Key)
{
    if (OnKeyPress)
        OnKeyPress(this, Key);
    if (Key.isNull())
        return;
    if (Key == QChar(13)) {
        // Enter opens the editor, or closes it unless it is always shown.
        if (!(m_options & goAlwaysShowEditor) && (m_options & goEditing)) {
            if (m_editorMode)
                HideEditor();
            else
                ShowEditor();
        }
        Key = QChar(0);
        return;
    }
    if (!m_editorMode && CanEditShow() && Key.unicode() >= 32) {
        const QChar ch = Key;
        ShowEditor();
        if (m_editorMode) {
            m_editor->setText(QString(ch));
            Key = QChar(0);
        }
    }
}

void TMyCustomGrid::keyPressEvent(QKeyEvent *e)
{
    const Qt::KeyboardModifiers mods =
        e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool range = shift && (m_options & goRangeSelect);
    const bool rowSel = m_options & goRowSelect;
    int c = m_cur.X, r = m_cur.Y;
    const int firstRow = m_fixedRows, lastRow = m_rowCount - 1;
    const int firstCol = m_fixedCols, lastCol = m_colCount - 1;
    auto nextVisibleCol = [this](int from, int step) {
        for (int x = from + step; x >= m_fixedCols && x < m_colCount; x += step)
            if (m_colWidths[size_t(x)] >= 0)
                return x;
        return from;
    };
    bool nav = true;
    switch (e->key()) {
    case Qt::Key_Up:
        r = std::max(firstRow, r - 1);
        break;
    case Qt::Key_Down:
        r = std::min(lastRow, r + 1);
        break;
    case Qt::Key_Left:
        if (rowSel)
            setLeftCol(m_leftCol - 1);
        else
            c = nextVisibleCol(c, -1);
        break;
    case Qt::Key_Right:
        if (rowSel)
            setLeftCol(m_leftCol + 1);
        else
            c = nextVisibleCol(c, 1);
        break;
    case Qt::Key_Home:
        if (ctrl || rowSel)
            r = firstRow;
        if (!rowSel)
            c = firstCol;
        break;
    case Qt::Key_End:
        if (ctrl || rowSel)
            r = lastRow;
        if (!rowSel)
            c = lastCol;
        break;
    case Qt::Key_PageDown: {
        const int n = std::max(1, VisibleRowCount());
        r = std::min(lastRow, r + n);
        setTopRow(m_topRow + n);
        break;
    }
    case Qt::Key_PageUp: {
        const int n = std::max(1, VisibleRowCount());
        r = std::max(firstRow, r - n);
        setTopRow(m_topRow - n);
        break;
    }
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!(m_options & goTabs)) {
            QAbstractScrollArea::keyPressEvent(e);
            return;
        }
        if (e->key() == Qt::Key_Backtab || shift) {
            if (c > firstCol) {
                c = nextVisibleCol(c, -1);
            } else if (r > firstRow) {
                --r;
                c = lastCol;
            }
        } else {
            if (c < lastCol) {
                c = nextVisibleCol(c, 1);
            } else if (r < lastRow) {
                ++r;
                c = firstCol;
            }
        }
        MoveCurrent(c, r, true, true);
        return;
    case Qt::Key_F2:
        if (m_options & goEditing)
            ShowEditor();
        return;
    default:
        nav = false;
    }
    if (nav) {
        if (c != m_cur.X || r != m_cur.Y)
            MoveCurrent(c, r, !range, true);
        return;
    }
    const QString text = e->text();
    if (!text.isEmpty() && !ctrl && !(mods & Qt::AltModifier)) {
        QChar ch = text.at(0);
        // In an editable grid a typed character opens the editor and goes to it, so it
        // passes the editor's key path (and the owner's key filter) instead of searching.
        const bool typed = ch.unicode() == 8 || ch.unicode() >= 32;
        if (typed && (m_options & goEditing) && !m_editorMode && CanEditShow()) {
            ShowEditor();
            if (m_editorMode) {
                m_editor->selectAll();
                QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(),
                               ushort(e->count()));
                QCoreApplication::sendEvent(m_editor, &copy);
                return;
            }
        }
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
            ch = QChar(13);
        KeyPress(ch);
        return;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

bool TMyCustomGrid::eventFilter(QObject *o, QEvent *e)
{
    if (o != m_editor)
        return QAbstractScrollArea::eventFilter(o, e);
    if (e->type() == QEvent::KeyPress) {
        auto *ke = static_cast<QKeyEvent *>(e);
        switch (ke->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (!(m_options & goTabs))
                return false;
            keyPressEvent(ke);
            return true;
        case Qt::Key_Escape:
            // Leave the cell as it was before editing.
            m_settingEditor = true;
            m_editor->setText(m_editorOriginal);
            m_settingEditor = false;
            if (GetEditText(m_cur.X, m_cur.Y) != m_editorOriginal)
                SetEditText(m_cur.X, m_cur.Y, m_editorOriginal);
            if (!(m_options & goAlwaysShowEditor))
                HideEditor();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            QChar ch(13);
            KeyPress(ch);
            return true;
        }
        default:
            break;
        }
        const QString text = ke->text();
        const auto mods = ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
        if (text.isEmpty() || mods)
            return false;
        const QChar typed = text.at(0);
        QChar ch = typed;
        KeyPress(ch);
        if (ch.isNull())
            return true;
        if (ch == typed)
            return false;
        if (ch.unicode() >= 32)
            m_editor->insert(QString(ch));
        return true;
    }
    if (e->type() == QEvent::FocusIn && !m_gridFocused) {
        m_gridFocused = true;
        FocusEntered();
    } else if (e->type() == QEvent::FocusOut && m_gridFocused &&
               !isInGrid(QApplication::focusWidget())) {
        m_gridFocused = false;
        FocusLeft();
    }
    if (e->type() == QEvent::FocusOut || e->type() == QEvent::FocusIn)
        return false;
    return QAbstractScrollArea::eventFilter(o, e);
}

void TMyCustomGrid::focusInEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusInEvent(e);
    InvalidateCell(m_cur.X, m_cur.Y);
    if (!m_gridFocused) {
        m_gridFocused = true;
        FocusEntered();
    }
}

void TMyCustomGrid::focusOutEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusOutEvent(e);
    InvalidateCell(m_cur.X, m_cur.Y);
    if (m_gridFocused && !isInGrid(QApplication::focusWidget())) {
        m_gridFocused = false;
        FocusLeft();
    }
}

void TMyCustomGrid::setCurrentCell(int col, int row, bool moveAnchor)
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        return;
    if (m_editorMode && (col != m_cur.X || row != m_cur.Y))
        HideEditor();
    const TGridRect old = Selection();
    m_cur = {col, row};
    if (moveAnchor || !(m_options & goRangeSelect))
        m_anchor = m_cur;
    selectionChanged(old);
}

void TMyCustomGrid::mousePressEvent(QMouseEvent *e)
{
    setFocus();
    if (e->button() != Qt::LeftButton)
        return;
    const QPoint pos = e->position().toPoint();
    const TGridCoord hit = MouseCoord(pos.x(), pos.y());
    if (hit.X < m_fixedCols || hit.Y < m_fixedRows)
        return;
    const bool wasCurrent = hit == m_cur;
    if ((e->modifiers() & Qt::ShiftModifier) && (m_options & goRangeSelect)) {
        MoveCurrent(hit.X, hit.Y, false, true);
    } else if (MoveCurrent(hit.X, hit.Y, true, true)) {
        if (wasCurrent && CanEditShow())
            ShowEditor();
    }
    m_selecting = (m_options & goRangeSelect) != 0;
}

void TMyCustomGrid::mouseMoveEvent(QMouseEvent *e)
{
    if (!m_selecting || !(e->buttons() & Qt::LeftButton))
        return;
    const QPoint pos = e->position().toPoint();
    const TGridCoord hit = MouseCoord(pos.x(), pos.y());
    if (hit.X >= m_fixedCols && hit.Y >= m_fixedRows && !(hit == m_cur))
        MoveCurrent(hit.X, hit.Y, false, true);
}

void TMyCustomGrid::mouseReleaseEvent(QMouseEvent *)
{
    m_selecting = false;
}

void TMyCustomGrid::mouseDoubleClickEvent(QMouseEvent *)
{
    if (OnDblClick)
        OnDblClick(this);
}

// ---------------------------------------------------------------------------------------
// TMyDrawGrid

TMyDrawGrid::TMyDrawGrid(QWidget *parent) : TMyCustomGrid(parent) {}

void TMyDrawGrid::DrawCell(QPainter &, int col, int row, const QRect &rect, TGridDrawState state)
{
    if (OnDrawCell)
        OnDrawCell(this, col, row, rect, state);
}

bool TMyDrawGrid::SelectCell(int col, int row)
{
    bool can = true;
    if (OnSelectCell)
        OnSelectCell(this, col, row, can);
    return can;
}

// ---------------------------------------------------------------------------------------
// TMyStringGrid

TMyStringGrid::TMyStringGrid(QWidget *parent) : TMyDrawGrid(parent) {}

QString TMyStringGrid::Cells(int col, int row) const
{
    if (row < 0 || col < 0 || row >= int(m_rows.size()))
        return {};
    const QStringList &r = m_rows[size_t(row)];
    return col < r.size() ? r.at(col) : QString();
}

void TMyStringGrid::setCells(int col, int row, const QString &value)
{
    if (row < 0 || col < 0)
        return;
    if (row >= int(m_rows.size())) {
        if (value.isEmpty())
            return;
        m_rows.resize(size_t(row) + 1);
    }
    QStringList &r = m_rows[size_t(row)];
    if (col >= r.size()) {
        if (value.isEmpty())
            return;
        while (r.size() <= col)
            r.append(QString());
    }
    if (r[col] == value)
        return;
    r[col] = value;
    m_fit.cellChanged(col, row);
    ++m_revision;
    contentChanged({TContentChange::Cell, col, row});
    if (row < RowCount() && col < ColCount()) {
        InvalidateCell(col, row);
        if (EditorMode() && col == Col() && row == Row() && InplaceEditor()->text() != value) {
            // Keep an open editor in step with a cell written from outside.
            QSignalBlocker b(InplaceEditor());
            InplaceEditor()->setText(value);
        }
    }
}

QStringList TMyStringGrid::Rows(int row) const
{
    // A stored row of exactly the grid's cells is handed out shared: a copy of a table of a
    // million rows then costs no cell.
    if (row >= 0 && row < int(m_rows.size()) && m_rows[size_t(row)].size() == ColCount())
        return m_rows[size_t(row)];
    QStringList l;
    l.reserve(ColCount());
    for (int c = 0; c < ColCount(); ++c)
        l << Cells(c, row);
    return l;
}

void TMyStringGrid::setRows(int row, const QStringList &cells)
{
    for (int c = 0; c < ColCount(); ++c)
        setCells(c, row, c < cells.size() ? cells.at(c) : QString());
}

std::vector<QStringList> TMyStringGrid::replaceRows(std::vector<QStringList> rows)
{
    BeginUpdate();
    m_rows.swap(rows);
    m_fit.clear();
    ++m_revision;
    contentChanged({TContentChange::All});
    setRowCount(int(m_rows.size()));
    EndUpdate();
    syncEditor();
    return rows;
}

void TMyStringGrid::clearRow(int row)
{
    if (row >= 0 && row < int(m_rows.size())) {
        m_rows[size_t(row)].clear();
        m_fit.cellChanged(-1, row);
        ++m_revision;
        contentChanged({TContentChange::Row, row});
        InvalidateRow(row);
        if (row == Row())
            syncEditor();
    }
}

QStringList TMyStringGrid::Cols(int col) const
{
    QStringList l;
    l.reserve(RowCount());
    for (int r = 0; r < RowCount(); ++r)
        l << Cells(col, r);
    return l;
}

void TMyStringGrid::setCols(int col, const QStringList &cells)
{
    for (int r = 0; r < RowCount(); ++r)
        setCells(col, r, r < cells.size() ? cells.at(r) : QString());
}

void TMyStringGrid::clearCol(int col)
{
    for (int r = 0; r < RowCount(); ++r)
        setCells(col, r, QString());
}

QString TMyStringGrid::RowText(int row) const
{
    QString s;
    for (const QString &c : Rows(row))
        s += c + QLatin1Char('\n');
    return s;
}

void TMyStringGrid::syncEditor()
{
    if (!EditorMode())
        return;
    const QString t = Cells(Col(), Row());
    if (InplaceEditor()->text() != t) {
        QSignalBlocker b(InplaceEditor());
        InplaceEditor()->setText(t);
    }
}

void TMyStringGrid::MoveColRow(bool IsColumn, int FromIndex, int ToIndex)
{
    if (IsColumn)
        MoveColumn(FromIndex, ToIndex);
    else
        MoveRow(FromIndex, ToIndex);
}

void TMyStringGrid::DrawCell(QPainter &p, int col, int row, const QRect &rect, TGridDrawState state)
{
    p.setClipRect(rect);
    p.drawText(rect.left() + 2, rect.top() + 2 + p.fontMetrics().ascent(), Cells(col, row));
    p.setClipping(false);
    TMyDrawGrid::DrawCell(p, col, row, rect, state);
}

QString TMyStringGrid::GetEditText(int col, int row)
{
    return Cells(col, row);
}

void TMyStringGrid::SetEditText(int col, int row, const QString &value)
{
    setCells(col, row, value);
    TMyDrawGrid::SetEditText(col, row, value);
}

void TMyStringGrid::SizeChanged(int oldColCount, int oldRowCount)
{
    ++m_revision;
    // Columns that leave the grid take their texts with them; rows are kept (see header).
    if (ColCount() < oldColCount) {
        for (QStringList &r : m_rows)
            if (r.size() > ColCount())
                r.erase(r.begin() + ColCount(), r.end());
        m_fit.clear();
    }
    if (ColCount() != oldColCount)
        contentChanged({TContentChange::All});
    else if (RowCount() != oldRowCount)
        contentChanged({TContentChange::RowCount, oldRowCount, RowCount()});
    TMyDrawGrid::SizeChanged(oldColCount, oldRowCount);
}

void TMyStringGrid::ColumnMoved(int from, int to)
{
    ++m_revision;
    contentChanged({TContentChange::All});
    for (QStringList &r : m_rows) {
        if (r.size() <= std::max(from, to)) {
            if (r.isEmpty())
                continue;
            while (r.size() <= std::max(from, to))
                r.append(QString());
        }
        r.move(from, to);
    }
    m_fit.clear();
    TMyDrawGrid::ColumnMoved(from, to);
}

void TMyStringGrid::RowMoved(int from, int to)
{
    ++m_revision;
    // Said before the rows move: a reader takes the rows it has marked under their old
    // places first.
    contentChanged({TContentChange::RowMoved, from, to});
    if (int(m_rows.size()) <= std::max(from, to))
        m_rows.resize(size_t(std::max(from, to)) + 1);
    QStringList moved = std::move(m_rows[size_t(from)]);
    m_rows.erase(m_rows.begin() + from);
    m_rows.insert(m_rows.begin() + to, std::move(moved));
    m_fit.rowMoved(from, to);
    TMyDrawGrid::RowMoved(from, to);
}

void TMyStringGrid::ColumnDeleted(int col)
{
    ++m_revision;
    contentChanged({TContentChange::All});
    for (QStringList &r : m_rows)
        if (col < r.size())
            r.removeAt(col);
    m_fit.clear();
    TMyDrawGrid::ColumnDeleted(col);
}

void TMyStringGrid::RowDeleted(int row)
{
    ++m_revision;
    contentChanged({TContentChange::RowDeleted, row}); // before the row leaves, as above
    // The row leaves storage too, so that it never reappears when the grid grows.
    if (row < int(m_rows.size()))
        m_rows.erase(m_rows.begin() + row);
    m_fit.rowDeleted(row);
    TMyDrawGrid::RowDeleted(row);
}

int TMyStringGrid::keptWidest(int col, const std::function<int(int row)> &measure)
{
    return m_fit.widest(col, RowCount(), measure);
}

void TMyStringGrid::changeEvent(QEvent *e)
{
    // Widths measured in the old font are no longer true.
    if (e->type() == QEvent::FontChange)
        m_fit.clear();
    TMyDrawGrid::changeEvent(e);
}
