#pragma once

#include "formats/TableData.h"
#include "protocol/Recovery.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <mutex>
#include <vector>

// What changed in one protocol table between two writes of the recovery file, in the
// order it happened: rows set to their texts, deleted, moved, the row count, or the whole
// table. Plain values: made on the UI thread, applied on the recovery thread.
struct TableChanges
{
    struct Op
    {
        enum Kind
        {
            SetRow,    // row a holds cells
            DeleteRow, // row a leaves, the later ones move up
            MoveRow,   // row a moves to b
            Resize     // the table has a rows (new ones empty until set)
        };
        Kind kind = SetRow;
        int a = 0;
        int b = 0;
        QStringList cells;
    };
    // The whole table anew (columns changed, rows sorted); then ops is empty.
    bool whole = false;
    TableData table;
    int colCount = 0;
    std::vector<Op> ops;

    bool empty() const { return !whole && ops.empty(); }
};

// The recovery file's contents, kept up to date by the changes instead of by copies of
// the tables: both protocols as the lines they are written as. The UI thread hands in
// changes (cheap, under a short lock); the recovery thread applies what has come and
// makes the file from the kept lines, so a write costs the same whatever has changed.
class TRecoveryMirror
{
public:
    struct Header
    {
        bool saved = false;
        QDateTime written;
        RecoveryFormat::Run run;
    };

    // UI thread: the changes of both tables since the last hand-over.
    void hand(TableChanges results, TableChanges pred);
    // Recovery thread: applies what was handed in and gives the whole file.
    QByteArray file(const Header &header);

private:
    struct Table
    {
        int colCount = 0;
        std::vector<QByteArray> lines; // each with its line end
    };
    static void apply(Table &t, TableChanges &&c);
    static QByteArray line(const QStringList &cells, int colCount);

    std::mutex m_mutex;
    std::vector<TableChanges> m_results, m_pred;
    // The recovery thread's own.
    Table m_resultsTable, m_predTable;
};
