#include "app/ProtocolView.h"

#include "app/GridTable.h"
#include "platform/Printers.h"
#include "protocol/ProtocolTables.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLineEdit>

TProtocolView::TProtocolView(TSortGrid &pred, TSortGrid &results, const Buttons &buttons,
                             QObject *parent)
    : QObject(parent), m_pred(pred), m_results(results),
      m_predTable(new TGridTable(pred, {}, this)),
      m_resultsTable(new TGridTable(
          results, {std::begin(FittedResultColumns), std::end(FittedResultColumns)}, this)),
      m_tables(new TProtocolTables(*m_predTable, *m_resultsTable, this)), m_buttons(buttons)
{
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

TProtocolView::~TProtocolView() = default;

ITable &TProtocolView::predTable() const
{
    return *m_predTable;
}

ITable &TProtocolView::resultsTable() const
{
    return *m_resultsTable;
}

bool TProtocolView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == m_pred.viewport() || watched == m_pred.InplaceEditor())) {
        m_typing = false;
        m_freshCell = true;
        m_confirmedLast = false;
    }
    return QObject::eventFilter(watched, event);
}

QString TProtocolView::entryKey(int row) const
{
    return m_pred.Cells(0, row) + QLatin1Char('\t') + m_pred.Cells(1, row);
}

bool TProtocolView::typingNumber() const
{
    // A click outside the grid takes the focus from the editor: that confirms too.
    return m_typing && m_pred.EditorMode() && m_pred.Col() == 2 &&
           m_pred.InplaceEditor()->hasFocus();
}

bool TProtocolView::markedNew(int row) const
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

void TProtocolView::configurePred(TSortGrid &g)
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

void TProtocolView::configureResults(TSortGrid &g, int n)
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

void TProtocolView::setEnabled(QAbstractButton *b, bool on)
{
    if (b)
        b->setEnabled(on && !(heldDisabled && heldDisabled(b)));
}

bool TProtocolView::enabled(QAbstractButton *b) const
{
    return b && b->isEnabled();
}

void TProtocolView::selectRow(TSortGrid &g, int row)
{
    g.setSelection(TGridRect{0, row, g.ColCount() - 1, row});
}

void TProtocolView::refreshButtons()
{
    updatePredButtons(qBound(0, m_pred.Row(), m_pred.RowCount() - 1), true);
    setEnabled(m_buttons.bRestore, !TableData::isBlank(m_results.Cells(2, m_results.Row())));
    UpdateFileButtons();
}

void TProtocolView::AppendCapture(const QString &t)
{
    const bool typing = typingNumber();
    // Seen before the row is added: was the last entry in view?
    const int lastBefore = m_pred.RowCount() - 1;
    const bool atEnd = m_pred.TopRow() + m_pred.VisibleRowCount() > lastBefore;
    // A grid that grows goes back to its first row unless it is being updated; the cell
    // being typed into must keep the focus.
    if (typing)
        m_pred.BeginUpdate();
    const int r = m_tables->appendCapture(t);
    if (typing)
        m_pred.EndUpdate();
    setEnabled(m_buttons.bDel, true);
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
    selectRow(m_pred, r);
}

void TProtocolView::LayoutColumns()
{
    m_pred.setColWidths(0, 40);
    m_pred.setColWidths(2, 48);
    m_pred.setColWidths(1, m_pred.width() - m_pred.ColWidths(0) - m_pred.ColWidths(2) -
                               m_pred.ColCount() - 22);
    for (int c = 2; c <= m_tables->CountRunden() + 1 && c < m_results.ColCount(); ++c)
        m_results.setColWidths(c, 98);
    // Fitted with their minimum in one step: a width that changed and changed back would
    // still repaint the whole table after every taken time.
    m_results.setColWidths(0, qMax(m_results.FittedColWidth(0), 48));
    m_results.setColWidths(1, qMax(m_results.FittedColWidth(1), 70));
}

void TProtocolView::UpdateFileButtons()
{
    const bool save = !TProtocolTables::rowBlank(*m_resultsTable, 1);
    setEnabled(m_buttons.sbSave, save);
    setEnabled(m_buttons.sbPrint, save && Printers::count() > 0);
    setEnabled(m_buttons.sbCls, save);
    setEnabled(m_buttons.sbWeb, save);
}

void TProtocolView::ApplyTimeColumnCount()
{
    m_tables->ApplyTimeColumnCount();
    LayoutColumns();
}

void TProtocolView::runReset()
{
    LayoutColumns();
    UpdateFileButtons();
}

void TProtocolView::restore(const TableData &pred, const TableData &results)
{
    m_newEntries.clear();
    m_tables->restore(pred, results);
    selectRow(m_pred, m_pred.RowCount() - 1);
    LayoutColumns();
    refreshButtons();
}

void TProtocolView::resultsLoaded()
{
    selectRow(m_results, m_results.Row());
    LayoutColumns();
    UpdateFileButtons();
}

void TProtocolView::bInsertClick()
{
    const TProtocolTables::Inserted done = m_tables->insert();
    if (!done.numbered)
        return;
    if (done.newCar)
        m_results.setLeftCol(0);
    UpdateFileButtons();
}

void TProtocolView::bInsertALLClick()
{
    const TProtocolTables::Inserted done = m_tables->insertAll();
    if (done.newCar)
        m_results.setLeftCol(0);
    selectRow(m_pred, 1);
    if (done.moved)
        SortGridPredRowInsert(&m_pred, 1);
    UpdateFileButtons();
}

void TProtocolView::bRestoreClick()
{
    if (!m_tables->takeBack())
        return;
    setEnabled(m_buttons.bRestore, !TableData::isBlank(m_results.Cells(2, m_results.Row())));
}

void TProtocolView::bDelClick()
{
    m_tables->dropUnnumbered();
    setEnabled(m_buttons.bInsertALL, false);
}

void TProtocolView::sbClsClick()
{
    if (!confirmClear || !confirmClear())
        return;
    m_tables->clear();
    UpdateFileButtons();
    m_newEntries.clear();
    emit resetRequested();
    setEnabled(m_buttons.bInsertALL, false);
    setEnabled(m_buttons.bDel, !TProtocolTables::rowBlank(*m_predTable, 1));
}

void TProtocolView::updatePredButtons(int ARow, bool withDel)
{
    setEnabled(m_buttons.bInsert, !TableData::isBlank(m_pred.Cells(2, ARow)));
    bool all = enabled(m_buttons.bInsertALL);
    for (int r = 1; !all && r < m_pred.RowCount(); ++r)
        all = !TableData::isBlank(m_pred.Cells(2, r));
    setEnabled(m_buttons.bInsertALL, all);
    if (withDel)
        setEnabled(m_buttons.bDel, !TProtocolTables::rowBlank(*m_predTable, 1));
}

void TProtocolView::SortGridPredSelectCell(QObject *, int ACol, int ARow, bool &CanSelect)
{
    // A move confirms what was typed; the entry moved to is no longer new.
    m_typing = false;
    m_confirmedLast = false;
    m_freshCell = ACol == 2;
    if (!m_newEntries.isEmpty() && m_newEntries.remove(entryKey(ARow)))
        m_pred.InvalidateRow(ARow);
    if (m_newEntries.size() > 0 && TProtocolTables::rowBlank(*m_predTable, 1))
        m_newEntries.clear();
    TGridOptions o = m_pred.Options();
    if (ACol == 2) {
        // The start number is typed into the cell editor.
        m_pred.setOptions((o | goEditing) & ~TGridOptions(goRowSelect));
    } else {
        m_pred.setOptions((o | goRowSelect) & ~TGridOptions(goEditing));
        CanSelect = false;
        selectRow(m_pred, ARow);
    }
    updatePredButtons(ARow, true);
}

void TProtocolView::SortGridPredKeyPress(QObject *, QChar &Key)
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
        emit status(QStringLiteral("Die Nr. von Eintrag %1 ist bestätigt; weitere Ziffern "
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

void TProtocolView::SortGridPredSetEditText(QObject *, int, int ARow, const QString &)
{
    updatePredButtons(ARow, false);
}

void TProtocolView::SortGridPredRowInsert(QObject *, int ARow)
{
    updatePredButtons(qBound(0, ARow, m_pred.RowCount() - 1), true);
    setEnabled(m_buttons.bRestore, !TableData::isBlank(m_results.Cells(2, m_results.Row())));
}

void TProtocolView::SortGridPredGetCellFormat(QObject *, int Col, int Row, TGridDrawState,
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

void TProtocolView::SortGrid1SelectCell(QObject *, int, int ARow, bool &)
{
    setEnabled(m_buttons.bRestore, !TableData::isBlank(m_results.Cells(2, ARow)));
}

void TProtocolView::SortGrid1GetCellFormat(QObject *, int Col, int Row, TGridDrawState,
                                           TFormatOptions &f, bool &, bool &, bool &)
{
    if (Row == 0)
        f.AlignmentHorz = taCenter;
    else if (Col == 1)
        f.AlignmentHorz = taLeftJustify;
}
