// "Alle Einfügen" in one pass against the way it was first built, entry by entry (a search
// for each start number, each moved entry deleted on its own), on random tables.
#include "tests/support/core/PlainTables.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// The entry-by-entry Insert all, kept as the reference.
class Reference
{
public:
    Reference(ITable &pred, ITable &results, int n) : m_pred(pred), m_results(results), m_n(n) {}
    QList<QStringList> journal;

    void insertAll()
    {
        int i = 1;
        while (i < m_pred.rowCount()) {
            m_pred.setCurrentRow(i);
            const int before = m_pred.rowCount();
            insert();
            if (TProtocolTables::tableEmpty(m_pred))
                break;
            if (m_pred.rowCount() == before)
                ++i;
        }
        m_pred.setCurrentRow(1);
    }

private:
    void insert()
    {
        const int p = m_pred.currentRow();
        const QString nr = m_pred.cell(2, p);
        if (nr.isEmpty())
            return;
        int r = m_results.findInColumn(0, nr);
        const int last = m_n + 1;
        if (r < 0) {
            if (TProtocolTables::tableEmpty(m_results)) {
                r = 1;
            } else {
                m_results.setRowCount(m_results.rowCount() + 1);
                r = m_results.rowCount() - 1;
                m_results.clearRow(r);
            }
        }
        m_results.setCell(0, r, nr);
        if (!TableData::isBlank(m_results.cell(last, r))) {
            m_results.setCurrentRow(r);
            return;
        }
        int i = 2;
        while (i < last && !TableData::isBlank(m_results.cell(i, r)))
            ++i;
        const QString time = m_pred.cell(1, p);
        m_results.setCell(i, r, time);
        journal.push_back(
            {QStringLiteral("Einfügen"), nr, time, TProtocolTables::timeTitle(i - 1)});
        m_pred.deleteRow(p);
        if (m_pred.rowCount() - 1 >= p)
            m_pred.setCurrentRow(p);
    }

    ITable &m_pred;
    ITable &m_results;
    int m_n;
};

struct Tables
{
    explicit Tables(int n) : pred(plainPred()), results(plainResults(n)) {}
    std::unique_ptr<TPlainTable> pred;
    std::unique_ptr<TPlainTable> results;
};

// Start numbers with duplicates, a leading zero, a blank and unknown ones; cars whose time
// columns are full or have gaps; entries without a number.
void fill(Tables &t, int n, QRandomGenerator &rng)
{
    static const QStringList numbers = {"1", "2", "3", "7", "07", "12", " ", "99", "100"};
    const int cars = int(rng.bounded(6));
    t.results->setRowCount(std::max(2, cars + 1));
    for (int r = 1; r <= cars; ++r) {
        t.results->setCell(0, r, numbers[int(rng.bounded(6))]);
        t.results->setCell(1, r, QStringLiteral("Fahrer %1").arg(r));
        for (int c = 2; c < n + 2; ++c)
            if (rng.bounded(3) == 0)
                t.results->setCell(c, r,
                                   QStringLiteral("09:00:%1,00").arg(c * 7 + r, 2, 10, QChar('0')));
    }
    const int entries = int(rng.bounded(12));
    t.pred->setRowCount(std::max(2, entries + 1));
    for (int r = 1; r <= entries; ++r) {
        t.pred->setCell(0, r, QString::number(r));
        t.pred->setCell(1, r,
                        QStringLiteral("10:00:%1,%2")
                            .arg(r, 2, 10, QChar('0'))
                            .arg(int(rng.bounded(100)), 2, 10, QChar('0')));
        const int k = int(rng.bounded(numbers.size() + 3));
        t.pred->setCell(2, r, k < numbers.size() ? numbers[k] : QString());
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
            TProtocolTables::applyTable(*t->pred, TProtocolTables::snapshot(*before.pred));
            TProtocolTables::applyTable(*t->results, TProtocolTables::snapshot(*before.results));
        }
        Reference reference(*ref.pred, *ref.results, n);
        reference.insertAll();

        TProtocolTables tables(*one.pred, *one.results);
        tables.setCountRunden(n);
        QList<QStringList> journal;
        QObject::connect(&tables, &TProtocolTables::changeMade,
                         [&](const QStringList &e) { journal.push_back(e); });
        tables.insertAll();

        SCOPED_TRACE(round);
        ASSERT_EQ(TProtocolTables::snapshot(*one.pred).rows,
                  TProtocolTables::snapshot(*ref.pred).rows);
        ASSERT_EQ(TProtocolTables::snapshot(*one.results).rows,
                  TProtocolTables::snapshot(*ref.results).rows);
        ASSERT_EQ(journal, reference.journal);
        ASSERT_EQ(one.pred->currentRow(), ref.pred->currentRow());
        ASSERT_EQ(one.results->currentRow(), ref.results->currentRow());
    }
}

} // namespace
