#include "protocol/ProtocolTables.h"

#include <QHash>
#include <QMetaMethod>

#include <algorithm>

TProtocolTables::TProtocolTables(ITable &pred, ITable &results, QObject *parent)
    : QObject(parent), m_pred(pred), m_results(results)
{}

bool TProtocolTables::journalled() const
{
    // Nothing to build for nobody: Insert all over a hundred thousand entries would make as
    // many lists.
    static const QMetaMethod signal = QMetaMethod::fromSignal(&TProtocolTables::changeMade);
    return isSignalConnected(signal);
}

bool TProtocolTables::rowBlank(const ITable &t, int row)
{
    for (int c = 0; c < t.colCount(); ++c)
        if (!TableData::isBlank(t.cell(c, row)))
            return false;
    return true;
}

bool TProtocolTables::tableEmpty(const ITable &t)
{
    return t.rowCount() == 2 && rowBlank(t, 1);
}

TableData TProtocolTables::snapshot(const ITable &t)
{
    TableData d;
    d.colCount = t.colCount();
    d.rows.reserve(size_t(t.rowCount()));
    for (int r = 0; r < t.rowCount(); ++r) {
        QStringList row = t.rowCells(r);
        while (row.size() < d.colCount)
            row << QString();
        if (row.size() > d.colCount)
            row = row.mid(0, d.colCount);
        d.rows.push_back(std::move(row));
    }
    return d;
}

void TProtocolTables::applyTable(ITable &t, const TableData &d)
{
    t.beginUpdate();
    const int rows = std::max(2, d.rowCount());
    // A grid keeps the texts of rows it hides; those of the old table must not come back
    // when it grows again.
    for (int r = rows; r < t.rowCount(); ++r)
        t.clearRow(r);
    t.setRowCount(rows);
    for (int r = 0; r < t.rowCount(); ++r) {
        QStringList row = r < d.rowCount() ? d.rows[size_t(r)].mid(0, t.colCount()) : QStringList();
        while (row.size() < t.colCount())
            row << QString();
        t.setRowCells(r, row);
    }
    t.endUpdate();
}

std::optional<std::vector<QStringList>> TProtocolTables::takeTable(ITable &t, TableData d)
{
    // Rows of another width go the long way, and so do rows a table cannot take whole.
    if (d.colCount == t.colCount() && d.rowCount() >= 2)
        if (auto old = t.takeRows(d.rows))
            return old;
    applyTable(t, d);
    return std::nullopt;
}

void TProtocolTables::setCountRunden(int n)
{
    m_n = qBound(1, n, 100);
}

void TProtocolTables::ApplyTimeColumnCount()
{
    m_results.setColCount(m_n + 2);
    for (int c = 2; c < m_results.colCount(); ++c)
        m_results.setCell(c, 0, timeTitle(c - 1));
}

int TProtocolTables::lastUsedTimeColumn() const
{
    for (int c = m_results.colCount() - 1; c >= 2; --c)
        for (int r = 1; r < m_results.rowCount(); ++r)
            if (!TableData::isBlank(m_results.cell(c, r)))
                return c - 1;
    return 0;
}

int TProtocolTables::timeColumnsKeeping(int wanted) const
{
    return std::max(qBound(1, wanted, 100), lastUsedTimeColumn());
}

int TProtocolTables::appendCapture(const QString &timeText)
{
    // An empty list is the title row and one blank row: the first time fills row 1.
    if (!rowBlank(m_pred, 1))
        m_pred.setRowCount(m_pred.rowCount() + 1);
    const int r = m_pred.rowCount() - 1;
    m_pred.setCell(0, r, QString::number(r));
    m_pred.setCell(1, r, timeText);
    m_pred.setCell(2, r, QString());
    return r;
}

int TProtocolTables::carRow(int found, bool &newCar)
{
    if (found >= 0)
        return found;
    newCar = true;
    if (tableEmpty(m_results))
        return 1;
    m_results.setRowCount(m_results.rowCount() + 1);
    const int r = m_results.rowCount() - 1;
    m_results.clearRow(r);
    return r;
}

bool TProtocolTables::placeTime(int p, int r, const QString &nr)
{
    const int last = m_n + 1;
    m_results.setCell(0, r, nr);
    if (!TableData::isBlank(m_results.cell(last, r))) {
        // The car already has N times: its row is shown, the entry stays where it is.
        m_results.setCurrentRow(r);
        return false;
    }
    int i = 2;
    while (i < last && !TableData::isBlank(m_results.cell(i, r)))
        ++i;
    const QString time = m_pred.cell(1, p);
    m_results.setCell(i, r, time);
    if (journalled())
        emit changeMade({QStringLiteral("Einfügen"), nr, time, timeTitle(i - 1)});
    return true;
}

TProtocolTables::Inserted TProtocolTables::insert()
{
    Inserted out;
    const int p = m_pred.currentRow();
    const QString nr = m_pred.cell(2, p);
    if (nr.isEmpty())
        return out;
    out.numbered = true;
    // Start numbers are compared as texts: 07 and 7 are different cars.
    const int r = carRow(m_results.findInColumn(0, nr), out.newCar);
    if (!placeTime(p, r, nr))
        return out;
    m_pred.deleteRow(p);
    if (m_pred.rowCount() - 1 >= p)
        m_pred.setCurrentRow(p);
    out.moved = true;
    return out;
}

TProtocolTables::Inserted TProtocolTables::insertAll()
{
    // One pass over the entries, as Insert would take them one by one from the top: each
    // start number is found through an index of the results protocol instead of a search,
    // and the moved entries leave the list together at the end.
    Inserted out;
    QHash<QString, int> rowOf;
    rowOf.reserve(m_results.rowCount());
    // From the bottom up, so that the first row with a number wins, as a search finds it.
    for (int r = m_results.rowCount() - 1; r >= 1; --r)
        rowOf[m_results.cell(0, r)] = r;
    const int entries = m_pred.rowCount();
    std::vector<bool> moved(size_t(entries), false);
    for (int p = 1; p < entries; ++p) {
        const QString nr = m_pred.cell(2, p);
        if (nr.isEmpty())
            continue;
        out.numbered = true;
        auto it = rowOf.constFind(nr);
        bool newCar = false;
        const int r = carRow(it == rowOf.constEnd() ? -1 : it.value(), newCar);
        if (newCar) {
            out.newCar = true;
            rowOf.insert(nr, r);
        }
        if (!placeTime(p, r, nr))
            continue;
        moved[size_t(p)] = true;
        out.moved = true;
    }
    if (out.moved) {
        TableData kept = snapshot(m_pred);
        std::vector<QStringList> rows;
        rows.reserve(kept.rows.size());
        for (size_t p = 0; p < kept.rows.size(); ++p)
            if (!moved[p])
                rows.push_back(std::move(kept.rows[p]));
        kept.rows = std::move(rows);
        // The last entry moved leaves one empty row, as deleting it would.
        applyTable(m_pred, kept);
    }
    m_pred.setCurrentRow(1);
    return out;
}

bool TProtocolTables::takeBack()
{
    const int r = m_results.currentRow();
    int k = m_n + 1;
    while (k >= 2 && TableData::isBlank(m_results.cell(k, r)))
        --k;
    if (k < 2)
        return false;
    if (!TableData::isBlank(m_pred.cell(0, m_pred.rowCount() - 1)))
        m_pred.setRowCount(m_pred.rowCount() + 1);
    const int q = m_pred.rowCount() - 1;
    const QString time = m_results.cell(k, r);
    const QString nr = m_results.cell(0, r);
    m_pred.setCell(0, q, QString::number(q));
    m_pred.setCell(1, q, time);
    m_pred.setCell(2, q, nr);
    // Time texts are zero-padded, so sorting them as text is chronological.
    m_pred.sortByColumn(1);
    m_results.setCell(k, r, QString());
    emit changeMade({QStringLiteral("Zurück"), nr, time, timeTitle(k - 1)});
    return true;
}

void TProtocolTables::dropUnnumbered()
{
    QStringList dropped;
    for (int row = m_pred.rowCount() - 1; row >= 1; --row)
        if (TableData::isBlank(m_pred.cell(2, row))) {
            if (!rowBlank(m_pred, row))
                dropped.prepend(m_pred.cell(1, row));
            m_pred.deleteRow(row);
        }
    if (!dropped.isEmpty())
        emit changeMade(QStringList{QStringLiteral("Zwischenprotokoll löschen")} + dropped);
}

void TProtocolTables::clear()
{
    emit changeMade({QStringLiteral("Neu / Löschen")});
    for (int c = 2; c <= m_n + 1 && c < m_results.colCount(); ++c) {
        m_results.clearCol(c);
        m_results.setCell(c, 0, timeTitle(c - 1));
    }
    m_results.setRowCount(2);
    m_results.clearRow(1);
    m_results.setCurrentRow(1);
    m_pred.setRowCount(2);
    m_pred.clearRow(1);
}

void TProtocolTables::restore(const TableData &pred, const TableData &results)
{
    // Times taken while the question was open (the port is open by then) stay, after the
    // restored entries.
    TableData entries = pred;
    while (entries.rowCount() > 1) {
        const QStringList &last = entries.rows.back();
        if (std::any_of(last.begin(), last.end(),
                        [](const QString &c) { return !TableData::isBlank(c); }))
            break;
        entries.rows.pop_back();
    }
    for (int r = 1; r < m_pred.rowCount(); ++r) {
        if (rowBlank(m_pred, r))
            continue;
        QStringList row;
        for (int c = 0; c < entries.colCount; ++c)
            row << m_pred.cell(c, r);
        row[0] = QString::number(entries.rowCount());
        entries.rows.push_back(row);
    }
    if (entries.rowCount() < 2)
        entries.rows.push_back(QStringList(entries.colCount, QString()));
    setCountRunden(results.colCount - 2);
    ApplyTimeColumnCount();
    applyTable(m_results, results);
    applyTable(m_pred, entries);
    m_results.setCurrentRow(1);
    m_pred.setCurrentRow(m_pred.rowCount() - 1);
}

#include "moc_ProtocolTables.cpp"
