#pragma once

#include "formats/TableData.h"
#include "timing/Chronometer.h"
#include "widgets/SortGrid.h"

#include <QObject>
#include <QSet>

#include <functional>

class QAbstractButton;
class TGridTable;
class TProtocolTables;
class ITable;

// Both protocol tables as the window shows them: the two grids, set up and drawn as the
// window wants them, the buttons that follow them, the "Nr." cell's editor and keys, and
// the marks of entries taken while a number is typed. The commands themselves are the
// table rules (TProtocolTables); this piece moves the selection, the editor, the buttons
// and the scroll position around them.
class TProtocolView : public QObject, public ICaptureOutput
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

    TProtocolView(TSortGrid &pred, TSortGrid &results, const Buttons &buttons,
                  QObject *parent = nullptr);
    ~TProtocolView() override;

    // The rules and the grids as the tables they work on.
    TProtocolTables &tables() const { return *m_tables; }
    ITable &predTable() const;
    ITable &resultsTable() const;

    // Asks "Ergebnisse entfernen?"; true for yes.
    std::function<bool()> confirmClear;
    // Buttons that stay disabled whatever the tables say (while a file command runs).
    std::function<bool(QAbstractButton *)> heldDisabled;

    // A taken time as a new entry, shown as the window shows it.
    void AppendCapture(const QString &timeText) override;
    void LayoutColumns();
    void UpdateFileButtons();
    // Every button's state anew from the tables (after a file command has ended).
    void refreshButtons();
    // The time columns as the tables now count them, laid out.
    void ApplyTimeColumnCount();
    // Run reset of the chronometer.
    void runReset();
    // Puts both tables back as they were (after a crash), the last entry selected.
    void restore(const TableData &pred, const TableData &results);
    // A file has been loaded into the results protocol: its current row is selected whole,
    // the columns laid out and the file buttons follow.
    void resultsLoaded();

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

    // The operator has begun typing a start number and not confirmed it yet (Enter, a click
    // elsewhere, a move): a new entry must not take the cell from under the typing.
    bool typingNumber() const;
    // An entry appended while a number was being typed, not selected since.
    bool markedNew(int row) const;

    // Sets up both grids as the main window shows them.
    static void configurePred(TSortGrid &g);
    static void configureResults(TSortGrid &g, int n);
    // The columns of the results protocol that LayoutColumns fits to their texts.
    static constexpr int FittedResultColumns[] = {0, 1};

signals:
    // A note for the status bar.
    void status(const QString &text);
    // "Neu / Löschen" has emptied the tables: the chronometer goes back to idle.
    void resetRequested();

protected:
    // Clicks into the intermediate protocol (its cells and its open editor).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updatePredButtons(int ARow, bool withDel);
    // Identifies an entry while rows move: its running number and its time.
    QString entryKey(int row) const;
    void setEnabled(QAbstractButton *b, bool on);
    bool enabled(QAbstractButton *b) const;
    void selectRow(TSortGrid &g, int row);

    TSortGrid &m_pred;
    TSortGrid &m_results;
    TGridTable *m_predTable;
    TGridTable *m_resultsTable;
    TProtocolTables *m_tables;
    Buttons m_buttons;
    // Digits or Backspace went into the "Nr." editor since the cell was selected.
    bool m_typing = false;
    // The "Nr." cell was just selected (click, arrow key, Enter): a digit replaces it.
    bool m_freshCell = false;
    // Enter on the last entry confirmed its number: digits wait for the next time.
    bool m_confirmedLast = false;
    QSet<QString> m_newEntries;
};
