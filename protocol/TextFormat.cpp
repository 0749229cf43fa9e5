#include "protocol/TextFormat.h"

#include "platform/Cp1252.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QIODevice>

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

int TextFormat::load(TSortGrid &g, const QStringList &lines)
{
    const int n = int(lines.size());
    if (g.RowCount() < n)
        g.setRowCount(n);
    for (int i = 0; i < n; ++i) {
        g.clearRow(i);
        const QStringList fields = splitFields(lines[i], g.ColCount());
        for (int c = 0; c < fields.size(); ++c)
            g.setCells(c, i, fields[c]);
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
