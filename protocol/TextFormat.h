#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QIODevice;
class TSortGrid;

// The text file of a results protocol: a title line, then one line per car; every cell
// followed by a TAB, an empty cell written as one blank, lines ended by CR LF. Reading
// also takes semicolons as separators.
namespace TextFormat {
// The file's lines as text; rows without a start number are left out.
QString protocolText(const TSortGrid &g);
// Windows-1252 while every character fits, otherwise UTF-8 with a byte-order mark, so
// that nothing typed or loaded is lost.
QByteArray encode(const QString &text);
// Writes the whole file; false when the device does not take every byte.
bool write(const TSortGrid &g, QIODevice &dev);

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
// Puts the lines into the grid from the title row on, sets the row count to the rows
// filled (at least the title row and one data row) and gives blank titles of columns 0
// and 1 their defaults. The first line is the title row whatever it holds; a later line
// that would give a blank row is skipped. When a line has fields that are not blank
// beyond the grid's last column, needColumns is told how many columns would hold them
// all, before the rows are filled; fields beyond the last column are dropped. Returns the
// number of rows filled.
int load(TSortGrid &g, const QStringList &lines,
         const std::function<void(int columns)> &needColumns = {});
} // namespace TextFormat
