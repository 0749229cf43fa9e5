#include "formats/SheetFormat.h"

#include "formats/Markup.h"
#include "formats/SheetValues.h"
#include "formats/Zip.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <memory>

namespace {

// Control characters cannot stand in XML at all.
QString xmlEscape(const QString &s)
{
    return Markup::escape(s, Markup::NoControls);
}

// One cell's text as paragraphs; runs of blanks and TABs are written so that the reader
// keeps them (XML would fold them into one blank).
QString cellParagraphs(const QString &text)
{
    QString out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        out += QStringLiteral("<text:p>");
        const QString esc = xmlEscape(line);
        int spaces = 0;
        auto flush = [&](bool atStart) {
            if (spaces == 0)
                return;
            // A single blank inside a text is kept as it is; at the start, or a run, as
            // the explicit space element.
            if (spaces == 1 && !atStart)
                out += QLatin1Char(' ');
            else
                out += QStringLiteral("<text:s text:c=\"%1\"/>").arg(spaces);
            spaces = 0;
        };
        bool start = true;
        for (const QChar ch : esc) {
            if (ch == QLatin1Char(' ')) {
                ++spaces;
                continue;
            }
            flush(start);
            start = false;
            if (ch == QLatin1Char('\t'))
                out += QStringLiteral("<text:tab/>");
            else
                out += ch;
        }
        // Trailing blanks would be dropped too.
        if (spaces)
            out += QStringLiteral("<text:s text:c=\"%1\"/>").arg(spaces);
        out += QStringLiteral("</text:p>");
    }
    return out;
}

// Width of a column in centimetres for its longest text (Liberation Sans 10 pt averages
// about 0.2 cm a character; the bold title a little more).
double columnWidthCm(const TableData &t, int col)
{
    double widest = 0;
    for (int r = 0; r < t.rowCount(); ++r) {
        qsizetype longest = 0;
        for (const QString &line : t.cell(col, r).split(QLatin1Char('\n')))
            longest = std::max(longest, line.size());
        widest = std::max(widest, double(longest) * (r == 0 ? 0.23 : 0.2));
    }
    return std::clamp(widest + 0.3, 0.8, 25.0);
}

} // namespace

namespace {

const char OdsMime[] = "application/vnd.oasis.opendocument.spreadsheet";

QString namespaces()
{
    return QStringLiteral(
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" office:version=\"1.2\"");
}

QString odsMeta(const QString &name)
{
    return QStringLiteral(
               "<office:meta><meta:initial-creator>Quendra Software</meta:initial-creator>"
               "<dc:creator>Quendra Software</dc:creator><dc:subject>") +
           name + QStringLiteral("</dc:subject></office:meta>\n");
}

QString odsPageLayout()
{
    return QStringLiteral("<style:page-layout style:name=\"pm1\"><style:page-layout-properties "
                          "style:print-orientation=\"landscape\" fo:page-width=\"29.7cm\" "
                          "fo:page-height=\"21cm\"/></style:page-layout>\n");
}

QString odsMasterStyles()
{
    return QStringLiteral("<office:master-styles><style:master-page style:name=\"Default\" "
                          "style:page-layout-name=\"pm1\"/></office:master-styles>\n");
}

// The table's own styles: borders, the bold title row, column widths and, with time
// values, the time format HH:MM:SS,00 (German, so the comma shows whatever the locale).
QString odsCellStyles(const TableData &t, bool timeValues)
{
    QString x = QStringLiteral(
        "<style:style style:name=\"ta1\" style:family=\"table\" style:master-page-name=\"Default\">"
        "<style:table-properties table:display=\"true\"/></style:style>\n"
        "<style:style style:name=\"ce1\" style:family=\"table-cell\"><style:table-cell-properties "
        "fo:border=\"0.75pt solid #000000\"/></style:style>\n"
        "<style:style style:name=\"ce2\" style:family=\"table-cell\"><style:table-cell-properties "
        "fo:border=\"1.75pt solid #000000\"/><style:text-properties fo:font-weight=\"bold\"/>"
        "</style:style>\n");
    if (timeValues)
        x += QStringLiteral(
            "<number:time-style style:name=\"N1\" number:language=\"de\" number:country=\"DE\">"
            "<number:hours number:style=\"long\"/><number:text>:</number:text>"
            "<number:minutes number:style=\"long\"/><number:text>:</number:text>"
            "<number:seconds number:style=\"long\" number:decimal-places=\"2\"/>"
            "</number:time-style>\n"
            "<style:style style:name=\"ce3\" style:family=\"table-cell\" "
            "style:data-style-name=\"N1\"><style:table-cell-properties "
            "fo:border=\"0.75pt solid #000000\"/></style:style>\n");
    for (int c = 0; c < t.colCount; ++c)
        x += QStringLiteral("<style:style style:name=\"co%1\" style:family=\"table-column\">"
                            "<style:table-column-properties style:column-width=\"%2cm\"/>"
                            "</style:style>\n")
                 .arg(c + 1)
                 .arg(columnWidthCm(t, c), 0, 'f', 2);
    return x;
}

QString xmlHead()
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
}

QString odsTableHead(const TableData &t, const QString &name)
{
    QString x = QStringLiteral("<table:table table:name=\"") + name +
                QStringLiteral("\" table:style-name=\"ta1\">\n");
    for (int c = 0; c < t.colCount; ++c)
        x += QStringLiteral("<table:table-column table:style-name=\"co%1\"/>\n").arg(c + 1);
    return x;
}

void appendOdsRow(QString &x, const TableData &t, int r, bool timeValues)
{
    x += QStringLiteral("<table:table-row>");
    for (int c = 0; c < t.colCount; ++c) {
        const QString text = t.cell(c, r);
        const std::optional<int> time =
            timeValues ? SheetFormat::timeCell(t, c, r) : std::optional<int>();
        if (time) {
            // The value exact to the hundredth; the paragraph is what the sheet shows.
            // hh:mm:ss,cc becomes PThhHmmMss.ccS by replacing its separators.
            QString iso = QStringLiteral("PT") + text;
            iso[4] = QLatin1Char('H');
            iso[7] = QLatin1Char('M');
            iso[10] = QLatin1Char('.');
            x += QStringLiteral("<table:table-cell table:style-name=\"ce3\" "
                                "office:value-type=\"time\" office:time-value=\"") +
                 iso + QStringLiteral("S\"><text:p>") + text +
                 QStringLiteral("</text:p></table:table-cell>");
            continue;
        }
        x += r == 0 ? QStringLiteral("<table:table-cell table:style-name=\"ce2\"")
                    : QStringLiteral("<table:table-cell table:style-name=\"ce1\"");
        // An empty cell holds no value: as an empty text, LibreOffice writes an .xls
        // that freexl cannot open.
        if (text.isEmpty())
            x += QStringLiteral("/>");
        else
            x += QStringLiteral(" office:value-type=\"string\">") + cellParagraphs(text) +
                 QStringLiteral("</table:table-cell>");
    }
    x += QStringLiteral("</table:table-row>\n");
}

QString odsTable(const TableData &t, const QString &name, bool timeValues)
{
    QString x = odsTableHead(t, name);
    for (int r = 0; r < t.rowCount(); ++r)
        appendOdsRow(x, t, r, timeValues);
    x += QStringLiteral("</table:table>\n");
    return x;
}

// The package's content.xml in pieces: the head with the styles, some hundred rows at a
// time, the end. A large table never stands whole in memory as its document.
class OdsContent
{
public:
    OdsContent(const TableData &t, const QString &title) : m_t(t), m_name(xmlEscape(title)) {}

    // False after the last piece.
    bool next(QByteArray &x)
    {
        if (m_row < 0) {
            m_row = 0;
            x += (xmlHead() + QStringLiteral("<office:document-content ") + namespaces() +
                  QStringLiteral(">\n<office:automatic-styles>\n") + odsCellStyles(m_t, true) +
                  QStringLiteral("</office:automatic-styles>\n"
                                 "<office:body><office:spreadsheet>\n") +
                  odsTableHead(m_t, m_name))
                     .toUtf8();
            return true;
        }
        if (m_row >= m_t.rowCount()) {
            x += "</table:table>\n</office:spreadsheet></office:body></office:document-content>\n";
            return false;
        }
        QString rows;
        for (const int end = std::min(m_t.rowCount(), m_row + 500); m_row < end; ++m_row)
            appendOdsRow(rows, m_t, m_row, true);
        x += rows.toUtf8();
        return true;
    }

private:
    const TableData &m_t;
    const QString m_name;
    int m_row = -1; // -1: the head comes next
};

} // namespace

std::optional<int> SheetFormat::timeCell(const TableData &t, int col, int row)
{
    if (col < 2 || row < 1)
        return std::nullopt;
    return SheetValues::timeOfDay(t.cell(col, row));
}

QByteArray SheetFormat::flatOds(const TableData &t, const QString &title)
{
    const QString name = xmlEscape(title);
    QString x = xmlHead() + QStringLiteral("<office:document ") + namespaces() +
                QStringLiteral(" office:mimetype=\"") + QLatin1String(OdsMime) +
                QStringLiteral("\">\n") + odsMeta(name) +
                QStringLiteral("<office:automatic-styles>\n") + odsPageLayout() +
                odsCellStyles(t, false) + QStringLiteral("</office:automatic-styles>\n") +
                odsMasterStyles() + QStringLiteral("<office:body><office:spreadsheet>\n") +
                odsTable(t, name, false) +
                QStringLiteral("</office:spreadsheet></office:body></office:document>\n");
    return x.toUtf8();
}

namespace {

// The package's parts besides content.xml, the uncompressed "mimetype" first: that is how a
// reader knows the package.
std::vector<Zip::Item> odsParts(const QString &title)
{
    const QString name = xmlEscape(title);
    const QString meta = xmlHead() + QStringLiteral("<office:document-meta ") + namespaces() +
                         QStringLiteral(">\n") + odsMeta(name) +
                         QStringLiteral("</office:document-meta>\n");
    const QString styles = xmlHead() + QStringLiteral("<office:document-styles ") + namespaces() +
                           QStringLiteral(">\n<office:automatic-styles>\n") + odsPageLayout() +
                           QStringLiteral("</office:automatic-styles>\n") + odsMasterStyles() +
                           QStringLiteral("</office:document-styles>\n");
    const QByteArray manifest =
        QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:"
                   "manifest:1.0\" manifest:version=\"1.2\">\n"
                   "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
                   "manifest:media-type=\"") +
        OdsMime +
        "\"/>\n"
        "<manifest:file-entry manifest:full-path=\"content.xml\" "
        "manifest:media-type=\"text/xml\"/>\n"
        "<manifest:file-entry manifest:full-path=\"styles.xml\" "
        "manifest:media-type=\"text/xml\"/>\n"
        "<manifest:file-entry manifest:full-path=\"meta.xml\" manifest:media-type=\"text/xml\"/>\n"
        "</manifest:manifest>\n";
    return {{QStringLiteral("mimetype"), QByteArray(OdsMime), true},
            {QStringLiteral("META-INF/manifest.xml"), manifest},
            {QStringLiteral("meta.xml"), meta.toUtf8()},
            {QStringLiteral("styles.xml"), styles.toUtf8()}};
}

} // namespace

QString SheetFormat::writeOds(const TableData &t, const QString &title, const QString &path)
{
    // Made twice, first only to count its bytes: a part of known size needs no ZIP64 fields.
    qint64 size = 0;
    {
        QByteArray piece;
        for (OdsContent counting(t, title);;) {
            piece.clear();
            const bool more = counting.next(piece);
            size += piece.size();
            if (!more)
                break;
        }
    }
    auto content = std::make_shared<OdsContent>(t, title);
    return Zip::write(path, odsParts(title),
                      {QStringLiteral("content.xml"),
                       [content](QByteArray &out, QString &) { return content->next(out); },
                       size});
}

TableData SheetFormat::tableFromSheet(const std::vector<QStringList> &rows, int colCount)
{
    TableData t;
    t.colCount = colCount;
    int used = 0;
    while (used < int(rows.size()) && !rows[size_t(used)].value(0).isEmpty())
        ++used;
    for (int r = 0; r < used; ++r) {
        QStringList row = rows[size_t(r)].mid(0, colCount);
        while (row.size() < colCount)
            row << QString();
        t.rows.push_back(row);
    }
    if (t.rows.empty()) {
        QStringList titles{QStringLiteral("Nr."), QStringLiteral("Fahrer")};
        while (titles.size() < colCount)
            titles << QString();
        t.rows.push_back(titles.mid(0, colCount));
    }
    if (t.rows.size() < 2)
        t.rows.push_back(QStringList(QList<QString>(colCount)));
    for (int c = 2; c < colCount; ++c) {
        QString &title = t.rows[0][c];
        if (TableData::isBlank(title))
            title = QStringLiteral("Zeit ") + QString::number(c - 1);
    }
    return t;
}

QString SheetFormat::sheetName(const QString &title)
{
    QString name;
    for (const QChar ch : title)
        name +=
            QStringLiteral("[]:*?/\\").contains(ch) || ch.unicode() < 0x20 ? QLatin1Char('_') : ch;
    // Excel also refuses an apostrophe at either end.
    while (name.startsWith(QLatin1Char('\'')))
        name.remove(0, 1);
    name = name.left(31);
    while (name.endsWith(QLatin1Char('\'')))
        name.chop(1);
    return name.trimmed().isEmpty() ? QStringLiteral("Tabelle") : name;
}

SheetFormat::Limits SheetFormat::limitsOf(const QString &suffix)
{
    if (suffix.compare(QLatin1String("xls"), Qt::CaseInsensitive) == 0)
        return {65536, 256};
    // LibreOffice's own limit for .ods is Excel's for .xlsx.
    return {1048576, 16384};
}

QString SheetFormat::tooLargeFor(const TableData &t, const QString &suffix)
{
    const Limits l = limitsOf(suffix);
    if (t.rowCount() <= l.rows && t.colCount <= l.cols)
        return QString();
    const QLocale de(QLocale::German);
    const Limits big = limitsOf(QStringLiteral("xlsx"));
    const bool fitsBig = t.rowCount() <= big.rows && t.colCount <= big.cols;
    return QStringLiteral("Die Tabelle hat %1 Zeilen und %2 Spalten; eine .%3-Datei fasst "
                          "höchstens %4 Zeilen und %5 Spalten. Die Datei wurde nicht "
                          "geschrieben. %6")
        .arg(de.toString(t.rowCount()), de.toString(t.colCount), suffix.toLower(),
             de.toString(l.rows), de.toString(l.cols),
             fitsBig ? QStringLiteral("Als .xlsx oder .ods gespeichert passt sie hinein.")
                     : QStringLiteral("Als Textdatei (.txt) lässt sie sich speichern."));
}

bool SheetFormat::looksLikeSpreadsheet(const QString &fileName, const QByteArray &firstBytes)
{
    return !sheetFormatOf(fileName, firstBytes).isEmpty();
}

QString SheetFormat::sheetFormatOf(const QString &fileName, const QByteArray &firstBytes)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx") ||
        suffix == QLatin1String("ods"))
        return suffix;
    static const QByteArray ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (firstBytes.startsWith(ole))
        return QStringLiteral("xls");
    if (!firstBytes.startsWith("PK\x03\x04"))
        return QString();
    // An OpenDocument package starts with its uncompressed "mimetype" entry.
    return firstBytes.contains("mimetypeapplication/vnd.oasis.opendocument.spreadsheet")
               ? QStringLiteral("ods")
               : QStringLiteral("xlsx");
}
