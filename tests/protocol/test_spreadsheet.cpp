// Spreadsheet exchange: .xlsx and .ods without LibreOffice; .xls and what our readers refuse
// through a stand-in that holds a conversion open as long as a test wants, and through the
// real LibreOffice (skipped with a reason where it is not installed). The commands work on
// plain tables here; the window while they run is tested in test_filewindow.cpp.
#include "formats/SheetFormat.h"
#include "formats/Zip.h"
#include "protocol/ProtocolTables.h"
#include "protocol/SheetCommands.h"
#include "tests/support/FakeSoffice.h"
#include "tests/support/FileSeams.h"
#include "tests/support/TestTimer.h"
#include "tests/support/core/Files.h"
#include "tests/support/core/PlainTables.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Runs one command of s to its end; true when it succeeded.
bool run(TSheetCommands &s, bool save, const QString &file, int waitMs = 30000)
{
    QSignalSpy done(&s, &TSheetCommands::finished);
    save ? s.SaveProtocolSheet(file) : s.LoadProtocolSheet(file);
    return (!done.isEmpty() || done.wait(waitMs)) && done.at(0).at(0).toBool();
}

std::vector<QStringList> rowsOf(const ITable &t)
{
    return TProtocolTables::snapshot(t).rows;
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
    auto g = plainResults(3, {{"007", "Müller", "10:15:22,31", "", "0,5"},
                              {"12", "Łoś & <Söhne>", "", "10:16:01,02", "1e5"},
                              {"3", "10:15:22,31", "9:00:00", "", "TRUE"}});
    for (const char *suffix : {"xlsx", "ods"}) {
        SCOPED_TRACE(suffix);
        const QString file = dir.filePath(QStringLiteral("protokoll.") + QLatin1String(suffix));
        TSheetCommands out(*g, nullptr);
        out.applicationTitle = QStringLiteral("tornelo");
        quint64 savedRevision = 0;
        QObject::connect(&out, &TSheetCommands::saved, [&](const QString &f, quint64 rev) {
            EXPECT_EQ(f, file);
            savedRevision = rev;
        });
        ASSERT_TRUE(run(out, true, file)) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(savedRevision, g->revision());

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

        auto back = plainResults(3);
        TSheetCommands in(*back, nullptr);
        ASSERT_TRUE(run(in, false, file)) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(rowsOf(*back), rowsOf(*g));
    }
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(NoOffice, XlsIsReadButNotWritten)
{
    auto g = plainResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    std::vector<QString> notes;
    QObject::connect(&sheets, &TSheetCommands::busyChanged, [&](bool busy, const QString &s) {
        if (!busy)
            notes.push_back(s);
    });
    ASSERT_TRUE(run(sheets, false, sheetFixture("texts-by-libreoffice.xls")));
    EXPECT_EQ(rowsOf(*g), (std::vector<QStringList>{{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"},
                                                    {"007", "Müller", "10:15:22,31", ""},
                                                    {"12", "Łoś & <Söhne>", "", "10:16:01,02"}}));
    EXPECT_EQ(notes.back(), QString());

    // Time values of an .xls come to the second only: the table says so in the status bar.
    ASSERT_TRUE(run(sheets, false, sheetFixture("made-by-libreoffice.xls")));
    EXPECT_EQ(g->cell(2, 1), "10:15:22");
    EXPECT_TRUE(notes.back().contains("nur auf die Sekunde")) << notes.back().toStdString();

    // Saving .xls says what is missing and writes nothing.
    const QString target = dir.filePath("neu.xls");
    EXPECT_FALSE(run(sheets, true, target));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].startsWith("Der Schreibfehler der Datei: " + target));
    EXPECT_TRUE(seams.errors[0].contains("libreoffice-calc-nogui"));
    EXPECT_FALSE(QFile::exists(target));

    // What freexl cannot open needs LibreOffice, and the box says so.
    EXPECT_FALSE(run(sheets, false, sheetFixture("empty-text-by-libreoffice.xls")));
    ASSERT_EQ(seams.errors.size(), 2);
    EXPECT_TRUE(seams.errors[1].contains("nicht installiert"));
    EXPECT_EQ(g->cell(2, 1), "10:15:22");
}

TEST_F(NoOffice, FailedSaveLeavesThePreviousFile)
{
    auto g = plainResults(2, {{"1", QString(40000, 'x')}});
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
    auto g = plainResults(2, {{"1", "Alt"}});
    TSheetCommands sheets(*g, nullptr);
    std::vector<std::pair<bool, QString>> busy;
    QObject::connect(&sheets, &TSheetCommands::busyChanged,
                     [&](bool b, const QString &s) { busy.emplace_back(b, s); });
    // A load is told once; the window then lays out its columns.
    int layouts = 0;
    QObject::connect(&sheets, &TSheetCommands::loaded, [&] { ++layouts; });
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
    EXPECT_EQ(tableRow(*g, 1), (QStringList{"1", "Alt", "", ""}));

    release();
    ASSERT_TRUE(done.wait(30000));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_EQ(g->rowCount(), 3);
    EXPECT_EQ(tableRow(*g, 0), (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}));
    EXPECT_EQ(tableRow(*g, 2), (QStringList{"13", "Schulz", "", ""}));
    EXPECT_EQ(g->currentRow(), 1);
    EXPECT_EQ(layouts, 1);
    ASSERT_EQ(busy.size(), 2u);
    EXPECT_FALSE(busy[1].first);
    EXPECT_TRUE(seams.errors.isEmpty());
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(FakeOffice, ApproximateXlsIsReadThroughTheOffice)
{
    auto g = plainResults(2);
    TSheetCommands sheets(*g, nullptr);
    answer({{"Nr.", "Fahrer", "Zeit 1"}, {"007", "Müller", "10:15:22,31"}});
    release();
    ASSERT_TRUE(run(sheets, false, sheetFixture("made-by-libreoffice.xls")));
    EXPECT_EQ(tableRow(*g, 1), (QStringList{"007", "Müller", "10:15:22,31", ""}));
    EXPECT_EQ(calls().size(), 1);
    // An .xls of texts needs no LibreOffice.
    ASSERT_TRUE(run(sheets, false, sheetFixture("texts-by-libreoffice.xls")));
    EXPECT_EQ(calls().size(), 1);
    // When LibreOffice fails, what freexl read is taken, to the second.
    qputenv("ANSWER", QByteArray());
    ASSERT_TRUE(run(sheets, false, sheetFixture("made-by-libreoffice.xls")));
    EXPECT_EQ(calls().size(), 2);
    EXPECT_EQ(tableRow(*g, 1), (QStringList{"007", "Müller", "10:15:22", "09:05:03"}));
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(FakeOffice, FailuresNameTheFileAndLeaveTheTable)
{
    auto g = plainResults(2, {{"1", "Alt"}});
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
    auto big = plainResults(2, {{"1", "A"}, {"2", "B"}, {"3", "C"}, {"4", "D"}});
    TSheetCommands out(*big, nullptr);
    const QString target = dir.path() + "/alt.xls";
    ASSERT_TRUE(writeBytes(target, "old"));
    answerFile(sheetFixture("texts-by-libreoffice.xls"));
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
    EXPECT_EQ(tableRow(*g, 1), (QStringList{"1", "Alt", "", ""}));
}

TEST_F(FakeOffice, TooManyRowsForXlsAreRefusedBeforeAnythingIsWritten)
{
    auto g = plainResults(2);
    g->setRowCount(65537);
    for (int r = 1; r < 65537; ++r)
        g->setCell(0, r, QString::number(r));
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
    answerFile(sheetFixture("texts-by-libreoffice.xls"));
    release();
    EXPECT_FALSE(run(sheets, true, target)); // the stand-in's sheet has 3 of 65,536 rows
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(FakeOffice, TimeLimitEndsTheApplication)
{
    auto g = plainResults(2, {{"1", "Alt"}});
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
    auto g = plainResults(3, {{"007", "Müller", "10:15:22,31", "", "0,5"},
                              {"12", "Łoś & <Söhne>", "", "10:16:01,02", "1e5"},
                              {"3", "", "9:00:00", "", "TRUE"}});
    const TableData before = TProtocolTables::snapshot(*g);
    for (const char *suffix : {"xls", "xlsx", "ods"}) {
        SCOPED_TRACE(suffix);
        const QString file = dir.path() + "/protokoll." + suffix;
        TSheetCommands out(*g, nullptr);
        out.applicationTitle = QStringLiteral("tornelo");
        ASSERT_TRUE(run(out, true, file, 180000)) << seams.errors.join('\n').toStdString();
        auto back = plainResults(3);
        TSheetCommands in(*back, nullptr);
        ASSERT_TRUE(run(in, false, file, 180000)) << seams.errors.join('\n').toStdString();
        ASSERT_EQ(back->rowCount(), g->rowCount());
        for (int r = 0; r < g->rowCount(); ++r)
            EXPECT_EQ(tableRow(*back, r), before.rows[size_t(r)]);
    }
}

TEST_F(RealOffice, WrittenWorkbookHasItsLookAndProperties)
{
    auto g = plainResults(2, {{"12", "Meier & <Söhne>", "10:15:22,31"}});
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
        EXPECT_TRUE(xml.contains("<text:p>Meier &amp; &lt;Söhne&gt;</text:p>"));
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
    auto g = plainResults(6);
    TSheetCommands in(*g, nullptr);
    ASSERT_TRUE(run(in, false, sheetFixture("made-by-libreoffice.xls"), 180000))
        << seams.errors.join('\n').toStdString();
    EXPECT_EQ(tableRow(*g, 1), (QStringList{"007", "Müller", "10:15:22,31", "09:05:03,50",
                                            "01.05.2024", "1234,50", "12,5%", "10:15:22,31"}));
    EXPECT_EQ(g->rowCount(), 3);
}
