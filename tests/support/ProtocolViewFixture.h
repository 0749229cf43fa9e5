#pragma once

#include "app/GridTable.h"
#include "tests/support/GridOperator.h"
#include "app/ProtocolView.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

// Both protocol grids with their buttons as the main window sets them up and lays them out,
// shown and active, but without the window around them: times come in as the chronometer
// hands them over, and "Neu / Löschen" is answered by the test.
class ProtocolViewFixture : public ::testing::Test, public GridOperator
{
protected:
    void SetUp() override
    {
        panel = std::make_unique<QWidget>();
        panel->resize(800, 340);
        predGrid = new TSortGrid(panel.get());
        predGrid->setObjectName("SortGridPred");
        TProtocolView::configurePred(*predGrid);
        resGrid = new TSortGrid(panel.get());
        resGrid->setObjectName("SortGrid1");
        TProtocolView::configureResults(*resGrid, 4);
        auto button = [this](QToolButton *&b, const char *name, int x, int y) {
            b = new QToolButton(panel.get());
            b->setObjectName(QLatin1String(name));
            b->setGeometry(x, y, 36, 36);
            b->setFocusPolicy(Qt::NoFocus);
            b->setEnabled(false);
        };
        button(bInsertALL, "bInsertALL", 228, 16);
        button(bInsert, "bInsert", 228, 56);
        button(bRestore, "bRestore", 228, 96);
        button(bDel, "bDel", 228, 247);
        button(sbSave, "sbSave", 0, 300);
        button(sbPrint, "sbPrint", 40, 300);
        button(sbWeb, "sbWeb", 80, 300);
        button(sbCls, "sbCls", 120, 300);
        predGrid->setGeometry(0, 0, 226, 291);
        resGrid->setGeometry(266, 0, 534, 291);

        TProtocolView::Buttons b;
        b.bInsertALL = bInsertALL;
        b.bInsert = bInsert;
        b.bRestore = bRestore;
        b.bDel = bDel;
        b.sbSave = sbSave;
        b.sbPrint = sbPrint;
        b.sbWeb = sbWeb;
        b.sbCls = sbCls;
        view = std::make_unique<TProtocolView>(*predGrid, *resGrid, b);
        view->confirmClear = [this] { return answer; };
        QObject::connect(bInsertALL, &QToolButton::clicked, view.get(),
                         &TProtocolView::bInsertALLClick);
        QObject::connect(bInsert, &QToolButton::clicked, view.get(), &TProtocolView::bInsertClick);
        QObject::connect(bRestore, &QToolButton::clicked, view.get(),
                         &TProtocolView::bRestoreClick);
        QObject::connect(bDel, &QToolButton::clicked, view.get(), &TProtocolView::bDelClick);
        QObject::connect(sbCls, &QToolButton::clicked, view.get(), &TProtocolView::sbClsClick);
        predGrid->OnResize = [this](QObject *) { view->LayoutColumns(); };
        resGrid->OnResize = [this](QObject *) { view->LayoutColumns(); };

        // The titles and the first layout, as the window sets them at start-up.
        predGrid->setCells(1, 0, QStringLiteral("Zeit"));
        predGrid->setCells(2, 0, QStringLiteral("Nr."));
        view->ApplyTimeColumnCount();
        resGrid->setCells(0, 0, QStringLiteral("Nr."));
        resGrid->setCells(1, 0, QStringLiteral("Fahrer"));
        view->LayoutColumns();
        view->UpdateFileButtons();

        panel->show();
        QApplication::setActiveWindow(panel.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel.get()));
    }
    void TearDown() override
    {
        view.reset();
        panel.reset();
    }

    TSortGrid &pred() override { return *predGrid; }
    TSortGrid &res() { return *resGrid; }
    TProtocolTables &tables() { return view->tables(); }

    // A time as the chronometer hands it over when ZEIT is taken.
    void capture(const QString &time) { view->AppendCapture(time); }

    std::unique_ptr<QWidget> panel;
    TSortGrid *predGrid = nullptr;
    TSortGrid *resGrid = nullptr;
    QToolButton *bInsertALL = nullptr;
    QToolButton *bInsert = nullptr;
    QToolButton *bRestore = nullptr;
    QToolButton *bDel = nullptr;
    QToolButton *sbSave = nullptr;
    QToolButton *sbPrint = nullptr;
    QToolButton *sbWeb = nullptr;
    QToolButton *sbCls = nullptr;
    std::unique_ptr<TProtocolView> view;
    // What "Ergebnisse entfernen?" is answered with.
    bool answer = false;
};
