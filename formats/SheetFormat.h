#pragma once

#include "formats/TableData.h"

#include <QByteArray>
#include <QString>

// The spreadsheet side of the results protocol, without the spreadsheet application: the
// document we hand it to convert, and the text it gives back.
namespace SheetFormat {

// A flat OpenDocument spreadsheet: the whole table as one block of text cells (so 007 and
// 10:15:22,31 stay texts), borders on every cell, the title row bold with a heavier border,
// author "Quendra Software", subject and sheet name = title, landscape page, each column
// as wide as its longest text.
QByteArray flatOds(const TableData &table, const QString &title);

// The rows of UTF-8 text with TAB between the fields, as the spreadsheet application
// exports a sheet: a field in double quotes may hold TABs, line ends and doubled quotes.
std::vector<QStringList> parseTabText(const QByteArray &utf8);

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
