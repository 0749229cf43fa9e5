// Spreadsheet exchange through the real LibreOffice (skipped with a reason where it is not
// installed) and through a stand-in that holds a conversion open as long as a test wants.
#include "platform/Printers.h"
#include "protocol/ProtocolTables.h"
#include "protocol/SheetCommands.h"
#include "tests/support/FakeSoffice.h"
#include "tests/support/FileSeams.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ResultsGrid.h"
#include "tests/support/TestTimer.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

class FakeOffice : public ::testing::Test, public FakeSoffice
{
protected:
    FileSeams seams;
};

TEST_F(FakeOffice, TableChangesOnlyWhenTheConversionHasFinished)
{
    auto g = makeResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    std::vector<std::pair<bool, QString>> busy;
    sheets.showBusy = [&](bool b, const QString &s) { busy.emplace_back(b, s); };
    int layouts = 0;
    sheets.layoutColumns = [&] { ++layouts; };
    QSignalSpy done(&sheets, &TSheetCommands::finished);
    answer("Nr.\tFahrer\n12\tMeier\n13\tSchulz\n");

    const QString file = input("liste.xls");
    sheets.LoadProtocolSheet(file);
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_TRUE(busy[0].first);
    EXPECT_EQ(busy[0].second, "Tabelle wird gelesen: " + file);
    EXPECT_TRUE(sheets.busy());
    // A second command while one runs is not started.
    sheets.SaveProtocolSheet(dir.path() + "/x.xls");
    QCoreApplication::processEvents();
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"1", "Alt", "", ""}));

    release();
    ASSERT_TRUE(done.wait(30000));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_EQ(g->RowCount(), 3);
    EXPECT_EQ(gridRow(*g, 0), (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}));
    EXPECT_EQ(gridRow(*g, 2), (QStringList{"13", "Schulz", "", ""}));
    EXPECT_EQ(g->Row(), 1);
    EXPECT_EQ(layouts, 1);
    ASSERT_EQ(busy.size(), 2u);
    EXPECT_FALSE(busy[1].first);
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(FakeOffice, FailuresNameTheFileAndLeaveTheTable)
{
    auto g = makeResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    QSignalSpy done(&sheets, &TSheetCommands::finished);
    const QString file = input("kaputt.xls");
    release();

    // LibreOffice's own words reach the box.
    sheets.LoadProtocolSheet(file);
    ASSERT_TRUE(done.wait(30000));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].startsWith("Die Datei kann nicht gelesen werden: " + file));
    EXPECT_TRUE(seams.errors[0].contains("source file could not be loaded"));

    // Not installed at the time.
    SpreadsheetApp::setExecutableForTesting("-");
    sheets.SaveProtocolSheet(dir.path() + "/neu.xls");
    ASSERT_TRUE(done.wait(30000));
    ASSERT_EQ(seams.errors.size(), 2);
    EXPECT_TRUE(
        seams.errors[1].startsWith("Der Schreibfehler der Datei: " + dir.path() + "/neu.xls"));
    EXPECT_TRUE(seams.errors[1].contains("nicht installiert"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/neu.xls"));

    // A folder is no file to read, nor a target to replace.
    sheets.LoadProtocolSheet(dir.path());
    sheets.SaveProtocolSheet(dir.path());
    EXPECT_EQ(seams.errors.size(), 4);
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"1", "Alt", "", ""}));
}

TEST_F(FakeOffice, TimeLimitEndsTheApplication)
{
    auto g = makeResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    TestTimerFactory timers;
    sheets.application().setTimerFactory(timers.factory());
    QSignalSpy done(&sheets, &TSheetCommands::finished);
    const QString target = dir.path() + "/alt.xls";
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    sheets.SaveProtocolSheet(target);
    ASSERT_EQ(timers.made.size(), 1u);
    EXPECT_EQ(timers.made[0]->interval(), SpreadsheetApp::TimeLimitMs);
    timers.made[0]->fire();
    ASSERT_EQ(done.size(), 1);
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].contains("nicht geantwortet"));
    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");
    EXPECT_FALSE(sheets.busy());
}

// The real LibreOffice. Each conversion costs seconds, so the checks are grouped.
class RealOffice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!SpreadsheetApp::available())
            GTEST_SKIP() << "LibreOffice (soffice) is not installed; scripts/install-deps "
                            "installs libreoffice-calc-nogui";
    }
    bool run(TSheetCommands &s, bool save, const QString &file)
    {
        QSignalSpy done(&s, &TSheetCommands::finished);
        save ? s.SaveProtocolSheet(file) : s.LoadProtocolSheet(file);
        return done.wait(180000) && done.at(0).at(0).toBool();
    }
    QTemporaryDir dir;
    FileSeams seams;
};

TEST_F(RealOffice, EveryFormatKeepsEveryText)
{
    auto g = makeResults(3, {{"007", "Müller", "10:15:22,31", "", "0,5"},
                             {"12", "Łoś & <Söhne>", "", "10:16:01,02", "1e5"},
                             {"3", "", "9:00:00", "", "TRUE"}});
    const TableData before = TProtocolTables::snapshot(*g);
    for (const char *suffix : {"xls", "xlsx", "ods"}) {
        SCOPED_TRACE(suffix);
        const QString file = dir.path() + "/protokoll." + suffix;
        TSheetCommands out(*g, nullptr);
        out.applicationTitle = QStringLiteral("tornelo");
        ASSERT_TRUE(run(out, true, file)) << seams.errors.join('\n').toStdString();
        auto back = makeResults(3);
        TSheetCommands in(*back, nullptr);
        ASSERT_TRUE(run(in, false, file)) << seams.errors.join('\n').toStdString();
        ASSERT_EQ(back->RowCount(), g->RowCount());
        for (int r = 0; r < g->RowCount(); ++r)
            EXPECT_EQ(gridRow(*back, r), before.rows[size_t(r)]);
    }
}

TEST_F(RealOffice, WrittenWorkbookHasItsLookAndProperties)
{
    auto g = makeResults(2, {{"12", "Meier", "10:15:22,31"}});
    TSheetCommands out(*g, nullptr);
    out.applicationTitle = QStringLiteral("Zeitnahme");
    const QString file = dir.path() + "/look.xls";
    ASSERT_TRUE(run(out, true, file));
    // Read independently: LibreOffice turns the workbook back into its XML form.
    SpreadsheetApp office;
    QDir(dir.path()).mkpath("xml");
    SpreadsheetApp::Result result;
    bool finished = false;
    office.convert(file, "fods", dir.path() + "/xml", [&](const SpreadsheetApp::Result &r) {
        result = r;
        finished = true;
    });
    for (int i = 0; i < 1800 && !finished; ++i)
        QTest::qWait(100);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    QFile f(result.outputFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray xml = f.readAll();
    EXPECT_TRUE(xml.contains("<dc:creator>Quendra Software</dc:creator>") ||
                xml.contains("<meta:initial-creator>Quendra Software</meta:initial-creator>"));
    EXPECT_TRUE(xml.contains("<dc:subject>Zeitnahme</dc:subject>"));
    EXPECT_TRUE(xml.contains("table:name=\"Zeitnahme\""));
    EXPECT_TRUE(xml.contains("style:print-orientation=\"landscape\""));
    EXPECT_TRUE(xml.contains("fo:font-weight=\"bold\""));
    EXPECT_TRUE(xml.contains("fo:border=\"0.74pt solid #000000\""));
    EXPECT_TRUE(xml.contains("fo:border=\"1.76pt solid #000000\""));
}

// The main window while a conversion runs.
class SheetWindow : public MainWindowFixture, public FakeSoffice
{
protected:
    void SetUp() override
    {
        Printers::setCountForTesting(1);
        MainWindowFixture::SetUp();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        Printers::setCountForTesting(-1);
    }
    bool finished()
    {
        QSignalSpy done(w->findChild<TSheetCommands *>(), &TSheetCommands::finished);
        release();
        return done.wait(30000);
    }
    FileSeams seams;
};

TEST_F(SheetWindow, WindowGoesOnWhileALoadRuns)
{
    EXPECT_TRUE(w->SpreadsheetAvailable());
    EXPECT_EQ(w->OpenDialog1->entryCount(), 4);
    EXPECT_EQ(w->SaveDialog1->entryCount(), 5);
    key(Qt::Key_F4);
    zeit(10, 20, 0, 0);
    number(1, "7");

    answer("Nr.\tFahrer\n12\tMeier\n");
    seams.choose(input("liste.ods"), 4);
    QTest::mouseClick(w->sbOpen, Qt::LeftButton);
    EXPECT_EQ(w->StatusBar1->currentMessage(),
              "Tabelle wird gelesen: " + dir.path() + "/liste.ods");
    EXPECT_EQ(w->cursor().shape(), Qt::BusyCursor);
    for (QToolButton *b : {w->sbOpen, w->sbSave, w->sbWeb, w->sbCls, w->bInsert, w->bInsertALL})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();

    // Times are taken and numbered meanwhile; moving them waits for the new table.
    zeit(10, 20, 5, 120);
    EXPECT_EQ(pred().Cells(1, 2), "10:20:05,12");
    number(2, "12");
    EXPECT_FALSE(w->bInsert->isEnabled());

    ASSERT_TRUE(finished());
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "", "", "", ""}));
    EXPECT_EQ(w->StatusBar1->currentMessage(), "Geladen: liste.ods, 1 Fahrzeug");
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    for (QToolButton *b : {w->sbOpen, w->sbSave, w->sbCls, w->bInsertALL})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    QTest::mouseClick(w->bInsertALL, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "10:20:05,12", "", "", ""}));
}

TEST_F(SheetWindow, SpreadsheetUnderTheTextEntryIsReadAsASheet)
{
    answer("Nr.\tFahrer\n5\tSchulz\n");
    const QByteArray ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0binary", 16);
    seams.choose(input("liste.txt", ole), 1);
    QTest::mouseClick(w->sbOpen, Qt::LeftButton);
    ASSERT_TRUE(finished());
    EXPECT_EQ(row(res(), 1), (QStringList{"5", "Schulz", "", "", "", ""}));
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(SheetWindow, SaveTakesTheFormatOfTheEntryOrTheName)
{
    w->SortGrid1->setCells(0, 1, "1");
    w->UpdateFileButtons();
    const struct
    {
        const char *name;
        int entry;
        const char *format;
    } cases[] = {{"a.xlsx", 4, "xlsx:"},
                 {"b.ods", 5, "ods:"},
                 {"c.xls", 2, "xls:"},
                 {"d.ods", 2, "ods:"},
                 {"e", 4, "xlsx:"}};
    // The stand-in answers with its arguments, so the test sees what was asked for.
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("echo \"$@\" > \"$out/answer.txt\"\n");
    f.close();
    answer("x");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = dir.path() + "/" + c.name;
        seams.choose(target, c.entry);
        QTest::mouseClick(w->sbSave, Qt::LeftButton);
        ASSERT_TRUE(finished());
        QFile out(target);
        ASSERT_TRUE(out.open(QIODevice::ReadOnly));
        EXPECT_TRUE(out.readAll().contains(QByteArray("--convert-to ") + c.format));
    }
}

// The real LibreOffice behind the window's own Open and Save.
class RealOfficeWindow : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        if (!SpreadsheetApp::available())
            GTEST_SKIP() << "LibreOffice (soffice) is not installed; scripts/install-deps "
                            "installs libreoffice-calc-nogui";
        Printers::setCountForTesting(1);
        MainWindowFixture::SetUp();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        Printers::setCountForTesting(-1);
    }
    // Clicks a file button and waits for the conversion it started, if any.
    bool clickAndWait(QToolButton *b)
    {
        auto *sheets = w->findChild<TSheetCommands *>();
        QSignalSpy done(sheets, &TSheetCommands::finished);
        QTest::mouseClick(b, Qt::LeftButton);
        if (!sheets->busy())
            return done.isEmpty() || done.at(0).at(0).toBool();
        return done.wait(180000) && done.at(0).at(0).toBool();
    }
    QTemporaryDir dir;
    FileSeams seams;
};

// What a file is by its bytes, whatever its name says.
std::string writtenAs(const QByteArray &bytes)
{
    if (bytes.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)))
        return "xls";
    if (bytes.startsWith("PK\x03\x04"))
        return bytes.left(100).contains("opendocument.spreadsheet") ? "ods" : "xlsx";
    return bytes.startsWith("Nr.\t") ? "text" : "other";
}

// Save proposes the file just loaded in its own format, and a name's own suffix wins over
// the entry: a workbook is never replaced by another kind of file.
TEST_F(RealOfficeWindow, SaveKeepsTheFormatOfTheFileOrOfItsName)
{
    // Workbooks as another program leaves them.
    auto starter = makeResults(4, {{"12", "Meier"}, {"7", "Schulz"}});
    for (const char *suffix : {"xls", "xlsx"}) {
        TSheetCommands out(*starter, nullptr);
        QSignalSpy done(&out, &TSheetCommands::finished);
        out.SaveProtocolSheet(dir.path() + "/start." + suffix);
        ASSERT_TRUE(done.wait(180000) && done.at(0).at(0).toBool()) << suffix;
    }
    QFile::rename(dir.path() + "/start.xls", dir.path() + "/liste.dat");
    const struct
    {
        const char *load; // loaded first under openEntry, then saved as the dialog proposes
        int openEntry;
        const char *save; // else saved under this name and entry
        int saveEntry;
        std::string written;
        int entryAfter;
    } cases[] = {
        {"start.xlsx", 3, nullptr, 0, "xlsx", 4},
        {"liste.dat", 1, nullptr, 0, "xls", 2}, // a workbook picked under the text entry
        {nullptr, 0, "x.ods", 1, "ods", 5},
        {nullptr, 0, "x.xlsx", 3, "xlsx", 4}, // the web page entry, but the name says xlsx
        {nullptr, 0, "x.dat", 1, "text", 1},
    };
    for (const auto &c : cases) {
        const QString target = dir.path() + "/" + (c.load ? c.load : c.save);
        SCOPED_TRACE(target.toStdString());
        if (c.load) {
            seams.choose(target, c.openEntry);
            ASSERT_TRUE(clickAndWait(w->sbOpen)) << seams.errors.join('\n').toStdString();
            EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "", "", "", ""}));
            seams.acceptProposal();
        } else {
            seams.choose(target, c.saveEntry);
        }
        ASSERT_TRUE(clickAndWait(w->sbSave)) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(seams.shown.back().fileName, c.load ? target : seams.shown.back().fileName);
        EXPECT_EQ(writtenAs(fileBytes(target)), c.written);
        EXPECT_EQ(w->FilterInd, c.entryAfter);
    }
    // The workbook saved over the one picked under the text entry still reads as it was.
    seams.choose(dir.path() + "/liste.dat", 1);
    ASSERT_TRUE(clickAndWait(w->sbOpen));
    EXPECT_EQ(row(res(), 2), (QStringList{"7", "Schulz", "", "", "", ""}));
    EXPECT_TRUE(seams.errors.isEmpty()) << seams.errors.join('\n').toStdString();
}
