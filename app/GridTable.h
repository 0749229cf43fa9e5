#pragma once

#include "protocol/Table.h"

#include <vector>

class TSortGrid;

// A grid of the window as a protocol table: what the rules, the files and the observers do
// to the table is done to the grid, with its events (select, row insert and delete) as a
// user's edit would raise them, and the grid's change notices are the table's.
class TGridTable : public ITable
{
    Q_OBJECT
public:
    // fitted: the columns the window fits to their texts; their widths are measured on a
    // reader's thread for a table that is taken whole.
    explicit TGridTable(TSortGrid &grid, std::vector<int> fitted = {}, QObject *parent = nullptr);

    TSortGrid &grid() const { return m_grid; }

    int rowCount() const override;
    void setRowCount(int rows) override;
    int colCount() const override;
    void setColCount(int cols) override;

    QString cell(int col, int row) const override;
    void setCell(int col, int row, const QString &text) override;
    QStringList rowCells(int row) const override;
    void setRowCells(int row, const QStringList &cells) override;
    void clearRow(int row) override;
    void clearCol(int col) override;

    void insertRow(int row) override;
    void deleteRow(int row) override;
    int findInColumn(int col, const QString &text) const override;
    void sortByColumn(int col) override;

    int currentRow() const override;
    void setCurrentRow(int row) override;

    quint64 revision() const override;

    void beginUpdate() override;
    void endUpdate() override;

    std::optional<std::vector<QStringList>> takeRows(std::vector<QStringList> &rows) override;

    std::vector<ColumnMeasure> columnMeasures() const override;
    void adoptColumnWidths(int col, std::vector<int> widths) override;

protected:
    // The grid's notices are followed only while someone follows the table's: a change
    // nobody reads then costs the grid nothing more than before.
    void connectNotify(const QMetaMethod &signal) override;
    void disconnectNotify(const QMetaMethod &signal) override;

private:
    TSortGrid &m_grid;
    std::vector<int> m_fitted;
    QMetaObject::Connection m_following;
};
