#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;
class TSortGrid;

// The results protocol as a single HTML page: head with style sheet, heading, one table
// row per data row. Cell texts are escaped, and characters outside Latin-1 become
// numeric character references, so the page is plain single-byte text.
namespace HtmlReport {
// "&", "<", ">" (and '"' for attributes) as entities; non-Latin-1 as "&#N;".
QString escape(const QString &text);
// The page; title is the application title.
QString pageText(const TSortGrid &g, const QString &title);
QByteArray pageBytes(const TSortGrid &g, const QString &title);
bool write(const TSortGrid &g, const QString &title, QIODevice &dev);
} // namespace HtmlReport
