#pragma once

#include <functional>
#include <map>
#include <vector>

// The measured text widths of the data rows of some columns, kept while the texts change,
// so that a column's widest text is found without measuring every row again. The grid
// reports each change of its texts and rows; a column is measured in full only the first
// time it is asked for, or after a change that does not say which rows it touched.
class TColumnFit
{
public:
    // The text of a cell changed; col -1: every cell of the row.
    void cellChanged(int col, int row);
    void rowMoved(int from, int to);
    void rowDeleted(int row);
    // Texts rearranged wholesale, another font: every column is measured afresh.
    void clear() { m_cols.clear(); }

    // The widest of the data rows 1 .. rowCount - 1 of col (0 when there are none);
    // measure(row) gives the width of one cell, and is called only for cells not measured
    // since their text last changed.
    int widest(int col, int rowCount, const std::function<int(int row)> &measure);
    // Widths measured elsewhere (on a worker, for a table read from a file), by row; row 0
    // is not used. They stand until their cells change.
    void adopt(int col, std::vector<int> widths);

private:
    struct Column
    {
        std::vector<int> width;  // by row; -1: not measured (row 0 always)
        std::vector<int> dirty;  // the data rows whose width is -1
        std::map<int, int> rows; // width -> number of rows that have it
        void forget(int row);
    };
    std::map<int, Column> m_cols;
};
