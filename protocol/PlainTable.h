#pragma once

#include "formats/TableData.h"
#include "protocol/Table.h"

// A protocol table of plain values, for code and tests that need no widget. Rows past the
// row count are gone: a table that grows again gets empty rows.
class TPlainTable : public ITable
{
    Q_OBJECT
public:
    explicit TPlainTable(int colCount = 0, int rowCount = 2, QObject *parent = nullptr);
    // The rows of t (at least the title row), each cut or filled to its column count.
    explicit TPlainTable(const TableData &t, QObject *parent = nullptr);

    int rowCount() const override { return int(m_rows.size()); }
    void setRowCount(int rows) override;
    int colCount() const override { return m_colCount; }
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

    int currentRow() const override { return m_current; }
    void setCurrentRow(int row) override;

    quint64 revision() const override { return m_revision; }

    std::optional<std::vector<QStringList>> takeRows(std::vector<QStringList> &rows) override;

private:
    void tell(const TableChange &c);
    QStringList emptyRow() const { return QStringList(m_colCount, QString()); }
    void clampCurrent();

    int m_colCount = 0;
    std::vector<QStringList> m_rows;
    int m_current = 1;
    quint64 m_revision = 0;
};
