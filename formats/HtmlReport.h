#pragma once

#include "formats/TableData.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// The results protocol as a single HTML page: head with style sheet, heading, one table
// row per data row. Cell texts are escaped, and characters outside Latin-1 become
// numeric character references, so the page is plain single-byte text.
namespace HtmlReport {
// The page; title is the application title.
QString pageText(const TableData &t, const QString &title);
QByteArray pageBytes(const TableData &t, const QString &title);
bool write(const TableData &t, const QString &title, QIODevice &dev);
} // namespace HtmlReport
