#pragma once

#include "formats/TableData.h"
#include "timing/Chronometer.h"
#include "widgets/SortGrid.h"

#include <QObject>
#include <QSet>

#include <functional>
#include <optional>

class QAbstractButton;

// The intermediate protocol (taken times, numbered by the operator) and the results
// protocol (one row per car with up to N times), and the commands that move times
// between them.
class TProtocolTables : public QObject, public ICaptureOutput
{
    Q_OBJECT
public:
    struct Buttons
    {
        QAbstractButton *bInsertALL = nullptr;
        QAbstractButton *bInsert = nullptr;
        QAbstractButton *bRestore = nullptr;
        QAbstractButton *bDel = nullptr;
        QAbstractButton *sbSave = nullptr;
        QAbstractButton *sbPrint = nullptr;
        QAbstractButton *sbWeb = nullptr;
        QAbstractButton *sbCls = nullptr;
    };

    TProtocolTables(TSortGrid &pred, TSortGrid &results, const Buttons &buttons,
                    QObject *parent = nullptr);

    // Asks "Ergebnisse entfernen?"; true for yes.
    std::function<bool()> confirmClear;
    // Returns the chronometer to idle (stop flag 1, then STOPP/RESET).
    std::function<void()> forceReset;
    // Buttons that stay disabled whatever the tables say (while a file command runs).
    std::function<bool(QAbstractButton *)> heldDisabled;
    // Every change a command makes, for the journal: what it was and its details (start
    // number, time text, time column), enough to rebuild the protocol from the journal.
    std::function<void(const QStringList &event)> journal;
    // A note in the status bar.
    std::function<void(const QString &)> showStatus;

    // The number of time columns N (1..100).
    int CountRunden() const { return m_n; }
    void setCountRunden(int n);

    void AppendCapture(const QString &timeText) override;
    void LayoutColumns();
    void UpdateFileButtons();
    // Every button's state anew from the tables (after a file command has ended).
    void refreshButtons();
    void ApplyTimeColumnCount();
    // Run reset of the chronometer.
    void runReset();
    // Puts both tables back as they were (after a crash): the results protocol takes the
    // column count it had.
    void restore(const TableData &pred, const TableData &results);

    // Commands.
    void bInsertClick();
    void bInsertALLClick();
    void bRestoreClick();
    void bDelClick();
    void sbClsClick();

    // Events of the intermediate protocol.
    void SortGridPredSelectCell(QObject *Sender, int ACol, int ARow, bool &CanSelect);
    void SortGridPredKeyPress(QObject *Sender, QChar &Key);
    void SortGridPredSetEditText(QObject *Sender, int ACol, int ARow, const QString &Value);
    void SortGridPredRowInsert(QObject *Sender, int ARow);
    void SortGridPredGetCellFormat(QObject *Sender, int Col, int Row, TGridDrawState State,
                                   TFormatOptions &FormatOptions, bool &CheckBox, bool &Combobox,
                                   bool &Ellipsis);
    // Events of the results protocol.
    void SortGrid1SelectCell(QObject *Sender, int ACol, int ARow, bool &CanSelect);
    void SortGrid1GetCellFormat(QObject *Sender, int Col, int Row, TGridDrawState State,
                                TFormatOptions &FormatOptions, bool &CheckBox, bool &Combobox,
                                bool &Ellipsis);

    // Nothing left once characters 0 to 32 are stripped from both ends.
    static bool isBlank(const QString &s);
    static bool rowBlank(const TSortGrid &g, int row);
    // Title row, one blank data row.
    static bool tableEmpty(const TSortGrid &g);
    static QString timeTitle(int k) { return QStringLiteral("Zeit ") + QString::number(k); }
    // What the file formats and the live results get of a table: every cell of rows
    // 0..RowCount-1 and columns 0..ColCount-1.
    static TableData snapshot(const TSortGrid &g);
    // What a file format read takes the place of the grid's rows (at least two), the rows
    // it had beyond them emptied; the column count stays the grid's (extra cells are
    // dropped, missing ones empty).
    static void applyTable(TSortGrid &g, const TableData &t);
    // The same, but the rows are taken over rather than copied cell by cell (a loaded file
    // of a million rows goes in at once). Returns the rows the grid held before, for the
    // caller to let go of where it costs the window nothing; nothing when the table did
    // not fit the grid's columns and was copied the long way.
    static std::optional<std::vector<QStringList>> takeTable(TSortGrid &g, TableData t);
    // The columns of the results protocol that LayoutColumns fits to their texts.
    static constexpr int FittedResultColumns[] = {0, 1};

    // The operator has begun typing a start number and not confirmed it yet (Enter, a click
    // elsewhere, a move): a new entry must not take the cell from under the typing.
    bool typingNumber() const;
    // An entry appended while a number was being typed, not selected since.
    bool markedNew(int row) const;

    // Sets up both grids as the main window shows them.
    static void configurePred(TSortGrid &g);
    static void configureResults(TSortGrid &g, int n);

protected:
    // Clicks into the intermediate protocol (its cells and its open editor).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updatePredButtons(int ARow, bool withDel);
    // Identifies an entry while rows move: its running number and its time.
    QString entryKey(int row) const;
    void setEnabled(QAbstractButton *b, bool on);
    bool enabled(QAbstractButton *b) const;

    TSortGrid &m_pred;
    TSortGrid &m_results;
    Buttons m_buttons;
    int m_n = 4;
    // Digits or Backspace went into the "Nr." editor since the cell was selected.
    bool m_typing = false;
    // The "Nr." cell was just selected (click, arrow key, Enter): a digit replaces it.
    bool m_freshCell = false;
    // Enter on the last entry confirmed its number: digits wait for the next time.
    bool m_confirmedLast = false;
    QSet<QString> m_newEntries;
};
