#include "protocol/RecoveryMirror.h"

#include "protocol/Journal.h"

void TRecoveryMirror::hand(TableChanges results, TableChanges pred)
{
    std::lock_guard lock(m_mutex);
    if (!results.empty())
        m_results.push_back(std::move(results));
    if (!pred.empty())
        m_pred.push_back(std::move(pred));
}

QByteArray TRecoveryMirror::line(const QStringList &cells, int colCount)
{
    QStringList row = cells.mid(0, colCount);
    while (row.size() < colCount)
        row << QString();
    return (JournalFormat::line(row) + QLatin1Char('\n')).toUtf8();
}

void TRecoveryMirror::apply(Table &t, TableChanges &&c)
{
    if (c.whole) {
        t.colCount = c.table.colCount;
        t.lines.clear();
        t.lines.reserve(c.table.rows.size());
        for (const QStringList &row : c.table.rows)
            t.lines.push_back(line(row, t.colCount));
        return;
    }
    const QByteArray emptyLine = line({}, t.colCount);
    for (TableChanges::Op &op : c.ops) {
        switch (op.kind) {
        case TableChanges::Op::SetRow:
            if (op.a >= 0 && op.a < int(t.lines.size()))
                t.lines[size_t(op.a)] = line(op.cells, t.colCount);
            break;
        case TableChanges::Op::DeleteRow:
            if (op.a >= 0 && op.a < int(t.lines.size()))
                t.lines.erase(t.lines.begin() + op.a);
            break;
        case TableChanges::Op::MoveRow:
            if (op.a >= 0 && op.b >= 0 && op.a < int(t.lines.size()) &&
                op.b < int(t.lines.size())) {
                QByteArray moved = std::move(t.lines[size_t(op.a)]);
                t.lines.erase(t.lines.begin() + op.a);
                t.lines.insert(t.lines.begin() + op.b, std::move(moved));
            }
            break;
        case TableChanges::Op::Resize:
            t.lines.resize(size_t(std::max(op.a, 0)), emptyLine);
            break;
        }
    }
}

QByteArray TRecoveryMirror::file(const Header &header)
{
    std::vector<TableChanges> results, pred;
    {
        std::lock_guard lock(m_mutex);
        results.swap(m_results);
        pred.swap(m_pred);
    }
    for (TableChanges &c : results)
        apply(m_resultsTable, std::move(c));
    for (TableChanges &c : pred)
        apply(m_predTable, std::move(c));

    QByteArray out = RecoveryFormat::head(header.saved, header.written, header.run);
    qsizetype size = out.size() + 64;
    for (const Table *t : {&m_resultsTable, &m_predTable})
        for (const QByteArray &l : t->lines)
            size += l.size();
    out.reserve(size);
    auto table = [&out](const char *name, const Table &t) {
        out += name;
        out += '\t' + QByteArray::number(t.colCount) + '\t' +
               QByteArray::number(qsizetype(t.lines.size())) + '\n';
        for (const QByteArray &l : t.lines)
            out += l;
    };
    table("Ergebnisprotokoll", m_resultsTable);
    table("Zwischenprotokoll", m_predTable);
    out += "Ende\n";
    return out;
}
