// "Alle Einfügen" in one pass against the way it was first built, entry by entry (a search
// for each start number, each moved entry deleted on its own), on random tables.
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// The entry-by-entry Insert all, kept as the reference.
class Reference
{
public:
    Reference(TSortGrid &pred, TSortGrid &results, int n) : m_pred(pred), m_results(results), m_n(n)
    {}
    QList<QStringList> journal;

    void insertAll()
    {
        int i = 1;
        while (i < m_pred.RowCount()) {
            m_pred.setRow(i);
            const int before = m_pred.RowCount();
            insert();
            if (TProtocolTables::tableEmpty(m_pred))
                break;
            if (m_pred.RowCount() == before)
                ++i;
        }
        m_pred.setRow(1);
    }

private:
    void insert()
    {
        const int p = m_pred.Row();
        const QString nr = m_pred.Cells(2, p);
        if (nr.isEmpty())
            return;
        int r = m_results.FindInColumn(0, nr, false);
        const int last = m_n + 1;
        if (r < 0) {
            if (TProtocolTables::tableEmpty(m_results)) {
                r = 1;
            } else {
                m_results.setRowCount(m_results.RowCount() + 1);
                r = m_results.RowCount() - 1;
                m_results.clearRow(r);
            }
            m_results.setLeftCol(0);
        }
        m_results.setCells(0, r, nr);
        if (!TProtocolTables::isBlank(m_results.Cells(last, r))) {
            m_results.setRow(r);
            return;
        }
        int i = 2;
        while (i < last && !TProtocolTables::isBlank(m_results.Cells(i, r)))
            ++i;
        const QString time = m_pred.Cells(1, p);
        m_results.setCells(i, r, time);
        journal.push_back(
            {QStringLiteral("Einfügen"), nr, time, TProtocolTables::timeTitle(i - 1)});
        m_pred.DeleteRow(p);
        if (m_pred.RowCount() - 1 >= p)
            m_pred.setRow(p);
    }

    TSortGrid &m_pred;
    TSortGrid &m_results;
    int m_n;
};

struct Tables
{
    explicit Tables(int n)
    {
        TProtocolTables::configurePred(pred);
        TProtocolTables::configureResults(results, n);
        pred.setCells(1, 0, QStringLiteral("Zeit"));
        pred.setCells(2, 0, QStringLiteral("Nr."));
        results.setCells(0, 0, QStringLiteral("Nr."));
        for (int c = 2; c < n + 2; ++c)
            results.setCells(c, 0, TProtocolTables::timeTitle(c - 1));
    }
    TSortGrid pred;
    TSortGrid results;
};

// Start numbers with duplicates, a leading zero, a blank and unknown ones; cars whose time
// columns are full or have gaps; entries without a number.
void fill(Tables &t, int n, QRandomGenerator &rng)
{
    static const QStringList numbers = {"1", "2", "3", "7", "07", "12", " ", "99", "100"};
    const int cars = int(rng.bounded(6));
    t.results.setRowCount(std::max(2, cars + 1));
    for (int r = 1; r <= cars; ++r) {
        t.results.setCells(0, r, numbers[int(rng.bounded(6))]);
        t.results.setCells(1, r, QStringLiteral("Fahrer %1").arg(r));
        for (int c = 2; c < n + 2; ++c)
            if (rng.bounded(3) == 0)
                t.results.setCells(c, r,
                                   QStringLiteral("09:00:%1,00").arg(c * 7 + r, 2, 10, QChar('0')));
    }
    const int entries = int(rng.bounded(12));
    t.pred.setRowCount(std::max(2, entries + 1));
    for (int r = 1; r <= entries; ++r) {
        t.pred.setCells(0, r, QString::number(r));
        t.pred.setCells(1, r,
                        QStringLiteral("10:00:%1,%2")
                            .arg(r, 2, 10, QChar('0'))
                            .arg(int(rng.bounded(100)), 2, 10, QChar('0')));
        const int k = int(rng.bounded(numbers.size() + 3));
        t.pred.setCells(2, r, k < numbers.size() ? numbers[k] : QString());
    }
}

TEST(InsertAll, OnePassEqualsEntryByEntryOnRandomTables)
{
    QRandomGenerator rng(20261209);
    for (int round = 0; round < 1000; ++round) {
        const int n = 1 + int(rng.bounded(4));
        Tables before(n);
        fill(before, n, rng);
        Tables ref(n), one(n);
        for (Tables *t : {&ref, &one}) {
            TProtocolTables::applyTable(t->pred, TProtocolTables::snapshot(before.pred));
            TProtocolTables::applyTable(t->results, TProtocolTables::snapshot(before.results));
        }
        Reference reference(ref.pred, ref.results, n);
        reference.insertAll();

        TProtocolTables tables(one.pred, one.results, TProtocolTables::Buttons{});
        tables.setCountRunden(n);
        QList<QStringList> journal;
        tables.journal = [&](const QStringList &e) { journal.push_back(e); };
        tables.bInsertALLClick();

        SCOPED_TRACE(round);
        ASSERT_EQ(TProtocolTables::snapshot(one.pred).rows,
                  TProtocolTables::snapshot(ref.pred).rows);
        ASSERT_EQ(TProtocolTables::snapshot(one.results).rows,
                  TProtocolTables::snapshot(ref.results).rows);
        ASSERT_EQ(journal, reference.journal);
        ASSERT_EQ(one.pred.Row(), ref.pred.Row());
        ASSERT_EQ(one.results.Row(), ref.results.Row());
    }
}

} // namespace
