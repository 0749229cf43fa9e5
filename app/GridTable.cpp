#include "app/GridTable.h"

#include "widgets/SortGrid.h"

#include <QFontMetrics>
#include <QMetaMethod>

namespace {
const QMetaMethod &changedSignal()
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&ITable::changed);
    return signal;
}
} // namespace

TGridTable::TGridTable(TSortGrid &grid, std::vector<int> fitted, QObject *parent)
    : ITable(parent), m_grid(grid), m_fitted(std::move(fitted))
{}

void TGridTable::connectNotify(const QMetaMethod &signal)
{
    if (signal != changedSignal() || m_following)
        return;
    m_following = connect(&m_grid, &TMyStringGrid::contentChange, this,
                          [this](const TMyStringGrid::TContentChange &c) {
                              emit changed({TableChange::Kind(c.kind), c.a, c.b});
                          });
}

void TGridTable::disconnectNotify(const QMetaMethod &signal)
{
    // An invalid signal: everything was disconnected at once.
    if ((signal.isValid() && signal != changedSignal()) || !m_following ||
        isSignalConnected(changedSignal()))
        return;
    disconnect(m_following);
    m_following = {};
}

// The kinds are told one to one.
static_assert(int(TableChange::Cell) == int(TMyStringGrid::TContentChange::Cell) &&
              int(TableChange::Row) == int(TMyStringGrid::TContentChange::Row) &&
              int(TableChange::RowDeleted) == int(TMyStringGrid::TContentChange::RowDeleted) &&
              int(TableChange::RowMoved) == int(TMyStringGrid::TContentChange::RowMoved) &&
              int(TableChange::RowCount) == int(TMyStringGrid::TContentChange::RowCount) &&
              int(TableChange::All) == int(TMyStringGrid::TContentChange::All));

int TGridTable::rowCount() const
{
    return m_grid.RowCount();
}

void TGridTable::setRowCount(int rows)
{
    m_grid.setRowCount(rows);
}

int TGridTable::colCount() const
{
    return m_grid.ColCount();
}

void TGridTable::setColCount(int cols)
{
    m_grid.setColCount(cols);
}

QString TGridTable::cell(int col, int row) const
{
    return m_grid.Cells(col, row);
}

void TGridTable::setCell(int col, int row, const QString &text)
{
    m_grid.setCells(col, row, text);
}

QStringList TGridTable::rowCells(int row) const
{
    return m_grid.Rows(row);
}

void TGridTable::setRowCells(int row, const QStringList &cells)
{
    m_grid.setRows(row, cells);
}

void TGridTable::clearRow(int row)
{
    m_grid.clearRow(row);
}

void TGridTable::clearCol(int col)
{
    m_grid.clearCol(col);
}

void TGridTable::insertRow(int row)
{
    m_grid.InsertRow(row);
}

void TGridTable::deleteRow(int row)
{
    m_grid.DeleteRow(row);
}

int TGridTable::findInColumn(int col, const QString &text) const
{
    return m_grid.FindInColumn(col, text, false);
}

void TGridTable::sortByColumn(int col)
{
    // The protocol grids sort only when asked to, in the style they were set up with.
    TSortOptions &o = m_grid.SortOptions();
    const bool could = o.CanSort;
    o.CanSort = true;
    m_grid.SortByColumn(col);
    o.CanSort = could;
}

int TGridTable::currentRow() const
{
    return m_grid.Row();
}

void TGridTable::setCurrentRow(int row)
{
    m_grid.setRow(row);
}

quint64 TGridTable::revision() const
{
    return m_grid.contentRevision();
}

void TGridTable::beginUpdate()
{
    m_grid.BeginUpdate();
}

void TGridTable::endUpdate()
{
    m_grid.EndUpdate();
}

std::optional<std::vector<QStringList>> TGridTable::takeRows(std::vector<QStringList> &rows)
{
    // Rows hidden by a filter wait beyond the row count; those go the long way.
    if (m_grid.HiddenRowCount() > 0)
        return std::nullopt;
    std::vector<QStringList> in;
    in.swap(rows);
    return m_grid.replaceRows(std::move(in));
}

std::vector<ITable::ColumnMeasure> TGridTable::columnMeasures() const
{
    // Only a grid that keeps its fitted widths can take them measured elsewhere; with
    // KeepColumnFit every data cell of a column has its column's font.
    std::vector<ColumnMeasure> out;
    if (!m_grid.KeepColumnFit())
        return out;
    for (const int col : m_fitted) {
        const QFont font = m_grid.dataFont(col);
        out.push_back({col, [col, font](const std::vector<QStringList> &rows,
                                        const std::atomic_bool &stop, std::vector<int> &widths) {
                           const QFontMetrics fm(font);
                           widths.assign(rows.size(), 0);
                           for (size_t row = 1; row < rows.size(); ++row) {
                               if ((row & 0xFFF) == 0 && stop)
                                   return false;
                               widths[row] = TSortGrid::textWidth(fm, rows[row].value(col));
                           }
                           return true;
                       }});
    }
    return out;
}

void TGridTable::adoptColumnWidths(int col, std::vector<int> widths)
{
    m_grid.adoptColumnWidths(col, std::move(widths));
}
