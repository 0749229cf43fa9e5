#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "platform/ColorDialog.h"
#include "platform/ErrorBox.h"
#include "protocol/ProtocolTables.h"
#include "serial/Comms.h"
#include "serial/PortProbe.h"
#include "serial/SimBarrier.h"
#include "serial/SimSerialDevice.h"
#include "settings/Settings.h"
#include "settings/UCfg.h"
#include "timing/BarrierGuard.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/ClickImage.h"
#include "widgets/FlEdit.h"
#include "widgets/SortGrid.h"
#include "widgets/Spin.h"
#include "widgets/oClrBox.h"

#include "tests/support/FakeDeviceTree.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/TempSettings.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <deque>
#include <thread>

namespace {

constexpr quint32 k46 = 0x20; // "4+6"
constexpr quint32 k78 = 0x10; // "7+8"
const QColor lime(0, 255, 0), red(255, 0, 0);

quint32 portSet(std::initializer_list<int> ports)
{
    quint32 set = 0;
    for (int n : ports)
        set = (set & 0xFFFF) | (1u << (n - 1)) | (quint32(n) << 16);
    return set;
}

// A simulated barrier; the program connects while `action` runs.
struct Barrier
{
    explicit Barrier(const QString &path) : socket(path)
    {
        QString error;
        EXPECT_TRUE(server.listen(path, error)) << error.toStdString();
    }
    void connectDuring(const std::function<void()> &action)
    {
        server.serviceClient(); // forgets a program that has closed the port
        bool ok = false;
        std::thread t([&] { ok = server.waitForClient(5000); });
        action();
        t.join();
        EXPECT_TRUE(ok) << "the program did not open " << socket.toStdString();
    }
    QString socket;
    SimBarrierServer server;
};

class CfgDialogTest : public ::testing::Test
{
protected:
    CfgDialogTest()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        ErrorBox::setHookForTesting([this](const QString &t) { errors << t; });
        TColorDialog::setHookForTesting([this](const TColorDialog &d) {
            chooserStarts << d.Color;
            std::optional<TColor> a;
            if (!chooserAnswers.empty()) {
                a = chooserAnswers.front();
                chooserAnswers.pop_front();
            }
            return a;
        });
    }
    ~CfgDialogTest() override
    {
        dlg.reset();
        w.reset();
        TFormMain::portProbe() = oldProbe;
        TFormMain::portDiscovery() = oldDiscovery;
        TColorDialog::setHookForTesting({});
        ErrorBox::setHookForTesting({});
        QLocale::setDefault(oldLocale);
    }

    QString path(const char *name) const { return settings.dir.path() + "/" + name; }

    // The program with the stored values, the ports its probe finds and their devices;
    // `opening` is the barrier the stored port connects to while the window is created.
    void start(const TSettings &stored, quint32 ports, const QMap<int, QString> &devices = {},
               Barrier *opening = nullptr)
    {
        TFormMain::portProbe() = [ports] { return ports; };
        TQSettingsStore store("tornelo");
        SettingsIO::save(store, stored);
        for (auto it = devices.begin(); it != devices.end(); ++it)
            settings.write({{QStringLiteral("Devices/COM%1").arg(it.key()), it.value()}});
        auto create = [&] { w = std::make_unique<TFormMain>(&clock); };
        if (opening)
            opening->connectDuring(create);
        else
            create();
        w->timerFactory = timers.factory();
        dlg = std::make_unique<TCfgDialog>(w->PortSet, w->ComPort, w.get());
        dlg->setTimerFactory(timers.factory());
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    // Opens the dialog by F2 (or the button), runs body while it is open and closes it
    // with "OK" or "Abbrechen".
    void edit(const std::function<void()> &body, bool ok, bool byButton = false)
    {
        QObject guard;
        bool ran = false;
        QTimer::singleShot(0, &guard, [&] {
            ran = true;
            EXPECT_TRUE(dlg->isVisible());
            QApplication::setActiveWindow(dlg.get());
            EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
            body();
            if (dlg->isVisible())
                QTest::mouseClick(ok ? dlg->OKBtn : dlg->CancelBtn, Qt::LeftButton);
        });
        if (byButton)
            QTest::mouseClick(ui(*w).bCFG, Qt::LeftButton);
        else
            QTest::keyClick(w.get(), Qt::Key_F2);
        EXPECT_TRUE(ran) << "the dialog did not open";
        EXPECT_FALSE(dlg->isVisible());
        QApplication::setActiveWindow(w.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    // The one-second pause after "OK" with another port.
    TestTimer *pause()
    {
        for (TestTimer *t : timers.made)
            if (t->isSingleShot())
                return t;
        ADD_FAILURE() << "no pause timer";
        return nullptr;
    }
    QStringList times() const
    {
        QStringList out;
        const TSortGrid &pred = *ui(*w).SortGridPred;
        for (int r = 1; r < pred.RowCount(); ++r)
            if (!pred.Cells(1, r).isEmpty())
                out << pred.Cells(1, r);
        return out;
    }

    QLocale oldLocale;
    std::function<quint32()> oldProbe = TFormMain::portProbe();
    PortDiscovery oldDiscovery = TFormMain::portDiscovery();
    TempSettings settings;
    TestClock clock;
    TestTimerFactory timers;
    QStringList errors;
    QList<TColor> chooserStarts;
    std::deque<std::optional<TColor>> chooserAnswers;
    std::unique_ptr<TFormMain> w;
    std::unique_ptr<TCfgDialog> dlg;
};

TEST_F(CfgDialogTest, F2AndTheButtonOpenItFilledFromTheWorkingValues)
{
    start({.Alg = 1, .C1 = clWhite, .C2 = clRed, .C4 = 0x123456, .Wait = 2500, .CountRunden = 7},
          portSet({1, 3}));
    for (bool byButton : {false, true}) {
        edit(
            [&] {
                EXPECT_EQ(dlg->cbPort->currentText(), "Keine");
                EXPECT_FALSE(dlg->cbAlg->isEnabled());
                EXPECT_EQ(dlg->cbAlg->currentText(), "Aus");
                EXPECT_EQ(dlg->seWait->text(), "2,5");
                EXPECT_FALSE(dlg->seWait->isEnabled());
                EXPECT_TRUE(dlg->seWait->alignment() & Qt::AlignLeft);
                EXPECT_EQ(dlg->seCounter->text(), "7");
                EXPECT_EQ(dlg->cbColorCifra->ColorValue(), clRed);
                EXPECT_EQ(dlg->cbColorCifra2->ColorValue(), 0x123456u);
                EXPECT_TRUE(dlg->cbColorCifra2->IsUserEntrySelected());
                EXPECT_EQ(dlg->cbColorFon->ColorValue(), clWhite);
                EXPECT_FALSE(dlg->cbColorFon->IsUserEntrySelected());
                EXPECT_EQ(dlg->PanelTestColor(), dlg->parentColor());
            },
            false, byButton);
    }
    EXPECT_TRUE(chooserStarts.isEmpty()); // filling opens no colour chooser
}

TEST_F(CfgDialogTest, StoredPortThatWasNotFoundIsNoSelectionAndOkMakesItNone)
{
    start({.Port = 5}, portSet({1, 3}), {{5, path("gone")}});
    edit(
        [&] {
            EXPECT_EQ(dlg->cbPort->currentIndex(), -1);
            EXPECT_TRUE(dlg->lPortInfo->text().startsWith("COM5 wurde nicht gefunden"));
            EXPECT_TRUE(dlg->cbAlg->isEnabled());
            EXPECT_TRUE(dlg->seWait->isEnabled());
        },
        true);
    EXPECT_EQ(w->ComPort->Port(), 0);
    EXPECT_FALSE(w->cfgPausePending()); // the list was not touched
}

struct PickCase
{
    int index;
    int port;
    bool open;
};

class CfgPortPick : public CfgDialogTest, public ::testing::WithParamInterface<PickCase>
{
};

TEST_P(CfgPortPick, ThePickTakesEffectAtOnceAndCancelKeepsIt)
{
    const PickCase c = GetParam();
    Barrier b1(path("b1.sock")), b5(path("b5.sock"));
    start({.Port = 5}, portSet({1, 5}), {{1, "sim:" + b1.socket}, {5, "sim:" + b5.socket}}, &b5);
    ASSERT_TRUE(w->ComPort->Connected());
    edit(
        [&] {
            EXPECT_EQ(dlg->PanelTestColor(), lime);
            if (c.open)
                b1.connectDuring([&] { dlg->cbPort->setCurrentIndex(c.index); });
            else
                dlg->cbPort->setCurrentIndex(c.index);
            EXPECT_EQ(w->ComPort->Connected(), c.open);
            EXPECT_EQ(dlg->PanelTestColor(), c.open ? lime : dlg->parentColor());
            EXPECT_EQ(dlg->cbAlg->isEnabled(), c.index > 0);
        },
        false);
    EXPECT_EQ(w->ComPort->Port(), c.port);
    EXPECT_EQ(w->ComPort->Connected(), c.open);
    EXPECT_EQ(ui(*w).ImageLSzeit->isVisible(), c.open);
    EXPECT_FALSE(w->cfgPausePending());
    EXPECT_TRUE(errors.isEmpty()) << errors.join(';').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Picks, CfgPortPick,
                         ::testing::Values(PickCase{0, 0, false},  // "Keine"
                                           PickCase{1, 1, true})); // COM1

// A lost port is retried until another port or "Keine" is picked.
class CfgLostPortPick : public CfgDialogTest, public ::testing::WithParamInterface<PickCase>
{
};

TEST_P(CfgLostPortPick, PickingEndsTheRetries)
{
    const PickCase c = GetParam();
    Barrier b1(path("b1.sock")), b5(path("b5.sock"));
    start({.Port = 5}, portSet({1, 5}), {{1, "sim:" + b1.socket}, {5, "sim:" + b5.socket}}, &b5);
    TestTimerFactory retries;
    w->ComPort->setTimerFactory(retries.factory());
    b5.server.shutdown();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->ComPort->Retrying(); }, 10000));
    edit(
        [&] {
            EXPECT_EQ(dlg->PanelTestColor(), dlg->parentColor());
            if (c.open)
                b1.connectDuring([&] { dlg->cbPort->setCurrentIndex(c.index); });
            else
                dlg->cbPort->setCurrentIndex(c.index);
            EXPECT_FALSE(w->ComPort->Retrying());
        },
        false);
    EXPECT_EQ(w->ComPort->Port(), c.port);
    EXPECT_EQ(w->ComPort->Connected(), c.open);
    EXPECT_EQ(ui(*w).ImageLSzeit->isVisible(), c.open);
    ASSERT_EQ(retries.made.size(), 1u);
    EXPECT_FALSE(retries.made[0]->isActive());
    // COM5's barrier back: nothing opens it.
    QString error;
    ASSERT_TRUE(b5.server.listen(b5.socket, error)) << error.toStdString();
    retries.made[0]->advance(5 * TComPort::RetryIntervalMs);
    EXPECT_EQ(retries.made[0]->fired, 0);
    EXPECT_EQ(w->ComPort->Port(), c.port);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(';').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Picks, CfgLostPortPick,
                         ::testing::Values(PickCase{0, 0, false},  // "Keine"
                                           PickCase{1, 1, true})); // COM1

struct WaitCase
{
    int stored;
    const char *shown;
    int confirmed;
};

class CfgLockTime : public CfgDialogTest, public ::testing::WithParamInterface<WaitCase>
{
};

TEST_P(CfgLockTime, ShownWithOneDecimalAndStoredInWholeTenths)
{
    const WaitCase c = GetParam();
    start({.Wait = c.stored}, portSet({1}));
    edit([&] { EXPECT_EQ(dlg->seWait->text(), c.shown); }, true);
    EXPECT_EQ(w->guard->lockTime(), c.confirmed);
}

INSTANTIATE_TEST_SUITE_P(Cases, CfgLockTime,
                         ::testing::Values(WaitCase{140, "0,1", 100},
                                           WaitCase{15000, "10,0", 10000}, WaitCase{0, "0,0", 0}));

TEST_F(CfgDialogTest, HeldUpButtonStepsTheLockTimeAndTheCounterReaches100OnlyBySpinning)
{
    start({.Port = 1, .Wait = 9700}, portSet({1, 3}), {{1, path("gone")}});
    edit(
        [&] {
            TTimerSpeedButton *up = dlg->seWait->Button()->UpButton();
            QTest::mousePress(up, Qt::LeftButton, {}, up->rect().center());
            EXPECT_TRUE(dlg->seWait->hasFocus()); // the press hands the focus to the field
            TestTimer *repeat = timers.made.back();
            QStringList seen;
            for (int ms : {399, 1, 100, 100, 400}) {
                repeat->advance(ms);
                seen << dlg->seWait->text();
            }
            EXPECT_EQ(seen, (QStringList{"9,7", "9,8", "9,9", "10,0", "10,0"}));
            QTest::mouseRelease(up, Qt::LeftButton, {}, up->rect().center());
            EXPECT_FALSE(repeat->isActive());

            dlg->seCounter->setFocus();
            dlg->seCounter->selectAll();
            QTest::keyClicks(dlg->seCounter, "100");
            EXPECT_EQ(dlg->seCounter->text(), "10");
            dlg->seCounter->selectAll();
            QTest::keyClicks(dlg->seCounter, "99");
            up = dlg->seCounter->Button()->UpButton();
            QTest::mouseClick(up, Qt::LeftButton, {}, up->rect().center());
            EXPECT_EQ(dlg->seCounter->text(), "100");
        },
        true);
    EXPECT_EQ(w->guard->lockTime(), 10000);
    EXPECT_EQ(w->tables->CountRunden(), 100);
    EXPECT_EQ(ui(*w).SortGrid1->ColCount(), 102);
}

TEST_F(CfgDialogTest, AlgorithmMinusOneDisablesThePortListAndStaysAfterOk)
{
    start({.Port = 1, .Alg = -1}, portSet({1, 3}), {{1, path("gone")}});
    edit(
        [&] {
            EXPECT_FALSE(dlg->cbPort->isEnabled());
            EXPECT_EQ(dlg->cbPort->currentText(), "COM1");
            EXPECT_EQ(dlg->cbAlg->currentIndex(), -1);
        },
        true);
    EXPECT_EQ(w->ComPort->Tag, -1);
    EXPECT_EQ(w->ComPort->Port(), 1);
}

TEST_F(CfgDialogTest, UserColourChosenThenCancelledKeepsTheUserEntry)
{
    start({}, portSet({1}));
    chooserAnswers = {TColor(0x123456), std::nullopt};
    edit(
        [&] {
            ToColorCombo *zeit = dlg->cbColorCifra2;
            zeit->setFocus();
            QTest::keyClick(zeit, Qt::Key_End); // "Other...": the chooser opens
            EXPECT_TRUE(zeit->IsUserEntrySelected());
            EXPECT_EQ(zeit->ColorValue(), 0x123456u);
            QTest::keyClick(zeit, Qt::Key_Home);
            EXPECT_EQ(zeit->ColorValue(), clBlack);
            QTest::keyClick(zeit, Qt::Key_End); // chooser cancelled
            EXPECT_TRUE(zeit->IsUserEntrySelected());
            EXPECT_EQ(zeit->ColorValue(), 0x123456u);
            EXPECT_EQ(zeit->Tag, 0);
        },
        true);
    // The chooser starts with its own last colour, not the combo's.
    EXPECT_EQ(chooserStarts, (QList<TColor>{clBlack, 0x123456}));
    EXPECT_EQ(ui(*w).PanelTimer->C4(), 0x123456u);
}

TEST_F(CfgDialogTest, ContactTestOnTheWorkerThreadAndTimesAgainAfterThePause)
{
    Barrier b5(path("b5.sock"));
    start({.Wait = 0}, portSet({5}), {{5, "sim:" + b5.socket}});
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3); // the barrier is free
    auto status = [&] { return w->guard->LastLineStatus; };
    edit(
        [&] {
            b5.connectDuring([&] { dlg->cbPort->setCurrentIndex(1); });
            EXPECT_TRUE(w->ComPort->Connected());
            EXPECT_EQ(dlg->PanelTestColor(), lime);
            b5.server.closeContact(k46);
            ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->PanelTestColor() == red; }, 10000));
            EXPECT_EQ(dlg->PanelTest->text(), "4+6");
            b5.server.openContact(k46);
            ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->PanelTestColor() == lime; }, 10000));
            EXPECT_EQ(dlg->PanelTest->text(), "");
            b5.server.closeContact(k78);
            ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->PanelTest->text() == "7+8"; }, 10000));
            b5.server.closeContact(k46); // two at once
            ASSERT_TRUE(QTest::qWaitFor([&] { return (status() & 0xF0) == (k46 | k78); }, 10000));
            EXPECT_EQ(dlg->PanelTestColor(), red);
            EXPECT_EQ(dlg->PanelTest->text(), "7+8");
            b5.server.setContacts(0);
            ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->PanelTestColor() == lime; }, 10000));
        },
        true);
    EXPECT_TRUE(times().isEmpty()); // nothing reached the timing path
    // "OK" with another port: closed for a second, then opened again.
    EXPECT_TRUE(w->cfgPausePending());
    EXPECT_FALSE(w->ComPort->Connected());
    // A barrier time is the worker's stamp: the reopened port stamps with a test clock.
    // It outlives the window, whose port the fixture closes after this body.
    static TestStampClock stamps;
    stamps.setOrigin(12, 0, 0, 0);
    w->ComPort->setStampClock(stamps);
    b5.connectDuring([&] { pause()->advance(1000); });
    EXPECT_TRUE(w->ComPort->Connected());
    EXPECT_EQ(w->ComPort->Port(), 5);
    b5.server.closeContact(k46);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times() == QStringList{"12:00:00,00"}; }, 10000));
}

// A port chosen in the list takes the chosen trigger edge at once and keeps it after
// "Abbrechen": with "Aus" the opening of the contact takes the time, not its closing.
TEST_F(CfgDialogTest, TriggerEdgeChosenWithAPortHoldsAfterCancel)
{
    Barrier b5(path("b5.sock"));
    start({.Wait = 0}, portSet({5}), {{5, "sim:" + b5.socket}});
    // A barrier time is the worker's stamp: the port opened in the dialog stamps with a
    // test clock. It outlives the window, whose port the fixture closes after this body.
    static TestStampClock stamps;
    stamps.setOrigin(12, 0, 0, 0);
    w->ComPort->setStampClock(stamps);
    edit(
        [&] {
            dlg->cbAlg->setCurrentIndex(1); // "Aus"
            b5.connectDuring([&] { dlg->cbPort->setCurrentIndex(1); });
            EXPECT_TRUE(w->ComPort->Connected());
        },
        false);
    EXPECT_EQ(w->ComPort->Tag, 1);
    ASSERT_TRUE(w->ComPort->Connected());
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3); // the barrier is free
    b5.server.closeContact(k46);
    ASSERT_TRUE(QTest::qWaitFor([&] { return (w->guard->LastLineStatus & 0xF0) == k46; }, 10000));
    EXPECT_TRUE(times().isEmpty());
    stamps.set(250);
    b5.server.openContact(k46);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times() == QStringList{"12:00:00,25"}; }, 10000));
}

TEST_F(CfgDialogTest, DuringThePauseTheWindowRunsAndTheRestComesAfterIt)
{
    start({.Port = 1}, portSet({1, 3}), {{1, path("gone")}});
    QTest::keyClick(w.get(), Qt::Key_F4);
    edit(
        [&] {
            dlg->cbPort->setCurrentIndex(0);
            dlg->seCounter->setValue(6);
        },
        true);
    ASSERT_TRUE(w->cfgPausePending());
    EXPECT_FALSE(ui(*w).mCFG->isEnabled()); // no second edit before the first is applied
    EXPECT_EQ(w->tables->CountRunden(), 4);
    clock.set(11, 0, 0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui(*w).PanelTimer->shownValue(0) == 39600000; },
                                10000)); // display tick
    clock.set(11, 0, 0, 500);
    QTest::keyClick(w.get(), Qt::Key_F8);
    EXPECT_EQ(times(), QStringList{"11:00:00,50"});
    pause()->advance(999);
    EXPECT_EQ(w->tables->CountRunden(), 4);
    pause()->advance(1);
    EXPECT_FALSE(w->cfgPausePending());
    EXPECT_TRUE(ui(*w).mCFG->isEnabled());
    EXPECT_EQ(w->tables->CountRunden(), 6);
    EXPECT_EQ(w->ComPort->Port(), 0);
    EXPECT_EQ(ui(*w).PanelTimer->shownValue(1), 39600500); // running: the rows are not reset
}

TEST_F(CfgDialogTest, ChosenValuesSurviveARestart)
{
    start({}, portSet({1, 3}));
    chooserAnswers = {TColor(0x224466)};
    edit(
        [&] {
            dlg->cbAlg->setCurrentIndex(1);
            dlg->seWait->setValue(2.5);
            dlg->seCounter->setValue(9);
            dlg->cbColorFon->setFocus();
            QTest::keyClick(dlg->cbColorFon, Qt::Key_End);
            dlg->cbColorCifra->setColorValue(clRed);
        },
        true);
    dlg.reset();
    w.reset(); // saves
    w = std::make_unique<TFormMain>(&clock);
    const TSettings after = w->currentSettings();
    EXPECT_EQ(after.CountRunden, 9);
    EXPECT_EQ(after.Wait, 2500);
    EXPECT_EQ(after.C1, 0x224466u);
    EXPECT_EQ(after.C2, clRed);
    EXPECT_EQ(after.Alg, 0); // the algorithm goes with a port; "Keine" leaves it
}

TEST_F(CfgDialogTest, FewerTimeColumnsKeepTheColumnsThatHoldTimes)
{
    start({}, portSet({1}));
    ui(*w).SortGrid1->setCells(0, 1, "12");
    ui(*w).SortGrid1->setCells(4, 1, "10:00:00,00"); // third time
    edit([&] { dlg->seCounter->setValue(2); }, true);
    EXPECT_EQ(w->tables->CountRunden(), 3);
    EXPECT_EQ(ui(*w).SortGrid1->Cells(4, 1), "10:00:00,00");
    EXPECT_TRUE(ui(*w).StatusBar1->currentMessage().startsWith("Zeitenanzahl 3 statt 2"));
    edit([&] { dlg->seCounter->setValue(1); }, false); // cancelled: nothing applied
    EXPECT_EQ(w->tables->CountRunden(), 3);
}

TEST_F(CfgDialogTest, EndingTheProgramDuringThePauseKeepsWhatWasConfirmed)
{
    start({.Port = 1}, portSet({1, 3}), {{1, path("gone")}});
    edit(
        [&] {
            dlg->cbPort->setCurrentIndex(0);
            dlg->seCounter->setValue(6);
        },
        true);
    ASSERT_TRUE(w->cfgPausePending());
    dlg.reset();
    w.reset(); // saves
    TSettings s;
    TQSettingsStore store("tornelo");
    SettingsIO::load(store, s);
    EXPECT_EQ(s.CountRunden, 6);
    EXPECT_EQ(s.Port, 0);
}

// The ports of a folder laid out as /sys and /dev: probed there, and described from there.
class CfgPortList : public CfgDialogTest
{
protected:
    // The window with nothing stored, its probe and its port descriptions on the tree.
    void startOnTree()
    {
        TFormMain::portDiscovery() = PortDiscovery(tree.root());
        start({}, 0);
        // Present is what has a device node in the tree, as long as the program does not
        // hold it (the real probe cannot open a port the program holds); nothing of the
        // machine is opened.
        TFormMain::portProbe() = [this] {
            return probePorts(defaultDevicePath, [this](const QString &path) {
                const PortDiscovery &d = TFormMain::portDiscovery();
                const QString node = d.node(path);
                const bool held = w && w->ComPort->Connected() &&
                                  (node == d.node(defaultDevicePath(w->ComPort->Port())) ||
                                   node == d.node(w->ComPort->StableName()));
                return !held && !node.isEmpty();
            });
        };
    }
    QStringList entries() const
    {
        QStringList out;
        for (int i = 0; i < dlg->cbPort->count(); ++i)
            out << dlg->cbPort->itemText(i) + " = " +
                       dlg->cbPort->itemData(i, Qt::ToolTipRole).toString();
        return out;
    }

    FakeDeviceTree tree;
};

// The list names each port and is probed again each time the dialog opens: an adapter
// plugged in after the start is offered without a restart.
TEST_F(CfgPortList, NamesEachPortAndOffersAnAdapterPluggedInLater)
{
    tree.addOnBoard("ttyS0");
    tree.plugUsb("ttyUSB0", "1-2", "FTDI", "FT232R USB UART", "A9X1");
    startOnTree();
    // Picking a port opens the device double, never the machine's.
    auto line = std::make_shared<FakeSerialLine>();
    w->ComPort->setDeviceFactory(line->factory());
    edit(
        [&] {
            EXPECT_EQ(entries(), (QStringList{"Keine = ", "COM1 = /dev/ttyS0",
                                              "COM5 = /dev/ttyUSB0 · FTDI FT232R USB UART"}))
                << entries().join(" | ").toStdString();
            EXPECT_EQ(dlg->cbPort->toolTip(),
                      "Durchfahrt (4+6)\nCOM1: /dev/ttyS0\nCOM5: /dev/ttyUSB0 · FTDI FT232R USB "
                      "UART");
            EXPECT_EQ(dlg->lPortInfo->text(), "Ohne Lichtschranke");
            dlg->cbPort->setCurrentIndex(2);
            EXPECT_TRUE(w->ComPort->Connected());
            EXPECT_EQ(dlg->lPortInfo->text(), "/dev/ttyUSB0 · FTDI FT232R USB UART");
        },
        true);
    ASSERT_TRUE(pause());
    pause()->advance(1000);
    ASSERT_TRUE(w->ComPort->Connected());

    tree.plugUsb("ttyUSB1", "1-4", "Silicon Labs", "CP2102 USB to UART Bridge Controller", "01");
    edit(
        [&] {
            EXPECT_EQ(entries(),
                      (QStringList{"Keine = ", "COM1 = /dev/ttyS0",
                                   "COM5 = /dev/ttyUSB0 · FTDI FT232R USB UART",
                                   "COM6 = /dev/ttyUSB1 · Silicon Labs CP2102 USB to UART Bridge "
                                   "Controller"}));
            // The port in use is offered and chosen, though the probe cannot see it.
            EXPECT_EQ(dlg->cbPort->currentText(), "COM5");
            EXPECT_EQ(dlg->lPortInfo->text(), "/dev/ttyUSB0 · FTDI FT232R USB UART");
        },
        false);
    EXPECT_EQ(w->ComPort->Port(), 5);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(';').toStdString();
}

// The adapter is pulled and comes back as ttyUSB1 (the program still held ttyUSB0): the
// retries find it through its by-id name, and the status bar says under which name.
TEST_F(CfgPortList, ALostPortIsFoundAgainUnderANewNameThroughItsByIdLink)
{
    Barrier first(tree.at("/dev/ttyUSB0"));
    tree.plugUsb("ttyUSB0", "1-2", "FTDI", "FT232R USB UART", "A9X1");
    startOnTree();
    // The tree's nodes are simulated barriers; names are looked up in the tree.
    auto inTree = [this](const QString &path) {
        return std::make_unique<SimSerialDevice>(tree.at(path));
    };
    w->ComPort->setDeviceFactory([&](quint8 n) { return inTree(defaultDevicePath(n)); });
    w->ComPort->setPathDeviceFactory(inTree);
    TestTimerFactory retries;
    w->ComPort->setTimerFactory(retries.factory());
    w->ComPort->setPort(5);
    first.connectDuring([&] { w->ComPort->Open(); });
    ASSERT_TRUE(w->ComPort->Connected());
    const QString stable = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0";
    EXPECT_EQ(w->ComPort->StableName(), stable);

    first.server.shutdown();
    tree.unplug("ttyUSB0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->ComPort->Retrying(); }, 10000));
    EXPECT_TRUE(ui(*w).StatusBar1->currentMessage().startsWith("Verbindung zur Lichtschranke an COM5"))
        << ui(*w).StatusBar1->currentMessage().toStdString();

    Barrier back(tree.at("/dev/ttyUSB1"));
    tree.plugUsb("ttyUSB1", "1-2", "FTDI", "FT232R USB UART", "A9X1");
    back.connectDuring([&] { retries.made.back()->fire(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->ComPort->Connected(); }, 10000));
    const QString said = ui(*w).StatusBar1->currentMessage();
    EXPECT_TRUE(said.startsWith("Lichtschranke an COM5 um ")) << said.toStdString();
    EXPECT_TRUE(said.endsWith(" verbunden, jetzt als /dev/ttyUSB1 · FTDI FT232R USB UART."))
        << said.toStdString();
    EXPECT_EQ(w->ComPort->Port(), 5); // the stored number stays
    // The dialog offers it as COM5 and says where it is now.
    edit(
        [&] {
            EXPECT_EQ(entries(),
                      (QStringList{"Keine = ", "COM5 = /dev/ttyUSB1 · FTDI FT232R USB UART"}));
        },
        false);

    // Contacts of the barrier back under its new name reach the program.
    back.server.closeContact(k46);
    ASSERT_TRUE(QTest::qWaitFor([&] { return (w->guard->LastLineStatus & k46) != 0; }, 10000));
    w->ComPort->Close();
}

} // namespace
