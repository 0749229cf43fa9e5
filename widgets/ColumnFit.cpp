#include "widgets/ColumnFit.h"

#include <algorithm>

void TColumnFit::Column::forget(int row)
{
    if (row < 1 || row >= int(width.size()) || width[size_t(row)] < 0)
        return;
    const auto it = rows.find(width[size_t(row)]);
    if (--it->second == 0)
        rows.erase(it);
    width[size_t(row)] = -1;
    dirty.push_back(row);
}

void TColumnFit::cellChanged(int col, int row)
{
    if (col < 0) {
        for (auto &[c, column] : m_cols)
            column.forget(row);
    } else if (const auto it = m_cols.find(col); it != m_cols.end()) {
        it->second.forget(row);
    }
}

void TColumnFit::rowMoved(int from, int to)
{
    for (auto it = m_cols.begin(); it != m_cols.end();) {
        Column &c = it->second;
        if (std::min(from, to) < 1 || std::max(from, to) >= int(c.width.size())) {
            // Rows that were never measured, or the title row: measure the column again.
            it = m_cols.erase(it);
            continue;
        }
        const int w = c.width[size_t(from)];
        c.width.erase(c.width.begin() + from);
        c.width.insert(c.width.begin() + to, w);
        for (int &d : c.dirty) {
            if (d == from)
                d = to;
            else if (from < to && d > from && d <= to)
                --d;
            else if (to < from && d >= to && d < from)
                ++d;
        }
        ++it;
    }
}

void TColumnFit::rowDeleted(int row)
{
    for (auto it = m_cols.begin(); it != m_cols.end();) {
        Column &c = it->second;
        if (row < 1) {
            it = m_cols.erase(it);
            continue;
        }
        if (row < int(c.width.size())) {
            c.forget(row);
            c.width.erase(c.width.begin() + row);
            std::erase(c.dirty, row);
            for (int &d : c.dirty)
                if (d > row)
                    --d;
        }
        ++it;
    }
}

int TColumnFit::widest(int col, int rowCount, const std::function<int(int row)> &measure)
{
    Column &c = m_cols[col];
    const int known = int(c.width.size());
    if (known > rowCount) {
        // Rows beyond the end keep their texts but no longer count.
        for (int r = std::max(rowCount, 1); r < known; ++r)
            c.forget(r);
        std::erase_if(c.dirty, [&](int d) { return d >= rowCount; });
        c.width.resize(size_t(std::max(rowCount, 0)));
    } else {
        c.width.resize(size_t(std::max(rowCount, 0)), -1);
        for (int r = std::max(known, 1); r < rowCount; ++r)
            c.dirty.push_back(r);
    }
    for (int r : c.dirty) {
        const int w = std::max(measure(r), 0);
        c.width[size_t(r)] = w;
        ++c.rows[w];
    }
    c.dirty.clear();
    return c.rows.empty() ? 0 : c.rows.rbegin()->first;
}

void TColumnFit::adopt(int col, std::vector<int> widths)
{
    Column c;
    c.width = std::move(widths);
    if (!c.width.empty())
        c.width[0] = -1;
    // Counted through a plain array first: a million rows would otherwise mean a million
    // lookups in the map.
    std::vector<int> count;
    for (size_t r = 1; r < c.width.size(); ++r) {
        const int w = std::max(c.width[r], 0);
        c.width[r] = w;
        if (size_t(w) >= count.size())
            count.resize(size_t(w) + 1);
        ++count[size_t(w)];
    }
    for (size_t w = 0; w < count.size(); ++w)
        if (count[w])
            c.rows.emplace(int(w), count[w]);
    m_cols[col] = std::move(c);
}
