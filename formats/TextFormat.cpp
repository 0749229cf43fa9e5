#include "formats/TextFormat.h"

#include "formats/Cp1252.h"

#include <QIODevice>

#include <limits>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString TextFormat::protocolText(const TableData &t)
{
    QString out;
    // A table whose first car has no start number gives an empty file.
    if (t.rowCount() < 2 || t.cell(0, 1).isEmpty())
        return out;
    for (int r = 0; r < t.rowCount(); ++r) {
        if (t.cell(0, r).isEmpty())
            continue;
        for (int c = 0; c < t.colCount; ++c) {
            const QString cell = t.cell(c, r);
            out += cell.isEmpty() ? QStringLiteral(" ") : cell;
            out += QLatin1Char('\t');
        }
        out += kCrLf;
    }
    return out;
}

QByteArray TextFormat::encode(const QString &text)
{
    if (Cp1252::canEncode(text))
        return Cp1252::encode(text);
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool TextFormat::write(const TableData &t, QIODevice &dev)
{
    const QByteArray bytes = encode(protocolText(t));
    return dev.write(bytes) == bytes.size();
}

std::optional<QByteArray> TextFormat::readAll(QIODevice &dev, qint64 maxBytes)
{
    QByteArray out;
    char buf[65536];
    for (;;) {
        const qint64 n = dev.read(buf, sizeof buf);
        if (n < 0)
            return std::nullopt;
        if (n == 0 && (dev.atEnd() || !dev.isSequential()))
            break;
        if (n == 0 && !dev.waitForReadyRead(-1))
            break;
        out.append(buf, n);
        if (maxBytes >= 0 && out.size() > maxBytes)
            return std::nullopt;
    }
    return out;
}

QStringList TextFormat::splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text.at(i);
        if (ch != QLatin1Char('\r') && ch != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (ch == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QStringList TextFormat::splitFields(QString line, int maxFields)
{
    // Runs of TABs shrink to one: an empty field between two TABs is dropped.
    while (line.contains(QStringLiteral("\t\t")))
        line.replace(QStringLiteral("\t\t"), QStringLiteral("\t"));
    const QChar sep = line.contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(';');
    QStringList fields = line.split(sep);
    // A separator at the end makes no extra field; an empty line makes none at all.
    if (fields.last().isEmpty())
        fields.removeLast();
    for (QString &f : fields)
        if (f.isEmpty())
            f = QStringLiteral(" "); // keeps its column
    if (fields.size() > maxFields)
        fields.resize(maxFields);
    return fields;
}

namespace {
// Fields up to the last one that is not blank: what a row must hold of the line.
qsizetype usedFields(const QStringList &fields)
{
    qsizetype n = fields.size();
    while (n > 0 && TableData::isBlank(fields[n - 1]))
        --n;
    return n;
}
} // namespace

std::vector<QStringList> TextFormat::fieldRows(const QStringList &lines)
{
    std::vector<QStringList> rows;
    rows.reserve(size_t(lines.size()));
    for (const QString &line : lines) {
        QStringList fields = splitFields(line, std::numeric_limits<int>::max());
        if (!rows.empty() && usedFields(fields) == 0)
            continue;
        rows.push_back(std::move(fields));
    }
    return rows;
}

int TextFormat::columnsUsed(const std::vector<QStringList> &rows)
{
    qsizetype used = 0;
    for (const QStringList &fields : rows)
        used = qMax(used, usedFields(fields));
    return int(used);
}

TableData TextFormat::table(const std::vector<QStringList> &rows, int colCount,
                            const QStringList &titles)
{
    TableData t;
    t.colCount = colCount;
    t.rows.reserve(qMax(rows.size(), size_t(2)));
    for (const QStringList &fields : rows)
        t.rows.push_back(fields.mid(0, colCount));
    if (t.rows.empty())
        t.rows.push_back(titles.mid(0, colCount));
    if (t.rows.size() < 2)
        t.rows.emplace_back();
    for (QStringList &row : t.rows)
        row.resize(colCount);
    QStringList &head = t.rows.front();
    if (colCount > 0 && TableData::isBlank(head[0]))
        head[0] = QStringLiteral("Nr.");
    if (colCount > 1 && TableData::isBlank(head[1]))
        head[1] = QStringLiteral("Fahrer");
    return t;
}
