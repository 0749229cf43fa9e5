#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

// What changed in a table's texts, for a reader that keeps a copy of its own and follows
// the changes instead of copying the table: a cell (col a, row b), a whole row (a), a row
// deleted (a) or moved (a to b), both said before the rows move, the row count (from a
// to b; rows that come back are read anew), or anything at all (the columns, a sort, the
// whole content at once).
struct TableChange
{
    enum Kind
    {
        Cell,
        Row,
        RowDeleted,
        RowMoved,
        RowCount,
        All
    };
    Kind kind = All;
    int a = -1;
    int b = -1;
};

// A protocol table as its rules, the files and the observers (journal, recovery file,
// live results) see it: texts in rows and columns, row 0 the titles, and a current row.
// The window's grids are such tables through an adapter; a plain table is another, for
// code and tests that need no widget. Every change is told through changed().
class ITable : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int rowCount() const = 0;
    // At least the title row.
    virtual void setRowCount(int rows) = 0;
    virtual int colCount() const = 0;
    virtual void setColCount(int cols) = 0;

    // Empty outside the table.
    virtual QString cell(int col, int row) const = 0;
    virtual void setCell(int col, int row, const QString &text) = 0;
    // Exactly colCount cells.
    virtual QStringList rowCells(int row) const = 0;
    // Missing cells are written empty, extra ones dropped.
    virtual void setRowCells(int row, const QStringList &cells) = 0;
    virtual void clearRow(int row) = 0;
    virtual void clearCol(int col) = 0;

    // A new empty data row before row; asked for at the last data row or past it, the new
    // row goes to the end. It becomes current.
    virtual void insertRow(int row) = 0;
    // A data row leaves (the title row never); the only data row is emptied instead, so
    // that a table always has one.
    virtual void deleteRow(int row) = 0;
    // The first data row whose cell in col is exactly text; -1 for none.
    virtual int findInColumn(int col, const QString &text) const = 0;
    // Data rows by the texts of a column, ascending, letters of either case alike; rows of
    // equal texts keep their order.
    virtual void sortByColumn(int col) = 0;

    virtual int currentRow() const = 0;
    virtual void setCurrentRow(int row) = 0;

    // Changes whenever a text, the size or the order of rows or columns changes.
    virtual quint64 revision() const = 0;

    // Several changes that belong together: a table that shows itself draws and moves its
    // current cell once, at the end.
    virtual void beginUpdate() {}
    virtual void endUpdate() {}

    // Takes rows (each of colCount cells) as the whole content at once, without a cell
    // copied, and gives back the rows held before. Nothing when it cannot; rows are then
    // untouched and the table is as it was.
    virtual std::optional<std::vector<QStringList>> takeRows(std::vector<QStringList> &rows) = 0;

    // Text widths a table that shows itself keeps for the columns it fits to their texts,
    // measured on a reader's thread for rows about to be taken whole: a million rows then
    // cost the UI thread only the swap. Each measure runs on that thread and gives the
    // width of each data row's cell by row (row 0 unused); false when stop was set.
    struct ColumnMeasure
    {
        int col = 0;
        std::function<bool(const std::vector<QStringList> &rows, const std::atomic_bool &stop,
                           std::vector<int> &widths)>
            measure;
    };
    virtual std::vector<ColumnMeasure> columnMeasures() const { return {}; }
    // The widths measured for the rows just taken.
    virtual void adoptColumnWidths(int col, std::vector<int> widths)
    {
        Q_UNUSED(col);
        Q_UNUSED(widths);
    }

signals:
    void changed(const TableChange &change);
};
