#include "app/FMain.h"
#include "tests/support/WindowControls.h"
#include "platform/AppInfo.h"
#include "platform/HelpLibrary.h"
#include "widgets/FInfo.h"
#include "widgets/HelpViewer.h"
#include "widgets/SPHTMLHelp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include <functional>

namespace {
// The help file the build compiled beside the executable.
QString builtBinDir()
{
    const QString env = qEnvironmentVariable("TORNELO_BIN_DIR");
    if (!env.isEmpty())
        return env;
    return QDir(QCoreApplication::applicationDirPath() + "/../bin").absolutePath();
}

QString builtHelpFile()
{
    return builtBinDir() + "/tornelo.chm";
}

QString sourceDir()
{
    const QString env = qEnvironmentVariable("TORNELO_SOURCE_DIR");
    return env.isEmpty() ? QDir(QStringLiteral(QT_TESTCASE_SOURCEDIR "/..")).absolutePath() : env;
}

struct Warning
{
    QString title, text;
};

// Every test starts without help loaded and with the warning recorded instead of shown.
class Help : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SPHTMLHelp::shutdown();
        SPHTMLHelp::setCurrentHelpFile(QString());
        SPHTMLHelp::setWarningHookForTesting([this](const QString &title, const QString &text) {
            warnings.push_back({title, text});
        });
    }
    void TearDown() override
    {
        SPHTMLHelp::shutdown();
        SPHTMLHelp::setWarningHookForTesting({});
        SPHTMLHelp::setCurrentHelpFile(QString());
        AppInfo::setExecutablePathForTesting(QString());
    }
    // Help as the program starts it, for an executable in the build's bin folder.
    void startWithBuiltHelp()
    {
        if (!QFile::exists(builtHelpFile()))
            GTEST_SKIP() << "no compiled help at " << builtHelpFile().toStdString()
                         << " (chmcmd missing?)";
        AppInfo::setExecutablePathForTesting(builtBinDir() + "/tornelo");
        ASSERT_TRUE(SPHTMLHelp::startup());
    }
    THelpViewer *onlyViewer()
    {
        const auto v = SPHTMLHelp::openViewers();
        return v.size() == 1 ? v.first() : nullptr;
    }

    std::vector<Warning> warnings;
};

void activate(QWidget &w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}
} // namespace

// ---- The help file's name ----

class HelpFileName : public ::testing::TestWithParam<std::pair<const char *, const char *>>
{
};

TEST_P(HelpFileName, ExtensionReplacedOrAppended)
{
    EXPECT_EQ(SPHTMLHelp::helpFileFor(GetParam().first), QString(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HelpFileName,
    ::testing::Values(std::pair{"/opt/zeit/tornelo", "/opt/zeit/tornelo.chm"},
                      std::pair{"/opt/zeit/tornelo.exe", "/opt/zeit/tornelo.chm"},
                      std::pair{"/opt/zeit/Tornelo.EXE", "/opt/zeit/Tornelo.chm"},
                      std::pair{"/opt/zeit.v2/tornelo", "/opt/zeit.v2/tornelo.chm"},
                      std::pair{"/opt/zeit/tornelo.1.7", "/opt/zeit/tornelo.1.chm"},
                      std::pair{"/opt/zeit/tornelo.", "/opt/zeit/tornelo.chm"},
                      std::pair{"/opt/zeit/.tornelo", "/opt/zeit/.tornelo.chm"},
                      std::pair{"tornelo", "tornelo.chm"},
                      std::pair{"/opt/zeit/tornelo.chm", "/opt/zeit/tornelo.chm"},
                      std::pair{"", ""}));

// ---- Sitemaps and pages ----

TEST(Sitemap, NestingNamesPagesAndOddMarkup)
{
    const QString hhc = R"(<HTML><BODY>
<OBJECT type="text/site properties"><param name="Window Styles" value="0x800025"></OBJECT>
<UL>
 <LI><OBJECT type="text/sitemap"><param name="Name" value="&Uuml;bersicht &amp; Start">
     <param name="Local" value="index.htm"><param name="Local" value="other.htm"></OBJECT>
 <UL>
  <li><object TYPE='text/sitemap'><PARAM NAME=Name VALUE='Tasten'><param name=local value=tasten.htm></object>
  <UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Tief"><param name="Local" value="tief.htm"></OBJECT></UL>
  <LI><OBJECT type="text/sitemap"><param name="Name" value="Kapitel ohne Seite"></OBJECT>
 </UL>
 <LI><OBJECT type="text/sitemap"><param name="Name" value="Offen"><param name="Local" value="offen.htm">
 <LI><OBJECT type="text/sitemap"><param name="Name" value="Letzte"><param name="Local" value="letzte.htm">
</UL></BODY></HTML>)";
    const QList<SitemapEntry> expected = {
        {QString::fromUtf8("Übersicht & Start"), "index.htm", 0},
        {"Tasten", "tasten.htm", 1},
        {"Tief", "tief.htm", 2},
        {"Kapitel ohne Seite", "", 1},
        {"Offen", "offen.htm", 0},
        {"Letzte", "letzte.htm", 0},
    };
    EXPECT_EQ(parseSitemap(hhc), expected);
    EXPECT_TRUE(parseSitemap("").isEmpty());
    EXPECT_TRUE(parseSitemap("</UL></UL><UL>kein Eintrag").isEmpty());
}

TEST(HelpPage, DecodedByItsDeclaredCharacterSet)
{
    const QString text = QString::fromUtf8("Größe");
    const QByteArray utf8 = "<html><head><meta charset=\"utf-8\"></head><body>" + text.toUtf8();
    EXPECT_TRUE(decodeHelpPage(utf8).contains(text));
    const QByteArray latin1 = "<html><head><meta http-equiv=\"Content-Type\" "
                              "content=\"text/html; charset=iso-8859-1\"></head><body>" +
                              text.toLatin1();
    EXPECT_TRUE(decodeHelpPage(latin1).contains(text));
    // Undeclared: UTF-8 when the bytes are valid UTF-8, else single-byte.
    EXPECT_EQ(decodeHelpPage(text.toUtf8()), text);
    EXPECT_EQ(decodeHelpPage(text.toLatin1()), text);
}

// ---- The library adapter ----

TEST(HelpLibrary, LoadsChmlibAndRefusesAMissingLibrary)
{
    HelpLibrary missing;
    EXPECT_FALSE(missing.load("libtornelo-no-such-help.so.0"));
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_FALSE(missing.errorString().isEmpty());
    // A library without the entry points is refused as a whole.
    HelpLibrary wrong;
    EXPECT_FALSE(wrong.load("libm.so.6"));
    EXPECT_EQ(wrong.chmOpen, nullptr);

    HelpLibrary lib;
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    EXPECT_NE(lib.chmOpen, nullptr);
    lib.unload();
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_EQ(lib.chmOpen, nullptr);
}

TEST(HelpLibrary, ReadsTheCompiledHelp)
{
    if (!QFile::exists(builtHelpFile()))
        GTEST_SKIP() << "no compiled help";
    HelpLibrary lib;
    ASSERT_TRUE(lib.load());
    ChmArchive chm(lib, builtHelpFile());
    ASSERT_TRUE(chm.isOpen());
    EXPECT_EQ(chm.contentsFile(), "/tornelo.hhc");
    EXPECT_EQ(chm.indexFile(), "/tornelo.hhk");
    EXPECT_EQ(chm.defaultTopic(), "/index.htm");
    EXPECT_EQ(chm.title(), "Tornelo Hilfe");
    QFile source(sourceDir() + "/docs/help/lichtschranke.htm");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(chm.read("/lichtschranke.htm"), source.readAll());
    EXPECT_TRUE(chm.read("/fehlt.htm").isEmpty());
    EXPECT_TRUE(chm.read("").isEmpty());
    EXPECT_TRUE(chm.read("/" + QString(600, 'x')).isEmpty());
    EXPECT_TRUE(chm.paths().contains("/tasten.htm"));

    ChmArchive none(lib, "/nonexistent/tornelo.chm");
    EXPECT_FALSE(none.isOpen());
    EXPECT_TRUE(none.read("/index.htm").isEmpty());
}

TEST(HelpLibrary, DamagedFilesAreNotOpened)
{
    if (!QFile::exists(builtHelpFile()))
        GTEST_SKIP() << "no compiled help";
    HelpLibrary lib;
    ASSERT_TRUE(lib.load());
    QTemporaryDir dir;
    QFile whole(builtHelpFile());
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const std::pair<const char *, QByteArray> cases[] = {
        {"empty.chm", QByteArray()},
        {"text.chm", QByteArray("Das ist keine Hilfedatei.\n")},
        {"head.chm", bytes.left(64)},
    };
    for (const auto &[name, content] : cases) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        ChmArchive chm(lib, f.fileName());
        EXPECT_FALSE(chm.isOpen()) << name;
        EXPECT_TRUE(chm.read("/index.htm").isEmpty()) << name;
    }
}

// ---- Start-up, the warning and the main window's triggers ----

TEST_F(Help, MissingLibraryWarnsOnceAndTheProgramWorksOn)
{
    EXPECT_FALSE(SPHTMLHelp::startup("libtornelo-no-such-help.so.0"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].title, "Warning!");
    EXPECT_EQ(warnings[0].text, "Unable to view HTML help (*.chm). Update windows help "
                                "system. Get new \"HHCTRL.OCX\" library.");
    EXPECT_FALSE(SPHTMLHelp::isLoaded());
    EXPECT_EQ(SPHTMLHelp::viewer(), nullptr);

    // The help file is there, but without the library no request does anything.
    AppInfo::setExecutablePathForTesting(builtBinDir() + "/tornelo");
    TFormMain w;
    activate(w);
    QTest::keyClick(&w, Qt::Key_F1);
    QTest::keyClick(&w, Qt::Key_H, Qt::AltModifier);
    QTest::mouseClick(ui(w).bHelp, Qt::LeftButton);
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
    EXPECT_EQ(HtmlHelp(&w, builtHelpFile(), HH_DISPLAY_TOC), nullptr);
    EXPECT_EQ(warnings.size(), 1u);

    // The rest of the program is unaffected: F4 starts the chronometer.
    EXPECT_FALSE(ui(w).mLAP->isEnabled());
    QTest::keyClick(&w, Qt::Key_F4);
    EXPECT_TRUE(ui(w).mLAP->isEnabled());
    QTest::keyClick(&w, Qt::Key_F9);
}

TEST_F(Help, TheWarningIsAMessageBoxWithExclamationAndOk)
{
    SPHTMLHelp::setWarningHookForTesting({});
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_FALSE(SPHTMLHelp::startup("libtornelo-no-such-help.so.0"));
    EXPECT_EQ(title, "Warning!");
    EXPECT_EQ(text, QString::fromLatin1(SPHTMLHelp::WarningText));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST_F(Help, LoadedLibraryGivesNoWarning)
{
    EXPECT_TRUE(SPHTMLHelp::startup());
    EXPECT_TRUE(warnings.empty());
    ASSERT_NE(SPHTMLHelp::viewer(), nullptr);
    EXPECT_EQ(SPHTMLHelp::viewer()->GetViewerName(), "HtmlHelp");
    EXPECT_EQ(SPHTMLHelp::viewer()->GetHelpStrings("Sperrzeit"),
              QStringList{"Sperrzeit: HtmlHelp"});
    SPHTMLHelp::shutdown();
    EXPECT_FALSE(SPHTMLHelp::isLoaded());
    EXPECT_EQ(SPHTMLHelp::viewer(), nullptr);
}

struct Trigger
{
    const char *name;
    std::function<void(TFormMain &)> fire;
};

class HelpTrigger : public Help, public ::testing::WithParamInterface<Trigger>
{
};

TEST_P(HelpTrigger, OpensTheContentsOfTheBuiltHelpAtTheFirstTopic)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    TFormMain w;
    activate(w);
    GetParam().fire(w);
    THelpViewer *v = onlyViewer();
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->isVisible());
    EXPECT_EQ(QFileInfo(v->helpFile()), QFileInfo(builtHelpFile()));
    EXPECT_EQ(v->currentTopic(), "/index.htm");
    EXPECT_EQ(v->Tabs->currentIndex(), 0);
    EXPECT_TRUE(v->Browser->toPlainText().contains(QString::fromUtf8("Tornelo – Übersicht")));
    ASSERT_EQ(v->Contents->topLevelItemCount(), 1);
    EXPECT_EQ(v->Contents->topLevelItem(0)->text(0), QString::fromUtf8("Tornelo – Übersicht"));
    EXPECT_EQ(v->Contents->topLevelItem(0)->childCount(), 6);
    EXPECT_EQ(v->Contents->currentItem(), v->Contents->topLevelItem(0));

    // A second request reuses the window.
    GetParam().fire(w);
    EXPECT_EQ(SPHTMLHelp::openViewers().size(), 1);
}

TEST_P(HelpTrigger, DoesNothingWithoutAHelpFileBesideTheExecutable)
{
    QTemporaryDir dir;
    AppInfo::setExecutablePathForTesting(dir.filePath("tornelo"));
    ASSERT_TRUE(SPHTMLHelp::startup());
    EXPECT_EQ(SPHTMLHelp::applicationHelpFile(), dir.filePath("tornelo.chm"));
    TFormMain w;
    activate(w);
    GetParam().fire(w);
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
    EXPECT_TRUE(warnings.empty());
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, HelpTrigger,
    ::testing::Values(
        Trigger{"F1", [](TFormMain &w) { QTest::keyClick(&w, Qt::Key_F1); }},
        Trigger{"AltH", [](TFormMain &w) { QTest::keyClick(&w, Qt::Key_H, Qt::AltModifier); }},
        Trigger{"Button", [](TFormMain &w) { QTest::mouseClick(ui(w).bHelp, Qt::LeftButton); }}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- The viewer's commands ----

TEST_F(Help, ViewerCommandsOnTheBuiltHelp)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    const QString file = builtHelpFile();

    THelpViewer *v = HtmlHelp(nullptr, file, HH_DISPLAY_TOPIC, "lichtschranke.htm");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->currentTopic(), "/lichtschranke.htm");
    EXPECT_EQ(v->Contents->currentItem()->text(0), QString::fromUtf8("Lichtschranke anschließen"));
    EXPECT_EQ(HtmlHelp(nullptr, file + "::/tasten.htm", HH_DISPLAY_TOPIC), v);
    EXPECT_EQ(v->currentTopic(), "/tasten.htm");
    HtmlHelp(nullptr, file, HH_DISPLAY_TOPIC, "/fehlt.htm");
    EXPECT_EQ(v->currentTopic(), "/index.htm");
    HtmlHelp(nullptr, file, HH_DISPLAY_TOPIC, "tasten.htm");
    HtmlHelp(nullptr, file, HH_DISPLAY_TOPIC, QString(3000, 'x') + ".htm");
    EXPECT_EQ(v->currentTopic(), "/index.htm");
    EXPECT_FALSE(v->showTopic(QString(3000, 'x')));
    EXPECT_FALSE(v->showTopic("/"));
    EXPECT_TRUE(v->showTopic("tasten.htm#maus"));
    EXPECT_EQ(v->currentTopic(), "/tasten.htm");

    HtmlHelp(nullptr, file, HH_DISPLAY_INDEX, "sperr");
    EXPECT_EQ(v->Tabs->currentIndex(), 1);
    EXPECT_EQ(v->IndexEdit->text(), "sperr");
    EXPECT_EQ(v->IndexList->currentItem()->text(), "Sperrzeit");
    EXPECT_EQ(v->currentTopic(), "/einstellungen.htm");
    HtmlHelp(nullptr, file, HH_DISPLAY_INDEX, "Quadratwurzel");
    EXPECT_EQ(v->currentTopic(), "/index.htm");

    HtmlHelp(nullptr, file, HH_HELP_CONTEXT, "1030");
    EXPECT_EQ(v->currentTopic(), "/lichtschranke.htm");
    HtmlHelp(nullptr, file, HH_HELP_CONTEXT, "1060");
    EXPECT_EQ(v->currentTopic(), "/einstellungen.htm");
    HtmlHelp(nullptr, file, HH_HELP_CONTEXT, "4242");
    EXPECT_EQ(v->currentTopic(), "/index.htm");

    HtmlHelp(nullptr, file, HH_DISPLAY_TOC);
    EXPECT_EQ(v->Tabs->currentIndex(), 0);
    EXPECT_EQ(SPHTMLHelp::openViewers().size(), 1);

    EXPECT_EQ(HtmlHelp(nullptr, QString(), HH_CLOSE_ALL), nullptr);
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
}

TEST_F(Help, RequestsForMissingOrBrokenFilesAreDropped)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    QTemporaryDir dir;
    QFile text(dir.filePath("text.chm"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("keine Hilfe");
    text.close();
    for (int cmd : {HH_DISPLAY_TOPIC, HH_DISPLAY_TOC, HH_DISPLAY_INDEX, HH_HELP_CONTEXT}) {
        EXPECT_EQ(HtmlHelp(nullptr, dir.filePath("fehlt.chm"), cmd, "1"), nullptr) << cmd;
        EXPECT_EQ(HtmlHelp(nullptr, dir.path(), cmd, "1"), nullptr) << cmd;
        EXPECT_EQ(HtmlHelp(nullptr, text.fileName(), cmd, "1"), nullptr) << cmd;
    }
    EXPECT_EQ(HtmlHelp(nullptr, builtHelpFile(), 7), nullptr); // a command we do not carry out
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Help, HelpFileOfARequestComesFromRequestManagerOrApplication)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    THTMLHelpViewer *hv = SPHTMLHelp::viewer();
    ASSERT_NE(hv, nullptr);
    EXPECT_EQ(hv->helpFile(QString()), builtHelpFile());
    SPHTMLHelp::setCurrentHelpFile("/anders/hilfe.chm");
    EXPECT_EQ(hv->helpFile(QString()), "/anders/hilfe.chm");
    EXPECT_EQ(hv->helpFile("/direkt.chm"), "/direkt.chm");

    // The manager's current file does not exist: the request is dropped.
    hv->ShowTableOfContents();
    hv->ShowHelp("Sperrzeit");
    hv->ShowContextHelp(1030);
    hv->DisplayTopic("tasten.htm");
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());

    // Named in the request, it is used.
    hv->DisplayTopic("tasten.htm", builtHelpFile());
    ASSERT_NE(onlyViewer(), nullptr);
    EXPECT_EQ(onlyViewer()->currentTopic(), "/tasten.htm");
    hv->ShowContextHelp(1050, builtHelpFile());
    EXPECT_EQ(onlyViewer()->currentTopic(), "/speichern.htm");
    hv->ShutDown();
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
}

// Every contents entry is shown whole, also with the large font of a desktop set up for
// reading at a distance.
TEST_F(Help, ContentsEntriesAreShownWhole)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPixelSize(20);
    QApplication::setFont(large);
    THelpViewer *v = HtmlHelp(nullptr, builtHelpFile(), HH_DISPLAY_TOC);
    ASSERT_NE(v, nullptr);
    activate(*v);
    int entries = 0;
    for (QTreeWidgetItemIterator it(v->Contents); *it; ++it, ++entries) {
        const QRect shown = v->Contents->visualItemRect(*it);
        const int text = v->Contents->fontMetrics().horizontalAdvance((*it)->text(0));
        EXPECT_LE(shown.left() + text, v->Contents->viewport()->width())
            << (*it)->text(0).toStdString();
    }
    EXPECT_EQ(entries, 7);
    v->close();
    QApplication::setFont(before);
}

TEST_F(Help, LinksContentsAndStylesWorkInTheViewer)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    THelpViewer *v = HtmlHelp(nullptr, builtHelpFile(), HH_DISPLAY_TOC);
    ASSERT_NE(v, nullptr);
    activate(*v);

    // The style sheet comes out of the archive: headings are maroon.
    const QTextBlock first = v->Browser->document()->firstBlock();
    EXPECT_EQ(first.charFormat().foreground().color(), QColor(0x80, 0, 0));

    // Tab to the first link of the page and follow it with Enter.
    v->Browser->setFocus();
    QTest::keyClick(v->Browser, Qt::Key_Tab, Qt::NoModifier);
    QTest::keyClick(v->Browser, Qt::Key_Return);
    EXPECT_EQ(v->currentTopic(), "/lichtschranke.htm");
    EXPECT_TRUE(v->Browser->toPlainText().contains("DTR (Pin 4)"));
    EXPECT_EQ(v->Contents->currentItem()->text(0), QString::fromUtf8("Lichtschranke anschließen"));

    // A click on a contents entry shows its page.
    QTreeWidgetItem *keys = v->Contents->topLevelItem(0)->child(0);
    ASSERT_EQ(keys->text(0), "Tasten");
    const QRect r = v->Contents->visualItemRect(keys);
    QTest::mouseClick(v->Contents->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    EXPECT_EQ(v->currentTopic(), "/tasten.htm");

    // Back and forward through the pages seen, with the contents following.
    EXPECT_TRUE(v->BackAction->isEnabled());
    EXPECT_FALSE(v->ForwardAction->isEnabled());
    v->BackAction->trigger();
    EXPECT_EQ(v->currentTopic(), "/lichtschranke.htm");
    EXPECT_EQ(v->Contents->currentItem()->text(0), QString::fromUtf8("Lichtschranke anschließen"));
    EXPECT_TRUE(v->ForwardAction->isEnabled());
    QTest::keyClick(v->Browser, Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(v->currentTopic(), "/tasten.htm");
    v->HomeAction->trigger();
    EXPECT_EQ(v->currentTopic(), "/index.htm");

    // Typing in the index selects the first keyword that starts with the text.
    v->Tabs->setCurrentIndex(1);
    v->IndexEdit->setFocus();
    QTest::keyClicks(v->IndexEdit, "tes");
    ASSERT_NE(v->IndexList->currentItem(), nullptr);
    EXPECT_EQ(v->IndexList->currentItem()->text(), "Test-Kontakt");
    QTest::keyClick(v->IndexEdit, Qt::Key_Return);
    EXPECT_EQ(v->currentTopic(), "/lichtschranke.htm");
}

TEST_F(Help, ShutDownClosesTheViewerAndLaterRequestsDoNothing)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    SPHTMLHelp::showTableOfContents();
    ASSERT_EQ(SPHTMLHelp::openViewers().size(), 1);
    QPointer<THelpViewer> window = SPHTMLHelp::openViewers().first();
    // The help window never keeps the program running on its own.
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
    SPHTMLHelp::shutdown();
    EXPECT_TRUE(window.isNull());
    EXPECT_FALSE(SPHTMLHelp::isLoaded());
    SPHTMLHelp::showTableOfContents();
    EXPECT_EQ(HtmlHelp(nullptr, builtHelpFile(), HH_DISPLAY_TOC), nullptr);
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
}

TEST_F(Help, ClosingTheWindowForgetsIt)
{
    startWithBuiltHelp();
    if (IsSkipped())
        return;
    THelpViewer *v = HtmlHelp(nullptr, builtHelpFile(), HH_DISPLAY_TOC);
    ASSERT_NE(v, nullptr);
    QPointer<THelpViewer> guard(v);
    v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_TRUE(SPHTMLHelp::openViewers().isEmpty());
    // The next request opens a new window.
    EXPECT_NE(HtmlHelp(nullptr, builtHelpFile(), HH_DISPLAY_TOC), nullptr);
}

// A help file without default topic, index or context map, with a picture in a sub-folder.
TEST_F(Help, PlainHelpFileFallsBackOnItsFirstContentsEntry)
{
    const QString chmcmd = QStandardPaths::findExecutable("chmcmd");
    if (chmcmd.isEmpty())
        GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("bilder"));
    auto write = [&dir](const QString &name, const QByteArray &content) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    };
    write("p.hhp", "[OPTIONS]\nCompiled file=p.chm\nContents file=p.hhc\nTitle=Probe\n\n"
                   "[FILES]\nerste.htm\nzweite.htm\nbilder/punkt.png\n");
    write("p.hhc", "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Kapitel\">"
                   "</OBJECT><UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" "
                   "value=\"Zweite\"><param name=\"Local\" value=\"zweite.htm\"></OBJECT>"
                   "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Erste\">"
                   "<param name=\"Local\" value=\"erste.htm\"></OBJECT></UL></UL>");
    write("erste.htm", "<html><body><p>Erste Seite</p></body></html>");
    write("zweite.htm", "<html><body><p>Zweite Seite</p>"
                        "<img src=\"bilder/punkt.png\" width=\"40\" height=\"40\"></body></html>");
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(dir.filePath("bilder/punkt.png")));
    QProcess compile;
    compile.setWorkingDirectory(dir.path());
    compile.start(chmcmd, {"--no-html-scan", "p.hhp"});
    ASSERT_TRUE(compile.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(dir.filePath("p.chm"))) << compile.readAll().toStdString();

    ASSERT_TRUE(SPHTMLHelp::startup());
    THelpViewer *v = HtmlHelp(nullptr, dir.filePath("p.chm"), HH_DISPLAY_TOC);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->windowTitle(), "Probe");
    // The heading has no page; the first entry with one is the first topic.
    EXPECT_EQ(v->currentTopic(), "/zweite.htm");
    EXPECT_EQ(v->IndexList->count(), 0);
    HtmlHelp(nullptr, dir.filePath("p.chm"), HH_DISPLAY_INDEX, "Erste");
    EXPECT_EQ(v->currentTopic(), "/zweite.htm");
    HtmlHelp(nullptr, dir.filePath("p.chm"), HH_HELP_CONTEXT, "1000");
    EXPECT_EQ(v->currentTopic(), "/zweite.htm");

    // The picture is read from the archive and drawn.
    activate(*v);
    const QImage shot = v->Browser->viewport()->grab().toImage();
    int reds = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            reds += QColor(shot.pixel(x, y)) == QColor(Qt::red);
    EXPECT_GE(reds, 30 * 30);

    // A file named in the request stays apart from the application's help.
    EXPECT_EQ(HtmlHelp(nullptr, dir.filePath("p.chm") + "::/erste.htm", HH_DISPLAY_TOPIC), v);
    EXPECT_EQ(v->currentTopic(), "/erste.htm");
}

// ---- The information box from the main window ----

TEST_F(Help, AltIOpensTheInformationBoxModallyAndEscapeClosesIt)
{
    TFormMain w;
    TFormInfo info(&w);
    activate(w);
    bool wasModal = false;
    QTimer::singleShot(0, &info, [&] {
        (void)QTest::qWaitForWindowExposed(&info);
        wasModal = info.isVisible() && info.isModal();
        QTest::keyClick(&info, Qt::Key_Escape);
    });
    QTest::keyClick(&w, Qt::Key_I, Qt::AltModifier);
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(info.isVisible());
}
