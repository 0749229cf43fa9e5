// The window's Open and Save, its viewer and printer page and its spreadsheets, end to end:
// the dialogs, the status bar, the buttons held while a file is read or written.
#include "platform/FileTypes.h"
#include "tests/support/WindowControls.h"
#include "platform/Printers.h"
#include "platform/Spreadsheet.h"
#include "protocol/FileCommands.h"
#include "protocol/SheetCommands.h"
#include "tests/support/FakeSoffice.h"
#include "tests/support/FileSeams.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/TextLoads.h"
#include "tests/support/core/Files.h"
#include "tests/support/core/PlainTables.h"

#include <QDir>
#include <QPrinter>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>

#include <csignal>
#include <sys/resource.h>

namespace {

// The main window working in a folder of its own (the page for viewer and printer is
// written into the working folder).
class FileWindow : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid());
        oldCwd = QDir::currentPath();
        QDir::setCurrent(work.path());
        Printers::setCountForTesting(1);
        // These are the cases without the spreadsheet application.
        SpreadsheetApp::setExecutableForTesting(QStringLiteral("-"));
        MainWindowFixture::SetUp();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        Printers::setCountForTesting(-1);
        SpreadsheetApp::setExecutableForTesting(QString());
        QDir::setCurrent(oldCwd);
    }
    QString path(const QString &n) const { return work.filePath(n); }
    void click(QToolButton *b)
    {
        ASSERT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    // Reads a text file as the window does and waits until it has been read.
    bool load(const QString &f)
    {
        return awaitTextLoad(*w->files, [&] { w->LoadProtocolText(f); });
    }
    // Open with the file chosen under the entry, until the file has been read.
    bool open(const QString &f, int entry)
    {
        seams.choose(f, entry);
        return awaitTextLoad(*w->files, [&] { click(ui(*w).sbOpen); });
    }
    bool fileButtons()
    {
        const bool on = ui(*w).sbSave->isEnabled();
        EXPECT_EQ(ui(*w).sbWeb->isEnabled(), on);
        EXPECT_EQ(ui(*w).sbCls->isEnabled(), on);
        EXPECT_EQ(ui(*w).sbPrint->isEnabled(), on);
        return on;
    }

    QTemporaryDir work;
    QString oldCwd;
    FileSeams seams;
};

TEST_F(FileWindow, DialogsAsTheProgramStarts)
{
    TFileTypeNames names;
    names.read();
    // Without LibreOffice every type is still offered: spreadsheets are our own work.
    EXPECT_FALSE(w->SpreadsheetAvailable());
    const QString sheets =
        "|" + names.sheetXlsx + " (*.xlsx)|*.xlsx|" + names.sheetOds + " (*.ods)|*.ods";
    EXPECT_EQ(ui(*w).OpenDialog1->Filter,
              names.text + " (*.txt)|*.txt|" + names.sheet + " (*.xls)|*.xls" + sheets);
    EXPECT_EQ(ui(*w).SaveDialog1->Filter, names.text + " (*.txt)|*.txt|" + names.sheet +
                                          " (*.xls)|*.xls|" + names.web + " (*.html)|*.html" +
                                          sheets);
    EXPECT_EQ(ui(*w).OpenDialog1->entryCount(), 4);
    EXPECT_EQ(ui(*w).SaveDialog1->entryCount(), 5);
    const QString exeDir = settings.dir.path() + "/bin";
    EXPECT_EQ(ui(*w).OpenDialog1->InitialDir, exeDir);
    EXPECT_EQ(ui(*w).SaveDialog1->InitialDir, exeDir);
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, "tornelo.txt");
    EXPECT_EQ(ui(*w).SaveDialog1->DefaultExt, "txt");
    EXPECT_EQ(ui(*w).OpenDialog1->DefaultExt, "txt");
    EXPECT_EQ(ui(*w).OpenDialog1->FilterIndex, 1);
    EXPECT_EQ(ui(*w).SaveDialog1->FilterIndex, 1);
    EXPECT_EQ(ui(*w).sbOpen->toolTip(), "Starterliste oder gespeichertes Protokoll laden");
    EXPECT_EQ(ui(*w).sbSave->toolTip(), QStringLiteral("Speichern unter…"));
    EXPECT_TRUE(ui(*w).sbOpen->isEnabled());
    EXPECT_FALSE(fileButtons());

    // Open shows its dialog; cancelled, nothing changes.
    click(ui(*w).sbOpen);
    ASSERT_EQ(seams.shown.size(), 1u);
    EXPECT_EQ(seams.shown[0].kind, TFileDialog::OpenKind);
    EXPECT_EQ(seams.shown[0].filter, ui(*w).OpenDialog1->Filter);
    EXPECT_TRUE(rowBlank(res(), 1));
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, "tornelo.txt");
}

TEST_F(FileWindow, LoadWorkSaveClearLoadAgain)
{
    const QString starter = path("starter.txt");
    writeBytes(starter, "Nr.\tFahrer\tZeit 1\tZeit 2\tZeit 3\tZeit 4\r\n12\tMeier\r\n");
    ASSERT_TRUE(open(starter, 1));
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "", "", "", ""}));
    EXPECT_TRUE(fileButtons());
    // The save dialog proposes the file just loaded, as text.
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, starter);
    EXPECT_EQ(ui(*w).SaveDialog1->FilterIndex, 1);

    // A time for car 12.
    key(Qt::Key_F4);
    zeit(10, 15, 22, 319);
    number(1, "12");
    pred().setRow(1);
    click(ui(*w).bInsert);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "10:15:22,31", "", "", ""}));

    const QString saved = path("protokoll.txt");
    seams.choose(saved, 1);
    click(ui(*w).sbSave);
    EXPECT_EQ(seams.shown.back().kind, TFileDialog::SaveKind);
    EXPECT_EQ(seams.shown.back().fileName, starter);
    EXPECT_EQ(fileBytes(saved), fileBytes(goldenFile("protocol_n4.txt")));

    // "Neu / Löschen", then load: the same table, empty cells now one blank.
    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    click(ui(*w).sbCls);
    EXPECT_TRUE(rowBlank(res(), 1));
    EXPECT_FALSE(fileButtons());
    ASSERT_TRUE(open(saved, 1));
    EXPECT_EQ(res().RowCount(), 2);
    EXPECT_EQ(row(res(), 0),
              (QStringList{"Nr.", "Fahrer", "Zeit 1", "Zeit 2", "Zeit 3", "Zeit 4"}));
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "10:15:22,31", " ", " ", " "}));
    EXPECT_EQ(res().Selection(), (TGridRect{0, 1, 5, 1}));
    EXPECT_TRUE(fileButtons());
    EXPECT_GE(res().ColWidths(1), 70);
    EXPECT_TRUE(seams.errors.isEmpty());
}

// A text file is read on a worker: meanwhile times are taken and numbered, the file
// buttons and the buttons that move times into the results protocol wait, the status bar
// says what is read, and the old table stays until the new one is whole.
TEST_F(FileWindow, WindowGoesOnWhileATextFileIsRead)
{
    writeBytes(path("alt.txt"), "Nr.;Fahrer\r\n7;Alt\r\n");
    ASSERT_TRUE(load(path("alt.txt")));
    key(Qt::Key_F4);
    zeit(10, 20, 0, 0);
    number(1, "7");
    const QString proposed = ui(*w).SaveDialog1->FileName;

    const QString starter = path("starter.txt");
    writeBytes(starter, "Nr.;Fahrer\r\n12;\"Meier; Sohn\"\r\n");
    TextReadGate gate(*w->files);
    QSignalSpy done(w->files, &TFileCommands::finished);
    seams.choose(starter, 1);
    click(ui(*w).sbOpen);
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(), "Textdatei wird gelesen: " + starter);
    EXPECT_EQ(w->cursor().shape(), Qt::BusyCursor);
    const QList<QToolButton *> held = {ui(*w).sbOpen, ui(*w).sbSave,  ui(*w).sbWeb,      ui(*w).sbPrint,
                                       ui(*w).sbCls,  ui(*w).bInsert, ui(*w).bInsertALL, ui(*w).bRestore};
    for (QToolButton *b : held)
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();

    zeit(10, 20, 5, 120);
    EXPECT_EQ(pred().Cells(1, 2), "10:20:05,12");
    number(2, "12");
    EXPECT_FALSE(ui(*w).bInsert->isEnabled());
    QCoreApplication::processEvents();
    EXPECT_EQ(row(res(), 1), (QStringList{"7", "Alt", "", "", "", ""}));
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, proposed);
    EXPECT_TRUE(done.isEmpty());

    gate.release();
    ASSERT_TRUE(done.wait(30000));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier; Sohn", "", "", "", ""}));
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(), "Geladen: starter.txt, 1 Fahrzeug");
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, starter);
    for (QToolButton *b : {ui(*w).sbOpen, ui(*w).sbSave, ui(*w).sbCls, ui(*w).bInsertALL})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    click(ui(*w).bInsertALL);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier; Sohn", "10:20:05,12", "", "", ""}));
    EXPECT_TRUE(seams.errors.isEmpty());

    // A file that is no text is refused; the table, the proposed name and the buttons are
    // as they were.
    const QString junk = path("bild.txt");
    writeBytes(junk, QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    ASSERT_FALSE(open(junk, 1));
    EXPECT_EQ(seams.errors, QStringList{"Die Datei kann nicht gelesen werden: " + junk +
                                        "\nbild.txt ist keine "
                                        "Textdatei."});
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier; Sohn", "10:20:05,12", "", "", ""}));
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, starter);
    EXPECT_TRUE(ui(*w).sbOpen->isEnabled());
    EXPECT_TRUE(ui(*w).sbSave->isEnabled());
}

TEST_F(FileWindow, ShorterFileReplacesTheWholeTable)
{
    const QString big = path("gross.txt");
    writeBytes(big, "Nr.;Fahrer\r\n1;A\r\n2;B\r\n3;C\r\n4;D\r\n");
    ASSERT_TRUE(load(big));
    EXPECT_EQ(res().RowCount(), 5);
    const QString small = path("klein.txt");
    writeBytes(small, "Nr.;Fahrer\r\n9;Z\r\n");
    ASSERT_TRUE(load(small));
    EXPECT_EQ(res().RowCount(), 2);
    EXPECT_EQ(row(res(), 1), (QStringList{"9", "Z", "", "", "", ""}));
    EXPECT_EQ(res().Row(), 1);
    // Insert of a new car adds exactly one fresh row.
    key(Qt::Key_F4);
    zeit(11, 0, 0, 0);
    number(1, "5");
    pred().setRow(1);
    click(ui(*w).bInsert);
    EXPECT_EQ(res().RowCount(), 3);
    EXPECT_EQ(row(res(), 2), (QStringList{"5", "", "11:00:00,00", "", "", ""}));
}

TEST_F(FileWindow, EmptyLinesOfAStarterListLeaveNoBlankCar)
{
    const QString starter = path("starter.txt");
    writeBytes(starter, "Nr.;Fahrer\r\n\r\n12;Meier\r\n;;\r\n13;Kunz\r\n");
    ASSERT_TRUE(load(starter));
    EXPECT_EQ(res().RowCount(), 3);
    key(Qt::Key_F4);
    zeit(10, 15, 22, 319);
    number(1, "12");
    pred().setRow(1);
    click(ui(*w).bInsert);
    seams.choose(starter, 1);
    click(ui(*w).sbSave);
    EXPECT_TRUE(fileBytes(starter).contains("12\tMeier\t10:15:22,31\t"));
    // A save that would give an empty file leaves the saved one as it is.
    res().setCells(0, 1, QString());
    EXPECT_FALSE(w->files->SaveProtocolText(starter));
    EXPECT_TRUE(seams.errors.value(0).startsWith("Nichts zu speichern"));
    EXPECT_TRUE(fileBytes(starter).contains("10:15:22,31"));
}

TEST_F(FileWindow, ProtocolWithMoreTimesRaisesTheTimeColumns)
{
    // One more than the setting (4) is the edge: Zeit 5 must not be dropped.
    for (const auto &[times, n, status] :
         {std::tuple(5, 5, "Zeitenanzahl auf 5 erhöht, damit alle Zeiten der Datei Platz haben."),
          std::tuple(6, 6, "Zeitenanzahl auf 6 erhöht, damit alle Zeiten der Datei Platz haben."),
          std::tuple(120, 100,
                     "Zeitenanzahl auf 100 erhöht, mehr geht nicht: die Zeiten ab "
                     "Zeit 101 wurden nicht geladen."),
          std::tuple(101, 100,
                     "Zeitenanzahl auf 100 erhöht, mehr geht nicht: die Zeiten ab "
                     "Zeit 101 wurden nicht geladen.")}) {
        QByteArray title = "Nr.\tFahrer\t", car = "12\tMeier\t";
        for (int k = 1; k <= times; ++k) {
            title += "Zeit " + QByteArray::number(k) + "\t";
            car += "10:00:" + QByteArray::number(k % 50 + 10) + ",00\t";
        }
        writeBytes(path("p.txt"), title + "\r\n" + car + "\r\n");
        ASSERT_TRUE(load(path("p.txt")));
        EXPECT_EQ(w->tables->CountRunden(), n);
        // Said with what the load did.
        EXPECT_EQ(ui(*w).StatusBar1->currentMessage(),
                  "Geladen: p.txt, 1 Fahrzeug. " + QString::fromUtf8(status));
        w->SaveProtocolText(path("wieder.txt"));
        EXPECT_EQ(fileBytes(path("wieder.txt")) == fileBytes(path("p.txt")), times == n);
    }
}

TEST_F(FileWindow, SaveAsWebPageKeepsTheChosenEntry)
{
    writeBytes(path("s.txt"), "Nr.;Fahrer\r\n7;A & B\r\n");
    ASSERT_TRUE(load(path("s.txt")));
    const QString page = path("seite.html");
    seams.choose(page, 3);
    click(ui(*w).sbSave);
    const QByteArray bytes = fileBytes(page);
    EXPECT_TRUE(bytes.startsWith("<HTML>\r\n"));
    EXPECT_TRUE(bytes.contains("<tr><td>7<td>A &amp; B<td><td><td><td></tr>\r\n"));
    EXPECT_EQ(w->FilterInd, 3);

    // The next Save starts with the web page selected; a cancel keeps everything.
    seams.cancel();
    click(ui(*w).sbSave);
    EXPECT_EQ(seams.shown.back().filterIndex, 3);
    EXPECT_EQ(w->FilterInd, 3);

    // The entry outlives the program.
    dlg.reset();
    w.reset();
    QSettings s(settings.file(), QSettings::NativeFormat);
    EXPECT_EQ(s.value("FilterInd").toInt(), 3);
    w = std::make_unique<TFormMain>(&clock);
    EXPECT_EQ(w->FilterInd, 3);
    EXPECT_EQ(ui(*w).SaveDialog1->FilterIndex, 3);
}

// Without LibreOffice, .xlsx and .ods go both ways; .xls is read, and saving it says what
// to install instead of writing something else.
TEST_F(FileWindow, SpreadsheetsWithoutLibreOffice)
{
    writeBytes(path("s.txt"), "Nr.;Fahrer\r\n7;A\r\n");
    ASSERT_TRUE(load(path("s.txt")));
    res().setCells(2, 1, "10:15:22,31");
    auto *sheets = w->findChild<TSheetCommands *>();
    for (const char *name : {"p.xlsx", "p.ods"}) {
        SCOPED_TRACE(name);
        QSignalSpy done(sheets, &TSheetCommands::finished);
        seams.choose(path(name), 1);
        click(ui(*w).sbSave);
        ASSERT_TRUE(done.wait(10000));
        EXPECT_TRUE(done.at(0).at(0).toBool()) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(w->FilterInd, QString(name).endsWith("xlsx") ? 4 : 5);
    }
    seams.choose(path("p.xls"), 2);
    click(ui(*w).sbSave);
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].contains("libreoffice-calc-nogui"));
    EXPECT_FALSE(QFile::exists(path("p.xls")));

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    click(ui(*w).sbCls);
    QSignalSpy done(sheets, &TSheetCommands::finished);
    seams.choose(path("p.ods"), 4);
    click(ui(*w).sbOpen);
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(row(res(), 1), (QStringList{"7", "A", "10:15:22,31", "", "", ""}));
    EXPECT_EQ(ui(*w).SaveDialog1->FileName, path("p.ods"));
    EXPECT_EQ(ui(*w).SaveDialog1->FilterIndex, 5);
}

TEST_F(FileWindow, UnreadableAndUnwritableFilesAreReported)
{
    writeBytes(path("s.txt"), "Nr.;Fahrer\r\n7;A\r\n");
    ASSERT_TRUE(load(path("s.txt")));
    const QString gone = path("weg.txt");
    seams.choose(gone, 1);
    click(ui(*w).sbOpen);
    EXPECT_EQ(seams.errors, QStringList{"Die Datei kann nicht gelesen werden: " + gone});
    EXPECT_EQ(row(res(), 1), (QStringList{"7", "A", "", "", "", ""}));

    const QString nowhere = path("weg/protokoll.txt");
    seams.choose(nowhere, 1);
    click(ui(*w).sbSave);
    EXPECT_EQ(seams.errors.last(), "Der Schreibfehler der Datei: " + nowhere +
                                       "\nDatei oder Gerät nicht gefunden. Die Datei wurde "
                                       "nicht geschrieben.");
}

TEST_F(FileWindow, WebButtonOpensThePageInTheViewer)
{
    writeBytes(path("s.txt"), "Nr.;Fahrer\r\n7;Meier\r\n");
    ASSERT_TRUE(load(path("s.txt")));
    click(ui(*w).sbWeb);
    ASSERT_EQ(seams.verbs.size(), 1);
    EXPECT_EQ(seams.verbs[0], qMakePair(QStringLiteral("open"), QStringLiteral("tornelo.html")));
    const QByteArray page = fileBytes(path("tornelo.html"));
    EXPECT_TRUE(page.contains("<TITLE>Quendra Zeitenprotokoll tornelo</TITLE>"));
    EXPECT_TRUE(page.contains("<tr><td>7<td>Meier"));
}

TEST_F(FileWindow, PageThatCannotBeWrittenStillShowsTheOldOne)
{
    writeBytes(path("s.txt"), "Nr.;Fahrer\r\n7;Meier\r\n");
    ASSERT_TRUE(load(path("s.txt")));
    ASSERT_TRUE(writeBytes(path("tornelo.html"), "alt"));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100; // smaller than the page
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    w->sbWebClick(ui(*w).sbWeb);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(seams.errors, QStringList{"Der Schreibfehler der Datei: tornelo.html\nDatei zu "
                                        "groß. Die Datei wurde nicht geschrieben."})
        << seams.errors.join('|').toStdString();
    EXPECT_EQ(fileBytes(path("tornelo.html")), QByteArray("alt"));
    EXPECT_EQ(seams.verbs.size(), 1);

    // Without any page, nothing is handed to the shell.
    QFile::remove(path("tornelo.html"));
    setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, SIG_IGN);
    w->sbWebClick(ui(*w).sbPrint);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(seams.verbs.size(), 1);
    EXPECT_EQ(seams.errors.size(), 2);
}

TEST_F(FileWindow, PrintButtonPrintsThePage)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) missing";
    writeBytes(path("s.txt"), QStringLiteral("Nr.;Fahrer\r\n12;Jürgen Łoś\r\n").toUtf8());
    ASSERT_TRUE(load(path("s.txt")));
    key(Qt::Key_F4);
    zeit(10, 15, 22, 310);
    number(1, "12");
    pred().setRow(1);
    click(ui(*w).bInsert);

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path("druck.pdf"));
    Shell::setPrinterForTesting(&printer);
    seams.passPrint = true;
    click(ui(*w).sbPrint);
    ASSERT_EQ(seams.verbs.size(), 1);
    EXPECT_EQ(seams.verbs[0].first, "print");

    QProcess p;
    p.start("pdftotext", {path("druck.pdf"), "-"});
    ASSERT_TRUE(p.waitForFinished(20000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(text.contains(QStringLiteral("Jürgen Łoś"))) << text.toStdString();
    EXPECT_TRUE(text.contains("10:15:22,31"));

    // A printer that refuses the page: the user is told.
    printer.setOutputFileName(path("fehlt/druck.pdf"));
    click(ui(*w).sbPrint);
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].startsWith("Die Seite wurde nicht gedruckt"))
        << seams.errors[0].toStdString();

    // No printer installed: the print button stays off.
    Printers::setCountForTesting(0);
    w->UpdateFileButtons();
    EXPECT_FALSE(ui(*w).sbPrint->isEnabled());
    EXPECT_TRUE(ui(*w).sbWeb->isEnabled());
}

} // namespace

namespace {
// Without the spreadsheet application a spreadsheet name is refused, never filled with
// text; a name's own suffix decides over the entry.
TEST_F(FileWindow, NameSuffixDecidesAndASheetNameWithoutTheApplicationWritesNothing)
{
    writeBytes(path("s.txt"), "Nr.;Fahrer\r\n7;A\r\n");
    ASSERT_TRUE(loadText(*w->files, path("s.txt")));
    seams.choose(path("x.xls"), 1);
    click(ui(*w).sbSave);
    EXPECT_FALSE(QFile::exists(path("x.xls")));
    ASSERT_EQ(seams.errors.size(), 1);
    EXPECT_TRUE(seams.errors[0].contains("LibreOffice")) << seams.errors[0].toStdString();

    seams.choose(path("y.txt"), 3); // the web page entry
    click(ui(*w).sbSave);
    EXPECT_TRUE(fileBytes(path("y.txt")).startsWith("Nr.\tFahrer\t"));
    EXPECT_EQ(w->FilterInd, 1);
    seams.choose(path("z.htm"), 1);
    click(ui(*w).sbSave);
    EXPECT_TRUE(fileBytes(path("z.htm")).startsWith("<HTML>"));
    EXPECT_EQ(w->FilterInd, 3); // the web page's entry, also without LibreOffice
}
} // namespace

namespace {

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
    EXPECT_EQ(ui(*w).OpenDialog1->entryCount(), 4);
    EXPECT_EQ(ui(*w).SaveDialog1->entryCount(), 5);
    key(Qt::Key_F4);
    zeit(10, 20, 0, 0);
    number(1, "7");

    answer({{"Nr.", "Fahrer"}, {"12", "Meier"}});
    seams.choose(input("liste.ods"), 4);
    QTest::mouseClick(ui(*w).sbOpen, Qt::LeftButton);
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(),
              "Tabelle wird gelesen: " + dir.path() + "/liste.ods");
    EXPECT_EQ(w->cursor().shape(), Qt::BusyCursor);
    for (QToolButton *b : {ui(*w).sbOpen, ui(*w).sbSave, ui(*w).sbWeb, ui(*w).sbCls, ui(*w).bInsert, ui(*w).bInsertALL})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();

    // Times are taken and numbered meanwhile; moving them waits for the new table.
    zeit(10, 20, 5, 120);
    EXPECT_EQ(pred().Cells(1, 2), "10:20:05,12");
    number(2, "12");
    EXPECT_FALSE(ui(*w).bInsert->isEnabled());

    ASSERT_TRUE(finished());
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "", "", "", ""}));
    EXPECT_EQ(ui(*w).StatusBar1->currentMessage(), "Geladen: liste.ods, 1 Fahrzeug");
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    for (QToolButton *b : {ui(*w).sbOpen, ui(*w).sbSave, ui(*w).sbCls, ui(*w).bInsertALL})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    QTest::mouseClick(ui(*w).bInsertALL, Qt::LeftButton);
    EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "10:20:05,12", "", "", ""}));
}

TEST_F(SheetWindow, SpreadsheetUnderTheTextEntryIsReadAsASheet)
{
    answer({{"Nr.", "Fahrer"}, {"5", "Schulz"}});
    const QByteArray ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0binary", 16);
    seams.choose(input("liste.txt", ole), 1);
    QTest::mouseClick(ui(*w).sbOpen, Qt::LeftButton);
    ASSERT_TRUE(finished());
    EXPECT_EQ(row(res(), 1), (QStringList{"5", "Schulz", "", "", "", ""}));
    EXPECT_TRUE(seams.errors.isEmpty());
}

TEST_F(SheetWindow, SaveTakesTheFormatOfTheEntryOrTheName)
{
    ui(*w).SortGrid1->setCells(0, 1, "1");
    w->UpdateFileButtons();
    const struct
    {
        const char *name;
        int entry;
        const char *format;
    } cases[] = {{"a.xlsx", 4, "xlsx"}, {"b.ods", 5, "ods"}, {"c.xls", 2, "xls"},
                 {"d.ods", 2, "ods"},   {"e", 4, "xlsx"},    {"f", 2, "xls"}};
    // LibreOffice is started for .xls only.
    answerFile(sheetFixture("texts-by-libreoffice.xls"));
    int started = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = dir.path() + "/" + c.name;
        seams.choose(target, c.entry);
        QTest::mouseClick(ui(*w).sbSave, Qt::LeftButton);
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
    auto starter = plainResults(4, {{"12", "Meier"}, {"7", "Schulz"}});
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
            ASSERT_TRUE(clickAndWait(ui(*w).sbOpen)) << seams.errors.join('\n').toStdString();
            EXPECT_EQ(row(res(), 1), (QStringList{"12", "Meier", "", "", "", ""}));
            seams.acceptProposal();
        } else {
            seams.choose(target, c.saveEntry);
        }
        ASSERT_TRUE(clickAndWait(ui(*w).sbSave)) << seams.errors.join('\n').toStdString();
        EXPECT_EQ(seams.shown.back().fileName, c.load ? target : seams.shown.back().fileName);
        EXPECT_EQ(writtenAs(fileBytes(target)), c.written);
        EXPECT_EQ(w->FilterInd, c.entryAfter);
    }
    // The workbook saved over the one picked under the text entry still reads as it was.
    seams.choose(dir.path() + "/liste.dat", 1);
    ASSERT_TRUE(clickAndWait(ui(*w).sbOpen));
    EXPECT_EQ(row(res(), 2), (QStringList{"7", "Schulz", "", "", "", ""}));
    EXPECT_TRUE(seams.errors.isEmpty()) << seams.errors.join('\n').toStdString();
}

} // namespace
