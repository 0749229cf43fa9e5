#include "formats/SheetReader.h"

#include "formats/SheetReaderParts.h"
#include "formats/SheetValues.h"
#include "formats/Zip.h"

#include <QFile>

#include <freexl.h>

#include <cmath>

using namespace SheetReaderParts;
using SheetReader::Result;

namespace {

const QByteArray OleMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

// A sheet has no more rows than this in any format.
constexpr int MaxRows = 1048576;

// freexl hands a workbook out through a handle it must get back.
class XlsFile
{
public:
    explicit XlsFile(const QString &path)
    {
        m_code = freexl_open(QFile::encodeName(path).constData(), &m_handle);
        if (m_code != FREEXL_OK)
            m_handle = nullptr;
    }
    ~XlsFile()
    {
        if (m_handle)
            freexl_close(m_handle);
    }
    XlsFile(const XlsFile &) = delete;
    XlsFile &operator=(const XlsFile &) = delete;

    const void *handle() const { return m_handle; }
    int code() const { return m_code; }
    bool encrypted() const
    {
        unsigned int info = 0;
        return freexl_get_info(m_handle, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
               info == FREEXL_BIFF_OBFUSCATED;
    }
    // Selects the first sheet; false when there is none.
    bool firstSheet(unsigned int *rows, unsigned short *cols) const
    {
        return freexl_select_active_worksheet(m_handle, 0) == FREEXL_OK &&
               freexl_worksheet_dimensions(m_handle, rows, cols) == FREEXL_OK;
    }

private:
    const void *m_handle = nullptr;
    int m_code = FREEXL_OK;
};

// freexl gives a date as YYYY-MM-DD, a time as HH:MM:SS and both with a blank between: to
// the second, so a file with such values is read exactly only by LibreOffice.
QString xlsCellText(const FreeXL_CellValue &v, bool *approximate)
{
    switch (v.type) {
    case FREEXL_CELL_INT:
        return QString::number(v.value.int_value);
    case FREEXL_CELL_DOUBLE: {
        // Whole numbers look the same in any format; for the others freexl does not say
        // how many decimals the sheet shows.
        const double d = v.value.double_value;
        if (d != std::trunc(d))
            *approximate = true;
        return SheetValues::numberText(d, {});
    }
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        return QString::fromUtf8(v.value.text_value);
    case FREEXL_CELL_DATE:
        return SheetValues::dateText(QString::fromUtf8(v.value.text_value), false);
    case FREEXL_CELL_DATETIME: {
        *approximate = true;
        const QString s = QString::fromUtf8(v.value.text_value);
        return SheetValues::dateText(s.left(10), false) + s.mid(10);
    }
    case FREEXL_CELL_TIME:
        *approximate = true;
        return QString::fromUtf8(v.value.text_value);
    default:
        return QString();
    }
}

Result readXls(const QString &path, int colCount)
{
    const XlsFile xls(path);
    if (!xls.handle())
        return refused(
            xls.code() == FREEXL_OK
                ? QStringLiteral("freexl kann diese Excel-97-Arbeitsmappe nicht lesen.")
                : QStringLiteral("Keine lesbare Excel-97-Arbeitsmappe (freexl: Fehler %1).")
                      .arg(xls.code()));
    if (xls.encrypted())
        return refused(QStringLiteral("Die Arbeitsmappe ist verschlüsselt."));
    unsigned int sheetRows = 0;
    unsigned short sheetCols = 0;
    if (!xls.firstSheet(&sheetRows, &sheetCols))
        return refused(QStringLiteral("Die Arbeitsmappe hat kein Tabellenblatt."));
    Rows rows(colCount);
    bool approximate = false;
    const int cols = qMin(int(sheetCols), colCount);
    for (unsigned int r = 0; r < sheetRows && !rows.done(); ++r) {
        QStringList cells;
        for (int c = 0; c < cols; ++c) {
            FreeXL_CellValue v;
            if (freexl_get_cell_value(xls.handle(), r, static_cast<unsigned short>(c), &v) !=
                FREEXL_OK)
                return refused(QStringLiteral("Eine Zelle der Arbeitsmappe ist nicht lesbar."));
            cells << xlsCellText(v, &approximate);
        }
        rows.add(int(r), cells);
    }
    Result result = finish(rows);
    result.approximate = approximate;
    return result;
}

} // namespace

bool Rows::add(int index, QStringList cells)
{
    if (m_ended || m_tooLarge)
        return false;
    // A row the file leaves out is an empty one.
    if (index != int(m_rows.size()) || cells.value(0).isEmpty()) {
        m_ended = true;
        return false;
    }
    if (cells.size() > m_colCount)
        cells = cells.mid(0, m_colCount);
    while (cells.size() < m_colCount)
        cells << QString();
    for (const QString &c : std::as_const(cells))
        m_chars += c.size();
    if (m_chars > SheetReader::MaxTextChars || int(m_rows.size()) >= MaxRows) {
        m_tooLarge = true;
        return false;
    }
    m_rows.push_back(std::move(cells));
    return true;
}

Result SheetReaderParts::refused(const QString &why)
{
    Result r;
    r.status = Result::Refused;
    r.message = why;
    return r;
}

Result SheetReaderParts::failed(const QString &why)
{
    Result r;
    r.status = Result::Failed;
    r.message = why;
    return r;
}

Result SheetReaderParts::finish(Rows &rows)
{
    if (rows.tooLarge())
        return failed(QStringLiteral("Die Tabelle ist zu groß (mehr als %1 Millionen Zeichen "
                                     "Text oder mehr als %2 Zeilen).")
                          .arg(SheetReader::MaxTextChars / (1024 * 1024))
                          .arg(MaxRows));
    Result r;
    r.status = Result::Ok;
    r.rows = rows.take();
    return r;
}

Result SheetReader::read(const QString &path, int colCount)
{
    QByteArray head;
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return failed(f.errorString());
        head = f.read(8);
    }
    if (head.isEmpty())
        return failed(QStringLiteral("Die Datei ist leer."));
    if (head.startsWith(OleMagic))
        return readXls(path, colCount);
    if (!head.startsWith("PK\x03\x04"))
        return refused(QStringLiteral("Es ist keine .xls-, .xlsx- oder .ods-Datei."));
    const Zip::Archive zip(path);
    if (!zip.isOpen())
        return refused(QStringLiteral("Das Paket ist beschädigt (") + zip.error() +
                       QStringLiteral(")."));
    if (zip.contains(QStringLiteral("content.xml")))
        return readOds(zip, colCount);
    if (zip.contains(QStringLiteral("_rels/.rels")))
        return readXlsx(zip, colCount);
    return refused(QStringLiteral("Das Paket ist keine Tabelle im Format .xlsx oder .ods."));
}

int SheetReader::xlsRowCount(const QString &path)
{
    const XlsFile xls(path);
    unsigned int rows = 0;
    unsigned short cols = 0;
    if (!xls.handle() || !xls.firstSheet(&rows, &cols))
        return -1;
    return int(rows);
}
