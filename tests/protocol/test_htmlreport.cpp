#include "platform/Cp1252.h"
#include "platform/Shell.h"
#include "protocol/FileCommands.h"
#include "protocol/HtmlReport.h"
#include "tests/support/FileSeams.h"
#include "tests/support/ResultsGrid.h"

#include <QBuffer>
#include <QDir>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

QStringList pageLines(const TSortGrid &g, const QString &title = QStringLiteral("tornelo"))
{
    QString page = HtmlReport::pageText(g, title);
    EXPECT_TRUE(page.endsWith(QStringLiteral("</html>\r\n")));
    page.chop(2);
    return page.split(QStringLiteral("\r\n"));
}

TEST(HtmlPage, GoldenTwoCarsSecondWithoutTimes)
{
    auto g = makeResults(2, {{"12", "Meier", "10:15:22,31", "10:17:01,05"}, {"7", "Schulz"}});
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(HtmlReport::write(*g, QStringLiteral("Zeitnahme"), buf));
    EXPECT_EQ(buf.data(), fileBytes(goldenFile(__FILE__, "report_n2.html")));

    const QStringList l = pageLines(*g);
    EXPECT_EQ(l.filter(QRegularExpression("^<th>")).size(), 4);
    EXPECT_EQ(l.filter(QRegularExpression("^<tr><td>")).size(), 2);
}

TEST(HtmlPage, EveryDataRowBlankOrNotAndOneHeaderCellPerColumn)
{
    auto g = makeResults(4, {{"1", "A", "x"}, {}, {"3", "C"}});
    const QStringList l = pageLines(*g);
    EXPECT_EQ(l.filter(QRegularExpression("^<th>")),
              (QStringList{"<th>Nr.", "<th>Fahrer", "<th>Zeit 1", "<th>Zeit 2", "<th>Zeit 3",
                           "<th>Zeit 4"}));
    EXPECT_EQ(
        l.filter(QRegularExpression("^<tr><td>")),
        (QStringList{"<tr><td>1<td>A<td>x<td><td><td></tr>", "<tr><td><td><td><td><td><td></tr>",
                     "<tr><td>3<td>C<td><td><td><td></tr>"}));
}

TEST(HtmlPage, CellTextsAreEscapedAndKeepEveryCharacter)
{
    auto g = makeResults(
        1, {{"1", "A & B", "<script>alert(1)</script>"}, {"2", QStringLiteral("Łoś Müller € 😀")}});
    const QString title = QStringLiteral("Zeit\"nahme<");
    const QStringList l = pageLines(*g, title);
    EXPECT_TRUE(l.contains("<tr><td>1<td>A &amp; B<td>&lt;script&gt;alert(1)&lt;/script&gt;</tr>"));
    EXPECT_TRUE(l.contains(QStringLiteral("<tr><td>2<td>&#321;o&#347; Müller &#8364; "
                                          "&#128512;<td></tr>")));
    EXPECT_TRUE(l.contains("<TITLE>Quendra Zeitenprotokoll Zeit&quot;nahme&lt;</TITLE>"));
    EXPECT_TRUE(l.last().contains("title=\"Zeit&quot;nahme&lt;\""));

    // Single bytes as declared: Latin-1 stays one byte, nothing is lost.
    const QByteArray bytes = HtmlReport::pageBytes(*g, title);
    EXPECT_TRUE(bytes.contains("M\xFCller"));
    EXPECT_FALSE(bytes.contains('?'));

    // A reader of the page sees the texts as they stood in the table.
    QTextDocument doc;
    doc.setHtml(Cp1252::decodeText(bytes));
    const QString shown = doc.toPlainText();
    EXPECT_TRUE(shown.contains("A & B"));
    EXPECT_TRUE(shown.contains("<script>alert(1)</script>"));
    EXPECT_TRUE(shown.contains(QStringLiteral("Łoś Müller € 😀")));
}

TEST(HtmlPage, ApplicationTitleInTitleAndLink)
{
    auto g = makeResults(1, {{"1"}});
    const QStringList l = pageLines(*g, QStringLiteral("Zeitnahme"));
    EXPECT_EQ(l[3], "<TITLE>Quendra Zeitenprotokoll Zeitnahme</TITLE>");
    EXPECT_EQ(l[l.size() - 2], "</table>");
    EXPECT_TRUE(l.last().startsWith("</table><P align=right><A href="));
    EXPECT_TRUE(l.last().contains(" title=\"Zeitnahme\">"));
    EXPECT_TRUE(l.last().endsWith("</A></P></body></html>"));
}

TEST(HtmlPage, DeviceThatFailsIsReported)
{
    auto g = makeResults(1, {{"1"}});
    FailingDevice dev(100);
    dev.open(QIODevice::WriteOnly);
    EXPECT_FALSE(HtmlReport::write(*g, "t", dev));
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
    auto g = makeResults(
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
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ":" + oldPath);
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    writeBytes(dir.filePath("tornelo.html"), "<HTML>");
    Shell::open("tornelo.html");
    QDir::setCurrent(oldCwd);
    qputenv("PATH", oldPath);
    QByteArray opened;
    for (int i = 0; i < 500 && opened.isEmpty(); ++i) {
        QTest::qWait(10);
        opened = fileBytes(record).trimmed();
    }
    EXPECT_EQ(QUrl::fromEncoded(opened).toLocalFile(), dir.filePath("tornelo.html"));
}

} // namespace
