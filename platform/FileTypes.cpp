#include "platform/FileTypes.h"

#include <QMimeDatabase>

namespace {
void readOne(const QMimeDatabase &db, const char *mime, QString &name)
{
    const QMimeType t = db.mimeTypeForName(QLatin1String(mime));
    // A known type without a comment gives an empty name, as a key without a default
    // value does.
    if (t.isValid())
        name = t.comment();
}
} // namespace

void TFileTypeNames::read()
{
    const QMimeDatabase db;
    readOne(db, "text/plain", text);
    readOne(db, "text/html", web);
    readOne(db, "application/vnd.ms-excel", sheet);
    readOne(db, "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", sheetXlsx);
    readOne(db, "application/vnd.oasis.opendocument.spreadsheet", sheetOds);
}
