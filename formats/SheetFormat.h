#pragma once

#include "formats/TableData.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The spreadsheet side of the results protocol: the documents we write, the rules of the
// table we read, the limits of each format.
namespace SheetFormat {

// The layout of every sheet we write: borders on every cell, the title row bold with a
// heavier border, author "Quendra Software", subject and sheet name = title, landscape
// page, each column as wide as its longest text. Start numbers, names and every other
// text stay text cells (007 keeps its zeros).

// A flat OpenDocument spreadsheet with every filled cell a text cell, for LibreOffice to turn
// into .xls: the .xls reader gives time values back to the second only, so there
// 10:15:22,31 stays a text.
QByteArray flatOds(const TableData &table, const QString &title);

// The .ods package written to path: the same document, but a time of day in a time column
// (timeCell) is a time value shown as HH:MM:SS,00, which a spreadsheet can subtract. Made
// piece by piece, so a large table never stands whole in memory as its document. Empty on
// success, else what went wrong.
QString writeOds(const TableData &table, const QString &title, const QString &path);

// The centiseconds of a cell that is written as a time value: a time column (2 on) below
// the title row, holding a time of day in the program's form hh:mm:ss,cc.
std::optional<int> timeCell(const TableData &table, int col, int row);

// The name a workbook's sheet gets for title: without the characters that sheet names
// may not hold ([]:*?/\), at most 31 characters, never empty.
QString sheetName(const QString &title);

struct Limits
{
    int rows;
    int cols;
};
// What a sheet of the format (xls, xlsx, ods) holds.
Limits limitsOf(const QString &suffix);
// Why the table cannot be saved in the format, naming the limit (German); empty when it
// fits.
QString tooLargeFor(const TableData &table, const QString &suffix);

// The results protocol from a sheet's rows, for a table of colCount columns: the first
// row whose first cell is empty ends the table; extra columns are dropped, missing ones
// empty; a blank time-column title becomes "Zeit k". Fewer than two rows: the title row
// (from the sheet, or the defaults) and one empty data row.
TableData tableFromSheet(const std::vector<QStringList> &rows, int colCount);

// True for a file that is a spreadsheet by its name (.xls, .xlsx, .ods) or by its first
// bytes (an OLE compound document or a zip archive).
bool looksLikeSpreadsheet(const QString &fileName, const QByteArray &firstBytes);

// The spreadsheet format of a file: "xls", "xlsx" or "ods" by its name's suffix, else by
// its first bytes (an OLE compound document is Excel 97; a zip archive whose first entry
// names an OpenDocument spreadsheet is ods, any other zip xlsx); empty for neither. The
// first 100 bytes are enough.
QString sheetFormatOf(const QString &fileName, const QByteArray &firstBytes);

} // namespace SheetFormat
