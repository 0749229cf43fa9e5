#include "live/RecentEntries.h"

#include <QHash>

namespace {
constexpr size_t kKept = 100;

QString number(const QString &cell)
{
    return TableData::isBlank(cell) ? QString() : cell.trimmed();
}
} // namespace

void RecentEntries::taken(const QString &time)
{
    m_taken.push_back(time);
    if (m_taken.size() > kKept)
        m_taken.pop_front();
}

std::vector<LiveEntry> RecentEntries::follow(const TableData &pred, const TableData &results) const
{
    // Every place a time text stands, each to be claimed by one time taken: two cars can
    // be stamped in the same hundredth.
    QHash<QString, QStringList> inPred, inResults;
    for (int r = 1; r < pred.rowCount(); ++r)
        if (!TableData::isBlank(pred.cell(1, r)))
            inPred[pred.cell(1, r)].append(number(pred.cell(2, r)));
    for (int r = 1; r < results.rowCount(); ++r)
        for (int c = 2; c < results.colCount; ++c)
            if (!TableData::isBlank(results.cell(c, r)))
                inResults[results.cell(c, r)].append(number(results.cell(0, r)));

    std::vector<LiveEntry> out;
    for (auto it = m_taken.rbegin(); it != m_taken.rend() && out.size() < size_t(Shown); ++it) {
        // The newest time takes the lowest of equal entries: entries are appended.
        QStringList *at = nullptr;
        if (auto p = inPred.find(*it); p != inPred.end() && !p->isEmpty())
            at = &*p;
        else if (auto q = inResults.find(*it); q != inResults.end() && !q->isEmpty())
            at = &*q;
        if (at)
            out.push_back(LiveEntry{*it, at->takeLast()});
    }
    return out;
}
