#include "protocol/TextFormat.h"

#include "platform/Cp1252.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QIODevice>

#include <limits>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString TextFormat::protocolText(const TSortGrid &g)
{
    QString out;
    // A table whose first car has no start number gives an empty file.
    if (g.RowCount() < 2 || g.Cells(0, 1).isEmpty())
        return out;
    for (int r = 0; r < g.RowCount(); ++r) {
        if (g.Cells(0, r).isEmpty())
            continue;
        for (int c = 0; c < g.ColCount(); ++c) {
            const QString cell = g.Cells(c, r);
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

bool TextFormat::write(const TSortGrid &g, QIODevice &dev)
{
    const QByteArray bytes = encode(protocolText(g));
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
    while (n > 0 && TProtocolTables::isBlank(fields[n - 1]))
        --n;
    return n;
}

// Puts the rows into the grid; returns how many rows were filled and the columns that
// would hold every field that is not blank. An empty line (or one of blanks and
// separators) inside a hand-made or exported list would leave a blank row, and a blank
// first car turns off saving for the whole session: such lines are skipped.
std::pair<int, int> fillRows(TSortGrid &g, const QStringList &lines)
{
    if (g.RowCount() < lines.size())
        g.setRowCount(int(lines.size()));
    int row = 0;
    qsizetype used = 0;
    for (const QString &line : lines) {
        const QStringList fields = TextFormat::splitFields(line, std::numeric_limits<int>::max());
        const qsizetype n = usedFields(fields);
        if (row > 0 && n == 0)
            continue;
        used = qMax(used, n);
        g.clearRow(row);
        for (int c = 0; c < fields.size() && c < g.ColCount(); ++c)
            g.setCells(c, row, fields[c]);
        ++row;
    }
    return {row, int(used)};
}
} // namespace

int TextFormat::load(TSortGrid &g, const QStringList &lines,
                     const std::function<void(int columns)> &needColumns)
{
    auto [n, used] = fillRows(g, lines);
    if (used > g.ColCount() && needColumns) {
        const int before = g.ColCount();
        needColumns(used);
        // Seldom: filled once more, now with room for the fields that did not fit.
        if (g.ColCount() > before)
            n = fillRows(g, lines).first;
    }
    // Rows of the previous table must not survive under the new one.
    for (int r = qMax(n, 1); r < g.RowCount(); ++r)
        g.clearRow(r);
    g.setRowCount(qMax(n, 2));
    if (TProtocolTables::isBlank(g.Cells(0, 0)))
        g.setCells(0, 0, QStringLiteral("Nr."));
    if (TProtocolTables::isBlank(g.Cells(1, 0)))
        g.setCells(1, 0, QStringLiteral("Fahrer"));
    return n;
}
