#pragma once

#include "formats/TableData.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QIODevice;

// The text file of a results protocol: a title line, then one line per car; every cell
// followed by a TAB, an empty cell written as one blank, lines ended by CR LF. Reading
// also takes semicolons as separators.
namespace TextFormat {
// The file's lines as text; rows without a start number are left out.
QString protocolText(const TableData &t);
// Windows-1252 while every character fits, otherwise UTF-8 with a byte-order mark, so
// that nothing typed or loaded is lost.
QByteArray encode(const QString &text);
// Writes the whole file; false when the device does not take every byte.
bool write(const TableData &t, QIODevice &dev);

// Every byte up to the end, or nothing when the device fails on the way or holds more
// than maxBytes.
std::optional<QByteArray> readAll(QIODevice &dev, qint64 maxBytes = -1);
// Far beyond any starter list or protocol (a thousand cars with a hundred times each take
// 1.2 MB); a file chosen by mistake must not exhaust the memory.
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
// Lines without their ends (CR LF, LF or CR); a final line end adds no empty line.
QStringList splitLines(const QString &text);
// The fields of one line as they go into the cells of a row, at most maxFields.
QStringList splitFields(QString line, int maxFields);
// The most time columns a table can have.
constexpr int MaxTimeColumns = 100;

// Reading takes three steps, so that the table can get more columns before it is filled.
// The lines as rows of all their fields. The first line is the title row whatever it
// holds; a later line that would give a blank row is skipped (an empty line inside a
// hand-made list would leave a blank car, and a blank first car turns off saving).
std::vector<QStringList> fieldRows(const QStringList &lines);
// How many columns hold every field of the rows that is not blank.
int columnsUsed(const std::vector<QStringList> &rows);
// The table of colCount columns the rows give: fields beyond the last column are dropped,
// at least the title row and one data row, blank titles of columns 0 and 1 get their
// defaults. Without any row (an empty file) the title row is `titles`, the table's own.
TableData table(const std::vector<QStringList> &rows, int colCount, const QStringList &titles = {});
} // namespace TextFormat
