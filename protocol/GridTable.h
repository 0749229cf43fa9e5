#pragma once

#include "formats/TableData.h"

class TSortGrid;

// Between a grid and its plain value.
namespace GridTable {
// Every cell of rows 0..RowCount-1 and columns 0..ColCount-1.
TableData snapshot(const TSortGrid &g);
// Replaces the grid's rows by the table's (at least two), the rows it had beyond them
// emptied; the column count stays the grid's (extra cells are dropped, missing ones
// empty).
void apply(TSortGrid &g, const TableData &t);
} // namespace GridTable
