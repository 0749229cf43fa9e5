#include "protocol/ProtocolTables.h"

#include "platform/Printers.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHash>
#include <QLineEdit>

#include <algorithm>

TProtocolTables::TProtocolTables(TSortGrid &pred, TSortGrid &results, const Buttons &buttons,
                                 QObject *parent)
    : QObject(parent), m_pred(pred), m_results(results), m_buttons(buttons)
{
    using namespace std::placeholders;
    m_pred.OnSelectCell = [this](QObject *s, int c, int r, bool &can) {
        SortGridPredSelectCell(s, c, r, can);
    };
    m_pred.OnKeyPress = [this](QObject *s, QChar &k) { SortGridPredKeyPress(s, k); };
    m_pred.OnSetEditText = [this](QObject *s, int c, int r, const QString &v) {
        SortGridPredSetEditText(s, c, r, v);
    };
    // Row insert and row delete share one handler.
    m_pred.OnRowInsert = [this](QObject *s, int r) { SortGridPredRowInsert(s, r); };
    m_pred.OnRowDelete = [this](QObject *s, int r) { SortGridPredRowInsert(s, r); };
    m_pred.OnGetCellFormat = [this](QObject *s, int c, int r, TGridDrawState st, TFormatOptions &f,
                                    bool &cb, bool &co, bool &el) {
        SortGridPredGetCellFormat(s, c, r, st, f, cb, co, el);
    };
    m_results.OnSelectCell = [this](QObject *s, int c, int r, bool &can) {
        SortGrid1SelectCell(s, c, r, can);
    };
    m_results.OnGetCellFormat = [this](QObject *s, int c, int r, TGridDrawState st,
                                       TFormatOptions &f, bool &cb, bool &co, bool &el) {
        SortGrid1GetCellFormat(s, c, r, st, f, cb, co, el);
    };
    // A click selects the "Nr." cell anew, also the current one (which opens its editor).
    m_pred.viewport()->installEventFilter(this);
    m_pred.InplaceEditor()->installEventFilter(this);
}

bool TProtocolTables::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == m_pred.viewport() || watched == m_pred.InplaceEditor())) {
        m_typing = false;
        m_freshCell = true;
        m_confirmedLast = false;
    }
    return QObject::eventFilter(watched, event);
}

QString TProtocolTables::entryKey(int row) const
{
    return m_pred.Cells(0, row) + QLatin1Char('\t') + m_pred.Cells(1, row);
}

bool TProtocolTables::typingNumber() const
{
    // A click outside the grid takes the focus from the editor: that confirms too.
    return m_typing && m_pred.EditorMode() && m_pred.Col() == 2 &&
           m_pred.InplaceEditor()->hasFocus();
}

bool TProtocolTables::markedNew(int row) const
{
    return !m_newEntries.isEmpty() && m_newEntries.contains(entryKey(row));
}

namespace {
QFont tableFont()
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(16);
    f.setBold(true);
    return f;
}

void configureCommon(TSortGrid &g)
{
    g.setFixedRows(1);
    g.setFixedCols(0);
    g.setDefaultRowHeight(22);
    g.setFont(tableFont());
    // Whole rows are selected and the focused row is drawn as selected.
    g.setOptions(TGridOptions(goFixedVertLine) | goFixedHorzLine | goVertLine | goHorzLine |
                 goDrawFocusSelected | goRowSelect);
    g.setAlignmentHorz(taRightJustify);
    g.setAlignmentVert(taTopJustify);
    g.setBevelStyle(cbNone);
    TSortOptions &o = g.SortOptions();
    o.CanSort = false; // only for one explicit sort at a time
    o.SortStyle = ssNormal;
    o.SortCaseSensitive = false;
    o.SortDirection = sdAscending;
    g.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}
} // namespace

void TProtocolTables::configurePred(TSortGrid &g)
{
    g.setColCount(3);
    g.setRowCount(2);
    configureCommon(g);
    g.SortOptions().SortCol = 1;
    g.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    g.setColWidths(0, 46);
    g.setColWidths(1, 46);
    g.setColWidths(2, 121);
}

void TProtocolTables::configureResults(TSortGrid &g, int n)
{
    g.setColCount(n + 2);
    g.setRowCount(2);
    configureCommon(g);
    g.SortOptions().SortCol = 0;
    // Its cells differ only in alignment, so the widths of the start numbers and names can
    // be kept from one fit to the next.
    g.setKeepColumnFit(true);
    g.setColor(0xDAF1EE);      // red 238, green 241, blue 218
    g.setFixedColor(0x70BA6D); // red 109, green 186, blue 112
    for (int c = 0; c < g.ColCount(); ++c)
        g.setColWidths(c, c == 5 ? 311 : 84);
}

bool TProtocolTables::isBlank(const QString &s)
{
    return TableData::isBlank(s);
}

bool TProtocolTables::rowBlank(const TSortGrid &g, int row)
{
    for (int c = 0; c < g.ColCount(); ++c)
        if (!isBlank(g.Cells(c, row)))
            return false;
    return true;
}

bool TProtocolTables::tableEmpty(const TSortGrid &g)
{
    return g.RowCount() == 2 && rowBlank(g, 1);
}

TableData TProtocolTables::snapshot(const TSortGrid &g)
{
    TableData t;
    t.colCount = g.ColCount();
    t.rows.reserve(size_t(g.RowCount()));
    for (int r = 0; r < g.RowCount(); ++r) {
        QStringList row = g.Rows(r);
        while (row.size() < t.colCount)
            row << QString();
        row = row.mid(0, t.colCount);
        t.rows.push_back(row);
    }
    return t;
}

void TProtocolTables::applyTable(TSortGrid &g, const TableData &t)
{
    g.BeginUpdate();
    const int rows = std::max(2, t.rowCount());
    // The grid keeps the texts of rows it hides; those of the old table must not come back
    // when it grows again.
    for (int r = rows; r < g.RowCount(); ++r)
        g.clearRow(r);
    g.setRowCount(rows);
    for (int r = 0; r < g.RowCount(); ++r) {
        QStringList row = r < t.rowCount() ? t.rows[size_t(r)].mid(0, g.ColCount()) : QStringList();
        while (row.size() < g.ColCount())
            row << QString();
        g.setRows(r, row);
    }
    g.EndUpdate();
}

std::optional<std::vector<QStringList>> TProtocolTables::takeTable(TSortGrid &g, TableData t)
{
    // Rows hidden by a filter wait beyond RowCount; those and rows of another width go
    // the long way.
    if (t.colCount != g.ColCount() || t.rowCount() < 2 || g.HiddenRowCount() > 0) {
        applyTable(g, t);
        return std::nullopt;
    }
    return g.replaceRows(std::move(t.rows));
}

void TProtocolTables::setEnabled(QAbstractButton *b, bool on)
{
    if (b)
        b->setEnabled(on && !(heldDisabled && heldDisabled(b)));
}

void TProtocolTables::refreshButtons()
{
    updatePredButtons(qBound(0, m_pred.Row(), m_pred.RowCount() - 1), true);
    setEnabled(m_buttons.bRestore, !isBlank(m_results.Cells(2, m_results.Row())));
    UpdateFileButtons();
}

bool TProtocolTables::enabled(QAbstractButton *b) const
{
    return b && b->isEnabled();
}

void TProtocolTables::setCountRunden(int n)
{
    m_n = qBound(1, n, 100);
}

void TProtocolTables::AppendCapture(const QString &t)
{
    const bool typing = typingNumber();
    // Seen before the row is added: was the last entry in view?
    const int lastBefore = m_pred.RowCount() - 1;
    const bool atEnd = m_pred.TopRow() + m_pred.VisibleRowCount() > lastBefore;
    // An empty list is the title row and one blank row: the first time fills row 1.
    if (!rowBlank(m_pred, 1)) {
        // A grid that grows goes back to its first row unless it is being updated; the
        // cell being typed into must keep the focus.
        if (typing)
            m_pred.BeginUpdate();
        m_pred.setRowCount(m_pred.RowCount() + 1);
        if (typing)
            m_pred.EndUpdate();
    }
    const int r = m_pred.RowCount() - 1;
    setEnabled(m_buttons.bDel, true);
    m_pred.setCells(0, r, QString::number(r));
    m_pred.setCells(1, r, t);
    m_pred.setCells(2, r, QString());
    m_confirmedLast = false;
    if (typing) {
        // The number being typed stays where it is typed; the new entry waits, marked.
        m_newEntries.insert(entryKey(r));
        LayoutColumns();
        const int top = r - qMax(1, m_pred.VisibleRowCount()) + 1;
        // Scrolled only as far as the edited cell stays in view.
        if (atEnd && top > m_pred.TopRow() && top <= m_pred.Row())
            m_pred.setTopRow(top);
        return;
    }
    m_pred.setRow(r);
    LayoutColumns();
    m_pred.setLeftCol(0);
    m_pred.setSelection(TGridRect{0, r, m_pred.ColCount() - 1, r});
}

void TProtocolTables::LayoutColumns()
{
    m_pred.setColWidths(0, 40);
    m_pred.setColWidths(2, 48);
    m_pred.setColWidths(1, m_pred.width() - m_pred.ColWidths(0) - m_pred.ColWidths(2) -
                               m_pred.ColCount() - 22);
    for (int c = 2; c <= m_n + 1 && c < m_results.ColCount(); ++c)
        m_results.setColWidths(c, 98);
    // Fitted with their minimum in one step: a width that changed and changed back would
    // still repaint the whole table after every taken time.
    m_results.setColWidths(0, qMax(m_results.FittedColWidth(0), 48));
    m_results.setColWidths(1, qMax(m_results.FittedColWidth(1), 70));
}

void TProtocolTables::UpdateFileButtons()
{
    const bool save = !rowBlank(m_results, 1);
    setEnabled(m_buttons.sbSave, save);
    setEnabled(m_buttons.sbPrint, save && Printers::count() > 0);
    setEnabled(m_buttons.sbCls, save);
    setEnabled(m_buttons.sbWeb, save);
}

void TProtocolTables::ApplyTimeColumnCount()
{
    m_results.setColCount(m_n + 2);
    for (int c = 2; c < m_results.ColCount(); ++c)
        m_results.setCells(c, 0, timeTitle(c - 1));
    LayoutColumns();
}

void TProtocolTables::runReset()
{
    LayoutColumns();
    UpdateFileButtons();
}

void TProtocolTables::restore(const TableData &pred, const TableData &results)
{
    // Times taken while the question was open (the port is open by then) stay, after the
    // restored entries.
    TableData entries = pred;
    while (entries.rowCount() > 1) {
        const QStringList &last = entries.rows.back();
        if (std::any_of(last.begin(), last.end(), [](const QString &c) { return !isBlank(c); }))
            break;
        entries.rows.pop_back();
    }
    for (int r = 1; r < m_pred.RowCount(); ++r) {
        if (rowBlank(m_pred, r))
            continue;
        QStringList row;
        for (int c = 0; c < entries.colCount; ++c)
            row << m_pred.Cells(c, r);
        row[0] = QString::number(entries.rowCount());
        entries.rows.push_back(row);
    }
    if (entries.rowCount() < 2)
        entries.rows.push_back(QStringList(entries.colCount, QString()));
    m_newEntries.clear();
    setCountRunden(results.colCount - 2);
    ApplyTimeColumnCount();
    TProtocolTables::applyTable(m_results, results);
    TProtocolTables::applyTable(m_pred, entries);
    m_results.setRow(1);
    const int last = m_pred.RowCount() - 1;
    m_pred.setRow(last);
    m_pred.setSelection(TGridRect{0, last, m_pred.ColCount() - 1, last});
    LayoutColumns();
    refreshButtons();
}

void TProtocolTables::bInsertClick()
{
    const int p = m_pred.Row();
    const QString nr = m_pred.Cells(2, p);
    if (nr.isEmpty())
        return;
    // Start numbers are compared as texts: 07 and 7 are different cars.
    int r = m_results.FindInColumn(0, nr, false);
    const int last = m_n + 1;
    if (r < 0) {
        if (tableEmpty(m_results)) {
            r = 1;
        } else {
            m_results.setRowCount(m_results.RowCount() + 1);
            r = m_results.RowCount() - 1;
            m_results.clearRow(r);
        }
        m_results.setLeftCol(0);
    }
    m_results.setCells(0, r, nr);
    if (!isBlank(m_results.Cells(last, r))) {
        // The car already has N times: show its row, leave the entry where it is.
        m_results.setRow(r);
    } else {
        int i = 2;
        while (i < last && !isBlank(m_results.Cells(i, r)))
            ++i;
        const QString time = m_pred.Cells(1, p);
        m_results.setCells(i, r, time);
        if (journal)
            journal({QStringLiteral("Einfügen"), nr, time, timeTitle(i - 1)});
        m_pred.DeleteRow(p);
        if (m_pred.RowCount() - 1 >= p)
            m_pred.setRow(p);
    }
    UpdateFileButtons();
}

void TProtocolTables::bInsertALLClick()
{
    // One pass over the entries, as Insert would take them one by one from the top: each
    // start number is found through an index of the results protocol instead of a search,
    // and the moved entries leave the list together at the end.
    const int last = m_n + 1;
    QHash<QString, int> rowOf;
    rowOf.reserve(m_results.RowCount());
    // From the bottom up, so that the first row with a number wins, as a search finds it.
    for (int r = m_results.RowCount() - 1; r >= 1; --r)
        rowOf[m_results.Cells(0, r)] = r;
    const int entries = m_pred.RowCount();
    std::vector<bool> moved(size_t(entries), false);
    bool anyMoved = false;
    for (int p = 1; p < entries; ++p) {
        const QString nr = m_pred.Cells(2, p);
        if (nr.isEmpty())
            continue;
        auto it = rowOf.constFind(nr);
        int r = it == rowOf.constEnd() ? -1 : it.value();
        if (r < 0) {
            if (tableEmpty(m_results)) {
                r = 1;
            } else {
                m_results.setRowCount(m_results.RowCount() + 1);
                r = m_results.RowCount() - 1;
                m_results.clearRow(r);
            }
            m_results.setLeftCol(0);
            rowOf.insert(nr, r);
        }
        m_results.setCells(0, r, nr);
        if (!isBlank(m_results.Cells(last, r))) {
            // The car already has N times: its row is shown, the entry stays.
            m_results.setRow(r);
            continue;
        }
        int i = 2;
        while (i < last && !isBlank(m_results.Cells(i, r)))
            ++i;
        const QString time = m_pred.Cells(1, p);
        m_results.setCells(i, r, time);
        if (journal)
            journal({QStringLiteral("Einfügen"), nr, time, timeTitle(i - 1)});
        moved[size_t(p)] = true;
        anyMoved = true;
    }
    if (anyMoved) {
        TableData kept = snapshot(m_pred);
        std::vector<QStringList> rows;
        rows.reserve(kept.rows.size());
        for (size_t p = 0; p < kept.rows.size(); ++p)
            if (!moved[p])
                rows.push_back(std::move(kept.rows[p]));
        kept.rows = std::move(rows);
        // The last entry moved leaves one empty row, as deleting it would.
        applyTable(m_pred, kept);
    }
    m_pred.setRow(1);
    m_pred.setSelection(TGridRect{0, 1, m_pred.ColCount() - 1, 1});
    if (anyMoved)
        SortGridPredRowInsert(&m_pred, 1);
    UpdateFileButtons();
}

void TProtocolTables::bRestoreClick()
{
    const int r = m_results.Row();
    int k = m_n + 1;
    while (k >= 2 && isBlank(m_results.Cells(k, r)))
        --k;
    if (k < 2)
        return;
    if (!isBlank(m_pred.Cells(0, m_pred.RowCount() - 1)))
        m_pred.setRowCount(m_pred.RowCount() + 1);
    const int q = m_pred.RowCount() - 1;
    const QString time = m_results.Cells(k, r);
    const QString nr = m_results.Cells(0, r);
    m_pred.setCells(0, q, QString::number(q));
    m_pred.setCells(1, q, time);
    m_pred.setCells(2, q, nr);
    // Time texts are zero-padded, so sorting them as text is chronological.
    m_pred.SortOptions().CanSort = true;
    m_pred.SortByColumn(1);
    m_pred.SortOptions().CanSort = false;
    m_results.setCells(k, r, QString());
    if (journal)
        journal({QStringLiteral("Zurück"), nr, time, timeTitle(k - 1)});
    setEnabled(m_buttons.bRestore, !isBlank(m_results.Cells(2, r)));
}

void TProtocolTables::bDelClick()
{
    QStringList dropped;
    for (int row = m_pred.RowCount() - 1; row >= 1; --row)
        if (isBlank(m_pred.Cells(2, row))) {
            if (!rowBlank(m_pred, row))
                dropped.prepend(m_pred.Cells(1, row));
            m_pred.DeleteRow(row);
        }
    if (journal && !dropped.isEmpty())
        journal(QStringList{QStringLiteral("Zwischenprotokoll löschen")} + dropped);
    setEnabled(m_buttons.bInsertALL, false);
}

void TProtocolTables::sbClsClick()
{
    if (!confirmClear || !confirmClear())
        return;
    if (journal)
        journal({QStringLiteral("Neu / Löschen")});
    for (int c = 2; c <= m_n + 1 && c < m_results.ColCount(); ++c) {
        m_results.clearCol(c);
        m_results.setCells(c, 0, timeTitle(c - 1));
    }
    m_results.setRowCount(2);
    m_results.clearRow(1);
    m_results.setRow(1);
    UpdateFileButtons();
    m_pred.setRowCount(2);
    m_pred.clearRow(1);
    m_newEntries.clear();
    if (forceReset)
        forceReset();
    setEnabled(m_buttons.bInsertALL, false);
    setEnabled(m_buttons.bDel, !rowBlank(m_pred, 1));
}

void TProtocolTables::updatePredButtons(int ARow, bool withDel)
{
    setEnabled(m_buttons.bInsert, !isBlank(m_pred.Cells(2, ARow)));
    bool all = enabled(m_buttons.bInsertALL);
    for (int r = 1; !all && r < m_pred.RowCount(); ++r)
        all = !isBlank(m_pred.Cells(2, r));
    setEnabled(m_buttons.bInsertALL, all);
    if (withDel)
        setEnabled(m_buttons.bDel, !rowBlank(m_pred, 1));
}

void TProtocolTables::SortGridPredSelectCell(QObject *, int ACol, int ARow, bool &CanSelect)
{
    // A move confirms what was typed; the entry moved to is no longer new.
    m_typing = false;
    m_confirmedLast = false;
    m_freshCell = ACol == 2;
    if (!m_newEntries.isEmpty() && m_newEntries.remove(entryKey(ARow)))
        m_pred.InvalidateRow(ARow);
    if (m_newEntries.size() > 0 && rowBlank(m_pred, 1))
        m_newEntries.clear();
    TGridOptions o = m_pred.Options();
    if (ACol == 2) {
        // The start number is typed into the cell editor.
        m_pred.setOptions((o | goEditing) & ~TGridOptions(goRowSelect));
    } else {
        m_pred.setOptions((o | goRowSelect) & ~TGridOptions(goEditing));
        CanSelect = false;
        m_pred.setSelection(TGridRect{0, ARow, m_pred.ColCount() - 1, ARow});
    }
    updatePredButtons(ARow, true);
}

void TProtocolTables::SortGridPredKeyPress(QObject *, QChar &Key)
{
    const ushort k = Key.unicode();
    if (k == 13) {
        m_typing = false;
        if (m_pred.Row() + 1 < m_pred.RowCount()) {
            m_pred.setRow(m_pred.Row() + 1);
            m_pred.setFocus();
            return;
        }
        // The last entry: its number is confirmed and the edit ends, so that digits typed
        // before the next pass cannot change it.
        m_confirmedLast = true;
        m_freshCell = false;
        m_pred.HideEditor();
        m_pred.setFocus();
        Key = QChar(0);
        return;
    }
    const bool digit = k >= '0' && k <= '9';
    if (k != 8 && !digit) {
        Key = QChar(0); // a start number holds digits only
        return;
    }
    if (m_pred.Col() != 2)
        return;
    if (m_confirmedLast) {
        Key = QChar(0);
        m_pred.HideEditor();
        m_pred.setFocus();
        if (showStatus)
            showStatus(QStringLiteral("Die Nr. von Eintrag %1 ist bestätigt; weitere Ziffern "
                                      "gelten erst für die nächste Zeit. Zum Ändern den "
                                      "Eintrag anklicken.")
                           .arg(m_pred.Cells(0, m_pred.Row())));
        return;
    }
    if (m_freshCell && m_pred.EditorMode()) {
        // As in a spreadsheet: the first digit replaces what the cell held, Backspace edits.
        QLineEdit *editor = m_pred.InplaceEditor();
        if (digit)
            editor->selectAll();
        else
            editor->end(false);
    }
    m_freshCell = false;
    m_typing = true;
}

void TProtocolTables::SortGridPredSetEditText(QObject *, int, int ARow, const QString &)
{
    updatePredButtons(ARow, false);
}

void TProtocolTables::SortGridPredRowInsert(QObject *, int ARow)
{
    updatePredButtons(qBound(0, ARow, m_pred.RowCount() - 1), true);
    setEnabled(m_buttons.bRestore, !isBlank(m_results.Cells(2, m_results.Row())));
}

void TProtocolTables::SortGridPredGetCellFormat(QObject *, int Col, int Row, TGridDrawState,
                                                TFormatOptions &f, bool &, bool &, bool &)
{
    if (Row == 0) {
        f.AlignmentHorz = taLeftJustify;
        f.Font.setFamily(QStringLiteral("arial"));
        f.Font.setBold(true);
    } else if (Col < 2 && markedNew(Row)) {
        // Taken while a number was typed elsewhere: it still waits for its own.
        f.Brush.Color = QColor(255, 236, 140);
        f.Font.Color = Qt::black;
    }
}

void TProtocolTables::SortGrid1SelectCell(QObject *, int, int ARow, bool &)
{
    setEnabled(m_buttons.bRestore, !isBlank(m_results.Cells(2, ARow)));
}

void TProtocolTables::SortGrid1GetCellFormat(QObject *, int Col, int Row, TGridDrawState,
                                             TFormatOptions &f, bool &, bool &, bool &)
{
    if (Row == 0)
        f.AlignmentHorz = taCenter;
    else if (Col == 1)
        f.AlignmentHorz = taLeftJustify;
}
