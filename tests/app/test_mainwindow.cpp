#include "app/FMain.h"
#include "tests/support/WindowControls.h"

#include "platform/Colors.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/Recorders.h"
#include "tests/support/TempSettings.h"
#include "tests/support/TestClock.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/ClickImage.h"
#include "widgets/LbButtons.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

struct ButtonState
{
    bool enabled;
    TColor face;
};

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        w = std::make_unique<TFormMain>(&clock);
        w->chrono->setCaptureOutput(&capture);
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    void key(Qt::Key k) { QTest::keyClick(w.get(), k); }

    // Each button mirrors its menu item; returns the pair as seen on screen.
    ButtonState state(TLbButton *b, QAction *a)
    {
        EXPECT_EQ(b->isEnabled(), a->isEnabled()) << b->objectName().toStdString();
        // The face as drawn: the inner outline carries it.
        EXPECT_EQ(b->grab().toImage().pixelColor(1, 20), toQColor(b->Color()))
            << b->objectName().toStdString();
        return ButtonState{b->isEnabled(), b->Color()};
    }

    void expectButtons(ButtonState start, ButtonState lap, ButtonState reset, const char *caption,
                       const char *step)
    {
        SCOPED_TRACE(step);
        const ButtonState s = state(ui(*w).bStart, ui(*w).mStart);
        const ButtonState l = state(ui(*w).bLAP, ui(*w).mLAP);
        const ButtonState r = state(ui(*w).bReset, ui(*w).mReset);
        EXPECT_EQ(s.enabled, start.enabled);
        EXPECT_EQ(s.face, start.face);
        EXPECT_EQ(l.enabled, lap.enabled);
        EXPECT_EQ(l.face, lap.face);
        EXPECT_EQ(r.enabled, reset.enabled);
        EXPECT_EQ(r.face, reset.face);
        EXPECT_EQ(ui(*w).bReset->text().toStdString(), caption);
        EXPECT_EQ(ui(*w).bStart->text(), "START");
        EXPECT_EQ(ui(*w).bLAP->text(), "ZEIT");
    }

    TempSettings settings; // each test's window starts from the defaults
    TestClock clock;
    RecordingCapture capture;
    std::unique_ptr<TFormMain> w;
};

TEST_F(MainWindowTest, CommandSequenceThroughKeysAndButtons)
{
    expectButtons({true, clLime}, {false, clBlack}, {false, clRed}, "STOPP", "start-up");

    clock.set(10, 0, 0, 0);
    QTest::mousePress(ui(*w).bStart, Qt::LeftButton); // acts on the press
    EXPECT_TRUE(w->chrono->running());
    QTest::mouseRelease(ui(*w).bStart, Qt::LeftButton);
    expectButtons({false, clBlack}, {true, clYellow}, {true, clRed}, "STOPP", "START");

    clock.set(10, 1, 23, 456);
    key(Qt::Key_F8);
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(1), 36083456);
    clock.set(10, 2, 0, 9);
    QTest::mousePress(ui(*w).bLAP, Qt::LeftButton);
    QTest::mouseRelease(ui(*w).bLAP, Qt::LeftButton);
    EXPECT_EQ(capture.texts, (QStringList{"10:01:23,45", "10:02:00,00"}));
    expectButtons({false, clBlack}, {true, clYellow}, {true, clRed}, "STOPP", "ZEIT");

    clock.set(10, 2, 30, 0);
    w->chrono->tick();
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(0), 36150000);
    QTest::mouseClick(ui(*w).bReset, Qt::LeftButton); // STOPP
    EXPECT_FALSE(w->chrono->running());
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(0), 0);
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(1), 36120009); // lower row keeps the last time
    expectButtons({true, clLime}, {true, clYellow}, {true, clRed}, "RESET", "STOPP");

    // ZEIT in Stopped still takes a time; the upper row stays at zero.
    clock.set(10, 3, 0, 0);
    key(Qt::Key_F8);
    EXPECT_EQ(capture.texts.size(), 3);
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(0), 0);

    key(Qt::Key_F9); // RESET
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(0), 0);
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(1), 0);
    expectButtons({true, clLime}, {false, clBlack}, {false, clBlack}, "STOPP", "RESET");
}

TEST_F(MainWindowTest, DisabledCommandsDoNothingByAnyRoute)
{
    key(Qt::Key_F8);
    key(Qt::Key_F9);
    ui(*w).mLAP->trigger();
    ui(*w).mReset->trigger();
    EXPECT_TRUE(capture.texts.isEmpty());
    EXPECT_FALSE(w->chrono->running());
    EXPECT_EQ(ui(*w).bReset->text(), "STOPP");

    key(Qt::Key_F4);
    EXPECT_TRUE(w->chrono->running());
    int started = 0;
    QObject::connect(w->chrono, &TChronometer::runStarted, [&] { ++started; });
    key(Qt::Key_F4); // already running
    ui(*w).mStart->trigger();
    QTest::mousePress(ui(*w).bStart, Qt::LeftButton);
    QTest::mouseRelease(ui(*w).bStart, Qt::LeftButton); // QTest remembers held buttons
    EXPECT_EQ(started, 0);

    // Any mouse button on ZEIT takes a time, on the press.
    QTest::mousePress(ui(*w).bLAP, Qt::RightButton);
    EXPECT_EQ(capture.texts.size(), 1);
    QTest::mouseRelease(ui(*w).bLAP, Qt::RightButton);
    QTest::mousePress(ui(*w).bLAP, Qt::MiddleButton);
    EXPECT_EQ(capture.texts.size(), 2);
    QTest::mouseRelease(ui(*w).bLAP, Qt::MiddleButton);
}

TEST_F(MainWindowTest, StartInStoppedMakesTheNextStoppStopAgain)
{
    key(Qt::Key_F4);
    key(Qt::Key_F9);
    EXPECT_EQ(ui(*w).bReset->text(), "RESET");
    key(Qt::Key_F4);
    EXPECT_EQ(ui(*w).bReset->text(), "STOPP");
    EXPECT_TRUE(w->chrono->running());
    key(Qt::Key_F9);
    EXPECT_EQ(ui(*w).bReset->text(), "RESET");
    EXPECT_TRUE(ui(*w).mLAP->isEnabled()); // stopped, not reset
}

TEST_F(MainWindowTest, KeyboardOnFocusedCommandButtons)
{
    key(Qt::Key_F4);
    // A left press gives the button the focus; Enter and Space then do nothing on ZEIT.
    QTest::mouseClick(ui(*w).bLAP, Qt::LeftButton);
    EXPECT_TRUE(ui(*w).bLAP->hasFocus());
    const int taken = capture.texts.size();
    QTest::keyClick(ui(*w).bLAP, Qt::Key_Space);
    QTest::keyClick(ui(*w).bLAP, Qt::Key_Return);
    EXPECT_EQ(capture.texts.size(), taken);

    // Nor on STOPP after a click on it: Return typed for a start number must not reset.
    QTest::mouseClick(ui(*w).bReset, Qt::LeftButton);
    EXPECT_TRUE(ui(*w).bReset->hasFocus());
    EXPECT_EQ(ui(*w).bReset->text(), "RESET");
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
        QTest::keyClick(ui(*w).bReset, k);
    EXPECT_EQ(ui(*w).bReset->text(), "RESET");
    EXPECT_TRUE(ui(*w).mReset->isEnabled());

    // Pressed on STOPP and released beside it: clicked all the same.
    QTest::mousePress(ui(*w).bReset, Qt::LeftButton);
    QTest::mouseMove(ui(*w).bReset, QPoint(-20, -20));
    QTest::mouseRelease(ui(*w).bReset, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(ui(*w).bReset->text(), "STOPP");
    EXPECT_FALSE(ui(*w).mReset->isEnabled());

    // None of the three is reached with Tab.
    for (TLbButton *b : {ui(*w).bStart, ui(*w).bLAP, ui(*w).bReset})
        EXPECT_FALSE(b->focusPolicy() & Qt::TabFocus) << b->objectName().toStdString();
}

TEST_F(MainWindowTest, LayoutAndMinimumSize)
{
    EXPECT_EQ(w->size(), QSize(800, 530));
    EXPECT_EQ(w->pos(), QPoint(243, 112));
    w->resize(500, 300);
    EXPECT_GE(w->width(), 800);
    EXPECT_GE(w->height(), 530);

    EXPECT_EQ(ui(*w).PanelTimer->geometry(), QRect(0, 0, 492, 239));
    EXPECT_EQ(ui(*w).bStart->geometry(), QRect(6, 56, 130, 40));
    EXPECT_EQ(ui(*w).bLAP->geometry(), QRect(6, 104, 130, 40));
    EXPECT_EQ(ui(*w).bReset->geometry(), QRect(6, 152, 130, 40));
    EXPECT_EQ(ui(*w).ImageLSzeit->geometry(), QRect(139, 108, 30, 30));
    EXPECT_FALSE(ui(*w).ImageLSzeit->isVisible());
    EXPECT_EQ(ui(*w).bHelp->geometry(), QRect(162, 56, 40, 40));
    EXPECT_EQ(ui(*w).bInfo->geometry(), QRect(254, 56, 40, 40));
    EXPECT_EQ(ui(*w).sbOpen->geometry().size(), QSize(36, 36));
    EXPECT_EQ(ui(*w).sbCls->x(), 258);
    EXPECT_EQ(ui(*w).bInsert->geometry().size(), QSize(36, 36));
    EXPECT_EQ(ui(*w).StatusBar1->height(), 19);
    EXPECT_EQ(ui(*w).bStart->font().pixelSize(), 32);
    EXPECT_TRUE(ui(*w).bStart->font().bold());
    EXPECT_EQ(ui(*w).bStart->toolTip(), "F4");
    EXPECT_EQ(ui(*w).sbSave->toolTip(), QString::fromUtf8("Speichern unter…"));
    EXPECT_FALSE(w->menuBar()->isVisible());
    for (QToolButton *b : {ui(*w).bInsertALL, ui(*w).bInsert, ui(*w).bRestore, ui(*w).bDel})
        EXPECT_FALSE(b->isEnabled());

    // Enlarged: the right-anchored buttons follow the right edge.
    w->resize(1000, 700);
    EXPECT_EQ(ui(*w).bInfo->x() + 40, ui(*w).Panel5->width() - 14);
    EXPECT_EQ(ui(*w).PanelTimer->size(), QSize(492, 239));

    // The window background and the faces, as drawn.
    const QImage img = w->grab().toImage();
    EXPECT_EQ(img.pixelColor(ui(*w).Panel5->x() + 300, 200), toQColor(0xA7A7A7));
    const QImage start = ui(*w).bStart->grab().toImage();
    EXPECT_EQ(start.pixelColor(1, 20), toQColor(clLime)); // the inner outline is the face
}

TEST_F(MainWindowTest, HiddenMenuHoldsEveryKey)
{
    struct Item
    {
        QAction *a;
        const char *caption;
        QKeySequence key;
    };
    const Item items[] = {
        {ui(*w).mHilfe, "Hilfe", QKeySequence(Qt::Key_F1)},
        {ui(*w).mCFG, "&Einstellungen", QKeySequence(Qt::Key_F2)},
        {ui(*w).LockLSStart1, "Lock LS", QKeySequence(Qt::Key_F3)},
        {ui(*w).mStart, "Start", QKeySequence(Qt::Key_F4)},
        {ui(*w).mLAP, "LAP", QKeySequence(Qt::Key_F8)},
        {ui(*w).mReset, "0,00", QKeySequence(Qt::Key_F9)},
        {ui(*w).Info1, "Info", QKeySequence(Qt::ALT | Qt::Key_I)},
        {ui(*w).Hilfe1, "H&ilfe", QKeySequence(Qt::ALT | Qt::Key_H)},
        {ui(*w).Beenden1, "&Beenden", QKeySequence(Qt::ALT | Qt::Key_B)},
    };
    for (const Item &i : items) {
        EXPECT_EQ(i.a->text().toStdString(), i.caption);
        EXPECT_EQ(i.a->shortcut(), i.key) << i.caption;
        EXPECT_TRUE(w->actions().contains(i.a)) << i.caption;
        EXPECT_TRUE(ui(*w).HideMenu1->actions().contains(i.a)) << i.caption;
    }
    EXPECT_FALSE(ui(*w).HideMenu1->menuAction()->isVisible());
    key(Qt::Key_F4); // shortcuts work while the bar is hidden
    EXPECT_TRUE(w->chrono->running());
}

int whitePixels(QWidget *b)
{
    const QImage img = b->grab().toImage();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixelColor(x, y) == QColor(Qt::white);
    return n;
}

TEST_F(MainWindowTest, HoveredCommandButtonShowsWhiteCaption)
{
    // Moved through the window, as the pointer does, so Qt sends enter and leave; the
    // window lies wholly on the (800 pixels wide) screen, or Qt sees the pointer leave it.
    w->move(0, 0);
    auto hover = [this](QWidget *target) {
        QTest::mouseMove(w->windowHandle(), target->mapTo(w.get(), target->rect().center()));
    };
    hover(ui(*w).PanelTimer);
    EXPECT_EQ(whitePixels(ui(*w).bStart), 0);
    hover(ui(*w).bStart);
    EXPECT_EQ(ui(*w).bStart->hotLevel(), 8);
    EXPECT_GT(whitePixels(ui(*w).bStart), 50);
    EXPECT_EQ(whitePixels(ui(*w).bLAP), 0);
    hover(ui(*w).PanelTimer);
    EXPECT_EQ(ui(*w).bStart->hotLevel(), 0); // no fade on the main window
    EXPECT_EQ(whitePixels(ui(*w).bStart), 0);
    w->move(243, 112); // the window's bounds outlive it in the settings
}

TEST_F(MainWindowTest, ResizeKeepsFocusOnCommandButton)
{
    key(Qt::Key_F4);
    QTest::mouseClick(ui(*w).bReset, Qt::LeftButton);
    ASSERT_TRUE(ui(*w).bReset->hasFocus());
    w->resize(900, 600);
    EXPECT_TRUE(ui(*w).bReset->hasFocus());
    EXPECT_TRUE(ui(*w).Panel5->isVisible());
}

} // namespace

// The protocol tables as the window starts with them and as a user runs them with the
// chronometer and the yes/no dialog; the tables' own behaviour is tested with their grids
// in tests/protocol/test_tables.cpp.
namespace {

using WindowTables = MainWindowFixture;

TEST_F(WindowTables, StartUpTitlesAndEmptyTables)
{
    EXPECT_EQ(row(pred(), 0), (QStringList{"", "Zeit", "Nr."}));
    EXPECT_EQ(row(res(), 0),
              (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(res().RowCount(), 2);
    for (QToolButton *b : {ui(*w).sbSave, ui(*w).sbPrint, ui(*w).sbWeb, ui(*w).sbCls, ui(*w).bInsert, ui(*w).bInsertALL,
                           ui(*w).bRestore, ui(*w).bDel})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(ui(*w).sbOpen->isEnabled());
    EXPECT_EQ(pred().ColWidths(0), 40);
    EXPECT_EQ(pred().ColWidths(2), 48);
    EXPECT_EQ(pred().ColWidths(1), pred().width() - 40 - 48 - 3 - 22);
    for (int c = 2; c < 6; ++c)
        EXPECT_EQ(res().ColWidths(c), 98);
    EXPECT_GE(res().ColWidths(0), 48);
    EXPECT_GE(res().ColWidths(1), 70);
    EXPECT_EQ(pred().DefaultRowHeight(), 22);
}

TEST_F(WindowTables, CapturesFillRowOneThenAppend)
{
    key(Qt::Key_F4);
    zeit(10, 1, 23, 456);
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "10:01:23,45", ""}));
    EXPECT_TRUE(ui(*w).bDel->isEnabled());
    zeit(10, 2, 0, 9);
    EXPECT_EQ(pred().RowCount(), 3);
    EXPECT_EQ(row(pred(), 2), (QStringList{"2", "10:02:00,00", ""}));
    EXPECT_EQ(pred().Row(), 2);
    EXPECT_EQ(pred().Selection(), (TGridRect{0, 2, 2, 2}));

    // Widening the window leaves the time column as wide as it was; the results' time
    // columns stay 98.
    const int before = pred().ColWidths(1);
    w->resize(1100, 700);
    EXPECT_EQ(pred().ColWidths(1), before); // the left panel keeps its width
    for (int c = 2; c < 6; ++c)
        EXPECT_EQ(res().ColWidths(c), 98);
}

TEST_F(WindowTables, NewProtocolAsksAndResetsEverything)
{
    key(Qt::Key_F4);
    zeit(10, 0, 1, 0);
    number(1, "3");
    w->bInsertClick();
    zeit(10, 0, 2, 0);
    res().setCells(1, 0, "Pilot");

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrCancel);
    w->sbClsClick();
    EXPECT_EQ(dlg->Label1->text(), "Ergebnisse entfernen?");
    EXPECT_EQ(res().Cells(0, 1), "3");
    EXPECT_TRUE(w->chrono->running());

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    QTest::mouseClick(ui(*w).sbCls, Qt::LeftButton);
    EXPECT_EQ(res().RowCount(), 2);
    EXPECT_TRUE(rowBlank(res(), 1));
    EXPECT_EQ(row(res(), 0), (QStringList{"Nr.", "Pilot", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"}));
    EXPECT_EQ(pred().RowCount(), 2);
    EXPECT_TRUE(rowBlank(pred(), 1));
    EXPECT_FALSE(w->chrono->running());
    EXPECT_EQ(w->chrono->stopFlag(), 0);
    EXPECT_EQ(ui(*w).bReset->text(), "STOPP");
    EXPECT_TRUE(ui(*w).mStart->isEnabled());
    EXPECT_FALSE(ui(*w).mLAP->isEnabled());
    for (QToolButton *b : {ui(*w).sbSave, ui(*w).sbCls, ui(*w).bInsertALL, ui(*w).bDel})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    // The next ZEIT fills row 1 again.
    key(Qt::Key_F4);
    zeit(10, 5, 0, 0);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "10:05:00,00", ""}));
}

TEST_F(WindowTables, WholeSessionAsAUserRunsIt)
{
    key(Qt::Key_F4);
    for (int i = 0; i < 6; ++i)
        zeit(9, 30, 10 * i, 120);
    const QStringList numbers = {"1", "2", "1", "3", "2", "1"};
    for (int i = 0; i < 6; ++i)
        number(i + 1, numbers[i]);
    QTest::mouseClick(ui(*w).bInsertALL, Qt::LeftButton);
    EXPECT_TRUE(rowBlank(pred(), 1));
    EXPECT_EQ(row(res(), 1),
              (QStringList{"1", "", "09:30:00,12", "09:30:20,12", "09:30:50,12", ""}));
    EXPECT_EQ(row(res(), 2), (QStringList{"2", "", "09:30:10,12", "09:30:40,12", "", ""}));
    EXPECT_EQ(row(res(), 3), (QStringList{"3", "", "09:30:30,12", "", "", ""}));

    clickCell(res(), 0, 1);
    QTest::mouseClick(ui(*w).bRestore, Qt::LeftButton);
    EXPECT_EQ(row(pred(), 1), (QStringList{"1", "09:30:50,12", "1"}));
    clickCell(pred(), 1, 1); // selecting the entry enables Insert
    QTest::mouseClick(ui(*w).bInsert, Qt::LeftButton);
    EXPECT_EQ(res().Cells(4, 1), "09:30:50,12");

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    QTest::mouseClick(ui(*w).sbCls, Qt::LeftButton);
    EXPECT_EQ(res().RowCount(), 2);
    EXPECT_FALSE(ui(*w).sbSave->isEnabled());
}

} // namespace
