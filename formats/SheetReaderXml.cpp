// The readers of the two zipped XML formats, .xlsx and .ods: each reads the parts it needs
// whole (relationships, styles, shared texts) and the sheet itself as a stream, which it
// leaves as soon as the table has ended.
#include "formats/SheetReaderParts.h"
#include "formats/SheetValues.h"
#include "formats/Zip.h"

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
int columnOf(QStringView ref)
{
    int col = 0;
    qsizetype i = 0;
    for (; i < ref.size() && i < 4; ++i) {
        const char16_t ch = ref.at(i).unicode();
        if (ch < u'A' || ch > u'Z')
            break;
        col = col * 26 + (ch - u'A' + 1);
    }
    return i == 0 ? -1 : col - 1;
}

int rowOf(QStringView ref)
{
    qsizetype i = 0;
    while (i < ref.size() && ref.at(i).isLetter())
        ++i;
    bool ok = false;
    const int r = ref.mid(i).toInt(&ok);
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
    QXmlStreamReader xml(entry.get());
    Rows rows(colCount);
    QStringList cells;
    int rowIndex = 0;
    int nextRow = 0;
    int nextCol = 0;
    while (!xml.atEnd() && !xml.hasError() && !rows.done()) {
        xml.readNext();
        if (xml.isEndElement()) {
            if (xml.name() == u"row")
                rows.add(rowIndex, cells);
            else if (xml.name() == u"sheetData")
                break;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"row") {
            const QStringView r = xml.attributes().value(QLatin1String("r"));
            rowIndex = r.isEmpty() ? nextRow : r.toInt() - 1;
            nextRow = rowIndex + 1;
            nextCol = 0;
            cells = QStringList(colCount);
            continue;
        }
        if (xml.name() != u"c")
            continue;
        const auto a = xml.attributes();
        const QStringView ref = a.value(QLatin1String("r"));
        int col = ref.isEmpty() ? nextCol : columnOf(ref);
        if (col < 0)
            col = nextCol;
        // A cell of another row than its own would have to go back: the file is damaged.
        if (!ref.isEmpty() && rowOf(ref) != rowIndex)
            return refused(QStringLiteral("Das Tabellenblatt ist beschädigt."));
        nextCol = col + 1;
        const QString type = a.value(QLatin1String("t")).toString();
        const int style = a.value(QLatin1String("s")).toInt();
        QString value;
        QString inlineText;
        while (!xml.atEnd() && !xml.hasError()) {
            xml.readNext();
            if (xml.isEndElement() && xml.name() == u"c")
                break;
            if (!xml.isStartElement())
                continue;
            if (xml.name() == u"v")
                value = xml.readElementText();
            else if (xml.name() == u"is")
                inlineText = richText(xml, u"is");
            else
                xml.skipCurrentElement();
        }
        if (col >= colCount)
            continue;
        QString text;
        if (type == u"inlineStr") {
            text = inlineText;
        } else if (type == u"s") {
            bool ok = false;
            const qsizetype i = value.toLongLong(&ok);
            if (ok && i >= 0 && i < qsizetype(shared.size()))
                text = shared[size_t(i)];
        } else if (type == u"str" || type == u"e") {
            text = unescapeXlsx(value);
        } else if (type == u"b") {
            text = value.isEmpty() ? QString() : SheetValues::booleanText(isTrue(value));
        } else if (type == u"d") {
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
    if (xml.hasError())
        return damaged(xml, entry.get(), sheetPart);
    return finish(rows);
}

// ---- .ods ----

namespace {

const QString OfficeNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString TableNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString StyleNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:style:1.0");
const QString NumberNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0");
const QString TextNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");

// The number formats of the cell styles, from both styles.xml and content.xml.
class OdsStyles
{
public:
    // Takes a style element the reader has just started, if it is one we need.
    bool take(QXmlStreamReader &xml)
    {
        const QStringView n = xml.name();
        if (xml.namespaceUri() == StyleNs && n == u"style") {
            const auto a = xml.attributes();
            if (a.value(StyleNs, QLatin1String("family")) == u"table-cell")
                m_cell[a.value(StyleNs, QLatin1String("name")).toString()] = {
                    a.value(StyleNs, QLatin1String("data-style-name")).toString(),
                    a.value(StyleNs, QLatin1String("parent-style-name")).toString()};
            return false;
        }
        if (xml.namespaceUri() != NumberNs || !n.endsWith(u"-style"))
            return false;
        const QString name = xml.attributes().value(StyleNs, QLatin1String("name")).toString();
        NumberStyle s;
        const bool percent = n == u"percentage-style";
        const bool date = n == u"date-style";
        const bool time = n == u"time-style";
        if (time &&
            xml.attributes().value(NumberNs, QLatin1String("truncate-on-overflow")) == u"false")
            s.kind = NumberStyle::Duration;
        else if (time)
            s.kind = NumberStyle::Time;
        else if (date)
            s.kind = NumberStyle::Date;
        const QString end = n.toString();
        while (!xml.atEnd() && !xml.hasError()) {
            xml.readNext();
            if (xml.isEndElement() && xml.name() == end)
                break;
            if (!xml.isStartElement() || xml.namespaceUri() != NumberNs)
                continue;
            const QStringView part = xml.name();
            if (date && (part == u"hours" || part == u"minutes" || part == u"seconds"))
                s.kind = NumberStyle::DateTime;
            if (!time && !date && part == u"number") {
                const auto a = xml.attributes();
                s.kind = percent ? NumberStyle::Percent : NumberStyle::Fixed;
                s.maxDecimals = a.value(NumberNs, QLatin1String("decimal-places")).toInt();
                const QStringView min = a.value(NumberNs, QLatin1String("min-decimal-places"));
                s.minDecimals = min.isEmpty() ? s.maxDecimals : qMin(min.toInt(), s.maxDecimals);
            }
        }
        m_data[name] = s;
        return true;
    }

    // The number format a cell of this style shows; General when it has none.
    NumberStyle of(const QString &cellStyle) const
    {
        QString name = cellStyle;
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
    std::map<QString, std::pair<QString, QString>> m_cell; // data style, parent style
    std::map<QString, NumberStyle> m_data;
};

void readStyles(const QByteArray &bytes, OdsStyles &styles)
{
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.isStartElement())
            styles.take(xml);
    }
}

int repeated(const QXmlStreamAttributes &a, const QString &ns, const char *name)
{
    const int n = a.value(ns, QLatin1String(name)).toInt();
    return n > 0 ? n : 1;
}

// The text of a cell's paragraphs, one line each; white space as OpenDocument keeps it
// (runs written as <text:s/>), notes left out. Leaves the reader at the cell's end.
QString paragraphs(QXmlStreamReader &xml)
{
    QString text;
    int paragraphsSeen = 0;
    int depth = 0;       // inside the cell
    int inParagraph = 0; // depth of open paragraphs
    bool lastBlank = false;
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.isStartElement()) {
            ++depth;
            const QStringView n = xml.name();
            const bool text_ = xml.namespaceUri() == TextNs;
            if (n == u"annotation" || (text_ && (n == u"note" || n == u"ruby-text"))) {
                xml.skipCurrentElement();
                --depth;
            } else if (text_ && (n == u"p" || n == u"h")) {
                if (inParagraph == 0 && paragraphsSeen++ > 0)
                    text += QLatin1Char('\n');
                ++inParagraph;
                lastBlank = false;
            } else if (text_ && n == u"s" && inParagraph) {
                text += QString(repeated(xml.attributes(), TextNs, "c"), QLatin1Char(' '));
                lastBlank = false;
            } else if (text_ && n == u"tab" && inParagraph) {
                text += QLatin1Char('\t');
                lastBlank = false;
            } else if (text_ && n == u"line-break" && inParagraph) {
                text += QLatin1Char('\n');
                lastBlank = false;
            }
        } else if (xml.isEndElement()) {
            if (depth == 0)
                break; // the cell's own end
            --depth;
            const QStringView n = xml.name();
            if (xml.namespaceUri() == TextNs && (n == u"p" || n == u"h"))
                --inParagraph;
        } else if (xml.isCharacters() && inParagraph) {
            // XML white space in a paragraph counts as one blank.
            for (const QChar ch : xml.text()) {
                const bool blank = ch == QLatin1Char(' ') || ch == QLatin1Char('\t') ||
                                   ch == QLatin1Char('\n') || ch == QLatin1Char('\r');
                if (blank && lastBlank)
                    continue;
                text += blank ? QLatin1Char(' ') : ch;
                lastBlank = blank;
            }
        }
    }
    return text;
}

QString odsCellText(QXmlStreamReader &xml, const OdsStyles &styles, const QString &fallbackStyle)
{
    const QXmlStreamAttributes a = xml.attributes();
    const QString text = paragraphs(xml);
    const QStringView type = a.value(OfficeNs, QLatin1String("value-type"));
    if (type.isEmpty())
        return text;
    QString styleName = a.value(TableNs, QLatin1String("style-name")).toString();
    if (styleName.isEmpty())
        styleName = fallbackStyle;
    const NumberStyle style = styles.of(styleName);
    if (type == u"string") {
        const QStringView own = a.value(OfficeNs, QLatin1String("string-value"));
        return own.isEmpty() ? text : own.toString();
    }
    if (type == u"boolean")
        return SheetValues::booleanText(isTrue(a.value(OfficeNs, QLatin1String("boolean-value"))));
    if (type == u"date") {
        const QString v = a.value(OfficeNs, QLatin1String("date-value")).toString();
        const QString d = SheetValues::dateText(v, v.contains(QLatin1Char('T')) &&
                                                       style.kind != NumberStyle::Date);
        return d.isEmpty() ? text : d;
    }
    if (type == u"time") {
        const auto centis = SheetValues::centisOfDuration(
            a.value(OfficeNs, QLatin1String("time-value")).toString());
        if (!centis)
            return text;
        if (style.kind == NumberStyle::Duration)
            return SheetValues::timeText(*centis);
        const qint64 day = SheetValues::CentisPerDay;
        return SheetValues::timeText((*centis % day + day) % day);
    }
    const std::optional<double> parsed =
        SheetValues::parseNumber(a.value(OfficeNs, QLatin1String("value")));
    if (!parsed)
        return text;
    const double v = *parsed;
    if (type == u"percentage" && style.kind != NumberStyle::Percent)
        return SheetValues::numberText(v * 100, NumberStyle()) + QLatin1Char('%');
    if (type == u"currency" && style.kind != NumberStyle::Fixed)
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
    QXmlStreamReader xml(entry.get());
    Rows rows(colCount);
    bool inTable = false;
    std::vector<QString> columnStyles;
    QStringList cells;
    int rowIndex = 0;
    int rowRepeat = 1;
    int col = 0;
    QString rowStyle;
    while (!xml.atEnd() && !xml.hasError() && !rows.done()) {
        xml.readNext();
        if (xml.isEndElement() && xml.namespaceUri() == TableNs) {
            if (xml.name() == u"table-row") {
                // Equal rows one after another are written once, with their count.
                for (int k = 0; k < rowRepeat && rows.add(rowIndex, cells); ++k)
                    ++rowIndex;
            } else if (xml.name() == u"table") {
                break;
            }
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (!inTable) {
            if (xml.namespaceUri() == TableNs && xml.name() == u"table")
                inTable = true;
            else
                styles.take(xml);
            continue;
        }
        if (xml.namespaceUri() != TableNs)
            continue;
        const QStringView n = xml.name();
        const auto a = xml.attributes();
        if (n == u"table-column") {
            const QString style =
                a.value(TableNs, QLatin1String("default-cell-style-name")).toString();
            for (int k = repeated(a, TableNs, "number-columns-repeated");
                 k > 0 && int(columnStyles.size()) < colCount; --k)
                columnStyles.push_back(style);
        } else if (n == u"table-row") {
            rowRepeat = repeated(a, TableNs, "number-rows-repeated");
            rowStyle = a.value(TableNs, QLatin1String("default-cell-style-name")).toString();
            cells = QStringList(colCount);
            col = 0;
        } else if (n == u"table-cell" || n == u"covered-table-cell") {
            const int count = repeated(a, TableNs, "number-columns-repeated");
            if (col >= colCount) {
                xml.skipCurrentElement();
            } else {
                QString fallback = rowStyle;
                if (fallback.isEmpty() && col < int(columnStyles.size()))
                    fallback = columnStyles[size_t(col)];
                const QString text = odsCellText(xml, styles, fallback);
                for (int k = 0; k < count && col + k < colCount; ++k)
                    cells[col + k] = text;
            }
            col = int(qMin<qint64>(colCount, qint64(col) + count));
        } else if (n == u"table") {
            xml.skipCurrentElement(); // a table inside a cell is no part of ours
        }
    }
    if (xml.hasError())
        return damaged(xml, entry.get(), part);
    if (!inTable)
        return refused(QStringLiteral("Das Dokument hat keine Tabelle."));
    return finish(rows);
}
