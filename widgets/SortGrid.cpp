#include "widgets/SortGrid.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QVarLengthArray>
#include <QWheelEvent>

#include <algorithm>

std::function<void(const QString &)> TSortGrid::ShowMessageHook;

namespace {

QString asciiLower(const QString &s)
{
    // Most texts (times, numbers) have no capitals: share them instead of copying.
    const auto isUpper = [](QChar c) { return c.unicode() >= 'A' && c.unicode() <= 'Z'; };
    if (std::none_of(s.cbegin(), s.cend(), isUpper))
        return s;
    QString r = s;
    for (QChar &c : r)
        if (isUpper(c))
            c = QChar(c.unicode() + 32);
    return r;
}

QChar asciiUpper(QChar c)
{
    return c.unicode() >= 'a' && c.unicode() <= 'z' ? QChar(c.unicode() - 32) : c;
}

bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// The user's locale, without thousands separators in numbers.
QLocale conversionLocale()
{
    QLocale loc;
    loc.setNumberOptions(QLocale::RejectGroupSeparator);
    return loc;
}

bool toNumber(const QLocale &loc, const QString &s, double &v)
{
    const QString t = s.trimmed();
    if (t.isEmpty())
        return false;
    // Whole numbers (start numbers, running numbers) read the same in every locale;
    // reading them directly keeps sorting large tables fast.
    qsizetype i = (t[0] == QLatin1Char('-') || t[0] == QLatin1Char('+')) ? 1 : 0;
    bool digitsOnly = i < t.size() && t.size() <= 18;
    for (; digitsOnly && i < t.size(); ++i)
        digitsOnly = isDigit(t[i]);
    bool ok = false;
    if (digitsOnly) {
        v = double(t.toLongLong(&ok));
        if (ok)
            return true;
    }
    v = loc.toDouble(t, &ok);
    return ok;
}

bool toTimeValue(const QLocale &loc, const QString &s, double &v)
{
    const QString t = s.trimmed();
    if (t.isEmpty())
        return false;
    for (auto fmt : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QTime tm = loc.toTime(t, fmt);
        if (tm.isValid()) {
            v = tm.msecsSinceStartOfDay();
            return true;
        }
    }
    // Hours and minutes without leading zeros, as people type them.
    for (const char *fmt : {"H:m:s", "H:m"}) {
        const QTime tm = loc.toTime(t, QString::fromLatin1(fmt));
        if (tm.isValid()) {
            v = tm.msecsSinceStartOfDay();
            return true;
        }
    }
    return false;
}

bool toDateTimeValue(const QLocale &loc, const QString &s, double &v)
{
    const QString t = s.trimmed();
    if (t.isEmpty())
        return false;
    for (auto fmt : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDateTime dt = loc.toDateTime(t, fmt);
        if (dt.isValid()) {
            v = double(dt.toMSecsSinceEpoch());
            return true;
        }
        const QDate d = loc.toDate(t, fmt);
        if (d.isValid()) {
            v = double(d.startOfDay().toMSecsSinceEpoch());
            return true;
        }
    }
    return false;
}

QString cellOf(const QStringList &row, int col)
{
    return col >= 0 && col < row.size() ? row.at(col) : QString();
}

void showMessage(const QString &text)
{
    if (TSortGrid::ShowMessageHook)
        TSortGrid::ShowMessageHook(text);
    else
        QMessageBox::warning(nullptr, QApplication::applicationDisplayName(), text);
}

} // namespace

struct TSortGrid::SortEntry
{
    QString text;
    int pos = 0;
    double value = 0;
    bool converted = false;
};

TSortGrid::TSortGrid(QWidget *parent) : TMyStringGrid(parent)
{
    setFixedCols(0);
    m_selectedRows = {Row()};
    createComboList();
    m_modified = false;
}

TSortGrid::~TSortGrid()
{
    // The list may live on the owning window, which outlives the grid; its focus loss
    // must not write into a grid that is going away.
    m_comboOpen = false;
    delete m_comboList;
}

void TSortGrid::setAlignmentHorz(TAlignment a)
{
    if (a == m_alignHorz)
        return;
    m_alignHorz = a;
    InvalidateGrid();
}

void TSortGrid::setAlignmentVert(TVertAlignment a)
{
    if (a == m_alignVert)
        return;
    m_alignVert = a;
    InvalidateGrid();
}

void TSortGrid::setBevelStyle(TCellBevelStyle b)
{
    if (b == m_bevelStyle)
        return;
    m_bevelStyle = b;
    InvalidateGrid();
}

void TSortGrid::setModified(bool v)
{
    m_modified = v;
    if (v && OnModified)
        OnModified(this);
}

// ---------------------------------------------------------------------------------------
// Formats and drawing

TFormatOptions TSortGrid::CellFormat(int ACol, int ARow, TGridDrawState State, bool &CheckBox,
                                     bool &Combobox, bool &Ellipsis)
{
    TFormatOptions f;
    f.Brush.Color = m_cellBrush.isValid() ? m_cellBrush : toQColor(Color());
    static_cast<QFont &>(f.Font) = m_cellFont;
    f.Font.Color = m_cellFontColor.isValid() ? m_cellFontColor : palette().color(QPalette::Text);
    f.AlignmentHorz = m_alignHorz;
    f.AlignmentVert = m_alignVert;
    f.BevelStyle = m_bevelStyle;
    switch (m_bevelStyle) {
    case cbRaised:
        f.UpperLeftColor = toQColor(clBtnHighlight);
        f.LowerRightColor = toQColor(clBtnShadow);
        break;
    case cbLowered:
        f.UpperLeftColor = toQColor(clBtnShadow);
        f.LowerRightColor = toQColor(clBtnHighlight);
        break;
    case cbNone:
        f.UpperLeftColor = toQColor(clWindow);
        f.LowerRightColor = toQColor(clWindow);
        break;
    }
    CheckBox = Combobox = Ellipsis = false;
    if (OnGetCellFormat)
        OnGetCellFormat(this, ACol, ARow, State, f, CheckBox, Combobox, Ellipsis);
    return f;
}

QString TSortGrid::ShortenTitle(const QString &text, int avail, const QFontMetrics &fm)
{
    // A single character that does not fit stays as it is.
    if (fm.horizontalAdvance(text) <= avail || text.size() < 2)
        return text;
    QString t = text.left(text.size() - 2) + QStringLiteral("..");
    while (fm.horizontalAdvance(t) > avail && t.size() > 3) {
        t.chop(1);
        t[t.size() - 2] = QLatin1Char('.');
    }
    return t;
}

QImage TSortGrid::ArrowImage(TSortDirection dir)
{
    // A triangle, widest at the bottom for "UP" and at the top for "DOWN".
    QImage img(8, 7, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    for (int y = 0; y < 7; ++y) {
        const int w = 2 * (y / 2 + 1);
        const int row = dir == sdAscending ? y : 6 - y;
        for (int x = (8 - w) / 2; x < (8 + w) / 2; ++x)
            img.setPixel(x, row, qRgb(0, 0, 0));
    }
    return img;
}

void TSortGrid::DrawCell(QPainter &p, int col, int row, const QRect &rect, TGridDrawState state)
{
    // 1. Data rows are blank while an update runs or the rows are hidden.
    if (row > 0 && (Updating() || m_hideRows)) {
        p.fillRect(QRect(rect.left(), rect.top(), rect.width() + viewport()->width() + 1,
                         rect.height() + 1),
                   m_cellBrush);
        return;
    }
    // 2. Format.
    CellKinds kinds;
    TFormatOptions f = CellFormat(col, row, state, kinds.checkBox, kinds.combo, kinds.ellipsis);
    if (kinds.checkBox)
        f.HideText = true;
    // 3. Selection colours override the handler's.
    const TGridRect sel = Selection();
    if (((Options() & goRangeSelect) && row >= sel.Top && row <= sel.Bottom) ||
        (m_multiSelect && m_selectedRows.count(row) && !(Options() & goEditing))) {
        f.Font.Color = toQColor(clHighlightText);
        f.Brush.Color = toQColor(clHighlight);
    }
    // 4. Apply font and fill.
    p.setFont(f.Font);
    p.setPen(f.Font.Color);
    const QFontMetrics fm(f.Font);

    // 5. Header texts are shortened to the column, always ending in "..".
    const bool sortHeader = row == 0 && col == m_sortOptions.SortCol && m_sortOptions.CanSort;
    QString text = Cells(col, row);
    if (row == 0)
        text = ShortenTitle(text, ColWidths(col) - 1 - (sortHeader ? 11 : 0), fm);

    // 6. Offsets.
    const int w = rect.width(), h = rect.height();
    const int tw = fm.horizontalAdvance(text), th = fm.height();
    int ox = 2, oy = 2;
    switch (f.AlignmentHorz) {
    case taRightJustify:
        ox = w - tw - 2;
        break;
    case taCenter:
        ox = (w - tw) / 2;
        break;
    case taLeftJustify:
        ox = 2;
        break;
    }
    switch (f.AlignmentVert) {
    case taBottomJustify:
        oy = h - th - 3;
        break;
    case taMiddle:
        oy = (h - th) / 2;
        break;
    case taTopJustify:
        oy = 2;
        break;
    }
    if (sortHeader)
        ox += 10;

    // 8 (background first, so that the arrow stays visible), 7, then the text.
    p.fillRect(rect, f.Brush.Color);
    if (sortHeader) {
        const int aw = w > 10 ? 8 : w - 3;
        if (aw > 0)
            p.drawImage(QRect(rect.left() + 3, rect.top() + RowHeights(0) / 2 - 4, aw, 7),
                        ArrowImage(m_sortOptions.SortDirection));
    }
    if (!f.HideText && !text.isEmpty()) {
        p.save();
        p.setClipRect(rect);
        p.drawText(rect.left() + ox, rect.top() + oy + fm.ascent(), text);
        p.restore();
    }
    // 9. Check box and cell buttons.
    if (kinds.any())
        drawCellKinds(p, col, row, rect, kinds);

    // 10. Bevel.
    if (f.BevelStyle != cbNone && row >= 1) {
        const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
        if (Options() & goFixedVertLine) {
            p.setPen(f.LowerRightColor);
            p.drawLine(r, t, r, b);
            p.setPen(f.UpperLeftColor);
            p.drawLine(l, t, l, b);
        }
        if (Options() & goFixedHorzLine) {
            p.setPen(f.LowerRightColor);
            p.drawLine(l, b, r, b);
            p.setPen(f.UpperLeftColor);
            p.drawLine(l, t, r, t);
        }
    }
    // 11. The owner's drawing.
    TMyDrawGrid::DrawCell(p, col, row, rect, state);
}

// ---------------------------------------------------------------------------------------
// Columns, search and moving

void TSortGrid::AutoSizeCol(int ACol, bool Force)
{
    if (ACol < 0 || ACol >= ColCount())
        return;
    if (ColWidths(ACol) == -1 && !Force)
        return;
    setColWidths(ACol, FittedColWidth(ACol));
}

QFont TSortGrid::dataFont(int ACol)
{
    m_cellFont = font();
    m_cellBrush = toQColor(Color());
    m_cellFontColor = palette().color(QPalette::Text);
    bool cb = false, co = false, el = false;
    return CellFormat(ACol, 1, cellState(ACol, 1), cb, co, el).Font;
}

int TSortGrid::FittedColWidth(int ACol)
{
    if (ACol < 0 || ACol >= ColCount())
        return 0;
    m_cellFont = font();
    m_cellBrush = toQColor(Color());
    m_cellFontColor = palette().color(QPalette::Text);
    auto measure = [&](int r) {
        bool cb = false, co = false, el = false;
        const TFormatOptions f = CellFormat(ACol, r, cellState(ACol, r), cb, co, el);
        return textWidth(QFontMetrics(f.Font), Cells(ACol, r));
    };
    int header = 0, widest = 0;
    if (RowCount() > 0)
        header = measure(0) + (ACol == m_sortOptions.SortCol && m_sortOptions.CanSort ? 12 : 0);
    if (m_keepColumnFit) {
        widest = keptWidest(ACol, measure);
    } else {
        for (int r = 1; r < RowCount(); ++r)
            widest = std::max(widest, measure(r));
    }
    const int w = std::max(header, widest);
    const QFontMetrics fm(font());
    return w <= 0 ? fm.horizontalAdvance(QStringLiteral("xx"))
                  : w + fm.horizontalAdvance(QStringLiteral("X"));
}

void TSortGrid::setKeepColumnFit(bool v)
{
    m_keepColumnFit = v;
    if (!v)
        forgetKeptWidths();
}

int TSortGrid::FindInColumn(int ACol, const QString &Text, bool IgnoreCase) const
{
    const QString want = IgnoreCase ? asciiLower(Text) : Text;
    const int end = RowCount() + m_hiddenRowCount;
    for (int r = 1; r < end; ++r) {
        const QString c = Cells(ACol, r);
        if ((IgnoreCase ? asciiLower(c) : c) == want)
            return r;
    }
    return -1;
}

void TSortGrid::GotoCell(int ACol, int ARow, bool Scroll)
{
    if (ColCount() < 1 || RowCount() < 2)
        return;
    ACol = std::clamp(ACol, 0, ColCount() - 1);
    ARow = std::clamp(ARow, 1, RowCount() - 1);
    if (!SelectCell(ACol, ARow))
        return;
    // The handler may have changed the grid.
    if (ACol >= ColCount() || ARow >= RowCount())
        return;
    const bool wasEnabled = updatesEnabled();
    setUpdatesEnabled(false);
    setCurrentCell(ACol, ARow, true);
    m_selectedRows = {ARow};
    InvalidateGrid();
    if (Scroll)
        ScrollToCell(ACol, ARow);
    setUpdatesEnabled(wasEnabled);
}

void TSortGrid::ScrollToCell(int ACol, int ARow)
{
    if (ColCount() < 1 || RowCount() < 2)
        return;
    ACol = std::clamp(ACol, 0, ColCount() - 1);
    ARow = std::clamp(ARow, 1, RowCount() - 1);
    if (ACol >= FixedCols() && ACol < LeftCol())
        setLeftCol(ACol);
    while (ACol >= LeftCol() + VisibleColCount() && LeftCol() < MaxLeftCol())
        setLeftCol(LeftCol() + 1);
    const int bottomTop = std::max(1, RowCount() - VisibleRowCount());
    if (bottomTop < ARow)
        setTopRow(bottomTop);
    else
        setTopRow(std::max(1, ARow - 1));
}

void TSortGrid::InsertRow(int ARow)
{
    setRowCount(RowCount() + 1);
    const int last = RowCount() - 1;
    if (ARow < RowCount() - 2) {
        ARow = std::max(ARow, FixedRows());
        MoveColRow(false, last, ARow);
    } else {
        ARow = last;
    }
    clearRow(ARow);
    setCurrentCell(Col(), ARow, true);
    ClampInView(Col(), ARow);
    m_selectedRows = {ARow};
    if (OnRowInsert)
        OnRowInsert(this, ARow);
}

void TSortGrid::DeleteRow(int ARow)
{
    if (ARow < FixedRows() || ARow >= RowCount())
        return; // the title row is never deleted
    setModified(true);
    if (RowCount() < 3) {
        clearRow(1);
    } else {
        const TGridOptions o = Options();
        if (o & goAlwaysShowEditor)
            setOptions(o & ~TGridOptions(goAlwaysShowEditor));
        DeleteRowAt(ARow);
        if (o & goAlwaysShowEditor)
            setOptions(Options() | goAlwaysShowEditor);
    }
    if (OnRowDelete)
        OnRowDelete(this, ARow);
}

void TSortGrid::InsertColumn(int ACol)
{
    setColCount(ColCount() + 1);
    const int last = ColCount() - 1;
    ACol = std::clamp(ACol, 0, last);
    if (ACol < last)
        MoveColRow(true, last, ACol);
    clearCol(ACol);
    setCurrentCell(ACol, Row(), true);
    if (OnColumnInsert)
        OnColumnInsert(this, ACol);
}

void TSortGrid::DeleteColumn(int ACol)
{
    if (ACol < 0 || ACol >= ColCount())
        return;
    clearCol(ACol);
    const TGridOptions o = Options();
    if (o & goAlwaysShowEditor)
        setOptions(o & ~TGridOptions(goAlwaysShowEditor));
    DeleteColumnAt(ACol);
    if (o & goAlwaysShowEditor)
        setOptions(Options() | goAlwaysShowEditor);
    if (OnColumnDelete)
        OnColumnDelete(this, ACol);
}

void TSortGrid::BeginUpdate()
{
    if (m_updateDepth++ == 0) {
        m_savedUpdateOnSizeChange = m_sortOptions.UpdateOnSizeChange;
        m_sortOptions.UpdateOnSizeChange = false;
    }
    TMyStringGrid::BeginUpdate();
}

void TSortGrid::EndUpdate()
{
    if (m_updateDepth == 0)
        return;
    if (--m_updateDepth == 0)
        m_sortOptions.UpdateOnSizeChange = m_savedUpdateOnSizeChange;
    TMyStringGrid::EndUpdate();
    if (OnEndUpdate)
        OnEndUpdate(this);
}

bool TSortGrid::SelectCell(int col, int row)
{
    CellKinds target;
    if (EditorMode()) {
        // The target's format decides about the cell kinds.
        target = cellKinds(col, row);
        // Leaving an edited cell validates it.
        if (m_valRemembered && !(m_valCell == TGridCoord{col, row}))
            validateCell();
    }
    if (!TMyStringGrid::SelectCell(col, row))
        return false;
    if (target.combo && !m_comboOpen) {
        // Tabbing through a row opens the list and goes on to the next column, where the
        // focus returns once a value is picked.
        if (m_tabDown && col < ColCount() - 2) {
            m_tabDown = false;
            openComboList(col, row);
            MoveCurrent(col + 1, row, true, true);
            return false;
        }
        openComboList(col, row);
    }
    const int oldRow = Row();
    // Multi-selection decides itself which rows a click or a Shift range selects.
    if (!(m_multiSelect && (m_keyRange || m_mouseMulti))) {
        m_selectedRows = {row};
        if (OnRowSelected)
            OnRowSelected(this);
    }
    InvalidateRow(oldRow);
    InvalidateRow(row);
    return true;
}

void TSortGrid::SetEditText(int col, int row, const QString &value)
{
    if (value != Cells(col, row))
        setModified(true);
    TMyStringGrid::SetEditText(col, row, value);
}

void TSortGrid::SizeChanged(int oldColCount, int oldRowCount)
{
    // Rows hidden by the filter wait just beyond RowCount: new rows go in front of them,
    // so that growing the grid neither shows nor overwrites them.
    if (m_hiddenRowCount > 0 && !m_filtering && RowCount() > oldRowCount &&
        storedRowCount() > oldRowCount) {
        std::vector<QStringList> &store = storage();
        store.insert(store.begin() + oldRowCount, size_t(RowCount() - oldRowCount), QStringList());
    }
    TMyStringGrid::SizeChanged(oldColCount, oldRowCount);
    setModified(true);
    if (m_sortOptions.UpdateOnSizeChange)
        SortByColumn(m_sortOptions.SortCol);
    if (!Updating()) {
        try {
            GotoCell(0, 1, true);
        } catch (...) {
            // Moving to the first data row is a courtesy; a failing handler must not stop
            // the size change.
        }
    }
    if (RowCount() < 2)
        showMessage(QStringLiteral("Rowsize too small"));
    if (OnSizeChanged)
        OnSizeChanged(this, oldColCount, oldRowCount);
}

void TSortGrid::ColumnMoved(int from, int to)
{
    TMyStringGrid::ColumnMoved(from, to);
    setModified(true);
    int &sc = m_sortOptions.SortCol;
    if (sc == from)
        sc = to;
    else if (from < sc && sc <= to)
        --sc;
    else if (to <= sc && sc < from)
        ++sc;
}

void TSortGrid::ColWidthsChanged()
{
    if (OnColumnWidthsChanged)
        OnColumnWidthsChanged(this);
}

void TSortGrid::RowHeightsChanged()
{
    if (OnRowHeightsChanged)
        OnRowHeightsChanged(this);
}

// ---------------------------------------------------------------------------------------
// Validation

void TSortGrid::rememberForValidation()
{
    if (!EditorMode())
        return;
    m_valRemembered = true;
    m_valCell = {Col(), Row()};
    m_valText = Cells(Col(), Row());
    m_valModified = m_modified;
}

void TSortGrid::validateCell()
{
    if (!EditorMode() || !m_valRemembered || m_validating)
        return;
    m_validating = true;
    const int c = m_valCell.X, r = m_valCell.Y;
    const QString current = Cells(c, r);
    if (current != m_valText) {
        QString newValue = current;
        bool valid = true;
        if (OnCellValidate)
            OnCellValidate(this, c, r, m_valText, newValue, valid);
        if (valid) {
            if (newValue != current)
                setCells(c, r, newValue);
        } else {
            setCells(c, r, newValue != current ? newValue : m_valText);
            m_modified = m_valModified;
        }
    }
    m_validating = false;
    rememberForValidation();
}

void TSortGrid::EditorShown()
{
    rememberForValidation();
}

void TSortGrid::FocusEntered()
{
    rememberForValidation();
}

void TSortGrid::FocusLeft()
{
    validateCell();
}

// ---------------------------------------------------------------------------------------
// Keyboard and mouse

void TSortGrid::KeyPress(QChar &Key)
{
    if (Key == QChar(13))
        validateCell();
    if (!EditorMode()) {
        Key = asciiUpper(Key);
        const int col = m_sortOptions.SortCol;
        auto matches = [&](int r) {
            const QString t = Cells(col, r);
            return !t.isEmpty() && asciiUpper(t.at(0)) == Key;
        };
        int hit = -1;
        for (int r = Row() + 1; r < RowCount() && hit < 0; ++r)
            if (matches(r))
                hit = r;
        for (int r = 1; r <= Row() && r < RowCount() && hit < 0; ++r)
            if (matches(r))
                hit = r;
        if (hit >= 0)
            GotoCell(col, hit, true);
    }
    TMyStringGrid::KeyPress(Key);
}

void TSortGrid::keyPressEvent(QKeyEvent *e)
{
    const auto mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier |
                                        Qt::MetaModifier);
    if (!EditorMode()) {
        if (e->key() == Qt::Key_Space && mods == Qt::NoModifier &&
            cellKindAction(Col(), Row(), nullptr))
            return;
        if (m_multiSelect && multiSelectKeyPress(e))
            return;
    }
    if (m_extendedKeys && !EditorMode()) {
        const bool ctrl = mods == Qt::ControlModifier;
        const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
        if (e->key() == Qt::Key_Insert && ctrl) {
            InsertRow(Row());
            return;
        }
        if (e->key() == Qt::Key_Delete && ctrl) {
            if (RowCount() > 2)
                DeleteRow(Row());
            return;
        }
        if (e->key() == Qt::Key_Insert && ctrlShift) {
            InsertColumn(Col());
            return;
        }
        if (e->key() == Qt::Key_Delete && ctrlShift) {
            if (ColCount() > 1)
                DeleteColumn(Col());
            return;
        }
    }
    const bool multi = multiSelecting();
    m_tabDown = e->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier);
    TMyStringGrid::keyPressEvent(e);
    m_tabDown = false;
    if (multi)
        multiSelectAfterKey(e);
}

TGridCoord TSortGrid::headerHit(const QPoint &pos) const
{
    TGridCoord hit = MouseCoord(pos.x(), pos.y());
    if (hit.X >= 0 || pos.y() < 0 || RowCount() < 1)
        return hit;
    // Below the last row: the column under the pointer, last row.
    const TGridCoord top = MouseCoord(pos.x(), 0);
    if (top.X < 0)
        return hit;
    const QRect last = CellRect(top.X, RowCount() - 1);
    if (!last.isEmpty() && pos.y() > last.bottom())
        return {top.X, RowCount() - 1};
    return hit;
}

bool TSortGrid::nearColumnBorder(int col, int x, int dist) const
{
    const QRect r = CellRect(col, 0);
    if (r.isEmpty())
        return false;
    return x < r.left() + dist || x > r.left() + r.width() - dist;
}

void TSortGrid::mousePressEvent(QMouseEvent *e)
{
    closeComboList(false);
    const QPoint pos = e->position().toPoint();
    m_pressCell = headerHit(pos);
    m_pressPos = pos;
    m_pressButton = e->button();
    m_pressDataCell = MouseCoord(pos.x(), pos.y());
    if (m_pressDataCell.Y < FixedRows())
        m_pressDataCell = {-1, -1};
    m_dragCandidate = false;
    if (m_pressCell.Y >= 0 && m_pressCell.Y < FixedRows()) {
        setFocus();
        return; // a title press selects nothing
    }
    const int row = m_pressDataCell.Y;
    if (!multiSelecting() || e->button() != Qt::LeftButton || row < 0) {
        TMyStringGrid::mousePressEvent(e);
        return;
    }
    // A press on a selected row keeps the selection: it may start a drag.
    const bool wasSelected = m_selectedRows.count(row) > 0;
    m_mouseMulti = true;
    TMyStringGrid::mousePressEvent(e);
    m_mouseMulti = false;
    m_dragCandidate = wasSelected;
    if (!wasSelected && !(e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
        selectRows({row});
}

void TSortGrid::mouseReleaseEvent(QMouseEvent *e)
{
    const bool wasFocused = hasFocus() || (EditorMode() && InplaceEditor()->hasFocus());
    TMyStringGrid::mouseReleaseEvent(e);
    const QPoint pos = e->position().toPoint();
    const TGridCoord hit = headerHit(pos);
    if (hit.Y == 0 && FixedRows() > 0 && m_pressCell.Y == 0 && hit.X >= 0 &&
        hit.X == m_pressCell.X && !nearColumnBorder(hit.X, pos.x(), 5)) {
        HeaderClick(hit.X, e->button());
    } else if (e->button() == Qt::RightButton && hit.Y >= FixedRows() && m_popupMenu) {
        m_popupMenu->popup(viewport()->mapToGlobal(pos));
    }
    const TGridCoord cell = MouseCoord(pos.x(), pos.y());
    const bool onPressedCell =
        e->button() == Qt::LeftButton && cell.Y >= FixedRows() && cell == m_pressDataCell;
    if (multiSelecting() && e->button() == Qt::LeftButton && m_pressDataCell.Y >= 0 &&
        cell.Y >= FixedRows())
        multiSelectRelease(e, cell.Y);
    m_dragCandidate = false;
    // An open drop-down list keeps the focus.
    if (!m_comboOpen) {
        if (EditorMode())
            InplaceEditor()->setFocus();
        else
            setFocus();
    }
    if (wasFocused)
        validateCell();
    if (onPressedCell)
        cellKindAction(cell.X, cell.Y, &pos);
}

void TSortGrid::mouseDoubleClickEvent(QMouseEvent *e)
{
    TMyStringGrid::mouseDoubleClickEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    const QPoint pos = e->position().toPoint();
    const TGridCoord hit = MouseCoord(pos.x(), pos.y());
    if (hit.Y != 0 || hit.X < 0 || !nearColumnBorder(hit.X, pos.x(), 5))
        return;
    const QRect r = CellRect(hit.X, 0);
    if (r.left() + r.width() - pos.x() <= 3) {
        AutoSizeCol(hit.X, true);
    } else if (hit.X > 0 && pos.x() - r.left() <= 3) {
        int left = hit.X - 1;
        while (left > 0 && ColWidths(left) < 0)
            --left;
        AutoSizeCol(left, true);
    }
}

void TSortGrid::wheelEvent(QWheelEvent *e)
{
    const int dy = e->angleDelta().y();
    int steps = std::abs(dy) / 120;
    if (steps == 0 && dy != 0)
        steps = 1;
    for (int i = 0; i < steps; ++i)
        ScrollToCell(Col(), dy < 0 ? TopRow() + 2 : TopRow() - 2);
    e->accept();
}

void TSortGrid::resizeEvent(QResizeEvent *e)
{
    TMyStringGrid::resizeEvent(e);
    fillLastColumn();
    if (OnResize)
        OnResize(this);
}

void TSortGrid::fillLastColumn()
{
    const int last = ColCount() - 1;
    if (last < 0 || ColWidths(last) < 0 || last < LeftCol())
        return;
    if (LeftCol() + VisibleColCount() < last)
        return;
    int sum = 0, visible = 1;
    for (int c = 0; c < last; ++c) {
        if ((c >= FixedCols() && c < LeftCol()) || ColWidths(c) < 0)
            continue;
        sum += ColWidths(c);
        ++visible;
    }
    const int controlWidth = viewport()->width() + 2 * frameWidth();
    const int w = controlWidth - sum - visible - 3;
    if (w > 0)
        setColWidths(last, w);
    InvalidateGrid();
}

// ---------------------------------------------------------------------------------------
// Sorting

int TSortGrid::CompareText(const QString &a, const QString &b)
{
    return sign(QString::compare(a, b, Qt::CaseSensitive));
}

int TSortGrid::CompareNumericExtended(const QString &a, const QString &b)
{
    // Empty texts come first; two empty texts are equal (a consistent order is what
    // keeps the sort well defined).
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() ? (b.isEmpty() ? 0 : -1) : 1;
    const qsizetype n = std::min(a.size(), b.size());
    // The differing parts; small buffers, as this runs for every comparison.
    QVarLengthArray<QChar, 32> a2, b2;
    for (qsizetype p = 0; p < n; ++p) {
        if (a[p] == b[p] && !isDigit(a[p]))
            continue;
        if (p == n - 1) {
            a2.append(a.constData() + p, a.size() - p);
            b2.append(b.constData() + p, b.size() - p);
        } else {
            a2.append(a[p]);
            b2.append(b[p]);
        }
    }
    // Strip common non-digit endings, judged on the parts as they were.
    const qsizetype la = a2.size(), lb = b2.size();
    qsizetype keepA = la, keepB = lb;
    for (qsizetype i = 0; i < std::min(la, lb); ++i) {
        const QChar ca = a2[la - 1 - i], cb = b2[lb - 1 - i];
        if (ca == cb && !isDigit(ca)) {
            keepA = std::max<qsizetype>(0, keepA - 1);
            keepB = std::max<qsizetype>(0, keepB - 1);
        }
    }
    const QStringView va(a2.constData(), keepA), vb(b2.constData(), keepB);
    if (va == vb)
        return 0;
    bool okA = false, okB = false;
    const qlonglong na = va.toLongLong(&okA), nb = vb.toLongLong(&okB);
    if (okA && okB && na != nb)
        return na < nb ? -1 : 1;
    // Equal numbers written differently (7 and 07) are ordered by their text.
    return sign(va.compare(vb, Qt::CaseSensitive));
}

TSortStyle TSortGrid::DetectSortStyle(int ACol) const
{
    // Each style must hold for every cell, so each is judged over the whole column; a
    // cell that read as a number still has to read as a time for ssTime.
    const QLocale loc = conversionLocale();
    auto allConvert = [&](bool (*convert)(const QLocale &, const QString &, double &)) {
        double v = 0;
        for (int r = 1; r < RowCount(); ++r)
            if (!convert(loc, Cells(ACol, r), v))
                return false;
        return true;
    };
    if (allConvert(toNumber))
        return ssNumeric;
    if (allConvert(toDateTimeValue))
        return ssDateTime;
    if (allConvert(toTimeValue))
        return ssTime;
    return ssNormal;
}

int TSortGrid::compareEntries(const SortEntry &x, const SortEntry &y, TSortStyle style) const
{
    int r = 0;
    switch (style) {
    case ssNumeric:
    case ssDateTime:
    case ssTime:
        if (x.converted && y.converted)
            r = x.value < y.value ? -1 : (x.value > y.value ? 1 : 0);
        else
            r = CompareText(x.text, y.text);
        break;
    case ssNumericExtended:
        r = CompareNumericExtended(x.text, y.text);
        break;
    case ssCustom:
        // Without a comparison the texts decide.
        r = m_sortOptions.CustomCompare ? sign(m_sortOptions.CustomCompare(x.text, y.text))
                                        : CompareText(x.text, y.text);
        break;
    case ssAutomatic:
    case ssNormal:
        r = CompareText(x.text, y.text);
        break;
    }
    if (r == 0)
        return x.pos < y.pos ? -1 : (x.pos > y.pos ? 1 : 0);
    return m_sortOptions.SortDirection == sdDescending ? -r : r;
}

void TSortGrid::SortByColumn(int ACol)
{
    if (!m_sortOptions.CanSort || m_sorting)
        return;
    m_sortOptions.SortCol = ACol;
    m_sorting = true;
    BeginUpdate();
    struct Finish
    {
        TSortGrid *g;
        ~Finish()
        {
            g->m_sortOptions.CustomCompare = nullptr;
            g->m_sorting = false;
            g->EndUpdate();
        }
    };
    int col = ACol;
    {
        Finish finish{this};
        // An edit in progress is judged before its row moves.
        validateCell();
        if (OnBeginSort)
            OnBeginSort(this, col);

        // Key list: the sort column first, then the secondary columns.
        QList<int> keys;
        for (const QString &part : m_sortOptions.SecondaryIndex.split(QLatin1Char(','))) {
            bool ok = false;
            const int k = part.trimmed().toInt(&ok);
            if (ok && k != col && k >= 0 && k < ColCount())
                keys << k;
        }
        keys.prepend(col);

        const int n = RowCount();
        std::vector<QStringList> work(size_t(std::max(n, 0)));
        std::vector<QStringList> &store = storage();
        for (int r = 0; r < n && r < int(store.size()); ++r)
            work[size_t(r)] = store[size_t(r)];
        std::vector<int> origin(work.size());
        for (size_t i = 0; i < origin.size(); ++i)
            origin[i] = int(i);

        const QLocale loc = conversionLocale();
        TSortStyle askedStyle = ssAutomatic;
        std::vector<SortEntry> entries, buffer;
        for (int ki = int(keys.size()) - 1; ki >= 0; --ki) {
            const int k = keys[ki];
            if (OnGetSortStyle) {
                OnGetSortStyle(this, k, askedStyle);
                m_sortOptions.SortStyle = askedStyle;
            } else if (m_sortOptions.SortStyle == ssAutomatic) {
                m_sortOptions.SortStyle = DetectSortStyle(k);
            }
            const TSortStyle style = m_sortOptions.SortStyle;
            entries.clear();
            entries.reserve(size_t(std::max(n - 1, 0)));
            for (int r = 1; r < n; ++r) {
                SortEntry e;
                e.text = cellOf(work[size_t(r)], k);
                if (!m_sortOptions.SortCaseSensitive)
                    e.text = asciiLower(e.text);
                e.pos = r;
                if (style == ssNumeric)
                    e.converted = toNumber(loc, e.text, e.value);
                else if (style == ssDateTime)
                    e.converted = toDateTimeValue(loc, e.text, e.value);
                else if (style == ssTime)
                    e.converted = toTimeValue(loc, e.text, e.value);
                entries.push_back(std::move(e));
            }
            // A merge sort: stable, and safe whatever the comparison answers.
            buffer.resize(entries.size());
            const size_t count = entries.size();
            for (size_t width = 1; width < count; width *= 2) {
                for (size_t lo = 0; lo < count; lo += 2 * width) {
                    const size_t mid = std::min(lo + width, count);
                    const size_t hi = std::min(lo + 2 * width, count);
                    size_t i = lo, j = mid, o = lo;
                    while (i < mid && j < hi) {
                        if (compareEntries(entries[j], entries[i], style) < 0)
                            buffer[o++] = std::move(entries[j++]);
                        else
                            buffer[o++] = std::move(entries[i++]);
                    }
                    while (i < mid)
                        buffer[o++] = std::move(entries[i++]);
                    while (j < hi)
                        buffer[o++] = std::move(entries[j++]);
                }
                entries.swap(buffer);
            }
            // Rows in sorted order (row 0 stays).
            std::vector<QStringList> sorted(work.size());
            std::vector<int> sortedOrigin(work.size());
            if (!work.empty()) {
                sorted[0] = std::move(work[0]);
                sortedOrigin[0] = origin[0];
            }
            for (size_t i = 0; i < count; ++i) {
                const int from = entries[i].pos;
                sorted[i + 1] = std::move(work[size_t(from)]);
                sortedOrigin[i + 1] = origin[size_t(from)];
            }
            work.swap(sorted);
            origin.swap(sortedOrigin);
        }

        // Write the rows back once.
        if (int(store.size()) < n)
            store.resize(size_t(n));
        for (int r = 1; r < n; ++r)
            store[size_t(r)] = std::move(work[size_t(r)]);

        syncEditor();
        rememberForValidation();
        // The selected rows stay selected on their data.
        std::set<int> selected;
        for (int r = 1; r < n; ++r)
            if (m_selectedRows.count(origin[size_t(r)]))
                selected.insert(r);
        if (!selected.empty()) {
            setCurrentCell(Col(), *selected.begin(), true);
            m_selectedRows = selected;
        }
        m_sortOptions.CustomCompare = nullptr;
        if (OnEndSort)
            OnEndSort(this, col);
    }
    InvalidateGrid();
}

void TSortGrid::HeaderClick(int ACol, Qt::MouseButton Button)
{
    TSortDirection &dir = m_sortOptions.SortDirection;
    if (Button == Qt::RightButton)
        dir = sdDescending;
    else if (dir == sdDescending)
        dir = sdAscending;
    else if (ACol == m_sortOptions.SortCol)
        dir = sdDescending;
    else
        dir = sdAscending;
    InvalidateRow(0);
    SortByColumn(ACol);
}
