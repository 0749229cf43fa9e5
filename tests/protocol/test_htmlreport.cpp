#include "formats/Cp1252.h"
#include "formats/HtmlReport.h"
#include "platform/Shell.h"
#include "protocol/FileCommands.h"
#include "protocol/ProtocolTables.h"
#include "tests/support/FileSeams.h"
#include "tests/support/Guards.h"
#include "tests/support/core/Files.h"
#include "tests/support/core/PlainTables.h"

#include <QDir>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// A reader of the page sees the texts as they stood in the table.
TEST(HtmlPage, ShownTextsAreTheTableTexts)
{
    auto g = plainResults(
        1, {{"1", "A & B", "<script>alert(1)</script>"}, {"2", QStringLiteral("Łoś Müller € 😀")}});
    QTextDocument doc;
    doc.setHtml(Cp1252::decodeText(HtmlReport::pageBytes(TProtocolTables::snapshot(*g), "t")));
    const QString shown = doc.toPlainText();
    EXPECT_TRUE(shown.contains("A & B"));
    EXPECT_TRUE(shown.contains("<script>alert(1)</script>"));
    EXPECT_TRUE(shown.contains(QStringLiteral("Łoś Müller € 😀")));
}

QString pdfText(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(20000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(HtmlPrint, PrintedPageHoldsNamesAndTimes)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) missing";
    QTemporaryDir dir;
    FileSeams seams;
    auto g = plainResults(
        2, {{"12", "Meier", "10:15:22,31", "10:17:01,05"}, {"7", QStringLiteral("A & B Łoś")}});
    TFileCommands cmd(*g, nullptr);
    cmd.applicationTitle = QStringLiteral("Zeitnahme");
    const QString page = dir.filePath("seite.html");
    ASSERT_TRUE(cmd.WriteHtmlReport(page));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString pdf = dir.filePath("seite.pdf");
    printer.setOutputFileName(pdf);
    ASSERT_TRUE(Shell::printHtmlFile(page, printer));
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains("Ergebnisse")) << text.toStdString();
    EXPECT_TRUE(text.contains("Meier"));
    EXPECT_TRUE(text.contains("10:15:22,31"));
    EXPECT_TRUE(text.contains("10:17:01,05"));
    EXPECT_TRUE(text.contains(QStringLiteral("A & B Łoś")));

    // A page that is not there prints nothing.
    EXPECT_FALSE(Shell::printHtmlFile(dir.filePath("fehlt.html"), printer));
}

} // namespace

namespace {

// "open" reaches the system's viewer through xdg-open; a stand-in on the PATH records it.
TEST(HtmlOpen, ViewerGetsTheAbsolutePage)
{
    QTemporaryDir dir;
    const QString record = dir.filePath("geoeffnet");
    const QString script = dir.filePath("xdg-open");
    ASSERT_TRUE(writeBytes(script, ("#!/bin/sh\necho \"$1\" > '" + record + "'\n").toUtf8()));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        EnvGuard path("PATH", dir.path().toUtf8() + ":" + qgetenv("PATH"));
        CwdGuard cwd;
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        writeBytes(dir.filePath("tornelo.html"), "<HTML>");
        Shell::open("tornelo.html");
    }
    QByteArray opened;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            opened = fileBytes(record).trimmed();
            return !opened.isEmpty();
        },
        10000));
    EXPECT_EQ(QUrl::fromEncoded(opened).toLocalFile(), dir.filePath("tornelo.html"));
}

// Neither a browser nor xdg-open can be started: the user is told, and where the page lies.
TEST(HtmlOpen, NoViewerIsSaid)
{
    QTemporaryDir empty;
    const QString page = empty.filePath("tornelo.html");
    ASSERT_TRUE(writeBytes(page, "<HTML>"));
    EnvGuard path("PATH", empty.path().toUtf8());
    EnvGuard browser("BROWSER"), defaultBrowser("DEFAULT_BROWSER");
    qunsetenv("BROWSER");
    qunsetenv("DEFAULT_BROWSER");
    const QString said = Shell::open(page);
    EXPECT_TRUE(said.startsWith("Die Seite kann nicht angezeigt werden")) << said.toStdString();
    EXPECT_TRUE(said.endsWith(page)) << said.toStdString();
}

// A printer that refuses the page: said with its name.
TEST(HtmlPrint, APrinterThatFailsIsSaid)
{
    QTemporaryDir dir;
    const QString page = dir.filePath("tornelo.html");
    ASSERT_TRUE(writeBytes(page, "<HTML>x"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("fehlt/druck.pdf"));
    Shell::setPrinterForTesting(&printer);
    const QString said = Shell::print(page);
    Shell::setPrinterForTesting(nullptr);
    EXPECT_TRUE(said.startsWith("Die Seite wurde nicht gedruckt")) << said.toStdString();
}

} // namespace
