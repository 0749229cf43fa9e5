#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "platform/FileDialog.h"
#include "protocol/ProtocolTables.h"
#include "settings/Settings.h"
#include "timing/BarrierGuard.h"
#include "timing/display/TimeDisplay.h"
#include "widgets/SortGrid.h"

#include "tests/support/TempSettings.h"
#include "tests/support/TestClock.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Records the order of the writes; reads come from a map.
class RecordingStore : public ISettingsStore
{
public:
    bool exists() const override { return present; }
    std::optional<qint32> readDword(const QString &name) const override
    {
        if (!values.contains(name))
            return std::nullopt;
        return values.value(name);
    }
    void writeDword(const QString &name, qint32 v) override
    {
        written << name;
        values[name] = v;
    }
    bool commit() override { return writable; }

    bool present = true;
    bool writable = true;
    QMap<QString, qint32> values;
    QStringList written;
};

TEST(SettingsIO, MissingValuesKeepTheirDefaultsAndTheOthersAreRead)
{
    RecordingStore store;
    store.values = {{"Port", 3}, {"Alg", 1}, {"Top", 5}, {"Wait", 900}};
    TSettings s;
    EXPECT_EQ(SettingsIO::load(store, s), 4);
    TSettings expected;
    expected.Port = 3;
    expected.Alg = 1;
    expected.Top = 5;
    expected.Wait = 900;
    EXPECT_EQ(s, expected); // Top and Wait also after the gap

    store.present = false; // no key at all: nothing read
    TSettings fresh;
    EXPECT_EQ(SettingsIO::load(store, fresh), 0);
    EXPECT_EQ(fresh, TSettings());
}

TEST(SettingsIO, PortCutToEightBitsAndBrokenRangesHeld)
{
    RecordingStore store;
    int i = 0;
    for (const QString &n : SettingsIO::readOrder())
        store.values[n] = ++i;
    store.values["Port"] = 257;
    store.values["Alg"] = -1;
    store.values["CountRunden"] = 0;
    store.values["Wait"] = -40;
    TSettings s;
    EXPECT_EQ(SettingsIO::load(store, s), 15);
    EXPECT_EQ(s.Port, 1);
    EXPECT_EQ(s.Alg, -1); // no range check: other values just never trigger
    EXPECT_EQ(s.CountRunden, 1);
    EXPECT_EQ(s.Wait, 0);
    store.values["CountRunden"] = 250;
    SettingsIO::load(store, s);
    EXPECT_EQ(s.CountRunden, 100);
    store.values["Sound"] = 0;
    SettingsIO::load(store, s);
    EXPECT_FALSE(s.Sound);
}

// A hand-edited lock time beyond what the dialog can set would lock the barrier for days.
TEST(SettingsIO, LockTimeHeldToWhatTheDialogCanSet)
{
    const struct
    {
        qint32 stored;
        int loaded;
    } cases[] = {{2147483647, 10000}, {10001, 10000}, {10000, 10000}, {9900, 9900}, {0, 0}, {-1, 0},
                 {-2147483647 - 1, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        RecordingStore store;
        store.values = {{"Port", 300}, {"Alg", 7}, {"Wait", c.stored}};
        TSettings s;
        EXPECT_EQ(SettingsIO::load(store, s), 3);
        EXPECT_EQ(s.Wait, c.loaded);
        // The others keep their reading.
        EXPECT_EQ(s.Port, 300 & 0xFF);
        EXPECT_EQ(s.Alg, 7);
    }
}

TEST(SettingsIO, WritesEveryValueInTheSaveOrder)
{
    RecordingStore store;
    TSettings s;
    s.Sound = false;
    s.C3 = 0xFF00000F; // a system colour survives as 32 bits
    EXPECT_TRUE(SettingsIO::save(store, s));
    EXPECT_EQ(store.written,
              (QStringList{"Left", "Top", "Width", "Height", "Sound", "Port", "Alg", "C1", "C2",
                           "C3", "Acc", "C4", "FilterInd", "Wait", "CountRunden"}));
    TSettings back;
    SettingsIO::load(store, back);
    EXPECT_EQ(back, s);
    store.writable = false;
    EXPECT_FALSE(SettingsIO::save(store, s));
}

TEST(SettingsStore, RealFilesRoundTripAndRejectText)
{
    TempSettings tmp;
    {
        TQSettingsStore store("tornelo");
        EXPECT_FALSE(store.exists());
        TSettings s;
        s.Port = 7;
        s.C2 = 0xFF0000;
        s.C1 = 0xFFFFFFFF;
        ASSERT_TRUE(SettingsIO::save(store, s));
        EXPECT_EQ(store.fileName(), tmp.file());
    }
    {
        TQSettingsStore store("tornelo");
        EXPECT_TRUE(store.exists());
        TSettings s;
        EXPECT_EQ(SettingsIO::load(store, s), 15);
        EXPECT_EQ(s.Port, 7);
        EXPECT_EQ(s.C2, 0xFF0000u);
        EXPECT_EQ(s.C1, 0xFFFFFFFFu);
    }
    tmp.write({{"Top", "viel"}, {"Width", "1.5"}});
    TQSettingsStore store("tornelo");
    TSettings s;
    EXPECT_EQ(SettingsIO::load(store, s), 13); // all but the two that are no whole numbers
    EXPECT_EQ(s.Port, 7);
    EXPECT_EQ(s.Top, 112);
    EXPECT_EQ(s.Width, 800);
}

TEST(SettingsStore, UnwritableStoreReportsFailure)
{
    TempSettings tmp;
    SettingsPathGuard path("/proc/tornelo-no-such");
    TQSettingsStore store("tornelo");
    EXPECT_FALSE(SettingsIO::save(store, TSettings()));
}

class StartUpTest : public ::testing::Test
{
protected:
    TempSettings tmp;
    TestClock clock;
};

TEST_F(StartUpTest, FirstStartUsesDefaultsAndCloseWritesAllValues)
{
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.size(), QSize(800, 530));
        EXPECT_EQ(w.pos(), QPoint(243, 112));
        EXPECT_EQ(w.guard->lockTime(), 100);
        EXPECT_EQ(ui(w).PanelTimer->C1(), clBlack);
        EXPECT_EQ(ui(w).PanelTimer->C2(), clLime);
        EXPECT_EQ(ui(w).PanelTimer->C4(), clYellow);
        EXPECT_EQ(w.tables->CountRunden(), 4);
        EXPECT_EQ(w.windowTitle(), "tornelo 1.7");
        EXPECT_EQ(w.SettingsKey, "\\Software\\Quendra\\tornelo");
        EXPECT_EQ(ui(w).sbCls->toolTip(), QString::fromUtf8("Neu / Löschen"));
        EXPECT_FALSE(QFile::exists(tmp.file())); // nothing written before the end
        w.resize(800, 580);                      // the offscreen screen is 800 x 600
    }
    QSettings s(tmp.file(), QSettings::IniFormat);
    EXPECT_EQ(s.allKeys().size(), 15);
    EXPECT_EQ(s.value("Width").toInt(), 800);
    EXPECT_EQ(s.value("Height").toInt(), 580);
    EXPECT_EQ(s.value("Wait").toInt(), 100);
    // The next start brings the size back.
    TFormMain again(&clock);
    EXPECT_EQ(again.size(), QSize(800, 580));
}

TEST_F(StartUpTest, PartialStoresRestoreEveryValueTheyHold)
{
    tmp.write({{"Port", 0}, {"Alg", 1}, {"Wait", 500}});
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.currentSettings().Alg, 1);
        EXPECT_EQ(w.guard->lockTime(), 500);
        EXPECT_EQ(w.size(), QSize(800, 530));
    }
    TempSettings other;
    other.write({{"Port", 0},
                 {"Alg", 0},
                 {"Left", 10},
                 {"Top", 20},
                 {"Width", 500},
                 {"Height", 560},
                 {"C1", 0xFFFFFF},
                 {"Wait", 300}});
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.pos(), QPoint(10, 20));
        EXPECT_EQ(w.size(), QSize(800, 560));   // the minimum raises the width
        EXPECT_EQ(ui(w).PanelTimer->C1(), clWhite); // also after the missing "Sound"
        EXPECT_EQ(w.guard->lockTime(), 300);
    }
    QSettings s(other.file(), QSettings::IniFormat);
    EXPECT_EQ(s.value("Width").toInt(), 800);
}

TEST_F(StartUpTest, HandEditedLockTimeOfDaysIsHeldToTenSeconds)
{
    tmp.write({{"Port", 0}, {"Wait", 2147483647}});
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.guard->lockTime(), 10000);
    }
    QSettings s(tmp.file(), QSettings::IniFormat);
    EXPECT_EQ(s.value("Wait").toInt(), 10000);
}

TEST_F(StartUpTest, UnreadableValueCostsNoOtherValue)
{
    tmp.write({{"Left", "abc"}, {"Top", 40}, {"Wait", 700}, {"CountRunden", 9}});
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.pos(), QPoint(243, 40));
        EXPECT_EQ(w.guard->lockTime(), 700);
        EXPECT_EQ(ui(w).SortGrid1->ColCount(), 11);
    }
    QSettings s(tmp.file(), QSettings::IniFormat);
    EXPECT_EQ(s.value("CountRunden").toInt(), 9);
    EXPECT_EQ(s.value("Left").toInt(), 243);
}

TEST_F(StartUpTest, HugeStoredSizeIsHeldToTheScreen)
{
    tmp.write({{"Width", 40000}, {"Height", 2147483647}});
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize fits = area.size().expandedTo({800, 530});
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.geometry(), QRect(area.topLeft(), fits));
    }
    QSettings s(tmp.file(), QSettings::IniFormat); // nor does it come back
    EXPECT_EQ(QSize(s.value("Width").toInt(), s.value("Height").toInt()), fits);
}

TEST_F(StartUpTest, PositionOnNoScreenFallsBackToTheDesignPosition)
{
    tmp.write({{"Port", 0},
               {"Alg", 0},
               {"Left", 30000},
               {"Top", -30000},
               {"Width", 800},
               {"Height", 540}});
    TFormMain w(&clock);
    EXPECT_EQ(w.pos(), QPoint(243, 112));
    EXPECT_EQ(w.size(), QSize(800, 540));
}

TEST_F(StartUpTest, RenamedProgramStartsFreshAndSavesUnderItsName)
{
    tmp.write({{"Port", 0}, {"Alg", 0}, {"Left", 50}, {"Top", 60}});
    tmp.setExeName("Zeitnahme");
    {
        TFormMain w(&clock);
        EXPECT_EQ(w.ApplicationTitle, "Zeitnahme");
        EXPECT_EQ(w.windowTitle(), "Zeitnahme 1.7");
        EXPECT_EQ(w.SettingsKey, "\\Software\\Quendra\\Zeitnahme");
        EXPECT_EQ(w.HelpFile, tmp.dir.path() + "/bin/Zeitnahme.chm");
        EXPECT_EQ(ui(w).SaveDialog1->FileName, "Zeitnahme.txt");
        EXPECT_EQ(ui(w).SaveDialog1->InitialDir, tmp.dir.path() + "/bin");
        EXPECT_EQ(w.pos(), QPoint(243, 112));
    }
    EXPECT_TRUE(QFile::exists(tmp.file("Zeitnahme")));
    QSettings old(tmp.file("tornelo"), QSettings::IniFormat);
    EXPECT_EQ(old.value("Left").toInt(), 50); // the other program's values are untouched
}

} // namespace

namespace {
TEST_F(StartUpTest, StoredColoursReachTheDisplay)
{
    tmp.write({{"Port", 0},
               {"Alg", 0},
               {"Left", 243},
               {"Top", 112},
               {"Width", 800},
               {"Height", 530},
               {"Sound", 0},
               {"C1", 0xFFFFFF},
               {"C2", 0xFF0000},
               {"C3", 7},
               {"Acc", 5},
               {"C4", 0x0000FF},
               {"FilterInd", 2},
               {"Wait", 0},
               {"CountRunden", 2}});
    TFormMain w(&clock);
    const QImage img = ui(w).PanelTimer->grab().toImage();
    EXPECT_EQ(img.pixelColor(2, 2), QColor(Qt::white));
    // The top segment of the first upper digit (a zero) is lit blue, the lower one red.
    EXPECT_EQ(img.pixelColor(8 + 22, 11 + 5), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(8 + 22, 136 + 5), QColor(Qt::red));
    EXPECT_EQ(w.guard->lockTime(), 0);
    EXPECT_EQ(w.tables->CountRunden(), 2);
    EXPECT_EQ(ui(w).SortGrid1->ColCount(), 4);
    EXPECT_EQ(w.FilterInd, 2);
    const TSettings s = w.currentSettings();
    EXPECT_FALSE(s.Sound);
    EXPECT_EQ(s.C3, 7u);
    EXPECT_EQ(s.Acc, 5);
}
} // namespace
