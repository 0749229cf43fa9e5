#pragma once

#include "formats/TableData.h"

#include <QString>

// Writing the results protocol as a workbook without the spreadsheet application: .xlsx
// and .ods as our own documents, packed with libzip. The layout is the one
// SheetFormat describes; a time of day in a time column becomes a time value.
namespace SheetWriter {

// Whether suffix (xlsx, ods) is written here; .xls needs LibreOffice.
bool writesNatively(const QString &suffix);

// Writes the table to path (a file of the caller's own: a failure may leave it half
// written). Empty on success, else what went wrong, in German. Call it off the UI thread.
QString write(const TableData &table, const QString &title, const QString &suffix,
              const QString &path);

} // namespace SheetWriter
