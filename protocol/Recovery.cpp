#include "protocol/Recovery.h"

#include "protocol/Journal.h"

#include <QHash>
#include <QTime>

#include <algorithm>

namespace {
const QString kResults = QStringLiteral("Ergebnisprotokoll");
const QString kPred = QStringLiteral("Zwischenprotokoll");
const QString kWritten = QStringLiteral("Geschrieben");
const QString kSaved = QStringLiteral("Gespeichert");
const QString kEnd = QStringLiteral("Ende");
const QString kClock = QStringLiteral("Uhr");
const QString kBarrier = QStringLiteral("Lichtschranke");
const QString kRunWords[] = {QStringLiteral("ruht"), QStringLiteral("läuft"),
                             QStringLiteral("gestoppt")};
const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

void appendTable(QString &out, const QString &name, const TableData &t)
{
    out += name + QLatin1Char('\t') + QString::number(t.colCount) + QLatin1Char('\t') +
           QString::number(t.rowCount()) + QLatin1Char('\n');
    for (const QStringList &row : t.rows) {
        QStringList cells = row.mid(0, t.colCount);
        while (cells.size() < t.colCount)
            cells << QString();
        out += JournalFormat::line(cells) + QLatin1Char('\n');
    }
}

// Reads one table from lines[at]; at is moved past it. Nothing when it is not whole.
std::optional<TableData> readTable(const QStringList &lines, qsizetype &at, const QString &name,
                                   int minCols, int maxCols)
{
    if (at >= lines.size())
        return std::nullopt;
    const QStringList head = lines[at].split(QLatin1Char('\t'));
    bool okCols = false, okRows = false;
    if (head.size() != 3 || head[0] != name)
        return std::nullopt;
    const int cols = head[1].toInt(&okCols);
    const qsizetype rows = head[2].toLongLong(&okRows);
    if (!okCols || !okRows || cols < minCols || cols > maxCols || rows < 1 ||
        rows > lines.size() - at - 1)
        return std::nullopt;
    TableData t;
    t.colCount = cols;
    t.rows.reserve(size_t(rows));
    for (qsizetype r = 0; r < rows; ++r) {
        QStringList cells = JournalFormat::fields(lines[at + 1 + r]);
        if (cells.size() != cols)
            return std::nullopt;
        t.rows.push_back(std::move(cells));
    }
    at += rows + 1;
    return t;
}
} // namespace

bool RecoveryFormat::tableEmpty(const TableData &t)
{
    for (int r = 1; r < t.rowCount(); ++r)
        for (const QString &cell : t.rows[size_t(r)])
            if (!TableData::isBlank(cell))
                return false;
    return true;
}

bool RecoveryFormat::hasData(const State &s)
{
    return !tableEmpty(s.results) || !tableEmpty(s.pred);
}

QByteArray RecoveryFormat::encode(const State &s)
{
    return encode(s.results, s.pred, s.saved, s.written, s.run);
}

QByteArray RecoveryFormat::head(bool saved, const QDateTime &written, const Run &run)
{
    QString out = QStringLiteral(
        "# Tornelo: Wiederherstellungsdatei. Zellen durch TAB getrennt; \\t, \\r, \\n und \\\\ "
        "stehen für TAB, CR, LF und den Backslash in einer Zelle.\n");
    out += kWritten + QLatin1Char('\t') + written.toString(kStampFormat) + QLatin1Char('\n');
    out += kSaved + QLatin1Char('\t') + (saved ? QStringLiteral("ja") : QStringLiteral("nein")) +
           QLatin1Char('\n');
    out += kClock + QLatin1Char('\t') + kRunWords[run.state] + QLatin1Char('\n');
    out += kBarrier + QLatin1Char('\t') +
           (run.barrierFree ? QStringLiteral("frei") : QStringLiteral("gesperrt")) +
           QLatin1Char('\n');
    return out.toUtf8();
}

QByteArray RecoveryFormat::encode(const TableData &results, const TableData &pred, bool saved,
                                  const QDateTime &written, const Run &run)
{
    QString out;
    appendTable(out, kResults, results);
    appendTable(out, kPred, pred);
    out += kEnd + QLatin1Char('\n');
    return head(saved, written, run) + out.toUtf8();
}

std::optional<RecoveryFormat::State> RecoveryFormat::decode(const QByteArray &bytes)
{
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    // An editor may have added CRs; a CR inside a cell is always escaped.
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    State s;
    qsizetype at = 0;
    while (at < lines.size() && lines[at].startsWith(QLatin1Char('#')))
        ++at;
    for (; at < lines.size(); ++at) {
        const QStringList f = lines[at].split(QLatin1Char('\t'));
        if (f.size() == 2 && f[0] == kWritten)
            s.written = QDateTime::fromString(f[1], kStampFormat);
        else if (f.size() == 2 && f[0] == kSaved)
            s.saved = f[1] == QLatin1String("ja");
        else if (f.size() == 2 && f[0] == kClock)
            s.run.state = f[1] == kRunWords[Running]   ? Running
                          : f[1] == kRunWords[Stopped] ? Stopped
                                                       : Idle;
        else if (f.size() == 2 && f[0] == kBarrier)
            s.run.barrierFree = f[1] == QLatin1String("frei");
        else
            break;
    }
    auto results = readTable(lines, at, kResults, 3, 2 + 100);
    if (!results)
        return std::nullopt;
    auto pred = readTable(lines, at, kPred, 3, 3);
    if (!pred)
        return std::nullopt;
    // Only a file that reached its end is whole.
    if (at >= lines.size() || lines[at] != kEnd)
        return std::nullopt;
    s.results = std::move(*results);
    s.pred = std::move(*pred);
    return s;
}

QList<RecoveryFormat::Entry>
RecoveryFormat::entriesMissing(const State &s, const QByteArray &journal, qint32 sinceMs)
{
    QList<Entry> candidates;
    auto find = [&candidates](const QString &time, bool numbered) {
        for (qsizetype i = 0; i < candidates.size(); ++i)
            if (candidates[i].time == time && candidates[i].number.isEmpty() != numbered)
                return i;
        return qsizetype(-1);
    };
    for (const QByteArray &raw : journal.split('\n')) {
        const QStringList f = JournalFormat::fields(QString::fromUtf8(raw));
        if (f.size() < 2)
            continue;
        const QTime t = QTime::fromString(f[0], QStringLiteral("HH:mm:ss.zzz"));
        if (!t.isValid() || t.msecsSinceStartOfDay() < sinceMs)
            continue;
        const QString &what = f[1];
        if (what == QLatin1String("Zeit") && f.size() >= 3) {
            candidates.append({f[2], QString()});
        } else if (what == QStringLiteral("Einfügen") && f.size() >= 4) {
            // Moved, not dropped: it comes back with its number, ready to be moved again.
            if (const qsizetype i = find(f[3], false); i >= 0)
                candidates[i].number = f[2];
        } else if (what == QStringLiteral("Zwischenprotokoll löschen")) {
            for (qsizetype k = 2; k < f.size(); ++k)
                if (const qsizetype i = find(f[k], false); i >= 0)
                    candidates.removeAt(i);
        } else if (what == QStringLiteral("Neu / Löschen")) {
            candidates.clear();
        }
    }
    if (candidates.isEmpty())
        return candidates;
    // Each time a table holds stands for one journal line of that time.
    QHash<QString, int> held;
    for (size_t r = 1; r < s.pred.rows.size(); ++r)
        ++held[s.pred.rows[r].value(1)];
    for (size_t r = 1; r < s.results.rows.size(); ++r)
        for (qsizetype c = 2; c < s.results.rows[r].size(); ++c)
            ++held[s.results.rows[r][c]];
    QList<Entry> missing;
    for (const Entry &e : candidates) {
        auto it = held.find(e.time);
        if (it != held.end() && it.value() > 0)
            --it.value();
        else
            missing << e;
    }
    return missing;
}

void RecoveryFormat::appendEntries(TableData &pred, const QList<Entry> &entries)
{
    // Blank rows at the end (the one empty row of an empty list) make way.
    while (pred.rowCount() > 1 &&
           std::all_of(pred.rows.back().begin(), pred.rows.back().end(),
                       [](const QString &c) { return TableData::isBlank(c); }))
        pred.rows.pop_back();
    for (const Entry &e : entries) {
        QStringList row(pred.colCount, QString());
        row[0] = QString::number(pred.rowCount());
        if (pred.colCount > 2) {
            row[1] = e.time;
            row[2] = e.number;
        }
        pred.rows.push_back(row);
    }
    if (pred.rowCount() < 2)
        pred.rows.push_back(QStringList(pred.colCount, QString()));
}
