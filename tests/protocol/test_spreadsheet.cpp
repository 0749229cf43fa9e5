// Spreadsheet exchange: .xlsx and .ods without LibreOffice; .xls and what our readers refuse
// through a stand-in that holds a conversion open as long as a test wants, and through the
// real LibreOffice (skipped with a reason where it is not installed).
#include "formats/SheetFormat.h"
#include "formats/Zip.h"
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
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString fixture(const char *name)
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
           QStringLiteral("/../formats/sheets/") + QString::fromUtf8(name);
}

// Runs one command of s to its end; true when it succeeded.
bool run(TSheetCommands &s, bool save, const QString &file, int waitMs = 30000)
{
    QSignalSpy done(&s, &TSheetCommands::finished);
    save ? s.SaveProtocolSheet(file) : s.LoadProtocolSheet(file);
    return (!done.isEmpty() || done.wait(waitMs)) && done.at(0).at(0).toBool();
}

std::vector<QStringList> rowsOf(const TSortGrid &g)
{
    std::vector<QStringList> out;
    for (int r = 0; r < g.RowCount(); ++r)
        out.push_back(gridRow(g, r));
    return out;
}

} // namespace

// No LibreOffice at all: .xlsx and .ods both ways, .xls read.
class NoOffice : public ::testing::Test
{
protected:
    void SetUp() override { SpreadsheetApp::setExecutableForTesting(QStringLiteral("-")); }
    void TearDown() override { SpreadsheetApp::setExecutableForTesting(QString()); }
    QTemporaryDir dir;
    FileSeams seams;
};

TEST_F(NoOffice, XlsxAndOdsComeBackAsTheTableWithTimesAsTimeValues)
{
    auto g = makeResults(3, {{"007", "Müller", "10:15:22,31", "", "0,5"},
                             {"12", "Łoś & <Söhne>", "", "10:16:01,02", "1e5"},
                             {"3", "10:15:22,31", "9:00:00", "", "TRUE"}});
    for (const char *suffix : {"xlsx", "ods"}) {
        SCOPED_TRACE(suffix);
        const QString file = dir.filePath(QStringLiteral("protokoll.") + QLatin1String(suffix));
        TSheetCommands out(*g, nullptr);
        out.applicationTitle = QStringLiteral("tornelo");
        quint64 savedRevision = 0;
        out.saved = [&](const QString &f, quint64 rev) {
            EXPECT_EQ(f, file);
            savedRevision = rev;
        };
        ASSERT_TRUE(run(out, true, file)) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(savedRevision, g->contentRevision());

        // The two times of day in time columns are time values in the file.
        const Zip::Archive zip(file);
        const QByteArray xml =
            zip.read(QLatin1String(suffix) == QLatin1String("ods") ? "content.xml"
                                                                   : "xl/worksheets/sheet1.xml",
                     1 << 24)
                .value_or(QByteArray());
        if (QLatin1String(suffix) == QLatin1String("ods")) {
            EXPECT_EQ(xml.count("office:value-type=\"time\""), 2);
        } else {
            EXPECT_EQ(QString::fromUtf8(xml).count(
                          QRegularExpression("<c r=\"[CD]\\d\" s=\"\\d+\"( t=\"n\")?><v>0\\.42")),
                      2)
                << xml.toStdString();
        }

        auto back = makeResults(3);
        TSheetCommands in(*back, nullptr);
        ASSERT_TRUE(run(in, false, file)) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(rowsOf(*back), rowsOf(*g));
    }
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(NoOffice, XlsIsReadButNotWritten)
{
    auto g = makeResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    std::vector<QString> notes;
    sheets.showBusy = [&](bool busy, const QString &s) {
        if (!busy)
            notes.push_back(s);
    };
    ASSERT_TRUE(run(sheets, false, fixture("texts-by-libreoffice.xls")));
    EXPECT_EQ(rowsOf(*g), (std::vector<QStringList>{{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"},
                                                    {"007", "Müller", "10:15:22,31", ""},
                                                    {"12", "Łoś & <Söhne>", "", "10:16:01,02"}}));
    EXPECT_EQ(notes.back(), QString());

    // Time values of an .xls come to the second only: the table says so in the status bar.
    ASSERT_TRUE(run(sheets, false, fixture("made-by-libreoffice.xls")));
    EXPECT_EQ(g->Cells(2, 1), "10:15:22");
    EXPECT_TRUE(notes.back().contains("nur auf die Sekunde")) << notes.back().toStdString();

    // Saving .xls says what is missing and writes nothing.
    const QString target = dir.filePath("neu.xls");
    EXPECT_FALSE(run(sheets, true, target));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].startsWith("Der Schreibfehler der Datei: " + target));
    EXPECT_TRUE(seams.errors[0].contains("libreoffice-calc-nogui"));
    EXPECT_FALSE(QFile::exists(target));

    // What freexl cannot open needs LibreOffice, and the box says so.
    EXPECT_FALSE(run(sheets, false, fixture("empty-text-by-libreoffice.xls")));
    ASSERT_EQ(seams.errors.size(), 2);
    EXPECT_TRUE(seams.errors[1].contains("nicht installiert"));
    EXPECT_EQ(g->Cells(2, 1), "10:15:22");
}

TEST_F(NoOffice, FailedSaveLeavesThePreviousFile)
{
    auto g = makeResults(2, {{"1", QString(40000, 'x')}});
    const QString target = dir.filePath("alt.xlsx");
    ASSERT_TRUE(writeBytes(target, "old"));
    TSheetCommands sheets(*g, nullptr);
    EXPECT_FALSE(run(sheets, true, target));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].contains("32.767")) << seams.errors[0].toStdString();
    EXPECT_EQ(fileBytes(target), "old");
}

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
    answer({{"Nr.", "Fahrer"}, {"12", "Meier"}, {"13", "Schulz"}});

    // Not a workbook our readers know: LibreOffice is asked for an .ods of it.
    const QString file = input("liste.xls");
    sheets.LoadProtocolSheet(file);
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_TRUE(busy[0].first);
    EXPECT_EQ(busy[0].second, "Tabelle wird gelesen: " + file);
    EXPECT_TRUE(sheets.busy());
    // A second command while one runs is not started.
    sheets.SaveProtocolSheet(dir.path() + "/x.xls");
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls().size() == 1; }, 10000));
    EXPECT_TRUE(calls()[0].contains("--convert-to ods ")) << calls()[0].toStdString();
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
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(FakeOffice, ApproximateXlsIsReadThroughTheOffice)
{
    auto g = makeResults(2);
    TSheetCommands sheets(*g, nullptr);
    answer({{"Nr.", "Fahrer", "Zeit 1"}, {"007", "Müller", "10:15:22,31"}});
    release();
    ASSERT_TRUE(run(sheets, false, fixture("made-by-libreoffice.xls")));
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"007", "Müller", "10:15:22,31", ""}));
    EXPECT_EQ(calls().size(), 1);
    // An .xls of texts needs no LibreOffice.
    ASSERT_TRUE(run(sheets, false, fixture("texts-by-libreoffice.xls")));
    EXPECT_EQ(calls().size(), 1);
    // When LibreOffice fails, what freexl read is taken, to the second.
    qputenv("ANSWER", QByteArray());
    ASSERT_TRUE(run(sheets, false, fixture("made-by-libreoffice.xls")));
    EXPECT_EQ(calls().size(), 2);
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"007", "Müller", "10:15:22", "09:05:03"}));
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(FakeOffice, FailuresNameTheFileAndLeaveTheTable)
{
    auto g = makeResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    const QString file = input("kaputt.xls");
    release();

    // Our reader's and LibreOffice's own words reach the box.
    EXPECT_FALSE(run(sheets, false, file));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].startsWith("Die Datei kann nicht gelesen werden: " + file));
    EXPECT_TRUE(seams.errors[0].contains("keine .xls-, .xlsx- oder .ods-Datei"));
    EXPECT_TRUE(seams.errors[0].contains("source file could not be loaded"));

    // A conversion that keeps fewer rows than it was given is a failure; the old file stays.
    auto big = makeResults(2, {{"1", "A"}, {"2", "B"}, {"3", "C"}, {"4", "D"}});
    TSheetCommands out(*big, nullptr);
    const QString target = dir.path() + "/alt.xls";
    ASSERT_TRUE(writeBytes(target, "old"));
    answerFile(fixture("texts-by-libreoffice.xls"));
    EXPECT_FALSE(run(out, true, target));
    ASSERT_EQ(seams.errors.size(), 2);
    EXPECT_TRUE(seams.errors[1].contains("nur 3 von 5 Zeilen")) << seams.errors[1].toStdString();
    // So is one that is no workbook at all.
    answerFile(input("nonsense.xls"));
    EXPECT_FALSE(run(out, true, target));
    ASSERT_EQ(seams.errors.size(), 3);
    EXPECT_TRUE(seams.errors[2].contains("keine lesbare .xls-Datei"));
    EXPECT_EQ(fileBytes(target), "old");

    // A folder is no file to read, nor a target to replace.
    sheets.LoadProtocolSheet(dir.path());
    sheets.SaveProtocolSheet(dir.path());
    EXPECT_EQ(seams.errors.size(), 5);
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"1", "Alt", "", ""}));
}

TEST_F(FakeOffice, TooManyRowsForXlsAreRefusedBeforeAnythingIsWritten)
{
    auto g = makeResults(2);
    g->setRowCount(65537);
    for (int r = 1; r < 65537; ++r)
        g->setCells(0, r, QString::number(r));
    TSheetCommands sheets(*g, nullptr);
    const QString target = dir.path() + "/gross.xls";
    EXPECT_FALSE(run(sheets, true, target));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].contains("65.537 Zeilen")) << seams.errors[0].toStdString();
    EXPECT_TRUE(seams.errors[0].contains("höchstens 65.536 Zeilen und 256 Spalten"));
    EXPECT_TRUE(calls().isEmpty());
    EXPECT_FALSE(QFile::exists(target));
    // One row fewer fits.
    g->setRowCount(65536);
    answerFile(fixture("texts-by-libreoffice.xls"));
    release();
    EXPECT_FALSE(run(sheets, true, target)); // the stand-in's sheet has 3 of 65,536 rows
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(FakeOffice, TimeLimitEndsTheApplication)
{
    auto g = makeResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    TestTimerFactory timers;
    sheets.application().setTimerFactory(timers.factory());
    QSignalSpy done(&sheets, &TSheetCommands::finished);
    const QString target = dir.path() + "/alt.xls";
    ASSERT_TRUE(writeBytes(target, "old"));

    sheets.SaveProtocolSheet(target);
    // The document is written first, off the UI thread; then LibreOffice starts.
    ASSERT_TRUE(QTest::qWaitFor([&] { return timers.made.size() == 1; }, 10000));
    EXPECT_EQ(timers.made[0]->interval(), SpreadsheetApp::TimeLimitMs);
    timers.made[0]->fire();
    ASSERT_EQ(done.size(), 1);
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].contains("nicht geantwortet"));
    EXPECT_EQ(fileBytes(target), "old");
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
    // LibreOffice's own XML of a workbook, read independently of our readers.
    QByteArray asFlatXml(const QString &file)
    {
        SpreadsheetApp office;
        const QString out = dir.path() + "/xml-" + QFileInfo(file).suffix();
        QDir().mkpath(out);
        SpreadsheetApp::Result result;
        bool finished = false;
        office.convert(file, "fods", out, [&](const SpreadsheetApp::Result &r) {
            result = r;
            finished = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 180000));
        EXPECT_TRUE(result.ok) << result.message.toStdString();
        return fileBytes(result.outputFile);
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
        ASSERT_TRUE(run(out, true, file, 180000)) << seams.errors.join('\n').toStdString();
        auto back = makeResults(3);
        TSheetCommands in(*back, nullptr);
        ASSERT_TRUE(run(in, false, file, 180000)) << seams.errors.join('\n').toStdString();
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
    for (const char *suffix : {"xls", "xlsx", "ods"}) {
        SCOPED_TRACE(suffix);
        const QString file = dir.path() + "/look." + suffix;
        ASSERT_TRUE(run(out, true, file, 180000)) << seams.errors.join('\n').toStdString();
        const QByteArray xml = asFlatXml(file);
        EXPECT_TRUE(xml.contains("<dc:creator>Quendra Software</dc:creator>") ||
                    xml.contains("<meta:initial-creator>Quendra Software</meta:initial-creator>"));
        EXPECT_TRUE(xml.contains("<dc:subject>Zeitnahme</dc:subject>"));
        EXPECT_TRUE(xml.contains("table:name=\"Zeitnahme\""));
        EXPECT_TRUE(xml.contains("style:print-orientation=\"landscape\""));
        EXPECT_TRUE(xml.contains("fo:font-weight=\"bold\""));
        EXPECT_TRUE(xml.contains("solid #000000"));
        if (QLatin1String(suffix) == QLatin1String("xls")) {
            // There the time stays a text: freexl would read it only to the second.
            EXPECT_TRUE(xml.contains("<text:p>10:15:22,31</text:p>"));
            EXPECT_FALSE(xml.contains("office:value-type=\"time\""));
        } else {
            // LibreOffice sees a time value and shows it as we wrote it.
            EXPECT_TRUE(
                xml.contains("office:value-type=\"time\" office:time-value=\"PT10H15M22.31S\""))
                << xml.toStdString();
            EXPECT_TRUE(xml.contains("<text:p>10:15:22,31</text:p>"));
        }
    }
}

// A user's .xls with time values: freexl has them to the second only, so LibreOffice
// reads it, to the hundredth.
TEST_F(RealOffice, XlsWithTimeValuesIsReadToTheHundredth)
{
    auto g = makeResults(6);
    TSheetCommands in(*g, nullptr);
    ASSERT_TRUE(run(in, false, fixture("made-by-libreoffice.xls"), 180000))
        << seams.errors.join('\n').toStdString();
    EXPECT_EQ(gridRow(*g, 1), (QStringList{"007", "Müller", "10:15:22,31", "09:05:03,50",
                                           "01.05.2024", "1234,50", "12,5%", "10:15:22,31"}));
    EXPECT_EQ(g->RowCount(), 3);
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

    answer({{"Nr.", "Fahrer"}, {"12", "Meier"}});
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
    answer({{"Nr.", "Fahrer"}, {"5", "Schulz"}});
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
    } cases[] = {{"a.xlsx", 4, "xlsx"}, {"b.ods", 5, "ods"}, {"c.xls", 2, "xls"},
                 {"d.ods", 2, "ods"},   {"e", 4, "xlsx"},    {"f", 2, "xls"}};
    // LibreOffice is started for .xls only.
    answerFile(fixture("texts-by-libreoffice.xls"));
    int started = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = dir.path() + "/" + c.name;
        seams.choose(target, c.entry);
        QTest::mouseClick(w->sbSave, Qt::LeftButton);
        ASSERT_TRUE(finished());
        EXPECT_TRUE(seams.errors.isEmpty()) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(SheetFormat::sheetFormatOf(QString(), fileBytes(target).left(100)), c.format);
        if (QLatin1String(c.format) == QLatin1String("xls"))
            ++started;
        ASSERT_EQ(calls().size(), started);
        if (started) {
            EXPECT_TRUE(calls().back().contains("--convert-to xls:MS Excel 97"));
        }
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
