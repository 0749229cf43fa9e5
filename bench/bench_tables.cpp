// Costs of the protocol tables at the sizes of a long trial day: one captured time
// appended to a list of 5,000 entries (the next barrier event waits for it), also with
// 10,000 cars in the results protocol, and "Alle Einfügen" of 5,000 numbered entries over
// 1,000 cars.
#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "app/ProtocolView.h"
#include "protocol/ProtocolTables.h"
#include "tests/support/TestClock.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void fillEntries(TSortGrid &pred, int n, bool numbered)
{
    pred.BeginUpdate();
    pred.setRowCount(n + 1);
    for (int r = 1; r <= n; ++r) {
        pred.setCells(0, r, QString::number(r));
        pred.setCells(1, r,
                      QStringLiteral("10:%1:%2,00")
                          .arg((r / 60) % 60, 2, 10, QChar('0'))
                          .arg(r % 60, 2, 10, QChar('0')));
        pred.setCells(2, r, numbered ? QString::number(1 + (r * 7919) % 1000) : QString());
    }
    pred.EndUpdate();
}

// Cars with start numbers, names of differing widths and two times each.
void fillCars(TSortGrid &results, int n)
{
    results.BeginUpdate();
    results.setRowCount(n + 1);
    for (int r = 1; r <= n; ++r) {
        results.setCells(0, r, QString::number(r));
        results.setCells(1, r, QStringLiteral("Fahrer %1").arg(QString(r % 17 + 1, QChar('m'))));
        results.setCells(2, r, QStringLiteral("10:00:00,00"));
        results.setCells(3, r, QStringLiteral("10:05:00,00"));
    }
    results.EndUpdate();
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1))];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFormMain::portProbe() = [] { return quint32(0); };
    TestClock clock;
    TFormMain w(&clock);
    w.show();
    QApplication::processEvents();
    const WindowControls c = ui(w);

    // Appending one capture to a list of 5,000 entries, the window shown and painted;
    // once with the repaint it causes, once the table work alone.
    auto measureAppend = [&](bool withRepaint) {
        std::vector<double> us;
        for (int round = 0; round < 30; ++round) {
            fillEntries(*c.SortGridPred, 5000, false);
            QApplication::processEvents();
            QElapsedTimer t;
            t.start();
            w.view->AppendCapture(QStringLiteral("10:01:23,45"));
            if (withRepaint)
                QApplication::processEvents();
            us.push_back(double(t.nsecsElapsed()) / 1000.0);
            QApplication::processEvents();
        }
        return us;
    };
    std::vector<double> us = measureAppend(true);
    std::printf("AppendCapture into 5,000 entries (incl. repaint): median %.1f us, p99 %.1f us "
                "(target < 1000 us)\n",
                percentile(us, 0.5), percentile(us, 0.99));
    us = measureAppend(false);
    std::printf("AppendCapture into 5,000 entries (table work only): median %.1f us, p99 %.1f us\n",
                percentile(us, 0.5), percentile(us, 0.99));
    // The same with 10 and with 10,000 cars in the results protocol: the columns fitted
    // to the cars' numbers and names must not cost more with more cars.
    for (int cars : {10, 10000}) {
        fillCars(*c.SortGrid1, cars);
        w.LayoutColumns();
        QApplication::processEvents();
        us = measureAppend(true);
        std::printf("AppendCapture into 5,000 entries, %d cars in the results (incl. repaint): "
                    "median %.1f us, p99 %.1f us (target < 1000 us)\n",
                    cars, percentile(us, 0.5), percentile(us, 0.99));
    }

    // Insert all: 5,000 numbered entries over 1,000 cars, with N = 5 (each car gets 5).
    w.tables->setCountRunden(5);
    w.ApplyTimeColumnCount();
    std::vector<double> ms;
    for (int round = 0; round < 3; ++round) {
        c.SortGrid1->setRowCount(2);
        c.SortGrid1->clearRow(1);
        fillEntries(*c.SortGridPred, 5000, true);
        QElapsedTimer t;
        t.start();
        w.bInsertALLClick();
        QApplication::processEvents();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        if (c.SortGrid1->RowCount() != 1001 || !TProtocolTables::tableEmpty(w.view->predTable())) {
            std::printf("unexpected result: %d result rows\n", c.SortGrid1->RowCount());
            return 1;
        }
    }
    std::printf("Insert all, 5,000 entries over 1,000 cars: median %.0f ms, max %.0f ms "
                "(target < 2000 ms)\n",
                percentile(ms, 0.5), percentile(ms, 1.0));

    // Insert all at the end of a long day: one numbered entry for each car of a starter
    // list, in the order they passed.
    w.tables->setCountRunden(4);
    w.ApplyTimeColumnCount();
    for (int cars : {1000, 10000, 100000}) {
        fillCars(*c.SortGrid1, cars);
        for (int r = 1; r <= cars; ++r)
            for (int col = 2; col < c.SortGrid1->ColCount(); ++col)
                c.SortGrid1->setCells(col, r, QString());
        TSortGrid &pred = *c.SortGridPred;
        pred.BeginUpdate();
        pred.setRowCount(cars + 1);
        for (int r = 1; r <= cars; ++r) {
            pred.setCells(0, r, QString::number(r));
            pred.setCells(1, r, QStringLiteral("10:00:00,00"));
            pred.setCells(2, r, QString::number(1 + (qint64(r) * 7919) % cars));
        }
        pred.EndUpdate();
        QApplication::processEvents();
        QElapsedTimer t;
        t.start();
        w.bInsertALLClick();
        QApplication::processEvents();
        const double took = double(t.nsecsElapsed()) / 1e6;
        std::printf("Insert all, %d entries over %d cars: %.0f ms (target < %d ms)%s\n", cars, cars,
                    took, cars / 50,
                    TProtocolTables::tableEmpty(w.view->predTable()) ? "" : " NOT ALL MOVED");
    }
    return 0;
}
