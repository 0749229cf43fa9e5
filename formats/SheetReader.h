#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Reading the first sheet of a workbook without the spreadsheet application: .xlsx and
// .ods through libzip and QXmlStreamReader, .xls through freexl. What the file is, its
// bytes tell, not its name.
//
// Every cell comes back as text that does not depend on the locale: a time value as
// hh:mm:ss,cc rounded to the hundredth, a date as dd.mm.yyyy, a number as the sheet shows
// it (its decimals, percent) with a decimal comma and no thousands separator, a logical
// value as WAHR or FALSCH, texts as they are.
namespace SheetReader {

struct Result
{
    enum Status
    {
        Ok,
        // Not a kind these readers know (encrypted, strict Open XML, .xlsb, damaged...):
        // LibreOffice may read it.
        Refused,
        // Read, but it would not help to ask LibreOffice (too large).
        Failed,
    };
    Status status = Failed;
    // From the title row to the last row before the first whose first cell is empty, each
    // with colCount cells.
    std::vector<QStringList> rows;
    // Ok, but only approximately: an .xls gives time values to the second and numbers
    // without their format. LibreOffice reads such a file exactly.
    bool approximate = false;
    // Why not, in German.
    QString message;
};

// More text than this is no results protocol.
constexpr qint64 MaxTextChars = 64 * 1024 * 1024;
// A part of a package larger than this unpacked is refused as too large.
constexpr qint64 MaxPartBytes = 1024LL * 1024 * 1024;

// Reads at most colCount columns of the first sheet. Call it off the UI thread.
Result read(const QString &path, int colCount);

// The number of rows of the first sheet of an .xls file; -1 when it cannot be read.
int xlsRowCount(const QString &path);

} // namespace SheetReader
