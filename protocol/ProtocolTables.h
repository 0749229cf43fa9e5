#pragma once

#include "formats/TableData.h"
#include "protocol/Table.h"

#include <QObject>
#include <QStringList>

#include <optional>
#include <vector>

// The intermediate protocol (taken times, numbered by the operator) and the results
// protocol (one row per car with up to N times), and the rules that move times between
// them. The tables may be of any kind: what a window adds when it shows them (selection,
// editor, buttons, scrolling) is done by the window's own piece around these rules.
class TProtocolTables : public QObject
{
    Q_OBJECT
public:
    TProtocolTables(ITable &pred, ITable &results, QObject *parent = nullptr);

    ITable &pred() const { return m_pred; }
    ITable &results() const { return m_results; }

    // The number of time columns N (1..100).
    int CountRunden() const { return m_n; }
    void setCountRunden(int n);
    // The results protocol gets N time columns, titled "Zeit 1" to "Zeit N".
    void ApplyTimeColumnCount();
    // The last time column (1..) of the results protocol that holds a time; 0 if none.
    int lastUsedTimeColumn() const;
    // How many time columns a setting of wanted (bounded to 1..100) leaves: fewer columns
    // must not drop times, so the columns that hold one stay.
    int timeColumnsKeeping(int wanted) const;

    // A taken time as the next entry, unnumbered; the first fills the empty row 1.
    // Returns its row.
    int appendCapture(const QString &timeText);

    struct Inserted
    {
        // An entry with a number was there to insert.
        bool numbered = false;
        // A row for a start number not yet in the results protocol was added.
        bool newCar = false;
        // At least one entry moved into the results protocol.
        bool moved = false;
    };
    // "Einfügen": the current entry goes into its car's row (a new row for a new start
    // number) as the car's first empty time; a car with N times keeps it and its row
    // becomes current.
    Inserted insert();
    // "Alle Einfügen": every numbered entry, from the top, as Insert would take them one by
    // one; the first entry is current afterwards.
    Inserted insertAll();
    // "Zurück": the last time of the current car goes back into the intermediate protocol
    // with its number, which is then sorted by time. False when the car has no time.
    bool takeBack();
    // "Zwischenprotokoll löschen": every entry without a number goes.
    void dropUnnumbered();
    // "Neu / Löschen" once confirmed: both protocols empty, their titles kept.
    void clear();
    // Puts both tables back as they were (after a crash): the results protocol takes the
    // column count it had; entries already taken meanwhile follow the restored ones.
    void restore(const TableData &pred, const TableData &results);

    static bool rowBlank(const ITable &t, int row);
    // Title row, one blank data row.
    static bool tableEmpty(const ITable &t);
    static QString timeTitle(int k) { return QStringLiteral("Zeit ") + QString::number(k); }
    // What the file formats and the live results get of a table: every cell of rows
    // 0..rowCount-1 and columns 0..colCount-1.
    static TableData snapshot(const ITable &t);
    // What a file format read takes the place of the table's rows (at least two); the
    // column count stays the table's (extra cells are dropped, missing ones empty).
    static void applyTable(ITable &t, const TableData &d);
    // The same, but the rows are taken over rather than copied cell by cell (a loaded file
    // of a million rows goes in at once). Returns the rows the table held before, for the
    // caller to let go of where it costs the window nothing; nothing when the table did
    // not fit the columns and was copied the long way.
    static std::optional<std::vector<QStringList>> takeTable(ITable &t, TableData d);

signals:
    // Every change a command makes, for the journal: what it was and its details (start
    // number, time text, time column), enough to rebuild the protocol from the journal.
    void changeMade(const QStringList &event);

private:
    // Someone follows changeMade.
    bool journalled() const;
    // Where a start number goes in the results protocol: its row, or a new one (row 1 of
    // an empty protocol). newCar tells which.
    int carRow(int found, bool &newCar);
    // Puts entry p's time into the first free time column of results row r, which gets
    // the start number nr; false (and row r shown) when the car has all its times.
    bool placeTime(int p, int r, const QString &nr);

    ITable &m_pred;
    ITable &m_results;
    int m_n = 4;
};
