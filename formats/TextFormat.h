#pragma once

#include "formats/TableData.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <vector>

class QIODevice;

// The text file of a results protocol: a title line, then one line per car; every cell
// followed by a TAB, an empty cell written as one blank, lines ended by CR LF. Reading
// also takes semicolons as separators, with the quoting of spreadsheet exports.
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
constexpr qint64 MaxFileBytes = 20 * 1024 * 1024;
// How much of a file's beginning tells text from anything else.
constexpr qsizetype SniffBytes = 64 * 1024;
// The most time columns a table can have.
constexpr int MaxTimeColumns = 100;
// The most fields of a line a table can take: start number, driver and every time.
constexpr int MaxFields = MaxTimeColumns + 2;

enum class Encoding
{
    Windows1252,
    Utf8,
    Utf16LE,
    Utf16BE
};
struct Detected
{
    Encoding encoding = Encoding::Windows1252;
    // The byte-order mark's bytes at the start, not part of the text.
    qsizetype markSize = 0;
};
// A UTF-16 byte-order mark selects UTF-16, a UTF-8 one or bytes that are valid UTF-8
// select UTF-8; anything else is Windows-1252.
Detected detect(QByteArrayView bytes);
// False for what is no text: a NUL, or more than one control character in ten, among the
// first SniffBytes after the mark.
bool isText(QByteArrayView bytes, Detected d);

// The lines of a file as rows of the fields the table receives, in one pass over the
// bytes. The first line is the title row whatever it holds; a later line that would give
// a blank row is skipped (an empty line inside a hand-made list would leave a blank car,
// and a blank first car turns off saving).
//
// Lines end with CR LF, LF or CR. A line holding a TAB is split at TABs, runs of TABs
// counting as one; any other line at semicolons, where a field that begins with a double
// quote runs to the closing quote and may hold semicolons, line breaks (each kept as one
// blank: a cell shows one line, a saved line holds one car) and doubled quotes; a quote
// never closed is text. Fields are not trimmed; an empty field is one blank, so it keeps
// its column; a separator at the end of a line makes no field. Each row holds at most
// MaxFields fields and is made with room for capacity cells.
struct Rows
{
    std::vector<QStringList> rows;
    // How many columns hold every field that is not blank, beyond MaxFields too.
    int used = 0;
};
// Nothing when stop was set on the way. The bytes are released before the rows are
// returned.
std::optional<Rows> parse(QByteArray bytes, Detected d, int capacity = 0,
                          const std::atomic_bool *stop = nullptr);
Rows readRows(const QByteArray &bytes);

// The table of colCount columns the rows give: fields beyond the last column are dropped,
// at least the title row and one data row, blank titles of columns 0 and 1 get their
// defaults. Without any row (an empty file) the title row is `titles`, the table's own.
TableData table(std::vector<QStringList> rows, int colCount, const QStringList &titles = {});

// Why a file gives no table.
enum class Refusal
{
    None,
    Unreadable,
    TooBig,
    NotText,
    Stopped
};
struct Loaded
{
    Refusal refusal = Refusal::None;
    qint64 fileSize = 0;
    // At least colCount columns, more where the file's fields need them (up to MaxFields).
    TableData table;
    // As Rows::used.
    int used = 0;
};
// Reads, checks and parses a whole file for a table of colCount columns; titles stand in
// for the title row of an empty file. Meant for a worker thread: stop ends it early.
Loaded load(const QString &fileName, int colCount, const QStringList &titles,
            const std::atomic_bool *stop = nullptr);
} // namespace TextFormat
