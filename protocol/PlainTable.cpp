#include "protocol/PlainTable.h"

#include <algorithm>

namespace {
// Letters A to Z as a to z, nothing else: the order the window's grids sort texts in.
QString asciiLower(const QString &s)
{
    QString out = s;
    for (QChar &ch : out)
        if (ch.unicode() >= 'A' && ch.unicode() <= 'Z')
            ch = QChar(ch.unicode() + ('a' - 'A'));
    return out;
}
} // namespace

TPlainTable::TPlainTable(int colCount, int rowCount, QObject *parent)
    : ITable(parent), m_colCount(std::max(colCount, 0))
{
    m_rows.assign(size_t(std::max(rowCount, 1)), emptyRow());
    clampCurrent();
}

TPlainTable::TPlainTable(const TableData &t, QObject *parent)
    : ITable(parent), m_colCount(std::max(t.colCount, 0))
{
    m_rows.reserve(std::max<size_t>(t.rows.size(), 1));
    for (const QStringList &row : t.rows) {
        QStringList cells = row.mid(0, m_colCount);
        while (cells.size() < m_colCount)
            cells << QString();
        m_rows.push_back(std::move(cells));
    }
    if (m_rows.empty())
        m_rows.push_back(emptyRow());
    clampCurrent();
}

void TPlainTable::tell(const TableChange &c)
{
    ++m_revision;
    emit changed(c);
}

void TPlainTable::clampCurrent()
{
    const int last = rowCount() - 1;
    m_current = last >= 1 ? std::clamp(m_current, 1, last) : 0;
}

void TPlainTable::setRowCount(int rows)
{
    rows = std::max(rows, 1);
    const int old = rowCount();
    if (rows == old)
        return;
    m_rows.resize(size_t(rows), emptyRow());
    clampCurrent();
    tell({TableChange::RowCount, old, rows});
}

void TPlainTable::setColCount(int cols)
{
    cols = std::max(cols, 0);
    if (cols == m_colCount)
        return;
    m_colCount = cols;
    for (QStringList &row : m_rows) {
        if (row.size() > cols)
            row.erase(row.begin() + cols, row.end());
        while (row.size() < cols)
            row << QString();
    }
    tell({TableChange::All});
}

QString TPlainTable::cell(int col, int row) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= m_colCount)
        return {};
    return m_rows[size_t(row)].at(col);
}

void TPlainTable::setCell(int col, int row, const QString &text)
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= m_colCount)
        return;
    QString &c = m_rows[size_t(row)][col];
    if (c == text)
        return;
    c = text;
    tell({TableChange::Cell, col, row});
}

QStringList TPlainTable::rowCells(int row) const
{
    if (row < 0 || row >= rowCount())
        return emptyRow();
    return m_rows[size_t(row)];
}

void TPlainTable::setRowCells(int row, const QStringList &cells)
{
    if (row < 0 || row >= rowCount())
        return;
    QStringList next = cells.mid(0, m_colCount);
    while (next.size() < m_colCount)
        next << QString();
    if (m_rows[size_t(row)] == next)
        return;
    m_rows[size_t(row)] = std::move(next);
    tell({TableChange::Row, row});
}

void TPlainTable::clearRow(int row)
{
    setRowCells(row, {});
}

void TPlainTable::clearCol(int col)
{
    for (int r = 0; r < rowCount(); ++r)
        setCell(col, r, QString());
}

void TPlainTable::insertRow(int row)
{
    const int old = rowCount();
    m_rows.push_back(emptyRow());
    tell({TableChange::RowCount, old, old + 1});
    // As a grid does it: at the last data row or past it, the new row goes to the end.
    const int at = row < old - 1 ? std::max(row, 1) : old;
    if (at < old) {
        // Said before it moves, as a grid says it.
        tell({TableChange::RowMoved, old, at});
        QStringList moved = std::move(m_rows.back());
        m_rows.pop_back();
        m_rows.insert(m_rows.begin() + at, std::move(moved));
    }
    m_current = at;
    clampCurrent();
}

void TPlainTable::deleteRow(int row)
{
    if (row < 1 || row >= rowCount())
        return;
    if (rowCount() < 3) {
        clearRow(1);
        return;
    }
    tell({TableChange::RowDeleted, row});
    m_rows.erase(m_rows.begin() + row);
    clampCurrent();
}

int TPlainTable::findInColumn(int col, const QString &text) const
{
    if (col < 0 || col >= m_colCount)
        return -1;
    for (int r = 1; r < rowCount(); ++r)
        if (m_rows[size_t(r)].at(col) == text)
            return r;
    return -1;
}

void TPlainTable::sortByColumn(int col)
{
    if (col < 0 || col >= m_colCount || rowCount() < 3)
        return;
    std::vector<std::pair<QString, QStringList>> keyed;
    keyed.reserve(m_rows.size() - 1);
    for (size_t r = 1; r < m_rows.size(); ++r)
        keyed.emplace_back(asciiLower(m_rows[r].at(col)), std::move(m_rows[r]));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &x, const auto &y) {
        return QString::compare(x.first, y.first, Qt::CaseSensitive) < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        m_rows[i + 1] = std::move(keyed[i].second);
    tell({TableChange::All});
}

void TPlainTable::setCurrentRow(int row)
{
    m_current = row;
    clampCurrent();
}

std::optional<std::vector<QStringList>> TPlainTable::takeRows(std::vector<QStringList> &rows)
{
    if (rows.empty())
        return std::nullopt;
    for (QStringList &row : rows) {
        if (row.size() > m_colCount)
            row.erase(row.begin() + m_colCount, row.end());
        while (row.size() < m_colCount)
            row << QString();
    }
    m_rows.swap(rows);
    std::vector<QStringList> old = std::move(rows);
    rows.clear();
    clampCurrent();
    tell({TableChange::All});
    return old;
}

#include "moc_PlainTable.cpp"
