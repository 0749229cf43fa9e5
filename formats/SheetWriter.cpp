#include "formats/SheetWriter.h"

#include "formats/SheetFormat.h"

#include <QFile>
#include <QFileInfo>

#include "formats/Zip.h"

#include <QDateTime>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <vector>

namespace {

// Excel keeps characters that XML cannot hold, and the sequences that look like them, as
// _xHHHH_; our reader turns them back.
QString xlsxText(const QString &s)
{
    // Most cells need nothing of this.
    if (std::none_of(s.begin(), s.end(), [](QChar ch) {
            return ch.unicode() < 0x20 || ch == QLatin1Char('_') || ch.unicode() >= 0xFFFE;
        }))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar ch = s.at(i);
        if ((ch.unicode() < 0x20 && ch != QLatin1Char('\t') && ch != QLatin1Char('\n')) ||
            ch.unicode() == 0xFFFE || ch.unicode() == 0xFFFF) {
            out += QStringLiteral("_x") +
                   QString::number(ch.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')) +
                   QLatin1Char('_');
            continue;
        }
        if (ch == QLatin1Char('_') && i + 6 < s.size() && s.at(i + 1) == QLatin1Char('x') &&
            s.at(i + 6) == QLatin1Char('_')) {
            bool hex = true;
            for (int k = 2; k < 6; ++k)
                hex = hex && std::isxdigit(static_cast<unsigned char>(s.at(i + k).toLatin1()));
            if (hex) {
                out += QStringLiteral("_x005F_");
                continue;
            }
        }
        out += ch;
    }
    return out;
}

// Column width in Excel's units (characters of the default font), for the longest line of
// the column; the bold title a little wider.
double columnWidth(const TableData &t, int col)
{
    double widest = 0;
    for (int r = 0; r < t.rowCount(); ++r) {
        qsizetype longest = 0;
        const QString cell = t.cell(col, r);
        for (qsizetype start = 0;;) {
            const qsizetype end = cell.indexOf(QLatin1Char('\n'), start);
            longest = std::max(longest, (end < 0 ? cell.size() : end) - start);
            if (end < 0)
                break;
            start = end + 1;
        }
        widest = std::max(widest, double(longest) * (r == 0 ? 1.15 : 1.0));
    }
    return std::clamp(widest + 2.0, 4.0, 120.0);
}

// "&", "<" and ">" as entities, and '"' for attribute values.
void appendEscaped(QByteArray &x, const QByteArray &utf8)
{
    if (std::none_of(utf8.begin(), utf8.end(),
                     [](char ch) { return ch == '&' || ch == '<' || ch == '>' || ch == '"'; })) {
        x += utf8;
        return;
    }
    for (const char ch : utf8) {
        switch (ch) {
        case '&':
            x += "&amp;";
            break;
        case '<':
            x += "&lt;";
            break;
        case '>':
            x += "&gt;";
            break;
        case '"':
            x += "&quot;";
            break;
        default:
            x += ch;
        }
    }
}

QByteArray escaped(const QString &s)
{
    QByteArray x;
    appendEscaped(x, s.toUtf8());
    return x;
}

// A column's letters: A .. Z, AA .. XFD.
QByteArray columnName(int col)
{
    QByteArray name;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        name.prepend(char('A' + (n - 1) % 26));
    return name;
}

// Excel keeps a column width in characters as the pixels it takes (7 per character and 5
// of padding at its default font), rounded to 1/256.
QByteArray excelWidth(double chars)
{
    const int pixels = int(chars * 7 + 0.5) + 5;
    return QByteArray::number(double(int(pixels / 7.0 * 256)) / 256, 'g', 10);
}

// What a workbook cell holds at most.
constexpr qsizetype MaxCellChars = 32767;

void appendNumber(QByteArray &x, double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::replace(buf, r.ptr, 'e', 'E');
    x.append(buf, r.ptr - buf);
}

const char XmlHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char MainNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char RelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// The cell styles of the sheet: 0 Excel's default, 1 the bold title with a medium border,
// 2 a text with a thin one, 3 a time of day the same.
enum Style
{
    TitleStyle = 1,
    TextStyle = 2,
    TimeStyle = 3
};

QByteArray stylesPart()
{
    return QByteArray(XmlHead) + "<styleSheet xmlns=\"" + MainNs +
           "\"><numFmts count=\"1\">"
           // A German format (the locale tag 407), so that the hundredths follow a comma
           // whatever the reader's own locale: HH:MM:SS,00.
           "<numFmt numFmtId=\"164\" formatCode=\"[$-407]hh:mm:ss.00\"/></numFmts>"
           "<fonts count=\"2\">"
           "<font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/>"
           "<scheme val=\"minor\"/></font>"
           "<font><b/><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/>"
           "<family val=\"2\"/><scheme val=\"minor\"/></font></fonts>"
           "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
           "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
           "<borders count=\"3\"><border><left/><right/><top/><bottom/><diagonal/></border>"
           "<border><left style=\"medium\"><color indexed=\"64\"/></left>"
           "<right style=\"medium\"><color indexed=\"64\"/></right>"
           "<top style=\"medium\"><color indexed=\"64\"/></top>"
           "<bottom style=\"medium\"><color indexed=\"64\"/></bottom><diagonal/></border>"
           "<border><left style=\"thin\"><color indexed=\"64\"/></left>"
           "<right style=\"thin\"><color indexed=\"64\"/></right>"
           "<top style=\"thin\"><color indexed=\"64\"/></top>"
           "<bottom style=\"thin\"><color indexed=\"64\"/></bottom><diagonal/></border></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
           "</cellStyleXfs><cellXfs count=\"4\">"
           "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
           "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"1\" xfId=\"0\" "
           "applyFont=\"1\" applyBorder=\"1\"/>"
           "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"2\" xfId=\"0\" "
           "applyBorder=\"1\"/>"
           "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"2\" xfId=\"0\" "
           "applyNumberFormat=\"1\" applyBorder=\"1\"/></cellXfs>"
           "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
           "</cellStyles><dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>\n";
}

// The sheet, cell by cell, made in pieces while it is packed: times in time columns as
// numbers (the fraction of a day), other cells as texts of their own (no shared-string table
// to build).
class SheetXml
{
public:
    explicit SheetXml(const TableData &t) : m_t(t)
    {
        for (int c = 0; c < t.colCount; ++c)
            m_cols.push_back(columnName(c));
    }

    // The head, then some hundred rows at a time, then the end; false after the end.
    bool next(QByteArray &x, QString &error)
    {
        if (m_row < 0) {
            head(x);
            m_row = 0;
            return true;
        }
        if (m_row >= m_t.rowCount()) {
            x += "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" "
                 "bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>"
                 "<pageSetup paperSize=\"9\" orientation=\"landscape\"/></worksheet>\n";
            return false;
        }
        for (const int end = std::min(m_t.rowCount(), m_row + 500); m_row < end; ++m_row)
            if (!row(x, m_row)) {
                error = QStringLiteral("Eine Zelle hat mehr als 32.767 Zeichen; so viel fasst "
                                       "eine .xlsx-Zelle nicht.");
                return false;
            }
        return true;
    }

private:
    void head(QByteArray &x) const
    {
        x += XmlHead;
        x += QByteArray("<worksheet xmlns=\"") + MainNs + "\" xmlns:r=\"" + RelNs + "\">";
        x += "<dimension ref=\"A1";
        if (m_t.rowCount() > 0 && !m_cols.empty())
            x += ':' + m_cols.back() + QByteArray::number(m_t.rowCount());
        x += "\"/><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews>"
             "<sheetFormatPr defaultRowHeight=\"15\"/>";
        if (m_t.colCount > 0) {
            x += "<cols>";
            for (int c = 0; c < m_t.colCount; ++c)
                x += "<col min=\"" + QByteArray::number(c + 1) + "\" max=\"" +
                     QByteArray::number(c + 1) + "\" width=\"" +
                     excelWidth(columnWidth(m_t, c)) + "\" customWidth=\"1\"/>";
            x += "</cols>";
        }
        x += "<sheetData>";
    }

    // False when a cell is too long for a workbook.
    bool row(QByteArray &x, int r) const
    {
        const QByteArray number = QByteArray::number(r + 1);
        x += "<row r=\"" + number + "\">";
        for (int c = 0; c < m_t.colCount; ++c) {
            x += "<c r=\"";
            x += m_cols[size_t(c)];
            x += number;
            if (const std::optional<int> centis = SheetFormat::timeCell(m_t, c, r)) {
                x += "\" s=\"3\"><v>";
                appendNumber(x, *centis / 8640000.0);
                x += "</v></c>";
                continue;
            }
            x += r == 0 ? "\" s=\"1\"" : "\" s=\"2\"";
            const QString cell = m_t.cell(c, r);
            if (cell.isEmpty()) {
                x += "/>";
                continue;
            }
            const QString text = xlsxText(cell);
            if (text.size() > MaxCellChars)
                return false;
            x += " t=\"inlineStr\"><is><t xml:space=\"preserve\">";
            appendEscaped(x, text.toUtf8());
            x += "</t></is></c>";
        }
        x += "</row>";
        return true;
    }

    const TableData &m_t;
    std::vector<QByteArray> m_cols;
    int m_row = -1; // -1: the head comes next
};

QString writeXlsx(const TableData &t, const QString &title, const QString &path)
{
    const QByteArray head(XmlHead);
    const QByteArray types =
        head +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
        "<Override PartName=\"/docProps/core.xml\" "
        "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
        "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.extended-properties+xml\"/></Types>\n";
    const QByteArray rels =
        head +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" + RelNs +
        "/officeDocument\" Target=\"xl/workbook.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/"
        "relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"" + RelNs +
        "/extended-properties\" Target=\"docProps/app.xml\"/></Relationships>\n";
    const QByteArray core =
        head +
        "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/"
        "metadata/core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<dc:subject>" + escaped(title) +
        "</dc:subject><dc:creator>Quendra Software</dc:creator>"
        "<dcterms:created xsi:type=\"dcterms:W3CDTF\">" +
        QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() +
        "</dcterms:created></cp:coreProperties>\n";
    const QByteArray app =
        head +
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "extended-properties\"><Application>Tornelo</Application></Properties>\n";
    const QByteArray workbook =
        head + "<workbook xmlns=\"" + MainNs + "\" xmlns:r=\"" + RelNs +
        "\"><bookViews><workbookView/></bookViews><sheets><sheet name=\"" +
        escaped(SheetFormat::sheetName(title)) +
        "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>\n";
    const QByteArray workbookRels =
        head +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" + RelNs +
        "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"" + RelNs +
        "/styles\" Target=\"styles.xml\"/></Relationships>\n";

    // The sheet is made twice, first only to count its bytes: a package of parts of known
    // size needs no ZIP64 fields, and a cell too long is found before the file is touched.
    qint64 size = 0;
    {
        SheetXml counting(t);
        QByteArray piece;
        QString error;
        for (bool more = true; more;) {
            piece.clear();
            more = counting.next(piece, error);
            if (!error.isEmpty())
                return error;
            size += piece.size();
        }
    }
    auto sheet = std::make_shared<SheetXml>(t);
    return Zip::write(path,
                      {{QStringLiteral("[Content_Types].xml"), types},
                       {QStringLiteral("_rels/.rels"), rels},
                       {QStringLiteral("docProps/core.xml"), core},
                       {QStringLiteral("docProps/app.xml"), app},
                       {QStringLiteral("xl/workbook.xml"), workbook},
                       {QStringLiteral("xl/_rels/workbook.xml.rels"), workbookRels},
                       {QStringLiteral("xl/styles.xml"), stylesPart()}},
                      {QStringLiteral("xl/worksheets/sheet1.xml"),
                       [sheet](QByteArray &out, QString &error) { return sheet->next(out, error); },
                       size});
}

} // namespace

bool SheetWriter::writesNatively(const QString &suffix)
{
    return suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0 ||
           suffix.compare(QLatin1String("ods"), Qt::CaseInsensitive) == 0;
}

QString SheetWriter::write(const TableData &t, const QString &title, const QString &suffix,
                           const QString &path)
{
    const QString tooLarge = SheetFormat::tooLargeFor(t, suffix);
    if (!tooLarge.isEmpty())
        return tooLarge;
    if (suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        return writeXlsx(t, title, path);
    if (suffix.compare(QLatin1String("ods"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("Das Format .%1 schreibt LibreOffice.").arg(suffix);
    const QString error = SheetFormat::writeOds(t, title, path);
    return error.isEmpty() ? QString()
                           : QStringLiteral("Das Paket kann nicht geschrieben werden: ") + error;
}
