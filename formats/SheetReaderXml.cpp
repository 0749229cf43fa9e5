// The readers of the two zipped XML formats, .xlsx and .ods: each reads the parts it needs
// whole (relationships, styles, shared texts) and the sheet itself as a stream, which it
// leaves as soon as the table has ended.
#include "formats/SheetReaderParts.h"
#include "formats/SheetValues.h"
#include "formats/XmlScan.h"
#include "formats/Zip.h"

#include <QBuffer>
#include <QXmlStreamReader>

#include <map>

using namespace SheetReaderParts;
using SheetReader::Result;
using SheetValues::NumberStyle;

namespace {

// The small parts of a package (relationships, workbook, styles) are never larger.
constexpr qint64 MaxSmallPart = 64 * 1024 * 1024;

bool isTrue(QStringView v)
{
    return v == u"1" || v == u"true";
}

Result damaged(const QXmlStreamReader &xml, const Zip::Entry *entry, const QString &part)
{
    if (entry && entry->tooLarge())
        return failed(QStringLiteral("Der Teil %1 ist entpackt größer als %2 MB.")
                          .arg(part)
                          .arg(SheetReader::MaxPartBytes / (1024 * 1024)));
    return refused(QStringLiteral("Der Teil %1 ist beschädigt: %2").arg(part, xml.errorString()));
}

// ---- .xlsx ----

Result scanFailed(const XmlScan &xml, const Zip::Entry *entry, const QString &part)
{
    if (entry && entry->tooLarge())
        return failed(QStringLiteral("Der Teil %1 ist entpackt größer als %2 MB.")
                          .arg(part)
                          .arg(SheetReader::MaxPartBytes / (1024 * 1024)));
    const QString why = xml.errorString();
    return refused(QStringLiteral("Der Teil %1 ist beschädigt: %2")
                       .arg(part, why.isEmpty() ? QStringLiteral("er endet vorzeitig.") : why));
}

// Excel writes characters that XML cannot hold as _xHHHH_ (and a literal "_x" sequence
// with its underscore as _x005F_).
QString unescapeXlsx(const QString &s)
{
    if (!s.contains(QLatin1String("_x")))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s.at(i) == QLatin1Char('_') && i + 6 < s.size() && s.at(i + 1) == QLatin1Char('x') &&
            s.at(i + 6) == QLatin1Char('_')) {
            bool ok = false;
            const uint code = s.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += s.at(i);
    }
    return out;
}

// A part's name from a relationship's target, which is relative to the folder of the part
// that names it unless it starts with "/".
QString resolve(const QString &folder, const QString &target)
{
    const QString path = target.startsWith(QLatin1Char('/')) ? target.mid(1) : folder + target;
    QStringList parts;
    for (const QString &p : path.split(QLatin1Char('/'))) {
        if (p == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (!p.isEmpty() && p != QLatin1String(".")) {
            parts << p;
        }
    }
    return parts.join(QLatin1Char('/'));
}

QString folderOf(const QString &part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash + 1);
}

struct Relationship
{
    QString type;
    QString target;
};

// The relationships of part (by id); nothing when the part has none.
std::map<QString, Relationship> relationships(const Zip::Archive &zip, const QString &part)
{
    const QString folder = folderOf(part);
    const QString rels =
        folder + QStringLiteral("_rels/") + part.mid(folder.size()) + QStringLiteral(".rels");
    std::map<QString, Relationship> out;
    const auto bytes = zip.read(rels, MaxSmallPart);
    if (!bytes)
        return out;
    QXmlStreamReader xml(*bytes);
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != u"Relationship")
            continue;
        const auto a = xml.attributes();
        if (a.value(QLatin1String("TargetMode")) == u"External")
            continue;
        out[a.value(QLatin1String("Id")).toString()] = {
            a.value(QLatin1String("Type")).toString(),
            resolve(folder, a.value(QLatin1String("Target")).toString())};
    }
    return out;
}

const Relationship *byType(const std::map<QString, Relationship> &rels, QStringView suffix)
{
    for (const auto &[id, rel] : rels)
        if (rel.type.endsWith(suffix))
            return &rel;
    return nullptr;
}

// Inline and shared texts: the runs of rich text one after the other, without the
// phonetic guides.
QString richText(QXmlStreamReader &xml, QStringView end)
{
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == u"t")
                text += xml.readElementText();
            else if (xml.name() == u"rPh")
                xml.skipCurrentElement();
        } else if (xml.isEndElement() && xml.name() == end) {
            break;
        }
    }
    return unescapeXlsx(text);
}

std::vector<NumberStyle> cellFormats(const QByteArray &styles)
{
    std::map<int, QString> codes;
    std::vector<int> ids;
    QXmlStreamReader xml(styles);
    bool inCellXfs = false;
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto a = xml.attributes();
            if (xml.name() == u"numFmt")
                codes[a.value(QLatin1String("numFmtId")).toInt()] =
                    a.value(QLatin1String("formatCode")).toString();
            else if (xml.name() == u"cellXfs")
                inCellXfs = true;
            else if (inCellXfs && xml.name() == u"xf")
                ids.push_back(a.value(QLatin1String("numFmtId")).toInt());
        } else if (xml.isEndElement() && xml.name() == u"cellXfs") {
            inCellXfs = false;
        }
    }
    std::vector<NumberStyle> out;
    out.reserve(ids.size());
    for (int id : ids) {
        const auto own = codes.find(id);
        out.push_back(SheetValues::styleOfFormatCode(
            own != codes.end() ? own->second : SheetValues::builtinFormatCode(id)));
    }
    return out;
}

// 0 for A, 25 for Z, 26 for AA...; -1 without letters.
int columnOf(QByteArrayView ref)
{
    int col = 0;
    qsizetype i = 0;
    for (; i < ref.size() && i < 4; ++i) {
        const char ch = ref.at(i);
        if (ch < 'A' || ch > 'Z')
            break;
        col = col * 26 + (ch - 'A' + 1);
    }
    return i == 0 ? -1 : col - 1;
}

int rowOf(QByteArrayView ref)
{
    qsizetype i = 0;
    while (i < ref.size() && ref.at(i) >= 'A' && ref.at(i) <= 'Z')
        ++i;
    bool ok = false;
    const int r = ref.sliced(i).toInt(&ok);
    return ok ? r - 1 : -1;
}

} // namespace

Result SheetReaderParts::readXlsx(const Zip::Archive &zip, int colCount)
{
    const auto top = relationships(zip, QString());
    const Relationship *doc = byType(top, u"/officeDocument");
    if (!doc)
        return refused(QStringLiteral("Das Paket ist keine Arbeitsmappe."));
    if (doc->type.contains(QLatin1String("purl.oclc.org")))
        return refused(QStringLiteral("Die Arbeitsmappe ist im Format \"Strict Open XML\"."));
    if (!doc->target.endsWith(QLatin1String(".xml")))
        return refused(QStringLiteral("Die Arbeitsmappe ist binär (.xlsb)."));
    const auto workbook = zip.read(doc->target, MaxSmallPart);
    if (!workbook)
        return refused(QStringLiteral("Die Arbeitsmappe fehlt im Paket."));
    const auto rels = relationships(zip, doc->target);

    // The first worksheet in the order of the tabs (chart sheets are no worksheets).
    bool date1904 = false;
    QString sheetPart;
    {
        QXmlStreamReader xml(*workbook);
        while (!xml.atEnd() && !xml.hasError() && sheetPart.isEmpty()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == u"workbookPr") {
                date1904 = isTrue(xml.attributes().value(QLatin1String("date1904")));
            } else if (xml.name() == u"sheet") {
                for (const QXmlStreamAttribute &a : xml.attributes()) {
                    if (a.name() != u"id" || !a.namespaceUri().endsWith(u"/relationships"))
                        continue;
                    const auto rel = rels.find(a.value().toString());
                    if (rel != rels.end() && rel->second.type.endsWith(u"/worksheet"))
                        sheetPart = rel->second.target;
                }
            }
        }
        if (xml.hasError())
            return damaged(xml, nullptr, doc->target);
    }
    if (sheetPart.isEmpty())
        return refused(QStringLiteral("Die Arbeitsmappe hat kein Tabellenblatt."));

    std::vector<NumberStyle> formats;
    if (const Relationship *styles = byType(rels, u"/styles"))
        if (const auto bytes = zip.read(styles->target, MaxSmallPart))
            formats = cellFormats(*bytes);

    std::vector<QString> shared;
    if (const Relationship *sst = byType(rels, u"/sharedStrings")) {
        const auto entry = zip.open(sst->target, SheetReader::MaxPartBytes);
        if (!entry)
            return refused(QStringLiteral("Die Texte der Arbeitsmappe fehlen."));
        QXmlStreamReader xml(entry.get());
        qint64 chars = 0;
        while (!xml.atEnd() && !xml.hasError()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == u"si") {
                shared.push_back(richText(xml, u"si"));
                chars += shared.back().size();
                if (chars > SheetReader::MaxTextChars)
                    return failed(QStringLiteral("Die Arbeitsmappe hat zu viel Text."));
            }
        }
        if (xml.hasError())
            return damaged(xml, entry.get(), sst->target);
    }

    const auto entry = zip.open(sheetPart, SheetReader::MaxPartBytes);
    if (!entry)
        return refused(QStringLiteral("Das Tabellenblatt fehlt im Paket."));
    // A million cells: read with our own scanner, not QXmlStreamReader.
    XmlScan xml(entry.get());
    Rows rows(colCount);
    QStringList cells;
    int rowIndex = 0;
    int nextRow = 0;
    int nextCol = 0;
    for (XmlScan::Token token = xml.next(); token != XmlScan::End && !rows.done();
         token = xml.next()) {
        if (token == XmlScan::Error)
            return scanFailed(xml, entry.get(), sheetPart);
        if (token == XmlScan::EndElement) {
            if (xml.name() == "row")
                rows.add(rowIndex, cells);
            else if (xml.name() == "sheetData")
                break;
            continue;
        }
        if (token != XmlScan::StartElement)
            continue;
        if (xml.name() == "row") {
            const QByteArrayView r = xml.attribute("r");
            rowIndex = r.isEmpty() ? nextRow : r.toInt() - 1;
            nextRow = rowIndex + 1;
            nextCol = 0;
            cells = QStringList(colCount);
            continue;
        }
        if (xml.name() != "c")
            continue;
        const QByteArrayView ref = xml.attribute("r");
        int col = ref.isEmpty() ? nextCol : columnOf(ref);
        if (col < 0)
            col = nextCol;
        // A cell of another row than its own would have to go back: the file is damaged.
        if (!ref.isEmpty() && rowOf(ref) != rowIndex)
            return refused(QStringLiteral("Das Tabellenblatt ist beschädigt."));
        nextCol = col + 1;
        const QByteArray type = xml.attribute("t").toByteArray();
        const int style = xml.attribute("s").toInt();
        QString value;
        QString inlineText;
        bool inInline = false;
        for (token = xml.next(); token != XmlScan::Error && token != XmlScan::End;
             token = xml.next()) {
            if (token == XmlScan::EndElement && xml.name() == "c")
                break;
            if (token == XmlScan::EndElement && xml.name() == "is")
                inInline = false;
            if (token != XmlScan::StartElement)
                continue;
            if (xml.name() == "v") {
                if (xml.next() == XmlScan::Text) {
                    value = xml.text();
                    xml.next();
                }
            } else if (xml.name() == "is") {
                inInline = true;
            } else if (inInline && xml.name() == "t") {
                // The runs of rich text one after the other.
                if (xml.next() == XmlScan::Text) {
                    inlineText += xml.text();
                    xml.next();
                }
            } else if (inInline && xml.name() == "r") {
                continue;
            } else if (!xml.skipElement()) {
                break;
            }
        }
        if (token == XmlScan::Error || token == XmlScan::End)
            return scanFailed(xml, entry.get(), sheetPart);
        if (col >= colCount)
            continue;
        QString text;
        if (type == "inlineStr") {
            text = unescapeXlsx(inlineText);
        } else if (type == "s") {
            bool ok = false;
            const qsizetype i = value.toLongLong(&ok);
            if (ok && i >= 0 && i < qsizetype(shared.size()))
                text = shared[size_t(i)];
        } else if (type == "str" || type == "e") {
            text = unescapeXlsx(value);
        } else if (type == "b") {
            text = value.isEmpty() ? QString() : SheetValues::booleanText(isTrue(value));
        } else if (type == "d") {
            const NumberStyle s = style >= 0 && size_t(style) < formats.size()
                                      ? formats[size_t(style)]
                                      : NumberStyle();
            text = SheetValues::dateText(value, value.contains(QLatin1Char('T')) &&
                                                    s.kind != NumberStyle::Date);
        } else if (!value.isEmpty()) {
            const std::optional<double> d = SheetValues::parseNumber(value);
            const NumberStyle s = style >= 0 && size_t(style) < formats.size()
                                      ? formats[size_t(style)]
                                      : NumberStyle();
            text = d ? SheetValues::numberText(*d, s, date1904) : value;
        }
        cells[col] = text;
    }
    return finish(rows);
}

// ---- .ods ----

namespace {

// Names are compared without their prefixes: the OpenDocument names we look for (table-cell,
// value-type, time-value...) are used by no other part of a spreadsheet's content.

int count(QByteArrayView v)
{
    const int n = v.toInt();
    return n > 0 ? n : 1;
}

// The number formats of the cell styles, from both styles.xml and content.xml.
class OdsStyles
{
public:
    // Takes a style element the scanner has just started, if it is one we need.
    void take(XmlScan &xml)
    {
        const QByteArrayView n = xml.name();
        if (n == "style") {
            if (xml.attribute("family") == "table-cell")
                m_cell[xml.attribute("name").toByteArray()] = {
                    xml.attribute("data-style-name").toByteArray(),
                    xml.attribute("parent-style-name").toByteArray()};
            return;
        }
        if (!n.endsWith("-style") || n == "default-style" || n == "page-layout")
            return;
        const QByteArray end = n.toByteArray();
        const QByteArray name = xml.attribute("name").toByteArray();
        NumberStyle s;
        const bool percent = end == "percentage-style";
        const bool date = end == "date-style";
        const bool time = end == "time-style";
        if (time && xml.attribute("truncate-on-overflow") == "false")
            s.kind = NumberStyle::Duration;
        else if (time)
            s.kind = NumberStyle::Time;
        else if (date)
            s.kind = NumberStyle::Date;
        for (XmlScan::Token t = xml.next(); t != XmlScan::End && t != XmlScan::Error;
             t = xml.next()) {
            if (t == XmlScan::EndElement && xml.name() == end)
                break;
            if (t != XmlScan::StartElement)
                continue;
            const QByteArrayView part = xml.name();
            if (date && (part == "hours" || part == "minutes" || part == "seconds"))
                s.kind = NumberStyle::DateTime;
            if (!time && !date && part == "number") {
                s.kind = percent ? NumberStyle::Percent : NumberStyle::Fixed;
                s.maxDecimals = xml.attribute("decimal-places").toInt();
                const QByteArrayView min = xml.attribute("min-decimal-places");
                s.minDecimals = min.isEmpty() ? s.maxDecimals : qMin(min.toInt(), s.maxDecimals);
            }
        }
        m_data[name] = s;
    }

    // The number format a cell of this style shows; General when it has none.
    NumberStyle of(const QByteArray &cellStyle) const
    {
        QByteArray name = cellStyle;
        for (int depth = 0; depth < 16 && !name.isEmpty(); ++depth) {
            const auto cell = m_cell.find(name);
            if (cell == m_cell.end())
                break;
            if (!cell->second.first.isEmpty()) {
                const auto data = m_data.find(cell->second.first);
                return data == m_data.end() ? NumberStyle() : data->second;
            }
            name = cell->second.second;
        }
        return NumberStyle();
    }

private:
    std::map<QByteArray, std::pair<QByteArray, QByteArray>> m_cell; // data style, parent
    std::map<QByteArray, NumberStyle> m_data;
};

void readStyles(QByteArray bytes, OdsStyles &styles)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    XmlScan xml(&buffer);
    for (XmlScan::Token t = xml.next(); t != XmlScan::End && t != XmlScan::Error; t = xml.next())
        if (t == XmlScan::StartElement)
            styles.take(xml);
}

struct OdsCell
{
    QByteArray type;
    QByteArray style;
    QByteArray value;
    QByteArray dateValue;
    QByteArray timeValue;
    QByteArray booleanValue;
    QString stringValue;
    bool hasStringValue = false;
};

// The text of a cell's paragraphs, one line each; white space as OpenDocument keeps it
// (runs written as <text:s/>), notes left out. Leaves the scanner after the cell's end.
bool paragraphs(XmlScan &xml, QString *text)
{
    int paragraphsSeen = 0;
    int depth = 0;       // inside the cell
    int inParagraph = 0; // open paragraphs
    bool lastBlank = false;
    for (;;) {
        switch (xml.next()) {
        case XmlScan::StartElement: {
            ++depth;
            const QByteArrayView n = xml.name();
            if (n == "annotation" || n == "note" || n == "ruby-text") {
                if (!xml.skipElement())
                    return false;
                --depth;
            } else if (n == "p" || n == "h") {
                if (inParagraph == 0 && paragraphsSeen++ > 0)
                    *text += QLatin1Char('\n');
                ++inParagraph;
                lastBlank = false;
            } else if (n == "s" && inParagraph) {
                *text += QString(count(xml.attribute("c")), QLatin1Char(' '));
                lastBlank = false;
            } else if (n == "tab" && inParagraph) {
                *text += QLatin1Char('\t');
                lastBlank = false;
            } else if (n == "line-break" && inParagraph) {
                *text += QLatin1Char('\n');
                lastBlank = false;
            }
            break;
        }
        case XmlScan::EndElement: {
            if (depth == 0)
                return true; // the cell's own end
            --depth;
            const QByteArrayView n = xml.name();
            if ((n == "p" || n == "h") && inParagraph > 0)
                --inParagraph;
            break;
        }
        case XmlScan::Text:
            if (!inParagraph)
                break;
            // XML white space in a paragraph counts as one blank.
            for (const QChar ch : xml.text()) {
                const bool blank = ch == QLatin1Char(' ') || ch == QLatin1Char('\t') ||
                                   ch == QLatin1Char('\n') || ch == QLatin1Char('\r');
                if (blank && lastBlank)
                    continue;
                *text += blank ? QLatin1Char(' ') : ch;
                lastBlank = blank;
            }
            break;
        default:
            return false;
        }
    }
}

QString odsCellText(const OdsCell &cell, const QString &text, const OdsStyles &styles)
{
    const QByteArray &type = cell.type;
    if (type.isEmpty())
        return text;
    const NumberStyle style = styles.of(cell.style);
    if (type == "string")
        return cell.hasStringValue ? cell.stringValue : text;
    if (type == "boolean")
        return SheetValues::booleanText(isTrue(QString::fromLatin1(cell.booleanValue)));
    if (type == "date") {
        const QString v = QString::fromLatin1(cell.dateValue);
        const QString d = SheetValues::dateText(v, v.contains(QLatin1Char('T')) &&
                                                       style.kind != NumberStyle::Date);
        return d.isEmpty() ? text : d;
    }
    if (type == "time") {
        const auto centis = SheetValues::centisOfDuration(QString::fromLatin1(cell.timeValue));
        if (!centis)
            return text;
        if (style.kind == NumberStyle::Duration)
            return SheetValues::timeText(*centis);
        const qint64 day = SheetValues::CentisPerDay;
        return SheetValues::timeText((*centis % day + day) % day);
    }
    const std::optional<double> parsed = SheetValues::parseNumber(QString::fromLatin1(cell.value));
    if (!parsed)
        return text;
    const double v = *parsed;
    if (type == "percentage" && style.kind != NumberStyle::Percent)
        return SheetValues::numberText(v * 100, NumberStyle()) + QLatin1Char('%');
    if (type == "currency" && style.kind != NumberStyle::Fixed)
        return SheetValues::numberText(v, NumberStyle());
    return SheetValues::numberText(v, style);
}

} // namespace

Result SheetReaderParts::readOds(const Zip::Archive &zip, int colCount)
{
    if (const auto manifest = zip.read(QStringLiteral("META-INF/manifest.xml"), MaxSmallPart))
        if (manifest->contains("encryption-data"))
            return refused(QStringLiteral("Die Tabelle ist verschlüsselt."));
    OdsStyles styles;
    if (const auto bytes = zip.read(QStringLiteral("styles.xml"), MaxSmallPart))
        readStyles(*bytes, styles);

    const QString part = QStringLiteral("content.xml");
    const auto entry = zip.open(part, SheetReader::MaxPartBytes);
    if (!entry)
        return refused(QStringLiteral("Der Inhalt der Tabelle fehlt im Paket."));
    XmlScan xml(entry.get());
    Rows rows(colCount);
    bool inTable = false;
    std::vector<QByteArray> columnStyles;
    QStringList cells;
    int rowIndex = 0;
    int rowRepeat = 1;
    int col = 0;
    QByteArray rowStyle;
    for (XmlScan::Token token = xml.next(); token != XmlScan::End && !rows.done();
         token = xml.next()) {
        if (token == XmlScan::Error)
            return scanFailed(xml, entry.get(), part);
        if (token == XmlScan::EndElement && inTable) {
            if (xml.name() == "table-row") {
                // Equal rows one after another are written once, with their count.
                for (int k = 0; k < rowRepeat && rows.add(rowIndex, cells); ++k)
                    ++rowIndex;
            } else if (xml.name() == "table") {
                break;
            }
            continue;
        }
        if (token != XmlScan::StartElement)
            continue;
        if (!inTable) {
            if (xml.name() == "table")
                inTable = true;
            else
                styles.take(xml);
            continue;
        }
        const QByteArrayView n = xml.name();
        if (n == "table-column") {
            const QByteArray style = xml.attribute("default-cell-style-name").toByteArray();
            for (int k = count(xml.attribute("number-columns-repeated"));
                 k > 0 && int(columnStyles.size()) < colCount; --k)
                columnStyles.push_back(style);
        } else if (n == "table-row") {
            rowRepeat = count(xml.attribute("number-rows-repeated"));
            rowStyle = xml.attribute("default-cell-style-name").toByteArray();
            cells = QStringList(colCount);
            col = 0;
        } else if (n == "table-cell" || n == "covered-table-cell") {
            const int repeat = count(xml.attribute("number-columns-repeated"));
            if (col >= colCount) {
                if (!xml.skipElement())
                    return scanFailed(xml, entry.get(), part);
            } else {
                OdsCell cell;
                cell.type = xml.attribute("value-type").toByteArray();
                cell.style = xml.attribute("style-name").toByteArray();
                if (cell.style.isEmpty())
                    cell.style = !rowStyle.isEmpty() || col >= int(columnStyles.size())
                                     ? rowStyle
                                     : columnStyles[size_t(col)];
                cell.value = xml.attribute("value").toByteArray();
                cell.dateValue = xml.attribute("date-value").toByteArray();
                cell.timeValue = xml.attribute("time-value").toByteArray();
                cell.booleanValue = xml.attribute("boolean-value").toByteArray();
                const QByteArrayView own = xml.attribute("string-value");
                cell.hasStringValue = !own.isEmpty();
                if (cell.hasStringValue)
                    cell.stringValue = xmlText(own);
                QString text;
                if (!paragraphs(xml, &text))
                    return scanFailed(xml, entry.get(), part);
                const QString shown = odsCellText(cell, text, styles);
                for (int k = 0; k < repeat && col + k < colCount; ++k)
                    cells[col + k] = shown;
            }
            col = int(qMin<qint64>(colCount, qint64(col) + repeat));
        } else if (n == "table") {
            // A table inside a cell is no part of ours.
            if (!xml.skipElement())
                return scanFailed(xml, entry.get(), part);
        }
    }
    if (!inTable)
        return refused(QStringLiteral("Das Dokument hat keine Tabelle."));
    return finish(rows);
}
