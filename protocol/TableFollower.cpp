#include "protocol/GridChanges.h"

TGridChanges::TGridChanges(TMyStringGrid &grid) : m_grid(grid)
{
    connect(&grid, &TMyStringGrid::contentChange, this, &TGridChanges::note);
}

TableChanges TGridChanges::take()
{
    TableChanges out;
    if (m_whole) {
        out.whole = true;
        out.table.colCount = m_grid.ColCount();
        out.table.rows.reserve(size_t(m_grid.RowCount()));
        for (int r = 0; r < m_grid.RowCount(); ++r)
            out.table.rows.push_back(m_grid.Rows(r));
        m_whole = false;
    } else {
        settle();
        out.ops.swap(m_ops);
    }
    m_dirty.clear();
    return out;
}

void TGridChanges::note(const TMyStringGrid::TContentChange &c)
{
    if (m_whole)
        return;
    using C = TMyStringGrid::TContentChange;
    switch (c.kind) {
    case C::Cell:
        if (c.b >= 0 && c.b < m_grid.RowCount())
            m_dirty.insert(c.b);
        break;
    case C::Row:
        if (c.a >= 0 && c.a < m_grid.RowCount())
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

void TGridChanges::settle()
{
    for (int r : m_dirty)
        if (r < m_grid.RowCount())
            m_ops.push_back({TableChanges::Op::SetRow, r, 0, m_grid.Rows(r)});
    m_dirty.clear();
}
