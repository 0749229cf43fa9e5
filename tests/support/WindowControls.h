#pragma once

#include "app/FMain.h"
#include "platform/FileDialog.h"
#include "protocol/FileCommands.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/ClickImage.h"
#include "widgets/LbButtons.h"
#include "widgets/SortGrid.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>

// The window's controls as a user finds them: by their object names. A control that is
// not there stops the test run with its name, rather than a null pointer further on.
template <class T> T *control(const QObject &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found) {
        std::fprintf(stderr, "The window has no control named %s of that kind.\n", name);
        std::abort();
    }
    return found;
}

struct WindowControls
{
    explicit WindowControls(const TFormMain &w)
        : HideMenu1(control<QMenu>(w, "HideMenu1")), mHilfe(control<QAction>(w, "mHilfe")),
          mCFG(control<QAction>(w, "mCFG")), LockLSStart1(control<QAction>(w, "LockLSStart1")),
          mStart(control<QAction>(w, "mStart")), mLAP(control<QAction>(w, "mLAP")),
          mReset(control<QAction>(w, "mReset")), Info1(control<QAction>(w, "Info1")),
          Hilfe1(control<QAction>(w, "Hilfe1")), Beenden1(control<QAction>(w, "Beenden1")),
          UpperArea(control<QWidget>(w, "UpperArea")),
          PanelTimer(control<TTimeDisplay>(w, "PanelTimer")),
          Panel5(control<QWidget>(w, "Panel5")), bStart(control<TLbButton>(w, "bStart")),
          bLAP(control<TLbButton>(w, "bLAP")), bReset(control<TLbButton>(w, "bReset")),
          ImageLSzeit(control<TClickImage>(w, "ImageLSzeit")),
          bHelp(control<QToolButton>(w, "bHelp")), bCFG(control<QToolButton>(w, "bCFG")),
          bInfo(control<QToolButton>(w, "bInfo")), LabelDate(control<QLabel>(w, "LabelDate")),
          LabelTitle(control<QLabel>(w, "LabelTitle")),
          LabelProtokoll(control<QLabel>(w, "LabelProtokoll")),
          sbOpen(control<QToolButton>(w, "sbOpen")), sbSave(control<QToolButton>(w, "sbSave")),
          sbPrint(control<QToolButton>(w, "sbPrint")), sbWeb(control<QToolButton>(w, "sbWeb")),
          sbCls(control<QToolButton>(w, "sbCls")), LowerArea(control<QWidget>(w, "LowerArea")),
          PanelLeft(control<QWidget>(w, "PanelLeft")),
          SortGridPred(control<TSortGrid>(w, "SortGridPred")),
          SortGrid1(control<TSortGrid>(w, "SortGrid1")),
          bInsertALL(control<QToolButton>(w, "bInsertALL")),
          bInsert(control<QToolButton>(w, "bInsert")),
          bRestore(control<QToolButton>(w, "bRestore")), bDel(control<QToolButton>(w, "bDel")),
          StatusBar1(control<QStatusBar>(w, "StatusBar1")),
          LabelLive(control<QLabel>(w, "LabelLive")),
          LabelIgnored(control<QLabel>(w, "LabelIgnored")), OpenDialog1(&w.files->OpenDialog1),
          SaveDialog1(&w.files->SaveDialog1)
    {
    }

    QMenu *HideMenu1;
    QAction *mHilfe, *mCFG, *LockLSStart1, *mStart, *mLAP, *mReset, *Info1, *Hilfe1, *Beenden1;
    QWidget *UpperArea;
    TTimeDisplay *PanelTimer;
    QWidget *Panel5;
    TLbButton *bStart, *bLAP, *bReset;
    TClickImage *ImageLSzeit;
    QToolButton *bHelp, *bCFG, *bInfo;
    QLabel *LabelDate, *LabelTitle, *LabelProtokoll;
    QToolButton *sbOpen, *sbSave, *sbPrint, *sbWeb, *sbCls;
    QWidget *LowerArea, *PanelLeft;
    TSortGrid *SortGridPred, *SortGrid1;
    QToolButton *bInsertALL, *bInsert, *bRestore, *bDel;
    QStatusBar *StatusBar1;
    QLabel *LabelLive, *LabelIgnored;
    TFileDialog *OpenDialog1, *SaveDialog1;
};

inline WindowControls ui(const TFormMain &w)
{
    return WindowControls(w);
}
