#include "formats/SheetFormat.h"

#include <QFileInfo>

#include <algorithm>

namespace {

QString xmlEscape(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (const QChar ch : s) {
        switch (ch.unicode()) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        default:
            // Control characters cannot stand in XML at all.
            if (ch.unicode() >= 0x20 || ch == QLatin1Char('\t') || ch == QLatin1Char('\n'))
                out += ch;
            else
                out += QLatin1Char(' ');
        }
    }
    return out;
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

QByteArray SheetFormat::flatOds(const TableData &t, const QString &title)
{
    const QString name = xmlEscape(title);
    QString x;
    x += QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" office:version=\"1.2\" "
        "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">\n");
    x += QStringLiteral("<office:meta><meta:initial-creator>Quendra Software</meta:initial-creator>"
                        "<dc:creator>Quendra Software</dc:creator><dc:subject>") +
         name + QStringLiteral("</dc:subject></office:meta>\n");
    x += QStringLiteral(
        "<office:automatic-styles>\n"
        "<style:page-layout style:name=\"pm1\"><style:page-layout-properties "
        "style:print-orientation=\"landscape\" fo:page-width=\"29.7cm\" "
        "fo:page-height=\"21cm\"/></style:page-layout>\n"
        "<style:style style:name=\"ta1\" style:family=\"table\" style:master-page-name=\"Default\">"
        "<style:table-properties table:display=\"true\"/></style:style>\n"
        "<style:style style:name=\"ce1\" style:family=\"table-cell\"><style:table-cell-properties "
        "fo:border=\"0.75pt solid #000000\"/></style:style>\n"
        "<style:style style:name=\"ce2\" style:family=\"table-cell\"><style:table-cell-properties "
        "fo:border=\"1.75pt solid #000000\"/><style:text-properties fo:font-weight=\"bold\"/>"
        "</style:style>\n");
    for (int c = 0; c < t.colCount; ++c)
        x += QStringLiteral("<style:style style:name=\"co%1\" style:family=\"table-column\">"
                            "<style:table-column-properties style:column-width=\"%2cm\"/>"
                            "</style:style>\n")
                 .arg(c + 1)
                 .arg(columnWidthCm(t, c), 0, 'f', 2);
    x += QStringLiteral("</office:automatic-styles>\n<office:master-styles><style:master-page "
                        "style:name=\"Default\" style:page-layout-name=\"pm1\"/>"
                        "</office:master-styles>\n<office:body><office:spreadsheet>\n"
                        "<table:table table:name=\"") +
         name + QStringLiteral("\" table:style-name=\"ta1\">\n");
    for (int c = 0; c < t.colCount; ++c)
        x += QStringLiteral("<table:table-column table:style-name=\"co%1\"/>\n").arg(c + 1);
    for (int r = 0; r < t.rowCount(); ++r) {
        x += QStringLiteral("<table:table-row>");
        const QString style = r == 0 ? QStringLiteral("ce2") : QStringLiteral("ce1");
        for (int c = 0; c < t.colCount; ++c)
            x += QStringLiteral("<table:table-cell table:style-name=\"") + style +
                 QStringLiteral("\" office:value-type=\"string\">") + cellParagraphs(t.cell(c, r)) +
                 QStringLiteral("</table:table-cell>");
        x += QStringLiteral("</table:table-row>\n");
    }
    x += QStringLiteral("</table:table>\n</office:spreadsheet></office:body></office:document>\n");
    return x.toUtf8();
}

std::vector<QStringList> SheetFormat::parseTabText(const QByteArray &utf8)
{
    const QString s = QString::fromUtf8(utf8);
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    auto endField = [&] {
        row << field;
        field.clear();
        fieldStarted = false;
    };
    auto endRow = [&] {
        endField();
        rows.push_back(row);
        row.clear();
    };
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar ch = s.at(i);
        if (quoted) {
            if (ch == QLatin1Char('"')) {
                if (i + 1 < s.size() && s.at(i + 1) == QLatin1Char('"')) {
                    field += ch;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += ch;
            }
            continue;
        }
        if (ch == QLatin1Char('"') && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
        } else if (ch == QLatin1Char('\t')) {
            endField();
        } else if (ch == QLatin1Char('\r')) {
            if (i + 1 < s.size() && s.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endRow();
        } else if (ch == QLatin1Char('\n')) {
            endRow();
        } else {
            field += ch;
            fieldStarted = true;
        }
    }
    if (fieldStarted || !row.isEmpty() || !field.isEmpty())
        endRow();
    return rows;
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
