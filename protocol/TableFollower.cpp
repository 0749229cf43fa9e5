#include "protocol/TableFollower.h"

TTableFollower::TTableFollower(ITable &table) : m_table(table)
{
    connect(&table, &ITable::changed, this, &TTableFollower::note);
}

TableChanges TTableFollower::take()
{
    TableChanges out;
    if (m_whole) {
        out.whole = true;
        out.table.colCount = m_table.colCount();
        out.table.rows.reserve(size_t(m_table.rowCount()));
        for (int r = 0; r < m_table.rowCount(); ++r)
            out.table.rows.push_back(m_table.rowCells(r));
        m_whole = false;
    } else {
        settle();
        out.ops.swap(m_ops);
    }
    m_dirty.clear();
    return out;
}

void TTableFollower::note(const TableChange &c)
{
    if (m_whole)
        return;
    using C = TableChange;
    switch (c.kind) {
    case C::Cell:
        if (c.b >= 0 && c.b < m_table.rowCount())
            m_dirty.insert(c.b);
        break;
    case C::Row:
        if (c.a >= 0 && c.a < m_table.rowCount())
            m_dirty.insert(c.a);
        break;
    case C::RowDeleted:
        settle();
        m_ops.push_back({TableChanges::Op::DeleteRow, c.a, 0, {}});
        break;
    case C::RowMoved:
        settle();
        m_ops.push_back({TableChanges::Op::MoveRow, c.a, c.b, {}});
        break;
    case C::RowCount:
        settle();
        m_ops.push_back({TableChanges::Op::Resize, c.b, 0, {}});
        // Rows that come back hold what they held before.
        for (int r = c.a; r < c.b; ++r)
            m_dirty.insert(r);
        break;
    case C::All:
        m_whole = true;
        m_ops.clear();
        m_dirty.clear();
        break;
    }
}

void TTableFollower::settle()
{
    for (int r : m_dirty)
        if (r < m_table.rowCount())
            m_ops.push_back({TableChanges::Op::SetRow, r, 0, m_table.rowCells(r)});
    m_dirty.clear();
}
