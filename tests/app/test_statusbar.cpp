#include "platform/SystemError.h"
#include "tests/support/WindowControls.h"
#include "serial/Comms.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/FileSeams.h"
#include "tests/support/FreePort.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/TestStampClock.h"
#include "tests/support/TestTimer.h"
#include "tests/support/TextLoads.h"
#include "tests/support/core/Files.h"

#include <QLabel>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cerrno>

namespace {

class StatusBar : public MainWindowFixture
{
protected:
    QString path(const char *name) const { return dir.filePath(QString::fromUtf8(name)); }
    QString said() const { return ui(*w).StatusBar1->currentMessage(); }
    QString hint() const { return ui(*w).StatusBar1->toolTip(); }

    QTemporaryDir dir;
    FileSeams seams;
};

// Each load and save says what it did; the window does so without the journal running.
TEST_F(StatusBar, LoadsAndSavesSayWhatWasDone)
{
    ASSERT_TRUE(writeBytes(path("starter.txt"), "Nr.;Fahrer\r\n7;A\r\n8;B\r\n9;C\r\n"));
    seams.choose(path("starter.txt"), 1);
    ASSERT_TRUE(awaitTextLoad(*w->files, [&] { QTest::mouseClick(ui(*w).sbOpen, Qt::LeftButton); }));
    EXPECT_EQ(said(), "Geladen: starter.txt, 3 Fahrzeuge");

    seams.choose(path("ergebnis.txt"), 1);
    QTest::mouseClick(ui(*w).sbSave, Qt::LeftButton);
    EXPECT_EQ(said(), "Gespeichert: ergebnis.txt, 3 Fahrzeuge");
    seams.choose(path("ergebnis.html"), 1);
    QTest::mouseClick(ui(*w).sbSave, Qt::LeftButton);
    EXPECT_EQ(said(), "Als Webseite gespeichert: ergebnis.html, 3 Fahrzeuge");

    // A save that failed says no "Gespeichert".
    seams.choose(path("fehlt/ergebnis.txt"), 1);
    QTest::mouseClick(ui(*w).sbSave, Qt::LeftButton);
    EXPECT_EQ(seams.errors.size(), 1);
    EXPECT_EQ(said(), "Als Webseite gespeichert: ergebnis.html, 3 Fahrzeuge");
    EXPECT_TRUE(seams.errors.value(0).contains("Datei oder Gerät nicht gefunden"));

    ASSERT_TRUE(writeBytes(path("einer.txt"), "Nr.;Fahrer\r\n12;Meier\r\n"));
    ASSERT_TRUE(loadText(*w->files, path("einer.txt")));
    EXPECT_EQ(said(), "Geladen: einer.txt, 1 Fahrzeug");
    // The messages it replaced stay readable in the bar's hint, the newest first.
    const QStringList lines = hint().split('\n');
    ASSERT_GE(lines.size(), 6) << hint().toStdString();
    EXPECT_EQ(lines[0], said());
    EXPECT_EQ(lines[2], "Davor:");
    // The file is read on a worker, which the bar says meanwhile.
    EXPECT_EQ(lines[3], "10:01:23 Textdatei wird gelesen: " + path("einer.txt"));
    EXPECT_EQ(lines[4], "10:01:23 Als Webseite gespeichert: ergebnis.html, 3 Fahrzeuge");
    EXPECT_EQ(lines[5], "10:01:23 Gespeichert: ergebnis.txt, 3 Fahrzeuge");
}

// A port loss under the live address: the address keeps its field whole, the message is cut
// where the field begins and its hint holds it whole.
TEST_F(StatusBar, ALongPortLossLeavesTheLiveAddressVisible)
{
    auto line = std::make_shared<FakeSerialLine>();
    TestStampClock stamps;
    TestTimerFactory timers;
    w->ComPort->setDeviceFactory(line->factory());
    w->ComPort->setStampClock(stamps);
    w->ComPort->setTimerFactory(timers.factory());
    w->ComPort->setPort(1);
    w->ComPort->Open();

    const quint16 port = freeListenPort();
    ASSERT_NE(port, 0);
    w->startLiveResults(true, port);
    QLabel *live = ui(*w).LabelLive;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return live->text().startsWith("Live-Ergebnisse: "); }, 10000))
        << live->text().toStdString();

    stamps.setOrigin(10, 15, 22, 0);
    line->pushFailure(ECONNRESET);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->ComPort->Retrying(); }, 10000));
    const QString message = said();
    EXPECT_TRUE(message.startsWith("Verbindung zur Lichtschranke an COM1 um 10:15:22 verloren: " +
                                   SystemError::text(ECONNRESET)))
        << message.toStdString();
    QApplication::processEvents();

    // The address in full, inside the bar.
    EXPECT_TRUE(live->isVisible());
    EXPECT_GE(live->width(), live->sizeHint().width());
    EXPECT_LE(live->geometry().right(), ui(*w).StatusBar1->width());
    // The message ends before the field; what does not fit is in the hint.
    const int room = live->x() - 2 - 6;
    ASSERT_GT(ui(*w).StatusBar1->fontMetrics().horizontalAdvance(message), room);
    EXPECT_EQ(hint().section('\n', 0, 0), message);

    // A short message that fits has no hint beyond the earlier ones.
    ui(*w).StatusBar1->showMessage("Kurz");
    EXPECT_TRUE(hint().startsWith("Kurz\n\nDavor:\n")) << hint().toStdString();
    EXPECT_TRUE(hint().contains(message));
    w->ComPort->Close();
}

} // namespace
