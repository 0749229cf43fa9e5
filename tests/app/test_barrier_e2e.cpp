#include "tests/support/MainWindowFixture.h"

#include "serial/Comms.h"
#include "serial/SimBarrier.h"
#include "timing/BarrierGuard.h"
#include "timing/TimeDisplay.h"
#include "widgets/ClickImage.h"

#include <QLabel>
#include <QMessageBox>

#include <thread>

namespace {

constexpr quint32 k46 = 0x20; // "4+6": DTR to DSR
constexpr quint32 k78 = 0x10; // "7+8": RTS to CTS

// The program with its port mapped to the simulated barrier through the settings store,
// as a user without hardware runs it: the real worker thread delivers the line changes.
class BarrierEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        socket = settings.dir.path() + QStringLiteral("/barrier.sock");
        QString error;
        ASSERT_TRUE(server.listen(socket, error)) << error.toStdString();
    }

    void start(int alg, int wait)
    {
        settings.write({{"Port", 5}, {"Alg", alg}, {"Left", 243}, {"Top", 112}, {"Width", 800},
                        {"Height", 530}, {"Sound", 1}, {"C1", 0}, {"C2", 0xFF00}, {"C3", 0},
                        {"Acc", 2}, {"C4", 0xFFFF}, {"FilterInd", 1}, {"Wait", wait},
                        {"CountRunden", 4}, {"Devices/COM5", "sim:" + socket}});
        // The barrier greets the port while the window opens it during its creation.
        bool accepted = false;
        std::thread barrier([&] { accepted = server.waitForClient(3000); });
        w = std::make_unique<TFormMain>(&clock);
        barrier.join();
        ASSERT_TRUE(accepted);
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }

    void pass(quint32 pair, bool closed)
    {
        if (closed)
            server.closeContact(pair);
        else
            server.openContact(pair);
    }
    // Lets the worker's hand-overs reach the window.
    void settle(int ms = 150) { QTest::qWait(ms); }
    QStringList times() const
    {
        QStringList out;
        const TSortGrid &g = *w->SortGridPred;
        for (int r = 1; r < g.RowCount(); ++r)
            if (!g.Cells(1, r).isEmpty())
                out << g.Cells(1, r);
        return out;
    }

    TempSettings settings;
    TestClock clock;
    SimBarrierServer server;
    QString socket;
    std::unique_ptr<TFormMain> w;
};

TEST_F(BarrierEndToEnd, PassesTakeTimesOfDayIntoTheProtocol)
{
    start(0, 200);
    ASSERT_TRUE(w->ComPort->Connected());
    EXPECT_TRUE(w->ImageLSzeit->isVisible()); // shown while the port is open
    QTest::keyClick(w.get(), Qt::Key_F4);
    pass(k46, true);
    settle();
    EXPECT_TRUE(times().isEmpty()); // START left the barrier locked
    pass(k46, false);
    settle();

    QTest::keyClick(w.get(), Qt::Key_F3);
    clock.set(11, 22, 33, 449);
    pass(k46, true);
    QTRY_COMPARE_WITH_TIMEOUT(times().size(), 1, 3000);
    EXPECT_EQ(times()[0], "11:22:33,44");
    EXPECT_EQ(w->PanelTimer->shownValue(1), 40953449);
    EXPECT_EQ(w->guard->LastLineStatus & 0xF0, k46);
    EXPECT_EQ(w->guard->lockState(), 0); // the lock time runs
    pass(k46, false);
    QTRY_COMPARE_WITH_TIMEOUT(w->guard->lockState(), 1, 3000); // lock time over
    clock.set(11, 22, 40, 0);
    pass(k78, true); // any of the four inputs counts
    QTRY_COMPARE_WITH_TIMEOUT(times().size(), 2, 3000);
    EXPECT_EQ(times()[1], "11:22:40,00");
}

TEST_F(BarrierEndToEnd, OpeningEdgeAndClosingThePort)
{
    start(1, 0);
    QTest::keyClick(w.get(), Qt::Key_F4);
    QTest::keyClick(w.get(), Qt::Key_F3);
    pass(k46, true);
    settle();
    EXPECT_TRUE(times().isEmpty());
    pass(k46, false);
    QTRY_COMPARE_WITH_TIMEOUT(times().size(), 1, 3000);
    w->ComPort->Close();
    EXPECT_FALSE(w->ImageLSzeit->isVisible());
}

TEST(BarrierStartUp, AbsentPortIsSilentAndLeavesTheIconHidden)
{
    TempSettings settings;
    settings.write({{"Port", 9}, {"Alg", 0}, {"Devices/COM9", settings.dir.path() + "/no-such-tty"}});
    TestClock clock;
    TFormMain w(&clock);
    w.show();
    QTest::qWait(50);
    EXPECT_FALSE(w.ComPort->Connected());
    EXPECT_FALSE(w.ImageLSzeit->isVisible());
    EXPECT_EQ(w.ComPort->Port(), 9); // kept, and tried again at the next start
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
